// The services' response head and writers, byte for byte over a real
// loopback connection, and the Date line.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/files.h"
#include "platform/paths.h"
#include "serviceframework/http_date.h"
#include "test_service.h"

namespace sftest {
namespace {

const std::string kDefaultPage =
    "<HTML><HEAD><TITLE>VARLUME</TITLE></HEAD><BODY><H1>Varlume Generic Server<H1><P>No logic "
    "implemented to service your request.</P></BODY></HTML>\r\n";

TEST(Response, DateLineComesFromFixedTables) {
  EXPECT_EQ(httpDateLine(1796758628), "Date: Tue, 08 Dec 2026 19:37:08 GMT\r\n");
  EXPECT_EQ(httpDateLine(1709164800), "Date: Thu, 29 Feb 2024 00:00:00 GMT\r\n");
  EXPECT_EQ(httpDateLine(915148805), "Date: Fri, 01 Jan 1999 00:00:05 GMT\r\n");
}

TEST(Response, DefaultPageHasTheExactHead) {
  ASSERT_EQ(kDefaultPage.size(), 145u);
  auto running = startServer<PageHandler>(1000);
  LoopbackClient client(running.port);
  ASSERT_TRUE(client.send(simpleGet("/anything")));
  HttpResponse response;
  ASSERT_TRUE(client.readResponse(response));
  std::regex head(
      "HTTP/1\\.1 200 Success\r\n"
      "Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), [0-3][0-9] "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] GMT\r\n"
      "Server: Varlume Release 1\\.00\\.00 Linux\\.\r\n"
      "Content-Type: text/html\r\n"
      "Connection: Keep-Alive\r\n"
      "Keep-Alive: timeout=100, max=1000\r\n"
      "Content-Length: 145\r\n"
      "\r\n");
  EXPECT_TRUE(std::regex_match(response.head, head)) << response.head;
  EXPECT_EQ(response.body, kDefaultPage);
}

TEST(Response, OnlyHeadRepliesGoWithoutTheirBody) {
  const struct {
    const char* method;
    bool body;
  } cases[] = {{"GET", true}, {"HEAD", false}, {"head", false}, {"POST", true},
               {"PROPFIND", true}, {"get", true}, {"OPTIONS", true}, {"BREW", true}};
  auto running = startServer<PageHandler>(1000);
  LoopbackClient client(running.port);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    ASSERT_TRUE(client.send(std::string(c.method) + " /x HTTP/1.1\r\nHost: site.example\r\n\r\n"));
    HttpResponse response;
    ASSERT_TRUE(client.readResponse(response, !c.body));
    EXPECT_EQ(response.contentLength, 145);  // the full length, even without the body
    if (c.body) {
      EXPECT_EQ(response.body, kDefaultPage);
    }
  }
  // Every reply was framed as announced: nothing is left over on the connection.
  EXPECT_TRUE(client.staysSilent(100));
}

class BodyFileHandler : public VLGenericHandler {
 public:
  void setBodyFile(const std::string& name) { bodyFile = name; }
};

TEST(Response, SendingRemovesTheBodyFileEvenWithoutAConnection) {
  std::filesystem::create_directories(platform::toSystemPath(sandboxTempFolder()));
  BodyFileHandler handler;
  std::string name = handler.makeTempFileName();
  platform::File file;
  ASSERT_TRUE(file.open(name, platform::File::Write));
  file.close();
  handler.setBodyFile(name);
  EXPECT_FALSE(handler.sendAll("x", 1));
  EXPECT_FALSE(platform::isRegularFile(name));
  EXPECT_EQ(handler.getBodyFile(), name);  // the name stays until reset
  handler.reset();
  EXPECT_EQ(handler.getBodyFile(), "");
}

}  // namespace
}  // namespace sftest
