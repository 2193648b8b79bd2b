#include "platform/file_modes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

#include "platform/paths.h"

namespace platform {
namespace {

constexpr mode_t kPrivateMask = 077;

struct ModeState {
  std::mutex mutex;
  mode_t startedWith = 022;
  bool privateNow = false;
  std::string sharedFolder;  // system form, ending with "/"; empty: none
};

ModeState& modeState() {
  static ModeState* state = new ModeState();  // outlives detached threads
  return *state;
}

// Whether another user may change the absolute system path `system` or a
// folder on its way up to "/", links not followed.
bool chainChangeable(std::string system) {
  const uid_t self = ::geteuid();
  bool target = true;
  for (;;) {
    struct stat info;
    if (::lstat(system.c_str(), &info) != 0) return true;
    if (info.st_uid != self && info.st_uid != 0) return true;
    if (!S_ISLNK(info.st_mode) && (info.st_mode & 022) != 0) {
      const bool stickyFolder = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
      if (target || !stickyFolder) return true;
    }
    if (system == "/") return false;
    const std::size_t slash = system.rfind('/');
    system = slash == 0 ? std::string("/") : system.substr(0, slash);
    target = false;
  }
}

// The path as an absolute system path without repeated or final "/".
std::string absoluteSystemPath(const std::string& path) {
  std::string given = toSystemPath(path);
  if (given.empty() || given[0] != '/') {
    char folder[PATH_MAX];
    if (::getcwd(folder, sizeof folder) == nullptr) return std::string();
    given = std::string(folder) + "/" + given;
  }
  std::string result;
  for (const char c : given) {
    if (c == '/' && !result.empty() && result.back() == '/') continue;
    result.push_back(c);
  }
  if (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace

bool othersMayChange(const std::string& path) {
  const std::string absolute = absoluteSystemPath(path);
  if (absolute.empty() || chainChangeable(absolute)) return true;
  char* resolved = ::realpath(absolute.c_str(), nullptr);
  if (resolved == nullptr) return true;
  const bool changeable = chainChangeable(resolved);
  std::free(resolved);
  return changeable;
}

void makeNewFilesPrivate() {
  ModeState& state = modeState();
  std::lock_guard<std::mutex> lock(state.mutex);
  const mode_t before = ::umask(kPrivateMask);
  if (!state.privateNow) state.startedWith = before;
  state.privateNow = true;
}

void shareNewFilesUnder(const std::string& folder) {
  std::string system = toSystemPath(folder);
  while (system.size() > 1 && system.back() == '/') system.pop_back();
  ModeState& state = modeState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.sharedFolder = system.empty() ? std::string() : system + "/";
}

int sharedModeFor(const std::string& systemPath, bool folder) {
  ModeState& state = modeState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.privateNow || state.sharedFolder.empty()) return -1;
  // The shared folder itself and everything below it.
  const std::string& shared = state.sharedFolder;
  const bool inside = systemPath.compare(0, shared.size(), shared) == 0 ||
                      systemPath == shared.substr(0, shared.size() - 1);
  if (!inside) return -1;
  return static_cast<int>((folder ? 0755 : 0666) & ~state.startedWith);
}

bool makeFolderPrivate(const std::string& path) {
  const std::string system = toSystemPath(path);
  struct stat info;
  if (::stat(system.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  const mode_t mode = info.st_mode & 07777;
  if ((mode & kPrivateMask) == 0) return true;
  return ::chmod(system.c_str(), mode & ~kPrivateMask) == 0;
}

}  // namespace platform
