// VLClientConnection: one entry of the listener's pool. While taken it serves
// one browser connection on its own thread: it reads each request
// (handleRequest), forwards it over one of its 20 outgoing connections
// (VLClient), and its VLResponder writes the answers back in request order.
// The relay threads announce finished response parts over loopback
// connections to the entry's notification listener (127.0.0.1). A silent
// connection ends only once the browser took every byte written to it, with
// an orderly close; a browser that takes nothing for long is reset. While
// every outgoing connection carries a request, no further request is read.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/object.h"
#include "platform/sockets.h"
#include "varlume/client.h"
#include "varlume/responder.h"

class VLServer;
class VLRequestHead;

class VLClientConnection : public VLObject {
 public:
  static constexpr int kClientCount = 20;
  static constexpr int kLineBufferSize = 65536;

  VLClientConnection();
  ~VLClientConnection() override;

  // Browser socket -1, not in use, line buffer cleared, no owner.
  void reset();

  // The connection thread.
  void run() override;
  // One cycle of waiting: 1 continue, 2 the browser is gone or an error
  // occurred, 3 one second without anything to read, 4 interrupted.
  int pollOnce();
  // Bytes received (1 to size); 0 when the socket is -1, the browser closed
  // or recv failed; -1 on time-out or a failed wait. Accepts notice
  // connections meanwhile (each restarts the full time).
  int receiveFromBrowser(platform::Socket socket, int seconds, char* buffer, int size);
  // Reads one request and routes it: 1 read (whatever became of it), 0 the
  // browser closed or a receive failed, -1 no byte within 10 seconds. A head
  // beyond its limits or malformed (see VLRequestHead), a body whose length
  // cannot be known or an upload the server cut off also give 0: the
  // connection ends (the first three are answered with the refusal first).
  // A request that cannot be forwarded safely, or whose target cannot be
  // reached, is answered with the proxy's own 500 page in its place.
  int handleRequest();

  // The outgoing connection for a target and its slot; slot -1 (and null)
  // when every client is busy, which the caller treats as unreachable.
  VLClient* clientFor(const std::string& host, int port, int& slot);
  // The slot of a client that can be given the template's target; -1 if none.
  int pickReusableClient(const VLClient& templateClient);

  // Opens the notification listener once (ports port .. port + range).
  void openNotificationListener(int port, int range);
  // A listening socket on 127.0.0.1:port; kInvalidSocket on failure.
  platform::Socket listenOnAnyPort(int port);
  platform::Socket acceptNotification(platform::Socket listener);
  // Under mutex 0: the responder's closeNotifiers.
  void closeResponderNotices();

  // Takes a request number and queues the proxy's own 500 page with
  // `message` for it, in its place in the order of the answers.
  void answerWithMessage(const std::string& host, const std::string& path,
                         const std::string& message);
  // The reason phrase for a request that is never forwarded.
  static constexpr const char* kRefusedMessage = "Request refused.";

  // Whether the page may reach the target (member form of the check).
  bool crossSiteAllowed(const std::string& pageHost, const std::string& targetHost,
                        const std::string& requestLine, bool* mayReachThisMachine = nullptr);
  // Fetches "/varlume.txt" of each site the request line names that has no
  // current record for the page host, and stores what each declares
  // (cross_site_fetch.cpp). Bounded in sites, time and bytes; takes notice
  // connections throughout.
  void fetchCrossSiteDeclarations(const std::string& line);

  virtual const char* lineBuffer() const { return lineBuffer_.get(); }
  void setLineBuffer(const char* data, int length);

  // Accessors used by the listener and the request road.
  bool inUse() const { return inUse_.load(); }
  void setInUse(bool inUse) { inUse_.store(inUse); }
  platform::Socket browserSocket() const { return browserSocket_.load(); }
  void setBrowserSocket(platform::Socket socket) { browserSocket_.store(socket); }
  VLServer* owner() const { return owner_; }
  void setOwner(VLServer* owner) { owner_ = owner; }
  platform::Socket notificationListener() const { return notificationListener_; }
  int notificationPort() const { return notificationPort_; }
  void setNotificationPort(int port) { notificationPort_ = port; }
  VLResponder& responder() { return responder_; }
  const VLResponder& responder() const { return responder_; }
  VLClient& client(int slot) { return *clients_[slot]; }

  std::string eventQuery;
  int pendingEventId = -1;
  std::string pageHost;
  std::string followUp;
  std::string browserUrl;

 private:
  // Accepts one notice connection and hands it to the responder.
  void takeNotice();
  // After the browser ended its sending side: delivers the answers still due
  // (bounded), accepting notice connections meanwhile.
  void deliverWhatIsDue();
  // The end-of-connection steps; frees the entry.
  void endConnection();
  // Answers a request that cannot be read on with the refusal in its place
  // and reads no more requests; returns 0.
  int refuseAndStopReading();
  // Monotonic milliseconds of the last progress of the answers due: a
  // notice read, an answer sent, bytes from a server.
  std::int64_t lastProgress() const;
  // Whether the browser holds every byte written to it (nothing is left in
  // its socket's send queue); notes when it last took some.
  bool browserTookAll();
  // Whether bytes wait for the browser and it took none for long (the last
  // look of browserTookAll); the connection then ends with a reset.
  bool readerStalled();
  // Routes a read head (forwarding half of handleRequest).
  int routeRequest(VLRequestHead& head);
  // The event follow-up of a request that could not be served
  // (event_followup.cpp): forwards the event query, awaits its reply, routes
  // the follow-up, and makes sure the request gets exactly one answer.
  // Returns the poll cycle's result (`result` when nothing was routed).
  int followUpUnserved(int result);
  // Waits for the reply of event query `id` on the client in `slot`; false
  // when none came in time (the client is then closed).
  bool awaitEventReply(int id, int slot, std::string& reply);
  // Reads and drops `length` body bytes of a request that is not relayed
  // with its body: 1 when done, otherwise what receiveFromBrowser gave.
  int discardBody(std::int64_t length);
  // Starts a client's relay thread unless it runs.
  void startRelay(VLClient& client);
  // The 250-microsecond pause of the owner.
  void pause250();

  // The proxy's own requests (own_request_waits.cpp): take every notice
  // connection waiting now; wait up to `milliseconds` for one and take it;
  // whether the client still holds request `id` unanswered; read (at most
  // maxBytes in all) and remove every part file of `id`, returning part 0;
  // the removed parts leave the responder's count of waiting bytes.
  void takePendingNotices();
  void waitTakingNotices(int milliseconds);
  bool holdsRecord(VLClient& client, int id);
  std::string takeParts(int id, std::size_t maxBytes, std::vector<std::string>* parts);
  // One site's declaration, fetched until `deadline` (cross_site_fetch.cpp).
  void fetchDeclaration(const std::string& site, const std::string& host, int port,
                        std::int64_t deadline);

  static constexpr std::size_t kReadAheadBytes = 65536;

  std::unique_ptr<char[]> lineBuffer_;
  std::atomic<platform::Socket> browserSocket_{platform::kInvalidSocket};
  VLServer* owner_ = nullptr;
  std::atomic<bool> inUse_{false};
  std::unique_ptr<VLClient> clients_[kClientCount];
  platform::Socket notificationListener_ = platform::kInvalidSocket;
  int notificationPort_ = 0;
  VLResponder responder_;
  // The key of the current browser connection's notice connections.
  std::string noticeKey_;
  // Bytes read from the browser and not yet handed out (connection thread).
  std::unique_ptr<char[]> readAhead_;
  std::size_t readEnd_ = 0;
  std::size_t readPosition_ = 0;
  // No more requests are read (the browser ended its sending side, or a
  // request could not be read on); the answers due are still delivered.
  bool browserDone_ = false;
  // The browser's taking of the bytes written to it: bytes in the send
  // queue at the last look, when they last changed, and whether it stopped.
  int browserUnsent_ = 0;
  std::int64_t browserTookMs_ = 0;
  bool browserStalled_ = false;
  // The request that could not be served and awaits its follow-up.
  struct Unserved {
    bool due = false;
    std::string pageHost;
    std::string path;
    bool head = false;
  };
  Unserved unserved_;
  // The client that carries the event query (connection thread).
  int queryClientSlot_ = -1;
  // Answers queued for the browser so far (connection thread).
  int answersQueued_ = 0;
};
