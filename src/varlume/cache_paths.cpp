#include "varlume/cache_paths.h"

#include "foundation/folder_names.h"
#include "foundation/strings.h"
#include "varlume/settings.h"

namespace {

constexpr std::size_t kLongestPath = 4095;
constexpr char kMarkerName[] = "catchall.varlumepost";

bool isPlainHostFolder(const std::string& hostFolder) { return isPlainFolderSegment(hostFolder); }

}  // namespace

std::string cacheRootPath() {
  std::string root = basePath;
  ensureTrailingSlash(root);
  root += "Cache\\";
  return replaceAll("/", "\\", root);
}

std::string cacheHostFolderName(const std::string& host, int port) {
  std::string name = toLower(trim(host, true));
  const std::size_t colon = name.find(':');
  if (colon != std::string::npos) {
    // A page host names its own port.
    if (name.substr(colon) == ":80") name.erase(colon);
    return name;
  }
  if (port != 80) name += ":" + std::to_string(port);
  return name;
}

bool cacheFilePath(const std::string& hostFolder, const std::string& key, std::string& path) {
  path.clear();
  if (!isPlainHostFolder(hostFolder) || key.size() < 2 || key[0] != '/') return false;
  std::size_t start = 1;
  for (;;) {
    const std::size_t slash = key.find('/', start);
    const std::string segment = key.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!isPlainFolderSegment(segment)) return false;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::string file = cacheRootPath() + hostFolder + key;
  if (file.size() > kLongestPath) return false;
  path = replaceAll("/", "\\", file);
  return true;
}

bool postMarkerPath(const std::string& hostFolder, std::string& path) {
  path.clear();
  if (!isPlainHostFolder(hostFolder)) return false;
  path = cacheRootPath() + hostFolder + "\\" + kMarkerName;
  return true;
}
