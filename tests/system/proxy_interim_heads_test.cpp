// The real varlume against an origin that sends interim heads (103 Early
// Hints) without end behind an answer that has not come yet: the proxy's
// temporary folder holds a few part files, not one per head, and every byte
// still reaches the browser in request order.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"

namespace {

using origin::VLOriginServer;
using origin::VLReceived;
using origin::VLReply;

constexpr int kAnswerMs = 20000;
constexpr int kHints = 5000;
const std::string kHint = "HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n";
const std::string kFirstAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst";
const std::string kHintedAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nhinted";

std::string allHints() {
  std::string hints;
  for (int i = 0; i < kHints; ++i) hints += kHint;
  return hints;
}

class ProxyInterimHeads : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(web.listening());
    const int servicesBase = proxytest::freeServicesBase({0, 3});
    ASSERT_GT(servicesBase, 0);
    ASSERT_TRUE(proxy.start(box, servicesBase));
  }
  void TearDown() override {
    // The origin's held steps go on, so its threads end.
    firstGoesOn->store(true);
    finalGoesOn->store(true);
  }

  std::string webRequest(const std::string& path) {
    const std::string authority = "127.0.0.1:" + std::to_string(web.port());
    return "GET http://" + authority + path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
  }

  std::shared_ptr<std::atomic<bool>> firstGoesOn = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<std::atomic<bool>> finalGoesOn = std::make_shared<std::atomic<bool>>(false);
  sandbox::VLSandbox box;
  VLOriginServer web{[this](const VLReceived& request) {
    if (request.path() == "/first") {
      VLReply reply;
      reply.steps.push_back({kFirstAnswer, 0, firstGoesOn});
      return reply;
    }
    VLReply reply = VLReply::bytes(allHints());
    reply.steps.push_back({kHintedAnswer, 0, finalGoesOn});
    return reply;
  }};
  proxytest::VLProxyProcess proxy;
};

TEST_F(ProxyInterimHeads, ThousandsOfHintsBehindAnotherAnswerMakeFewPartFiles) {
  const int socket = proxytest::connectLoopback(proxy.port());
  ASSERT_GE(socket, 0);
  ASSERT_TRUE(proxytest::sendText(socket, webRequest("/first") + webRequest("/hints")));
  const std::string hints = allHints();
  // Every hint has reached the temporary folder while the first answer waits.
  EXPECT_TRUE(sandbox::waitUntil([&] { return proxy.partFileBytes() >= hints.size(); }, kAnswerMs)) << proxy.partFileBytes();
  EXPECT_LE(proxy.partFiles().size(), 16u);

  firstGoesOn->store(true);
  finalGoesOn->store(true);
  const std::string expected = kFirstAnswer + hints + kHintedAnswer;
  const std::string got = proxytest::receiveUpTo(socket, expected.size(), kAnswerMs);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  proxytest::closeConnection(socket);
  EXPECT_TRUE(proxytest::noPartFilesLeft(proxy));
}

}  // namespace
