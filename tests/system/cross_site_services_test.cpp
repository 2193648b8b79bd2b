// The event follow-up against the real event and file services: a server
// event registered through the proxy answers a failed request, an
// unreachable site without one gets the file service's portal redirect, and
// a hostile stored event, a foreign page or a navigation of a privileged
// page never changes the settings or the permissions.
// Another site's page never reaches the services as a web site, nor a
// server of this machine that declared nothing, whatever name leads there.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "support/event_service.h"
#include "support/loopback_client.h"
#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/script_line.h"
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

  // A click on a link of a privileged page is that page's own navigation,
  // its Referer the privileged host's; yet only the page's script (its
  // line) sets the proxy or grants a permission.
  const std::string ownPage = std::string("Referer: http://") + kPrivileged + "/varlume/file/varlumeportal.html\r\n";
  const std::string grant = std::string("http://") + kPrivileged +
                            "/varlume/event/ADDCROSSSITEUSER?Domain=evil.test&CrossDomain=bank.test&Permission=3";
  const std::string privilegedDatabase = box.user(0).documents + "/Varlume/" + kPrivileged + "/EventDatabase.db";
  const std::optional<std::string> databaseBefore = sandbox::readFile(privilegedDatabase);
  ASSERT_TRUE(databaseBefore.has_value());
  for (const std::string& target : {setProxy, grant}) {
    for (const std::string& page : {ownPage, ownPage + "Origin: http://" + kPrivileged + "\r\n"}) {
      answer = ask(get(target, kPrivileged, page));
      EXPECT_EQ(answer.head.rfind("HTTP/1.1 500 Request refused.", 0), 0u) << target << answer.head;
    }
  }
  EXPECT_EQ(sandbox::readFile(config).value_or(""), before);
  EXPECT_TRUE(sandbox::readFile(privilegedDatabase) == databaseBefore) << "the privileged database changed";

  answer = ask(get(setProxy, kPrivileged, ownPage + servicetest::kScriptLine));
  EXPECT_EQ(answer.head.rfind("HTTP/1.1 200", 0), 0u) << answer.head;
  EXPECT_NE(sandbox::readFile(config).value_or("").find("proxyhost=evil"), std::string::npos);
  answer = ask(get(grant, kPrivileged, ownPage + servicetest::kScriptLine));
  EXPECT_EQ(answer.body, eventtest::kOk) << answer.head;
  EXPECT_EQ(eventtest::rowsOf(privilegedDatabase, "SELECT * FROM CrossSiteUser"),
            (eventtest::Rows{{"evil.test", "bank.test", "3"}}));
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

// This machine's host name when it leads to a loopback address (as a
// hosts-file entry does), else empty.
std::string hostNameOfThisMachine() {
  std::string name;
  if (!platform::localHostName(name) || name.empty()) return std::string();
  const platform::Socket probe = platform::tcpSocket();
  origin::VLOriginServer listener([](const origin::VLReceived&) { return origin::VLReply::bytes(""); });
  const bool here = probe != platform::kInvalidSocket && listener.listening() &&
                    platform::connectSocket(probe, name, listener.port(), 5);
  if (probe != platform::kInvalidSocket) platform::closeSocket(probe);
  return here ? name : std::string();
}

// The names by which a page may try to reach this machine's services.
std::vector<std::string> namesOfThisMachine() {
  std::vector<std::string> names{"127.0.0.1", "localhost"};
  const std::string own = hostNameOfThisMachine();
  if (!own.empty()) names.push_back(own);
  return names;
}

TEST_F(CrossSiteServices, AnotherSitesPageNeverReachesTheServicesAsAWebSite) {
  const std::string referer = "Referer: http://evil.test/page.html\r\n";
  for (const std::string& name : namesOfThisMachine()) {
    const std::string files = name + ":" + std::to_string(base);
    const std::string events = name + ":" + std::to_string(base + 3);
    const std::string listener = name + ":" + std::to_string(proxy.port());
    ask(get("http://evil.test/varlume/file/CROSSSITESCRIPT?" + files + "&" + events + "&" + listener, "evil.test",
            referer));
    testsupport::HttpResponse answer =
        ask(get("http://evil.test/varlume/web/" + files + "/STRINGFILE?Path=&Name=planted.txt&Data=x", "evil.test"));
    EXPECT_EQ(answer.body.find("<Varlume>"), std::string::npos) << name << answer.head << answer.body;
    answer = ask(get("http://evil.test/varlume/web/" + events +
                         "/ADDSERVEREVENT?Path=/x&Event=NOWEB&Action=/varlume/file/GETVERSION&ActionParams=a%3D1",
                     "evil.test"));
    EXPECT_EQ(answer.body.find("<Varlume>"), std::string::npos) << name << answer.head << answer.body;
    answer = ask(get("http://evil.test/varlume/web/" + listener + "/varlume/file/GETVERSION", "evil.test"));
    EXPECT_EQ(answer.body.find("<Varlume>"), std::string::npos) << name << answer.head << answer.body;
    // Nothing was kept for the site that the name stands for.
    for (const std::string& site : sandbox::folderNames(box.user(0).documents + "/Varlume")) {
      EXPECT_EQ(site.find(name), std::string::npos) << name << " made " << site;
    }
  }
}

// A server of this machine reached by a name that is no loopback name (the
// machine's own host name) passes only by a declaration it served with
// status 200; one whose declaration could not be read stays closed.
TEST_F(CrossSiteServices, AServerOfThisMachineByAnyNamePassesOnlyByItsOwnDeclaration) {
  const std::string own = hostNameOfThisMachine();
  if (own.empty()) GTEST_SKIP() << "this machine's host name leads to no loopback address";
  struct Case {
    const char* label;
    const char* declaration;  // the answer to /varlume.txt
    bool passes;
  };
  const Case cases[] = {
      {"an error page declares nothing", "HTTP/1.0 404 Not Found\r\n\r\nnone", false},
      {"a served empty declaration opens it", "HTTP/1.0 200 OK\r\n\r\n# all\n", true},
  };
  for (const Case& c : cases) {
    const std::string declaration = c.declaration;
    origin::VLOriginServer local([&declaration](const origin::VLReceived& r) {
      if (r.path() == "/varlume.txt") return origin::VLReply::bytes(declaration, origin::VLReply::After::Close);
      return origin::VLReply::withLength("local secret");
    });
    ASSERT_TRUE(local.listening());
    const std::string site = own + ":" + std::to_string(local.port());
    ask(get("http://evil.test/varlume/file/CROSSSITESCRIPT?" + site, "evil.test",
            "Referer: http://evil.test/page.html\r\n"));
    const testsupport::HttpResponse answer = ask(get("http://evil.test/varlume/web/" + site + "/secret", "evil.test"));
    EXPECT_EQ(answer.body == "local secret", c.passes) << c.label << answer.head << answer.body;
    int secrets = 0;
    for (const origin::VLReceived& r : local.received()) secrets += r.path() == "/secret" ? 1 : 0;
    EXPECT_EQ(secrets, c.passes ? 1 : 0) << c.label;
  }
}

}  // namespace
