#include "support/service_process.h"

#include "support/proxy_process.h"

namespace servicetest {

namespace {
constexpr int kStartLimitMs = 20000;
}  // namespace

VLServiceProcess::~VLServiceProcess() {
  if (child_.running()) child_.stop();
}

bool VLServiceProcess::start(sandbox::VLSandbox& box, const std::string& program, int servicesBase,
                             int listenPort, const std::vector<std::string>& arguments,
                             bool writeConfiguration) {
  const sandbox::VLSandboxUser& user = box.user(0);
  if (writeConfiguration) {
    const std::string config = "varlume=8080&proxyport=0&proxyhost=&varlumeservices=" +
                               std::to_string(servicesBase) +
                               "&varlumeinternal=50000&range=500\r\n";
    if (!sandbox::writeFile(user.localAppData + "/Varlume/varlume.config", config)) return false;
  }
  const std::string work = box.makeFolder("work");
  outputFile_ = box.root() + "/" + program + "-output.txt";
  std::vector<std::string> environment = box.environment(0);
  for (const std::string& entry : overrides_) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(environment, [&](const std::string& e) { return e.compare(0, name.size(), name) == 0; });
    environment.push_back(entry);
  }
  if (!child_.start(VARLUME_PROGRAM_DIR "/" + program, arguments, work, environment, outputFile_)) {
    return false;
  }
  if (listenPort == 0) return true;
  return sandbox::waitUntil([&] { return !child_.running() || isListening(listenPort); },
                            kStartLimitMs) &&
         child_.running();
}

std::string VLServiceProcess::output() const {
  return sandbox::readFile(outputFile_).value_or(std::string());
}

bool isListening(int port) {
  const int socket = proxytest::connectLoopback(port);
  if (socket < 0) return false;
  proxytest::closeConnection(socket);
  return true;
}

}  // namespace servicetest
