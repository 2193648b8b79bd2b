// A site's event database ("EventDatabase.db" in a home folder) and its
// journals ("EventDatabase.db-...", foundation/event_database_name.h) belong
// to the event service: the file service never creates, writes, replaces,
// renames or removes anything of such a name (in any letter case) in a
// site's home, nor renames or removes a folder that holds one. Names are decoded, cleaned
// names relative to the home; folders are "\"-form system paths.
#pragma once
#include <string>

// True when a part of `name`, split at "/" and "\", is such a name.
bool namesEventDatabase(const std::string& name);
// True when an entry of that name lies anywhere below `folder` (links are
// never followed).
bool holdsEventDatabase(const std::string& folder);
// The reasons of a folder command refused because the folder holds one.
std::string holdsEventDatabaseText(const std::string& folder, const std::string& verb);
