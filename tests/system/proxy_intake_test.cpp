// The real varlume reading what browsers send: every request gets exactly
// one answer in its place (methods that are never relayed, bodies of
// requests that go nowhere), and no head reaches a server as anything but
// the one head the proxy read (zero bytes, stray CRs, look-alike lines);
// a request that two readers could frame or target apart is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"

namespace {

using origin::VLOriginServer;
using origin::VLReceived;
using origin::VLReply;
using proxytest::exchange;

constexpr int kAnswerMs = 15000;

// An answer read off the browser connection: status line and body.
struct Answer {
  std::string status;
  std::string body;
};

// Splits answers that each carry a Content-Length; stops at anything else.
std::vector<Answer> splitAnswers(const std::string& bytes) {
  std::vector<Answer> answers;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t headEnd = bytes.find("\r\n\r\n", at);
    if (headEnd == std::string::npos) break;
    const std::string head = bytes.substr(at, headEnd + 4 - at);
    const std::size_t length = head.find("Content-Length: ");
    if (length == std::string::npos) break;
    const std::size_t size = std::strtoul(head.c_str() + length + 16, nullptr, 10);
    if (headEnd + 4 + size > bytes.size()) break;
    answers.push_back({head.substr(0, head.find("\r\n")), bytes.substr(headEnd + 4, size)});
    at = headEnd + 4 + size;
  }
  return answers;
}

std::vector<std::string> statuses(const std::vector<Answer>& answers) {
  std::vector<std::string> result;
  for (const Answer& answer : answers) result.push_back(answer.status);
  return result;
}

const std::string kRefused = "HTTP/1.1 500 Request refused.";
const std::string kUnserved = "HTTP/1.1 500 No response from server.";
const std::string kOk = "HTTP/1.1 200 OK";

VLReply echoPath(const VLReceived& request) { return VLReply::withLength("path:" + request.path()); }

class ProxyIntake : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(web.listening());
    servicesBase = proxytest::freeServicesBase({0, 3});
    ASSERT_GT(servicesBase, 0);
    ASSERT_TRUE(proxy.start(box, servicesBase));
    authority = "127.0.0.1:" + std::to_string(web.port());
  }

  std::string request(const std::string& method, const std::string& path,
                      const std::string& headers = "") {
    return method + " http://" + authority + path + " HTTP/1.1\r\nHost: " + authority + "\r\n" +
           headers + "\r\n";
  }

  std::vector<std::string> paths() {
    std::vector<std::string> result;
    for (const VLReceived& received : web.received()) result.push_back(received.path());
    return result;
  }

  sandbox::VLSandbox box;
  VLOriginServer web{echoPath};
  int servicesBase = 0;
  proxytest::VLProxyProcess proxy;
  std::string authority;
};

// Methods that are never relayed are each answered with the refusal in
// their place, their bodies dropped; the requests behind them keep their
// own answers. No tunnel is built for CONNECT.
TEST_F(ProxyIntake, MethodsNeverRelayedAreRefusedInTheirPlace) {
  const std::string smuggled = request("GET", "/smuggled");
  const std::string requests =
      "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n" +
      request("GET", "/after-connect") +
      request("PUT", "/put", "Content-Length: " + std::to_string(smuggled.size()) + "\r\n") +
      smuggled + request("DELETE", "/delete") + request("OPTIONS", "/options") +
      request("PATCH", "/patch", "Content-Length: 3\r\n") + "abc" + request("GET", "/last");
  const std::vector<Answer> answers = splitAnswers(exchange(proxy.port(), requests, 100000, 3000));
  EXPECT_EQ(statuses(answers),
            (std::vector<std::string>{kRefused, kOk, kRefused, kRefused, kRefused, kRefused, kOk}));
  if (answers.size() == 7) {
    EXPECT_EQ(answers[1].body, "path:/after-connect");
    EXPECT_EQ(answers[6].body, "path:/last");
  }
  // The two GETs go over two connections: their arrival order is free.
  std::vector<std::string> arrived = paths();
  std::sort(arrived.begin(), arrived.end());
  EXPECT_EQ(arrived, (std::vector<std::string>{"/after-connect", "/last"}));
}

// A POST whose target cannot be reached, or that is refused, has its body
// read and dropped before its answer: the body never becomes a request.
TEST_F(ProxyIntake, BodiesOfRequestsThatGoNowhereAreDroppedBeforeTheAnswer) {
  const int closedPort = sandbox::freeLoopbackPorts(1).at(0);
  const std::string smuggled = request("GET", "/smuggled");
  const std::string length = "Content-Length: " + std::to_string(smuggled.size()) + "\r\n";
  const std::string requests =
      "POST http://127.0.0.1:" + std::to_string(closedPort) + "/up HTTP/1.1\r\nHost: 127.0.0.1:" +
      std::to_string(closedPort) + "\r\n" + length + "\r\n" + smuggled +
      "PROPFIND http://127.0.0.1:" + std::to_string(closedPort) + "/d HTTP/1.1\r\nHost: 127.0.0.1:" +
      std::to_string(closedPort) + "\r\n" + length + "\r\n" + smuggled +
      "POST http://a.example%0d%0aX:%201/up HTTP/1.1\r\nHost: a.example\r\n" + length + "\r\n" +
      smuggled + request("GET", "/last");
  const std::vector<Answer> answers = splitAnswers(exchange(proxy.port(), requests, 100000, 5000));
  EXPECT_EQ(statuses(answers), (std::vector<std::string>{kUnserved, kUnserved, kRefused, kOk}));
  EXPECT_EQ(paths(), (std::vector<std::string>{"/last"}));
}

struct SplitCase {
  const char* name;
  std::string head;      // bytes sent after the request line
  bool refused;          // answered with the refusal, nothing forwarded
};

std::string bytes(const char* text, std::size_t size) { return std::string(text, size); }

// Zero bytes and CRs in every place of a head: each head reaches the server
// as exactly the one head the proxy read, or is refused and reaches nothing.
TEST_F(ProxyIntake, ZeroBytesAndStrayCarriageReturnsNeverSplitAHead) {
  const std::string host = "Host: " + authority + "\r\n";
  const std::string second = "GET /smuggled HTTP/1.1\r\n" + host + "\r\n";
  const SplitCase cases[] = {
      {"CR NUL LF ends a line", host + bytes("\r\0\n", 3) + second, true},
      {"NUL LF", host + bytes("\0\n", 2) + second, true},
      {"NUL CR LF", host + bytes("\0\r\n", 3) + second, true},
      {"NUL in a value", host + bytes("X-A: 1\0\r\n\r\n", 11) + second, true},
      {"NUL in the Host line", "Host: 127.0.0.1" + bytes("\0", 1) + "x\r\n\r\n" + second, true},
      {"lone CR inside a value", host + "X-A: 1\rGET /smuggled HTTP/1.1\r\n\r\n", true},
      {"CR CR LF", host + "X-A: 1\r\r\n\r\n" + second, true},
      {"CR before the empty line", host + "\r\r\n" + second, true},
      {"lone CR as the empty line", host + "\r" + second, true},
      {"space before the colon", host + "Content-Length : " + std::to_string(second.size()) +
                                     "\r\n\r\n" + second, true},
      {"folded line", host + "X-A: 1\r\n Transfer-Encoding: chunked\r\n\r\n", true},
      {"escaped CRs ending the Host line",
       "Host: 127.0.0.1%0d%0d:" + std::to_string(web.port()) + "\r\n\r\n", true},
      {"vertical tab before a length", host + "Content-Length:\x0b" "5\r\n\r\n", true},
      {"bare LF line ends", "Host: " + authority + "\nX-A: 1\n\n", false},
      {"CR LF line ends", host + "X-A: 1\r\n\r\n", false},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = web.received().size();
    const std::string sent = "GET http://" + authority + "/first HTTP/1.1\r\n" + c.head;
    const std::vector<Answer> answers = splitAnswers(exchange(proxy.port(), sent, 100000, 3000));
    ASSERT_EQ(answers.size(), 1u);
    const std::vector<VLReceived> received = web.received();
    if (c.refused) {
      EXPECT_EQ(answers[0].status, kRefused);
      EXPECT_EQ(received.size(), before);
    } else {
      EXPECT_EQ(answers[0].status, kOk);
      ASSERT_EQ(received.size(), before + 1);
      EXPECT_EQ(received.back().head,
                "GET /first HTTP/1.1\r\nHost: " + authority + "\r\nX-A: 1\r\n\r\n");
    }
  }
}

// A service gets the page's header lines as sent: only the Host line names
// the page host; a line that merely holds "host:" stays as it is.
TEST_F(ProxyIntake, OnlyTheHostLineOfAServiceRequestNamesThePageHost) {
  VLOriginServer fileService([](const VLReceived&) { return VLReply::withLength("file"); },
                             servicesBase);
  ASSERT_TRUE(fileService.listening());
  const std::string head =
      "GET http://site.example/varlume/file/SCANDIR HTTP/1.1\r\nHost: site.example\r\n"
      "Referer: http://other.example/?next=host:evil.example\r\n"
      "Cookie: a=HOST: evil.example\r\n\r\n";
  const std::vector<Answer> answers = splitAnswers(exchange(proxy.port(), head, 100000, kAnswerMs));
  ASSERT_EQ(statuses(answers), std::vector<std::string>{kOk});
  ASSERT_EQ(fileService.received().size(), 1u);
  EXPECT_EQ(fileService.received()[0].head,
            "GET /SCANDIR HTTP/1.1\r\nHost: site.example\r\n"
            "Referer: http://other.example/?next=host:evil.example\r\n"
            "Cookie: a=HOST: evil.example\r\n\r\n");
}

// A request that a server behind the proxy could read otherwise than the
// proxy does: its bytes, given the origin's authority.
struct FramingCase {
  const char* name;
  std::string (*bytes)(const std::string& authority);
};

void PrintTo(const FramingCase& c, std::ostream* out) { *out << c.name; }

std::string smuggledGet(const std::string& authority) {
  return "GET /smuggled HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
}

const FramingCase kFramingCases[] = {
    {"TwoDifferingLengths",
     [](const std::string& a) {
       const std::string body = smuggledGet(a);
       return "POST http://" + a + "/up HTTP/1.1\r\nHost: " + a +
              "\r\nContent-Length: 0\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\n\r\n" + body;
     }},
    {"TwoHostLines",
     [](const std::string& a) {
       return "GET /first HTTP/1.1\r\nHost: other.example\r\nHost: " + a + "\r\n\r\n";
     }},
    {"TwoEqualHostLines",
     [](const std::string& a) {
       return "GET /first HTTP/1.1\r\nHost: " + a + "\r\nHost: " + a + "\r\n\r\n";
     }},
    {"BlankInsideTheTarget",
     [](const std::string& a) {
       return "GET http://" + a + "/a b HTTP/1.1\r\nHost: " + a + "\r\n\r\n";
     }},
    {"VersionInsideTheTarget",
     [](const std::string& a) {
       return "GET http://" + a + "/a HTTP/1.0 b HTTP/1.1\r\nHost: " + a + "\r\n\r\n";
     }},
    {"TabInsideTheTarget",
     [](const std::string& a) {
       return "GET http://" + a + "/a\tb HTTP/1.1\r\nHost: " + a + "\r\n\r\n";
     }},
    {"HttpsTarget",
     [](const std::string& a) {
       return "GET https://" + a + "/secret HTTP/1.1\r\nHost: " + a + "\r\n\r\n";
     }},
    {"FtpTarget",
     [](const std::string& a) {
       return "GET ftp://" + a + "/file HTTP/1.1\r\nHost: " + a + "\r\n\r\n";
     }},
    {"TargetWithoutSlash",
     [](const std::string& a) {
       return "GET " + a + "/x HTTP/1.1\r\nHost: " + a + "\r\n\r\n";
     }},
    {"ChunkSizeOf2To63",
     [](const std::string& a) {
       return "POST http://" + a + "/up HTTP/1.1\r\nHost: " + a +
              "\r\nTransfer-Encoding: chunked\r\n\r\n8000000000000000\r\n" + smuggledGet(a);
     }},
};

class RequestFraming : public ProxyIntake, public ::testing::WithParamInterface<FramingCase> {};

// Each such request gets the refusal in its place, and no byte of it (nor
// of what it would smuggle) reaches the origin.
TEST_P(RequestFraming, IsRefusedAndNeverReachesTheOrigin) {
  const std::string sent = GetParam().bytes(authority);
  const std::vector<Answer> answers = splitAnswers(exchange(proxy.port(), sent, 100000, 3000));
  EXPECT_EQ(statuses(answers), std::vector<std::string>{kRefused});
  EXPECT_EQ(paths(), std::vector<std::string>{});
  // The proxy serves on.
  const std::vector<Answer> after =
      splitAnswers(exchange(proxy.port(), request("GET", "/after"), 100000, kAnswerMs));
  EXPECT_EQ(statuses(after), std::vector<std::string>{kOk});
}

INSTANTIATE_TEST_SUITE_P(Requests, RequestFraming, ::testing::ValuesIn(kFramingCases),
                         [](const ::testing::TestParamInfo<FramingCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
