// The event query, the reply decision and the two follow-ups, and the
// pieces of the declaration fetch: one table of texts each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/privileged_host.h"
#include "varlume/cross_site_fetch.h"
#include "varlume/event_followup.h"

namespace {

const std::string kPortalHead = std::string(" HTTP/1.1\r\nHost: ") + kPrivilegedHost + "\r\nReferrer: event\r\n\r\n";

TEST(EventFollowUp, QueryCarriesThePathRawAndThePageHostSafely) {
  EXPECT_EQ(eventQueryText("GET /data.xml?a=1&b=2 HTTP/1.1\r\n", "site.example:8080", kNoWebEvent),
            "GET /varlume/event/getEvent?Path=/data.xml?a=1&b=2&Event=NOWEB HTTP/1.1\r\n"
            "Host: site.example:8080\r\n\r\n");
  EXPECT_EQ(eventQueryText("HEAD /a%20b HTTP/1.0\r\n", "s%41", kNoCrossScriptEvent),
            "GET /varlume/event/getEvent?Path=/a%20b&Event=NOCROSSSCRIPT HTTP/1.1\r\nHost: s%2541\r\n\r\n");
  EXPECT_EQ(eventQueryText("GET /a\rHost: x HTTP/1.1\r\n", "s", kNoWebEvent),
            "GET /varlume/event/getEvent?Path=/a%0DHost: x&Event=NOWEB HTTP/1.1\r\nHost: s\r\n\r\n");
}

TEST(EventFollowUp, ReplyDecidesTheFollowUp) {
  const std::string page = " site.example ";
  const std::string url = "http://other.example/data.xml?a=1&b=2";
  const std::string portal = "GET /varlume/file/getPortal?Host=site.example&Query=" +
                             std::string("http:%2F%2Fother.example%2Fdata.xml%3Fa%3D1%26b%3D2") + kPortalHead;
  struct Case {
    const char* name;
    std::string reply;
    bool head;
    std::string expected;
  };
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n";
  const std::vector<Case> cases = {
      {"empty", "", false, portal},
      {"eleven bytes", "HTTP/1.1 20", false, portal},
      {"200 without an empty line", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n", false, portal},
      {"200 with a target", ok + "/varlume/web/site.example/refused.html?a=1", false,
       "GET /varlume/web/site.example/refused.html?a=1 HTTP/1.1\r\nHost: site.example\r\nReferrer: event\r\n\r\n"},
      {"a HEAD", ok + "/x", true, "HEAD /x HTTP/1.1\r\nHost: site.example\r\nReferrer: event\r\n\r\n"},
      {"a HEAD to the portal", "", true, "HEAD" + portal.substr(3)},
      {"500", "HTTP/1.1 500 No event\r\n\r\n", false, portal},
      {"a target with CR LF", ok + "/varlume/file/SETPROXY?x HTTP/1.1\r\nHost: " + kPrivilegedHost + "\r\n\r\n",
       false, portal},
      {"a target with a blank", ok + "/a b", false, portal},
      {"an absolute target", ok + "http://elsewhere.example/", false, portal},
      {"an empty target", ok, false, portal},
      {"cut at a zero byte", ok + "/x" + std::string(1, '\0') + "\r\nHost: y", false,
       "GET /x HTTP/1.1\r\nHost: site.example\r\nReferrer: event\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(followUpText(c.reply, page, url, c.head), c.expected) << c.name;
}

TEST(EventFollowUp, PageHostKeepsItsPortAndItsPercent) {
  EXPECT_EQ(portalFollowUpText("site.example:8080", "/x", false),
            "GET /varlume/file/getPortal?Host=site.example:8080&Query=%2Fx" + kPortalHead);
  EXPECT_EQ(portalFollowUpText("a%b", "", false), "GET /varlume/file/getPortal?Host=a%25b&Query=" + kPortalHead);
  EXPECT_EQ(targetFollowUpText("/y", "a%b", false), "GET /y HTTP/1.1\r\nHost: a%25b\r\nReferrer: event\r\n\r\n");
}

TEST(CrossSiteFetch, SiteListOfTheRequestLine) {
  using List = std::vector<std::string>;
  EXPECT_EQ(crossSiteList("GET /CROSSSITESCRIPT?siteA&siteB HTTP/1.1\r\n"), (List{"siteA", "siteB"}));
  EXPECT_EQ(crossSiteList("GET /crosssitescript?a&&b& HTTP/1.1\r\n"), (List{"a", "", "b"}));
  EXPECT_EQ(crossSiteList("GET /CROSSSITESCRIPT HTTP/1.1\r\n"), List{});
  EXPECT_EQ(crossSiteList("GET /CROSSSITESCRIPT?"), List{});
  EXPECT_EQ(crossSiteList("GET /x?one"), List{"one"});
}

TEST(CrossSiteFetch, OnlySafeSiteNamesAreFetched) {
  struct Case {
    std::string site;
    bool ok;
    const char* host;
    int port;
  };
  const std::vector<Case> cases = {
      {"siteb.test", true, "siteb.test", 80},     {"siteb.test:8080", true, "siteb.test", 8080},
      {"127.0.0.1:1", true, "127.0.0.1", 1},       {"", false, "", 0},
      {"a b", false, "", 0},                       {"a/b", false, "", 0},
      {"a\\b", false, "", 0},                      {"a\r\nHost: x", false, "", 0},
      {std::string(256, 'a'), false, "", 0},       {std::string(255, 'a'), true, "", 80},
      {"a:0", false, "", 0},                       {"a:65536", false, "", 0},
      {"a:", false, "", 0},                        {"a:80x", false, "", 0},
      {":80", false, "", 0},                       {"a@b", false, "", 0},
      {"a%2eb", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host;
    int port = 0;
    EXPECT_EQ(crossSiteAddress(c.site, host, port), c.ok) << c.site;
    if (c.ok && c.host[0] != '\0') {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    }
  }
}

TEST(CrossSiteFetch, RequestAndBodyOfTheFetch) {
  EXPECT_EQ(crossSiteFetchText("siteb.test", false),
            "GET /varlume.txt HTTP/1.0\r\nHost: siteb.test\r\nAccept: text/plain\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(crossSiteFetchText("siteb.test:81", true),
            "GET http://siteb.test:81/varlume.txt HTTP/1.0\r\nHost: siteb.test:81\r\nAccept: text/plain\r\n"
            "Connection: close\r\n\r\n");
  bool ok = false;
  EXPECT_EQ(declarationBody({"HTTP/1.0 200 OK\r\n\r\ndeny\n", "path=/a*\n"}, ok), "deny\npath=/a*\n");
  EXPECT_TRUE(ok);
  EXPECT_EQ(declarationBody({"HTTP/1.0 404 Not Found\r\n\r\n<html>"}, ok), "<html>");
  EXPECT_FALSE(ok);
  EXPECT_EQ(declarationBody({"HTTP/1.0 200 OK\n\ndeny\n", "path=/b*\n"}, ok), "path=/b*\n");
  EXPECT_EQ(declarationBody({}, ok), "");
  EXPECT_FALSE(ok);
}

}  // namespace
