// The real varlume's listener: a taken listening port is logged (never a
// claim to listen) and ends the program with status 1; origins that trickle
// (a byte a second) neither keep other browsers out of the pool nor hold
// their connections for ever, while a slow download that still moves
// arrives whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/sockets.h"
#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"

namespace {

using origin::VLOriginServer;
using origin::VLReceived;
using origin::VLReply;

TEST(ProxyListener, ATakenPortIsLoggedAndEndsWithOne) {
  sandbox::VLSandbox box;
  const platform::Socket taken = platform::tcpSocket();
  ASSERT_TRUE(platform::bindSocket(taken, platform::kLoopbackAddress, 0));
  ASSERT_TRUE(platform::listenSocket(taken, 1));
  const int port = platform::localPort(taken);

  sandbox::VLChildProgram child;
  ASSERT_TRUE(child.start(VARLUME_PROGRAM_DIR "/varlume", {"-p", std::to_string(port)},
                          box.makeFolder("work"), box.environment(0)));
  int status = -1;
  ASSERT_TRUE(child.waitForExit(20000, &status));
  EXPECT_EQ(status, 1);
  const std::string log =
      sandbox::readFile(box.user(0).documents + "/VarlumeStartupLog.txt").value_or("");
  const std::string line = "Could not listen for browser connections on 127.0.0.1 port " +
                           std::to_string(port) + ". Varlume aborting.\n";
  ASSERT_GE(log.size(), line.size());
  EXPECT_EQ(log.substr(log.size() - line.size()), line);
  // The start never reached the listener: nothing says it listens.
  EXPECT_EQ(log.find("initialisation complete"), std::string::npos) << log;
  EXPECT_EQ(log.find("  Temp Path:"), std::string::npos) << log;
  platform::closeSocket(taken);
}

// A head, then `steps` pieces of `piece` bytes one second apart.
VLReply slowly(std::size_t length, int steps, std::size_t piece) {
  VLReply reply = VLReply::bytes("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n",
                                 VLReply::After::Close);
  for (int i = 0; i < steps; ++i) reply.steps.push_back({std::string(piece, 's'), 1000});
  return reply;
}

// What arrives on the socket until the proxy ends the connection; `ended`
// tells whether it did within `timeoutMs`.
std::string untilEnd(int socket, int timeoutMs, bool& ended) {
  ended = false;
  std::string data;
  const std::int64_t deadline = platform::monotonicMilliseconds() + timeoutMs;
  for (std::int64_t left = timeoutMs; left > 0; left = deadline - platform::monotonicMilliseconds()) {
    platform::PollEntry wait{socket, platform::kPollReadable, 0};
    if (platform::pollSockets(&wait, 1, static_cast<int>(left)) <= 0) break;
    char chunk[4096];
    const int got = platform::receiveBytes(socket, chunk, sizeof chunk);
    if (got <= 0) {
      ended = true;
      break;
    }
    data.append(chunk, static_cast<std::size_t>(got));
  }
  return data;
}

std::string get(int port, const std::string& path) {
  const std::string authority = "127.0.0.1:" + std::to_string(port);
  return "GET http://" + authority + path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
}

class TricklingOrigin : public ::testing::Test {
 protected:
  void SetUp() override {
    // /trickle: a byte a second, for longer than any test waits.
    origin = std::make_unique<VLOriginServer>([](const VLReceived& r) {
      if (r.path().rfind("/trickle", 0) == 0) return slowly(100000, 170, 1);
      if (r.path() == "/steady") return slowly(6000, 60, 100);
      return VLReply::bytes("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    ASSERT_TRUE(origin->listening());
    ASSERT_TRUE(proxy.start(box, proxytest::freeServicesBase({0, 3})));
  }
  void TearDown() override {
    for (int socket : browsers) proxytest::closeConnection(socket);
  }

  int browse(const std::string& requests) {
    const int socket = proxytest::connectLoopback(proxy.port());
    if (socket >= 0) browsers.push_back(socket);
    if (socket >= 0 && !proxytest::sendText(socket, requests)) return -1;
    return socket;
  }

  sandbox::VLSandbox box;
  std::unique_ptr<VLOriginServer> origin;
  proxytest::VLProxyProcess proxy;
  std::vector<int> browsers;
};

TEST_F(TricklingOrigin, TwentyTricklingConnectionsLeaveRoomForAnotherBrowser) {
  // Twenty browser connections, five pipelined requests each, all trickling.
  for (int i = 0; i < 20; ++i) {
    std::string requests;
    for (int k = 0; k < 5; ++k) requests += get(origin->port(), "/trickle?" + std::to_string(i * 5 + k));
    ASSERT_GE(browse(requests), 0);
  }
  ASSERT_TRUE(origin->waitForRequests(100, 30000));
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  EXPECT_EQ(proxytest::exchange(proxy.port(), get(origin->port(), "/other"), ok.size(), 10000), ok);
}

TEST_F(TricklingOrigin, ATrickleIsEndedWhileASlowDownloadArrivesWhole) {
  const int trickling = browse(get(origin->port(), "/trickle"));
  const int steady = browse(get(origin->port(), "/steady"));
  ASSERT_GE(trickling, 0);
  ASSERT_GE(steady, 0);
  // The steady one: 100 bytes a second for a minute, longer than the wait
  // for a server; the trickle ends within that minute and a half.
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 6000\r\n\r\n";
  EXPECT_EQ(proxytest::receiveUpTo(steady, 6001, 90000), head + std::string(6000, 's'));
  bool ended = false;
  const std::string cut = untilEnd(trickling, 30000, ended);
  EXPECT_TRUE(ended) << cut.size() << " bytes and still open";
  EXPECT_LT(cut.size(), 1000u);
  EXPECT_EQ(cut.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << cut;
  EXPECT_TRUE(proxytest::noPartFilesLeft(proxy));
}

}  // namespace
