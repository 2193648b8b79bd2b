#include "varlume/default_files.h"

#include <string>

#include "platform/files.h"
#include "varlume/configuration.h"
#include "varlume/startup_folders.h"

namespace {

constexpr const char* kAllUsersFiles[] = {
    "varlume.config",   "IE.browser",       "Firefox.browser", "IE.browser.sig",
    "Firefox.browser.sig", "CacheDomains.txt", "CacheTypes.txt",
};
constexpr const char* kPortalFiles[] = {"varlumeportal.html"};
constexpr const char* kPortalImageFiles[] = {
    "sqlite.gif", "imagemagik.jpg", "varlumeLogoMedium.png", "flourish_one_vertical_01.png"};

// Makes `folder` when missing and copies each bare name missing there into it;
// with a `lockName`, under the lock on that file of the folder.
template <std::size_t N>
void installInto(const std::string& folder, const char* const (&names)[N],
                 const char* lockName = nullptr) {
  if (!platform::isDirectory(folder)) makeFolderPath(folder);
  platform::FileLock lock;
  if (lockName != nullptr) lock.lock(folder + lockName);
  for (const char* name : names) {
    std::string target = folder + name;
    if (!platform::isRegularFile(target)) platform::copyFileAtomic(name, target);
  }
}

}  // namespace

bool installDefaultFiles() {
  VLStartupFolders folders = workOutFolders();
  // The seed "varlume.config" must not land over the all-users file that a
  // first start of another user has just advanced.
  installInto(folders.allUsersFolder, kAllUsersFiles, kAllUsersLockName);
  installInto(folders.privilegedFolder, kPortalFiles);
  installInto(folders.privilegedFolder + "images\\", kPortalImageFiles);
  return true;
}
