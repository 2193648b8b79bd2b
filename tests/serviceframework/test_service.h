// A small service built on the framework, run in-process for the tests: a
// server thread on a free loopback port with a pool of 50 handlers that
// either send the framework's default page or echo what they read; a client
// that talks to it over a real loopback socket with bounded waits; and a
// sandbox of folders (temporary folder and data root) under a fresh
// temporary folder.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "serviceframework/generic_server.h"
#include "support/loopback_client.h"

namespace sftest {

// The sandbox folders in the programs' "\" form, ending in "\".
std::string sandboxTempFolder();
std::string sandboxDataRoot();
// The names in the temporary folder (system listing).
std::vector<std::string> tempFolderNames();
// Waits (bounded) until the temporary folder is empty.
bool tempFolderEmptied(int timeoutMs = 5000);
// Removes the sandbox now: for a death test's child, which never reaches the
// environment's tear-down.
void removeSandbox();

// Answers every request with the framework's default page.
class PageHandler : public VLGenericHandler {
 public:
  explicit PageHandler(int byteWaitMs) : VLGenericHandler(byteWaitMs) {}
};

// Answers every request with a report of what readRequest stored; for a
// path "/look/a,b" also the values of the parameters a and b ("value a", and
// "looked up a": "same" when both lookups agree).
class EchoHandler : public VLGenericHandler {
 public:
  explicit EchoHandler(int byteWaitMs) : VLGenericHandler(byteWaitMs) {}
  void serviceRequest() override;
};

template <class Handler>
class TestServer : public VLGenericServer {
 public:
  explicit TestServer(int byteWaitMs) : byteWaitMs_(byteWaitMs) { createHandlers(); }

  void createHandlers() override {
    HandlerPool handlers;
    for (int i = 0; i < kPoolSize; ++i) handlers.push_back(std::make_unique<Handler>(byteWaitMs_));
    setHandlerPool(std::move(handlers));
  }
  int getNextAvailableHandler(platform::Socket socket) override {
    int index = findFreeHandler();
    if (index < 0) return -1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      assigned_.push_back(index);
    }
    assignHandler(index, socket);
    return index;
  }
  VLGenericHandler* handlerAt(int index) override { return pooledHandler(index); }
  void startHandler(int index) override { startPooledHandler(index); }

  std::vector<int> assigned() {
    std::lock_guard<std::mutex> lock(mutex_);
    return assigned_;
  }

 private:
  int byteWaitMs_;
  std::mutex mutex_;
  std::vector<int> assigned_;
};

// A loopback port that nothing listens on right now.
int freeLoopbackPort();
// Runs `server->serve(port)` on a detached thread. Servers never stop, so
// they and their handlers live until the test program ends.
void serveInBackground(VLGenericServer* server, int port);

template <class Handler>
struct RunningServer {
  TestServer<Handler>* server;
  int port;
};

template <class Handler>
RunningServer<Handler> startServer(int byteWaitMs) {
  auto* server = new TestServer<Handler>(byteWaitMs);
  int port = freeLoopbackPort();
  serveInBackground(server, port);
  return {server, port};
}

using testsupport::HttpResponse;
using testsupport::LoopbackClient;

// An echo report read back.
struct EchoUpload {
  std::string field;
  std::string client;
  std::string temp;
  std::string content;
};
struct EchoReport {
  std::map<std::string, std::string> fields;
  std::vector<EchoUpload> uploads;
  const std::string& operator[](const std::string& key) { return fields[key]; }
};
bool parseEcho(const std::string& body, EchoReport& report);

// "GET <target> HTTP/1.1", a Host line and the empty line.
std::string simpleGet(const std::string& target, const std::string& host = "site.example");

}  // namespace sftest
