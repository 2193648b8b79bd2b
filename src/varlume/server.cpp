#include "varlume/server.h"

#include <chrono>
#include <cstdlib>

#include "foundation/app.h"
#include "foundation/object.h"
#include "foundation/strings.h"
#include "platform/clock.h"
#include "platform/peer_user.h"
#include "varlume/client_connection.h"
#include "varlume/settings.h"
#include "varlume/startup_log.h"

using platform::Socket;
using platform::kInvalidSocket;

namespace {

// Pause of the accept loop while every entry is busy or an accept failed:
// browsers wait in the listen backlog meanwhile.
constexpr int kBusyPauseMicroseconds = 50000;
constexpr int kAcceptWaitMs = 10000;
// The process-wide mutex that also guards the pool and every client queue.
constexpr int kCrossSiteMutex = 0;
// After an entry was freed: the look again for its thread to have left.
constexpr int kFreedLookMicroseconds = 200;
// After an entry could not be made (no notice port left): the pause before
// the next attempt.
constexpr int kGrowthRetryMs = 1000;
// How long the destructor waits for the connection threads to leave: the
// responder's and the relays' own bounds, with room.
constexpr int kConnectionsEndMs = 6000;

void shutAndClose(Socket socket) {
  if (socket == kInvalidSocket) return;
  platform::shutdownSocket(socket, platform::ShutdownHow::Both);
  platform::closeSocket(socket);
}

}  // namespace

VLServer::VLServer(int mutexIndex) : mutexIndex_(mutexIndex) {
  for (int i = 0; i < kPoolCapacity; ++i) pool_[i] = std::make_unique<VLClientConnection>();
  poolSize_ = kPoolCapacity;
}

VLServer::~VLServer() {
  running_ = 0;
  const int size = poolSize_.load();
  for (int i = 0; i < size; ++i) {
    VLClientConnection* entry = pool_[i].get();
    entry->stop();
    const Socket socket = entry->browserSocket();
    if (socket != kInvalidSocket) shutAndClose(socket);
  }
  shutAndClose(listenSocket_);
  listenSocket_ = kInvalidSocket;
  // An entry is freed only once its connection thread has left: a stopped
  // connection ends its relays and responder within a few seconds.
  const std::int64_t deadline = platform::monotonicMilliseconds() + kConnectionsEndMs;
  for (int i = 0; i < size; ++i) {
    while (pool_[i]->bodyActive() > 0 && platform::monotonicMilliseconds() < deadline) waitFor(0, 250);
  }
  for (auto& entry : pool_) entry.reset();
}

void VLServer::waitFor(int seconds, int microseconds) { VLObject::sleepFor(seconds, microseconds); }

void VLServer::entryFreed() {
  {
    std::lock_guard<std::mutex> lock(freedMutex_);
    ++freedCount_;
  }
  freed_.notify_all();
}

bool VLServer::openListener(int port) {
  const Socket socket = platform::tcpSocket();
  if (socket == kInvalidSocket) return false;
  // Address reuse lets a restart bind while old connections linger in
  // TIME_WAIT; it never admits two live listeners on one port. A listener
  // that does not block keeps a connection that vanishes between the wait
  // and the accept from stalling the loop.
  if (!platform::setReuseAddress(socket) ||
      !platform::bindSocket(socket, platform::kLoopbackAddress, port) ||
      platform::localPort(socket) < 0 || !platform::listenSocket(socket, 10) ||
      !platform::setBlocking(socket, false)) {
    platform::closeSocket(socket);
    return false;
  }
  listenSocket_ = socket;
  listenPort_ = port;
  return true;
}

Socket VLServer::acceptConnection(Socket listener) {
  const Socket socket = platform::acceptSocket(listener);
  if (socket == kInvalidSocket) return socket;
  platform::setBlocking(socket, true);
  // Each answer goes out as it is written: pipelined answers behind a first
  // one never wait for the browser's delayed acknowledgement.
  platform::setNoDelay(socket);
  return socket;
}

bool VLServer::isEntryFree(int index) const {
  const VLClientConnection& entry = *pool_[index];
  return !entry.inUse() && entry.bodyActive() == 0 && entry.responder().bodyActive() == 0;
}

int VLServer::takeConnectionSlot(Socket socket) {
  const int size = poolSize_.load();
  for (int i = 0; i < size; ++i) {
    if (!isEntryFree(i)) continue;
    VLClientConnection& entry = *pool_[i];
    // The listener is opened the first time the entry is taken and kept; an
    // entry that could not open one is tried again at its next take.
    if (entry.notificationListener() == kInvalidSocket) {
      entry.setNotificationPort(internalPort);
      entry.openNotificationListener(internalPort, internalRange);
      if (entry.notificationListener() == kInvalidSocket) continue;
    }
    entry.reset();
    entry.setInUse(true);
    entry.setBrowserSocket(socket);
    entry.setOwner(this);
    return i;
  }
  return -1;
}

bool VLServer::growPool() {
  const int size = poolSize_.load();
  if (size >= kPoolLimit) return false;
  // Made outside the mutex, which every connection shares; only this thread
  // adds entries, so the slot stays its own until it is published.
  auto entry = std::make_unique<VLClientConnection>();
  // An entry without a notification listener could serve no browser: when
  // no port of the range is left, none is made and browsers wait instead.
  entry->setNotificationPort(internalPort);
  entry->openNotificationListener(internalPort, internalRange);
  if (entry->notificationListener() == kInvalidSocket) return false;
  pool_[size] = std::move(entry);
  VLAppLock lock(mutexIndex_);
  poolSize_ = size + 1;
  return true;
}

int VLServer::nextSequence() {
  VLAppLock lock(mutexIndex_);
  sequence_ = sequence_ >= kMaxSequence ? 1 : sequence_ + 1;
  return sequence_;
}

void VLServer::storeCrossSite(const VLCrossSiteRecord& record) {
  VLAppLock lock(kCrossSiteMutex);
  crossSites_.store(record);
}

bool VLServer::findCrossSite(VLCrossSiteRecord& out, const std::string& pageHost,
                             const std::string& domain) {
  bool found = false;
  {
    VLAppLock lock(kCrossSiteMutex);
    found = crossSites_.find(out, pageHost, domain);
  }
  // The copy is tested outside the lock.
  if (found && out.isExpired()) {
    out.reset();
    found = false;
  }
  return found;
}

Socket VLServer::serve(int /*listenPort*/, int /*internalPort*/) {
  if (listenSocket_ == kInvalidSocket) return kInvalidSocket;
  waitFor(0, 250);
  // Spent only when no descriptor is left: a browser is then refused at once.
  platform::holdDescriptorReserve();

  std::int64_t nextGrowthMs = 0;
  while (running_ != 0) {
    // Accept only when an entry can take the connection.
    bool anyFree = false;
    {
      VLAppLock lock(mutexIndex_);
      for (int i = 0; i < poolSize_.load() && !anyFree; ++i) anyFree = isEntryFree(i);
    }
    // Every entry is busy and a browser waits: one more entry is made for it
    // (after a failure, not again for a while).
    if (!anyFree && poolSize_.load() < kPoolLimit && platform::monotonicMilliseconds() >= nextGrowthMs) {
      platform::PollEntry waiting{listenSocket_, platform::kPollReadable, 0};
      if (platform::pollSockets(&waiting, 1, 0) > 0 && (waiting.ready & platform::kPollReadable) != 0) {
        anyFree = growPool();
        if (!anyFree) nextGrowthMs = platform::monotonicMilliseconds() + kGrowthRetryMs;
      }
    }
    if (!anyFree) {
      // Woken when a connection ends; the entry is free a moment later, when
      // its thread has left its body.
      std::unique_lock<std::mutex> lock(freedMutex_);
      const std::uint64_t seen = freedCount_;
      if (freed_.wait_for(lock, std::chrono::microseconds(kBusyPauseMicroseconds),
                          [&] { return freedCount_ != seen; })) {
        lock.unlock();
        waitFor(0, kFreedLookMicroseconds);
      }
      continue;
    }

    platform::PollEntry wait{listenSocket_, platform::kPollReadable, 0};
    const int ready = platform::pollSockets(&wait, 1, kAcceptWaitMs);
    if (ready < 0) {
      const int error = platform::lastSocketError();
      if (error == platform::kErrInterrupted || error == platform::kErrBadHandle) continue;
      std::exit(1);
    }
    if (ready == 0 || (wait.ready & platform::kPollReadable) == 0) continue;

    const Socket socket = acceptConnection(listenSocket_);
    if (socket == kInvalidSocket) {
      // Nothing was taken (the connection vanished, or no descriptor is
      // left): no entry is bound to it. Without descriptors the browser is
      // refused, not left waiting; then a pause, unless it merely vanished.
      const int error = platform::lastSocketError();
      if (error == platform::kErrTooManyOpen) platform::refuseWaitingConnection(listenSocket_);
      if (error != platform::kErrWouldBlock) waitFor(0, kBusyPauseMicroseconds);
      continue;
    }
    platform::setLinger(socket, true, 0);
    // Each user's proxy serves only that user.
    if (!platform::peerIsSameUser(socket)) {
      shutAndClose(socket);
      continue;
    }

    int index;
    {
      VLAppLock lock(mutexIndex_);
      index = takeConnectionSlot(socket);
    }
    if (index < 0) {
      shutAndClose(socket);
      continue;
    }
    if (pool_[index]->start() == 0) {
      // No thread: the entry serves nothing and is free again.
      VLAppLock lock(mutexIndex_);
      pool_[index]->reset();
      shutAndClose(socket);
    }
  }
  return listenSocket_;
}
