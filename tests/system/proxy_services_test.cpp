// Page requests for the local services leave the real varlume in the
// loopback service form: origin-form request line, the page host as every
// host header, no sub-home or Proxy-Connection line, the body relayed; they
// reach 127.0.0.1 at the services base port plus the service's offset, also
// when an upstream proxy is set. With -x/-y, web requests go to the upstream
// proxy in absolute form.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_client.h"
#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"

namespace {

using origin::VLOriginServer;
using origin::VLReceived;
using origin::VLReply;
using proxytest::exchange;

constexpr int kAnswerMs = 10000;

VLReply answerAs(const std::string& who) {
  return VLReply::withLength(who + " answer", "Keep-Alive: timeout=100, max=1000\r\n");
}

struct ServiceCase {
  const char* request;  // as the browser sends it
  int offset;           // the service's port offset
  const char* head;     // what the service receives
  const char* body;
};

class ProxyServices : public ::testing::Test {
 protected:
  void start(const std::vector<std::string>& arguments) {
    servicesBase = proxytest::freeServicesBase({0, 3});
    ASSERT_GT(servicesBase, 0);
    file = std::make_unique<VLOriginServer>([](const VLReceived&) { return answerAs("file"); },
                                            servicesBase);
    event = std::make_unique<VLOriginServer>([](const VLReceived&) { return answerAs("event"); },
                                             servicesBase + 3);
    ASSERT_TRUE(file->listening() && event->listening());
    ASSERT_TRUE(proxy.start(box, servicesBase, arguments));
  }

  VLOriginServer& service(int offset) { return offset == 0 ? *file : *event; }

  void expectServiceForms() {
    const ServiceCase cases[] = {
        {"GET http://site.example/varlume/file/SCANDIR?Name=docs HTTP/1.1\r\n"
         "Host: site.example\r\nVarlumeSubDomainHome: other\r\n"
         "VARLUMESUBDOMAINCOMMONHOME: x\r\nProxy-Connection: keep-alive\r\nAccept: */*\r\n\r\n",
         0, "GET /SCANDIR?Name=docs HTTP/1.1\r\nHost: site.example\r\nAccept: */*\r\n\r\n", ""},
        {"GET http://site.example:8080/varlume/event/getEvent?Path=/a&Event=NOWEB HTTP/1.1\r\n"
         "Host: site.example:8080\r\nX-Forwarded-Host: a.example\r\n\r\n",
         3,
         "GET /getEvent?Path=/a&Event=NOWEB HTTP/1.1\r\nHost: site.example:8080\r\n"
         "X-Forwarded-Host: a.example\r\n\r\n",
         ""},
        {"GET /varlume/file/SCANDIR?Name=ghost:1 HTTP/1.1\nHost: page.example\n\n", 0,
         "GET /SCANDIR?Name=ghost:1 HTTP/1.1\r\nHost: page.example\r\n\r\n", ""},
        {"POST http://site.example/varlume/file/SAVE?Name=a HTTP/1.0\r\nHost: site.example\r\n"
         "Content-Length: 11\r\n\r\nhello world",
         0, "POST /SAVE?Name=a HTTP/1.0\r\nHost: site.example\r\nContent-Length: 11\r\n\r\n",
         "hello world"},
    };
    for (const ServiceCase& c : cases) {
      VLOriginServer& target = service(c.offset);
      const std::size_t before = target.received().size();
      const std::string expected = answerAs(c.offset == 0 ? "file" : "event").steps[0].bytes;
      EXPECT_EQ(exchange(proxy.port(), c.request, expected.size(), kAnswerMs), expected) << c.request;
      ASSERT_TRUE(target.waitForRequests(before + 1, 1000)) << c.request;
      const VLReceived got = target.received().back();
      EXPECT_EQ(got.head, c.head);
      EXPECT_EQ(got.body, c.body);
    }
  }

  sandbox::VLSandbox box;
  int servicesBase = 0;
  std::unique_ptr<VLOriginServer> file;
  std::unique_ptr<VLOriginServer> event;
  proxytest::VLProxyProcess proxy;
};

TEST_F(ProxyServices, PageRequestsReachTheServicesInTheLoopbackForm) {
  start({});
  expectServiceForms();
}

// Services keep their connections alive for 100 seconds; many requests in a
// row still each reach the right service (never a client made for another).
TEST_F(ProxyServices, ManyServiceRequestsInARowStayOnTheirService) {
  start({});
  for (int i = 0; i < 30; ++i) {
    const bool toFile = i % 3 != 0;
    const std::string request = std::string("GET http://s.example/varlume/") +
                                (toFile ? "file" : "event") + "/x" + std::to_string(i) +
                                " HTTP/1.1\r\nHost: s.example\r\n"
                                // Event commands run only for their own page.
                                "Referer: http://s.example/\r\n\r\n";
    const std::string expected = answerAs(toFile ? "file" : "event").steps[0].bytes;
    ASSERT_EQ(exchange(proxy.port(), request, expected.size(), kAnswerMs), expected) << i;
  }
  EXPECT_EQ(file->received().size(), 20u);
  EXPECT_EQ(event->received().size(), 10u);
}

TEST_F(ProxyServices, UpstreamProxyGetsTheAbsoluteFormServicesStayLocal) {
  VLOriginServer upstream([](const VLReceived&) { return answerAs("upstream"); });
  ASSERT_TRUE(upstream.listening());
  start({"-x", "127.0.0.1", "-y", std::to_string(upstream.port())});

  struct UpstreamCase {
    const char* request;
    const char* head;
  };
  const UpstreamCase cases[] = {
      {"GET http://a.example:8080/x?q=1 HTTP/1.1\r\nHost: a.example:8080\r\n"
       "Proxy-Connection: keep-alive\r\n\r\n",
       "GET http://a.example:8080/x?q=1 HTTP/1.1\r\nHost: a.example:8080\r\n\r\n"},
      {"GET http://b.example/y HTTP/1.1\r\nHost: b.example\r\n\r\n",
       "GET http://b.example/y HTTP/1.1\r\nHost: b.example\r\n\r\n"},
      // Re-targeted by the marker to the page's own site (another site
      // would need its declaration first).
      {"HEAD http://c.example:81/varlume/web/c.example:81/z HTTP/1.1\r\nHost: c.example:81\r\n\r\n",
       "HEAD http://c.example:81/z HTTP/1.1\r\nHost: c.example:81\r\n\r\n"},
  };
  const std::string expected = answerAs("upstream").steps[0].bytes;
  for (const UpstreamCase& c : cases) {
    const std::size_t before = upstream.received().size();
    const std::string answer = exchange(proxy.port(), c.request, expected.size(), kAnswerMs);
    // A HEAD answer ends at its head.
    EXPECT_EQ(answer, expected.substr(0, answer.size())) << c.request;
    ASSERT_TRUE(upstream.waitForRequests(before + 1, 1000)) << c.request;
    EXPECT_EQ(upstream.received().back().head, c.head);
  }
  expectServiceForms();
}

// Requests one after another on one browser connection through an upstream
// proxy that keeps its connections: each gets its own answer, all travel on
// the one connection the upstream kept, and when the upstream drops it
// unannounced the next request is sent once more on a new one.
TEST_F(ProxyServices, RequestsInARowThroughTheUpstreamUseTheConnectionItKept) {
  VLOriginServer upstream([](const VLReceived& request) {
    VLReply reply = VLReply::withLength("upstream answer to " + request.path(),
                                        "Keep-Alive: timeout=100, max=1000\r\n");
    if (request.path().find("/then-close") != std::string::npos) reply.after = VLReply::After::Close;
    return reply;
  });
  ASSERT_TRUE(upstream.listening());
  start({"-x", "127.0.0.1", "-y", std::to_string(upstream.port())});
  testsupport::LoopbackClient browser(proxy.port());
  ASSERT_TRUE(browser.connected());
  std::vector<std::string> sent;
  auto get = [&](const std::string& path) {
    const std::string url = "http://site.example" + path;
    sent.push_back(url);
    if (!browser.send("GET " + url + " HTTP/1.1\r\nHost: site.example\r\n\r\n")) return std::string("not sent");
    testsupport::HttpResponse response;
    if (!browser.readResponse(response, false, kAnswerMs)) return std::string("no answer");
    if (response.head.compare(0, 15, "HTTP/1.1 200 OK") != 0) return response.head;
    return response.body;
  };
  for (int i = 0; i < 60; ++i) {
    const std::string path = "/notes/" + std::to_string(i) + ".txt";
    ASSERT_EQ(get(path), "upstream answer to http://site.example" + path) << i;
  }
  EXPECT_EQ(upstream.connections(), 1);
  ASSERT_EQ(get("/notes/then-close.txt"), "upstream answer to http://site.example/notes/then-close.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the close reaches the proxy
  EXPECT_EQ(get("/notes/after.txt"), "upstream answer to http://site.example/notes/after.txt");
  EXPECT_EQ(upstream.connections(), 2);
  std::vector<std::string> paths;
  for (const VLReceived& request : upstream.received()) paths.push_back(request.path());
  EXPECT_EQ(paths, sent);
}

// The Host line a web request leaves with names the target's authority:
// the port too when it is not 80, as the request line in upstream form does.
struct HostCase {
  const char* name;
  std::string request;   // as the browser sends it
  std::string received;  // what the server behind the proxy reads
};

void expectHostCases(const proxytest::VLProxyProcess& proxy, VLOriginServer& server,
                     const std::vector<HostCase>& cases) {
  for (const HostCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = server.received().size();
    const std::string answer = exchange(proxy.port(), c.request, 12, kAnswerMs);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 200");
    ASSERT_TRUE(server.waitForRequests(before + 1, kAnswerMs));
    EXPECT_EQ(server.received().back().head, c.received);
  }
}

TEST_F(ProxyServices, TheHostLineKeepsAPortOtherThanEightyThroughTheUpstream) {
  VLOriginServer upstream([](const VLReceived&) { return answerAs("upstream"); });
  ASSERT_TRUE(upstream.listening());
  start({"-x", "127.0.0.1", "-y", std::to_string(upstream.port())});
  const std::string plain = "GET http://a.example/x HTTP/1.1\r\nHost: a.example\r\n\r\n";
  const std::string port8080 = "GET http://a.example:8080/x HTTP/1.1\r\nHost: a.example:8080\r\n\r\n";
  expectHostCases(proxy, upstream, {
      {"absolute, no port", "GET http://a.example/x HTTP/1.1\r\nHost: a.example\r\n\r\n", plain},
      {"absolute, port 80", "GET http://a.example:80/x HTTP/1.1\r\nHost: a.example:80\r\n\r\n", plain},
      {"absolute, port 8080", "GET http://a.example:8080/x HTTP/1.1\r\nHost: a.example:8080\r\n\r\n", port8080},
      {"origin form, no port", "GET /x HTTP/1.1\r\nHost: a.example\r\n\r\n", plain},
      {"origin form, port 80", "GET /x HTTP/1.1\r\nHost: a.example:80\r\n\r\n", plain},
      {"origin form, port 8080", "GET /x HTTP/1.1\r\nHost: a.example:8080\r\n\r\n", port8080},
      {"marker form, port 8080",
       "GET http://a.example:8080/varlume/web/a.example:8080/x HTTP/1.1\r\nHost: a.example:8080\r\n\r\n",
       port8080},
      {"POST, port 8080", "POST http://a.example:8080/f HTTP/1.1\r\nHost: a.example:8080\r\nContent-Length: 2\r\n\r\nab",
       "POST http://a.example:8080/f HTTP/1.1\r\nHost: a.example:8080\r\nContent-Length: 2\r\n\r\n"},
  });
}

TEST_F(ProxyServices, TheHostLineKeepsAPortOtherThanEightyToTheSiteItself) {
  VLOriginServer site([](const VLReceived&) { return answerAs("site"); });
  ASSERT_TRUE(site.listening());
  start({});
  const std::string authority = "127.0.0.1:" + std::to_string(site.port());
  const std::string received = "GET /x HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
  expectHostCases(proxy, site, {
      {"absolute form", "GET http://" + authority + "/x HTTP/1.1\r\nHost: " + authority + "\r\n\r\n", received},
      {"origin form", "GET /x HTTP/1.1\r\nHost: " + authority + "\r\n\r\n", received},
      {"absolute form without a Host line", "GET http://" + authority + "/x HTTP/1.1\r\n\r\n", received},
  });
  // A service request still names the page host, port and all.
  expectServiceForms();
}

// The privileged host's pages come only from the services: whoever answers
// its name on the network (here the upstream proxy, which would answer any
// name) is never asked for it, in any spelling, form or port; each such
// request gets the proxy's refusal in its place.
TEST_F(ProxyServices, ThePrivilegedHostIsNeverAskedOnTheWeb) {
  VLOriginServer upstream([](const VLReceived&) { return answerAs("upstream"); });
  ASSERT_TRUE(upstream.listening());
  start({"-x", "127.0.0.1", "-y", std::to_string(upstream.port())});
  const char* const requests[] = {
      "GET http://varlume.internal/ HTTP/1.1\r\nHost: varlume.internal\r\n\r\n",
      "GET http://varlume.internal/portal.html HTTP/1.1\r\nHost: varlume.internal\r\n"
      "Referer: http://varlume.internal/\r\n\r\n",
      "GET http://VARLUME.Internal:80/x HTTP/1.1\r\nHost: VARLUME.Internal:80\r\n\r\n",
      "GET http://varlume.internal:8080/x HTTP/1.1\r\nHost: varlume.internal:8080\r\n\r\n",
      "GET http://varlume.internal./x HTTP/1.1\r\nHost: varlume.internal.\r\n\r\n",
      "GET /x.js HTTP/1.1\r\nHost: Varlume.Internal\r\n\r\n",
      "HEAD http://varlume.internal/x HTTP/1.1\r\nHost: varlume.internal\r\n\r\n",
      "POST http://varlume.internal/f HTTP/1.1\r\nHost: varlume.internal\r\nContent-Length: 3\r\n\r\nabc",
      "GET http://varlume.internal/x.gif HTTP/1.1\r\nHost: varlume.internal\r\n\r\n",
      // Named through another site's page, or another site's page shown
      // in the privileged host's origin.
      "GET http://a.example/varlume/web/varlume.internal/x HTTP/1.1\r\nHost: a.example\r\n\r\n",
      "GET http://varlume.internal/varlume/web/varlume.internal/x HTTP/1.1\r\nHost: varlume.internal\r\n\r\n",
      "GET http://varlume.internal/varlume/web/a.example/x HTTP/1.1\r\nHost: varlume.internal\r\n\r\n",
      "GET http://varlume.internal/varlume/mirror/varlume.internal/x HTTP/1.1\r\nHost: varlume.internal\r\n"
      "Referer: http://varlume.internal/\r\n\r\n",
  };
  testsupport::LoopbackClient browser(proxy.port());
  ASSERT_TRUE(browser.connected());
  for (const char* request : requests) {
    ASSERT_TRUE(browser.send(request)) << request;
    testsupport::HttpResponse response;
    ASSERT_TRUE(browser.readResponse(response, true, kAnswerMs)) << request;
    EXPECT_EQ(response.head.substr(0, 32), "HTTP/1.1 500 Request refused.\r\nD") << request;
  }
  // Its service routes still reach the services; other sites the upstream.
  const std::string fileAnswer = answerAs("file").steps[0].bytes;
  EXPECT_EQ(exchange(proxy.port(),
                     "GET http://varlume.internal/varlume/file/varlumeportal.html HTTP/1.1\r\n"
                     "Host: varlume.internal\r\n\r\n",
                     fileAnswer.size(), kAnswerMs),
            fileAnswer);
  ASSERT_EQ(file->received().size(), 1u);
  EXPECT_EQ(file->received()[0].head, "GET /varlumeportal.html HTTP/1.1\r\nHost: varlume.internal\r\n\r\n");
  const std::string upstreamAnswer = answerAs("upstream").steps[0].bytes;
  EXPECT_EQ(exchange(proxy.port(), "GET http://varlume.internal.example/ HTTP/1.1\r\nHost: varlume.internal.example\r\n\r\n",
                     upstreamAnswer.size(), kAnswerMs),
            upstreamAnswer);
  ASSERT_EQ(upstream.received().size(), 1u);
  EXPECT_EQ(upstream.received()[0].path(), "http://varlume.internal.example/");
}

}  // namespace
