// A real service program (varlumeevent, varlumefile) for the system tests:
// started in a sandbox whose user configuration names a free services base
// port, with its standard output captured to a file, waited for until its
// port accepts connections, and killed by the destructor.
#pragma once
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace servicetest {

class VLServiceProcess {
 public:
  VLServiceProcess() = default;
  ~VLServiceProcess();
  VLServiceProcess(const VLServiceProcess&) = delete;
  VLServiceProcess& operator=(const VLServiceProcess&) = delete;

  // Writes user 0's varlume.config with `servicesBase` as varlumeservices
  // (unless `writeConfiguration` is false) and starts `program` (a name in
  // the program folder) with `arguments`. True once 127.0.0.1:listenPort
  // accepts connections (listenPort 0: only started, not waited for).
  bool start(sandbox::VLSandbox& box, const std::string& program, int servicesBase, int listenPort,
             const std::vector<std::string>& arguments = {}, bool writeConfiguration = true);
  // An environment entry "NAME=value" for the next start, in place of the
  // sandbox's own entry of that name.
  void overrideEnvironment(const std::string& entry) { overrides_.push_back(entry); }
  // The captured standard output and error so far.
  std::string output() const;
  bool running() { return child_.running(); }
  // True when the program ended within `timeoutMs`; its exit code or -1.
  bool waitForExit(int timeoutMs, int* exitStatus = nullptr) {
    return child_.waitForExit(timeoutMs, exitStatus);
  }
  void stop() { child_.stop(); }
  pid_t pid() const { return child_.pid(); }

 private:
  sandbox::VLChildProgram child_;
  std::string outputFile_;
  std::vector<std::string> overrides_;
};

// True when something accepts a connection on 127.0.0.1:port right now.
bool isListening(int port);

}  // namespace servicetest
