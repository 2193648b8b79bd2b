// A folder on another file system than a given one, for tests of moves that
// cross file systems: a tmpfs mounted at `mountPoint` when the process may
// mount (root), else a fresh folder in /dev/shm when that is another file
// system; otherwise none, and `why` says so (the caller skips). A mounted
// tmpfs is unmounted when the object goes; a /dev/shm folder is removed.
#pragma once
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace testsupport {

class OtherFileSystem {
 public:
  // `mountPoint`: a folder to create and mount on; `than`: an existing path
  // whose file system the result must differ from.
  OtherFileSystem(const std::string& mountPoint, const std::string& than) {
    std::error_code ignored;
    std::filesystem::create_directories(mountPoint, ignored);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64m,mode=0755") == 0) {
      mounted_ = mountPoint;
      path_ = mountPoint;
      ::chown(mountPoint.c_str(), ::getuid(), ::getgid());
    } else {
      const std::string shm = "/dev/shm/vlother-" + std::to_string(::getpid()) + "-" +
                              std::to_string(reinterpret_cast<std::uintptr_t>(this));
      if (std::filesystem::create_directory(shm, ignored)) {
        path_ = shm;
        removable_ = shm;
      }
    }
    struct stat here, there;
    if (path_.empty() || ::stat(path_.c_str(), &there) != 0 || ::stat(than.c_str(), &here) != 0 ||
        here.st_dev == there.st_dev) {
      why_ = "no other file system than " + than + " can be had here (no tmpfs mount, /dev/shm the same)";
      path_.clear();
    }
  }
  ~OtherFileSystem() {
    std::error_code ignored;
    if (!mounted_.empty()) {
      // Whatever the test left on it goes with the mount.
      ::umount2(mounted_.c_str(), MNT_DETACH);
    }
    if (!removable_.empty()) std::filesystem::remove_all(removable_, ignored);
  }
  OtherFileSystem(const OtherFileSystem&) = delete;
  OtherFileSystem& operator=(const OtherFileSystem&) = delete;

  // The folder (system form); empty when there is none.
  const std::string& path() const { return path_; }
  const std::string& why() const { return why_; }

 private:
  std::string path_;
  std::string mounted_;
  std::string removable_;
  std::string why_;
};

}  // namespace testsupport
