// The cache layout and the freshness test: the inclusive bounds, and the
// path rule that keeps every cache and mirror path inside its folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "cache_scratch.h"
#include "platform/clock.h"
#include "varlume/cache_lookup.h"
#include "varlume/cache_paths.h"
#include "varlume/cache_policy.h"
#include "varlume/mirror_names.h"
#include "varlume/server.h"

namespace {

TEST(CacheFreshness, BoundsAreInclusive) {
  const std::int64_t now = 5000000000;  // beyond 2038
  EXPECT_TRUE(isCopyFresh(60, true, now - 60, false, 0, now));
  EXPECT_FALSE(isCopyFresh(60, true, now - 61, false, 0, now));
  EXPECT_TRUE(isCopyFresh(-1, true, 1, false, 0, now));
  EXPECT_FALSE(isCopyFresh(-1, false, now, false, 0, now));
  EXPECT_TRUE(isCopyFresh(-1, true, now - 10, true, now - 10, now));
  EXPECT_FALSE(isCopyFresh(-1, true, now - 11, true, now - 10, now));
  EXPECT_FALSE(isCopyFresh(-5, true, now + 10, false, 0, now));
}

TEST_F(CacheScratch, CachePathsStayInsideTheirFolder) {
  EXPECT_EQ(cacheHostFolderName("SiteB.Test", 80), "siteb.test");
  EXPECT_EQ(cacheHostFolderName("a.test", 8080), "a.test:8080");
  EXPECT_EQ(cacheHostFolderName("A.test:80", 80), "a.test");
  EXPECT_EQ(cacheHostFolderName("a.test:81", 80), "a.test:81");
  std::string path;
  ASSERT_TRUE(cacheFilePath("a.test", "/i/a%20b.gif", path));
  EXPECT_EQ(path, tempPath + "Cache\\a.test\\i\\a%20b.gif");
  const char* const badHosts[] = {"", ".", "..", "a/b", "a\\b", "a%2Fb", "%2E%2E", "a%zz", "a\x01"};
  for (const char* host : badHosts) EXPECT_FALSE(cacheFilePath(host, "/x.gif", path)) << host;
  const std::string badKeys[] = {"/../x.gif", "/a/./x.gif", "//x.gif", "/a\\..\\x.gif",
                                 "/%2E%2E%2Fx.gif", "/..%5Cx.gif", "/a%00.gif", "/a%.gif",
                                 "/a%252E.gif", "/" + std::string(256, 'a') + ".gif", "/a/", "x.gif"};
  for (const std::string& key : badKeys) EXPECT_FALSE(cacheFilePath("a.test", key, path)) << key;
  EXPECT_TRUE(postMarkerPath("a.test", path));
  EXPECT_EQ(path, tempPath + "Cache\\a.test\\catchall.varlumepost");
  EXPECT_FALSE(postMarkerPath("..", path));
}

TEST_F(CacheScratch, MirrorNamesAndTheirRule) {
  struct Case {
    const char* host;
    const char* url;
    const char* file;  // under the data root; "" when refused
  };
  const Case cases[] = {
      {"Site.Test", "/", "site.test\\index.html"},
      {"site.test", "/dir/page.html", "site.test\\dir\\page.html"},
      {"site.test", "/dir/", "site.test\\dir\\index.html"},
      {"site.test", "/p.html?x=1&MIRRORAS=Copy.htm&y=2", "site.test\\Copy.htm"},
      {"site.test", "/p.html?mirroras=Copy.htm", "site.test\\Copy.htm"},
      {"site.test", "/my%20page.html", "site.test\\my page.html"},
      {"site.test", "/a%5Cb.html", "site.test\\a\\b.html"},
      {"site.test", "/p.html?MIRRORAS=../x", ""},
      {"site.test", "/%2E%2E%2F%2E%2E%2F.bashrc", ""},
      {"site.test", "/..%5Cx", ""},
      {"site.test", "/a/../../x", ""},
      {"site.test", "/a%00b", ""},
      {"site.test", "/a%2", ""},
      {"site.test", "/a%2541", ""},
      {"..", "/x.html", ""},
      {"", "/x.html", ""},
  };
  for (const Case& c : cases) {
    std::string path;
    const bool ok = mirrorFilePath(c.host, c.url, path);
    EXPECT_EQ(ok ? path.substr(tempPath.size()) : std::string(), c.file) << c.url;
  }
}

TEST_F(CacheScratch, ThePostMarkerIsRenewedOnlyInAnExistingPlainHostFolder) {
  write("Cache/site.test:8080/x.gif", "copy");
  write("Cache/plain.test/x.gif", "copy");
  struct Case {
    const char* line;
    const char* host;
    int port;
    const char* marker;  // relative; "" when none may exist afterwards
  };
  const Case cases[] = {
      {"POST /f HTTP/1.1\r\n", "Site.Test:8080", 80, "Cache/site.test:8080/catchall.varlumepost"},
      {"propfind /f HTTP/1.1\r\n", "plain.test:80", 80, "Cache/plain.test/catchall.varlumepost"},
      {"POST /f HTTP/1.1\r\n", "site.test", 8080, "Cache/site.test:8080/catchall.varlumepost"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(platform::toSystemPath(tempPath) + "/" + c.marker);
    renewPostMarker(c.line, c.host, c.port);
    EXPECT_TRUE(scratch.exists(c.marker)) << c.line << c.host;
  }
  // Other methods, hosts without a folder and hosts that are not plain: nothing.
  renewPostMarker("GET /f HTTP/1.1\r\n", "get.test", 80);
  renewPostMarker("POST /f HTTP/1.1\r\n", "absent.test", 80);
  renewPostMarker("POST /f HTTP/1.1\r\n", "..", 80);
  renewPostMarker("POST /f HTTP/1.1\r\n", "", 80);
  EXPECT_FALSE(scratch.exists("Cache/absent.test"));
  EXPECT_FALSE(scratch.exists("Cache/catchall.varlumepost"));
  EXPECT_FALSE(scratch.exists("catchall.varlumepost"));
}

TEST_F(CacheScratch, APlanLooksUpOnlyPlainBodilessGets) {
  VLServer server(0);
  write("Cache/a.test/x.gif", "copy");
  const std::int64_t now = platform::unixTime();
  struct Case {
    VLCacheRequest request;
    bool cached;  // a cache path is named
    bool fresh;
  };
  const Case cases[] = {
      {{"GET /x.gif HTTP/1.1\r\n", "a.test", "a.test", 80, false, false}, true, true},
      {{"get /x.gif?v=1 HTTP/1.1\r\n", "A.TEST", "a.test", 80, false, false}, true, true},
      {{"GET /x.gif HTTP/1.1\r\n", "a.test", "a.test", 8080, false, false}, true, false},
      {{"GET /x.gif HTTP/1.1\r\n", "a.test", "a.test", 80, true, false}, false, false},
      {{"GET /x.gif HTTP/1.1\r\n", "a.test", "a.test", 80, false, true}, false, false},
      {{"HEAD /x.gif HTTP/1.1\r\n", "a.test", "a.test", 80, false, false}, false, false},
      {{"POST /x.gif HTTP/1.1\r\n", "a.test", "a.test", 80, false, false}, false, false},
      {{"GET /x.js HTTP/1.1\r\n", "a.test", "a.test", 80, false, false}, false, false},
      {{"GET /../x.gif HTTP/1.1\r\n", "a.test", "a.test", 80, false, false}, false, false},
  };
  for (const Case& c : cases) {
    const VLCachePlan plan = planCache(server, c.request, now);
    EXPECT_EQ(!plan.cachePath.empty(), c.cached) << c.request.requestLine << c.request.port;
    EXPECT_EQ(plan.fresh, c.fresh) << c.request.requestLine << c.request.port;
  }
  // A marker newer than the copy makes it stale.
  write("Cache/a.test/catchall.varlumepost", "");
  std::filesystem::last_write_time(platform::toSystemPath(tempPath) + "/Cache/a.test/x.gif",
                                   std::filesystem::file_time_type::clock::now() - std::chrono::seconds(10));
  EXPECT_FALSE(planCache(server, cases[0].request, now).fresh);
}

}  // namespace
