// The layout of the proxy's cache folder under the data root:
//   Cache\<host folder>\<key>                  a stored response
//   Cache\<host folder>\catchall.varlumepost   the POST marker (its time counts)
// The host folder is the Host value in lower case, with ":port" for a port
// other than 80. Paths are built in the programs' "\" form and never
// %XX-decoded. A host or key that could leave its folder is refused: the
// host folder must be one plain segment and every segment of the key plain
// (see foundation/folder_names.h); the request is then not cached.
#pragma once
#include <string>

// "Cache\" under the data root.
std::string cacheRootPath();
// The host folder's name for a Host value and target port; a ":80" or a
// port that is already part of `host` is kept as one ":port" (":80" dropped).
std::string cacheHostFolderName(const std::string& host, int port);
// The cache file of `key` ("/" + segments) in the host folder; false when
// the host folder name or the key is not plain, or the path is too long.
bool cacheFilePath(const std::string& hostFolder, const std::string& key, std::string& path);
// The POST marker of the host folder; false when the name is not plain.
bool postMarkerPath(const std::string& hostFolder, std::string& path);
