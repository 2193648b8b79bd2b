#include "varlumefile/file_server.h"

#include <memory>

VLFileServer::~VLFileServer() {
  for (int i = 0; i < kPoolSize; ++i) {
    if (auto* handler = static_cast<VLFileHandler*>(handlerAt(i))) handler->closeSocket();
  }
  closeServer();
}

void VLFileServer::createHandlers() {
  HandlerPool handlers;
  for (int i = 0; i < kPoolSize; ++i) handlers.push_back(std::make_unique<VLFileHandler>());
  setHandlerPool(std::move(handlers));
}

int VLFileServer::getNextAvailableHandler(platform::Socket socket) {
  // A reply is a head and then pieces of its body: a short head must not
  // wait for the client's delayed acknowledgement before the rest goes.
  platform::setNoDelay(socket);
  const int index = findFreeHandler();
  if (index >= 0) assignHandler(index, socket);
  return index;
}
