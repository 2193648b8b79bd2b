#include "support/loopback_client.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/clock.h"

namespace testsupport {
namespace {

std::int64_t deadlineIn(int ms) { return platform::monotonicMilliseconds() + ms; }

int remaining(std::int64_t deadline) {
  std::int64_t left = deadline - platform::monotonicMilliseconds();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

LoopbackClient::LoopbackClient(int port) {
  std::int64_t deadline = deadlineIn(5000);
  while (remaining(deadline) > 0) {
    platform::Socket candidate = platform::tcpSocket();
    if (platform::connectSocket(candidate, "127.0.0.1", port, 2)) {
      socket_ = candidate;
      return;
    }
    platform::closeSocket(candidate);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

LoopbackClient::~LoopbackClient() { close(); }

void LoopbackClient::close() {
  if (socket_ != platform::kInvalidSocket) platform::closeSocket(socket_);
  socket_ = platform::kInvalidSocket;
}

bool LoopbackClient::send(const std::string& bytes) {
  return connected() && platform::sendAll(socket_, bytes.data(), bytes.size(), 5000);
}

bool LoopbackClient::receiveMore(std::int64_t deadline, bool* closed) {
  if (closed != nullptr) *closed = false;
  if (!connected()) return false;
  platform::PollEntry entry{socket_, platform::kPollReadable, 0};
  int ready = platform::pollSockets(&entry, 1, remaining(deadline));
  if (ready <= 0) return false;
  char buffer[65536];
  int got = platform::receiveBytes(socket_, buffer, sizeof buffer);
  if (got <= 0) {
    if (closed != nullptr) *closed = true;  // an orderly close or a reset
    return false;
  }
  pending_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

bool LoopbackClient::readResponse(HttpResponse& response, bool headOnly, int timeoutMs) {
  response = HttpResponse();
  std::int64_t deadline = deadlineIn(timeoutMs);
  std::size_t end;
  while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!receiveMore(deadline)) return false;
  }
  response.head = pending_.substr(0, end + 4);
  pending_.erase(0, end + 4);
  std::size_t at = response.head.find("\r\nContent-Length: ");
  if (at != std::string::npos) response.contentLength = std::atol(response.head.c_str() + at + 18);
  if (headOnly || response.contentLength <= 0) return true;
  std::size_t want = static_cast<std::size_t>(response.contentLength);
  while (pending_.size() < want) {
    if (!receiveMore(deadline)) return false;
  }
  response.body = pending_.substr(0, want);
  pending_.erase(0, want);
  return true;
}

bool LoopbackClient::waitForClose(std::string& rest, int timeoutMs) {
  std::int64_t deadline = deadlineIn(timeoutMs);
  bool closed = false;
  while (remaining(deadline) > 0) {
    if (!receiveMore(deadline, &closed)) break;
  }
  rest = pending_;
  pending_.clear();
  return closed;
}

bool LoopbackClient::staysSilent(int ms) {
  if (!pending_.empty()) return false;
  std::int64_t deadline = deadlineIn(ms);
  bool closed = false;
  bool got = receiveMore(deadline, &closed);
  return !got && !closed;
}

}  // namespace testsupport
