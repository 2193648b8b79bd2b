#include "varlume/all_users_copy.h"

#include "platform/file_modes.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "varlume/startup_log.h"

namespace {

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

}  // namespace

bool othersMayChangeCopy(const std::string& path) {
  if (platform::isRegularFile(path)) return platform::othersMayChange(path);
  return platform::othersMayChange(folderOf(path));
}

std::string shippedCopy(const std::string& name) {
  std::string folder = platform::workingFolder();
  if (folder.empty() || folder.back() != '\\') folder += "\\";
  return folder + name;
}

std::string cacheRuleFileToRead(const std::string& allUsersFolder, const std::string& name) {
  const std::string path = allUsersFolder + name;
  if (!platform::isRegularFile(path) || !othersMayChangeCopy(path)) return path;
  writeStartupLog("Warning: the cache rule file [" + path +
                  "] can be changed by other users: the shipped copy is read in its place. "
                  "Start-up goes on.");
  return shippedCopy(name);
}

std::string browserScriptToRun(const std::string& allUsersFolder, const std::string& name) {
  const std::string path = allUsersFolder + name;
  if (!othersMayChangeCopy(path) && !othersMayChangeCopy(path + ".sig")) return path;
  const std::string shipped = shippedCopy(name);
  if (platform::isRegularFile(shipped)) {
    writeStartupLog("Warning: the browser script [" + path +
                    "] can be changed by other users: the shipped copy runs in its place. "
                    "Start-up goes on.");
    return shipped;
  }
  writeStartupLog("Warning: the browser script [" + path +
                  "] can be changed by other users and is not shipped: it is not run. "
                  "Start-up goes on.");
  return std::string();
}
