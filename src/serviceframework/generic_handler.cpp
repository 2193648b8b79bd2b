// The handler's life with its pool: construction, the connection loop, the
// hand-over accessors, temporary names and reset.
#include "serviceframework/generic_handler.h"

#include <climits>
#include <exception>

#include "foundation/strings.h"
#include "platform/files.h"
#include "serviceframework/service_settings.h"

VLGenericHandler::VLGenericHandler(int byteWaitMilliseconds)
    : byteWaitMilliseconds(byteWaitMilliseconds > 0 ? byteWaitMilliseconds
                                                    : kDefaultByteWaitMilliseconds) {}

VLGenericHandler::~VLGenericHandler() {
  removeTempFiles();
  if (socket != platform::kInvalidSocket) platform::closeSocket(socket);
  socket = platform::kInvalidSocket;
}

std::string VLGenericHandler::tempFileExtension() const { return ".vlm"; }

void VLGenericHandler::setBusy(bool flag) {
  busy.store(flag ? 1 : 0, std::memory_order_release);
}

bool VLGenericHandler::isBusy() const { return busy.load(std::memory_order_acquire) != 0; }

void VLGenericHandler::setServer(VLGenericServer* owner) { server = owner; }

void VLGenericHandler::adoptSocket(platform::Socket newSocket) {
  if (socket != platform::kInvalidSocket) platform::closeSocket(socket);
  socket = newSocket;
  receiveBuffer.clear();
  receiveStart = 0;
  receiveEnd = 0;
}

void VLGenericHandler::run() {
  setBusy(true);
  int failures = 0;
  while (getState() == kRunning && failures < kMaxFailedReads &&
         socket != platform::kInvalidSocket) {
    int result = 0;
    try {
      result = readRequest();
      if (result > 0) {
        serviceRequest();
        failures = 0;  // ten silent waits in a row end the connection, not ten in all
      } else {
        ++failures;
        if (spoilt) break;  // unanswered request bytes: the peer would pair replies wrongly
      }
    } catch (const std::exception&) {
      break;  // no reply went out for this request, so the connection cannot go on
    }
    sleepFor(0, 500);
  }
  reset();
  closeGracefully();
  setBusy(false);  // last touch of the connection: the accept thread may reassign now
}

void VLGenericHandler::closeGracefully() {
  if (socket == platform::kInvalidSocket) return;
  // Accepted sockets linger 0 (a close resets); a reply still queued must
  // reach the peer, so this close is an orderly one.
  platform::setLinger(socket, false, 0);
  platform::closeSocket(socket);
  socket = platform::kInvalidSocket;
}

void VLGenericHandler::dropConnection() {
  if (socket == platform::kInvalidSocket) return;
  platform::closeSocket(socket);
  socket = platform::kInvalidSocket;
}

std::string VLGenericHandler::makeTempFileName() {
  std::string name = tempDirectory;
  ensureTrailingSlash(name);
  name += intToString(tempId) + "_" + intToString(tempCounter) + tempFileExtension();
  replaceAll("/", "\\", name);
  tempCounter = (tempCounter == INT_MAX) ? 1 : tempCounter + 1;
  madeTempFiles.push_back(name);
  return name;
}

void VLGenericHandler::removeTempFiles() {
  // Only names this handler made; a file a command moved away is gone already.
  for (const std::string& name : madeTempFiles) platform::removeFile(name);
  madeTempFiles.clear();
}

std::string VLGenericHandler::getHost() const { return toLower(host); }

void VLGenericHandler::reset() {
  removeTempFiles();
  bodyFile.clear();
  bodyFileRemoved = false;
  method.clear();
  host.clear();
  path.clear();
  parameters.clear();
  uploadedFiles.clear();
  uploadRecordBytes = 0;
  longValues.clear();
  bodyReader.close();
  responseHead.clear();
  subdomainHome.clear();
  commonHome.clear();
  origins.clear();
  referers.clear();
  scriptCommand = false;
  boundary.clear();
}
