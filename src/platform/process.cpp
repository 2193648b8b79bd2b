// Starting programs with posix_spawn; a detached waiter reaps each child.
#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/paths.h"

extern char** environ;

namespace platform {
namespace {

bool exists(const std::string& systemPath) {
  struct stat info;
  return ::lstat(systemPath.c_str(), &info) == 0;
}

void reap(pid_t child) {
  // With SIGCHLD ignored (the programs' entry) the kernel reaps the child and
  // this wait ends with ECHILD when the child ends.
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

class SpawnSettings {
 public:
  SpawnSettings() {
    okay_ = posix_spawnattr_init(&attributes_) == 0;
    if (!okay_) return;
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    okay_ = actionsReady_;
    if (!okay_) return;
    // The child starts with default signal handling and an empty mask, and
    // with nothing open beyond the standard three.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigset_t mask;
    sigemptyset(&mask);
    okay_ = posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
            posix_spawnattr_setsigmask(&attributes_, &mask) == 0 &&
            posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0 &&
            posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
  }
  ~SpawnSettings() {
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  bool okay() const { return okay_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
  bool okay_ = false;
  bool actionsReady_ = false;
};

}  // namespace

bool startProgram(const std::string& path) { return startProgram(path, nullptr); }

bool startProgram(const std::string& path, long* id) {
  if (id != nullptr) *id = 0;
  std::string program = toSystemPath(path);
  const std::string suffix = ".exe";
  if (program.size() > suffix.size() &&
      program.compare(program.size() - suffix.size(), suffix.size(), suffix) == 0 &&
      !exists(program)) {
    program.resize(program.size() - suffix.size());
  }
  if (program.empty()) return false;

  SpawnSettings settings;
  if (!settings.okay()) return false;
  char* arguments[] = {program.data(), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), settings.actions(), settings.attributes(), arguments,
                  environ) != 0) {
    return false;
  }
  if (id != nullptr) *id = static_cast<long>(child);
  try {
    std::thread(reap, child).detach();
  } catch (...) {
    // No waiter: the child is reaped by the program's SIGCHLD setting only.
  }
  return true;
}

void stopProgram(long id, int graceMs) {
  if (id <= 0) return;
  const pid_t child = static_cast<pid_t>(id);
  if (::kill(child, SIGTERM) != 0) return;
  // The child is reaped as soon as it ends (SIGCHLD ignored, or the waiter),
  // so a failing probe means it is gone.
  constexpr int kProbeMs = 10;
  for (int waited = 0; waited < graceMs; waited += kProbeMs) {
    if (::kill(child, 0) != 0) return;
    ::usleep(kProbeMs * 1000);
  }
  ::kill(child, SIGKILL);
}

}  // namespace platform
