// The URL a page wants stored: which host and path the permission look-up
// sees, and which PathWild patterns cover a path.
#include "varlumeevent/cross_site_url.h"

#include <gtest/gtest.h>

namespace {

TEST(CrossSiteUrl, HostAndPath) {
  const struct {
    const char* url;
    const char* host;
    const char* path;
  } cases[] = {
      {"http://Other.Example/a/b?x=1", "other.example", "/a/b"},
      {"HTTP://other.example", "other.example", "/"},
      {"http://other.example?q=x", "other.example", "/"},
      {"http://other.example?q=/x", "other.example?q=", "/x"},
      {"https://Other.Example/data?x", "other.example", "/data"},
      {"HTTPS://other.example", "other.example", "/"},
      {"hTtPs://other.example:8443/p", "other.example:8443", "/p"},
      {"/relative/path?x=1", "", "/relative/path"},
      {"  spaced ?q", "", "spaced"},
      {"", "", ""},
      {"//other.example/x", "", "//other.example/x"},
      {"ftp://other.example/x", "", "ftp://other.example/x"},
      {"http:///x", "", "/x"},
  };
  for (const auto& c : cases) {
    const VLCrossSiteUrl parsed = parseCrossSiteUrl(c.url);
    EXPECT_EQ(parsed.host, c.host) << c.url;
    EXPECT_EQ(parsed.path, c.path) << c.url;
  }
}

TEST(CrossSiteUrl, PathWildMatches) {
  const struct {
    const char* pattern;
    const char* path;
    bool covered;
  } cases[] = {
      {"/a", "/a", true},       {"/a", "/a/b", false},   {"*", "/anything", true}, {"*x", "/", true},
      {"/a*", "/a", true},      {"/a*", "/abc", true},   {"/a*", "/", false},      {"/a*zzz", "/ab", true},
      {"/docs/*", "/docs", false}, {"", "", true},       {"", "/", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pathWildMatches(c.pattern, c.path), c.covered) << c.pattern << " " << c.path;
  }
}

}  // namespace
