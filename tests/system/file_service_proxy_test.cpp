// The real varlume and varlumefile in one sandbox: a page's /varlume/file/
// URLs reach the file service and its replies arrive byte-identical; a page
// host that climbs out of its folder through escapes touches nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/file_service_fixture.h"
#include "support/loopback_client.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/service_process.h"

namespace {

namespace fs = std::filesystem;

class FileThroughProxy : public ::testing::Test {
 protected:
  void SetUp() override {
    base = proxytest::freeServicesBase({0});
    ASSERT_GT(base, 0);
    ASSERT_TRUE(proxy.start(box, base));
    ASSERT_TRUE(service.start(box, "varlumefile", base, base, {}, false)) << service.output();
    data = box.user(0).documents + "/Varlume";
  }

  testsupport::HttpResponse through(int port, const std::string& target, const std::string& host) {
    testsupport::LoopbackClient client(port);
    EXPECT_TRUE(client.send("GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n"));
    testsupport::HttpResponse response;
    EXPECT_TRUE(client.readResponse(response, false, 20000)) << target;
    return response;
  }

  sandbox::VLSandbox box;
  proxytest::VLProxyProcess proxy;
  servicetest::VLServiceProcess service;
  int base = 0;
  std::string data;
};

TEST_F(FileThroughProxy, ListingsAndFilesArriveByteIdentical) {
  std::string bytes(300000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + 5);
  ASSERT_TRUE(sandbox::writeFile(data + "/site.example/docs/file.bin", bytes));
  ASSERT_TRUE(sandbox::writeFile(data + "/site.example/docs/a&b.txt", "amp"));

  const testsupport::HttpResponse direct = through(base, "/SCANDIR?Name=docs", "site.example");
  ASSERT_NE(direct.body.find("<Name>a&amp;b.txt</Name>"), std::string::npos) << direct.body;
  const testsupport::HttpResponse listed =
      through(proxy.port(), "http://site.example/varlume/file/SCANDIR?Name=docs", "site.example");
  EXPECT_EQ(listed.body, direct.body);
  const testsupport::HttpResponse file =
      through(proxy.port(), "http://site.example/varlume/file/GET?Path=docs/file.bin", "site.example");
  EXPECT_EQ(file.body, bytes);
  const testsupport::HttpResponse fallback =
      through(proxy.port(), "http://site.example/varlume/file/docs/file.bin", "site.example");
  EXPECT_EQ(fallback.body, bytes);
}

TEST_F(FileThroughProxy, APageHostThatClimbsOutTouchesNothing) {
  const std::string canaries[] = {box.user(0).documents + "/canary.txt", box.user(0).home + "/canary.txt",
                                  data + "/other.example/canary.txt", data + "/canary.txt"};
  for (const std::string& canary : canaries) ASSERT_TRUE(sandbox::writeFile(canary, "canary"));
  const std::string targets[] = {
      "http://evil.example/x%2F..%2F..%2F/varlume/file/REMOVEDIRECTORY?Name=",
      "http://evil.example/x%2F..%2F..%2Fother.example/varlume/file/REMOVEFILE?Name=canary.txt",
      "http://evil.example/x%2F..%2Fother.example/varlume/file/GET?Path=canary.txt",
      "http://evil.example/x%2F..%2F..%2F..%2F/varlume/file/REMOVEFILE?Name=canary.txt",
      "http://evil.example/%2E%2E/varlume/file/REMOVEDIRECTORY?Name=",
      "http://evil.example/varlume/file/REMOVEFILE?Name=%2E%2E/%2E%2E/canary.txt",
      "http://evil.example/varlume/file/REMOVEDIRECTORY?Name=..%2F..%2F",
  };
  for (const std::string& target : targets) {
    testsupport::LoopbackClient client(proxy.port());
    ASSERT_TRUE(client.send("GET " + target + " HTTP/1.1\r\nHost: evil.example\r\n\r\n"));
    testsupport::HttpResponse response;
    client.readResponse(response, false, 20000);
    EXPECT_EQ(response.body.find("canary"), std::string::npos) << target;
  }
  for (const std::string& canary : canaries) {
    EXPECT_EQ(sandbox::readFile(canary).value_or("<gone>"), "canary") << canary;
  }
  EXPECT_TRUE(fs::is_directory(data));
}

}  // namespace
