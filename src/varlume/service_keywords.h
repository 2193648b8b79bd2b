// The host names that address the local service programs, and the offset of
// each one's port from the services base port.
#pragma once
#include <string>

// 0 FILE, 1 DB, 2 IMAGE, 3 EVENT, 4 SECURITY, 5 PLUGIN (the host trimmed of
// blanks, tabs, CR and LF, any case); -1 for every other host.
int serviceKeywordOffset(const std::string& host);
