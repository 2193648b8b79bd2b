// Test servers on 127.0.0.1 for the proxy's system tests. VLOriginServer
// reads each request on a connection (head, then a Content-Length body) and
// answers with the reply its script gives for that request: bytes sent in
// steps, optionally with pauses, then the connection kept, closed, or left
// silent. Every request that arrived is recorded byte for byte, so the same
// class serves as the capture server of the upstream and service tests.
// A connection that ended releases its socket and thread at once (after the
// peer's close, so no byte sent is lost to a reset): a server that ends every
// connection holds no descriptor for the connections it ended.
// All waits are bounded; the destructor stops everything it started.
#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace origin {

struct VLReceived {
  std::string head;  // request line to the empty line, as received
  std::string body;  // the Content-Length bytes that followed
  std::string path() const;    // the request line's target
  std::string method() const;  // the request line's first word
};

struct VLReply {
  struct Step {
    std::string bytes;
    int pauseMsBefore = 0;
    // When set, the step waits (after its pause) until the flag is true or
    // the server stops: the test decides when the server goes on.
    std::shared_ptr<std::atomic<bool>> heldUntil = nullptr;
  };
  std::vector<Step> steps;
  // Bytes of 'x' sent after the steps, in pieces, without holding them.
  std::size_t fillerBytes = 0;
  enum class After { Keep, Close, Stall } after = After::Keep;

  // Convenience forms.
  static VLReply bytes(const std::string& text, After after = After::Keep);
  static VLReply withLength(const std::string& body, const std::string& extraHeaders = "");
  // The body in chunks of `chunkSize` with a chunk extension, ending with a
  // trailer field.
  static VLReply chunked(const std::string& body, std::size_t chunkSize);
  // An HTTP/1.0 answer without a length that ends with the close.
  static VLReply untilClose(const std::string& body);
  // A 200 answer with a Content-Length body of `size` bytes of 'x'.
  static VLReply sized(std::size_t size);
};

using VLScript = std::function<VLReply(const VLReceived&)>;

class VLOriginServer {
 public:
  // Listens on a free loopback port (port 0) or the given one.
  explicit VLOriginServer(VLScript script, int port = 0);
  ~VLOriginServer();
  VLOriginServer(const VLOriginServer&) = delete;
  VLOriginServer& operator=(const VLOriginServer&) = delete;

  bool listening() const { return listener_ >= 0; }
  int port() const { return port_; }
  // Copies of the requests received so far, in arrival order.
  std::vector<VLReceived> received();
  // Waits until at least `count` requests arrived (at most timeoutMs).
  bool waitForRequests(std::size_t count, int timeoutMs);
  // Connections accepted so far.
  int connections() const { return connections_.load(); }
  // Requests for `path` are recorded with their head only and the
  // connection is closed at once, before any body byte is read.
  void closeAfterHead(const std::string& path) { closeAfterHeadPath_ = path; }

 private:
  // One accepted connection: its socket (-1 once closed) and its thread.
  struct Connection {
    int socket = -1;
    bool ended = false;
    std::thread thread;
  };

  void acceptLoop();
  // True when the connection is to be closed at once, without waiting.
  bool serveConnection(int socket);
  // Shuts the sending side, waits (bounded) for the peer's close unless
  // `atOnce`, closes.
  void endConnection(Connection& connection, bool atOnce);
  // Joins the threads of connections that ended and forgets them.
  void forgetEnded();

  VLScript script_;
  std::string closeAfterHeadPath_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<VLReceived> received_;
  std::list<Connection> live_;  // connections whose thread was not joined yet
  std::thread acceptThread_;
};

}  // namespace origin
