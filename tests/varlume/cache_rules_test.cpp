// The cache rule files and the lifetimes built on them: the two readers on
// the rule files' own examples, host look-up order, keys and lifetimes.
#include <gtest/gtest.h>

#include <string>

#include "cache_scratch.h"
#include "varlume/cache_rules.h"
#include "varlume/server.h"
#include "varlume/settings.h"

namespace {

const char kDomains[] =
    "# rules\r\n"
    "CLASSDOMAIN=styles\r\n"
    "CACHECSS=YES&EXPIRYSECONDS=300\r\n"
    "CACHEJS=YES&FOO=1&EXPIRYSECONDS=60\r\n"
    "CACHEHTML=YES\r\n"
    "CLASSDOMAIN=nocss\r\n"
    "CACHECSS=YES&EXPIRYSECONDS=0\r\n"
    "DOMAIN=*.siteb.test&CLASSDOMAIN=styles\r\n"
    "DOMAIN=nocss.test&CLASSDOMAIN=nocss\r\n";

std::string withLf(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

int expiryOf(const VLCacheRules& rules, const std::string& domain, const std::string& cls) {
  for (const VLDomainRule& d : rules.classDomains) {
    if (d.getClass() != domain) continue;
    for (int i = 0; i < d.classRuleCount(); ++i) {
      if (d.classRuleAt(i)->getClass() == cls) return d.classRuleAt(i)->getExpiry();
    }
  }
  return -99;  // no such rule
}

TEST(CacheDomains, TheExampleFileReadsAlikeWithCrLfAndLfLineEnds) {
  for (const std::string& text : {std::string(kDomains), withLf(kDomains)}) {
    VLCacheRules rules;
    rules.parseCacheDomainsText(text);
    ASSERT_EQ(rules.classDomains.size(), 2u);
    EXPECT_EQ(expiryOf(rules, "STYLES", "CSS"), 300);
    EXPECT_EQ(expiryOf(rules, "STYLES", "JS"), 60);
    for (const char* cls : {"HTML", "HTM", "SHTML", "DHTML"}) EXPECT_EQ(expiryOf(rules, "STYLES", cls), 180);
    EXPECT_EQ(expiryOf(rules, "NOCSS", "CSS"), 0);
    ASSERT_NE(rules.domainFor("*.SITEB.TEST"), nullptr);
    EXPECT_EQ(rules.domainFor("*.SITEB.TEST")->getClass(), "STYLES");
    EXPECT_EQ(rules.domainFor("NOCSS.TEST")->getClass(), "NOCSS");
  }
}

TEST(CacheDomains, LineKindsAndClosingRules) {
  struct Case {
    const char* text;
    const char* host;    // pattern looked up
    const char* domain;  // class domain it maps to; "" for none
    const char* cls;
    int expiry;          // of domain/cls; -99 for no rule
  };
  const Case cases[] = {
      // A DOMAIN line before its class domain is closed maps nothing; one
      // right after it closes it first and maps.
      {"DOMAIN=h&CLASSDOMAIN=X\r\nCLASSDOMAIN=X\r\nCACHECSS=YES\r\nDOMAIN=g&CLASSDOMAIN=X\r\n", "H",
       "", "CSS", -99},
      {"DOMAIN=h&CLASSDOMAIN=X\r\nCLASSDOMAIN=X\r\nCACHECSS=YES\r\nDOMAIN=g&CLASSDOMAIN=X\r\n", "G",
       "X", "CSS", 180},
      {"CLASSDOMAIN=X\r\nCACHECSS=YES\r\nCLASSDOMAIN=Y\r\nDOMAIN=h&FOO&CLASSDOMAIN=X\r\n", "H", "",
       "CSS", -99},
      // CACHE=NO closes at once; later rule lines are ignored.
      {"CLASSDOMAIN=X\r\nCACHE=NO\r\nCACHECSS=YES\r\nDOMAIN=h&CLASSDOMAIN=X\r\n", "H", "X", "*", 0},
      {"CLASSDOMAIN=X\r\nCACHE=NO\r\nCACHECSS=YES\r\nDOMAIN=h&CLASSDOMAIN=X\r\n", "H", "X", "CSS", -99},
      // NO adds nothing and keeps the earlier rule; the same class overwrites.
      {"CLASSDOMAIN=X\r\nCACHEHTML=YES&EXPIRYSECONDS=300\r\nCACHEHTML=NO&EXPIRYSECONDS=5\r\n"
       "DOMAIN=h&CLASSDOMAIN=X\r\n", "H", "X", "DHTML", 300},
      {"CLASSDOMAIN=X\r\nCACHECSS=YES\r\nCACHECSS=YES&EXPIRYSECONDS=30\r\nDOMAIN=h&CLASSDOMAIN=X\r\n",
       "H", "X", "CSS", 30},
      // The later mapping of a host wins.
      {"CLASSDOMAIN=X\r\nCACHECSS=YES\r\nCLASSDOMAIN=Y\r\nCACHECSS=YES&EXPIRYSECONDS=7\r\n"
       "DOMAIN=h&CLASSDOMAIN=X\r\nDOMAIN=h&CLASSDOMAIN=Y\r\n", "H", "Y", "CSS", 7},
      // Out-of-range seconds are clamped, never overflowed.
      {"CLASSDOMAIN=X\r\nCACHECSS=YES&EXPIRYSECONDS=99999999999\r\nDOMAIN=h&CLASSDOMAIN=X\r\n", "H",
       "X", "CSS", 2147483647},
      {"CLASSDOMAIN=X\r\nCACHECSS=YES&EXPIRYSECONDS=abc\r\nDOMAIN=h&CLASSDOMAIN=X\r\n", "H", "X", "CSS", 0},
      // A final line without a line end is never read.
      {"CLASSDOMAIN=X\r\nCACHECSS=YES\r\nDOMAIN=h&CLASSDOMAIN=X", "H", "", "CSS", -99},
  };
  for (const Case& c : cases) {
    VLCacheRules rules;
    rules.parseCacheDomainsText(c.text);
    const VLDomainRule* mapped = rules.domainFor(c.host);
    EXPECT_EQ(mapped == nullptr ? std::string() : mapped->getClass(), c.domain) << c.text;
    EXPECT_EQ(expiryOf(rules, c.domain, c.cls), c.expiry) << c.text;
  }
}

TEST(CacheDomains, FullUrlRulesKeepTheirMembersOnceAndUpperCase) {
  VLCacheRules rules;
  rules.parseCacheDomainsText(
      "CLASSDOMAIN=X\r\nCACHEFULLURL=/A/B&SPECIALMEMBER=sid&SPECIALMEMBER=SID&IGNOREMEMBER=t\r\n"
      "DOMAIN=h&CLASSDOMAIN=X\r\n");
  ASSERT_EQ(rules.classDomains.size(), 1u);
  const VLClassRule* rule = rules.classDomains[0].classRuleAt(0);
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(rule->getClass(), "/A/B");
  EXPECT_EQ(rule->specialMemberCount(), 1);
  EXPECT_EQ(rule->specialMemberAt(0), "SID");
  EXPECT_EQ(rule->ignoreMemberAt(0), "T");
  EXPECT_EQ(rule->ignoreMemberAt(1), "");
}

TEST_F(CacheScratch, CacheTypesLinesLaterWinsAndTheFinalLineCounts) {
  for (const char* text : {"gif=FALSE\r\nGIF\r\nswf=yes\r\n\r\n  \r\nhtml = true\r\nPNG=\r\njs",
                           "gif=FALSE\nGIF\nswf=yes\n\n  \nhtml = true\nPNG=\njs"}) {
    VLServer server(0);
    ASSERT_TRUE(server.loadCacheTypes(write("CacheTypes.txt", text)));
    EXPECT_EQ(server.cacheTypes, (std::map<std::string, bool>{
                                     {"GIF", true}, {"SWF", false}, {"HTML", true}, {"PNG", true}, {"JS", true}}));
    EXPECT_TRUE(server.isCacheForeverType("JS"));
    EXPECT_FALSE(server.isCacheForeverType("SWF"));
    EXPECT_TRUE(server.isCacheForeverType("JPG"));  // built in
    EXPECT_FALSE(server.isCacheForeverType("CSS"));
  }
  VLServer server(0);
  server.cacheTypes["X"] = true;
  EXPECT_FALSE(server.loadCacheTypes(tempPath + "missing.txt"));
  EXPECT_EQ(server.cacheTypes.size(), 1u);  // a failed load changes nothing
}

TEST_F(CacheScratch, LifetimesKeysAndHostLookUpOrder) {
  VLServer server(0);
  ASSERT_TRUE(server.loadCacheDomains(write("CacheDomains.txt",
                                            "CLASSDOMAIN=S\r\nCACHECSS=YES&EXPIRYSECONDS=300\r\n"
                                            "CLASSDOMAIN=N\r\nCACHECSS=YES&EXPIRYSECONDS=0\r\n"
                                            "CLASSDOMAIN=F\r\nCACHEFULLURL=/X&IGNOREMEMBER=t\r\n"
                                            "CLASSDOMAIN=M\r\nCACHEHTML=YES&EXPIRYSECONDS=-2\r\n"
                                            "CACHECSS=YES&EXPIRYSECONDS=-10\r\nCACHEJS=YES&EXPIRYSECONDS=-1\r\n"
                                            "DOMAIN=*.b.c&CLASSDOMAIN=S\r\nDOMAIN=*.d&CLASSDOMAIN=S\r\n"
                                            "DOMAIN=nocss.test&CLASSDOMAIN=N\r\nDOMAIN=minus.test&CLASSDOMAIN=M\r\n")));
  struct Case {
    const char* host;
    const char* url;
    int lifetime;
    const char* key;
  };
  const Case cases[] = {
      {"a.test", "/i/x.gif", -1, "/i/x.gif"},
      {"a.test", "/i/x.gif?v=2", -1, "/i/x.gif"},
      {"a.test", "/p.html", 600, "/p.html"},
      {"a.test", "/p.html?q=1", 0, "/p.html"},
      {"a.test", "/s.js", 0, "/s.js"},
      {"a.test", "/dir/", 0, "/dir/"},
      {"a.test", "/x.gif?", 0, "/x.gif?"},  // a final "?" stays in the path
      {"b.c", "/a.css?b=2&a=1", 300, "/a.css_Q_a_EQ_1_AMP_b_EQ_2"},
      {"A.B.C", "/a.css?a=1&b=2", 300, "/a.css_Q_a_EQ_1_AMP_b_EQ_2"},
      {"a.b.c", "/a.css?latest", 300, "/a.css"},
      {"x.d", "/a.css", 600, "/a.css"},     // "*.d" is never tried
      {"b.c:8080", "/a.css", 600, "/a.css"},  // a port matches no pattern
      {"b.c", "/a.gif?z=1", -1, "/a.gif"},  // no rule for GIF: built-in policy
      {"nocss.test", "/a.css", 0, "/a.css"},
      // Negative seconds but -1 keep no copy; -2 is no "no rule".
      {"minus.test", "/p.html", 0, "/p.html"},
      {"minus.test", "/a.css?x=1", 0, "/a.css"},
      {"minus.test", "/s.js?x=1", -1, "/s.js_Q_x_EQ_1"},
  };
  for (const Case& c : cases) {
    std::string key;
    EXPECT_EQ(server.cacheLifetime(c.host, c.url, key), c.lifetime) << c.host << c.url;
    EXPECT_EQ(key, c.key) << c.host << c.url;
  }
}

}  // namespace
