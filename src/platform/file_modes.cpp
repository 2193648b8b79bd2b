#include "platform/file_modes.h"

#include <sys/stat.h>

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

}  // namespace

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
