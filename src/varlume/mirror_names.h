// Where a mirror request's body is saved: the data root, the page host in
// lower case, then the name from the request URL: the MIRRORAS= value of
// its query (letter case kept) or else its path, %XX-decoded once, "\" as
// "/", one leading "/" dropped; "/" alone, or a name ending in "/", gives
// "index.html" there. Host and name must be plain (foundation/folder_names.h),
// so nothing outside the page host's folder is ever named; nor is a file a
// service keeps there (a part named like the event database or one of its
// journals, foundation/event_database_name.h).
#pragma once
#include <string>

// The name as the URL gives it, before decoding.
std::string mirrorName(const std::string& url);
// False when the page host or the name is not plain, or the name is a
// service's file.
bool mirrorFilePath(const std::string& pageHost, const std::string& url, std::string& path);
