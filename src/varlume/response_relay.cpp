#include "varlume/response_relay.h"

#include <algorithm>
#include <chrono>

#include "foundation/app.h"
#include "foundation/strings.h"
#include "platform/clock.h"
#include "varlume/notice.h"
#include "varlume/part_files.h"
#include "varlume/responder.h"
#include "varlume/settings.h"

namespace {

constexpr int kRecordMutex = 0;
constexpr int kNoticeSendMs = 10000;
// The wait for the server (kRelayWaitMs) is renewed by an answer's first
// bytes and then only by progress: this many bytes more since the last
// renewal. An origin that trickles (a byte now and then) is thus given up
// kRelayWaitMs after its last progress, as a silent one is, while a slow
// download that still moves (1 KiB in 45 s, about 23 bytes a second) goes on.
constexpr std::size_t kRenewBytes = 1024;

}  // namespace

// The relay's view of the current part file and of its client.
class VLRelayPartSink : public VLRelaySink {
 public:
  VLRelayPartSink(VLClient& client, VLPartWriter& part) : client_(client), part_(part) {}
  bool writeBytes(const char* data, std::size_t length) override {
    if (!part_.write(data, length)) return false;
    if (client_.responder() != nullptr) client_.responder()->addWaitingBytes(static_cast<std::int64_t>(length));
    return true;
  }
  std::string takeMethod() override { return client_.takeMethodForRelay(); }
  void keepAliveSeconds(int seconds) override { client_.setKeepAlive(seconds); }
  void connectionClose() override { client_.setKeepAlive(0); }

 private:
  VLClient& client_;
  VLPartWriter& part_;
};

std::string VLClient::takeMethodForRelay() {
  VLAppLock lock(kRecordMutex);
  std::size_t blank = pendingMethods_.find(' ');
  std::string method = pendingMethods_.substr(0, blank);
  pendingMethods_ = blank == std::string::npos ? std::string() : trim(pendingMethods_.substr(blank + 1), false);
  return toUpper(trim(method, false));
}

namespace {

void sendNoticeOn(platform::Socket s, const std::string& text) {
  if (s == platform::kInvalidSocket || text.empty()) return;
  platform::sendAll(s, text.data(), text.size(), kNoticeSendMs);
}

}  // namespace

void VLClient::sendNotice(const std::string& text) { sendNoticeOn(notificationSocket_.load(), text); }

void VLClient::noticePart() { sendNotice(formatNotice(currentId_, VLNoticeKind::Part)); }

std::string VLClient::completeCurrentLocked() {
  if (currentIndex_ < 0 || static_cast<std::size_t>(currentIndex_) >= records_.size()) return std::string();
  VLRequestRecord& record = records_[currentIndex_];
  std::string text = formatNotice(record.getId(), VLNoticeKind::Complete);
  record.setReady(true);
  record.setId(0);
  ++currentIndex_;
  return text;
}

void VLClient::noticeComplete() {
  std::string text;
  {
    VLAppLock lock(kRecordMutex);
    text = completeCurrentLocked();
  }
  sendNotice(text);
}

void VLClient::noticeNoResponse(int index) {
  std::string text;
  {
    VLAppLock lock(kRecordMutex);
    if (index < 0 || static_cast<std::size_t>(index) >= records_.size()) return;
    VLRequestRecord& record = records_[index];
    text = formatNotice(record.getId(), VLNoticeKind::NoResponse);
    record.setReady(true);
    record.setNoResponse(true);
    record.setId(0);
    ++currentIndex_;
  }
  sendNotice(text);
}

std::string VLClient::flushLocked() {
  std::string texts;
  std::size_t from = static_cast<std::size_t>(std::max(currentIndex_, 0));
  for (std::size_t i = from; i < records_.size(); ++i) {
    VLRequestRecord& record = records_[i];
    if (record.isFree() || record.getReady()) continue;
    texts += formatNotice(record.getId(), VLNoticeKind::NoResponse);
    record.setReady(true);
    record.setNoResponse(true);
    record.setId(0);
    currentIndex_ = static_cast<int>(i) + 1;
  }
  // Every waiting request is answered: no method is due any more.
  pendingMethods_.clear();
  return texts;
}

void VLClient::flushNotices() {
  std::string texts;
  {
    VLAppLock lock(kRecordMutex);
    texts = flushLocked();
  }
  sendNotice(texts);
}

void VLClient::run() {
  {
    VLAppLock lock(kRecordMutex);
    if (!run_.enter()) return;
  }
  bool notifier = connectNotifier() != 0;
  int last = 1;
  int fives = 0;
  int samePending = 0;
  std::size_t lastPending = pending_.size();
  for (;;) {
    bool fatal = !notifier;
    while (!fatal && getState() == kRunning && last != -1 && last != -100 && last != 2 && last != 3 &&
           !isQueueIdle(false)) {
      // relayResponse waits on the socket itself: the pause between two
      // responses is that wait.
      last = relayResponse();
      fives = last == 5 ? fives + 1 : 0;
      samePending = (!pending_.empty() && pending_.size() == lastPending) ? samePending + 1 : 0;
      lastPending = pending_.size();
      if (fives >= 11 || samePending >= 10) {
        flushNotices();
        fatal = true;
      }
    }
    // An idle relay lingers a moment for the next request of its connection,
    // keeping its thread and its notice connection.
    if (!fatal && getState() == kRunning && last != -1 && last != 2 && last != 3 && lingerForRecord()) {
      last = 1;
      continue;
    }
    // The end is decided under the mutex together with the queue, so a
    // record queued meanwhile is either relayed here or finds no relay
    // running and starts one.
    std::string texts;
    platform::Socket n = platform::kInvalidSocket;
    {
      VLAppLock lock(kRecordMutex);
      bool stopping = fatal || getState() != kRunning || last == -1 || last == 2 || last == 3;
      if (!stopping && !isQueueIdle(true)) {
        last = 1;
        continue;
      }
      texts = flushLocked();
      resetRecordsLocked();
      // Once the run is left a new relay may start on this client at once:
      // this thread gives up its notice socket and its state before that,
      // so it can neither close the new relay's socket nor stop the new one.
      n = notificationSocket_.exchange(platform::kInvalidSocket);
      stop();
      run_.leave();
      lastClaimTime_ = 0;
    }
    sendNoticeOn(n, texts);
    if (n != platform::kInvalidSocket) platform::closeSocket(n);
    break;
  }
}

bool VLClient::lingerForRecord() {
  // Only a kept connection is worth waiting on: once it is closed, the
  // client is free for any target at once.
  auto over = [&] {
    return getState() != kRunning || !isQueueIdle(false) || socket_.load() == platform::kInvalidSocket;
  };
  std::unique_lock<std::mutex> lock(lingerMutex_);
  lingerWake_.wait_for(lock, std::chrono::milliseconds(kRelayLingerMs), over);
  return getState() == kRunning && !isQueueIdle(false);
}

void VLClient::wakeRelay() {
  std::lock_guard<std::mutex> lock(lingerMutex_);
  lingerWake_.notify_all();
}

void VLClient::stopRelay() {
  stop();
  wakeRelay();
}

void VLClient::expectResendText() {
  std::lock_guard<std::mutex> lock(lingerMutex_);
  resendText_.clear();
  resendExpected_ = true;
}

void VLClient::setResendText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(lingerMutex_);
    resendText_ = text;
    resendExpected_ = false;
  }
  lingerWake_.notify_all();
}

std::string VLClient::takeResendText() {
  std::lock_guard<std::mutex> lock(lingerMutex_);
  std::string text;
  text.swap(resendText_);
  resendExpected_ = false;
  return text;
}

bool VLClient::hasResendText() {
  // The relay may see the server's close before the connection thread has
  // sent the request: it waits for the text a moment.
  std::unique_lock<std::mutex> lock(lingerMutex_);
  lingerWake_.wait_for(lock, std::chrono::milliseconds(kResendTextWaitMs), [&] { return !resendExpected_; });
  return !resendText_.empty();
}

int VLClient::relayResponse() {
  int id = 0;
  {
    VLAppLock lock(kRecordMutex);
    if (socket_.load() != platform::kInvalidSocket &&
        static_cast<std::size_t>(currentIndex_) < records_.size()) {
      id = records_[currentIndex_].getId();
      queuedAt_ = records_[currentIndex_].getTimeStamp();
    } else if (socket_.load() != platform::kInvalidSocket) {
      id = 0;
    } else {
      id = -1;
    }
  }
  if (id < 0) {
    flushNotices();
    return -1;
  }
  if (id == 0) return -100;
  currentId_ = id;
  VLPartWriter part;
  if (!part.open(tempPath, id)) {
    closeConnection();
    flushNotices();
    return -1;
  }
  int result = relayOnce(part);
  if (result == kResend) {
    // The server had closed the kept connection before it read the request:
    // it is sent once more, whole, on a new connection.
    const std::string text = takeResendText();
    closeConnection();
    if (!text.empty() && connectForRequest() &&
        platform::sendAll(socket_.load(), text.data(), text.size(), kRelayWaitMs)) {
      result = relayOnce(part);
    }
    if (result == kResend) {
      part.discard();
      closeConnection();
      flushNotices();
      result = -1;
    }
  }
  return result;
}

int VLClient::relayOnce(VLPartWriter& part) {
  VLRelayPartSink sink(*this, part);
  framing_.begin();
  if (buffer_.size() < kReceiveBytes) buffer_.resize(kReceiveBytes);
  char* buffer = buffer_.data();
  long bytesRead = 0;
  platform::Socket s = socket_.load();

  auto fail = [&]() {
    part.discard();
    closeConnection();
    flushNotices();
    return -1;
  };
  // A request sent on a kept connection that the server closed before any
  // byte of the answer is sent again (GET and HEAD only, see sendRequest).
  auto failOrResend = [&]() {
    if (bytesRead == 0 && hasResendText()) return kResend;
    return fail();
  };
  auto complete = [&]() {
    part.close();
    if (framing_.endsOnlyByClose() && responder_ != nullptr) {
      responder_->markEndsConnection(currentId_);
    }
    // A connection the server ends is closed before the answer counts as
    // complete: from then on the queue is idle, and the next request must
    // not be given this connection and then be lost with it.
    if (framing_.endsConnection()) {
      pending_.clear();
      closeConnection();
    }
    noticeComplete();
    return 1;
  };
  // Record-clock seconds of the last notice or sign of life the delivery
  // side had of this answer: its no-answer wait runs from then.
  std::int64_t lastHeardOf = queuedAt_;
  // A relay whose connection ends announces nothing more: the end of the
  // connection sweeps what was announced, and this part goes with it.
  auto roll = [&]() {
    if (getState() == kStopRequested) return false;
    part.close();
    noticePart();
    lastHeardOf = vlRecordClock();
    return part.next();
  };
  auto rollIfFull = [&]() {
    if (part.bytes() < (part.part() == 0 ? kPartBytes : kLaterPartBytes)) return true;
    return roll();
  };
  // The delivery side takes this answer's parts as they come: it is the head
  // of the order and has taken every part announced so far. Only then is a
  // part that is not full announced, so an answer has few such parts at a time.
  auto takenAll = [&]() { return responder_ == nullptr || responder_->partsTaken(currentId_) >= part.part(); };
  // The server has nothing more ready: no byte received waits for bytes that
  // have not arrived. A part that cannot be announced yet grows instead, and
  // the delivery side hears that the answer is still coming.
  auto nothingReady = [&]() {
    if (part.bytes() == 0) return true;
    if (takenAll()) return roll();
    if (vlRecordClock() - lastHeardOf >= kPartWaitMs / 1000) {
      responder_->stillArriving(currentId_);
      lastHeardOf = vlRecordClock();
    }
    return true;
  };

  bool interimSeen = false;
  std::int64_t deadline = platform::monotonicMilliseconds() + kRelayWaitMs;
  std::size_t sinceRenewal = 0;  // bytes received since the wait was renewed
  for (;;) {
    std::size_t n = 0;
    if (!pending_.empty()) {
      n = std::min(pending_.size(), kReceiveBytes);
      std::copy(pending_.begin(), pending_.begin() + static_cast<long>(n), buffer);
      pending_.erase(0, n);
    } else {
      // No more is read while the parts waiting for the browser are at their
      // limit: the server then meets the back-pressure of the connection.
      bool waitedForRoom = false;
      while (responder_ != nullptr && !responder_->hasRoomFor(currentId_) &&
             getState() != kStopRequested && socket_.load() == s) {
        responder_->waitForRoom(currentId_, 100);
        waitedForRoom = true;
      }
      if (getState() == kStopRequested) return fail();
      if (socket_.load() != s) return failOrResend();
      std::int64_t now = platform::monotonicMilliseconds();
      if (waitedForRoom) {
        deadline = now + kRelayWaitMs;
        sinceRenewal = 0;
      }
      platform::PollEntry entry{s, platform::kPollReadable, 0};
      int ready = 0;
      // Past the deadline, bytes too few to renew it are not waited for:
      // the answer ends as if the server had gone silent.
      if (now < deadline) {
        if (part.bytes() > 0) {
          ready = platform::pollSockets(&entry, 1, 0);
          if (ready == 0 && !nothingReady()) return fail();
        }
        if (ready == 0) {
          std::int64_t wait = deadline - now;
          if (part.bytes() > 0) {
            // Held bytes go out as soon as the delivery side takes them: look
            // again soon (the head sooner than an answer behind it).
            const bool behind = responder_ != nullptr && responder_->partsTaken(currentId_) < 0;
            wait = std::min<std::int64_t>(wait, behind ? kBehindRecheckMs : kHeadRecheckMs);
          }
          if (wait < 0) wait = 0;
          entry.ready = 0;
          ready = platform::pollSockets(&entry, 1, static_cast<int>(wait));
        }
      }
      if (ready < 0) {
        if (platform::lastSocketError() == platform::kErrInterrupted) continue;
        return failOrResend();
      }
      if (ready == 0) {
        if (platform::monotonicMilliseconds() < deadline) continue;
        if (framing_.headSeen() && framing_.streamEnded() == VLRelayFraming::Result::Complete) {
          return complete();
        }
        part.discard();
        closeConnection();
        flushNotices();
        return bytesRead == 0 ? -2 : static_cast<int>(std::min<long>(bytesRead, 0x7fffffff));
      }
      if (entry.ready & platform::kPollInvalid) return failOrResend();
      int got = platform::receiveBytes(s, buffer, kReceiveBytes);
      if (got < 0) return failOrResend();
      if (got == 0) {
        if (framing_.headSeen() && framing_.streamEnded() == VLRelayFraming::Result::Complete) {
          closeConnection();
          return complete();
        }
        return failOrResend();
      }
      if (bytesRead == 0) takeResendText();  // the answer began: no resend
      n = static_cast<std::size_t>(got);
      lastInputMs_ = platform::monotonicMilliseconds();
      sinceRenewal += n;
      if (bytesRead == 0 || sinceRenewal >= kRenewBytes) {
        deadline = lastInputMs_ + kRelayWaitMs;
        sinceRenewal = 0;
      }
    }
    bytesRead += static_cast<long>(n);

    std::size_t offset = 0;
    while (offset < n) {
      std::size_t used = 0;
      VLRelayFraming::Result r = framing_.feed(buffer + offset, n - offset, used, sink);
      offset += used;
      if (r == VLRelayFraming::Result::Interim) {
        // The first interim head ("100 Continue") stands alone in its part,
        // so the browser has it before the final head. Later ones are bytes
        // of the current part like any others: a server that sends heads
        // without end never makes a file per head.
        if (!interimSeen) {
          interimSeen = true;
          if (!roll()) return fail();
        }
        continue;
      }
      if (r == VLRelayFraming::Result::Complete) {
        pending_.insert(0, buffer + offset, n - offset);
        return complete();
      }
      if (r == VLRelayFraming::Result::Failed) return fail();
      break;
    }
    if (!rollIfFull()) return fail();
  }
}
