// The event follow-up against the real event and file services: a server
// event registered through the proxy answers a failed request, an
// unreachable site without one gets the file service's portal redirect, and
// a hostile stored event or a foreign page never changes the settings.
#include <gtest/gtest.h>

#include <string>

#include "support/loopback_client.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/service_process.h"

namespace {

constexpr const char* kPrivileged = "varlume.internal";

class CrossSiteServices : public ::testing::Test {
 protected:
  void SetUp() override {
    base = proxytest::freeServicesBase({0, 3});
    ASSERT_GT(base, 0);
    ASSERT_TRUE(eventService.start(box, "varlumeevent", base, base + 3));
    ASSERT_TRUE(fileService.start(box, "varlumefile", base, base));
    ASSERT_TRUE(proxy.start(box, base));
    config = box.user(0).localAppData + "/Varlume/varlume.config";
  }

  testsupport::HttpResponse ask(const std::string& request, bool headOnly = false) {
    testsupport::LoopbackClient client(proxy.port());
    testsupport::HttpResponse response;
    EXPECT_TRUE(client.send(request));
    EXPECT_TRUE(client.readResponse(response, headOnly, 25000)) << request;
    return response;
  }

  static std::string get(const std::string& url, const std::string& host, const std::string& extra = "",
                         const std::string& method = "GET") {
    return method + " " + url + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra + "\r\n";
  }

  sandbox::VLSandbox box;
  int base = 0;
  servicetest::VLServiceProcess eventService;
  servicetest::VLServiceProcess fileService;
  proxytest::VLProxyProcess proxy;
  std::string config;
};

const std::string kVersion =
    "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason><VarlumeFile>";

TEST_F(CrossSiteServices, ARegisteredEventAnswersAndOtherwiseThePortal) {
  const std::string site = "127.0.0.1:" + std::to_string(sandbox::freeLoopbackPorts(1)[0]);
  const std::string referer = "Referer: http://" + site + "/index.html\r\n";
  // Registered through the proxy by the site's own page.
  testsupport::HttpResponse added = ask(get("http://" + site + "/varlume/event/ADDSERVEREVENT?Path=/data.xml"
                                            "&Event=NOWEB&Action=/varlume/file/GETVERSION&ActionParams=a%3D1",
                                            site, referer));
  ASSERT_EQ(added.head.rfind("HTTP/1.1 200", 0), 0u) << added.head << added.body;

  testsupport::HttpResponse answer = ask(get("http://" + site + "/data.xml", site));
  EXPECT_EQ(answer.head.rfind("HTTP/1.1 200", 0), 0u) << answer.head;
  EXPECT_EQ(answer.body.rfind(kVersion, 0), 0u) << answer.body;

  // The other event finds nothing: the portal redirect for the page host
  // and the URL it asked for.
  answer = ask(get("http://pagea.test/varlume/web/" + site + "/data.xml", "pagea.test"));
  EXPECT_EQ(answer.head.rfind("HTTP/1.1 302 Object moved\r\n", 0), 0u) << answer.head << answer.body;
  EXPECT_NE(answer.head.find("VLReplaceValue1=pagea.test&"), std::string::npos) << answer.head;
  answer = ask(get("http://" + site + "/other?x=1", site));
  EXPECT_EQ(answer.head.rfind("HTTP/1.1 302 Object moved\r\n", 0), 0u) << answer.head << answer.body;
  EXPECT_NE(answer.head.find("VLReplaceValue1=" + site + "&"), std::string::npos) << answer.head;
  EXPECT_NE(answer.head.find("VLReplaceValue2=http:%2F%2F" + site + "%2Fother%3Fx%3D1"), std::string::npos)
      << answer.head;
  // A HEAD gets the head alone, and the next pipelined answer follows intact.
  testsupport::LoopbackClient client(proxy.port());
  ASSERT_TRUE(client.send(get("http://" + site + "/h", site, "", "HEAD") + get("http://" + site + "/data.xml", site)));
  testsupport::HttpResponse head;
  ASSERT_TRUE(client.readResponse(head, true, 25000));
  EXPECT_EQ(head.head.rfind("HTTP/1.1 302 Object moved\r\n", 0), 0u) << head.head;
  EXPECT_NE(head.head.find("VLReplaceValue2=http:%2F%2F" + site + "%2Fh"), std::string::npos) << head.head;
  testsupport::HttpResponse next;
  ASSERT_TRUE(client.readResponse(next, false, 25000));
  EXPECT_EQ(next.body.rfind(kVersion, 0), 0u) << next.head << next.body;
  EXPECT_TRUE(sandbox::waitUntil([&] { return proxy.partFiles().empty(); }, 5000));
}

TEST_F(CrossSiteServices, NoHostileEventOrForeignPageChangesTheSettings) {
  const std::string before = sandbox::readFile(config).value_or("");
  ASSERT_FALSE(before.empty());
  const std::string referer = "Referer: http://site.example/\r\n";
  ASSERT_EQ(ask(get("http://site.example/varlume/event/ADDSERVEREVENT?Path=/x&Event=NOCROSSSCRIPT"
                    "&Action=/varlume/file/SETPROXY&ActionParams=Host%3Devil%26Port%3D1%20HTTP/1.1%0D%0AHost:%20" +
                        std::string(kPrivileged) + "%0D%0A%0D%0A",
                    "site.example", referer))
                .head.rfind("HTTP/1.1 200", 0),
            0u);
  testsupport::HttpResponse answer = ask(get("http://site.example/varlume/web/other.example/x", "site.example"));
  EXPECT_EQ(answer.head.rfind("HTTP/1.1 302 Object moved\r\n", 0), 0u) << answer.head << answer.body;
  EXPECT_EQ(sandbox::readFile(config).value_or(""), before);

  const std::string setProxy = std::string("http://") + kPrivileged + "/varlume/file/SETPROXY?Host=evil&Port=1";
  for (const std::string& foreign : {std::string("Referer: http://site.example/\r\n"), std::string()}) {
    answer = ask(get(setProxy, kPrivileged, foreign));
    EXPECT_EQ(answer.head.rfind("HTTP/1.1 500 Request refused.", 0), 0u) << answer.head;
  }
  EXPECT_EQ(sandbox::readFile(config).value_or(""), before);
  answer = ask(get(setProxy, kPrivileged, std::string("Referer: http://") + kPrivileged + "/varlume/file/p.html\r\n"));
  EXPECT_EQ(answer.head.rfind("HTTP/1.1 200", 0), 0u) << answer.head;
  EXPECT_NE(sandbox::readFile(config).value_or("").find("proxyhost=evil"), std::string::npos);
}

TEST_F(CrossSiteServices, AnotherSitesPageCannotRemoveASitesFolder) {
  const std::string folder = box.user(0).documents + "/Varlume/siteb.test/docs";
  ASSERT_TRUE(sandbox::writeFile(folder + "/keep.txt", "kept"));
  const std::string remove = "http://siteb.test/varlume/file/REMOVEDIRECTORY?Name=docs";
  testsupport::HttpResponse answer = ask(get(remove, "siteb.test", "Referer: http://pagea.test/\r\n"));
  EXPECT_EQ(answer.head.rfind("HTTP/1.1 500 Request refused.", 0), 0u) << answer.head;
  EXPECT_TRUE(sandbox::isFolder(folder));
  answer = ask(get(remove, "siteb.test", "Referer: http://siteb.test/page.html\r\n"));
  EXPECT_EQ(answer.head.rfind("HTTP/1.1 200", 0), 0u) << answer.head;
  EXPECT_TRUE(sandbox::waitUntil([&] { return !sandbox::isFolder(folder); }, 3000)) << answer.body;
}

}  // namespace
