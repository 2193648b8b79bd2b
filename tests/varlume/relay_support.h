// Helpers of the relay and delivery tests: a scratch temporary folder set as
// the proxy's tempPath, a loopback listener whose connections are accepted
// with a bounded wait, and bounded reads of what a socket receives.
#pragma once
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/sockets.h"
#include "varlume/settings.h"

class VLRelayScratch {
 public:
  VLRelayScratch() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      root_ = std::filesystem::temp_directory_path() / ("vlrelay-" + std::to_string(random()));
      if (std::filesystem::create_directory(root_)) break;
    }
    tempPath = platform::fromSystemPath(root_.string()) + "\\";
  }
  ~VLRelayScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  VLRelayScratch(const VLRelayScratch&) = delete;
  VLRelayScratch& operator=(const VLRelayScratch&) = delete;

  std::string file(const std::string& name) const {
    std::ifstream in(root_ / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(root_ / name); }
  void write(const std::string& name, const std::string& contents) const {
    std::ofstream(root_ / name, std::ios::binary) << contents;
  }
  // Names of the files in the folder, sorted.
  std::vector<std::string> names() const {
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(root_)) all.push_back(e.path().filename().string());
    std::sort(all.begin(), all.end());
    return all;
  }

 private:
  std::filesystem::path root_;
};

// A listening socket on 127.0.0.1 at a free port.
class VLTestListener {
 public:
  VLTestListener() {
    socket_ = platform::tcpSocket();
    platform::bindSocket(socket_, platform::kLoopbackAddress, 0);
    platform::listenSocket(socket_, 16);
    port_ = platform::localPort(socket_);
  }
  ~VLTestListener() { platform::closeSocket(socket_); }
  VLTestListener(const VLTestListener&) = delete;
  VLTestListener& operator=(const VLTestListener&) = delete;

  int port() const { return port_; }
  platform::Socket socket() const { return socket_; }
  // The next connection, waiting at most 5 seconds; -1 when none came.
  platform::Socket accept() const {
    platform::PollEntry e{socket_, platform::kPollReadable, 0};
    if (platform::pollSockets(&e, 1, 5000) != 1) return platform::kInvalidSocket;
    return platform::acceptSocket(socket_);
  }

 private:
  platform::Socket socket_ = platform::kInvalidSocket;
  int port_ = 0;
};

// A connected pair of loopback sockets.
struct VLTestPair {
  platform::Socket near = platform::kInvalidSocket;
  platform::Socket far = platform::kInvalidSocket;
  VLTestPair() {
    VLTestListener listener;
    near = platform::tcpSocket();
    platform::connectSocket(near, "127.0.0.1", listener.port(), 5);
    far = listener.accept();
  }
  ~VLTestPair() {
    platform::closeSocket(near);
    platform::closeSocket(far);
  }
  VLTestPair(const VLTestPair&) = delete;
  VLTestPair& operator=(const VLTestPair&) = delete;
};

// Reads until `count` bytes arrived, the peer closed, or `ms` passed
// without a byte.
inline std::string receiveUpTo(platform::Socket s, std::size_t count, int ms = 5000) {
  std::string got;
  char buffer[65536];
  while (got.size() < count) {
    platform::PollEntry e{s, platform::kPollReadable, 0};
    if (platform::pollSockets(&e, 1, ms) != 1) break;
    std::size_t want = std::min(sizeof buffer, count - got.size());
    int n = platform::receiveBytes(s, buffer, want);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

inline void sendText(platform::Socket s, const std::string& text) {
  platform::sendAll(s, text.data(), text.size(), 5000);
}
