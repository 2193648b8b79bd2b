#include "support/sandbox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace sandbox {

namespace fs = std::filesystem;

VLSandbox::VLSandbox() {
  std::string pattern = (fs::temp_directory_path() / "varlume-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) root_ = buffer.data();
  common_ = makeFolder("common");
  programs_ = makeFolder("programs");
}

VLSandbox::~VLSandbox() {
  if (root_.empty()) return;
  std::error_code ignored;
  // Folders left read-only by a test must not stop the clean-up.
  for (auto it = fs::recursive_directory_iterator(root_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(root_, ignored);
}

std::string VLSandbox::makeFolder(const std::string& relative) {
  std::string path = root_ + "/" + relative;
  std::error_code ignored;
  fs::create_directories(path, ignored);
  return path;
}

const VLSandboxUser& VLSandbox::user(int index) {
  while (static_cast<int>(users_.size()) <= index) {
    std::string base = "user" + std::to_string(users_.size()) + "/";
    VLSandboxUser user;
    user.home = makeFolder(base + "home");
    user.documents = makeFolder(base + "documents");
    user.appData = makeFolder(base + "appdata");
    user.localAppData = makeFolder(base + "local");
    users_.push_back(user);
  }
  return users_[index];
}

std::vector<std::string> VLSandbox::environment(int index) {
  const VLSandboxUser& folders = user(index);
  std::vector<std::string> result;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text = *entry;
    if (text.rfind("HOME=", 0) == 0 || text.rfind("XDG_", 0) == 0 ||
        text.rfind("VARLUME_", 0) == 0) {
      continue;
    }
    result.push_back(text);
  }
  result.push_back("HOME=" + folders.home);
  result.push_back("VARLUME_DOCUMENTS_DIR=" + folders.documents);
  result.push_back("VARLUME_APPDATA_DIR=" + folders.appData);
  result.push_back("VARLUME_LOCAL_APPDATA_DIR=" + folders.localAppData);
  result.push_back("VARLUME_COMMON_APPDATA_DIR=" + common_);
  result.push_back("VARLUME_PROGRAM_FILES_DIR=" + programs_);
  return result;
}

VLChildProgram::~VLChildProgram() { stop(); }

bool VLChildProgram::start(const std::string& path, const std::vector<std::string>& arguments,
                           const std::string& workingFolder,
                           const std::vector<std::string>& environment,
                           const std::string& outputFile) {
  return spawn(path, arguments, workingFolder, environment, outputFile, std::string(), false);
}

bool VLChildProgram::startInGroup(const std::string& path, const std::vector<std::string>& arguments,
                                  const std::string& workingFolder,
                                  const std::vector<std::string>& environment,
                                  const std::string& outputFile, const std::string& errorFile) {
  return spawn(path, arguments, workingFolder, environment, outputFile, errorFile, true);
}

bool VLChildProgram::spawn(const std::string& path, const std::vector<std::string>& arguments,
                           const std::string& workingFolder,
                           const std::vector<std::string>& environment,
                           const std::string& outputFile, const std::string& errorFile,
                           bool ownGroup) {
  if (pid_ > 0) return false;
  std::vector<std::string> argumentTexts;
  argumentTexts.push_back(path);
  argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argumentTexts) argv.push_back(text.data());
  argv.push_back(nullptr);
  std::vector<std::string> environmentTexts = environment;
  std::vector<char*> envp;
  for (std::string& text : environmentTexts) envp.push_back(text.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (errorFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  for (const auto& [number, descriptor] : handed_) posix_spawn_file_actions_adddup2(&actions, descriptor, number);
  posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (ownGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  pid_t pid = -1;
  int error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return false;
  pid_ = pid;
  group_ = ownGroup ? pid : -1;
  return true;
}

bool VLChildProgram::waitForExit(int timeoutMs, int* exitStatus) {
  if (pid_ <= 0) {
    if (exitStatus != nullptr) *exitStatus = status_;
    return true;
  }
  bool ended = waitUntil([this] {
    int status = 0;
    pid_t result = waitpid(pid_, &status, WNOHANG);
    if (result == pid_ || (result < 0 && errno == ECHILD)) {
      status_ = (result == pid_ && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      return true;
    }
    return false;
  }, timeoutMs);
  if (ended && exitStatus != nullptr) *exitStatus = status_;
  return ended;
}

bool VLChildProgram::running() { return pid_ > 0 && !waitForExit(0); }

void VLChildProgram::stop() {
  if (group_ > 0) kill(-group_, SIGKILL);  // helpers may outlive the program
  group_ = -1;
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);  // SIGKILL cannot be caught: this returns
  pid_ = -1;
  status_ = -1;
}

std::vector<int> freeLoopbackPorts(int count) {
  std::vector<int> sockets;
  std::vector<int> ports;
  for (int i = 0; i < count; ++i) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) break;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      close(s);
      break;
    }
    sockets.push_back(s);
    ports.push_back(ntohs(address.sin_port));
  }
  for (int s : sockets) close(s);
  return ports;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::optional<std::string> readFile(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

bool writeFile(const std::string& path, const std::string& contents) {
  std::error_code ignored;
  fs::create_directories(fs::path(path).parent_path(), ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  return static_cast<bool>(out.flush());
}

bool shiftModificationTime(const std::string& path, long seconds) {
  std::error_code error;
  const fs::file_time_type time = fs::last_write_time(path, error);
  if (error) return false;
  fs::last_write_time(path, time + std::chrono::seconds(seconds), error);
  return !error;
}

long long modificationTime(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_mtime);
}

bool isFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

bool isFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

std::vector<std::string> folderNames(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = fs::directory_iterator(path, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string programsForm(const std::string& systemPath) {
  std::string result = systemPath;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

}  // namespace sandbox
