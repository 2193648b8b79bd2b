// Which Referer and Origin values name the page host's own page: only an
// http: page of that host (the scheme and host in any letter case, the
// default port or none), never another scheme, another host or a look-alike.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "foundation/own_page.h"

namespace {

struct OwnPageCase {
  const char* name;
  const char* value;
  bool own;
};

class OwnPageValue : public ::testing::TestWithParam<OwnPageCase> {};

TEST_P(OwnPageValue, NamesTheSitesOwnPageOnlyOverHttp) {
  EXPECT_EQ(namesOwnPageHost({GetParam().value}, "site.example"), GetParam().own);
}

void PrintTo(const OwnPageCase& c, std::ostream* os) { *os << c.name; }

const OwnPageCase kOwnPageCases[] = {
    {"HttpReferer", "http://site.example/start.html", true},
    {"HttpOrigin", "http://site.example", true},
    {"SchemeInCapitals", "HTTP://site.example/", true},
    {"HostInCapitalsWithTheDefaultPort", "Http://SITE.example:80/x", true},
    {"UserPartBeforeTheHost", "http://evil.test@site.example/", true},
    {"HttpsReferer", "https://site.example/", false},
    {"HttpsOriginWithItsDefaultPort", "https://site.example:443", false},
    {"HttpsInCapitals", "HTTPS://site.example/", false},
    {"FtpReferer", "ftp://site.example/", false},
    {"FileReferer", "file://site.example/x", false},
    {"WebSocketOrigin", "ws://site.example", false},
    {"SchemeThatBeginsWithHttp", "httpx://site.example/", false},
    {"NoScheme", "://site.example/", false},
    {"AnotherPort", "http://site.example:8080/", false},
    {"AnotherHost", "http://evil.test/", false},
    {"LookAlikeHost", "http://site.example.evil.test/", false},
    {"LookAlikeInTheUserPart", "http://site.example@evil.test/", false},
    {"OpaqueOrigin", "null", false},
    {"RelativeReferer", "/site.example/", false},
};

INSTANTIATE_TEST_SUITE_P(Cases, OwnPageValue, ::testing::ValuesIn(kOwnPageCases),
                         [](const ::testing::TestParamInfo<OwnPageCase>& info) { return std::string(info.param.name); });

TEST(OwnPageValues, AnHttpsLineBesideAnHttpLineOfAnotherSiteLetsNothingThrough) {
  EXPECT_FALSE(namesOwnPageHost({"https://site.example/", "http://evil.test/"}, "site.example"));
  EXPECT_TRUE(namesOwnPageHost({"https://evil.test/", "http://site.example/"}, "site.example"));
  EXPECT_EQ(refererHost("https://site.example/"), "");
  EXPECT_EQ(refererHost(" HTTP://Site.Example:80/a?b"), "site.example");
}

}  // namespace
