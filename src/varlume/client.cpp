#include "varlume/client.h"

#include <algorithm>
#include <string_view>

#include "foundation/app.h"
#include "foundation/strings.h"
#include "platform/clock.h"
#include "platform/local_addresses.h"
#include "platform/peer_user.h"
#include "varlume/service_keywords.h"
#include "varlume/settings.h"

namespace {

constexpr int kRecordMutex = 0;
constexpr int kSendLimitMs = 45000;
constexpr int kConnectSeconds = 20;
constexpr int kNotifierConnectSeconds = 5;
constexpr int kSendPiece = 65536;

// The service offset of a host written as a keyword, or -1.
int serviceOffset(const std::string& host) { return serviceKeywordOffset(host); }

// The upstream proxy is this proxy itself: a loopback name or address with
// the proxy's own listening port.
bool upstreamIsSelf() {
  if (proxyHost.empty() || proxyPort != listeningPort) return false;
  std::string upper = toUpper(trim(proxyHost, true));
  return upper == "LOCALHOST" || upper.rfind("127.", 0) == 0;
}

}  // namespace

VLClient::VLClient()
    : records_(kRecordGrowth), keepAliveExpiry_(platform::unixTime()) {}

VLClient::VLClient(const std::string& host, int port) : VLClient() {
  host_ = host;
  port_ = port;
}

VLClient::~VLClient() {
  // A lingering relay is woken and given a moment to leave its body.
  stopRelay();
  closeSockets();
  for (int i = 0; i < 400 && bodyActive() > 0; ++i) sleepFor(0, 5000);
}

void VLClient::assignTarget(const VLClient& other) {
  closeSockets();
  VLAppLock lock(kRecordMutex);
  pending_.clear();
  records_.assign(kRecordGrowth, VLRequestRecord());
  currentIndex_ = 0;
  pendingMethods_.clear();
  host_ = other.host_;
  port_ = other.port_;
  upstreamTarget_.clear();
  upstreamTargetPort_ = 0;
}

int VLClient::connectTo(const std::string& host, int port) {
  int offset = serviceOffset(host);
  if (offset >= 0) port = servicesPort + offset;
  std::string trimmed = trim(host, true);
  if (trimmed.empty() || port < 0) return 0;
  if (socket_.load() != platform::kInvalidSocket) closeSockets();
  // Unchanged fields are not written: the connection thread may be reading
  // them while a relay reconnects.
  const int connectedPort = port == 0 ? 80 : port;
  if (host_ != trimmed) host_ = trimmed;
  if (port_ != connectedPort) port_ = connectedPort;
  {
    VLAppLock lock(kRecordMutex);
    if (!run_.running()) pending_.clear();
  }
  sendFailed_ = false;
  platform::Socket s = platform::tcpSocket();
  if (s == platform::kInvalidSocket) return 0;
  platform::setBufferSizes(s, kSocketBufferBytes, kSocketBufferBytes);
  platform::setNoDelay(s);  // a request head goes out at once, also behind another
  std::string address = offset >= 0 ? std::string("127.0.0.1") : host_;
  if (!platform::connectSocket(s, address, port_, kConnectSeconds)) {
    platform::closeSocket(s);
    return 0;
  }
  // A service port that another user listens on is no service of this
  // user: not a byte goes there, and it counts as unreachable.
  if (offset >= 0 && !platform::listenerIsSameUser(s)) {
    platform::closeSocket(s);
    return 0;
  }
  socket_ = s;
  return 1;
}

bool VLClient::takeKeptConnection() {
  if (socket_.load() == platform::kInvalidSocket) return false;
  if (keepAliveFlag_.load() && platform::unixTime() > keepAliveExpiry_.load()) return false;
  VLAppLock lock(kRecordMutex);
  if (!isQueueIdle(true)) return false;
  kept_ = true;
  return true;
}

int VLClient::connectForRequest() {
  localRefusal_ = VLLocalRefusal::None;
  if (kept_.exchange(false) && socket_.load() != platform::kInvalidSocket) {
    // The kept connection reaches the target it reached before.
    if (serviceOffset(host_) < 0 && !passesLocalTest(targetHere_.load(), targetPort_.load())) return 0;
    reused_ = true;
    expectResendText();
    return 1;
  }
  reused_ = false;
  if (upstreamIsSelf()) return connectToWebTarget(host_, port_);
  if (serviceOffset(host_) >= 0) return connectTo(host_, port_);
  if (!proxyHost.empty() && proxyPort != -1) {
    // The upstream proxy connects to the target: its name tells. Once
    // connected the client's host is the proxy's; a reconnection is still
    // for the target the connection was made for.
    const std::string target = upstreamTarget_.empty() ? host_ : upstreamTarget_;
    const int port = upstreamTarget_.empty() ? (port_ == 0 ? 80 : port_) : upstreamTargetPort_;
    const bool here = namesThisMachine(target);
    if (!passesLocalTest(here, port)) return 0;
    if (upstreamTarget_ != target) upstreamTarget_ = target;
    if (upstreamTargetPort_ != port) upstreamTargetPort_ = port;
    if (connectTo(proxyHost, proxyPort) == 0) return 0;
    targetHere_ = here;
    targetPort_ = port;
    return 1;
  }
  return connectToWebTarget(host_, port_);
}

int VLClient::connectToWebTarget(const std::string& host, int port) {
  if (connectTo(host, port) == 0) return 0;
  platform::Endpoint local;
  platform::Endpoint peer;
  const platform::Socket s = socket_.load();
  const bool here = !platform::socketEndpoints(s, local, peer) || platform::isThisMachine(peer.address);
  if (!passesLocalTest(here, port_)) return 0;
  targetHere_ = here;
  targetPort_ = port_;
  return 1;
}

bool VLClient::passesLocalTest(bool here, int port) {
  const VLLocalRefusal refusal = localTargetRefusal(here, port, mayReachThisMachine_.load());
  if (refusal == VLLocalRefusal::None) return true;
  localRefusal_ = refusal;
  closeSockets();
  return false;
}

void VLClient::setNotificationPort(int port) { notificationPort_ = port; }

int VLClient::connectNotifier() {
  if (notificationPort_ < 0) return 0;
  if (notificationSocket_.load() != platform::kInvalidSocket) return 1;
  platform::Socket s = platform::tcpSocket();
  if (s == platform::kInvalidSocket) return 0;
  if (!platform::connectSocket(s, "127.0.0.1", notificationPort_, kNotifierConnectSeconds) ||
      (!noticeKey_.empty() &&
       !platform::sendAll(s, noticeKey_.data(), noticeKey_.size(), kNotifierConnectSeconds * 1000))) {
    platform::closeSocket(s);
    return 0;
  }
  notificationSocket_ = s;
  return 1;
}

void VLClient::closeConnection() {
  platform::Socket s = socket_.exchange(platform::kInvalidSocket);
  if (s != platform::kInvalidSocket) platform::closeSocket(s);
}

void VLClient::closeSockets() {
  closeConnection();
  wakeRelay();  // a lingering relay has nothing left to wait on
  platform::Socket n = notificationSocket_.exchange(platform::kInvalidSocket);
  if (n != platform::kInvalidSocket) platform::closeSocket(n);
  VLAppLock lock(kRecordMutex);
  if (!run_.running()) pending_.clear();
}

int VLClient::sendRequest(const char* data, int length) {
  if (socket_.load() == platform::kInvalidSocket) {
    if (sendFailed_ || !connectForRequest()) return -1;
  }
  if (data == nullptr || length <= 0) return 0;
  platform::Socket s = socket_.load();
  // The head of a GET or HEAD on a kept connection may be needed again.
  const bool resendable = length < 65536 && (std::string_view(data, std::min(length, 5)) == "HEAD " ||
                                             std::string_view(data, std::min(length, 4)) == "GET ");
  const bool kept = reused_.exchange(false);
  int sent = 0;
  bool failed = false;
  while (sent < length && !failed) {
    int piece = std::min(kSendPiece, length - sent);
    failed = !platform::sendAll(s, data + sent, static_cast<std::size_t>(piece), kSendLimitMs);
    if (!failed) sent += piece;
  }
  // The relay, which sends the request again on a new connection when the
  // server had closed the kept one, gets the text only now: it never closes
  // or replaces the socket while this thread still sends on it.
  if (kept) setResendText(resendable ? std::string(data, static_cast<std::size_t>(length)) : std::string());
  if (!failed) return sent;
  // A kept connection that failed under a request the relay sends again is
  // left to the relay, which meets the failure there.
  if (kept && resendable) return -1;
  sendFailed_ = true;
  // Only the socket that failed is closed, never one that replaced it.
  platform::Socket expected = s;
  if (socket_.compare_exchange_strong(expected, platform::kInvalidSocket)) platform::closeSocket(s);
  return -1;
}

void VLClient::queueRequest(int id, const std::string& method) {
  VLRequestRecord record(id);
  {
    VLAppLock lock(kRecordMutex);
    queueRecordLocked(record, method);
  }
  wakeRelay();
}

void VLClient::queueRecordLocked(const VLRequestRecord& record, const std::string& method) {
  // A queue with nothing due starts again at its first slot, so a client
  // that relays for long keeps its array small.
  if (currentIndex_ > 0 && isQueueIdle(true)) {
    currentIndex_ = 0;
    if (records_.size() > static_cast<std::size_t>(kRecordGrowth)) records_.resize(kRecordGrowth);
  }
  if (pendingMethods_.empty()) {
    pendingMethods_ = method;
  } else {
    pendingMethods_ += " " + method;
  }
  std::size_t i = static_cast<std::size_t>(std::max(currentIndex_, 0));
  while (i < records_.size() && !records_[i].isFree()) ++i;
  if (i >= records_.size()) {
    i = records_.size();
    records_.resize(records_.size() + kRecordGrowth);
  }
  records_[i] = record;
}

bool VLClient::matchesTarget(const std::string& host, int port) const {
  const bool upstream = !upstreamTarget_.empty();
  const int mine = upstream ? upstreamTargetPort_ : port_;
  return equalsIgnoreCase(trim(host, true), trim(upstream ? upstreamTarget_ : host_, true)) &&
         (port == 0 || port == mine);
}

bool VLClient::keepAliveOver() const {
  if (!keepAliveFlag_.load()) return true;
  return platform::unixTime() > keepAliveExpiry_.load() && !relayRunning();
}

bool VLClient::prepareForReuse() {
  VLAppLock lock(kRecordMutex);
  if (run_.running()) return false;
  if (static_cast<std::size_t>(currentIndex_) < records_.size() &&
      !records_[currentIndex_].isFree()) {
    return false;
  }
  resetRecordsLocked();
  currentIndex_ = 0;
  pending_.clear();
  return true;
}

bool VLClient::claimIfQuiet() {
  VLAppLock lock(kRecordMutex);
  std::int64_t now = platform::unixTime();
  if (lastClaimTime_ != 0 && now - lastClaimTime_ <= 10) return false;
  lastClaimTime_ = now;
  return true;
}

bool VLClient::isQueueIdle(bool mutexHeld) {
  if (!mutexHeld) vlApp.lock(kRecordMutex);
  bool idle = static_cast<std::size_t>(currentIndex_) >= records_.size() ||
              records_[currentIndex_].isFree();
  if (!mutexHeld) vlApp.unlock(kRecordMutex);
  return idle;
}

bool VLClient::startRelay() {
  {
    VLAppLock lock(kRecordMutex);
    if (!run_.claim()) return true;
  }
  // The claim above keeps every other start away; the thread itself is made
  // outside the process-wide mutex, which every connection's relays share.
  if (start() != 0) return true;
  VLAppLock lock(kRecordMutex);
  run_.release();
  return false;
}

void VLClient::startCancelled() {
  VLAppLock lock(kRecordMutex);
  run_.cancel();
}

bool VLClient::relayRunning() const {
  VLAppLock lock(kRecordMutex);
  return run_.running();
}

void VLClient::setKeepAlive(int seconds) {
  if (seconds >= 1) {
    keepAliveExpiry_ = platform::unixTime() + seconds;
    keepAliveFlag_ = true;
  } else {
    keepAliveFlag_ = false;
  }
}

void VLClient::appendPending(const char* bytes, std::size_t length) { pending_.append(bytes, length); }

void VLClient::clearPending() { pending_.clear(); }

std::string VLClient::pendingMethods() {
  VLAppLock lock(kRecordMutex);
  return pendingMethods_;
}

int VLClient::currentIndex() {
  VLAppLock lock(kRecordMutex);
  return currentIndex_;
}

int VLClient::recordCapacity() {
  VLAppLock lock(kRecordMutex);
  return static_cast<int>(records_.size());
}

VLRequestRecord VLClient::recordAt(int index) {
  VLAppLock lock(kRecordMutex);
  if (index < 0 || static_cast<std::size_t>(index) >= records_.size()) return VLRequestRecord();
  return records_[index];
}

void VLClient::resetRecordsLocked() {
  for (VLRequestRecord& r : records_) r.clear();
  pendingMethods_.clear();
}
