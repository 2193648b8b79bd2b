// VLGenericServer: the listening socket on 127.0.0.1, the accept loop that
// runs in the program's main thread, and the fixed pool of 50 handlers that
// serve the accepted connections. A service derives a server whose
// constructor calls its createHandlers; the protected helpers carry out the
// pool protocol, so a derived server's four operations can be one-liners.
#pragma once
#include <memory>
#include <vector>

#include "foundation/object.h"
#include "platform/sockets.h"
#include "serviceframework/generic_handler.h"

class VLGenericServer : public VLObject {
 public:
  static constexpr int kPoolSize = 50;
  static constexpr int kAcceptWaitMilliseconds = 10000;
  static constexpr int kListenBacklog = 10;
  static constexpr int kSocketBufferBytes = 65536;

  using HandlerPool = std::vector<std::unique_ptr<VLGenericHandler>>;

  VLGenericServer();
  ~VLGenericServer() override;
  VLGenericServer(const VLGenericServer&) = delete;
  VLGenericServer& operator=(const VLGenericServer&) = delete;

  // A server never runs a thread of its own.
  void run() override;

  // Builds kPoolSize handlers of the service's class and installs them.
  virtual void createHandlers() = 0;
  // Takes a free handler (in round-robin order), hands it the socket and
  // returns its index.
  virtual int getNextAvailableHandler(platform::Socket socket) = 0;
  // Handler `index` of the pool for 0..49; null otherwise.
  virtual VLGenericHandler* handlerAt(int index) = 0;
  // Starts the thread of handler `index`.
  virtual void startHandler(int index) = 0;

  // The pool; null until one is installed.
  HandlerPool* handlerPool() { return pool.get(); }
  // Replaces the pool (the old one is destroyed); each handler's slot index
  // becomes its temp id, so no two handlers make the same temporary name.
  void setHandlerPool(HandlerPool handlers);
  // 0, 1, ..., 49, 0, ...: the next slot to look at.
  int nextHandlerIndex();

  // Opens the listener on 127.0.0.1:port; any failure ends the process with
  // status 1.
  platform::Socket openListener(int port);
  // The accept loop; never returns. It creates the temporary folder when it
  // is missing.
  [[noreturn]] void serve(int port);
  // Destroys the pool, closes the listener and restarts the round robin.
  void closeServer();

 protected:
  VLGenericHandler* pooledHandler(int index) const;
  // The index of the next free handler in round-robin order; waits (pausing
  // after each full round) while all are busy. -1 when there is no pool.
  int findFreeHandler();
  // reset, busy := 1, the socket, the server.
  void assignHandler(int index, platform::Socket socket);
  // Starts handler `index`; when no thread can be made, closes its socket
  // and frees it again.
  void startPooledHandler(int index);

 private:
  static void pauseAfterAccept(int seconds, int microseconds);
  [[noreturn]] static void endProcess();
  static void createTempDirectory();
  void destroyPool();
  void closeListener();

  platform::Socket listeningSocket = platform::kInvalidSocket;
  std::unique_ptr<HandlerPool> pool;
  int roundRobinIndex = -1;
};
