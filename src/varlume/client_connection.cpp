#include "varlume/client_connection.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "foundation/app.h"
#include "foundation/strings.h"
#include "platform/clock.h"
#include "platform/peer_user.h"
#include "varlume/cache_lookup.h"
#include "varlume/cross_site_check.h"
#include "varlume/event_followup.h"
#include "varlume/notice.h"
#include "varlume/privileged_check.h"
#include "varlume/request_forwarding.h"
#include "varlume/request_intake.h"
#include "varlume/request_target.h"
#include "varlume/server.h"
#include "varlume/service_keywords.h"
#include "varlume/settings.h"

using platform::Socket;
using platform::kInvalidSocket;

namespace {

constexpr int kPoolMutex = 0;
constexpr int kHeadByteSeconds = 10;
constexpr int kBodyPiece = 65536;
// While the end of a connection waits for the browser to take the last
// bytes: how often it looks at what is left.
constexpr int kDrainLookMs = 250;
// After the browser's end of input: how long the answers due may make no
// progress before the connection ends.
constexpr int kStalledAfterCloseMs = 1000;
// How long the end of a connection waits for its relays to leave.
constexpr int kRelaysEndMs = 2000;
// While the delivery queue is full, or every client carries a request: how
// often the connection looks again.
constexpr int kQueueFullLookMs = 20;
// A browser that takes none of the bytes written to it for this long has
// stopped reading: its connection is ended (as a server that sends nothing
// is given up by the relay).
constexpr std::int64_t kStalledReaderMs = VLResponder::kNoNoticeSeconds * 1000;

// The hosts that name a local service program (the outgoing connection
// maps each to its own port).
bool isServiceKeyword(const std::string& host) { return serviceKeywordOffset(host) >= 0; }

bool beginsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

void shutAndClose(Socket socket) {
  if (socket == kInvalidSocket) return;
  platform::shutdownSocket(socket, platform::ShutdownHow::Both);
  platform::closeSocket(socket);
}

// Ends the browser connection after the last answer. A browser that stopped
// reading is reset at once (the accepted socket lingers 0 seconds). Any
// other gets an orderly end: no more sends, then the wait for its own close
// or for every byte written (the end of stream included) to have reached
// it, for as long as it keeps taking them; only then the close, which no
// longer resets, so nothing still on its way is thrown away.
void closeBrowser(Socket socket, bool stalled) {
  if (stalled) {
    shutAndClose(socket);
    return;
  }
  platform::shutdownSocket(socket, platform::ShutdownHow::Send);
  char scrap[4096];
  int unsent = platform::unsentBytes(socket);
  std::int64_t tookMs = platform::monotonicMilliseconds();
  while (unsent > 0) {
    platform::PollEntry wait{socket, platform::kPollReadable, 0};
    if (platform::pollSockets(&wait, 1, kDrainLookMs) > 0 &&
        platform::receiveBytes(socket, scrap, sizeof scrap) <= 0) {
      break;  // the browser closed its side (or failed)
    }
    const int now = platform::unsentBytes(socket);
    if (now != unsent) tookMs = platform::monotonicMilliseconds();
    unsent = now;
    if (platform::monotonicMilliseconds() - tookMs >= kStalledReaderMs) {
      stalled = true;
      break;
    }
  }
  if (!stalled) platform::setLinger(socket, false, 0);
  shutAndClose(socket);
}

}  // namespace

VLClientConnection::VLClientConnection() : lineBuffer_(new char[kLineBufferSize]()) {
  for (auto& client : clients_) client = std::make_unique<VLClient>();
  reset();
}

VLClientConnection::~VLClientConnection() {
  shutAndClose(notificationListener_);
  notificationListener_ = kInvalidSocket;
  // A thread's object is freed only once its body left: the relays and the
  // responder are stopped, woken, and waited for (bounded) first.
  for (auto& client : clients_) client->stop();
  for (auto& client : clients_) client->closeSockets();
  responder_.stop();
  const std::int64_t deadline = platform::monotonicMilliseconds() + kRelaysEndMs;
  auto bodiesLeft = [&] {
    if (responder_.bodyActive() > 0) return true;
    for (auto& client : clients_) {
      if (client->bodyActive() > 0) return true;
    }
    return false;
  };
  while (bodiesLeft() && platform::monotonicMilliseconds() < deadline) pause250();
  for (auto& client : clients_) client.reset();
  responder_.closeNotifiers();
  reset();
}

void VLClientConnection::reset() {
  browserSocket_.store(kInvalidSocket);
  browserDone_ = false;
  inUse_.store(false);
  std::memset(lineBuffer_.get(), 0, kLineBufferSize);
  owner_ = nullptr;
  readEnd_ = 0;
  readPosition_ = 0;
}

void VLClientConnection::setLineBuffer(const char* data, int length) {
  std::memset(lineBuffer_.get(), 0, kLineBufferSize);
  if (data != nullptr && length > 0) {
    std::memcpy(lineBuffer_.get(), data, std::min(length, kLineBufferSize));
  }
}

void VLClientConnection::pause250() {
  if (owner_ != nullptr) {
    owner_->waitFor(0, 250);
  } else {
    VLObject::sleepFor(0, 250);
  }
}

void VLClientConnection::run() {
  int granted = 0;
  platform::socketsStartup(0x0202, &granted);
  try {
    responder_.resetQueue();
    // A new key for each browser connection: notice connections of anyone
    // else, earlier relays of this entry included, are refused unread.
    noticeKey_ = makeNoticeKey();
    responder_.setNoticeKey(noticeKey_);
    responder_.setBrowserSocket(browserSocket());
    browserStalled_ = false;
    browserUnsent_ = 0;
    browserTookMs_ = platform::monotonicMilliseconds();
    int last = 1;
    for (;;) {
      if (getState() != kRunning || last == 2) break;
      // An idle connection ends only once the browser took every byte
      // written to it, or when it took none for a long time.
      if (last == 3 && responder_.isIdle() && (browserTookAll() || readerStalled())) break;
      // The wait of pollOnce stands for the loop's pause: it returns when the
      // browser or a relay has something, so no time is lost in between.
      last = pollOnce();
      if (last == 3 && !responder_.isIdle()) {
        VLAppLock lock(kPoolMutex);
        responder_.startUnlessRunning();
        last = 1;
      }
    }
    // A browser that ended its sending side still reads: what is due to it
    // is delivered before the connection ends.
    if (browserDone_) deliverWhatIsDue();
  } catch (...) {
    // Nothing escapes the thread: the entry is ended and freed below.
  }
  try {
    endConnection();
  } catch (...) {
    setInUse(false);
  }
  platform::socketsCleanup();
}

std::int64_t VLClientConnection::lastProgress() const {
  std::int64_t last = responder_.lastProgress();
  for (const auto& client : clients_) last = std::max(last, client->lastInput());
  return last;
}

bool VLClientConnection::browserTookAll() {
  const Socket socket = browserSocket();
  const int unsent = socket == kInvalidSocket ? 0 : platform::unsentBytes(socket);
  if (unsent != browserUnsent_) browserTookMs_ = platform::monotonicMilliseconds();
  browserUnsent_ = unsent;
  return unsent <= 0;
}

bool VLClientConnection::readerStalled() {
  browserStalled_ =
      browserUnsent_ > 0 && platform::monotonicMilliseconds() - browserTookMs_ >= kStalledReaderMs;
  return browserStalled_;
}

void VLClientConnection::deliverWhatIsDue() {
  // An end of input is a half close or a browser that left; only sending
  // would tell them apart. So the answers due are delivered while they make
  // progress (a browser that left resets the first send), and a second
  // without any ends the connection: a browser that left never holds its
  // entry until its answers time out.
  // Bytes waiting in the socket show a browser that is still there (one
  // that left resets them): then only a browser that takes none of them for
  // long ends the delivery.
  const std::int64_t start = platform::monotonicMilliseconds();
  const std::int64_t allowanceMs = (VLResponder::kNoNoticeSeconds + 15) * 1000;
  auto progressing = [&] {
    const std::int64_t now = platform::monotonicMilliseconds();
    const bool waiting = !browserTookAll();
    const std::int64_t taking = std::max(start, browserTookMs_);
    if (waiting && readerStalled()) return false;
    if (now - taking >= allowanceMs) return false;
    return waiting || now - std::max(start, lastProgress()) < kStalledAfterCloseMs;
  };
  while (getState() == kRunning && responder_.browserSocket() != kInvalidSocket &&
         !responder_.isIdle() && progressing()) {
    {
      VLAppLock lock(kPoolMutex);
      responder_.startUnlessRunning();
    }
    if (notificationListener_ == kInvalidSocket) {
      pause250();
      continue;
    }
    // Relays still announce over new notice connections: keep taking them.
    platform::PollEntry wait{notificationListener_, platform::kPollReadable, 0};
    if (platform::pollSockets(&wait, 1, 50) > 0) takeNotice();
  }
}

void VLClientConnection::endConnection() {
  responder_.stop();
  for (int i = 0; i < 5000 && (responder_.isRunning() || responder_.bodyActive() > 0); ++i) {
    pause250();
  }

  const Socket socket = browserSocket_.exchange(kInvalidSocket);
  if (socket != kInvalidSocket) closeBrowser(socket, browserStalled_);
  responder_.setBrowserSocket(kInvalidSocket);
  readEnd_ = 0;
  readPosition_ = 0;

  // The relays are stopped and their sockets closed, which ends their waits
  // at once; the sweep of the part files follows only when they have left,
  // so none writes a part after it (a stopped relay announces no more).
  for (auto& client : clients_) client->stopRelay();
  for (auto& client : clients_) client->closeSockets();
  const std::int64_t relaysDeadline = platform::monotonicMilliseconds() + kRelaysEndMs;
  for (auto& client : clients_) {
    while ((client->relayRunning() || client->bodyActive() > 0) &&
           platform::monotonicMilliseconds() < relaysDeadline) {
      pause250();
    }
    client->closeSockets();
  }
  responder_.removeUndelivered();
  responder_.resetQueue();
  closeResponderNotices();
  stop();
  setInUse(false);
  if (owner_ != nullptr) owner_->entryFreed();
}

void VLClientConnection::closeResponderNotices() {
  VLAppLock lock(kPoolMutex);
  responder_.closeNotifiers();
}

Socket VLClientConnection::listenOnAnyPort(int port) {
  // Notices come only from this process's relay threads over loopback, so
  // the listener takes loopback connections only.
  const Socket socket = platform::tcpSocket();
  if (socket == kInvalidSocket) return kInvalidSocket;
  if (!platform::bindSocket(socket, platform::kLoopbackAddress, port) ||
      platform::localPort(socket) < 0 || !platform::listenSocket(socket, 10) ||
      !platform::setBlocking(socket, false)) {
    platform::closeSocket(socket);
    return kInvalidSocket;
  }
  return socket;
}

void VLClientConnection::openNotificationListener(int port, int range) {
  if (notificationListener_ != kInvalidSocket) return;
  Socket socket = listenOnAnyPort(port);
  while (socket == kInvalidSocket && range > 0) {
    ++port;
    --range;
    socket = listenOnAnyPort(port);
  }
  notificationPort_ = port;
  notificationListener_ = socket;
  if (socket != kInvalidSocket) noteNoticePort(port);  // one past the range is the proxy's then
}

Socket VLClientConnection::acceptNotification(Socket listener) {
  return platform::acceptSocket(listener);
}

void VLClientConnection::takeNotice() {
  const Socket socket = acceptNotification(notificationListener_);
  if (socket == kInvalidSocket) return;
  platform::setLinger(socket, true, 0);
  // Notices come from this process's relays: another user's are never read.
  if (!platform::peerIsSameUser(socket)) {
    shutAndClose(socket);
    return;
  }
  responder_.addNotifier(socket);
}

int VLClientConnection::pollOnce() {
  const Socket socket = browserSocket();
  if (socket == kInvalidSocket) return 2;

  // As many answers pending as the delivery queue holds: no request is read
  // until it drains (the browser's bytes wait in the socket meanwhile).
  if (responder_.queueFull()) {
    if (notificationListener_ != kInvalidSocket) {
      platform::PollEntry wait{notificationListener_, platform::kPollReadable, 0};
      if (platform::pollSockets(&wait, 1, kQueueFullLookMs) > 0) takeNotice();
    } else {
      VLObject::sleepFor(0, kQueueFullLookMs * 1000);
    }
    return 1;
  }

  platform::PollEntry entries[2];
  std::size_t count = 0;
  entries[count++] = {socket, static_cast<short>(platform::kPollReadable | platform::kPollPriority), 0};
  const bool listening = notificationListener_ != kInvalidSocket;
  if (listening) entries[count++] = {notificationListener_, platform::kPollReadable, 0};
  // Bytes already read ahead are a request waiting: only look for notices.
  const bool buffered = readPosition_ < readEnd_;
  const int ready = platform::pollSockets(entries, count, buffered ? 0 : 1000);
  if (ready < 0) return platform::lastSocketError() == platform::kErrInterrupted ? 4 : 2;
  if (ready == 0 && !buffered) return 3;

  if (listening && (entries[1].ready & platform::kPollReadable) != 0) takeNotice();

  const short browser = entries[0].ready;
  const bool exception = (browser & (platform::kPollPriority | platform::kPollInvalid)) != 0;
  if (buffered || (browser & (platform::kPollReadable | platform::kPollHangup)) != 0) {
    pendingEventId = -1;
    browserUrl.clear();
    eventQuery.clear();
    int result = handleRequest();
    if (!eventQuery.empty()) result = followUpUnserved(result);
    if (result <= 0) return 2;
    return exception ? 2 : 1;
  }
  return exception ? 2 : 1;
}

int VLClientConnection::receiveFromBrowser(Socket socket, int seconds, char* buffer, int size) {
  if (socket == kInvalidSocket || size <= 0) return 0;
  try {
    if (socket == browserSocket() && readPosition_ < readEnd_) {
      const std::size_t count = std::min(static_cast<std::size_t>(size), readEnd_ - readPosition_);
      std::memcpy(buffer, readAhead_.get() + readPosition_, count);
      readPosition_ += count;
      return static_cast<int>(count);
    }
    for (;;) {
      platform::PollEntry entries[2];
      std::size_t count = 0;
      entries[count++] = {socket, platform::kPollReadable, 0};
      const bool listening = notificationListener_ != kInvalidSocket;
      if (listening) entries[count++] = {notificationListener_, platform::kPollReadable, 0};
      const int ready = platform::pollSockets(entries, count, seconds * 1000);
      if (ready < 0) {
        if (platform::lastSocketError() == platform::kErrInterrupted) continue;
        return -1;
      }
      if (ready == 0) return -1;
      if (listening && (entries[1].ready & platform::kPollReadable) != 0) takeNotice();
      if ((entries[0].ready & (platform::kPollReadable | platform::kPollHangup |
                               platform::kPollInvalid)) == 0) {
        continue;  // only a notice: wait again with the full time
      }
      if (socket != browserSocket()) {
        const int received = platform::receiveBytes(socket, buffer, static_cast<std::size_t>(size));
        return received > 0 ? received : 0;
      }
      // Read what has arrived, up to one buffer, and hand it out from there.
      // One buffer for the connection's life: nothing is made per request.
      if (!readAhead_) readAhead_.reset(new char[kReadAheadBytes]);
      const int received = platform::receiveBytes(socket, readAhead_.get(), kReadAheadBytes);
      if (received == 0) browserDone_ = true;  // the browser sends no more
      if (received <= 0) {
        readEnd_ = 0;
        readPosition_ = 0;
        return 0;
      }
      readEnd_ = static_cast<std::size_t>(received);
      const std::size_t handed = std::min(static_cast<std::size_t>(size), readEnd_);
      std::memcpy(buffer, readAhead_.get(), handed);
      readPosition_ = handed;
      return static_cast<int>(handed);
    }
  } catch (const std::exception&) {
    return 0;
  }
}

int VLClientConnection::handleRequest() {
  try {
    VLRequestHead head;
    std::string* text = !eventQuery.empty() ? &eventQuery : (!followUp.empty() ? &followUp : nullptr);
    if (text != nullptr) {
      VLRequestHead::Status status = VLRequestHead::kNeedMore;
      for (std::size_t i = 0; i < text->size() && status == VLRequestHead::kNeedMore; ++i) {
        status = head.addByte((*text)[i]);
      }
      if (status != VLRequestHead::kComplete) return 1;
    } else {
      for (;;) {
        char byte = 0;
        const int received = receiveFromBrowser(browserSocket(), kHeadByteSeconds, &byte, 1);
        if (received <= 0) return received;
        const VLRequestHead::Status status = head.addByte(byte);
        if (status == VLRequestHead::kComplete) break;
        // A head beyond the limits or malformed cannot be read on: where
        // it ends, and so where the next request would begin, is not known.
        if (status == VLRequestHead::kRefused || status == VLRequestHead::kMalformed) {
          return refuseAndStopReading();
        }
      }
    }
    return routeRequest(head);
  } catch (const std::exception&) {
    return 1;
  }
}

void VLClientConnection::answerWithMessage(const std::string& host, const std::string& path,
                                           const std::string& message) {
  if (owner_ == nullptr) return;
  const int id = owner_->nextSequence();
  responder_.enqueueMessage(id, host, path, message);
  ++answersQueued_;
  pendingEventId = -1;
  responder_.startUnlessRunning();
}

int VLClientConnection::refuseAndStopReading() {
  answerWithMessage(std::string(), std::string(), kRefusedMessage);
  browserDone_ = true;  // nothing more is read; the answers due still go out
  return 0;
}

int VLClientConnection::routeRequest(VLRequestHead& head) {
  // The proxy's own event query never gets an answer of its own; a
  // follow-up that cannot be served gets the fallback answer, never a query.
  const bool ownQuery = !eventQuery.empty();
  const bool ownFollowUp = !ownQuery && !followUp.empty();
  const VLRequestAnalysis analysis = analyseRequest(head, browserUrl);
  pageHost = analysis.target.pageHost;
  if (head.lines.empty()) return 1;
  const std::string& line = head.lines[0];
  const std::string& upperLine = head.upperLines[0];
  const VLRequestTarget& target = analysis.target;
  const VLForwardTexts texts = rewriteHeaders(head, analysis.service, pageHost, target.port);
  // A body whose end cannot be known would be read as further requests.
  if (!texts.bodyFramingOk) return refuseAndStopReading();
  const bool getOrHead = beginsWith(upperLine, "HEAD") || beginsWith(upperLine, "GET");
  const bool withBody = beginsWith(upperLine, "POST") || beginsWith(upperLine, "PROPFIND");
  // Whatever becomes of a request, its body is read before its answer, so
  // that its bytes are never taken for a request of their own. Only POST
  // and PROPFIND bodies are relayed; any other body is dropped at once.
  if (!analysis.accepted) {
    const int discarded = discardBody(texts.contentLength);
    if (discarded <= 0) return discarded;
    if (!ownQuery) answerWithMessage(std::string(), std::string(), kRefusedMessage);
    return 1;
  }
  const std::string host = hostValue(head.lines[head.hostIndex]);
  const std::string path = requestPath(line, upperLine);
  // A HEAD has no body to save: it never replaces a mirror file with an
  // empty one. A mirror record keeps the query, where MIRRORAS= may name
  // the file.
  const bool mirror = target.mirror && !beginsWith(upperLine, "HEAD");
  const std::string recordUrl = mirror ? requestUrl(line) : path;
  if (!withBody && texts.contentLength > 0) {
    const int discarded = discardBody(texts.contentLength);
    if (discarded <= 0) return discarded;
    if (getOrHead) {
      // Its head names a body that would never follow.
      answerWithMessage(pageHost, path, kRefusedMessage);
      return 1;
    }
  }
  // The body still due before an answer that is not relayed.
  const std::int64_t bodyDue = withBody ? texts.contentLength : 0;

  // Web requests: a fresh cached copy answers a GET at once.
  VLCacheDecision cache;
  if (!analysis.service) {
    cache = checkCache(*this, line, host, pageHost, target.port, mirror,
                       texts.contentLength > 0);
    if (cache.answered) {
      ++answersQueued_;
      return 1;
    }
  }

  // What cannot be served: its body is read and dropped first, so the next
  // request starts where it should; then the event query (or, for the
  // proxy's own requests, the fallback answer) takes its place.
  auto unserved = [&](const char* event) {
    const int discarded = discardBody(bodyDue);
    if (discarded <= 0) return discarded;
    if (ownFollowUp) {
      answerUnserved(*this, pageHost, path);
    } else if (!ownQuery) {
      eventQuery = eventQueryText(line, pageHost, event);
      unserved_ = {true, pageHost, path, beginsWith(upperLine, "HEAD")};
    }
    return 1;
  };

  // Other methods (CONNECT included: no tunnel is built) are never
  // forwarded; each gets the refusal in its place, without a connection.
  if (!getOrHead && !withBody) {
    answerWithMessage(pageHost, path, kRefusedMessage);
    return 1;
  }
  // Another site is checked by its host and port: a record for one port of
  // a host never opens its other ports.
  std::string crossSiteTarget = host;
  if (host.find(':') == std::string::npos &&
      (pageHost.find(':') != std::string::npos || (target.port != 80 && target.port != 0))) {
    crossSiteTarget += ":" + intToString(target.port);
  }
  bool mayReachThisMachine = false;
  if (!crossSiteAllowed(pageHost, crossSiteTarget, line, &mayReachThisMachine)) {
    return unserved(kNoCrossScriptEvent);
  }
  // Declarations are fetched before the service request takes its client,
  // and only for a request of the page itself: another site's page cannot
  // make records for it (the request still goes on to its service).
  if (analysis.service && getOrHead && upperLine.find("/CROSSSITESCRIPT") != std::string::npos &&
      namesItsOwnPage(head.lines, pageHost)) {
    fetchCrossSiteDeclarations(line);
  }

  int slot = -1;
  VLClient* client = clientFor(host, target.port, slot);
  // Every client carries a request: no further request is read until one
  // is free (the browser's bytes wait in its socket), so this one still
  // gets its own answer. Answers that make no progress for long end it.
  const std::int64_t waitStart = platform::monotonicMilliseconds();
  while (client == nullptr && getState() == kRunning &&
         platform::monotonicMilliseconds() - std::max(waitStart, lastProgress()) < kStalledReaderMs) {
    waitTakingNotices(kQueueFullLookMs);
    client = clientFor(host, target.port, slot);
  }
  if (client == nullptr) return unserved(kNoWebEvent);
  client->setMayReachThisMachine(mayReachThisMachine);
  if (client->connectForRequest() == 0) {
    // Another site's server on this machine that declared nothing here is
    // refused like any undeclared site; the proxy's own ports are no site.
    return unserved(client->localRefusal() == VLLocalRefusal::Undeclared ? kNoCrossScriptEvent : kNoWebEvent);
  }
  const std::string& text = (!proxyHost.empty() && !analysis.service) ? texts.upstream : texts.origin;
  const std::string method = toUpper(trim(requestMethod(line, upperLine), true));

  if (getOrHead) {
    const int id = owner_->nextSequence();
    client->queueRequest(id, method);
    if (eventQuery.empty()) {
      responder_.enqueue(id, mirror, pageHost, recordUrl, cache.cachePath, false, cache.toCache);
      ++answersQueued_;
      pendingEventId = -1;
      responder_.startUnlessRunning();
    } else {
      pendingEventId = id;
      queryClientSlot_ = slot;
    }
    startRelay(*client);
    client->sendRequest(text.data(), static_cast<int>(text.size()));
    return 1;
  }

  // A request to a service names the page host in its Host line.
  renewPostMarker(line, analysis.service ? trim(pageHost, true) : host,
                  analysis.service ? 80 : target.port);
  if (client->sendRequest(text.data(), static_cast<int>(text.size())) != static_cast<int>(text.size())) {
    return 0;
  }
  std::int64_t remaining = texts.contentLength;
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(std::max<std::int64_t>(remaining, 1), kBodyPiece)));
  while (remaining > 0) {
    const int want = static_cast<int>(std::min<std::int64_t>(remaining, kBodyPiece));
    const int received = receiveFromBrowser(browserSocket(), kHeadByteSeconds, buffer.data(), want);
    if (received <= 0) {
      client->closeSockets();
      return received;
    }
    // A body is never sent with a hole, nor its tail on another connection.
    if (client->sendRequest(buffer.data(), received) != received) return 0;
    remaining -= received;
  }
  const int id = owner_->nextSequence();
  client->queueRequest(id, method);
  responder_.enqueue(id, mirror, pageHost, recordUrl, cache.cachePath, false, cache.toCache);
  ++answersQueued_;
  responder_.startUnlessRunning();
  startRelay(*client);
  return 1;
}

int VLClientConnection::discardBody(std::int64_t length) {
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(length, kBodyPiece)));
  while (length > 0) {
    const int want = static_cast<int>(std::min<std::int64_t>(length, kBodyPiece));
    const int received = receiveFromBrowser(browserSocket(), kHeadByteSeconds, buffer.data(), want);
    if (received <= 0) return received;
    length -= received;
  }
  return 1;
}

void VLClientConnection::startRelay(VLClient& client) {
  client.setNotificationPort(notificationPort_);
  client.setResponder(&responder_);
  client.setNoticeKey(noticeKey_);
  client.startRelay();
}

bool VLClientConnection::crossSiteAllowed(const std::string& pageHostText,
                                          const std::string& targetHost,
                                          const std::string& requestLine, bool* mayReachThisMachine) {
  VLServer* server = owner();
  return ::crossSiteAllowed(pageHostText, targetHost, requestLine,
                            [server](VLCrossSiteRecord& out, const std::string& page, const std::string& site) {
                              return server != nullptr && server->findCrossSite(out, page, site);
                            },
                            mayReachThisMachine);
}

VLClient* VLClientConnection::clientFor(const std::string& host, int port, int& slot) {
  slot = -1;
  // Close the idle connections whose keep-alive time is over.
  for (auto& client : clients_) {
    if (client->keepAliveOver() && client->socket() != kInvalidSocket && !client->relayRunning()) {
      client->closeSockets();
    }
  }
  // A client bound to the same target; a service is matched by name alone,
  // since its client holds the service's port.
  const int matchPort = isServiceKeyword(host) ? 0 : port;
  // First a connection the server kept open with nothing due on it: it is
  // used as it is, without a new connection (its relay may still linger).
  for (int i = 0; i < kClientCount; ++i) {
    VLClient& client = *clients_[i];
    if (client.matchesTarget(host, matchPort) && client.takeKeptConnection()) {
      slot = i;
      return &client;
    }
  }
  for (int i = 0; i < kClientCount; ++i) {
    VLClient& client = *clients_[i];
    if (client.matchesTarget(host, matchPort) && !client.relayRunning() &&
        client.prepareForReuse() && client.claimIfQuiet()) {
      client.closeSockets();
      slot = i;
      return &client;
    }
  }
  const VLClient templateClient(host, port);
  slot = pickReusableClient(templateClient);
  if (slot < 0) return nullptr;
  return clients_[slot].get();
}

int VLClientConnection::pickReusableClient(const VLClient& templateClient) {
  int chosen = -1;
  {
    VLAppLock lock(kPoolMutex);
    for (int i = 0; i < kClientCount && chosen < 0; ++i) {
      VLClient& client = *clients_[i];
      if (client.keepAliveOver() && client.isQueueIdle(true) && !client.relayRunning() &&
          client.claimIfQuiet()) {
        chosen = i;
      }
    }
    // None is free by those tests: any client without work may take the
    // target; a client with work is never given another target's request.
    for (int i = 0; i < kClientCount && chosen < 0; ++i) {
      VLClient& client = *clients_[i];
      if (client.isQueueIdle(true) && !client.relayRunning()) chosen = i;
    }
  }
  if (chosen < 0) return -1;
  // Closing may wait for unsent bytes: never under the mutex.
  clients_[chosen]->closeSockets();
  clients_[chosen]->assignTarget(templateClient);
  return chosen;
}
