// Cross-site requests and what follows a request that cannot be served, on
// the real varlume: declarations fetched through an upstream proxy that
// answers by host, the check applied to every cross-site request, and the
// event follow-up against scripted stand-ins of the event service (services
// + 3) and the file service (services + 0). Every browser request gets
// exactly one answer, in its place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"
#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"

namespace {

using origin::VLOriginServer;
using origin::VLReceived;
using origin::VLReply;
using proxytest::exchange;

constexpr int kAnswerMs = 25000;
constexpr const char* kPrivileged = "varlume.internal";

std::string headerValue(const std::string& head, const std::string& name) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string key = "\r\n" + name + ":";
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.rfind(key);
  if (at == std::string::npos) return std::string();
  const std::size_t start = head.find_first_not_of(' ', at + key.size());
  return head.substr(start, head.find("\r\n", start) - start);
}

std::string parameter(const std::string& path, const std::string& name) {
  const std::size_t at = path.find(name + "=");
  if (at == std::string::npos) return std::string();
  const std::size_t start = at + name.size() + 1;
  return path.substr(start, path.find('&', start) - start);
}

// What the stand-in of the file service answers for /getPortal: the
// redirect, its body naming the same location.
std::string portalReply(const std::string& host, const std::string& query, bool head) {
  const std::string location = std::string("http://") + kPrivileged +
                               "/varlume/file/varlumeportal.html?Host=" + host + "&Query=" + query;
  const std::string body = "<a href='" + location + "'>here</a>";
  const std::string text = "HTTP/1.1 302 Object moved\r\nLocation: " + location +
                           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n";
  return head ? text : text + body;
}

std::string plainReply(const std::string& body, bool head = false) {
  const std::string text = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n";
  return head ? text : text + body;
}

class CrossSiteRoad : public ::testing::Test {
 protected:
  // Starts the stand-ins (the event service unless told otherwise), an
  // upstream proxy when asked, and varlume.
  void start(bool upstream, bool eventService = true) {
    servicesBase = proxytest::freeServicesBase({0, 3});
    ASSERT_GT(servicesBase, 0);
    file = std::make_unique<VLOriginServer>(
        [](const VLReceived& r) {
          const std::string path = r.path();
          if (path.rfind("/getPortal?", 0) == 0) {
            return VLReply::bytes(portalReply(parameter(path, "Host"), parameter(path, "Query"), r.method() == "HEAD"));
          }
          return VLReply::bytes(plainReply("file " + path, r.method() == "HEAD"));
        },
        servicesBase);
    ASSERT_TRUE(file->listening());
    if (eventService) {
      event = std::make_unique<VLOriginServer>(
          [this](const VLReceived& r) {
            const std::string path = r.path();
            if (path.rfind("/getEvent?", 0) != 0) return VLReply::bytes(plainReply("event " + path));
            std::string target;
            int delay = 0;
            {
              std::lock_guard<std::mutex> lock(eventsMutex);
              auto found = events.find(parameter(path, "Path") + "|" + parameter(path, "Event"));
              if (found != events.end()) target = found->second;
              delay = eventDelayMs;
            }
            VLReply reply = target.empty()
                                ? VLReply::bytes("HTTP/1.1 500 Internal server error\r\nContent-Length: 0\r\n\r\n")
                                : VLReply::bytes(plainReply(target));
            reply.steps[0].pauseMsBefore = delay;
            return reply;
          },
          servicesBase + 3);
      ASSERT_TRUE(event->listening());
    }
    std::vector<std::string> arguments;
    if (upstream) {
      web = std::make_unique<VLOriginServer>([this](const VLReceived& r) { return answerWeb(r); });
      ASSERT_TRUE(web->listening());
      arguments = {"-x", "127.0.0.1", "-y", std::to_string(web->port())};
    }
    ASSERT_TRUE(proxy.start(box, servicesBase, arguments));
  }

  // The upstream proxy: answers as the site the request names.
  VLReply answerWeb(const VLReceived& r) {
    const std::string host = headerValue(r.head, "Host");
    const std::string path = r.path();
    const bool declaration = path.find("/varlume.txt") != std::string::npos;
    if (host == "siteb.test" && declaration) {
      return VLReply::untilClose("domain=siteb.test\ndeny\npath=/private*\nallow\nfrom=pagea.test\npath=/private/shared*\n");
    }
    if (host.rfind("many", 0) == 0 && declaration) return VLReply::untilClose("deny\npath=/blocked*\n");
    if (host.rfind("large", 0) == 0 && declaration) {
      // Just under the size bound; its one pattern comes last.
      std::string body = "deny\n";
      while (body.size() < 1024 * 1024 - 100) body += "# filler filler filler filler filler filler filler\n";
      return VLReply::untilClose(body + "path=/blocked*\n");
    }
    if (host == "huge.test" && declaration) {
      // A declaration past the size bound: what lies beyond it is not read.
      std::string body = "deny\npath=/early*\n";
      while (body.size() < 1536 * 1024) body += "# filler filler filler filler filler filler filler\n";
      return VLReply::untilClose(body + "path=/late*\n");
    }
    if (!declaresNothing.empty() && host.rfind(declaresNothing + ":", 0) == 0 && declaration) {
      return VLReply::bytes("HTTP/1.0 404 Not Found\r\n\r\nnothing here\n", VLReply::After::Close);
    }
    if (host == "sitec.test") {
      return VLReply::bytes("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>gone</html>\n",
                            VLReply::After::Close);
    }
    return VLReply::bytes(plainReply(host + " " + path, r.method() == "HEAD"));
  }

  void registerEvent(const std::string& path, const std::string& eventName, const std::string& target) {
    std::lock_guard<std::mutex> lock(eventsMutex);
    events[path + "|" + eventName] = target;
  }

  std::string ask(const std::string& request, std::size_t wanted) {
    return exchange(proxy.port(), request, wanted, kAnswerMs);
  }

  static std::string get(const std::string& url, const std::string& host, const std::string& method = "GET") {
    return method + " " + url + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
  }
  // A request of the page itself (its Referer names the page host).
  static std::string pageGet(const std::string& url, const std::string& host) {
    return "GET " + url + " HTTP/1.1\r\nHost: " + host + "\r\nReferer: http://" + host + "/index.html\r\n\r\n";
  }

  // Requests the web stand-in received for paths holding `text`.
  int webRequestsFor(const std::string& text) {
    int count = 0;
    for (const VLReceived& r : web->received()) count += r.head.find(text) != std::string::npos ? 1 : 0;
    return count;
  }

  bool noPartFilesLeft() {
    return sandbox::waitUntil([this] { return proxy.partFiles().empty(); }, 5000);
  }

  sandbox::VLSandbox box;
  int servicesBase = 0;
  std::unique_ptr<VLOriginServer> file;
  std::unique_ptr<VLOriginServer> event;
  std::unique_ptr<VLOriginServer> web;
  proxytest::VLProxyProcess proxy;
  std::mutex eventsMutex;
  std::map<std::string, std::string> events;
  int eventDelayMs = 0;
  // A host of this machine, by name: its servers declare nothing.
  std::string declaresNothing;
};

int closedPort() { return sandbox::freeLoopbackPorts(1)[0]; }

// A name of this machine's hosts file that leads to a loopback address and
// whose text does not tell so (neither a localhost name nor this machine's
// host name), as any public name can be made to; empty when there is none.
std::string loopbackAlias() {
  std::string own;
  platform::localHostName(own);
  for (char& c : own) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::ifstream hosts("/etc/hosts");
  std::string line;
  while (std::getline(hosts, line)) {
    std::istringstream fields(line.substr(0, line.find('#')));
    std::string address;
    std::string name;
    if (!(fields >> address) || (address.rfind("127.", 0) != 0 && address != "::1")) continue;
    while (fields >> name) {
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const bool localhostName = name == "localhost" || (name.size() > 10 && name.compare(name.size() - 10, 10, ".localhost") == 0);
      if (localhostName || name == own || name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-.") != std::string::npos) continue;
      return name;
    }
  }
  return std::string();
}

TEST_F(CrossSiteRoad, UnreachableSiteGetsThePortalInItsPlace) {
  start(false);
  const std::string site = "127.0.0.1:" + std::to_string(closedPort());
  const std::string requests = get("http://" + site + "/a?b=1", site) + get("http://" + site + "/h", site, "HEAD") +
                               get("http://s.example/varlume/file/next", "s.example");
  const std::string expected = portalReply(site, "http:%2F%2F" + site + "%2Fa%3Fb%3D1", false) +
                               portalReply(site, "http:%2F%2F" + site + "%2Fh", true) +
                               plainReply("file /next");
  EXPECT_EQ(ask(requests, expected.size() + 1), expected);
  ASSERT_GE(event->received().size(), 2u);
  EXPECT_EQ(event->received()[0].head,
            "GET /getEvent?Path=/a?b=1&Event=NOWEB HTTP/1.1\r\nHost: " + site + "\r\n\r\n");
  // The follow-ups travel on connections of their own: any arrival order.
  int heads = 0;
  for (const VLReceived& r : file->received()) {
    if (r.path().rfind("/getPortal?", 0) != 0) continue;
    heads += r.method() == "HEAD" ? 1 : 0;
    EXPECT_EQ(headerValue(r.head, "Host"), kPrivileged);
  }
  EXPECT_EQ(heads, 1);
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(CrossSiteRoad, RegisteredEventsAnswerEachByItsOwnEvent) {
  start(false);
  const std::string site = "127.0.0.1:" + std::to_string(closedPort());
  registerEvent("/data.xml", "NOWEB", "/varlume/file/noweb.html?a=1");
  registerEvent("/data.xml", "NOCROSSSCRIPT", "/varlume/file/refused.html?a=1");
  const std::string requests = get("http://" + site + "/data.xml", site) +
                               get("http://site.example/varlume/web/other.example/data.xml", "site.example") +
                               get("http://site.example/varlume/web/other.example/data.xml", "site.example", "HEAD");
  const std::string expected = plainReply("file /noweb.html?a=1") + plainReply("file /refused.html?a=1") +
                               plainReply("file /refused.html?a=1", true);
  EXPECT_EQ(ask(requests, expected.size() + 1), expected);
  std::vector<std::string> asked;
  for (const VLReceived& r : file->received()) asked.push_back(r.head);
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{
                       "GET /noweb.html?a=1 HTTP/1.1\r\nHost: " + site + "\r\nReferrer: event\r\n\r\n",
                       "GET /refused.html?a=1 HTTP/1.1\r\nHost: site.example\r\nReferrer: event\r\n\r\n",
                       "HEAD /refused.html?a=1 HTTP/1.1\r\nHost: site.example\r\nReferrer: event\r\n\r\n"}));
}

TEST_F(CrossSiteRoad, AFollowUpThatCannotBeServedRaisesNoQuery) {
  start(false);
  const std::string closed = "127.0.0.1:" + std::to_string(closedPort());
  // The first follow-up is refused by the check, the second cannot connect.
  registerEvent("/x", "NOCROSSSCRIPT", "/varlume/web/q.example/again");
  registerEvent("/y", "NOCROSSSCRIPT", "/varlume/web/" + closed + "/y");
  const std::string requests = get("http://p.example/varlume/web/q.example/x", "p.example") +
                               get("http://" + closed + "/varlume/web/other.example/y", closed) +
                               get("http://p.example/varlume/file/after", "p.example");
  const std::string answer = ask(requests, 100000);
  const std::string none = "HTTP/1.1 500 No response from server.\r\n";
  ASSERT_EQ(answer.rfind(none, 0), 0u) << answer;
  EXPECT_NE(answer.find(none, none.size()), std::string::npos) << answer;
  const std::string after = plainReply("file /after");
  ASSERT_GE(answer.size(), after.size());
  EXPECT_EQ(answer.substr(answer.size() - after.size()), after);
  EXPECT_EQ(event->received().size(), 2u);
}

TEST_F(CrossSiteRoad, ASlowEventServiceStillGivesTheEvent) {
  start(false);
  eventDelayMs = 1200;
  registerEvent("/slow", "NOCROSSSCRIPT", "/varlume/file/late");
  const std::string expected = plainReply("file /late");
  EXPECT_EQ(ask(get("http://p.example/varlume/web/q.example/slow", "p.example"), expected.size() + 1), expected);
}

TEST_F(CrossSiteRoad, NoEventServiceGivesNoResponseFromServerInPlace) {
  start(false, false);
  const std::string requests = get("http://p.example/varlume/web/q.example/x", "p.example") +
                               get("http://p.example/varlume/file/after", "p.example");
  const std::string answer = ask(requests, 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 500 No response from server.\r\n", 0), 0u) << answer;
  const std::string after = plainReply("file /after");
  ASSERT_GE(answer.size(), after.size());
  EXPECT_EQ(answer.substr(answer.size() - after.size()), after);
}

TEST_F(CrossSiteRoad, DeclarationsDecideWhatAnotherSitesPageMayReach) {
  start(true);
  const std::string page = "pagea.test";
  auto via = [&](const std::string& site, const std::string& path, const std::string& from = "pagea.test") {
    return get("http://" + from + "/varlume/web/" + site + path, from);
  };
  auto portalFor = [&](const std::string& site, const std::string& path, const std::string& from = "pagea.test") {
    return portalReply(from, "http:%2F%2F" + from + "%2Fvarlume%2Fweb%2F" + site +
                                 [&] {
                                   std::string p;
                                   for (char c : path) p += c == '/' ? std::string("%2F") : c == '?' ? std::string("%3F") : c == '=' ? std::string("%3D") : c == '%' ? std::string("%25") : std::string(1, c);
                                   return p;
                                 }(),
                       false);
  };
  // Before any declaration: refused.
  std::string expected = portalFor("siteb.test", "/public");
  EXPECT_EQ(ask(via("siteb.test", "/public"), expected.size() + 1), expected);

  const std::string script = pageGet("http://pagea.test/varlume/event/CROSSSITESCRIPT?siteb.test&sitec.test", page);
  expected = plainReply("event /CROSSSITESCRIPT?siteb.test&sitec.test");
  EXPECT_EQ(ask(script, expected.size() + 1), expected);
  ASSERT_EQ(webRequestsFor("/varlume.txt"), 2);
  EXPECT_EQ(web->received()[0].head,
            "GET http://siteb.test/varlume.txt HTTP/1.0\r\nHost: siteb.test\r\nAccept: text/plain\r\n"
            "Connection: close\r\n\r\n");

  for (const char* denied : {"/private/x", "/PRIVATE/x", "/private/x?q=1", "/%70rivate/x", "/public/../private/x"}) {
    expected = portalFor("siteb.test", denied);
    EXPECT_EQ(ask(via("siteb.test", denied), expected.size() + 1), expected) << denied;
  }
  EXPECT_EQ(webRequestsFor("rivate/x"), 0);
  for (const char* allowed : {"/public", "/private/shared/doc"}) {
    expected = plainReply(std::string("siteb.test ") + "http://siteb.test" + allowed);
    EXPECT_EQ(ask(via("siteb.test", allowed), expected.size() + 1), expected) << allowed;
  }
  // A site that answered with an error page passes for the day; the page's
  // own site and the services pass without a record.
  const std::string gone = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>gone</html>\n";
  EXPECT_EQ(ask(via("sitec.test", "/any"), gone.size() + 1), gone);
  expected = plainReply("pagea.test http://pagea.test/own");
  EXPECT_EQ(ask(get("http://pagea.test/own", page), expected.size() + 1), expected);
  // Another page host has no record of its own.
  expected = portalFor("siteb.test", "/public", "pagez.test");
  EXPECT_EQ(ask(via("siteb.test", "/public", "pagez.test"), expected.size() + 1), expected);

  // Within the day a second script fetches nothing.
  expected = plainReply("event /CROSSSITESCRIPT?siteb.test&sitec.test");
  EXPECT_EQ(ask(script, expected.size() + 1), expected);
  EXPECT_EQ(webRequestsFor("/varlume.txt"), 2);
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(CrossSiteRoad, OnlyThePagesOwnRequestFetchesDeclarations) {
  start(true);
  // Through any service, with no Referer or another site's: forwarded to
  // the service as it is, no declaration fetched, the site still refused.
  for (const std::string& request : std::vector<std::string>{
           get("http://pagea.test/varlume/file/CROSSSITESCRIPT?siteb.test", "pagea.test"),
        "GET http://pagea.test/varlume/file/x/CROSSSITESCRIPT?siteb.test HTTP/1.1\r\nHost: pagea.test\r\n"
        "Referer: http://evil.test/\r\n\r\n",
        "GET http://pagea.test/varlume/file/GET?Path=/CROSSSITESCRIPT?siteb.test HTTP/1.1\r\nHost: pagea.test\r\n"
        "Origin: null\r\n\r\n"}) {
    EXPECT_EQ(ask(request, 100000).rfind("HTTP/1.1 200 OK", 0), 0u) << request;
  }
  EXPECT_EQ(webRequestsFor("/varlume.txt"), 0);
  const std::string refused = ask(get("http://pagea.test/varlume/web/siteb.test/public", "pagea.test"), 100000);
  EXPECT_EQ(refused.find("siteb.test http://siteb.test/public"), std::string::npos) << refused;
  // The page's own request through the file service fetches it.
  ask(pageGet("http://pagea.test/varlume/file/CROSSSITESCRIPT?siteb.test", "pagea.test"), 100000);
  EXPECT_EQ(webRequestsFor("/varlume.txt"), 1);
  const std::string expected = plainReply("siteb.test http://siteb.test/public");
  EXPECT_EQ(ask(get("http://pagea.test/varlume/web/siteb.test/public", "pagea.test"), expected.size() + 1), expected);
}

TEST_F(CrossSiteRoad, ManySitesAreFetchedUpToTheBound) {
  start(true);
  auto script = [](int from, int count) {
    std::string line = "http://pagea.test/varlume/event/CROSSSITESCRIPT?";
    for (int i = from; i < from + count; ++i) line += "many" + std::to_string(i) + ".test" + (i + 1 < from + count ? "&" : "");
    return pageGet(line, "pagea.test");
  };
  std::string answer = ask(script(1, 15), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u);
  EXPECT_EQ(webRequestsFor("/varlume.txt"), 15);
  for (int i : {1, 11, 15}) {
    const std::string site = "many" + std::to_string(i) + ".test";
    const std::string open = plainReply(site + " http://" + site + "/open");
    EXPECT_EQ(ask(get("http://pagea.test/varlume/web/" + site + "/open", "pagea.test"), open.size() + 1), open);
    answer = ask(get("http://pagea.test/varlume/web/" + site + "/blocked", "pagea.test"), 100000);
    EXPECT_EQ(answer.rfind("HTTP/1.1 302", 0), 0u) << site;
  }
  answer = ask(script(100, 25), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u);
  EXPECT_EQ(webRequestsFor("/varlume.txt"), 35);
  EXPECT_EQ(webRequestsFor("many120.test/varlume.txt"), 0);
  EXPECT_EQ(webRequestsFor("many119.test/varlume.txt"), 1);
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(CrossSiteRoad, TwentyLargeDeclarationsAreAllRead) {
  start(true);
  std::string line = "http://pagea.test/varlume/event/CROSSSITESCRIPT?";
  for (int i = 1; i <= 20; ++i) line += "large" + std::to_string(i) + ".test" + (i < 20 ? "&" : "");
  // Loose enough for the fetch's own bounds: what counts is what was read.
  std::string answer = exchange(proxy.port(), pageGet(line, "pagea.test"), 100000, 90000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u);
  int read = 0;
  for (int i = 1; i <= 20; ++i) {
    const std::string site = "large" + std::to_string(i) + ".test";
    const std::string open = plainReply(site + " http://" + site + "/open");
    // Each answer is read only as far as it decides.
    const bool opens = ask(get("http://pagea.test/varlume/web/" + site + "/open", "pagea.test"), open.size()) == open;
    const std::string refused = "HTTP/1.1 302";
    answer = ask(get("http://pagea.test/varlume/web/" + site + "/blocked", "pagea.test"), refused.size());
    read += opens && answer.rfind(refused, 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(read, 20);
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(CrossSiteRoad, ADeclarationIsReadUpToItsSizeBound) {
  start(true);
  std::string answer = ask(pageGet("http://pagea.test/varlume/event/CROSSSITESCRIPT?huge.test", "pagea.test"), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u);
  answer = ask(get("http://pagea.test/varlume/web/huge.test/early", "pagea.test"), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 302", 0), 0u) << answer;
  const std::string late = plainReply("huge.test http://huge.test/late");
  EXPECT_EQ(ask(get("http://pagea.test/varlume/web/huge.test/late", "pagea.test"), late.size() + 1), late);
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(CrossSiteRoad, BodiesOfRequestsThatAreNotRelayedNeverBecomeRequests) {
  start(true);
  const std::string smuggled = get("http://evil.test/smuggled", "evil.test");
  const std::string post = "POST http://pagea.test/varlume/web/siteb.test/form HTTP/1.1\r\nHost: pagea.test\r\n"
                           "Content-Length: " + std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled;
  const std::string next = plainReply("pagea.test http://pagea.test/next");
  const std::string answer = ask(post + get("http://pagea.test/next", "pagea.test"), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 302", 0), 0u) << answer;
  ASSERT_GE(answer.size(), next.size());
  EXPECT_EQ(answer.substr(answer.size() - next.size()), next);
  EXPECT_EQ(webRequestsFor("smuggled"), 0);
}

TEST_F(CrossSiteRoad, UnreachablePostBodyNeverBecomesARequest) {
  start(false);
  const std::string site = "127.0.0.1:" + std::to_string(closedPort());
  const std::string smuggled = get("http://s.example/varlume/file/smuggled", "s.example");
  const std::string post = "POST http://" + site + "/form HTTP/1.1\r\nHost: " + site +
                           "\r\nContent-Length: " + std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled;
  const std::string next = plainReply("file /next");
  const std::string answer = ask(post + get("http://s.example/varlume/file/next", "s.example"), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 302", 0), 0u) << answer;
  ASSERT_GE(answer.size(), next.size());
  EXPECT_EQ(answer.substr(answer.size() - next.size()), next);
  for (const VLReceived& r : file->received()) EXPECT_EQ(r.path().find("smuggled"), std::string::npos);
}

TEST_F(CrossSiteRoad, AHostileStoredEventNeverAddsHeaderLines) {
  start(false);
  registerEvent("/x", "NOCROSSSCRIPT",
                std::string("/varlume/file/SETPROXY?Host=evil&Port=1 HTTP/1.1\r\nHost: ") + kPrivileged + "\r\n\r\n");
  const std::string answer = ask(get("http://p.example/varlume/web/q.example/x", "p.example"), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 302", 0), 0u) << answer;
  for (const VLReceived& r : file->received()) {
    EXPECT_EQ(r.path().find("SETPROXY"), std::string::npos) << r.head;
  }
}

TEST_F(CrossSiteRoad, APageThatListsThisMachineCannotReachItsServers) {
  start(false);
  VLOriginServer local([](const VLReceived& r) {
    if (r.path() == "/varlume.txt") {
      return VLReply::bytes("HTTP/1.0 404 Not Found\r\n\r\nnothing here\n", VLReply::After::Close);
    }
    return VLReply::bytes(plainReply("local " + r.path()));
  });
  ASSERT_TRUE(local.listening());
  const std::string target = "127.0.0.1:" + std::to_string(local.port());
  std::string answer = ask(pageGet("http://pagea.test/varlume/event/CROSSSITESCRIPT?127.0.0.1&" + target, "pagea.test"), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u);
  answer = ask(get("http://pagea.test/varlume/web/" + target + "/secret", "pagea.test"), 100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 302", 0), 0u) << answer;
  for (const VLReceived& r : local.received()) EXPECT_EQ(r.path().find("secret"), std::string::npos);
}

// Through the upstream proxy, which connects where the name leads, a name
// that leads to this machine is this machine: a server of it that declared
// nothing stays closed to other sites' pages, and the proxy's own ports are
// never a target, not even of the page's own site.
TEST_F(CrossSiteRoad, ThroughTheUpstreamProxyANameThatLeadsHereIsThisMachine) {
  const std::string alias = loopbackAlias();
  if (alias.empty()) GTEST_SKIP() << "no name of the hosts file leads to loopback but by its text";
  declaresNothing = alias;
  start(true);
  const std::string local = alias + ":" + std::to_string(closedPort());
  const std::string files = alias + ":" + std::to_string(servicesBase);
  const std::string listener = alias + ":" + std::to_string(proxy.port());
  std::string answer = ask(pageGet("http://pagea.test/varlume/event/CROSSSITESCRIPT?" + local + "&" + files + "&" +
                                       listener,
                                   "pagea.test"),
                           100000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << answer;
  // The server that declares nothing was asked; the own ports never are.
  EXPECT_EQ(webRequestsFor(local + "/varlume.txt"), 1);
  EXPECT_EQ(webRequestsFor(files), 0);
  EXPECT_EQ(webRequestsFor(listener), 0);
  for (const std::string& site : {local, files, listener}) {
    answer = ask(get("http://pagea.test/varlume/web/" + site + "/secret", "pagea.test"), 100000);
    EXPECT_EQ(answer.rfind("HTTP/1.1 302", 0), 0u) << site << answer;
  }
  for (const std::string& own : {files, listener}) {
    answer = ask(pageGet("http://" + own + "/own", own), 100000);
    EXPECT_EQ(answer.rfind("HTTP/1.1 302", 0), 0u) << own << answer;
  }
  EXPECT_EQ(webRequestsFor("secret"), 0);
  EXPECT_EQ(webRequestsFor("/own"), 0);
  // A server of this machine is still the page's own site by that name.
  const std::string expected = plainReply(local + " http://" + local + "/mine");
  EXPECT_EQ(ask(pageGet("http://" + local + "/mine", local), expected.size() + 1), expected);
}

TEST_F(CrossSiteRoad, CommandsThatChangeDataRunOnlyForTheirOwnPage) {
  start(false);
  auto withReferer = [](const std::string& url, const std::string& host, const std::string& referer) {
    return "GET " + url + " HTTP/1.1\r\nHost: " + host + "\r\n" + referer + "\r\n";
  };
  const std::string privileged = kPrivileged;
  const std::string setProxy = "http://" + privileged + "/varlume/file/SETPROXY?Host=evil&Port=1";
  struct Case {
    std::string request;
    bool reaches;
  };
  const std::vector<Case> cases = {
      {withReferer(setProxy, privileged, "Referer: http://pagea.test/\r\n"), false},
      {withReferer(setProxy, privileged, ""), false},
      {withReferer(setProxy, privileged, "Origin: null\r\n"), false},
      // The privileged page's own navigation (a click on its link) is no
      // command of its script.
      {withReferer(setProxy, privileged, "Referer: http://" + privileged + "/portal.html\r\n"), false},
      {withReferer(setProxy, privileged, "Referer: http://" + privileged + "/portal.html\r\nX-Varlume-Command: 1\r\n"),
       true},
      {withReferer("http://" + privileged + "/varlume/file/varlumeportal.html", privileged,
                   "Referer: http://pagea.test/x\r\n"),
       true},
      {withReferer("http://siteb.test/varlume/file/REMOVEDIRECTORY?Name=docs", "siteb.test",
                   "Referer: http://pagea.test/\r\n"),
       false},
      {withReferer("http://siteb.test/varlume/file/REMOVEDIRECTORY?Name=docs", "siteb.test",
                   "Referer: http://siteb.test/page.html\r\n"),
       true},
  };
  for (const Case& c : cases) {
    const std::size_t before = file->received().size();
    const std::string answer = ask(c.request, 100000);
    if (c.reaches) {
      EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << c.request;
      EXPECT_EQ(file->received().size(), before + 1) << c.request;
    } else {
      EXPECT_EQ(answer.rfind("HTTP/1.1 500 Request refused.", 0), 0u) << c.request << answer;
      EXPECT_EQ(file->received().size(), before) << c.request;
    }
  }
}

}  // namespace
