// The real varlume for the proxy's system tests: started in a sandbox with a
// user configuration of free loopback ports (listening port, services base
// port, notification ports), waited for until it accepts connections, and
// killed by the destructor. Also a raw loopback client for exact bytes.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace proxytest {

class VLProxyProcess {
 public:
  VLProxyProcess() = default;
  ~VLProxyProcess();

  // Writes the user's varlume.config (services at servicesPort + offset)
  // and starts varlume with `arguments`; true once it accepts connections.
  bool start(sandbox::VLSandbox& box, int servicesPort, const std::vector<std::string>& arguments = {});
  // Further key=value pairs for the configuration the next start writes.
  void addConfiguration(const std::string& pairs) { extraConfiguration_ += "&" + pairs; }
  int port() const { return port_; }
  // The program's process id; -1 before a start.
  pid_t pid() const { return child_.pid(); }
  // The first port of the notification listeners' range, and the range.
  int internalPort() const { return internal_; }
  static int internalRange();
  // The program's resident memory in KB (0 when it cannot be read).
  long residentKb() const;
  // The user's temporary folder (system form, ending with "/").
  const std::string& tempFolder() const { return tempFolder_; }
  // The part files ("vl*.tmp") in the temporary folder.
  std::vector<std::string> partFiles() const;
  // The bytes those part files hold (one gone meanwhile counts nothing).
  std::uintmax_t partFileBytes() const;

 private:
  sandbox::VLChildProgram child_;
  int port_ = 0;
  int internal_ = 0;
  std::string tempFolder_;
  std::string extraConfiguration_;
};

// Passes once no part file is left in the proxy's temporary folder (within
// five seconds); the failure names the files left.
::testing::AssertionResult noPartFilesLeft(const VLProxyProcess& proxy);

// A base port p with p + each offset free, bound to nothing right now.
int freeServicesBase(const std::vector<int>& offsets);

// Connects to 127.0.0.1:port; -1 on failure.
int connectLoopback(int port);
// Sends all bytes; false on failure.
bool sendText(int socket, const std::string& text);
// Reads until `wanted` bytes arrived, the peer closed or timeoutMs passed.
std::string receiveUpTo(int socket, std::size_t wanted, int timeoutMs);
// One connection: sends `request` and reads as receiveUpTo does.
std::string exchange(int port, const std::string& request, std::size_t wanted, int timeoutMs);
void closeConnection(int socket);

}  // namespace proxytest
