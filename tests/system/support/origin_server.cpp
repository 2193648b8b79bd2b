#include "support/origin_server.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/sockets.h"

namespace origin {

namespace {

constexpr int kWaitStepMs = 100;
constexpr int kIdleLimitMs = 60000;  // a connection silent this long is ended
// After its last answer, how long a connection waits for the peer's close.
constexpr int kCloseWaitMs = 10000;

std::string lowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The Content-Length of a head; 0 when none.
std::size_t bodyLength(const std::string& head) {
  const std::string lower = lowerCase(head);
  const std::size_t at = lower.find("\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoull(head.c_str() + at + 16, nullptr, 10));
}

}  // namespace

std::string VLReceived::path() const {
  const std::size_t start = head.find(' ');
  if (start == std::string::npos) return std::string();
  const std::size_t end = head.find(' ', start + 1);
  return head.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

std::string VLReceived::method() const { return head.substr(0, head.find(' ')); }

VLReply VLReply::bytes(const std::string& text, After after) {
  VLReply reply;
  reply.steps.push_back({text, 0});
  reply.after = after;
  return reply;
}

VLReply VLReply::withLength(const std::string& body, const std::string& extraHeaders) {
  return bytes("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n" + extraHeaders +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

VLReply VLReply::chunked(const std::string& body, std::size_t chunkSize) {
  std::string text = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: X-Sum\r\n\r\n";
  for (std::size_t at = 0; at < body.size(); at += chunkSize) {
    const std::string piece = body.substr(at, chunkSize);
    char size[32];
    std::snprintf(size, sizeof size, "%zx", piece.size());
    text += std::string(size) + ";name=value\r\n" + piece + "\r\n";
  }
  text += "0\r\nX-Sum: done\r\n\r\n";
  return bytes(text);
}

VLReply VLReply::untilClose(const std::string& body) {
  return bytes("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body, After::Close);
}

VLReply VLReply::sized(std::size_t size) {
  VLReply reply = bytes("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                        std::to_string(size) + "\r\n\r\n");
  reply.fillerBytes = size;
  return reply;
}

VLOriginServer::VLOriginServer(VLScript script, int port) : script_(std::move(script)) {
  const int socket = platform::tcpSocket();
  if (socket < 0) return;
  platform::setReuseAddress(socket);
  if (!platform::bindSocket(socket, platform::kLoopbackAddress, port) ||
      !platform::listenSocket(socket, 64)) {
    platform::closeSocket(socket);
    return;
  }
  listener_ = socket;
  port_ = platform::localPort(socket);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

VLOriginServer::~VLOriginServer() {
  stopping_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Connection& connection : live_) {
      if (connection.socket >= 0) platform::shutdownSocket(connection.socket, platform::ShutdownHow::Both);
    }
  }
  // No new connection is added now: the accept thread has left.
  for (Connection& connection : live_) {
    if (connection.thread.joinable()) connection.thread.join();
  }
  live_.clear();
  if (listener_ >= 0) platform::closeSocket(listener_);
}

void VLOriginServer::acceptLoop() {
  while (!stopping_) {
    forgetEnded();
    platform::PollEntry wait{listener_, platform::kPollReadable, 0};
    if (platform::pollSockets(&wait, 1, kWaitStepMs) <= 0) continue;
    const int socket = platform::acceptSocket(listener_);
    if (socket < 0) {
      // No descriptor left, or the peer gave up: look again a little later.
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
      continue;
    }
    ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    live_.emplace_back();
    Connection& connection = live_.back();
    connection.socket = socket;
    connection.thread = std::thread([this, &connection] {
      const bool atOnce = serveConnection(connection.socket);
      endConnection(connection, atOnce);
    });
  }
}

void VLOriginServer::endConnection(Connection& connection, bool atOnce) {
  const int socket = connection.socket;
  // Otherwise the peer reads everything sent before the close: whatever it
  // still sends is read and dropped until it closes too (or a bounded wait
  // ends), so the close never resets the connection over unsent bytes.
  platform::shutdownSocket(socket, platform::ShutdownHow::Send);
  char drain[4096];
  for (int waitedMs = 0; !atOnce && !stopping_ && waitedMs < kCloseWaitMs;) {
    platform::PollEntry wait{socket, platform::kPollReadable, 0};
    const int ready = platform::pollSockets(&wait, 1, kWaitStepMs);
    if (ready < 0) break;
    if (ready == 0) {
      waitedMs += kWaitStepMs;
      continue;
    }
    if (platform::receiveBytes(socket, drain, sizeof drain) <= 0) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  platform::closeSocket(socket);
  connection.socket = -1;
  connection.ended = true;
}

void VLOriginServer::forgetEnded() {
  std::list<Connection> ended;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = live_.begin(); it != live_.end();) {
      auto next = std::next(it);
      if (it->ended) ended.splice(ended.end(), live_, it);
      it = next;
    }
  }
  // Each has left its work; only the thread's last return remains.
  for (Connection& connection : ended) connection.thread.join();
}

std::vector<VLReceived> VLOriginServer::received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool VLOriginServer::waitForRequests(std::size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return received_.size() >= count; });
}

bool VLOriginServer::serveConnection(int socket) {
  std::string buffer;
  int idleMs = 0;
  // Reads until `buffer` holds `wanted` bytes; false when the peer closed,
  // the server stops or the connection stayed silent too long.
  auto fill = [&](std::size_t wanted, bool untilHeadEnd) {
    for (;;) {
      if (untilHeadEnd ? buffer.find("\r\n\r\n") != std::string::npos &&
                             buffer.find("\r\n\r\n") + 4 <= buffer.size()
                       : buffer.size() >= wanted) {
        return true;
      }
      if (stopping_ || idleMs >= kIdleLimitMs) return false;
      platform::PollEntry wait{socket, platform::kPollReadable, 0};
      const int ready = platform::pollSockets(&wait, 1, kWaitStepMs);
      if (ready < 0) return false;
      if (ready == 0) {
        idleMs += kWaitStepMs;
        continue;
      }
      char chunk[65536];
      const int got = platform::receiveBytes(socket, chunk, sizeof chunk);
      if (got <= 0) return false;
      idleMs = 0;
      buffer.append(chunk, static_cast<std::size_t>(got));
    }
  };

  for (;;) {
    if (!fill(0, true)) break;
    const std::size_t headEnd = buffer.find("\r\n\r\n") + 4;
    VLReceived request;
    request.head = buffer.substr(0, headEnd);
    buffer.erase(0, headEnd);
    if (!closeAfterHeadPath_.empty() && request.path() == closeAfterHeadPath_) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(request);
      }
      arrived_.notify_all();
      return true;
    }
    const std::size_t length = bodyLength(request.head);
    if (!fill(length, false)) break;
    request.body = buffer.substr(0, length);
    buffer.erase(0, length);
    const VLReply reply = script_(request);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(request);
    }
    arrived_.notify_all();

    bool sent = true;
    for (const VLReply::Step& step : reply.steps) {
      for (int waited = 0; waited < step.pauseMsBefore && !stopping_; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      while (step.heldUntil != nullptr && !step.heldUntil->load() && !stopping_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (!step.bytes.empty() &&
          !platform::sendAll(socket, step.bytes.data(), step.bytes.size(), 20000)) {
        sent = false;
        break;
      }
    }
    const std::string filler(65536, 'x');
    for (std::size_t left = reply.fillerBytes; sent && left > 0 && !stopping_;) {
      const std::size_t piece = std::min(left, filler.size());
      sent = platform::sendAll(socket, filler.data(), piece, 20000);
      left -= piece;
    }
    if (!sent || reply.after == VLReply::After::Close) break;
    if (reply.after == VLReply::After::Stall) {
      // Silent until the server stops or the peer leaves; what it sends is dropped.
      while (!stopping_) {
        platform::PollEntry wait{socket, platform::kPollReadable, 0};
        const int ready = platform::pollSockets(&wait, 1, kWaitStepMs);
        if (ready < 0) break;
        char chunk[4096];
        if (ready > 0 && platform::receiveBytes(socket, chunk, sizeof chunk) <= 0) break;
      }
      break;
    }
  }
  return false;
}

}  // namespace origin
