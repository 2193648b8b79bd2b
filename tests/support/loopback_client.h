// A raw HTTP client for tests: one loopback connection with bounded waits that
// sends exact bytes and reads responses framed by their Content-Length line.
#pragma once
#include <cstdint>
#include <string>

#include "platform/sockets.h"

namespace testsupport {

struct HttpResponse {
  std::string head;  // status line to the empty line, included
  std::string body;
  long contentLength = -1;
};

class LoopbackClient {
 public:
  // Connects to 127.0.0.1:port, retrying while the listener is not up yet.
  explicit LoopbackClient(int port);
  ~LoopbackClient();
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool connected() const { return socket_ != platform::kInvalidSocket; }
  bool send(const std::string& bytes);
  // One response: the head, then Content-Length bytes unless headOnly.
  bool readResponse(HttpResponse& response, bool headOnly = false, int timeoutMs = 5000);
  // True when the peer closes within the time; what arrived before goes to `rest`.
  bool waitForClose(std::string& rest, int timeoutMs = 5000);
  // True when no byte arrives for `ms`.
  bool staysSilent(int ms);
  void close();

 private:
  // One receive into pending_; false on close, error or deadline.
  bool receiveMore(std::int64_t deadline, bool* closed = nullptr);

  platform::Socket socket_ = platform::kInvalidSocket;
  std::string pending_;
};

}  // namespace testsupport
