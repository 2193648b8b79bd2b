// Each user's proxy and services serve only that user: a connection from a
// process of another user of the machine, to the proxy's listener, a
// notification port or a service, is closed at once, unanswered and
// unread, while this user's own connections are served. Trying it needs
// root (a child process takes another user id); elsewhere it is skipped.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/origin_server.h"
#include "support/other_user.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/service_process.h"

namespace {

using origin::VLOriginServer;
using origin::VLReceived;
using origin::VLReply;
using testsupport::requestAsUser;

// A child as another user sends `bytes` to the port and holds on a while.
int sendAsOtherUser(int port, const std::string& bytes) {
  return testsupport::sendAsUser(testsupport::kOtherUser, port, bytes, 300);
}

TEST(OtherUsers, TheProxyServesOnlyItsOwnUser) {
  if (!testsupport::canActAsOtherUser()) GTEST_SKIP() << "connecting as another user needs root";
  sandbox::VLSandbox box;
  VLOriginServer web([](const VLReceived& r) { return VLReply::withLength("path:" + r.path()); });
  ASSERT_TRUE(web.listening());
  const int servicesBase = proxytest::freeServicesBase({0, 3});
  ASSERT_GT(servicesBase, 0);
  proxytest::VLProxyProcess proxy;
  ASSERT_TRUE(proxy.start(box, servicesBase));
  const std::string authority = "127.0.0.1:" + std::to_string(web.port());
  auto request = [&](const std::string& path) {
    return "GET http://" + authority + path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
  };
  EXPECT_EQ(requestAsUser(testsupport::kOtherUser, proxy.port(), request("/other-user")), 0);
  EXPECT_EQ(requestAsUser(::geteuid(), proxy.port(), request("/same-user")), 1);
  ASSERT_EQ(web.received().size(), 1u);
  EXPECT_EQ(web.received()[0].path(), "/same-user");
}

TEST(OtherUsers, TheFileServiceServesOnlyItsOwnUser) {
  if (!testsupport::canActAsOtherUser()) GTEST_SKIP() << "connecting as another user needs root";
  sandbox::VLSandbox box;
  const int servicesBase = proxytest::freeServicesBase({0});
  ASSERT_GT(servicesBase, 0);
  servicetest::VLServiceProcess fileService;
  ASSERT_TRUE(fileService.start(box, "varlumefile", servicesBase, servicesBase));
  const std::string request = "GET /GETVERSION HTTP/1.1\r\nHost: site.example\r\n\r\n";
  EXPECT_EQ(requestAsUser(testsupport::kOtherUser, servicesBase, request), 0);
  EXPECT_EQ(requestAsUser(::geteuid(), servicesBase, request), 1);
}

// Another user's process that sends well-formed notices to the
// notification ports: a browser's pending answer is never decided by them.
TEST(OtherUsers, NoticesFromAnotherUserAreNeverRead) {
  if (!testsupport::canActAsOtherUser()) GTEST_SKIP() << "connecting as another user needs root";
  sandbox::VLSandbox box;
  VLOriginServer web([](const VLReceived&) { return VLReply::bytes("", VLReply::After::Stall); });
  ASSERT_TRUE(web.listening());
  const int servicesBase = proxytest::freeServicesBase({0, 3});
  ASSERT_GT(servicesBase, 0);
  proxytest::VLProxyProcess proxy;
  ASSERT_TRUE(proxy.start(box, servicesBase));
  const std::string config =
      sandbox::readFile(box.user(0).localAppData + "/Varlume/varlume.config").value_or("");
  const std::size_t key = config.find("varlumeinternal=");
  ASSERT_NE(key, std::string::npos);
  const int internal = std::atoi(config.c_str() + key + 16);

  const std::string authority = "127.0.0.1:" + std::to_string(web.port());
  const int browser = proxytest::connectLoopback(proxy.port());
  ASSERT_GE(browser, 0);
  ASSERT_TRUE(proxytest::sendText(
      browser, "GET http://" + authority + "/stall HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
  ASSERT_TRUE(web.waitForRequests(1, 5000));
  // "No response" for the first ids, to every notification port in use.
  std::string forged;
  for (int id = 1; id <= 5; ++id) forged += "0000000" + std::to_string(id) + " 1 1";
  for (int port = internal; port < internal + 4; ++port) {
    const int result = sendAsOtherUser(port, forged);
    EXPECT_TRUE(result == 0 || result == 3) << result;
  }
  EXPECT_EQ(proxytest::receiveUpTo(browser, 1, 1500), "");
  proxytest::closeConnection(browser);
}

}  // namespace
