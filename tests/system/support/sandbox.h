// System-test support: a temporary folder tree that stands in for the five
// well-known folders of one or more users, the environment that points a child
// program at it (nothing reaches the real home folders), free loopback ports,
// programs started in it and waited for with a time limit, and small file
// helpers. Paths here are system paths ("/").
#pragma once
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sandbox {

// The per-user folders of one sandbox user.
struct VLSandboxUser {
  std::string home;
  std::string documents;     // VARLUME_DOCUMENTS_DIR
  std::string appData;       // VARLUME_APPDATA_DIR
  std::string localAppData;  // VARLUME_LOCAL_APPDATA_DIR
};

// A fresh folder tree under the system's temporary folder, removed with all
// its contents by the destructor. All users share one common application-data
// folder and one program-files folder, as the users of one machine do.
class VLSandbox {
 public:
  VLSandbox();
  ~VLSandbox();
  VLSandbox(const VLSandbox&) = delete;
  VLSandbox& operator=(const VLSandbox&) = delete;

  const std::string& root() const { return root_; }
  const std::string& commonAppData() const { return common_; }  // VARLUME_COMMON_APPDATA_DIR
  const std::string& programFiles() const { return programs_; }  // VARLUME_PROGRAM_FILES_DIR
  // User `index` (0, 1, ...); its folders are made on first use.
  const VLSandboxUser& user(int index = 0);
  // The parent environment without HOME, XDG_* and VARLUME_* variables, plus
  // HOME and the five folder variables of user `index`.
  std::vector<std::string> environment(int index = 0);
  // Makes root/relative (with parents) and returns its path.
  std::string makeFolder(const std::string& relative);

 private:
  std::string root_;
  std::string common_;
  std::string programs_;
  std::vector<VLSandboxUser> users_;
};

// A program started by path in a working folder with a given environment; its
// standard output and error go to `outputFile`. The destructor kills a program
// that still runs and reaps it. Started in a group of its own, the program's
// helper processes are killed with it, also after the program itself ended.
class VLChildProgram {
 public:
  VLChildProgram() = default;
  ~VLChildProgram();
  VLChildProgram(const VLChildProgram&) = delete;
  VLChildProgram& operator=(const VLChildProgram&) = delete;

  bool start(const std::string& path, const std::vector<std::string>& arguments,
             const std::string& workingFolder, const std::vector<std::string>& environment,
             const std::string& outputFile = "/dev/null");
  // As start, in a process group of its own, with standard output and error
  // written anew to two files.
  bool startInGroup(const std::string& path, const std::vector<std::string>& arguments,
                    const std::string& workingFolder, const std::vector<std::string>& environment,
                    const std::string& outputFile, const std::string& errorFile);
  // True when the program ended within `timeoutMs`; `exitStatus` gets its exit
  // code, or -1 when a signal ended it.
  bool waitForExit(int timeoutMs, int* exitStatus = nullptr);
  bool running();
  // Kills the program (SIGKILL), and its group for startInGroup, and reaps it.
  void stop();
  // Descriptors the next start hands to the program: (the program's number,
  // the caller's descriptor) pairs; the caller's numbers must lie above every
  // number the program gets.
  void handOn(std::vector<std::pair<int, int>> descriptors) { handed_ = std::move(descriptors); }
  // The program's process id; -1 before a start.
  pid_t pid() const { return pid_; }

 private:
  // errorFile empty: standard error goes with the output, which is appended to.
  bool spawn(const std::string& path, const std::vector<std::string>& arguments,
             const std::string& workingFolder, const std::vector<std::string>& environment,
             const std::string& outputFile, const std::string& errorFile, bool ownGroup);

  std::vector<std::pair<int, int>> handed_;
  pid_t pid_ = -1;
  pid_t group_ = -1;  // the program's own process group; -1 when none
  int status_ = 0;
};

// Ports on 127.0.0.1 that nobody listened on a moment ago, all distinct.
std::vector<int> freeLoopbackPorts(int count);

// Polls `condition` every few milliseconds until it holds or `timeoutMs` passed.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// Whole-file helpers. readFile is empty when the file cannot be read.
std::optional<std::string> readFile(const std::string& path);
// Writes the bytes, making missing parent folders.
bool writeFile(const std::string& path, const std::string& contents);
bool isFile(const std::string& path);
// Moves a file's modification time by `seconds` (negative: into the past).
bool shiftModificationTime(const std::string& path, long seconds);
// A file's modification time in seconds since 1970; -1 when it has none.
long long modificationTime(const std::string& path);
bool isFolder(const std::string& path);
// Names in a folder, sorted; empty when it cannot be read.
std::vector<std::string> folderNames(const std::string& path);

// A system path in the programs' form ("/" turned into "\").
std::string programsForm(const std::string& systemPath);

}  // namespace sandbox
