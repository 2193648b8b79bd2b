// The cache layout and the freshness test: the inclusive bounds, and the
// path rule that keeps every cache and mirror path inside its folder.
#include <gtest/gtest.h>

#include <string>

#include "cache_scratch.h"
#include "varlume/cache_paths.h"
#include "varlume/cache_policy.h"
#include "varlume/mirror_names.h"

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

}  // namespace
