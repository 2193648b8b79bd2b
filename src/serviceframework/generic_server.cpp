#include "serviceframework/generic_server.h"

#include <cstdio>
#include <cstdlib>

#include "platform/files.h"
#include "platform/peer_user.h"
#include "serviceframework/service_settings.h"

namespace {

constexpr int kBusyRoundPauseMicroseconds = 1000;
constexpr int kAcceptFailurePauseMicroseconds = 10000;

}  // namespace

VLGenericServer::VLGenericServer() = default;

VLGenericServer::~VLGenericServer() {
  destroyPool();
  closeListener();
}

void VLGenericServer::run() { getState(); }

void VLGenericServer::setHandlerPool(HandlerPool handlers) {
  destroyPool();
  pool = std::make_unique<HandlerPool>(std::move(handlers));
  for (std::size_t i = 0; i < pool->size(); ++i) {
    if ((*pool)[i]) (*pool)[i]->setTempId(static_cast<int>(i));
  }
}

void VLGenericServer::destroyPool() {
  if (!pool) return;
  for (const auto& handler : *pool) {
    if (handler && handler->bodyActive() > 0) {
      // A handler thread still runs on it: leaving the pool is the only safe choice.
      pool.release();
      return;
    }
  }
  pool.reset();
}

int VLGenericServer::nextHandlerIndex() {
  roundRobinIndex = (roundRobinIndex >= kPoolSize - 1 || roundRobinIndex < 0) ? 0 : roundRobinIndex + 1;
  return roundRobinIndex;
}

VLGenericHandler* VLGenericServer::pooledHandler(int index) const {
  if (!pool || index < 0 || index >= kPoolSize || static_cast<std::size_t>(index) >= pool->size()) {
    return nullptr;
  }
  return (*pool)[static_cast<std::size_t>(index)].get();
}

int VLGenericServer::findFreeHandler() {
  int looked = 0;
  bool anyHandler = false;
  for (;;) {
    int index = nextHandlerIndex();
    if (index < 0) return -1;
    VLGenericHandler* handler = handlerAt(index);
    // Free means: the busy flag is clear and the last thread has left the handler.
    if (handler != nullptr && !handler->isBusy() && handler->bodyActive() == 0) return index;
    anyHandler = anyHandler || handler != nullptr;
    if (++looked >= kPoolSize) {
      if (!anyHandler) return -1;
      looked = 0;
      sleepFor(0, kBusyRoundPauseMicroseconds);
    }
  }
}

void VLGenericServer::assignHandler(int index, platform::Socket socket) {
  VLGenericHandler* handler = handlerAt(index);
  if (handler == nullptr) {
    platform::closeSocket(socket);
    return;
  }
  handler->reset();
  handler->setBusy(true);
  handler->adoptSocket(socket);
  handler->setServer(this);
}

void VLGenericServer::startPooledHandler(int index) {
  VLGenericHandler* handler = handlerAt(index);
  if (handler == nullptr) return;
  if (handler->start() == 0) {
    handler->adoptSocket(platform::kInvalidSocket);
    handler->setBusy(false);
  }
}

void VLGenericServer::createTempDirectory() {
  // Bodies and uploads are lost without their folder: make it and its parents.
  const std::string& folder = tempDirectory;
  for (std::size_t at = folder.find_first_of("\\/", 1); ; at = folder.find_first_of("\\/", at + 1)) {
    std::string prefix = folder.substr(0, at);
    if (!prefix.empty() && !platform::isDirectory(prefix)) platform::makeDirectory(prefix);
    if (at == std::string::npos) break;
  }
}

void VLGenericServer::pauseAfterAccept(int seconds, int microseconds) { sleepFor(seconds, microseconds); }

void VLGenericServer::endProcess() {
  std::fflush(stdout);
  // Handler threads may still run: no static destructor may run under them.
  std::_Exit(1);
}

void VLGenericServer::closeListener() {
  if (listeningSocket == platform::kInvalidSocket) return;
  platform::closeSocket(listeningSocket);
  listeningSocket = platform::kInvalidSocket;
}

platform::Socket VLGenericServer::openListener(int port) {
  platform::Socket listener = platform::tcpSocket();
  if (listener == platform::kInvalidSocket) endProcess();
  platform::setBufferSizes(listener, kSocketBufferBytes, kSocketBufferBytes);
  platform::setLinger(listener, true, 20);
  // A restart must not fail on connections of an earlier run in TIME_WAIT.
  platform::setReuseAddress(listener);
  if (!platform::bindSocket(listener, platform::kLoopbackAddress, port)) endProcess();
  if (platform::localPort(listener) < 0) endProcess();
  if (!platform::listenSocket(listener, kListenBacklog)) endProcess();
  listeningSocket = listener;
  return listener;
}

void VLGenericServer::serve(int port) {
  closeListener();
  openListener(port);
  createTempDirectory();
  // Spent only when no descriptor is left: a client is then refused at once.
  platform::holdDescriptorReserve();

  for (;;) {
    platform::PollEntry entry{listeningSocket, platform::kPollReadable, 0};
    int ready = platform::pollSockets(&entry, 1, kAcceptWaitMilliseconds);
    if (ready < 0) {
      if (platform::lastSocketError() == platform::kErrInterrupted) continue;
      endProcess();
    }
    if (ready == 0) continue;
    if (entry.ready & platform::kPollInvalid) endProcess();

    platform::Socket accepted = platform::acceptSocket(listeningSocket);
    if (accepted == platform::kInvalidSocket) {
      // Out of descriptors, or the peer gave up: try again later, hand nothing
      // on. Without descriptors the waiting client is refused, not left waiting.
      if (platform::lastSocketError() == platform::kErrTooManyOpen) {
        platform::refuseWaitingConnection(listeningSocket);
      }
      sleepFor(0, kAcceptFailurePauseMicroseconds);
      continue;
    }
    platform::setLinger(accepted, true, 0);
    // Each user's services serve only that user.
    if (!platform::peerIsSameUser(accepted)) {
      platform::closeSocket(accepted);
      continue;
    }
    int index = getNextAvailableHandler(accepted);
    if (index >= 0) {
      startHandler(index);
      pauseAfterAccept(0, 500);
    } else {
      platform::closeSocket(accepted);
    }
  }
}

void VLGenericServer::closeServer() {
  destroyPool();
  closeListener();
  roundRobinIndex = -1;
}
