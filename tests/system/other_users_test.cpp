// Each user's proxy and services serve only that user: a connection from a
// process of another user of the machine, to the proxy's listener, a
// notification port or a service, is closed at once, unanswered and
// unread, while this user's own connections are served. Trying it needs
// root (a child process takes another user id); elsewhere it is skipped.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/loopback_client.h"
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

// Where the home can be entered (a home made 0755), another user reads
// nothing of this user's: the folders an earlier start left 0755 are made
// private, and the configuration, a page's upload, a cached answer and the
// part file of an answer still waiting grant no bit to group or others.
TEST(OtherUsers, NothingOfTheUsersFilesIsReadableByAnother) {
  if (!testsupport::canActAsOtherUser()) GTEST_SKIP() << "reading as another user needs root";
  sandbox::VLSandbox box;
  const sandbox::VLSandboxUser& user = box.user(0);
  const std::string userFolder = user.localAppData + "/Varlume";
  const std::string dataRoot = user.documents + "/Varlume";
  // The way in is open, as under a home that anyone may enter.
  for (const std::string& folder : {box.root(), user.home, user.documents, user.localAppData}) {
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0) << folder;
  }
  for (const std::string& folder : {userFolder, userFolder + "/Temp", dataRoot}) {
    ASSERT_TRUE(std::filesystem::create_directories(folder)) << folder;
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0) << folder;
  }
  VLOriginServer web([](const VLReceived& r) {
    if (r.path().find("/stall") != std::string::npos) return VLReply::bytes("", VLReply::After::Stall);
    if (r.path().find("/cookie") != std::string::npos) {
      return VLReply::withLength("kept", "Set-Cookie: session=secret\r\n");
    }
    return VLReply::withLength("kept", "Content-Type: image/gif\r\n");
  });
  ASSERT_TRUE(web.listening());
  const int servicesBase = proxytest::freeServicesBase({0, 3});
  ASSERT_GT(servicesBase, 0);
  // The test's own writes (the configuration) are made as the programs make theirs.
  const mode_t mask = ::umask(077);
  servicetest::VLServiceProcess fileService;
  const bool fileStarted = fileService.start(box, "varlumefile", servicesBase, servicesBase);
  proxytest::VLProxyProcess proxy;
  const bool proxyStarted = proxy.start(box, servicesBase, {"-x", "127.0.0.1", "-y", std::to_string(web.port())});
  ::umask(mask);
  ASSERT_TRUE(fileStarted);
  ASSERT_TRUE(proxyStarted);

  testsupport::LoopbackClient page(proxy.port());
  testsupport::HttpResponse answer;
  ASSERT_TRUE(page.send("GET http://site.test/varlume/file/STRINGFILE?Path=&Name=made.txt&Data=x HTTP/1.1\r\n"
                        "Host: site.test\r\nReferer: http://site.test/page.html\r\n\r\n"));
  ASSERT_TRUE(page.readResponse(answer, false, 10000));
  ASSERT_TRUE(sandbox::isFile(dataRoot + "/site.test/made.txt")) << answer.head << answer.body;
  ASSERT_TRUE(page.send("GET http://a.test/i/x.gif HTTP/1.1\r\nHost: a.test\r\n\r\n"));
  ASSERT_TRUE(page.readResponse(answer, false, 10000));
  ASSERT_TRUE(sandbox::waitUntil([&] { return sandbox::isFile(dataRoot + "/Cache/a.test/i/x.gif"); }, 5000));
  // An answer held behind one that never comes waits in its part file.
  testsupport::LoopbackClient waiting(proxy.port());
  ASSERT_TRUE(waiting.send("GET http://slow.test/stall HTTP/1.1\r\nHost: slow.test\r\n\r\n"
                           "GET http://b.test/cookie HTTP/1.1\r\nHost: b.test\r\n\r\n"));
  ASSERT_TRUE(sandbox::waitUntil([&] { return !proxy.partFiles().empty(); }, 10000));

  std::vector<std::string> open;
  std::vector<std::string> readable;
  for (const std::string& root : {userFolder, dataRoot}) {
    std::vector<std::string> paths{root};
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      paths.push_back(it->path().string());
    }
    for (const std::string& path : paths) {
      struct stat info;
      if (::lstat(path.c_str(), &info) == 0 && (info.st_mode & 077) != 0) open.push_back(path);
      if (testsupport::readsAsUser(testsupport::kOtherUser, path) != 0) readable.push_back(path);
    }
  }
  EXPECT_TRUE(open.empty()) << ::testing::PrintToString(open);
  EXPECT_TRUE(readable.empty()) << ::testing::PrintToString(readable);
}

// Another user who listens on a port of this user's services (the database
// port, which no program of this system binds, and the file service's
// while it is stopped) gets not a byte of a page's request; the page gets
// the proxy's own answer for a service it cannot reach.
TEST(OtherUsers, AnotherUsersListenerOnAServicePortGetsNothing) {
  if (!testsupport::canActAsOtherUser()) GTEST_SKIP() << "listening as another user needs root";
  sandbox::VLSandbox box;
  const int servicesBase = proxytest::freeServicesBase({0, 1, 3});
  ASSERT_GT(servicesBase, 0);
  testsupport::VLOtherUserListener files;
  testsupport::VLOtherUserListener database;
  ASSERT_TRUE(files.start(testsupport::kOtherUser, servicesBase));
  ASSERT_TRUE(database.start(testsupport::kOtherUser, servicesBase + 1));
  proxytest::VLProxyProcess proxy;
  ASSERT_TRUE(proxy.start(box, servicesBase));
  for (const char* path : {"/varlume/file/GETVERSION", "/varlume/db/query?x=1"}) {
    testsupport::LoopbackClient page(proxy.port());
    ASSERT_TRUE(page.send(std::string("GET http://site.test") + path +
                          " HTTP/1.1\r\nHost: site.test\r\nReferer: http://site.test/\r\n\r\n"));
    testsupport::HttpResponse answer;
    ASSERT_TRUE(page.readResponse(answer, false, 15000)) << path;
    EXPECT_EQ(answer.head.find("Content-Length: 10"), std::string::npos) << path << answer.head;
    EXPECT_EQ(answer.body.find("other user"), std::string::npos) << path << answer.body;
    EXPECT_EQ(answer.head.rfind("HTTP/1.1 500 ", 0), 0u) << path << answer.head;
  }
  EXPECT_EQ(files.piecesReceived(), 0);
  EXPECT_EQ(database.piecesReceived(), 0);
}

// The all-users folder is shared on purpose by the users of one port-set
// sequence: what the programs make there stays readable to the others.
TEST(OtherUsers, TheAllUsersFolderStaysReadableToTheOtherUsers) {
  if (!testsupport::canActAsOtherUser()) GTEST_SKIP() << "reading as another user needs root";
  sandbox::VLSandbox box;
  ASSERT_EQ(::chmod(box.root().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(box.commonAppData().c_str(), 0755), 0);
  const int servicesBase = proxytest::freeServicesBase({0, 3});
  ASSERT_GT(servicesBase, 0);
  const mode_t mask = ::umask(022);
  proxytest::VLProxyProcess proxy;
  const bool started = proxy.start(box, servicesBase);
  ::umask(mask);
  ASSERT_TRUE(started);
  const std::string common = box.commonAppData() + "/Varlume";
  std::vector<std::string> closed;
  int files = 0;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(common, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string path = it->path().string();
    if (it->path().filename().string().rfind(".", 0) == 0) continue;  // a lock or a temporary file
    files += it->is_regular_file() ? 1 : 0;
    if (testsupport::readsAsUser(testsupport::kOtherUser, path) != 1) closed.push_back(path);
  }
  EXPECT_GT(files, 0);
  EXPECT_TRUE(closed.empty()) << ::testing::PrintToString(closed);
}

}  // namespace
