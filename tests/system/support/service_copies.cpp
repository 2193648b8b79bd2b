#include "support/service_copies.h"

#include <signal.h>
#include <sys/types.h>

#include <filesystem>

namespace servicetest {

namespace {

namespace fs = std::filesystem;

// The processes whose program is `path`.
std::vector<pid_t> processesOf(const std::string& path) {
  std::vector<pid_t> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ignored;
    if (fs::read_symlink(entry.path() / "exe", ignored) == path) {
      found.push_back(static_cast<pid_t>(std::stol(name)));
    }
  }
  return found;
}

}  // namespace

bool VLServiceCopies::copy(sandbox::VLSandbox& box, const std::vector<std::string>& programs) {
  const std::string folder = box.programFiles() + "/Varlume";
  std::error_code error;
  fs::create_directories(folder, error);
  for (const std::string& program : programs) {
    const std::string target = folder + "/" + program;
    paths_.push_back(target);
    if (!fs::copy_file(std::string(VARLUME_PROGRAM_DIR) + "/" + program, target,
                       fs::copy_options::overwrite_existing, error)) {
      return false;
    }
  }
  return true;
}

bool VLServiceCopies::anyRunning() const {
  for (const std::string& path : paths_) {
    if (!processesOf(path).empty()) return true;
  }
  return false;
}

VLServiceCopies::~VLServiceCopies() {
  for (const std::string& path : paths_) {
    for (pid_t pid : processesOf(path)) ::kill(pid, SIGKILL);
  }
}

}  // namespace servicetest
