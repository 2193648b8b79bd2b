// VLEventServer: the event service's accept loop with its pool of 50
// VLEventHandlers; it reports each handler it hands a connection to on
// standard output.
#pragma once
#include "serviceframework/generic_server.h"

class VLEventServer : public VLGenericServer {
 public:
  VLEventServer() { createHandlers(); }
  ~VLEventServer() override { closeServer(); }

  void createHandlers() override;
  int getNextAvailableHandler(platform::Socket socket) override;
  VLGenericHandler* handlerAt(int index) override { return pooledHandler(index); }
  void startHandler(int index) override { startPooledHandler(index); }
};
