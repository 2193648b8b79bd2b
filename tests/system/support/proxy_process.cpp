#include "support/proxy_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/sockets.h"

namespace proxytest {

namespace {

const std::string kProgram = VARLUME_PROGRAM_DIR "/varlume";
constexpr int kStartLimitMs = 20000;
constexpr int kInternalRange = 200;

// Free for a listener as the programs make them (with SO_REUSEADDR, so the
// closed connections that linger on a port do not count).
bool portIsFree(int port) {
  const int socket = platform::tcpSocket();
  if (socket < 0) return false;
  const bool free = platform::setReuseAddress(socket) &&
                    platform::bindSocket(socket, platform::kLoopbackAddress, port);
  platform::closeSocket(socket);
  return free;
}

}  // namespace

namespace {

// Below the system's ephemeral ports (32768 and up), which the outgoing
// connections of busy tests fill. Service ports and the proxies' notice
// ranges lie apart: a proxy of one test takes any port of its range, which
// must never be one that another test has just found free for a service.
constexpr int kServicePortsFrom = 20000;
constexpr int kNoticePortsFrom = 26000;
constexpr int kNoticePortsTo = 32400;

int freeBaseIn(const std::vector<int>& offsets, int from, int to) {
  std::random_device random;
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int base = from + static_cast<int>(random() % static_cast<unsigned>(to - from));
    bool all = true;
    for (int offset : offsets) all = all && base + offset < 65536 && portIsFree(base + offset);
    if (all) return base;
  }
  return -1;
}

}  // namespace

int freeServicesBase(const std::vector<int>& offsets) {
  return freeBaseIn(offsets, kServicePortsFrom, kNoticePortsFrom - 10);
}

VLProxyProcess::~VLProxyProcess() {
  if (child_.running()) child_.stop();
}

bool VLProxyProcess::start(sandbox::VLSandbox& box, int servicesPort,
                           const std::vector<std::string>& arguments) {
  const std::vector<int> ports = sandbox::freeLoopbackPorts(2);
  port_ = ports.at(0);
  const int internal = freeBaseIn({0, 1, 2, 3}, kNoticePortsFrom, kNoticePortsTo - kInternalRange);
  internal_ = internal;
  const sandbox::VLSandboxUser& user = box.user(0);
  tempFolder_ = user.localAppData + "/Varlume/Temp/";
  const std::string config = "varlume=" + std::to_string(port_) +
                             "&proxyport=0&proxyhost=&varlumeservices=" +
                             std::to_string(servicesPort) + "&varlumeinternal=" +
                             std::to_string(internal) + "&range=" +
                             std::to_string(kInternalRange) + extraConfiguration_ + "\r\n";
  if (!sandbox::writeFile(user.localAppData + "/Varlume/varlume.config", config)) return false;
  std::vector<std::string> all = {"-p", std::to_string(port_)};
  all.insert(all.end(), arguments.begin(), arguments.end());
  const std::string work = box.makeFolder("work");
  if (!child_.start(kProgram, all, work, box.environment(0), box.root() + "/proxy-output.txt")) {
    return false;
  }
  return sandbox::waitUntil(
      [&] {
        if (!child_.running()) return true;
        const int socket = connectLoopback(port_);
        if (socket < 0) return false;
        closeConnection(socket);
        return true;
      },
      kStartLimitMs) &&
         child_.running();
}

::testing::AssertionResult noPartFilesLeft(const VLProxyProcess& proxy) {
  // Parts an origin still sends after an answer was given up go as they are
  // announced: on a loaded machine that can take a while.
  if (sandbox::waitUntil([&] { return proxy.partFiles().empty(); }, 30000)) {
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "part files left:";
  for (const std::string& name : proxy.partFiles()) failure << " " << name;
  return failure;
}

std::uintmax_t VLProxyProcess::partFileBytes() const {
  std::uintmax_t bytes = 0;
  std::error_code error;
  for (const std::string& name : partFiles()) {
    const std::uintmax_t size = std::filesystem::file_size(tempFolder_ + name, error);
    if (!error) bytes += size;
  }
  return bytes;
}

std::vector<std::string> VLProxyProcess::partFiles() const {
  std::vector<std::string> names;
  for (const std::string& name : sandbox::folderNames(tempFolder_)) {
    if (name.rfind("vl", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp") {
      names.push_back(name);
    }
  }
  return names;
}

int connectLoopback(int port) {
  const int socket = platform::tcpSocket();
  if (socket < 0) return -1;
  if (!platform::connectSocket(socket, "127.0.0.1", port, 5)) {
    platform::closeSocket(socket);
    return -1;
  }
  return socket;
}

bool sendText(int socket, const std::string& text) {
  return platform::sendAll(socket, text.data(), text.size(), 20000);
}

std::string receiveUpTo(int socket, std::size_t wanted, int timeoutMs) {
  std::string data;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (data.size() < wanted) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    platform::PollEntry wait{socket, platform::kPollReadable, 0};
    if (platform::pollSockets(&wait, 1, static_cast<int>(left)) <= 0) break;
    char chunk[65536];
    const int got = platform::receiveBytes(socket, chunk, sizeof chunk);
    if (got <= 0) break;
    data.append(chunk, static_cast<std::size_t>(got));
  }
  return data;
}

std::string exchange(int port, const std::string& request, std::size_t wanted, int timeoutMs) {
  const int socket = connectLoopback(port);
  if (socket < 0) return "<no connection>";
  std::string answer;
  if (sendText(socket, request)) answer = receiveUpTo(socket, wanted, timeoutMs);
  closeConnection(socket);
  return answer;
}

void closeConnection(int socket) {
  platform::shutdownSocket(socket, platform::ShutdownHow::Both);
  platform::closeSocket(socket);
}

int VLProxyProcess::internalRange() { return kInternalRange; }

long VLProxyProcess::residentKb() const {
  std::ifstream status("/proc/" + std::to_string(child_.pid()) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

}  // namespace proxytest
