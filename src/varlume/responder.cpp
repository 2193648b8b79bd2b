#include "varlume/responder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "foundation/app.h"
#include "foundation/strings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "varlume/mirror_files.h"
#include "varlume/notice.h"
#include "varlume/part_files.h"
#include "varlume/settings.h"
#include "varlume/startup_log.h"

namespace {

constexpr int kEnqueueMutex = 1;
constexpr int kQueueMutex = 2;
constexpr int kNoticeWaitMs = 10000;
constexpr std::size_t kFilePiece = 65536;
constexpr std::size_t kNoticeReadBytes = 1200;
constexpr char kNoResponse[] = "No response from server.";
constexpr std::size_t kMaxAbandoned = 1000;

const char* const kDayNames[] = {"Sun, ", "Mon, ", "Tue, ", "Wed, ", "Thu, ", "Fri, ", "Sat, "};
const char* const kMonthNames[] = {" Jan ", " Feb ", " Mar ", " Apr ", " May ", " Jun ",
                                   " Jul ", " Aug ", " Sep ", " Oct ", " Nov ", " Dec "};

// A reason phrase never carries a line break into the head.
std::string reasonText(const std::string& reason) {
  std::string text;
  for (char c : reason) text += (c == '\r' || c == '\n' || c == '\0') ? ' ' : c;
  return text;
}

// The bytes of the parts deleted (only parts count against the limit).
std::int64_t removePartFiles(int id, int from, int to) {
  std::int64_t bytes = 0;
  for (int k = from; k <= to; ++k) bytes += std::max<std::int64_t>(removePart(partFilePath(tempPath, id, k)), 0);
  return bytes;
}

// Parts not sent are never deleted out of turn, so they lie in one run from
// `from` on; the run ends at the first part that is missing.
std::int64_t removePartsFrom(int id, int from) {
  std::int64_t bytes = 0;
  for (int k = from;; ++k) {
    const std::int64_t removed = removePart(partFilePath(tempPath, id, k));
    if (removed < 0) break;
    bytes += removed;
  }
  return bytes;
}

}  // namespace

VLResponder::VLResponder() : queue_(kQueueSize) {}

VLResponder::~VLResponder() {
  closeNotifiers();
  std::lock_guard<std::mutex> guard(wakeMutex_);
  if (wakeRead_ != platform::kInvalidSocket) platform::closeSocket(wakeRead_);
  if (wakeWrite_ != platform::kInvalidSocket) platform::closeSocket(wakeWrite_);
}

void VLResponder::setBrowserSocket(platform::Socket socket) { browserSocket_ = socket; }

bool VLResponder::addNotifier(platform::Socket socket) {
  if (socket == platform::kInvalidSocket) return false;
  {
    VLAppLock first(kEnqueueMutex);
    VLAppLock second(kQueueMutex);
    int open = 0;
    Notifier* slot = nullptr;
    for (Notifier& n : notifiers_) {
      if (n.socket != platform::kInvalidSocket) {
        ++open;
      } else if (slot == nullptr) {
        slot = &n;
      }
    }
    if (open >= kMaxNotifiers) {
      platform::closeSocket(socket);
      return false;
    }
    if (slot == nullptr) {
      notifiers_.emplace_back();
      slot = &notifiers_.back();
    }
    slot->socket = socket;
    slot->carried.clear();
    slot->keyed = noticeKey_.empty();
  }
  wake();
  return true;
}

void VLResponder::setNoticeKey(const std::string& key) {
  VLAppLock lock(kQueueMutex);
  noticeKey_ = key;
}

void VLResponder::closeNotifiers() {
  VLAppLock lock(kQueueMutex);
  for (Notifier& n : notifiers_) {
    if (n.socket != platform::kInvalidSocket) platform::closeSocket(n.socket);
  }
  notifiers_.clear();
}

void VLResponder::resetQueue() {
  VLAppLock lock(kQueueMutex);
  // Every slot used since the last reset lies below head + pending.
  const std::size_t used =
      std::min(queue_.size(), static_cast<std::size_t>(std::max(head_ + pending_, head_)));
  if (queue_.size() != static_cast<std::size_t>(kQueueSize)) {
    queue_.assign(kQueueSize, VLRequestRecord());
  } else {
    for (std::size_t i = 0; i < used; ++i) queue_[i] = VLRequestRecord();
  }
  head_ = 0;
  pending_ = 0;
  pendingSeen_ = 0;
  messages_.clear();
  timedOut_.clear();
  headId_ = 0;
  std::lock_guard<std::mutex> guard(hintMutex_);
  endsConnection_.clear();
  waitingBytes_ = 0;
}

void VLResponder::addWaitingBytes(std::int64_t bytes) { waitingBytes_ += bytes; }

void VLResponder::releaseBytes(std::int64_t bytes) {
  if (bytes <= 0) return;
  std::int64_t waiting = waitingBytes_.load();
  while (!waitingBytes_.compare_exchange_weak(waiting, std::max<std::int64_t>(waiting - bytes, 0))) {
  }
  std::lock_guard<std::mutex> guard(hintMutex_);
  room_.notify_all();
}

bool VLResponder::hasRoomFor(int id) const {
  const std::int64_t waiting = waitingBytes_.load();
  // The answer being delivered has a limit of its own on top, so the answers
  // queued behind it can never keep it from going on.
  return waiting < kWaitingBytesLimit || (id == headId_.load() && waiting < 2 * kWaitingBytesLimit);
}

void VLResponder::waitForRoom(int id, int ms) {
  std::unique_lock<std::mutex> lock(hintMutex_);
  room_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return hasRoomFor(id); });
}

void VLResponder::markEndsConnection(int id) {
  std::lock_guard<std::mutex> guard(hintMutex_);
  endsConnection_.insert(id);
}

bool VLResponder::takeEndsConnection(int id) {
  std::lock_guard<std::mutex> guard(hintMutex_);
  return endsConnection_.erase(id) > 0;
}

void VLResponder::removeUndelivered() {
  VLAppLock lock(kQueueMutex);
  for (int i = 0; i < pending_; ++i) {
    const VLRequestRecord& record = queue_[head_ + i];
    if (record.isFree() || record.getFromCache()) continue;
    // Streamed parts of a copy for the cache were kept for the store.
    releaseBytes(removePartsFrom(record.getId(), record.getToCache() ? 0 : record.getPartsSent()));
    platform::removeFile(messageFilePath(tempPath, record.getId()));
  }
  for (const auto& [id, announced] : abandoned_) releaseBytes(removePartsFrom(id, announced));
  abandoned_.clear();
}

void VLResponder::compactLocked() {
  std::vector<VLRequestRecord> fresh(std::max<std::size_t>(kQueueSize, pending_ + kQueueSize));
  for (int i = 0; i < pending_; ++i) fresh[i] = queue_[head_ + i];
  queue_.swap(fresh);
  head_ = 0;
}

void VLResponder::enqueueRecord(const VLRequestRecord& record, const std::string* message) {
  {
    VLAppLock first(kEnqueueMutex);
    VLAppLock second(kQueueMutex);
    // Undelivered records are the head and the pending ones right behind it.
    std::size_t slot = static_cast<std::size_t>(head_ + pending_);
    if (slot + 1 >= queue_.size()) {
      compactLocked();
      slot = static_cast<std::size_t>(pending_);
    }
    queue_[slot] = record;
    ++pending_;
    pendingSeen_ = pending_;
    noteHeadLocked();
    if (message != nullptr) messages_[record.getId()] = *message;
  }
  wake();
}

void VLResponder::enqueue(int id, bool mirror, const std::string& host, const std::string& url,
                          const std::string& cachePath, bool fromCache, bool toCache) {
  VLRequestRecord record(id);
  record.setMirror(mirror);
  record.setHost(host);
  record.setUrl(url);
  record.setToCache(toCache);
  record.setFromCache(fromCache);
  record.setCachePath(cachePath);
  enqueueRecord(record, nullptr);
}

void VLResponder::enqueueMessage(int id, const std::string& host, const std::string& url,
                                 const std::string& message) {
  VLRequestRecord record(id);
  record.setHost(host);
  record.setUrl(url);
  record.setReady(true);
  record.setNoResponse(true);
  enqueueRecord(record, &message);
}

bool VLResponder::isIdle() {
  VLAppLock lock(kQueueMutex);
  return !busy_ && pending_ <= 0;
}

bool VLResponder::startUnlessRunning() {
  {
    VLAppLock lock(kQueueMutex);
    if (!run_.claim()) return true;
  }
  // Claimed above; the thread is made outside the process-wide mutex.
  if (start() != 0) return true;
  VLAppLock lock(kQueueMutex);
  run_.release();
  return false;
}

bool VLResponder::isRunning() {
  VLAppLock lock(kQueueMutex);
  return run_.running();
}

int VLResponder::pendingCount() {
  VLAppLock lock(kQueueMutex);
  return pending_;
}

int VLResponder::notifierCount() {
  VLAppLock lock(kQueueMutex);
  int open = 0;
  for (const Notifier& n : notifiers_) open += n.socket != platform::kInvalidSocket ? 1 : 0;
  return open;
}

bool VLResponder::ensureWakePair() {
  std::lock_guard<std::mutex> guard(wakeMutex_);
  if (wakeRead_ != platform::kInvalidSocket) return true;
  platform::Socket reader = platform::kInvalidSocket;
  platform::Socket writer = platform::kInvalidSocket;
  if (!platform::socketPair(reader, writer)) return false;
  // A wake-up never waits: when the pair is full, the reader is awake anyway.
  platform::setBlocking(writer, false);
  wakeRead_ = reader;
  wakeWrite_ = writer;
  return true;
}

void VLResponder::wake() {
  std::lock_guard<std::mutex> guard(wakeMutex_);
  if (wakeWrite_ != platform::kInvalidSocket) platform::sendBytes(wakeWrite_, "w", 1);
}

void VLResponder::drainWake() {
  char bytes[256];
  platform::receiveBytes(wakeRead_, bytes, sizeof bytes);
}

void VLResponder::streamHead(std::vector<Delivery>& out) {
  if (pending_ <= 0) return;
  VLRequestRecord& head = queue_[head_];
  if (head.isFree() || head.getMirror() || head.getFromCache() || head.getNoResponse()) return;
  if (head.getToCache() && head.getPartsWritten() > kMaxCacheParts) {
    // A copy for the cache keeps every part until the answer is complete:
    // one that arrives in more parts than this is not kept, and the parts
    // sent already go (their bytes left the count when they were sent).
    head.setToCache(false);
    removePartFiles(head.getId(), 0, head.getPartsSent() - 1);
  }
  for (int k = head.getPartsSent(); k < head.getPartsWritten(); ++k) {
    out.push_back({partFilePath(tempPath, head.getId(), k), !head.getToCache(), false, false,
                   Delivery::kSendFile, nullptr, true, head.getId()});
  }
  head.setPartsSent(head.getPartsWritten());
  publishTakenLocked(head);
}

void VLResponder::publishTakenLocked(const VLRequestRecord& head) {
  headTaken_ = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(head.getId())) << 32) |
               static_cast<std::uint32_t>(head.getPartsSent());
}

void VLResponder::noteHeadLocked() {
  headId_ = pending_ > 0 ? queue_[head_].getId() : 0;
  if (pending_ <= 0) return;
  const VLRequestRecord& head = queue_[head_];
  if (head.isFree() || head.getMirror() || head.getFromCache() || head.getNoResponse()) return;
  if (partsTaken(head.getId()) < 0) publishTakenLocked(head);
}

int VLResponder::partsTaken(int id) const {
  const std::uint64_t taken = headTaken_.load();
  if (static_cast<std::uint32_t>(taken >> 32) != static_cast<std::uint32_t>(id)) return -1;
  return static_cast<int>(static_cast<std::uint32_t>(taken));
}

void VLResponder::stillArriving(int id) {
  VLAppLock lock(kQueueMutex);
  for (int i = 0; i < pending_; ++i) {
    VLRequestRecord& record = queue_[head_ + i];
    if (record.getId() != id) continue;
    if (!record.getReady()) record.touch();
    return;
  }
}

void VLResponder::handleNotice(int id, char kind, std::vector<Delivery>& out) {
  auto late = abandoned_.find(id);
  if (late != abandoned_.end()) {
    releaseBytes(std::max<std::int64_t>(removePart(partFilePath(tempPath, id, late->second)), 0));
    if (kind == '+') {
      ++late->second;
    } else {
      abandoned_.erase(late);
    }
    return;
  }
  for (int i = 0; i < pending_; ++i) {
    VLRequestRecord& record = queue_[head_ + i];
    if (record.getId() != id) continue;
    if (record.getReady()) {
      // Answered already (time-out, own page or a cut). A part of one given
      // up on that is still announced before the walk takes it goes at once.
      if (kind != '1' && timedOut_.count(id) > 0) {
        releaseBytes(std::max<std::int64_t>(
            removePart(partFilePath(tempPath, id, record.getPartsWritten())), 0));
        record.setPartsWritten(record.getPartsWritten() + 1);
      }
      return;
    }
    record.touch();
    if (kind == '+' || kind == '0') record.setPartsWritten(record.getPartsWritten() + 1);
    if (kind != '+') {
      record.setReady(true);
      record.setNoResponse(kind == '1');
    }
    if (i == 0 && kind != '1') streamHead(out);
    return;
  }
}

void VLResponder::deliveryWalk(std::vector<Delivery>& out) {
  while (pending_ > 0) {
    VLRequestRecord& head = queue_[head_];
    if (head.isFree()) break;
    if (!head.getReady()) {
      // It just became the head: what was announced for it goes out now.
      streamHead(out);
      break;
    }
    busy_ = true;
    VLRequestRecord record = head;
    --pending_;
    pendingSeen_ = pending_;
    ++head_;
    int id = record.getId();
    if (record.getNoResponse()) {
      std::string message = kNoResponse;
      auto own = messages_.find(id);
      if (own != messages_.end()) {
        message = own->second;
        messages_.erase(own);
      }
      releaseBytes(removePartFiles(id, record.getToCache() ? 0 : record.getPartsSent(), record.getPartsWritten()));
      if (timedOut_.erase(id) > 0 && abandoned_.size() < kMaxAbandoned) {
        // Its relay may still be writing (it had no "1" yet): whatever it
        // announces later is deleted then.
        abandoned_[id] = record.getPartsWritten();
      }
      if (record.getPartsSent() > 0) {
        // Part of the answer went out already: the browser learns of the
        // failure by the close, never by a page appended to a partial body.
        out.push_back({std::string(), false, true});
      } else {
        out.push_back({writeMessageResponse(record, message), true, false});
      }
    } else if (record.getMirror()) {
      out.push_back({std::string(), true, false, false, Delivery::kMirror,
                     std::make_shared<const VLRequestRecord>(record)});
    } else if (record.getFromCache()) {
      std::string path = record.getCachePath();
      replaceAll("/", "\\", path);
      out.push_back({path, false, false, false, Delivery::kCachedCopy, nullptr});
    } else {
      if (record.getToCache()) {
        out.push_back({std::string(), false, false, false, Delivery::kStore,
                       std::make_shared<const VLRequestRecord>(record)});
      }
      for (int k = record.getPartsSent(); k < record.getPartsWritten(); ++k) {
        out.push_back({partFilePath(tempPath, id, k), true, false, false, Delivery::kSendFile, nullptr, true, id});
      }
      // Its end was the server's close: only a close can end it for the
      // browser too, so nothing may follow it on this connection.
      if (takeEndsConnection(id)) out.push_back({std::string(), false, false, true});
    }
  }
}

void VLResponder::send(const std::vector<Delivery>& items) {
  for (const Delivery& item : items) {
    if (item.closeAfter || item.finishAfter) {
      platform::Socket s = browserSocket_.exchange(platform::kInvalidSocket);
      // A finish lets the bytes sent reach the browser before its end of
      // stream; the browser connection closes the socket once the browser
      // closed its side.
      if (s != platform::kInvalidSocket) {
        platform::shutdownSocket(s, item.closeAfter ? platform::ShutdownHow::Both
                                                    : platform::ShutdownHow::Send);
      }
      continue;
    }
    std::string path = item.path;
    if (item.work == Delivery::kStore) {
      storeInCache(*item.record);
      continue;
    }
    if (item.work == Delivery::kMirror) mirrorResponse(*this, *item.record, path);
    if (item.work == Delivery::kCachedCopy) {
      sendCachedCopy(path);
      continue;
    }
    std::uint64_t size = 0;
    bool opened = true;
    const bool streaming = browserSocket_.load() != platform::kInvalidSocket;
    if (sendFile(path, &size, &opened)) {
      lastProgressMs_ = platform::monotonicMilliseconds();
    } else if (item.part && size == 0) {
      // Not sent: its size still leaves the count when it is deleted.
      platform::FileStatus status;
      if (platform::statPath(path, status)) size = status.size;
    }
    if (item.remove) platform::removeFile(path);
    if (item.part) releaseBytes(static_cast<std::int64_t>(size));
    if (item.part && streaming && !opened) cutAtMissingPart(item.id, path);
  }
}

void VLResponder::cutAtMissingPart(int id, const std::string& path) {
  // What follows the gap would be taken for the bytes that are missing: the
  // browser sees the answer end short instead (its length is not reached).
  platform::Socket s = browserSocket_.exchange(platform::kInvalidSocket);
  if (s != platform::kInvalidSocket) platform::shutdownSocket(s, platform::ShutdownHow::Both);
  {
    const std::size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    static std::mutex logMutex;
    std::lock_guard<std::mutex> guard(logMutex);
    appendStartupLog("The answer to request " + std::to_string(id) + " was cut: its part file " + name +
                     " could not be read, so the browser connection ended there.");
  }
  VLAppLock lock(kQueueMutex);
  for (int i = 0; i < pending_; ++i) {
    VLRequestRecord& record = queue_[head_ + i];
    if (record.getId() != id) continue;
    // Still arriving: given up like a head that timed out, so its parts go
    // as they are announced, and those already announced with it.
    if (!record.getReady()) {
      record.setReady(true);
      record.setNoResponse(true);
      timedOut_.insert(id);
    }
    break;
  }
}

void VLResponder::sendCachedCopy(const std::string& path) {
  platform::File file;
  if (!file.open(path, platform::File::Read)) {
    const std::string page = responseHeader(500, kNoResponse, "text/html") + "\r\n";
    sendAll(page.data(), page.size());
    return;
  }
  if (sendOpenFile(file)) return;
  platform::Socket s = browserSocket_.exchange(platform::kInvalidSocket);
  if (s != platform::kInvalidSocket) platform::shutdownSocket(s, platform::ShutdownHow::Both);
}

void VLResponder::run() {
  {
    VLAppLock lock(kQueueMutex);
    if (!run_.enter()) return;
  }
  ensureWakePair();
  std::vector<platform::PollEntry> waitSet;
  std::vector<char> bytes(kNoticeReadBytes);
  std::int64_t idleSince = -1;
  for (;;) {
    bool headReady = false;
    int waitMs = kNoticeWaitMs;
    platform::Socket wakeSocket;
    {
      std::lock_guard<std::mutex> guard(wakeMutex_);
      wakeSocket = wakeRead_;
    }
    {
      VLAppLock lock(kQueueMutex);
      // With nothing pending the thread lingers a moment for the next record
      // of its connection instead of ending at once.
      const std::int64_t nowMs = platform::monotonicMilliseconds();
      if (pending_ > 0) {
        idleSince = -1;
      } else if (idleSince < 0) {
        idleSince = nowMs;
      }
      const bool lingerOver = pending_ <= 0 && nowMs - idleSince >= kLingerMs;
      if (getState() != kRunning || lingerOver || (pending_ > 0 && queue_[head_].isFree())) {
        // Decided under the same mutex as startUnlessRunning, so a record
        // enqueued from now on finds the thread not running and starts one.
        if (pending_ <= 0) resetQueue();
        // The state is left at stop requested before the run is left:
        // a thread started from then on is a new generation this one never
        // touches again.
        VLObject::stop();
        run_.leave();
        break;
      }
      waitSet.clear();
      for (const Notifier& n : notifiers_) {
        if (n.socket != platform::kInvalidSocket) waitSet.push_back({n.socket, platform::kPollReadable, 0});
      }
      if (wakeSocket != platform::kInvalidSocket) waitSet.push_back({wakeSocket, platform::kPollReadable, 0});
      if (pending_ <= 0) {
        waitMs = static_cast<int>(std::max<std::int64_t>(idleSince + kLingerMs - nowMs, 0));
      } else {
        VLRequestRecord& head = queue_[head_];
        std::int64_t now = vlRecordClock();
        // An overdue head is given up only after the notices that are already
        // there have been read (below): they may complete it.
        headReady = head.getReady() || now - head.getTimeStamp() > kNoNoticeSeconds;
        if (!headReady) {
          std::int64_t left = (head.getTimeStamp() + kNoNoticeSeconds + 1 - now) * 1000;
          waitMs = static_cast<int>(std::clamp<std::int64_t>(left, 0, kNoticeWaitMs));
        }
      }
    }
    int ready = 0;
    if (!waitSet.empty()) {
      ready = platform::pollSockets(waitSet.data(), waitSet.size(), headReady ? 0 : waitMs);
    } else if (!headReady) {
      sleepFor(0, 50000);  // no wake-up pair: look again soon
    }
    if (ready < 0 && platform::lastSocketError() == platform::kErrInterrupted) sleepFor(0, 500);

    // Only this thread reads the notice sockets: the bytes are taken before
    // mutex 2, which every connection's responder shares, and only what they
    // change is done under it.
    std::vector<std::pair<platform::Socket, std::string>> arrivals;
    for (const platform::PollEntry& e : waitSet) {
      if (ready <= 0 || e.ready == 0) continue;
      if (e.socket == wakeSocket) {
        drainWake();
        continue;
      }
      int got = platform::receiveBytes(e.socket, bytes.data(), bytes.size());
      // An empty text marks a notice connection that closed or failed.
      arrivals.emplace_back(e.socket, got > 0 ? std::string(bytes.data(), static_cast<std::size_t>(got))
                                              : std::string());
    }
    std::vector<Delivery> out;
    std::vector<platform::Socket> closing;
    {
      VLAppLock lock(kQueueMutex);
      for (const auto& [socket, text] : arrivals) {
        auto it = std::find_if(notifiers_.begin(), notifiers_.end(),
                               [&](const Notifier& n) { return n.socket == socket; });
        if (it == notifiers_.end()) continue;
        bool bad = text.empty();
        if (!bad) {
          it->carried += text;
          if (!it->keyed) {
            // Nothing is taken from a connection before it proved to be one
            // of this browser connection's relays.
            const std::size_t have = std::min(it->carried.size(), noticeKey_.size());
            bad = it->carried.compare(0, have, noticeKey_, 0, have) != 0;
            if (!bad && have == noticeKey_.size()) {
              it->carried.erase(0, have);
              it->keyed = true;
            }
          }
        }
        if (!bad && it->keyed) {
          std::size_t at = 0;
          while (it->carried.size() - at >= kNoticeLength) {
            VLNotice notice;
            if (!parseNotice(it->carried.data() + at, notice)) {
              // Not a relay of ours: nothing more is taken from it.
              bad = true;
              break;
            }
            at += kNoticeLength;
            handleNotice(notice.id, static_cast<char>(notice.kind), out);
          }
          if (!bad) it->carried.erase(0, at);
        }
        if (bad) {
          closing.push_back(it->socket);
          it->socket = platform::kInvalidSocket;
          it->carried.clear();
        }
      }
      if (pending_ > 0 && !queue_[head_].isFree()) {
        VLRequestRecord& head = queue_[head_];
        if (!head.getReady() && vlRecordClock() - head.getTimeStamp() > kNoNoticeSeconds) {
          head.setReady(true);
          head.setNoResponse(true);
          timedOut_.insert(head.getId());
        }
        deliveryWalk(out);
      }
      noteHeadLocked();
      if (!out.empty()) busy_ = true;
    }
    for (platform::Socket socket : closing) platform::closeSocket(socket);
    if (!arrivals.empty() || !out.empty()) lastProgressMs_ = platform::monotonicMilliseconds();
    if (!out.empty()) {
      send(out);
      VLAppLock lock(kQueueMutex);
      busy_ = false;
    }
  }
}

void VLResponder::startCancelled() {
  VLAppLock lock(kQueueMutex);
  run_.cancel();
}

void VLResponder::stop() {
  VLObject::stop();
  wake();
}

bool VLResponder::sendAll(const char* data, std::size_t length) {
  platform::Socket s = browserSocket_.load();
  if (s == platform::kInvalidSocket) return false;
  if (length == 0) return true;
  if (platform::sendAll(s, data, length, kBrowserSendMs)) return true;
  browserSocket_.compare_exchange_strong(s, platform::kInvalidSocket);
  return false;
}

bool VLResponder::sendFile(const std::string& path, std::uint64_t* size, bool* opened) {
  if (path.empty()) return false;
  platform::Socket s = browserSocket_.load();
  if (s == platform::kInvalidSocket) return false;
  // Straight from the file cache to the socket, in one call.
  const int sent = platform::sendFileContents(s, path, kBrowserSendMs, size);
  if (opened != nullptr) *opened = sent != 0;
  if (sent < 0) browserSocket_.compare_exchange_strong(s, platform::kInvalidSocket);
  return sent > 0;
}

bool VLResponder::sendOpenFile(platform::File& file) {
  // A small file needs no 64 KiB buffer, nor its zero-filling.
  const std::int64_t size = file.size();
  const std::size_t length =
      size >= 0 && size < static_cast<std::int64_t>(kFilePiece) ? static_cast<std::size_t>(size) + 1 : kFilePiece;
  std::unique_ptr<char[]> piece(new char[length]);
  for (;;) {
    long got = file.read(piece.get(), length);
    if (got < 0) return false;
    if (got == 0) return true;
    if (!sendAll(piece.get(), static_cast<std::size_t>(got))) return false;
  }
}

std::string VLResponder::responseHeader(int code, const std::string& reason,
                                        const std::string& contentType) {
  platform::CalendarTime t = platform::utcCalendar(platform::unixTime());
  char date[64];
  std::snprintf(date, sizeof date, "Date: %s%02d%s%04d %02d:%02d:%02d GMT\r\n",
                kDayNames[t.weekday % 7], t.day, kMonthNames[t.month % 12], t.year, t.hour,
                t.minute, t.second);
  std::string head = "HTTP/1.1 " + std::to_string(code) + " " + reasonText(reason) + "\r\n";
  head += date;
  head += "Server: Varlume Release 1.00.00 Linux.\r\n";
  head += "Content-Type: " + contentType + "\r\n";
  head += "Connection: Keep-Alive\r\n";
  head += "Keep-Alive: timeout=100, max=1000\r\n";
  head += "Content-Length: 0\r\n";
  return head;
}

namespace {

std::string writePage(int id, const std::string& text) {
  std::string path = messageFilePath(tempPath, id);
  platform::File file;
  if (file.open(path, platform::File::Write)) file.write(text);
  return path;
}

}  // namespace

std::string VLResponder::writeSuccessResponse(const VLRequestRecord& record) {
  return writePage(record.getId(), responseHeader(200, "Success", "text/html") + "\r\n");
}

std::string VLResponder::writeMessageResponse(const VLRequestRecord& record,
                                              const std::string& message) {
  return writePage(record.getId(), responseHeader(500, message, "text/html") + "\r\n");
}
