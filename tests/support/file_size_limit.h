// While it lives, regular files of this process cannot grow past a given
// size: writes beyond fail (EFBIG, SIGXFSZ ignored) as they do on a full disk.
#pragma once
#include <sys/resource.h>

#include <csignal>

namespace testsupport {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() { restore(); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // Lifts the limit before the end of the scope.
  void restore() {
    if (restored_) return;
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
    restored_ = true;
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
  bool restored_ = false;
};

}  // namespace testsupport
