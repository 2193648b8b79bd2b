// Which copy of a data file of the all-users folder a start reads. That
// folder may be shared by the users of one machine: a file there that
// another user may change (platform::othersMayChange) is never read; the
// shipped copy beside the programs (the same name in the working folder,
// where the default files come from) takes its place, after one warning
// line in the start-up log.
#pragma once
#include <string>

// True when another user may change `path`; for a missing file, its folder.
bool othersMayChangeCopy(const std::string& path);

// The shipped copy of `name`: the working folder + "\" + name ("\" form).
std::string shippedCopy(const std::string& name);

// The cache rule file `name` to read: allUsersFolder + name, or the shipped
// copy after the warning line.
std::string cacheRuleFileToRead(const std::string& allUsersFolder, const std::string& name);

// The browser script `name` to verify and run: allUsersFolder + name when
// neither it nor its ".sig" may be changed by another user; otherwise the
// shipped copy (with its own ".sig") after the warning line, or empty (the
// script is not run) when nothing of that name is shipped.
std::string browserScriptToRun(const std::string& allUsersFolder, const std::string& name);
