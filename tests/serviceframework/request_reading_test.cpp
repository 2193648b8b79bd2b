// Reading requests over a real loopback connection: the request line and
// head, url-encoded bodies, pipelining, and the limits that end a connection.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/files.h"
#include "platform/paths.h"
#include "support/file_size_limit.h"
#include "test_service.h"

namespace sftest {
namespace {

struct ReadCase {
  const char* name;
  std::string request;
  std::map<std::string, std::string> expected;
};

TEST(RequestReading, StoresWhatTheHeadAndBodySay) {
  const std::string nul("ab\0cd", 5);
  const ReadCase cases[] = {
      {"query stays encoded", "GET /SCANDIR?Name=a%20b HTTP/1.1\r\nHost: site.example\r\n\r\n",
       {{"method", "GET"}, {"path", "/SCANDIR"}, {"params", "Name=a%20b"}, {"host", "site.example"}}},
      {"first ? ends the path, last HTTP/ ends the query",
       "GET /getEvent?Path=http://other.example/p?q=1 HTTP/1.0&Event=NOWEB HTTP/1.1\r\n\r\n",
       {{"path", "/getEvent"}, {"params", "Path=http://other.example/p?q=1 HTTP/1.0&Event=NOWEB"}}},
      {"method is the known prefix", "GETX /a HTTP/1.1\r\n\r\n", {{"method", "GET"}, {"path", "/a"}}},
      {"unknown method", "BREW /a HTTP/1.1\r\n\r\n", {{"method", ""}, {"path", "/a"}}},
      {"no slash: no path", "GET nothing\r\n\r\n", {{"path", ""}, {"params", ""}}},
      {"lower-case post reads its body after the query",
       "post /form?a=1 HTTP/1.1\r\nContent-Length: 7\r\n\r\nb=2&c=3",
       {{"method", "post"}, {"params", "a=1&b=2&c=3"}}},
      {"body up to its first NUL", "POST /nul HTTP/1.1\r\nContent-Length: 5\r\n\r\n" + nul,
       {{"params", "ab"}}},
      {"POST without length has an empty body", "POST /e?q=1 HTTP/1.1\r\n\r\n", {{"params", "q=1"}}},
      {"only a line named Content-Length gives the length",
       "POST /x HTTP/1.1\r\nContent-Length: 3\r\nX-Pad: 0 Content-Length: 9\r\n\r\nb=2",
       {{"params", "b=2"}}},
      {"host lower-cased, port kept", "GET / HTTP/1.1\r\nHost:  Site.Example:8080 \r\n\r\n",
       {{"host", "site.example:8080"}, {"refused", "0"}}},
      {"empty Host line", "GET / HTTP/1.1\r\nHost:\r\n\r\n", {{"host", ""}, {"refused", "1"}}},
      {"no Host line", "GET / HTTP/1.1\r\n\r\n", {{"host", ""}}},
      {"repeated equal Host lines", "GET / HTTP/1.1\r\nHost: a.example\r\nHOST: A.example\r\n\r\n",
       {{"host", "a.example"}, {"refused", "0"}}},
      {"differing Host lines leave no host",
       "GET / HTTP/1.1\r\nHost: a.example\r\nHost: varlume.internal\r\n\r\n",
       {{"host", ""}, {"refused", "1"}}},
      {"home lines trimmed",
       "GET / HTTP/1.1\r\nHost: s.example\r\nVarlumeSubdomainHome: \t sub \r\n"
       "VARLUMESUBDOMAINCOMMONHOME: com\r\n\r\n",
       {{"sub", "sub"}, {"common", "com"}}},
      {"Origin and Referer lines noted in order",
       "GET / HTTP/1.1\r\nOrigin:  http://a.example \r\nReferer: http://b.example/p\r\n"
       "origin: null\r\nX-Origin: http://c.example\r\n\r\n",
       {{"origins", "[http://a.example][null]"}, {"referers", "[http://b.example/p]"}}},
      {"nothing noted of the request before", "GET / HTTP/1.1\r\n\r\n", {{"origins", ""}, {"referers", ""}}},
  };
  auto running = startServer<EchoHandler>(1000);
  LoopbackClient client(running.port);
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(client.send(c.request));
    HttpResponse response;
    ASSERT_TRUE(client.readResponse(response));
    EchoReport report;
    ASSERT_TRUE(parseEcho(response.body, report));
    for (const auto& [key, value] : c.expected) EXPECT_EQ(report[key], value) << key;
  }
}

TEST(RequestReading, AnswersPipelinedRequestsInOrder) {
  auto running = startServer<EchoHandler>(1000);
  LoopbackClient client(running.port);
  const std::string inner = "GET /inner HTTP/1.1\r\n\r\n";
  ASSERT_TRUE(client.send(
      simpleGet("/one?a=1") +
      // A stray CR LF after a body is no request of its own.
      "POST /two HTTP/1.1\r\nHost: site.example\r\nContent-Length: 7\r\n\r\nb=2&c=3\r\n" +
      // A GET has no body: what its length covers is the next request.
      "GET /get HTTP/1.1\r\nContent-Length: " + std::to_string(inner.size()) + "\r\n\r\n" + inner +
      simpleGet("/three")));
  const std::pair<const char*, const char*> expected[] = {
      {"/one", "a=1"}, {"/two", "b=2&c=3"}, {"/get", ""}, {"/inner", ""}, {"/three", ""}};
  for (const auto& [path, params] : expected) {
    HttpResponse response;
    ASSERT_TRUE(client.readResponse(response)) << path;
    EchoReport report;
    ASSERT_TRUE(parseEcho(response.body, report));
    EXPECT_EQ(report["path"], path);
    EXPECT_EQ(report["params"], params);
  }
  EXPECT_TRUE(client.staysSilent(200));
}

TEST(RequestReading, ServeCreatesTheTemporaryFolderForBodies) {
  const std::string folder = platform::toSystemPath(sandboxTempFolder());
  std::filesystem::remove_all(folder);
  auto running = startServer<EchoHandler>(1000);
  LoopbackClient client(running.port);
  ASSERT_TRUE(client.send("POST /form HTTP/1.1\r\nContent-Length: 3\r\n\r\na=1"));
  HttpResponse response;
  ASSERT_TRUE(client.readResponse(response));
  EchoReport report;
  ASSERT_TRUE(parseEcho(response.body, report));
  EXPECT_EQ(report["params"], "a=1");  // the body went through its file
  EXPECT_TRUE(platform::isDirectory(sandboxTempFolder()));
}

struct LimitCase {
  const char* name;
  std::string request;
  bool answered;
};

std::string headWithLines(int headerLines) {
  std::string request = "GET /lines HTTP/1.1\r\n";
  for (int i = 0; i < headerLines; ++i) request += "X-Line: " + std::to_string(i) + "\r\n";
  return request + "\r\n";
}

std::string headWithLineOf(std::size_t bytesBeforeLineFeed) {
  std::string prefix = "X-Long: ";
  return "GET /long HTTP/1.1\r\n" + prefix + std::string(bytesBeforeLineFeed - prefix.size() - 1, 'a') +
         "\r\n\r\n";
}

std::string multipartWith(const std::string& contentTypeLine, const std::string& body) {
  return "POST /upload HTTP/1.1\r\nHost: site.example\r\n" + contentTypeLine +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(RequestReading, RefusesHeadsBeyondTheLimitsAndEndsTheConnection) {
  const std::string smuggled = "GET /smuggled HTTP/1.1\r\n\r\n";
  const std::string longBoundary(VLGenericHandler::kMaxBoundaryBytes, 'b');
  const std::string validBody = "--" + longBoundary +
                                "\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\n--" +
                                longBoundary + "--\r\n";
  const LimitCase cases[] = {
      {"100 lines in all", headWithLines(98), true},
      {"101 lines", headWithLines(99), false},
      {"65,534 bytes before the line feed", headWithLineOf(65534), true},
      {"65,535 bytes", headWithLineOf(65535), false},
      {"multipart without boundary",
       multipartWith("Content-Type: multipart/form-data\r\n", smuggled), false},
      {"empty boundary", multipartWith("Content-Type: multipart/form-data; boundary=\r\n", smuggled), false},
      {"NUL after boundary=",
       multipartWith("Content-Type: multipart/form-data; boundary=" + std::string(1, '\0') + "x\r\n",
                     smuggled),
       false},
      {"boundary of 4,093 bytes",
       multipartWith("Content-Type: multipart/form-data; boundary=" + longBoundary + "\r\n", validBody),
       true},
      {"boundary of 4,094 bytes",
       multipartWith("Content-Type: multipart/form-data; boundary=" + longBoundary + "b\r\n", smuggled),
       false},
      {"form body beyond the memory bound",
       "POST /big HTTP/1.1\r\nContent-Length: " +
           std::to_string(VLGenericHandler::kMaxParameterBytes + 1) + "\r\n\r\n" + smuggled,
       false},
      {"part that no boundary closes",
       multipartWith("Content-Type: multipart/form-data; boundary=zz\r\n",
                     "--zz\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a\"\r\n\r\ndata"),
       false},
      {"closing delimiter with padding and an epilogue",
       multipartWith("Content-Type: multipart/form-data; boundary=zz\r\n",
                     "--zz\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nv\r\n--zz-- \r\n"
                     "epilogue\r\n\r\n"),
       true},
      {"part header block that never ends",
       multipartWith("Content-Type: multipart/form-data; boundary=zz\r\n",
                     "--zz\r\nContent-Disposition: form-data; name=\"f\"\r\n" + std::string(70000, 'h')),
       false},
  };
  auto running = startServer<EchoHandler>(1000);
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackClient client(running.port);
    ASSERT_TRUE(client.send(c.request));
    if (c.answered) {
      HttpResponse response;
      EXPECT_TRUE(client.readResponse(response));
      EXPECT_EQ(response.head.substr(0, 15), "HTTP/1.1 200 Su");
    } else {
      std::string rest;
      EXPECT_TRUE(client.waitForClose(rest));
      EXPECT_EQ(rest, "") << "a refused request must get no reply";
    }
  }
  EXPECT_TRUE(tempFolderEmptied());
}

}  // namespace
}  // namespace sftest

namespace sftest {
namespace {

TEST(RequestReading, ABodyThatCannotBeStoredWholeIsRefused) {
  auto running = startServer<EchoHandler>(1000);
  const std::string body(300000, 'b');
  testsupport::FileSizeLimit limit(100000);  // the body file cannot grow beyond this
  LoopbackClient client(running.port);
  ASSERT_TRUE(client.send("POST /big HTTP/1.1\r\nHost: site.example\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body));
  std::string rest;
  const bool closed = client.waitForClose(rest);
  limit.restore();
  EXPECT_TRUE(closed);
  EXPECT_EQ(rest, "");  // no command ran on a part of the body
  EXPECT_TRUE(tempFolderEmptied());
}

}  // namespace
}  // namespace sftest
