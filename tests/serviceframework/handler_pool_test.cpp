// The accept loop and the pool of 50 handlers over real loopback connections:
// the order in which connections are handed out, the limit, keep-alive, and
// how a connection ends.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "test_service.h"

namespace sftest {
namespace {

// Sends one request and returns the slot of the handler that answered it.
int answeredSlot(LoopbackClient& client, const std::string& target = "/x") {
  if (!client.send(simpleGet(target))) return -1;
  HttpResponse response;
  if (!client.readResponse(response)) return -1;
  EchoReport report;
  if (!parseEcho(response.body, report)) return -1;
  return std::stoi(report["slot"]);
}

TEST(HandlerPool, HandsOutSlotsInRoundRobinOrderAndHoldsTheFiftyFirstConnection) {
  // Long byte wait: idle kept-alive connections hold their handlers for the whole test.
  auto running = startServer<EchoHandler>(VLGenericHandler::kDefaultByteWaitMilliseconds);
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  for (int i = 0; i < VLGenericServer::kPoolSize; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(running.port));
    ASSERT_EQ(answeredSlot(*clients.back()), i);
  }

  // All 50 are busy: the next connection is accepted but nobody serves it.
  LoopbackClient waiting(running.port);
  ASSERT_TRUE(waiting.send(simpleGet("/waiting")));
  EXPECT_TRUE(waiting.staysSilent(300));

  // Freeing slot 7 serves it there (the search wrapped from 49 to 0 and skipped 0-6).
  clients[7]->close();
  HttpResponse response;
  ASSERT_TRUE(waiting.readResponse(response));
  EchoReport report;
  ASSERT_TRUE(parseEcho(response.body, report));
  EXPECT_EQ(report["slot"], "7");
  EXPECT_EQ(report["path"], "/waiting");

  // The round robin goes on after 7, so freeing 3 next gives 3 after a full lap.
  LoopbackClient another(running.port);
  ASSERT_TRUE(another.send(simpleGet("/another")));
  EXPECT_TRUE(another.staysSilent(100));
  clients[3]->close();
  EXPECT_EQ(answeredSlot(another), 3);

  std::vector<int> expected;
  for (int i = 0; i < VLGenericServer::kPoolSize; ++i) expected.push_back(i);
  expected.push_back(7);
  expected.push_back(3);
  EXPECT_EQ(running.server->assigned(), expected);
}

TEST(HandlerPool, KeepsTheConnectionAliveThenClosesItWhenIdle) {
  auto running = startServer<EchoHandler>(100);  // ten silent waits: one second
  LoopbackClient client(running.port);
  int first = answeredSlot(client, "/one");
  ASSERT_GE(first, 0);
  EXPECT_EQ(answeredSlot(client, "/two"), first);
  EXPECT_EQ(answeredSlot(client, "/three"), first);

  // Idle: the server closes the connection in an orderly way, sending nothing.
  std::string rest;
  EXPECT_TRUE(client.waitForClose(rest));
  EXPECT_EQ(rest, "");

  // The handler is free again; a new connection is served (by the next slot).
  LoopbackClient next(running.port);
  EXPECT_EQ(answeredSlot(next), first + 1);
}

TEST(HandlerPool, SilentWaitsAreCountedOnlyInARow) {
  auto running = startServer<EchoHandler>(100);
  LoopbackClient client(running.port);
  ASSERT_GE(answeredSlot(client), 0);
  // Four gaps of four silent waits each: sixteen in all, never ten in a row.
  for (int gap = 0; gap < 4; ++gap) {
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    ASSERT_GE(answeredSlot(client), 0) << "connection lost after gap " << gap;
  }
}

TEST(HandlerPool, ARequestCutShortEndsTheConnection) {
  auto running = startServer<EchoHandler>(100);
  LoopbackClient client(running.port);
  ASSERT_TRUE(client.send("GET /cut HTTP/1.1\r\nHost: site.example\r\n"));
  // Long after the first silent wait the rest of the head arrives: it must
  // not be taken as a request of its own (its answer would pair with nothing).
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  client.send("\r\nGET /after HTTP/1.1\r\n\r\n");
  std::string rest;
  EXPECT_TRUE(client.waitForClose(rest));
  EXPECT_EQ(rest, "");
}

TEST(HandlerPool, ServeEndsTheProcessWhenThePortIsTaken) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  platform::Socket holder = platform::tcpSocket();
  ASSERT_TRUE(platform::bindSocket(holder, platform::kLoopbackAddress, 0));
  ASSERT_TRUE(platform::listenSocket(holder, 1));
  int port = platform::localPort(holder);
  EXPECT_EXIT(
      {
        removeSandbox();  // the child's own sandbox; its exit skips the tear-down
        TestServer<PageHandler> server(100);
        server.serve(port);
      },
      ::testing::ExitedWithCode(1), "");
  platform::closeSocket(holder);
}

}  // namespace
}  // namespace sftest
