// The event service's command table over HTTP: the exact reply head and
// envelopes, letter case, unknown and gated paths, HEAD, the handler line on
// standard output, and what the first request of a site creates.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "support/event_service.h"

namespace {

using eventtest::HttpResponse;
using eventtest::kOk;
using eventtest::kUnknown;

constexpr char kVersion[] =
    "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason><VarlumeEvent>varlumeevent 1.0.0, "
    "2006-08-24</VarlumeEvent></Varlume>";

std::vector<std::string> headLines(const std::string& head) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < head.size();) {
    const std::size_t end = head.find("\r\n", at);
    if (end == std::string::npos || end == at) break;
    lines.push_back(head.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// Seconds between the Date line's time and now.
long dateDistance(const std::string& line) {
  std::tm parsed{};
  if (strptime(line.c_str(), "Date: %a, %d %b %Y %H:%M:%S GMT", &parsed) == nullptr) return 1L << 30;
  return std::labs(static_cast<long>(timegm(&parsed) - std::time(nullptr)));
}

void expectHead(const HttpResponse& response, const std::string& status, const std::string& type,
                std::size_t length) {
  const std::vector<std::string> lines = headLines(response.head);
  ASSERT_EQ(lines.size(), 7u) << response.head;
  EXPECT_EQ(lines[0], status);
  EXPECT_LE(dateDistance(lines[1]), 5) << lines[1];
  EXPECT_EQ(lines[2], "Server: Varlume Release 1.00.00 Linux.");
  EXPECT_EQ(lines[3], "Content-Type: " + type);
  EXPECT_EQ(lines[4], "Connection: Keep-Alive");
  EXPECT_EQ(lines[5], "Keep-Alive: timeout=100, max=1000");
  EXPECT_EQ(lines[6], "Content-Length: " + std::to_string(length));
  EXPECT_EQ(response.head.substr(response.head.size() - 4), "\r\n\r\n");
}

class EventDispatch : public eventtest::VLEventService {};

TEST_F(EventDispatch, RepliesByteForByte) {
  EXPECT_EQ(std::string(kOk).size(), 108u);
  EXPECT_EQ(std::string(kVersion).size(), 138u);
  EXPECT_EQ(std::string(kUnknown).size(), 138u);
  const struct {
    const char* target;
    const char* host;
    const char* body;
  } cases[] = {
      {"/GETVERSION", "site.example", kVersion},
      {"/getversion", "site.example", kVersion},
      {"/GetVersion?x=1", "site.example", kVersion},
      {"/GETVERSION/", "site.example", kUnknown},
      {"/", "site.example", kUnknown},
      {"/nothing", "site.example", kUnknown},
      {"/CROSSSITESCRIPT", "site.example", kOk},
      {"/crosssitescript", "site.example", kOk},
      {"/ADDCROSSSITEUSER?Domain=a&CrossDomain=b&Permission=3", "site.example", kUnknown},
      {"/UPDATECROSSSITEUSER?Domain=a&CrossDomain=b&Permission=3", "site.example", kUnknown},
      {"/ADDCROSSSITESITE?Domain=a&CrossDomain=b&Permission=DENY&Path=*", "site.example", kUnknown},
      {"/DELETECROSSSITESITE?Domain=a&CrossDomain=b", "site.example", kUnknown},
      {"/ADDCROSSSITEUSER?Domain=a&CrossDomain=b&Permission=3", "varlume.internal:80", kUnknown},
      {"/ADDCROSSSITEUSER?Domain=a&CrossDomain=b&Permission=3", "varlume.internal/docs", kUnknown},
      // The privileged host's command without its pages' script's line.
      {"/ADDCROSSSITEUSER?Domain=a&CrossDomain=b&Permission=3", "VARLUME.INTERNAL", kUnknown},
      {"/GETVERSION", "varlume.internal", kUnknown},
      {"/DELETESERVEREVENT?Path=/none", "site.example", kOk},
  };
  for (const auto& c : cases) {
    const HttpResponse response = get(c.target, c.host);
    expectHead(response, "HTTP/1.1 200 Success", "text/xml", std::string(c.body).size());
    EXPECT_EQ(response.body, c.body) << c.target << " " << c.host;
  }
  const HttpResponse script = get("/ADDCROSSSITEUSER?Domain=a&CrossDomain=b&Permission=3", "VARLUME.INTERNAL",
                                  eventtest::kScriptLine);
  expectHead(script, "HTTP/1.1 200 Success", "text/xml", std::string(kOk).size());
  EXPECT_EQ(script.body, kOk);
}

TEST_F(EventDispatch, HeadGetsTheHeadOnly) {
  testsupport::LoopbackClient client(port);
  ASSERT_TRUE(client.send("HEAD /GETVERSION HTTP/1.1\r\nHost: site.example\r\n\r\n"));
  HttpResponse response;
  ASSERT_TRUE(client.readResponse(response, true));
  expectHead(response, "HTTP/1.1 200 Success", "text/xml", 138);
  EXPECT_TRUE(client.staysSilent(200));
  // The connection is kept: a second request on it is answered.
  ASSERT_TRUE(client.send("GET /GETVERSION HTTP/1.1\r\nHost: site.example\r\n\r\n"));
  ASSERT_TRUE(client.readResponse(response));
  EXPECT_EQ(response.body, kVersion);
}

TEST_F(EventDispatch, NamesEachHandlerInRoundRobinOrder) {
  for (int i = 0; i < 3; ++i) get("/GETVERSION");
  const std::string output = service.output();
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    const std::string line = "\ngetNextAvailableHandler() - found available handler at position " +
                             std::to_string(i) + "\n";
    at = output.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << output;
  }
  // The version reply's body goes to standard output too.
  EXPECT_NE(output.find(std::string("\n") + kVersion + "\n"), std::string::npos);
}

TEST_F(EventDispatch, TheFirstGetEventCreatesNothingAndAnyOtherRequestTheDatabase) {
  const HttpResponse none = get("/GETEVENT?Path=/a&Event=NOWEB");
  expectHead(none, "HTTP/1.1 500 Internal server error", "text/plain", 0);
  EXPECT_EQ(none.body, "");
  EXPECT_FALSE(sandbox::isFolder(dataRoot() + "/site.example"));
  EXPECT_EQ(sandbox::folderNames(dataRoot()), std::vector<std::string>{"varlume.internal"});

  EXPECT_EQ(get("/unknown").body, kUnknown);
  EXPECT_EQ(eventtest::schemaOf(siteDatabase()), eventtest::domainSchema());
  // Only the owner may write the file.
  struct stat status {};
  ASSERT_EQ(::stat(siteDatabase().c_str(), &status), 0);
  EXPECT_NE(status.st_mode & S_IWUSR, 0u);
  EXPECT_EQ(status.st_mode & (S_IWGRP | S_IWOTH), 0u);
  EXPECT_EQ(get("/GETEVENT?Path=/a&Event=NOWEB").head.substr(0, 36), eventtest::kNoEventHead);
}

TEST_F(EventDispatch, ThePrivilegedHostsOwnRequestsAddTheSiteObjectsToItsDatabase) {
  EXPECT_EQ(privileged("/GETVERSION").body, kVersion);
  eventtest::Rows expected = eventtest::privilegedSchema();
  for (const auto& row : eventtest::domainSchema()) expected.push_back(row);
  EXPECT_EQ(eventtest::schemaOf(privilegedDatabase()), expected);
}

}  // namespace
