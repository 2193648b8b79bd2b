// VLClient: one outgoing connection of a browser connection, to a web
// server, the upstream proxy or a local service program. The browser
// connection's thread connects it, queues a record per forwarded request and
// sends the request bytes; the client's relay thread (run, in
// response_relay.cpp) reads the answers in queue order into part files and
// announces them with notices. Record queue, method list, running flag and
// claim time are shared between the two threads under mutex 0.
//
// Start the relay only with startRelay(): it decides under mutex 0, together
// with the queue, whether a relay must be started, so a record queued while a
// relay is ending is never lost and a live relay is never replaced.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/object.h"
#include "platform/sockets.h"
#include "varlume/local_target.h"
#include "varlume/relay_framing.h"
#include "varlume/request_record.h"
#include "varlume/run_claim.h"

class VLPartWriter;
class VLResponder;

class VLClient : public VLObject {
 public:
  static constexpr int kRecordGrowth = 100;
  static constexpr int kSocketBufferBytes = 65536;

  VLClient();
  VLClient(const std::string& host, int port);
  ~VLClient() override;

  // Closes both sockets, drops the pending data, takes a fresh queue of 100
  // records and the host and port of `other`. Not while a relay runs.
  void assignTarget(const VLClient& other);

  // Connecting. 1 connected, 0 failed.
  int connectTo(const std::string& host, int port);
  // Connects for the next request: to the upstream proxy, the service or
  // the target itself. A web target that the connection finds on this
  // machine is held to localTargetRefusal (local_target.h): a refused one
  // is closed before a byte goes out, fails, and localRefusal() says why.
  int connectForRequest();
  // Whether the next request may reach a server of this machine other
  // than the proxy's own ports (the page's own site, or a site that such
  // a server declared). The road sets it before each connectForRequest.
  void setMayReachThisMachine(bool may) { mayReachThisMachine_ = may; }
  // Why the last connectForRequest refused its target; None otherwise.
  VLLocalRefusal localRefusal() const { return localRefusal_.load(); }
  // Whether the present connection's target is on this machine.
  bool targetOnThisMachine() const { return targetHere_.load(); }
  void setNotificationPort(int port);
  // The key a new notice connection sends first (empty: none).
  // Changed only between browser connections, when no relay runs.
  void setNoticeKey(const std::string& key) {
    if (noticeKey_ != key) noticeKey_ = key;
  }
  // The delivery of the browser connection this client serves; the relay
  // tells it which answers end the connection.
  void setResponder(VLResponder* responder) { responder_ = responder; }
  VLResponder* responder() const { return responder_; }
  int connectNotifier();
  // Shuts down and closes the socket and the notification socket.
  void closeSockets();

  // Sends the bytes on the connection (connecting first when it has none),
  // in pieces of at most 65,536 bytes, giving the server at most 45 seconds
  // to take them. Returns the length, 0 for no data, or -1: after a failure
  // the socket is closed (the relay answers its queued requests with "1")
  // and every further send fails until the client is connected again, so no
  // part of a request ever leaves on a new connection.
  int sendRequest(const char* data, int length);
  // Appends a record for request `id` and its method (under mutex 0).
  void queueRequest(int id, const std::string& method);

  // Reuse tests. A client connected through the upstream proxy matches the
  // target it was connected for (its host and port are the proxy's).
  bool matchesTarget(const std::string& host, int port) const;
  bool keepAliveOver() const;
  bool isReusable() const { return false; }
  // False while the relay runs or the current record is pending; otherwise
  // the queue starts afresh and true.
  bool prepareForReuse();
  bool claimIfQuiet();
  bool isQueueIdle(bool mutexHeld);

  // Relay (response_relay.cpp).
  void run() override;
  // A relay stopped before it began gives its claim back (mutex 0).
  void startCancelled() override;
  int relayResponse();
  void sendNotice(const std::string& text);
  void noticePart();
  void noticeComplete();
  void noticeNoResponse(int index);
  void flushNotices();

  // Stops the relay and ends its wait for the next request at once.
  void stopRelay();
  // A client bound to a target whose server kept the connection, with no
  // request due, is taken for the next request as it is: true when taken
  // (the next connectForRequest keeps the connection and a GET or HEAD
  // sent on it may be sent once more if the server closed it meanwhile).
  bool takeKeptConnection();

  // Starts the relay thread unless one runs (the running relay then takes
  // the new records). False when no thread could be made.
  bool startRelay();
  // True while a relay runs or has been started and not yet ended.
  bool relayRunning() const;

  // Used by the relay.
  void setKeepAlive(int seconds);
  void appendPending(const char* bytes, std::size_t length);
  void clearPending();
  // Takes the first method of the pending method list (mutex 0).
  std::string takeMethodForRelay();

  // Monotonic milliseconds of the last bytes the relay received.
  std::int64_t lastInput() const { return lastInputMs_.load(); }
  platform::Socket socket() const { return socket_.load(); }
  platform::Socket notificationSocket() const { return notificationSocket_.load(); }
  int port() const { return port_; }
  const std::string& host() const { return host_; }
  int notificationPort() const { return notificationPort_; }
  bool keepAliveFlag() const { return keepAliveFlag_.load(); }
  std::int64_t keepAliveExpiry() const { return keepAliveExpiry_.load(); }
  const std::string& pendingData() const { return pending_; }
  // Copies under mutex 0, for inspection.
  std::string pendingMethods();
  int currentIndex();
  int recordCapacity();
  VLRequestRecord recordAt(int index);

 private:
  void resetRecordsLocked();
  void queueRecordLocked(const VLRequestRecord& record, const std::string& method);
  // Closes the connection socket only (the notification socket stays).
  void closeConnection();
  // connectTo for a web target, then the test of where it is (the address
  // connected to).
  int connectToWebTarget(const std::string& host, int port);
  // The test of a web target at `port`, on this machine or not; false
  // (the connection closed) when it is refused.
  bool passesLocalTest(bool here, int port);
  // The notice text of the current record and its completion (mutex 0 held).
  std::string completeCurrentLocked();
  // Notice texts of every pending record from the current index (mutex 0 held).
  std::string flushLocked();
  int relayOnce(VLPartWriter& part);
  // Relay thread: waits (bounded) for a record; true when one came.
  bool lingerForRecord();
  void wakeRelay();
  void setResendText(const std::string& text);
  std::string takeResendText();
  void expectResendText();
  bool hasResendText();

  std::atomic<platform::Socket> socket_{platform::kInvalidSocket};
  int port_ = 0;
  std::string host_;
  // The target a connection through the upstream proxy was made for (set
  // by connectForRequest, cleared by assignTarget); empty when the client
  // connects to host_ itself.
  std::string upstreamTarget_;
  int upstreamTargetPort_ = 0;
  std::string pendingMethods_;
  std::string pending_;
  std::vector<VLRequestRecord> records_;
  int currentIndex_ = 0;
  int notificationPort_ = -1;
  std::string noticeKey_;
  std::atomic<platform::Socket> notificationSocket_{platform::kInvalidSocket};
  std::atomic<std::int64_t> keepAliveExpiry_{0};
  std::atomic<bool> keepAliveFlag_{false};
  VLRunClaim run_;              // mutex 0
  std::int64_t lastClaimTime_ = 0;  // mutex 0
  std::atomic<bool> sendFailed_{false};
  std::atomic<bool> mayReachThisMachine_{true};
  std::atomic<bool> targetHere_{false};  // the connection's target is on this machine
  std::atomic<int> targetPort_{0};       // the port of the connection's target
  std::atomic<VLLocalRefusal> localRefusal_{VLLocalRefusal::None};
  int currentId_ = 0;           // relay thread: id of the response being read
  std::int64_t queuedAt_ = 0;   // relay thread: its record's time stamp
  VLResponder* responder_ = nullptr;
  std::atomic<std::int64_t> lastInputMs_{0};
  std::atomic<bool> kept_{false};    // the next connectForRequest keeps the socket
  std::atomic<bool> reused_{false};  // the next request goes on a kept socket
  std::mutex lingerMutex_;
  std::condition_variable lingerWake_;  // lingerMutex_
  std::string resendText_;              // lingerMutex_
  bool resendExpected_ = false;         // lingerMutex_: a kept request is on its way
  VLRelayFraming framing_;      // relay thread
  std::vector<char> buffer_;    // relay thread: one receive buffer
};
