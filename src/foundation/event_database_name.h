// The files the event service keeps in a site's folder: its database
// "EventDatabase.db" and every "EventDatabase.db-..." beside it (the
// journals SQLite plays into the database when it opens it), in any letter
// case, for a data root on a file system that ignores case. No page may
// create, write, rename or remove one of them by any road.
#pragma once
#include <string_view>

// True when the single name `leaf` (no separators) is one of them.
bool isEventDatabaseName(std::string_view leaf);
