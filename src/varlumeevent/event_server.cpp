#include "varlumeevent/event_server.h"

#include <string>

#include "serviceframework/diagnostic_output.h"
#include "varlumeevent/event_handler.h"

void VLEventServer::createHandlers() {
  HandlerPool handlers;
  std::vector<VLEventHandler*> slots;
  for (int i = 0; i < kPoolSize; ++i) {
    auto handler = std::make_unique<VLEventHandler>();
    slots.push_back(handler.get());
    handlers.push_back(std::move(handler));
  }
  setHandlerPool(std::move(handlers));
  for (int i = 0; i < kPoolSize; ++i) slots[static_cast<std::size_t>(i)]->initSlot(i);
}

int VLEventServer::getNextAvailableHandler(platform::Socket socket) {
  const int index = findFreeHandler();
  if (index < 0) return -1;
  writeDiagnosticLine("getNextAvailableHandler() - found available handler at position " + std::to_string(index));
  assignHandler(index, socket);
  return index;
}
