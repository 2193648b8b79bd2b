// The portal in a real Chromium through the whole system, with a real mouse:
// another site shows the portal with a failed request of its choosing that
// names the privileged host's own commands, and the user clicks it, on the
// portal itself or on a button the portal covers unseen in a frame; a plain
// navigation starts on a page of the privileged host. None of them changes
// the user's settings or the privileged database, while a click on the link
// of an ordinary failed request still goes there and the portal's own
// settings form still saves.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "support/chromium.h"
#include "support/devtools_browser.h"
#include "support/event_service.h"
#include "support/origin_server.h"
#include "support/percent_encoded.h"
#include "support/sandbox.h"
#include "support/whole_system.h"

namespace {

using origin::VLReceived;
using origin::VLReply;

const std::string kSetProxy = "http://varlume.internal/varlume/file/SETPROXY?Host=127.0.0.77&Port=3128";
const std::string kGrant =
    "http://varlume.internal/varlume/event/ADDCROSSSITEUSER?Domain=evil.example&CrossDomain=bank.example"
    "&Permission=3";

// The portal page with its two words filled, as any page may name it.
std::string portalUrl(const std::string& host, const std::string& failedRequest) {
  return "http://varlume.internal/varlume/file/varlumeportal.html?VLReplaceCount=2"
         "&VLReplaceKey1=VARLUMEREPLACEHOSTNAMESTRING&VLReplaceValue1=" + host +
         "&VLReplaceKey2=VARLUMEREPLACEQUERYSTRING&VLReplaceValue2=" + percentEncoded(failedRequest);
}

// A game's page: a PLAY button under the portal, which fills the window
// and cannot be seen, so that the portal lies as it lies in a window of
// its own.
std::string playPage(const std::string& command) {
  return "<!DOCTYPE html><html><body style=\"margin:0\">"
         "<button style=\"position:absolute;left:0;top:0;width:100%;height:100%;font-size:4em\">PLAY</button>"
         "<iframe src=\"" + portalUrl("bank.example", command) +
         "\" style=\"position:fixed;left:0;top:0;width:100%;height:100%;border:0;opacity:0\"></iframe>"
         "</body></html>";
}

class PortalClicks : public ::testing::Test {
 protected:
  PortalClicks()
      : pages_({{"http://evil.example/play-settings.html", playPage(kSetProxy)},
                {"http://evil.example/play-grant.html", playPage(kGrant)},
                {"http://a.example/again", "<!DOCTYPE html><p>again</p>"}}),
        origin_([this](const VLReceived& request) { return answer(request); }) {}

  void SetUp() override {
    ASSERT_TRUE(origin_.listening());
    ASSERT_TRUE(system.start(origin_.port()));
    browser = std::make_unique<browsertest::VLDevToolsBrowser>(box, system.proxyPort());
    if (!browser->start()) {
      const std::string reason = browsertest::VLChromium(box, system.proxyPort()).unavailableReason();
      if (!reason.empty()) GTEST_SKIP() << reason;
      FAIL() << browser->lastErrors();
    }
  }

  // The page's point at the middle of the first line of the element `id`
  // (a link that wraps leaves the middle of its whole box blank).
  bool centreOf(const std::string& id, double& x, double& y) {
    const std::optional<std::string> point = browser->evaluate(
        "(() => { const r = document.getElementById('" + id +
        "').getClientRects()[0]; return (r.left + r.width / 2) + ' ' + (r.top + r.height / 2); })()");
    return point && std::sscanf(point->c_str(), "%lf %lf", &x, &y) == 2;
  }

  int originCount(const std::string& url) {
    int count = 0;
    for (const VLReceived& request : origin_.received()) count += request.path() == url ? 1 : 0;
    return count;
  }

  std::string config() { return box.user(0).localAppData + "/Varlume/varlume.config"; }
  std::string privilegedDatabase() {
    return box.user(0).documents + "/Varlume/varlume.internal/EventDatabase.db";
  }

  // Members end in reverse order: the browser, the programs, the origin,
  // then the folders.
  sandbox::VLSandbox box;

 private:
  VLReply answer(const VLReceived& request) {
    const auto page = pages_.find(request.path());
    if (page == pages_.end()) return VLReply::bytes("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    return VLReply::withLength(page->second, "Content-Type: text/html\r\nCache-Control: no-store\r\n");
  }

  const std::map<std::string, std::string> pages_;
  origin::VLOriginServer origin_;

 protected:
  servicetest::VLWholeSystem system{box};
  std::unique_ptr<browsertest::VLDevToolsBrowser> browser;
};

TEST_F(PortalClicks, NoClickOrNavigationOfThePortalChangesASettingOrAPermission) {
  const std::optional<std::string> configBefore = sandbox::readFile(config());
  const std::optional<std::string> databaseBefore = sandbox::readFile(privilegedDatabase());
  ASSERT_TRUE(configBefore.has_value() && databaseBefore.has_value());

  struct Lure {
    std::string command;
    std::string playPage;
  };
  const Lure lures[] = {{kSetProxy, "http://evil.example/play-settings.html"},
                        {kGrant, "http://evil.example/play-grant.html"}};
  for (const Lure& lure : lures) {
    SCOPED_TRACE(lure.command);
    // Another site's link leads to the portal; the user clicks the request
    // it shows.
    ASSERT_TRUE(browser->navigate(portalUrl("bank.example", lure.command), "http://evil.example/"))
        << browser->lastErrors();
    double x = 0;
    double y = 0;
    ASSERT_TRUE(centreOf("query", x, y)) << browser->lastErrors();
    EXPECT_TRUE(browser->click(x, y)) << browser->lastErrors();
    // The same portal framed unseen over a button: the click lands where
    // the request lies.
    ASSERT_TRUE(browser->navigate(lure.playPage)) << browser->lastErrors();
    EXPECT_TRUE(browser->click(x, y)) << browser->lastErrors();
    // A navigation that starts on a page of the privileged host.
    EXPECT_TRUE(browser->navigate(lure.command, "http://varlume.internal/varlume/file/varlumeportal.html"))
        << browser->lastErrors();
  }
  EXPECT_EQ(sandbox::readFile(config()), configBefore);
  EXPECT_TRUE(sandbox::readFile(privilegedDatabase()) == databaseBefore) << "the privileged database changed";
  EXPECT_EQ(eventtest::rowsOf(privilegedDatabase(), "SELECT * FROM CrossSiteUser"), eventtest::Rows{});

  // No spelling of the privileged host becomes a link.
  for (const std::string& spelling :
       {std::string("http://VARLUME.Internal/varlume/file/SETPROXY?Host=a&Port=1"),
        std::string("http://varlume.internal./varlume/file/SETPROXY?Host=a&Port=1"),
        std::string("http://varlume%2Einternal/varlume/file/SETPROXY?Host=a&Port=1"),
        std::string("http://varlume.internal:80/varlume/file/SETPROXY?Host=a&Port=1")}) {
    ASSERT_TRUE(browser->navigate(portalUrl("bank.example", spelling))) << browser->lastErrors();
    EXPECT_EQ(browser->evaluate("document.getElementById('query').getAttribute('href')"), "null") << spelling;
  }
  ASSERT_TRUE(browser->navigate(portalUrl("varlume.internal", "/varlume/file/SETPROXY?Host=a&Port=1")))
      << browser->lastErrors();
  EXPECT_EQ(browser->evaluate("document.getElementById('query').getAttribute('href')"), "null");

  // The same click on the link of an ordinary site's failed request goes
  // there.
  ASSERT_TRUE(browser->navigate(portalUrl("a.example", "http://a.example/again"))) << browser->lastErrors();
  double x = 0;
  double y = 0;
  ASSERT_TRUE(centreOf("query", x, y)) << browser->lastErrors();
  EXPECT_TRUE(browser->click(x, y)) << browser->lastErrors();
  EXPECT_EQ(originCount("http://a.example/again"), 1);

  // The portal's own form saves the settings: its script sends them.
  ASSERT_TRUE(browser->navigate(portalUrl("a.example", "http://a.example/"))) << browser->lastErrors();
  for (const auto& [field, text] : {std::pair<std::string, std::string>{"proxyhost", "127.0.0.9"},
                                    std::pair<std::string, std::string>{"proxyport", "3129"}}) {
    ASSERT_TRUE(centreOf(field, x, y)) << browser->lastErrors();
    ASSERT_TRUE(browser->click(x, y) && browser->type(text)) << browser->lastErrors();
  }
  ASSERT_TRUE(centreOf("save", x, y)) << browser->lastErrors();
  ASSERT_TRUE(browser->click(x, y)) << browser->lastErrors();
  EXPECT_TRUE(sandbox::waitUntil(
      [&] { return browser->evaluate("document.getElementById('saved').textContent") == "Saved."; }, 30000))
      << browser->evaluate("document.getElementById('saved').textContent").value_or("(no answer)");
  const std::string saved = sandbox::readFile(config()).value_or("");
  EXPECT_NE(saved.find("proxyport=3129"), std::string::npos) << saved;
  EXPECT_NE(saved.find("proxyhost=127.0.0.9"), std::string::npos) << saved;
}

}  // namespace
