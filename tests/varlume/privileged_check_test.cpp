// The guard of the service commands that change data: which commands it
// covers and which Referer or Origin lines let them through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/privileged_host.h"
#include "varlume/privileged_check.h"

namespace {

TEST(ServiceCommandGuard, CoversTheCommandsThatChangeData) {
  struct Case {
    const char* service;
    const char* path;
    bool changing;
  };
  const Case cases[] = {
      {"file", "/SETPROXY", true},          {"FILE", "/removedirectory", true},
      {"file", "/SaveFile", true},          {"file", "/%53ETPROXY", true},
      {"file", "//SETPROXY", true},         {"file", "/SCANCACHEDIR", true},
      {"file", "/SCANDIR", false},          {"file", "/getPortal", false},
      {"file", "/varlumeportal.html", false}, {"event", "/getEvent", false},
      {"event", "/ADDSERVEREVENT", true},   {"event", "/GETVERSION", false},   {"event", "/CROSSSITESCRIPT", true},
      {"db", "/SETPROXY", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isChangingCommand(c.service, c.path), c.changing) << c.service << c.path;
}

TEST(ServiceCommandGuard, OnlyTheOwnPageHostsRefererOrOriginLetsThemThrough) {
  const std::string line = "GET /REMOVEDIRECTORY?Name=x HTTP/1.1\r\n";
  auto permitted = [&](const std::string& pageHost, const std::vector<std::string>& headers) {
    std::vector<std::string> lines{line, "Host: " + pageHost + "\r\n"};
    for (const std::string& header : headers) lines.push_back(header + "\r\n");
    lines.push_back("\r\n");
    return serviceCommandPermitted("file", line, lines, pageHost);
  };
  EXPECT_TRUE(permitted("siteb.test", {"Referer: http://siteb.test/page.html"}));
  EXPECT_TRUE(permitted("siteb.test", {"referer: HTTP://SiteB.test:80/"}));
  EXPECT_FALSE(permitted("siteb.test", {"Origin: https://siteb.test:443"}));
  EXPECT_TRUE(permitted("siteb.test:8080", {"Referer: http://siteb.test:8080/x"}));
  EXPECT_TRUE(permitted("siteb.test/docs", {"Referer: http://siteb.test/docs/a"}));
  EXPECT_TRUE(permitted(kPrivilegedHost,
                        {std::string("Referer: http://") + kPrivilegedHost + "/portal", "X-Varlume-Command: 1"}));
  EXPECT_FALSE(permitted("siteb.test", {}));
  EXPECT_FALSE(permitted("siteb.test", {"Referer: http://pagea.test/"}));
  EXPECT_FALSE(permitted("siteb.test", {"Origin: null"}));
  EXPECT_FALSE(permitted("siteb.test", {"Referer: http://siteb.test.evil.test/"}));
  EXPECT_FALSE(permitted("siteb.test", {"Referer: http://siteb.test@evil.test/"}));
  EXPECT_FALSE(permitted("siteb.test:8080", {"Referer: http://siteb.test/"}));
  EXPECT_FALSE(permitted("siteb.test", {"Referrer: event"}));
  EXPECT_FALSE(permitted(kPrivilegedHost, {"Referer: http://siteb.test/"}));
  // A command that changes nothing needs no referrer.
  std::vector<std::string> bare{"GET /SCANDIR HTTP/1.1\r\n", "Host: a\r\n", "\r\n"};
  EXPECT_TRUE(serviceCommandPermitted("file", bare[0], bare, "a"));
}

TEST(ServiceCommandGuard, APrivilegedPagesChangingCommandNeedsItsScriptsLine) {
  const std::string own = std::string("Referer: http://") + kPrivilegedHost + "/varlume/file/varlumeportal.html";
  auto permitted = [&](const std::string& service, const std::string& path, const std::string& pageHost,
                       const std::vector<std::string>& headers) {
    const std::string line = "GET " + path + " HTTP/1.1\r\n";
    std::vector<std::string> lines{line, "Host: " + pageHost + "\r\n"};
    for (const std::string& header : headers) lines.push_back(header + "\r\n");
    lines.push_back("\r\n");
    return serviceCommandPermitted(service, line, lines, pageHost);
  };
  // A click on the portal's link is the portal's own navigation: its
  // Referer alone no longer lets a changing command through.
  EXPECT_FALSE(permitted("file", "/SETPROXY?Host=a&Port=1", kPrivilegedHost, {own}));
  EXPECT_FALSE(permitted("event", "/ADDCROSSSITEUSER?Domain=a", kPrivilegedHost, {own}));
  EXPECT_FALSE(permitted("file", "/STRINGFILE?Path=x.html", "VARLUME.INTERNAL", {own}));
  EXPECT_FALSE(permitted("file", "/SETPROXY", kPrivilegedHost, {own, "X-Varlume-Commander: 1"}));
  EXPECT_FALSE(permitted("file", "/SETPROXY", kPrivilegedHost, {"Referer: http://evil.test/", "X-Varlume-Command: 1"}));
  EXPECT_TRUE(permitted("file", "/SETPROXY?Host=a&Port=1", kPrivilegedHost, {own, "X-Varlume-Command: settings"}));
  EXPECT_TRUE(permitted("event", "/ADDCROSSSITEUSER", kPrivilegedHost, {own, "x-varlume-command:"}));
  // What changes nothing, and the changing commands of any other site, as before.
  EXPECT_TRUE(permitted("file", "/varlumeportal.html", kPrivilegedHost, {}));
  EXPECT_TRUE(permitted("file", "/SAVEFILE", "siteb.test", {"Referer: http://siteb.test/"}));
}

}  // namespace
