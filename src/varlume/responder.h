// VLResponder: the ordered delivery of one browser connection. The request
// road enqueues one record per request in the order the requests were read;
// relay threads announce part files with notices over the notice
// connections; the responder's thread sends each response, oldest first, to
// the browser and deletes the part files. A request without an answer (a
// "1" notice, or 45 seconds without any notice) gets the proxy's own 500
// page "No response from server."; an answer whose part file cannot be read
// at its turn is never continued past the gap: the browser connection ends
// there. Mutex 1 then mutex 2 guard the queue and
// the notice sockets; no browser send ever happens while either is held, and
// every send to the browser has a time limit.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "foundation/object.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "varlume/request_record.h"
#include "varlume/run_claim.h"

class VLResponder : public VLObject {
 public:
  static constexpr int kQueueSize = 400;
  static constexpr int kMaxNotifiers = 400;
  static constexpr int kNoNoticeSeconds = 45;
  static constexpr int kBrowserSendMs = 45000;
  // How long the thread waits for a next record before it ends.
  static constexpr int kLingerMs = 2000;
  // An answer streamed in more parts than this is not copied into the cache.
  static constexpr int kMaxCacheParts = 1024;

  VLResponder();
  ~VLResponder() override;

  // The browser connection's socket; -1 at the end of a connection.
  void setBrowserSocket(platform::Socket socket);
  platform::Socket browserSocket() const { return browserSocket_.load(); }
  // The key every notice connection must send before its notices; bytes
  // from a connection that does not are never read as notices. Set at the
  // start of each browser connection (empty: no key is asked for).
  void setNoticeKey(const std::string& key);
  // Takes an accepted notice connection. False (the socket is closed) when
  // kMaxNotifiers are open already.
  bool addNotifier(platform::Socket socket);
  void closeNotifiers();
  // A fresh queue of 400 records (under mutex 2).
  void resetQueue();
  // Once the delivery thread and the relays have ended: deletes the part
  // files and own pages of every request left undelivered or abandoned, so
  // none outlives its browser connection.
  void removeUndelivered();
  // Queues one request (mutex 1, then 2) and wakes the thread.
  void enqueue(int id, bool mirror, const std::string& host, const std::string& url,
               const std::string& cachePath, bool fromCache, bool toCache);
  // Queues the proxy's own 500 page with `message` as its reason phrase for
  // request `id`, delivered in its place in the order.
  void enqueueMessage(int id, const std::string& host, const std::string& url,
                      const std::string& message);
  // False while a delivery pass is sending or records are pending (mutex 2).
  bool isIdle();
  // The relay tells that the answer to `id` was ended by the server's close:
  // after it the browser connection is closed (any thread; no named mutex).
  void markEndsConnection(int id);

  // Bytes of part files written for this connection and not yet delivered
  // or deleted are limited: a relay with no room waits (and so reads no more
  // from its server) until the browser took more.
  static constexpr std::int64_t kWaitingBytesLimit = 8 * 1024 * 1024;
  void addWaitingBytes(std::int64_t bytes);
  // Gives back the bytes of part files deleted without going to the browser:
  // the answers to the proxy's own requests, which the connection thread
  // reads itself. Wakes the relays that wait for room.
  void releaseWaitingBytes(std::int64_t bytes) { releaseBytes(bytes); }
  bool hasRoomFor(int id) const;
  // Waits at most `ms` for room for request `id`.
  void waitForRoom(int id, int ms);

  // The parts of answer `id` that the delivery has taken to send while it
  // is the head of the order; -1 while it is not the head (read by the
  // relays without a named mutex).
  int partsTaken(int id) const;
  // The relay of `id` is still receiving its answer without announcing a
  // part: its no-answer wait starts again (mutex 2).
  void stillArriving(int id);

  // Starts the delivery thread unless it runs; the decision is taken under
  // mutex 2 together with the thread's own decision to end, so a record
  // enqueued while the thread ends is never left behind.
  bool startUnlessRunning();
  // True while the delivery thread runs or has been started.
  bool isRunning();

  void run() override;
  void startCancelled() override;
  // Asks the thread to stop and ends its wait for notices at once.
  void stop();

  // Sends on the browser socket with a time limit of kBrowserSendMs; any
  // failure forgets the socket (the browser connection still owns it).
  bool sendAll(const char* data, std::size_t length);
  // Sends a file whole, straight from the file cache; false when it could
  // not be read or sent whole. `size` (when given) gets the file's size and
  // `opened` whether the file could be opened at all.
  bool sendFile(const std::string& path, std::uint64_t* size = nullptr, bool* opened = nullptr);
  // A file opened already, in pieces of at most 65,536 bytes.
  bool sendOpenFile(platform::File& file);

  // The head of the proxy's own pages, ending with "Content-Length: 0"
  // (they have no body) but without the empty line.
  static std::string responseHeader(int code, const std::string& reason,
                                    const std::string& contentType);
  // Writes the 200 "Success" page / the 500 page with `message` as reason
  // for the record into its own file in the temporary folder; the path.
  std::string writeSuccessResponse(const VLRequestRecord& record);
  std::string writeMessageResponse(const VLRequestRecord& record, const std::string& message);

  // Monotonic milliseconds of the last notice read or answer sent.
  std::int64_t lastProgress() const { return lastProgressMs_.load(); }

  // True while as many records are pending as the queue holds; read
  // without a named mutex.
  bool queueFull() const { return pendingSeen_.load() >= kQueueSize; }

  // For inspection (mutex 2).
  int pendingCount();
  int notifierCount();

 private:
  struct Notifier {
    platform::Socket socket = platform::kInvalidSocket;
    std::string carried;  // bytes of a notice (or of the key) that arrived split
    bool keyed = false;   // the key arrived
  };
  struct Delivery {
    // Work done by send, outside the mutexes, in its place in the order.
    enum Work { kSendFile, kStore, kMirror, kCachedCopy };
    std::string path;
    bool remove = false;
    bool closeAfter = false;   // shut the browser connection after this item
    bool finishAfter = false;  // end the stream to the browser after this item
    Work work = kSendFile;
    std::shared_ptr<const VLRequestRecord> record = nullptr;  // kStore and kMirror
    bool part = false;         // a part file: counts against the limit
    int id = 0;                // the request of a part file
  };

  // Wake-up pair: a byte on it ends the thread's wait at once.
  bool ensureWakePair();
  void wake();
  void drainWake();
  // Under mutex 2: handles one notice, adding files to stream to `out`.
  void handleNotice(int id, char kind, std::vector<Delivery>& out);
  // Under mutex 2: the part files of the head that were announced and not sent.
  void streamHead(std::vector<Delivery>& out);
  // Under mutex 2: takes every ready record from the head.
  void deliveryWalk(std::vector<Delivery>& out);
  void compactLocked();
  bool takeEndsConnection(int id);
  // Never below zero: a reset of the queue may have dropped the bytes already.
  void releaseBytes(std::int64_t bytes);
  // The head's id, read by the relays without a named mutex (mutex 2 held).
  // A new head that streams starts with no part taken.
  void noteHeadLocked();
  void publishTakenLocked(const VLRequestRecord& head);
  void enqueueRecord(const VLRequestRecord& record, const std::string* message);
  void send(const std::vector<Delivery>& items);
  // A part of answer `id` that cannot be read at its turn: the answer is
  // never continued past the gap. The browser connection ends there, the
  // answer's other parts go, and the log says why.
  void cutAtMissingPart(int id, const std::string& path);
  // A cache hit: a file that cannot be opened gets the 500 page "No response
  // from server." in its place; one cut after bytes went out closes the
  // browser connection.
  void sendCachedCopy(const std::string& path);

  std::atomic<platform::Socket> browserSocket_{platform::kInvalidSocket};
  std::vector<Notifier> notifiers_;          // mutex 2 (added under 1 and 2)
  std::string noticeKey_;                    // mutex 2
  std::vector<VLRequestRecord> queue_;       // mutex 2
  std::map<int, std::string> messages_;      // mutex 2: own pages by request id
  // mutex 2: requests answered without their response whose relay may still
  // announce parts, with the number of parts announced so far; those parts
  // are deleted as they are announced.
  std::map<int, int> abandoned_;
  std::set<int> timedOut_;                   // mutex 2: heads given up waiting for
  int pending_ = 0;                          // mutex 2
  int head_ = 0;                             // mutex 2
  bool busy_ = false;                        // mutex 2
  VLRunClaim run_;                           // mutex 2
  std::atomic<std::int64_t> lastProgressMs_{0};
  std::atomic<int> pendingSeen_{0};          // pending_, written under mutex 2
  std::atomic<std::int64_t> waitingBytes_{0};
  std::atomic<int> headId_{0};
  std::atomic<std::uint64_t> headTaken_{0};  // head id << 32 | its parts taken
  std::condition_variable room_;             // hintMutex_
  std::mutex hintMutex_;
  std::set<int> endsConnection_;             // hintMutex_
  std::mutex wakeMutex_;
  platform::Socket wakeRead_ = platform::kInvalidSocket;
  platform::Socket wakeWrite_ = platform::kInvalidSocket;
};
