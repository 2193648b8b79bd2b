// The analysis and header rewrite of browser request heads: what leaves the
// proxy for each head (origin and upstream text), and which heads are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <ostream>

#include "varlume/request_forwarding.h"
#include "varlume/request_intake.h"
#include "varlume/request_target.h"
#include "foundation/strings.h"
#include "support/case_name.h"

namespace {

struct Analysed {
  bool accepted = false;
  bool service = false;
  VLRequestTarget target;
  VLForwardTexts texts;
  std::string browserUrl;
};

// Reads the head byte by byte as the connection does, then analyses and
// rewrites it.
Analysed analyse(const std::string& head) {
  VLRequestHead reader;
  for (char byte : head) {
    if (reader.addByte(byte) != VLRequestHead::kNeedMore) break;
  }
  Analysed result;
  const VLRequestAnalysis analysis = analyseRequest(reader, result.browserUrl);
  result.accepted = analysis.accepted;
  result.service = analysis.service;
  result.target = analysis.target;
  result.texts = rewriteHeaders(reader, analysis.service, analysis.target.pageHost,
                                analysis.target.port);
  return result;
}

struct RoadCase {
  const char* head;
  const char* pageHost;
  int port;
  bool mirror;
  bool service;
  const char* origin;  // the text sent without an upstream proxy
};

class AcceptedHeads : public ::testing::TestWithParam<RoadCase> {};

TEST_P(AcceptedHeads, LeaveTheProxyAsExpected) {
  const RoadCase& c = GetParam();
  const Analysed a = analyse(c.head);
  ASSERT_TRUE(a.accepted) << c.head;
  EXPECT_EQ(a.target.pageHost, c.pageHost);
  EXPECT_EQ(a.target.port, c.port);
  EXPECT_EQ(a.target.mirror, c.mirror);
  EXPECT_EQ(a.service, c.service);
  EXPECT_EQ(a.texts.origin, c.origin);
}

// A failure names the case, not its bytes.
void PrintTo(const RoadCase& c, std::ostream* os) {
  const std::string head = c.head;
  *os << head.substr(0, head.find_first_of("\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Road, AcceptedHeads,
    ::testing::Values(
        RoadCase{"GET http://site.example/varlume/file/SCANDIR?Name=docs HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n",
                 "site.example", 80, false, true,
                 "GET /SCANDIR?Name=docs HTTP/1.1\r\nHost: site.example\r\n\r\n"},
        // A service finds its body's length on any line that holds the words:
        // a look-alike never reaches it.
        RoadCase{"POST http://site.example/varlume/file/SAVE HTTP/1.1\r\nHost: site.example\r\n"
                 "Content-Length: 4\r\nX-Pad: 0 Content-Length: 9\r\n\r\n",
                 "site.example", 80, false, true,
                 "POST /SAVE HTTP/1.1\r\nHost: site.example\r\nContent-Length: 4\r\n\r\n"},
        RoadCase{"GET http://site.example/Varlume/Web/other.example/a/b.html HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n",
                 "site.example", 80, false, false,
                 "GET /a/b.html HTTP/1.1\r\nHost: other.example\r\n\r\n"},
        RoadCase{"GET http://site.example/varlume/web/other.example:8081/p?q=1 HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n",
                 "site.example", 8081, false, false,
                 "GET /p?q=1 HTTP/1.1\r\nHost: other.example:8081\r\n\r\n"},
        RoadCase{"GET http://site.example/varlume/web/other.example HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n",
                 "site.example", 80, false, false,
                 "GET / HTTP/1.1\r\nHost: other.example\r\n\r\n"},
        // A mirror made by the page itself.
        RoadCase{"GET http://site.example/varlume/mirror/other.example/p.html HTTP/1.1\r\n"
                 "Host: site.example\r\nReferer: http://site.example/a.html\r\n\r\n",
                 "site.example", 80, true, false,
                 "GET /p.html HTTP/1.0\r\nHost: other.example\r\n"
                 "Referer: http://site.example/a.html\r\n\r\n"},
        RoadCase{"GET http://site.example:8080/x HTTP/1.1\r\nHost: site.example:8080\r\n\r\n",
                 "site.example:8080", 8080, false, false,
                 "GET /x HTTP/1.1\r\nHost: site.example:8080\r\n\r\n"},
        RoadCase{"GET http://site.example/docs/varlume/file/x HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n",
                 "site.example/docs", 80, false, true,
                 "GET /x HTTP/1.1\r\nHost: site.example/docs\r\n\r\n"},
        RoadCase{"GET http://site.example/varlume/file/SCANDIR?Name=a:b HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n",
                 "site.example", 80, false, true,
                 "GET /SCANDIR?Name=a:b HTTP/1.1\r\nHost: site.example\r\n\r\n"},
        // The proxy's own event query: origin form, page host from the Host line.
        RoadCase{"GET /varlume/event/getEvent?Path=/x?y=1&Event=NOWEB HTTP/1.1\r\n"
                 "Host: 127.0.0.1:9\r\n\r\n",
                 "127.0.0.1:9", 80, false, true,
                 "GET /getEvent?Path=/x?y=1&Event=NOWEB HTTP/1.1\r\nHost: 127.0.0.1:9\r\n\r\n"},
        // An "http://" inside the query never re-targets the request.
        RoadCase{"GET /varlume/event/getEvent?Path=/login?r=http://a.example/&Event=NOWEB "
                 "HTTP/1.1\r\nHost: site.example\r\n\r\n",
                 "site.example", 80, false, true,
                 "GET /getEvent?Path=/login?r=http://a.example/&Event=NOWEB HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n"},
        RoadCase{"GET http://event/getEvent?Path=/a&Event=NOWEB HTTP/1.1\r\nHost: event\r\n\r\n",
                 "event", 80, false, true,
                 "GET /getEvent?Path=/a&Event=NOWEB HTTP/1.1\r\nHost: event\r\n\r\n"},
        RoadCase{"get http://site.example/varlume/file/x HTTP/1.1\r\nHost: site.example\r\n\r\n",
                 "site.example", 80, false, true,
                 "get /x HTTP/1.1\r\nHost: site.example\r\n\r\n"},
        // "host:" in the request line is no header: the line stays a request line.
        RoadCase{"GET http://site.example/varlume/file/SCANDIR?Name=ghost:1 HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n",
                 "site.example", 80, false, true,
                 "GET /SCANDIR?Name=ghost:1 HTTP/1.1\r\nHost: site.example\r\n\r\n"},
        // Heads with bare LF line ends leave with CR LF.
        RoadCase{"GET http://site.example/a HTTP/1.1\nHost: site.example\nAccept: */*\n\n",
                 "site.example", 80, false, false,
                 "GET /a HTTP/1.1\r\nHost: site.example\r\nAccept: */*\r\n\r\n"},
        // The longer prefixes count only where the marker stands.
        RoadCase{"GET http://site.example/varlume/file/x?u=varlume/mirror/evil.example/y "
                 "HTTP/1.1\r\nHost: site.example\r\n\r\n",
                 "site.example", 80, false, true,
                 "GET /x?u=varlume/mirror/evil.example/y HTTP/1.1\r\nHost: site.example\r\n\r\n"},
        // Services: the Host line names the page host; sub-home and
        // Proxy-Connection lines never leave. Lines that merely hold
        // "host:" or "proxy-connection:" are no such lines and stay.
        RoadCase{"GET http://site.example:8080/varlume/file/x HTTP/1.1\r\n"
                 "Host: site.example:8080\r\nX-Forwarded-Host: a.example\r\n"
                 "VarlumeSubDomainHome: other\r\nvarlumesubdomaincommonhome:\r\n"
                 "Proxy-Connection: keep-alive\r\n"
                 "Referer: http://a.example/?u=host:evil.example\r\n"
                 "Cookie: note=Proxy-Connection: close\r\n\r\n",
                 "site.example:8080", 80, false, true,
                 "GET /x HTTP/1.1\r\nHost: site.example:8080\r\nX-Forwarded-Host: a.example\r\n"
                 "Referer: http://a.example/?u=host:evil.example\r\n"
                 "Cookie: note=Proxy-Connection: close\r\n\r\n"},
        // No tunnel is built, so no server is asked to switch protocols.
        RoadCase{"GET http://a.example/ws HTTP/1.1\r\nHost: a.example\r\nConnection: Upgrade\r\n"
                 "upgrade: websocket\r\n\r\n",
                 "a.example", 80, false, false,
                 "GET /ws HTTP/1.1\r\nHost: a.example\r\nConnection: Upgrade\r\n\r\n"},
        // Only the length line that counts leaves, so the server reads the
        // same body length as the proxy.
        RoadCase{"POST http://a.example/f HTTP/1.1\r\nContent-Length: 3\r\nHost: a.example\r\n"
                 "content-length: 3\r\n\r\n",
                 "a.example", 80, false, false,
                 "POST /f HTTP/1.1\r\nHost: a.example\r\ncontent-length: 3\r\n\r\n"},
        // A head without a Host line gets one from its absolute URL.
        RoadCase{"GET http://a.example/x HTTP/1.0\r\n\r\n", "a.example", 80, false, false,
                 "GET /x HTTP/1.0\r\nHost: a.example\r\n\r\n"},
        // A ":" in the query of a target without a path is no port.
        RoadCase{"GET http://site.example/varlume/web/o.example?t=1:2 HTTP/1.1\r\n"
                 "Host: site.example\r\n\r\n",
                 "site.example", 80, false, false,
                 "GET /?t=1:2 HTTP/1.1\r\nHost: o.example\r\n\r\n"}),
    [](const ::testing::TestParamInfo<RoadCase>& info) {
      const std::string head = info.param.head;
      return caseName(info.index, head.substr(0, head.find_first_of("\r\n")));
    });

// Heads whose page host or Host value could inject header lines into the
// services' requests or leave the data root are never forwarded.
TEST(RefusedHeads, UnsafeHostsAndMissingHost) {
  const char* const heads[] = {
      "GET http://..%2f..%2f/varlume/file/x HTTP/1.1\r\nHost: a\r\n\r\n",
      "GET http://site.example%0d%0aVarlumeSubDomainHome:%20x/varlume/file/x HTTP/1.1\r\n"
      "Host: site.example\r\n\r\n",
      "GET http://site%5c..%5cx/varlume/file/x HTTP/1.1\r\nHost: a\r\n\r\n",
      "GET http://a/../varlume/file/x HTTP/1.1\r\nHost: a\r\n\r\n",
      "GET http://a.example/ HTTP/1.1\r\nHost: a.example%0d%0aX-Evil: 1:80\r\n\r\n",
      "GET http://a.example/ HTTP/1.1\r\nHost: a.example%0d%0d:80\r\n\r\n",  // CRs at its end
      "GET http://a.example/ HTTP/1.1\r\nHost: a.example%0a%0a:80\r\n\r\n",
      "GET /varlume/file/x HTTP/1.1\r\nHost: \r\n\r\n",       // empty page host, service
      "GET http://site.example%00x/varlume/file/x HTTP/1.1\r\nHost: a\r\n\r\n",
      "GET /x HTTP/1.1\r\n\r\n",                               // no Host, origin form
      "GET http://site.example/varlume/web/ HTTP/1.1\r\nHost: a\r\n\r\n",  // no target host
  };
  for (const char* head : heads) EXPECT_FALSE(analyse(head).accepted) << head;
}

// Heads whose target a server behind the proxy could read otherwise: two
// Host lines, a blank or tab inside the target, a scheme other than http.
TEST(RefusedHeads, TwoHostLinesAndTargetsReadTwoWays) {
  const char* const heads[] = {
      "GET /x HTTP/1.1\r\nHost: a.example\r\nHost: b.example\r\n\r\n",
      "GET /x HTTP/1.1\r\nHost: a.example\r\nhost: a.example\r\n\r\n",
      "GET /varlume/file/x HTTP/1.1\r\nHost: a.example\r\nHOST: b.example\r\n\r\n",
      "GET http://a.example/x HTTP/1.1\r\nHost: b.example\r\nHost: a.example\r\n\r\n",
      "GET http://a.example/x HTTP/1.1\r\nHost: a.example\r\nHost: a.example\r\n\r\n",
      "GET http://a.example/a b HTTP/1.1\r\nHost: a.example\r\n\r\n",
      "GET http://a.example/a\tb HTTP/1.1\r\nHost: a.example\r\n\r\n",
      "GET https://a.example/x HTTP/1.1\r\nHost: a.example\r\n\r\n",
      "GET https://a.example/x HTTP/1.1\r\n\r\n",
      "GET a.example/x HTTP/1.1\r\nHost: a.example\r\n\r\n",
  };
  for (const char* head : heads) EXPECT_FALSE(analyse(head).accepted) << head;
}

struct PlainLineCase {
  const char* name;
  const char* line;
  bool plain;
};

void PrintTo(const PlainLineCase& c, std::ostream* out) { *out << c.name; }

class PlainRequestLines : public ::testing::TestWithParam<PlainLineCase> {};

TEST_P(PlainRequestLines, SplitAlikeForEveryReader) {
  const std::string line = GetParam().line;
  EXPECT_EQ(isPlainRequestLine(line, toUpper(line)), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PlainRequestLines,
    ::testing::Values(PlainLineCase{"OriginForm", "GET /x?q=1 HTTP/1.1\r\n", true},
                      PlainLineCase{"AbsoluteForm", "get HTTP://a.example/x HTTP/1.0\n", true},
                      PlainLineCase{"NoVersion", "GET /y\r\n", true},
                      PlainLineCase{"DoubledBlanks", "GET  /x  HTTP/1.1\r\n", true},
                      PlainLineCase{"BlankInTarget", "GET /a b HTTP/1.1\r\n", false},
                      PlainLineCase{"VersionInTarget", "GET /a HTTP/1.0 b HTTP/1.1\r\n", false},
                      PlainLineCase{"TabInTarget", "GET /a\tb HTTP/1.1\r\n", false},
                      PlainLineCase{"TabAfterMethod", "GET\t/a HTTP/1.1\r\n", false},
                      PlainLineCase{"HttpsTarget", "GET https://a.example/ HTTP/1.1\r\n", false},
                      PlainLineCase{"AuthorityTarget", "CONNECT a.example:443 HTTP/1.1\r\n", false},
                      PlainLineCase{"AsteriskTarget", "OPTIONS * HTTP/1.1\r\n", false},
                      PlainLineCase{"NoTarget", "GET\r\n", false},
                      PlainLineCase{"NotAVersion", "GET /a b\r\n", false}),
    [](const ::testing::TestParamInfo<PlainLineCase>& info) { return std::string(info.param.name); });

// The privileged host's pages come from the services only: no web request
// names it, as its target or as its page host, in any spelling.
TEST(RefusedHeads, ThePrivilegedHostOnTheWeb) {
  const char* const heads[] = {
      "GET http://varlume.internal/ HTTP/1.1\r\nHost: varlume.internal\r\n\r\n",
      "GET http://VARLUME.Internal:80/x HTTP/1.1\r\nHost: VARLUME.Internal:80\r\n\r\n",
      "GET http://varlume.internal:8080/x HTTP/1.1\r\nHost: varlume.internal:8080\r\n\r\n",
      "GET http://varlume.internal./x HTTP/1.1\r\nHost: varlume.internal.\r\n\r\n",
      "GET /page.html HTTP/1.1\r\nHost: Varlume.Internal\r\n\r\n",
      "POST /f HTTP/1.1\r\nHost: varlume.internal\r\nContent-Length: 0\r\n\r\n",
      "GET http://a.example/varlume/web/varlume.internal/x HTTP/1.1\r\nHost: a.example\r\n\r\n",
      "GET http://a.example/varlume/web/varlume%2Einternal/x HTTP/1.1\r\nHost: a.example\r\n\r\n",
      "GET http://varlume.internal/varlume/web/a.example/x HTTP/1.1\r\nHost: varlume.internal\r\n\r\n",
      "GET http://varlume.internal/varlume/mirror/varlume.internal/x HTTP/1.1\r\n"
      "Host: varlume.internal\r\nReferer: http://varlume.internal/\r\n\r\n",
  };
  for (const char* head : heads) EXPECT_FALSE(analyse(head).accepted) << head;
  // Its service routes stay open.
  const Analysed portal = analyse("GET http://varlume.internal/varlume/file/varlumeportal.html HTTP/1.1\r\n"
                                  "Host: varlume.internal\r\n\r\n");
  EXPECT_TRUE(portal.accepted);
  EXPECT_TRUE(portal.service);
  EXPECT_TRUE(analyse("GET http://varlume.internal.example/x HTTP/1.1\r\nHost: varlume.internal.example\r\n\r\n")
                  .accepted);
}

// A mirror saves into the page host's folder: only the page's own request
// (its Referer or Origin naming the page host) makes one.
TEST(RefusedHeads, AMirrorForAnotherSitesPage) {
  const std::string request = "GET http://victim.example/varlume/mirror/victim.example/n.txt HTTP/1.1\r\n"
                              "Host: victim.example\r\n";
  const char* const refused[] = {"", "Referer: http://evil.example/\r\n", "Origin: null\r\n",
                                 "Referer: http://victim.example.evil.example/\r\n"};
  for (const char* lines : refused) EXPECT_FALSE(analyse(request + lines + "\r\n").accepted) << lines;
  const char* const own[] = {"Referer: http://victim.example/page.html\r\n", "Origin: http://Victim.Example\r\n"};
  for (const char* lines : own) EXPECT_TRUE(analyse(request + lines + "\r\n").accepted) << lines;
}


TEST(UpstreamForm, NamesHostAndPortUnlessEighty) {
  EXPECT_EQ(analyse("GET /x HTTP/1.1\r\nHost: site.example:8080\r\n\r\n").texts.upstream,
            "GET http://site.example:8080/x HTTP/1.1\r\nHost: site.example:8080\r\n\r\n");
  EXPECT_EQ(analyse("GET http://site.example/x HTTP/1.1\r\nHost: site.example\r\n\r\n")
                .texts.upstream,
            "GET http://site.example/x HTTP/1.1\r\nHost: site.example\r\n\r\n");
  EXPECT_EQ(analyse("post http://s.example:81/f HTTP/1.1\r\nHost: s.example:81\r\n\r\n")
                .texts.upstream,
            "POST http://s.example:81/f HTTP/1.1\r\nHost: s.example:81\r\n\r\n");
}

TEST(BrowserUrl, KeepsTheUrlAsSentOnlyWhenEmpty) {
  Analysed a = analyse("GET http://site.example/varlume/file/x?a=1 HTTP/1.1\r\nHost: s\r\n\r\n");
  EXPECT_EQ(a.browserUrl, "http://site.example/varlume/file/x?a=1");

  VLRequestHead head;
  for (char byte : std::string("GET http://b.example/y HTTP/1.1\r\nHost: b\r\n\r\n")) {
    head.addByte(byte);
  }
  std::string kept = "http://first.example/";
  analyseRequest(head, kept);
  EXPECT_EQ(kept, "http://first.example/");
}

struct LengthCase {
  const char* headers;
  std::int64_t length;
  bool ok;
};

TEST(ContentLength, HeaderNameOnlyOneValueSixtyFourBits) {
  const LengthCase cases[] = {
      {"Content-Length: 12\r\n", 12, true},
      {"Content-Length: 12\r\ncontent-length:  7 \r\n", 0, false},  // two lengths that differ
      {"Content-Length: 7\r\ncontent-length:  7 \r\n", 7, true},
      {"Content-Length: 0\r\nContent-Length: 7\r\nContent-Length: 7\r\n", 0, false},
      {"Content-Length: 12\r\nX-Original-Content-Length: 0\r\n", 12, true},
      {"Content-Length: 5000000000\r\n", 5000000000LL, true},
      {"Content-Length: 12abc\r\n", 0, false},
      {"Content-Length: -1\r\n", 0, false},
      {"Content-Length:\r\n", 0, false},
      {"Transfer-Encoding: chunked\r\n", 0, false},
      {"", 0, true},
  };
  for (const LengthCase& c : cases) {
    const Analysed a = analyse(std::string("POST http://a.example/f HTTP/1.1\r\nHost: a.example\r\n") +
                               c.headers + "\r\n");
    EXPECT_EQ(a.texts.bodyFramingOk, c.ok) << c.headers;
    if (c.ok) {
      EXPECT_EQ(a.texts.contentLength, c.length) << c.headers;
    }
  }
}

struct LineCase {
  const char* line;
  const char* method;
  const char* url;
  const char* path;
  const char* version;
};

TEST(RequestLine, HelpersFindTheTokenAfterTheMethod) {
  const LineCase cases[] = {
      {"GET http://a.example/p?q=1 HTTP/1.1\r\n", "GET", "http://a.example/p?q=1",
       "http://a.example/p", "HTTP/1.1\r\n"},
      {"propfind /d/ HTTP/1.0\n", "propfind", "/d/", "/d/", "HTTP/1.0\n"},
      {"GET /a?b?c HTTP/1.1\r\n", "GET", "/a?b?c", "/a?b", "HTTP/1.1\r\n"},
      {"GET /login?r=http://x.example/ HTTP/1.1\r\n", "GET", "/login?r=http://x.example/",
       "/login", "HTTP/1.1\r\n"},
      {"GET /y\r\n", "GET", "/y", "/y", "HTTP/1.1\r\n"},  // no version: the URL ends at the line end
      {"OPTIONS * HTTP/1.1\r\n", "OPTIONS", "", "", "HTTP/1.1\r\n"},
      {"CONNECT a.example:443 HTTP/1.1\r\n", "", "", "", "HTTP/1.1\r\n"},
      {"\r\n", "", "", "", "HTTP/1.1\r\n"},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(requestMethod(c.line), c.method) << c.line;
    EXPECT_EQ(requestUrl(c.line), c.url) << c.line;
    EXPECT_EQ(requestPath(c.line), c.path) << c.line;
    EXPECT_EQ(requestVersion(c.line), c.version) << c.line;
  }
}

}  // namespace
