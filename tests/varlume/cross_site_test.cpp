// Cross-site declarations and the check: the reader of "/varlume.txt", the
// path match, the record table and the check's decisions.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "varlume/cross_site_check.h"
#include "varlume/cross_site_record.h"
#include "varlume/cross_site_table.h"

namespace {

std::vector<std::string> patterns(const VLCrossSiteRecord& record, bool deny) {
  std::vector<std::string> out;
  const int count = deny ? record.denyCount() : record.allowCount();
  for (int i = 0; i < count; ++i) out.push_back(deny ? record.denyAt(i) : record.allowAt(i));
  return out;
}

VLCrossSiteRecord parsed(const std::string& text, const std::string& page, const std::string& site) {
  VLCrossSiteRecord record;
  record.setPageHost(page);
  record.setDomain(site);
  std::istringstream stream(text);
  record.parseDeclarations(stream);
  return record;
}

using List = std::vector<std::string>;

struct ParseCase {
  const char* name;
  std::string text;
  const char* page;
  const char* site;
  List deny;
  List allow;
};

const std::string kExample =
    "# declaration of siteb.test\n"
    "domain=siteb.test\n"
    "domain=www.siteb.test\n"
    "deny\n"
    "path=/private*\n"
    "path=/admin*\n"
    "allow\n"
    "from=pagea.test\n"
    "path=/private/shared*\n";

TEST(CrossSiteDeclarations, ReadsEachRuleOfTheFormat) {
  const std::string longRun(4096, 'x');
  const std::vector<ParseCase> cases = {
      {"example, listed page", kExample, "pagea.test", "siteb.test", {"/private*", "/admin*"}, {"/private/shared*"}},
      {"example, second domain line", kExample, "pagea.test", "www.siteb.test", {"/private*", "/admin*"}, {"/private/shared*"}},
      {"example, other page stops at the from block", kExample, "pagex.test", "siteb.test", {"/private*", "/admin*"}, {}},
      {"example, other site", kExample, "pagea.test", "sitec.test", {}, {}},
      {"no domain line applies to every site", "deny\npath=/private*\n", "p", "any.test", {"/private*"}, {}},
      {"sections of two sites (first)", "domain=sitea\ndeny\npath=/a*\ndomain=siteb\nallow\npath=/b*\n", "p", "sitea", {"/a*"}, {}},
      {"sections of two sites (second)", "domain=sitea\ndeny\npath=/a*\ndomain=siteb\nallow\npath=/b*\n", "p", "siteb", {}, {"/b*"}},
      {"unlisted page: parse ends at the path", "from=pageq\npath=/x*\npath=/y*\n", "pp", "s", {}, {}},
      {"second from line opens", "from=pageq\nfrom=pp\npath=/x*\n", "pp", "s", {"/x*"}, {}},
      {"open stays open", "from=pp\npath=/x*\nfrom=pageq\npath=/y*\n", "pp", "s", {"/x*", "/y*"}, {}},
      {"one-character values", "from=a\npath=/\npath=/z*\n", "pp", "s", {"/z*"}, {}},
      {"two-character test after trimming", "path= /\npath=  /q\n", "p", "s", {"/q"}, {}},
      {"last line without a line end is not read", "path=/a*\npath=/b*", "p", "s", {"/a*"}, {}},
      {"CR alone ends lines", "deny\rpath=/a*\rallow\rpath=/a/b\r", "p", "s", {"/a*"}, {"/a/b"}},
      {"trimmed and lower-cased", "  DENY \n\tPATH=/Private* \r\n", "p", "s", {"/private*"}, {}},
      {"comments and blank lines", "# x\n\n   \n#path=/no\npath=/yes*\n", "p", "s", {"/yes*"}, {}},
      {"unknown line ends the parse", "path=/a*\nhello\npath=/b*\n", "p", "s", {"/a*"}, {}},
      {"error page reads as nothing", "<html><body>Not Found</body></html>\n", "p", "s", {}, {}},
      {"a long run is cut into lines", "path=/a*\n" + longRun + "path=/b*\n", "p", "s", {"/a*"}, {}},
      {"a full piece at the end is read", "path=/" + std::string(4089, 'c') + "*", "p", "s", {"/" + std::string(4089, 'c') + "*"}, {}},
      {"a short piece at the end is not", "path=/" + std::string(4088, 'c') + "*", "p", "s", {}, {}},
      {"non-matching domain skips unknown lines too", "domain=other\nnonsense\ndomain=s\npath=/k*\n", "p", "s", {"/k*"}, {}},
      {"deny and allow reset the from state", "from=q\nallow\npath=/free*\n", "p", "s", {}, {"/free*"}},
      {"page host compared untrimmed", "from=pp\npath=/x*\n", " pp", "s", {}, {}},
      {"site compared trimmed", "domain=s\npath=/x*\n", "p", " S ", {"/x*"}, {}},
  };
  for (const ParseCase& c : cases) {
    const VLCrossSiteRecord record = parsed(c.text, c.page, c.site);
    EXPECT_EQ(patterns(record, true), c.deny) << c.name;
    EXPECT_EQ(patterns(record, false), c.allow) << c.name;
  }
}

TEST(CrossSiteDeclarations, AFailedStreamReadsNothing) {
  VLCrossSiteRecord record;
  record.setDomain("s");
  std::istringstream stream("path=/a*\n");
  stream.setstate(std::ios::failbit);
  record.parseDeclarations(stream);
  EXPECT_EQ(record.denyCount(), 0);
}

TEST(CrossSiteDeclarations, MatchesPathAsAnchoredWildcard) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"/private*", "/private", true},       {"/private*", "/private/x", true},
      {"/private/*", "/private/", true},     {"/private/*", "/private", false},
      {"/a", "/a", true},                    {"/a", "/a/b", false},
      {"/a", "/", false},                    {"*", "/", true},
      {"/a*/c", "/ab/c", true},              {"/a*/c", "/ab/cd", false},
      {"/a*b*c", "/abc", true},              {"/a*b*c", "/axbyc", true},
      {"/a*b*c", "/ac", false},              {"*.php", "/x/y.php", true},
      {"*.php", "/x/y.phps", false},         {"/ab*ba", "/aba", false},
      {"/a**b", "/ab", true},                {"*/secret/*", "/x/secret/y", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VLCrossSiteRecord::matchesPath(c.pattern, c.path), c.matches)
        << c.pattern << " " << c.path;
  }
}

TEST(CrossSiteDeclarations, AllowsByFirstMatchingDeny) {
  VLCrossSiteRecord record;
  record.setDomain("Siteb.test ");
  record.addDeny("/private*");
  record.addDeny("/admin*");
  record.addAllow("/private/shared*");
  record.addAllow("");
  EXPECT_EQ(record.allowCount(), 1);
  EXPECT_TRUE(record.allows("siteb.test", "/public"));
  EXPECT_FALSE(record.allows("siteb.test", "/PRIVATE/x"));
  EXPECT_TRUE(record.allows("siteb.test", "/private/shared/y"));
  EXPECT_FALSE(record.allows("siteb.test", "/admin"));
  EXPECT_FALSE(record.allows("other.test", "/public"));
  VLCrossSiteRecord empty;
  empty.setDomain("s");
  EXPECT_TRUE(empty.allows("S", "/anything"));
}

TEST(CrossSiteRecord, ExpiresAndCopies) {
  VLCrossSiteRecord fresh;
  EXPECT_TRUE(fresh.isExpired());
  VLCrossSiteRecord record;
  record.setPageHost("p");
  record.setDomain("s");
  record.addDeny("/d*");
  record.setFromAnswer(true);
  record.setExpiry(86400);
  EXPECT_FALSE(record.isExpired());
  EXPECT_TRUE(record.matches(" P\t", "S\r\n"));
  EXPECT_FALSE(record.matches("p", "s2"));
  VLCrossSiteRecord copy;
  copy.assign(record);
  EXPECT_EQ(copy.denyAt(0), "/d*");
  EXPECT_EQ(copy.expiry(), record.expiry());
  EXPECT_TRUE(copy.fromAnswer());
  copy.reset();
  EXPECT_TRUE(copy.isExpired());
  EXPECT_EQ(copy.denyCount(), 0);
  EXPECT_EQ(copy.denyAt(5), "");
}

VLCrossSiteRecord recordFor(const std::string& page, const std::string& site, std::int64_t seconds,
                            const List& deny = {}) {
  VLCrossSiteRecord record;
  record.setPageHost(page);
  record.setDomain(site);
  for (const std::string& pattern : deny) record.addDeny(pattern);
  record.setExpiry(seconds);
  return record;
}

TEST(CrossSiteTable, OneRecordPerPairIgnoringCaseAndBlanks) {
  VLCrossSiteTable table;
  table.store(recordFor("pagea.test", "siteb.test", 100, {"/a*"}));
  table.store(recordFor(" PageA.test", "SITEB.test\t", 100, {"/b*"}));
  EXPECT_EQ(table.size(), 1u);
  VLCrossSiteRecord out;
  ASSERT_TRUE(table.find(out, "pagea.test", "siteb.test"));
  EXPECT_EQ(patterns(out, true), List{"/b*"});
  EXPECT_FALSE(table.find(out, "pagea.test", "sitec.test"));
  EXPECT_EQ(out.getDomain(), "");
}

TEST(CrossSiteTable, BoundedByRecordsAndPatternBytesEarliestExpiryFirst) {
  const VLCrossSiteRecord big = recordFor("p", "big", 500, {"/123456789abcde"});
  const VLCrossSiteRecord more = recordFor("p", "more", 600, {"/123456789"});
  const VLCrossSiteRecord huge = recordFor("p", "huge", 700, {"/" + std::string(300, 'x')});
  // Room for either record of patterns alone, not for both; none for the huge one.
  const std::size_t bound = big.patternBytes() + more.patternBytes() - 1;
  ASSERT_GT(huge.patternBytes(), bound);
  VLCrossSiteTable table(3, bound);
  table.store(recordFor("p", "s1", 300));
  table.store(recordFor("p", "s2", 100));
  table.store(recordFor("p", "s3", 200));
  table.store(recordFor("p", "s4", 400));
  EXPECT_EQ(table.size(), 3u);
  VLCrossSiteRecord out;
  EXPECT_FALSE(table.find(out, "p", "s2"));
  EXPECT_TRUE(table.find(out, "p", "s4"));
  // Bytes: one record of patterns, then one more that does not fit beside
  // it push out the earliest expiry.
  table.store(big);
  table.store(more);
  EXPECT_LE(table.patternBytes(), bound);
  EXPECT_FALSE(table.find(out, "p", "big"));
  EXPECT_TRUE(table.find(out, "p", "more"));
  // Larger than the whole bound: not kept, and nothing else is lost for it.
  const std::size_t before = table.size();
  table.store(huge);
  EXPECT_FALSE(table.find(out, "p", "huge"));
  EXPECT_EQ(table.size(), before);
}

// The bound counts memory, not characters: a pattern costs at least its
// string object, and a long one its own allocation besides.
TEST(CrossSiteTable, PatternsCostAtLeastTheirMemory) {
  const struct {
    std::size_t count;
    std::size_t length;
  } shapes[] = {{100000, 2}, {1000, 100}, {1, 4096}};
  for (const auto& shape : shapes) {
    VLCrossSiteRecord record = recordFor("p", "s", 100, {});
    for (std::size_t i = 0; i < shape.count; ++i) record.addDeny(std::string(shape.length, 'a'));
    VLCrossSiteRecord copy;
    copy.assign(record);
    const std::size_t own = shape.length > std::string().capacity() ? shape.length + 1 : 0;
    EXPECT_GE(copy.patternBytes(), shape.count * (sizeof(std::string) + own)) << shape.count << " x " << shape.length;
    EXPECT_GE(record.patternBytes(), copy.patternBytes());
  }

  // Records of many two-character patterns: the table keeps no more of
  // them than their memory allows.
  constexpr std::size_t kBound = 4u * 1024u * 1024u;
  constexpr std::size_t kPatterns = 16384;
  VLCrossSiteTable table(10000, kBound);
  VLCrossSiteRecord many = recordFor("p", "s", 100, {});
  for (std::size_t i = 0; i < kPatterns; ++i) many.addDeny("ab");
  for (int i = 0; i < 64; ++i) {
    many.setDomain("s" + std::to_string(i));
    table.store(many);
  }
  EXPECT_GE(table.size(), 1u);
  EXPECT_LE(table.size() * kPatterns * sizeof(std::string), kBound);
  EXPECT_LE(table.patternBytes(), kBound);
}

TEST(CrossSiteTable, AnExpiredRecordIsFoundAsACopyForTheCaller) {
  VLCrossSiteTable table;
  table.store(recordFor("p", "s", -1));
  VLCrossSiteRecord out;
  ASSERT_TRUE(table.find(out, "p", "s"));
  EXPECT_TRUE(out.isExpired());
}

// The check over a table of records.
class CrossSiteCheck : public ::testing::Test {
 protected:
  bool allowed(const std::string& page, const std::string& target, const std::string& line) {
    return crossSiteAllowed(page, target, line,
                            [this](VLCrossSiteRecord& out, const std::string& p, const std::string& s) {
                              ++lookups;
                              if (!table.find(out, p, s) || out.isExpired()) {
                                out.reset();
                                return false;
                              }
                              return true;
                            });
  }
  VLCrossSiteTable table;
  int lookups = 0;
};

TEST_F(CrossSiteCheck, ServicesAndTheOwnSitePassWithoutARecord) {
  EXPECT_TRUE(allowed("pagea.test", "file", "GET /SCANDIR?Name=x HTTP/1.1\r\n"));
  EXPECT_TRUE(allowed("pagea.test:8080", "Event:8080", "GET /getEvent HTTP/1.1\r\n"));
  EXPECT_TRUE(allowed("pagea.test", " PLUGIN ", "GET / HTTP/1.1\r\n"));
  EXPECT_TRUE(allowed(" PageA.test", "pagea.TEST ", "GET /x HTTP/1.1\r\n"));
  EXPECT_EQ(lookups, 0);
  // No path to check: refused, even for the own site.
  EXPECT_FALSE(allowed("pagea.test", "pagea.test", "OPTIONS * HTTP/1.1\r\n"));
  EXPECT_FALSE(allowed("pagea.test", "pagea.test", "GET"));
}

TEST_F(CrossSiteCheck, AnotherSiteNeedsACurrentRecordThatAllowsThePath) {
  const std::string line = "GET /public HTTP/1.1\r\n";
  EXPECT_FALSE(allowed("pagea.test", "siteb.test", line));
  table.store(recordFor("pagea.test", "siteb.test", -1));
  EXPECT_FALSE(allowed("pagea.test", "siteb.test", line));  // expired
  table.store(recordFor("pagea.test", "siteb.test", 86400, {"/private*"}));
  EXPECT_TRUE(allowed("pagea.test", "siteb.test", line));
  EXPECT_FALSE(allowed("pagec.test", "siteb.test", line));  // another page host
  const char* refused[] = {
      "GET /private HTTP/1.1\r\n",
      "GET /PRIVATE/x HTTP/1.1\r\n",
      "GET /private/x?a=1 HTTP/1.1\r\n",
      "GET /%70rivate/x HTTP/1.1\r\n",
      "GET /public/../private/x HTTP/1.1\r\n",
      "GET //private/x HTTP/1.1\r\n",
      "GET /./private HTTP/1.1\r\n",
      "GET /x/%2e%2e/private HTTP/1.1\r\n",
      "HEAD /private/x HTTP/1.0\r\n",
  };
  for (const char* request : refused) EXPECT_FALSE(allowed("pagea.test", "siteb.test", request)) << request;
  EXPECT_TRUE(allowed("pagea.test", "siteb.test", "GET /public?x=/private HTTP/1.1\r\n"));
  // The default port named or not; any other port is a site of its own.
  EXPECT_TRUE(allowed("pagea.test", "siteb.test:80", line));
  EXPECT_FALSE(allowed("pagea.test", "siteb.test:80", "GET /private HTTP/1.1\r\n"));
  EXPECT_FALSE(allowed("pagea.test", "siteb.test:8080", line));
}

TEST_F(CrossSiteCheck, ThisMachinePassesOnlyByADeclarationItServed) {
  const std::string line = "GET /x HTTP/1.1\r\n";
  for (const char* host : {"127.0.0.1:45003", "localhost", "127.1", "2130706433", "0x7f.0.0.1",
                           "0.0.0.0", "a.localhost.", "[::1]:80"}) {
    table.store(recordFor("pagea.test", host, 86400));
    EXPECT_FALSE(allowed("pagea.test", host, line)) << host;
    VLCrossSiteRecord declared = recordFor("pagea.test", host, 86400);
    declared.setFromAnswer(true);
    table.store(declared);
    EXPECT_TRUE(allowed("pagea.test", host, line)) << host;
  }
  EXPECT_FALSE(isLoopbackTarget("siteb.test"));
  EXPECT_FALSE(isLoopbackTarget("128.0.0.1"));
  EXPECT_FALSE(isLoopbackTarget("127.example"));
}

TEST(CrossSitePaths, NormalisedAsAServerReadsThem) {
  struct Case {
    const char* path;
    const char* normalised;
  };
  const Case cases[] = {
      {"/a/b", "/a/b"},        {"/a//b", "/a/b"},      {"/a/./b", "/a/b"},   {"/a/../b", "/b"},
      {"/../../b", "/b"},      {"/%70rivate", "/private"}, {"/a%2fb", "/a/b"}, {"/a\\b", "/a/b"},
      {"/a/", "/a/"},          {"/a/.", "/a/"},        {"/a/b/..", "/a/"},   {"", "/"},
  };
  for (const Case& c : cases) EXPECT_EQ(normalisedPath(c.path), c.normalised) << c.path;
  std::string path;
  ASSERT_TRUE(crossSitePath("GET /a/b?c HTTP/1.1\r\n", path));
  EXPECT_EQ(path, "/a/b");
  ASSERT_TRUE(crossSitePath("GET /a/b HTTP/1.1\r\n", path));
  EXPECT_EQ(path, "/a/b");
  EXPECT_FALSE(crossSitePath("GET nothing", path));
}

}  // namespace
