// One browser connection driven over a real loopback pair: heads beyond the
// limits or cut by the browser end the connection; a notice connection that
// arrives while header bytes are awaited is handed to the responder and the
// wait goes on; a refused request uses no outgoing connection.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/sockets.h"
#include "varlume/client_connection.h"
#include "varlume/server.h"

namespace {

using platform::Socket;

class BrowserConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    const Socket listener = platform::tcpSocket();
    ASSERT_TRUE(platform::bindSocket(listener, platform::kLoopbackAddress, 0));
    ASSERT_TRUE(platform::listenSocket(listener, 4));
    browser = platform::tcpSocket();
    ASSERT_TRUE(platform::connectSocket(browser, "127.0.0.1", platform::localPort(listener), 5));
    const Socket proxySide = platform::acceptSocket(listener);
    ASSERT_NE(proxySide, platform::kInvalidSocket);
    platform::closeSocket(listener);

    server = std::make_unique<VLServer>(0);
    entry = &server->entry(0);
    entry->openNotificationListener(43500, 400);
    ASSERT_NE(entry->notificationListener(), platform::kInvalidSocket);
    entry->setInUse(true);
    entry->setOwner(server.get());
    entry->setBrowserSocket(proxySide);
    entry->responder().resetQueue();
    entry->responder().setBrowserSocket(proxySide);  // as the connection thread does
  }
  void TearDown() override { platform::closeSocket(browser); }

  void send(const std::string& text) {
    ASSERT_TRUE(platform::sendAll(browser, text.data(), text.size(), 5000));
  }
  bool anyClientConnected() {
    for (int i = 0; i < VLClientConnection::kClientCount; ++i) {
      if (entry->client(i).socket() != platform::kInvalidSocket) return true;
    }
    return false;
  }

  Socket browser = platform::kInvalidSocket;
  std::unique_ptr<VLServer> server;
  VLClientConnection* entry = nullptr;
};

TEST_F(BrowserConnection, HeadsBeyondTheLimitsEndTheConnection) {
  std::string head = "GET http://a.example/ HTTP/1.1\r\n";
  for (int i = 0; i < 100; ++i) head += "X-Line: " + std::to_string(i) + "\r\n";
  send(head + "\r\n");
  EXPECT_EQ(entry->handleRequest(), 0);
  EXPECT_FALSE(anyClientConnected());
}

TEST_F(BrowserConnection, BrowserClosingMidHeadEndsTheConnection) {
  send("GET http://a.example/ HTTP/1.1\r\nHost: a.exa");
  platform::shutdownSocket(browser, platform::ShutdownHow::Send);
  EXPECT_EQ(entry->handleRequest(), 0);
}

TEST_F(BrowserConnection, RefusedRequestsUseNoClient) {
  // A refused page host is answered by the proxy's own page in its place.
  send("GET http://a.example%0d%0aX:%20y/varlume/file/x HTTP/1.1\r\nHost: a\r\n\r\n");
  EXPECT_EQ(entry->handleRequest(), 1);
  EXPECT_FALSE(anyClientConnected());
  std::string answer;
  for (int i = 0; i < 100 && answer.find("\r\n\r\n") == std::string::npos; ++i) {
    platform::PollEntry wait{browser, platform::kPollReadable, 0};
    if (platform::pollSockets(&wait, 1, 100) <= 0) continue;
    char chunk[4096];
    const int got = platform::receiveBytes(browser, chunk, sizeof chunk);
    if (got <= 0) break;
    answer.append(chunk, static_cast<std::size_t>(got));
  }
  EXPECT_EQ(answer.rfind("HTTP/1.1 500 Request refused.\r\n", 0), 0u) << answer;
  for (int i = 0; i < 500 && !entry->responder().isIdle(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST_F(BrowserConnection, NoticeDuringTheHeadWaitIsTakenAndTheWaitGoesOn) {
  const Socket notifier = platform::tcpSocket();
  ASSERT_TRUE(platform::connectSocket(notifier, "127.0.0.1", entry->notificationPort(), 5));
  // The browser's byte comes only once the notice connection was taken.
  std::thread browserSide([&] {
    for (int i = 0; i < 500 && entry->responder().notifierCount() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    platform::sendAll(browser, "G", 1, 5000);
  });
  char byte = 0;
  EXPECT_EQ(entry->receiveFromBrowser(entry->browserSocket(), 10, &byte, 1), 1);
  browserSide.join();
  EXPECT_EQ(byte, 'G');
  EXPECT_EQ(entry->responder().notifierCount(), 1);
  platform::closeSocket(notifier);
}

TEST_F(BrowserConnection, AServerIsFreedOnlyAfterItsConnectionThreadsLeft) {
  // The connection thread waits for the rest of a head when the server ends.
  send("GET http://a.example/ HTTP/1.1\r\nHost: a.exa");
  ASSERT_NE(entry->start(), 0u);
  for (int i = 0; i < 2000 && entry->getState() != VLThread::kRunning; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(entry->getState(), VLThread::kRunning);
  // Freed under a running thread, the entry would be used after its end
  // (reported by the sanitizers, or a crash).
  server.reset();
  entry = nullptr;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a late thread would run now
}

}  // namespace
