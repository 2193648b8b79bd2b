// Serving files over real sockets: content types, GET, POST, HEAD and the
// fallback, 1090, the 500 page, text replacement (only for the site's own
// page or the portal's words, escaped values, hostile keys and values that
// never change what a page does, hostile pairs answered in bounded time,
// whole pages, pages in other encodings sent unfilled), Base64 downloads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <ostream>

#include "support/percent_encoded.h"
#include "support/file_service_fixture.h"

namespace {

namespace fs = std::filesystem;
using filetest::errorXml;
using filetest::FileServiceTest;

class FileServing : public FileServiceTest {
 protected:
  // A request of the site's own page, which may have its pages filled.
  testsupport::HttpResponse ownPage(const std::string& target, const std::string& method = "GET") {
    return request(method, target, "site.example", kOwnReferer);
  }
  static constexpr char kOwnReferer[] = "Referer: http://site.example/start.html\r\n";
};

std::string contentType(const testsupport::HttpResponse& response) {
  const std::size_t at = response.head.find("\r\nContent-Type: ");
  if (at == std::string::npos) return "<none>";
  const std::size_t from = at + 16;
  return response.head.substr(from, response.head.find("\r\n", from) - from);
}

constexpr char kErrorPage[] =
    "<HTML><HEAD><TITLE>VARLUME</TITLE></HEAD><BODY><H1>Varlume File Server<H1><P>An error occurred "
    "while accessing the requested file.</P></BODY></HTML>\r\n";

TEST_F(FileServing, FilesAreSentWithTheirContentType) {
  std::string binary(100000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7);
  sandbox::writeFile(home() + "/a/index.html", "<p>hi</p>");
  sandbox::writeFile(home() + "/Photo.JPEG", binary);
  sandbox::writeFile(home() + "/README", "readme");
  sandbox::writeFile(home() + "/name.", "dot");
  sandbox::writeFile(home() + "/a.b/readme", "in a.b");
  sandbox::writeFile(home() + "/data.json", "{}");
  const std::string cases[][3] = {
      {"/GET?Path=/a/index.html", "text/html", "<p>hi</p>"},
      {"/GET?Path=a/index.html", "text/html", "<p>hi</p>"},
      {"/a/index.html", "text/html", "<p>hi</p>"},
      {"/Photo.JPEG", "image/jpeg", binary},
      {"/README", "text/plain", "readme"},
      {"/name.", "text/plain", "dot"},
      {"/a.b/readme", "text/plain", "in a.b"},
      {"/GET?Path=data.json", "application/json", "{}"},
  };
  for (const auto& c : cases) {
    const testsupport::HttpResponse response = get(c[0]);
    EXPECT_EQ(response.head.rfind("HTTP/1.1 200 Success\r\n", 0), 0u) << c[0];
    EXPECT_EQ(contentType(response), c[1]) << c[0];
    EXPECT_EQ(response.body, c[2]) << c[0];
  }
  const testsupport::HttpResponse posted = request("POST", "/GET?Path=Photo.JPEG");
  EXPECT_EQ(posted.body, binary);
  const testsupport::HttpResponse head = request("HEAD", "/GET?Path=Photo.JPEG");
  EXPECT_EQ(head.contentLength, 100000);
  testsupport::LoopbackClient client(port);
  ASSERT_TRUE(client.send("HEAD /Photo.JPEG HTTP/1.1\r\nHost: site.example\r\n\r\nGET /README HTTP/1.1\r\n"
                          "Host: site.example\r\n\r\n"));
  testsupport::HttpResponse first;
  testsupport::HttpResponse second;
  ASSERT_TRUE(client.readResponse(first, true));
  ASSERT_TRUE(client.readResponse(second));
  EXPECT_EQ(second.body, "readme");  // the HEAD reply carried no body
}

TEST_F(FileServing, MissingFilesFoldersAndUnreadableFiles) {
  fs::create_directories(home() + "/folder");
  EXPECT_EQ(xml("/GET?Path=/missing.html"), errorXml("1090", "/missing.html not found or is a directory."));
  EXPECT_EQ(xml("/GET?Path=folder"), errorXml("1090", "folder not found or is a directory."));
  EXPECT_EQ(xml("/no/such%20file"), errorXml("1090", "/no/such%20file not found or is a directory."));
  if (geteuid() == 0) GTEST_SKIP() << "root reads a file of mode 000";
  sandbox::writeFile(home() + "/closed.html", "secret");
  fs::permissions(home() + "/closed.html", fs::perms::none);
  for (const char* target : {"/GET?Path=closed.html", "/closed.html?VLReplaceCount=1&VLReplaceKey1=s&VLReplaceValue1=t",
                             "/GET?Path=closed.html&Encoding=BASE64"}) {
    const testsupport::HttpResponse response = get(target);
    EXPECT_EQ(response.head.rfind("HTTP/1.1 500 Internal Server Error\r\n", 0), 0u) << target;
    EXPECT_EQ(contentType(response), "text/html");
    EXPECT_EQ(response.body, kErrorPage) << target;
    EXPECT_EQ(response.body.size(), 150u);
  }
}

TEST_F(FileServing, TextReplacement) {
  sandbox::writeFile(home() + "/page.html", "Hello NAME, NAME! aabb");
  sandbox::writeFile(home() + "/page.txt", std::string("NAME and\0after NUL", 18));
  sandbox::writeFile(home() + "/pic.png", "NAME in a picture");
  sandbox::writeFile(home() + "/nul.html", std::string("<p>\0NAME</p>\0<p>NAME</p>", 24));
  const std::string cases[][2] = {
      {"/page.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann", "Hello Ann, Ann! aabb"},
      {"/page.html?VLReplaceCount=2&VLReplaceKey1=NAME&VLReplaceValue1=Ann&VLReplaceKey2=ab&VLReplaceValue2=a",
       "Hello Ann, Ann! aa"},
      {"/page.html?VLReplaceCount=1&VLReplaceKey1=&VLReplaceValue1=x", "Hello NAME, NAME! aabb"},
      {"/page.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=<script>'x'\"</script>",
       "Hello &lt;script&gt;&#39;x&#39;&quot;&lt;/script&gt;, &lt;script&gt;&#39;x&#39;&quot;&lt;/script&gt;! aabb"},
      {"/page.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=%26lt;b>", "Hello %26lt;b&gt;, %26lt;b&gt;! aabb"},
      {"/page.txt?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=<b>", std::string("<b> and\0after NUL", 17)},
      {"/nul.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann", std::string("<p>\0Ann</p>\0<p>Ann</p>", 22)},
      {"/pic.png?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann", "NAME in a picture"},
      {"/page.html?VLReplaceCount=2000000000&VLReplaceKey7=NAME&VLReplaceValue7=Bo", "Hello Bo, Bo! aabb"},
  };
  for (const auto& c : cases) {
    const testsupport::HttpResponse response = ownPage(c[0]);
    EXPECT_EQ(response.body, c[1]) << c[0];
    EXPECT_EQ(response.contentLength, static_cast<long>(std::string(c[1]).size())) << c[0];
  }
  const testsupport::HttpResponse head =
      ownPage("/page.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann", "HEAD");
  EXPECT_EQ(head.contentLength, 20);
}

TEST_F(FileServing, HostilePairsAreAnsweredInBoundedTime) {
  sandbox::writeFile(home() + "/big.txt", std::string(1 << 20, 'a'));
  const std::string value(4000, 'a');
  const auto start = std::chrono::steady_clock::now();
  // Every wait is loose: the sanitizer build on a busy machine is many times
  // slower, and what it guards against is a run without end.
  constexpr int kLooseMs = 60000;
  auto loose = [&](const std::string& target) {
    return request("GET", target, "site.example", kOwnReferer, "", kLooseMs);
  };
  // Each "a" would become 4,000 bytes: 4 GB of reply. The bound turns it into the 500 page.
  const testsupport::HttpResponse grown =
      loose("/big.txt?VLReplaceCount=1&VLReplaceKey1=a&VLReplaceValue1=" + value);
  EXPECT_EQ(grown.head.rfind("HTTP/1.1 500 ", 0), 0u);
  // A value holding its key ends.
  const testsupport::HttpResponse looped = loose("/big.txt?VLReplaceCount=1&VLReplaceKey1=aa&VLReplaceValue1=aaa");
  EXPECT_EQ(looped.head.rfind("HTTP/1.1 200 ", 0), 0u);
  EXPECT_GE(looped.body.size(), 1u << 20);
  // Many keys over a large text, each turning the whole text over again.
  sandbox::writeFile(home() + "/large.txt", std::string(8 << 20, 'b'));
  std::string pairs = "VLReplaceCount=100000";
  for (int i = 1; i <= 30; ++i) {
    const char* turn = i % 2 == 1 ? "=b&VLReplaceValue" : "=c&VLReplaceValue";
    pairs += "&VLReplaceKey" + std::to_string(i) + turn + std::to_string(i) + (i % 2 == 1 ? "=c" : "=b");
  }
  // Thirty passes over 8 MB take seconds alone and a minute or more on a
  // machine whose cores are all busy: the bounds only tell an end from none.
  EXPECT_EQ(request("POST", "/large.txt", "site.example", kOwnReferer, pairs, 3 * kLooseMs).head.rfind("HTTP/1.1 500 ", 0),
            0u);
  // A long key that almost occurs at every byte costs one pass, like any key.
  sandbox::writeFile(home() + "/almost.txt", std::string(8 << 20, 'b') + "a");
  const testsupport::HttpResponse almost = request(
      "POST", "/almost.txt", "site.example", kOwnReferer,
      "VLReplaceCount=1&VLReplaceKey1=" + std::string(1 << 20, 'b') + "a&VLReplaceValue1=c", 3 * kLooseMs);
  EXPECT_EQ(almost.head.rfind("HTTP/1.1 200 ", 0), 0u);
  EXPECT_EQ(almost.body, std::string(7 << 20, 'b') + "c");
  // Looking for a key is a pass over the text too, found or not: hundreds
  // of keys that never occur over a large text are refused.
  std::string absent = "VLReplaceCount=200";
  for (int i = 1; i <= 200; ++i) {
    absent += "&VLReplaceKey" + std::to_string(i) + "=z" + std::to_string(i) + "&VLReplaceValue" + std::to_string(i) + "=c";
  }
  EXPECT_EQ(request("POST", "/large.txt", "site.example", kOwnReferer, absent, 3 * kLooseMs).head.rfind("HTTP/1.1 500 ", 0),
            0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(240));
}

// What a page does, as far as a request's values must never change it: its
// tags and attribute names in order, every attribute value that a browser
// obeys (all but data-*, aria-*, title and alt), and the text of every
// script and style element. Text between tags and data values may change.
std::string pageSkeleton(const std::string& page) {
  static const std::regex tag("<(/?[A-Za-z][A-Za-z0-9]*)((?:[^>\"']|\"[^\"]*\"|'[^']*')*)>");
  static const std::regex attribute("([^\\s=/>]+)(?:\\s*=\\s*(\"[^\"]*\"|'[^']*'|[^\\s>]+))?");
  static const std::regex body("<(script|style)[^>]*>([\\s\\S]*?)</\\1", std::regex::icase);
  std::string skeleton = std::to_string(std::count(page.begin(), page.end(), '<')) + " <\n";
  for (std::sregex_iterator t(page.begin(), page.end(), tag), end; t != end; ++t) {
    skeleton += (*t)[1].str();
    const std::string attributes = (*t)[2].str();
    for (std::sregex_iterator a(attributes.begin(), attributes.end(), attribute); a != end; ++a) {
      const std::string name = (*a)[1].str();
      const bool data = name.rfind("data-", 0) == 0 || name.rfind("aria-", 0) == 0 || name == "title" || name == "alt";
      skeleton += " " + name + (data ? std::string() : "=" + (*a)[2].str());
    }
    skeleton += "\n";
  }
  for (std::sregex_iterator b(page.begin(), page.end(), body), end; b != end; ++b) skeleton += (*b)[2].str() + "\n";
  return skeleton;
}

TEST_F(FileServing, OnlyTheSitesOwnPageHasItsPagesFilled) {
  sandbox::writeFile(home() + "/page.html", "Hello NAME");
  struct OwnPageCase {
    const char* name;
    const char* head;
    const char* body;
  };
  const OwnPageCase cases[] = {
      {"neither line", "", "Hello NAME"},
      {"another site's page", "Referer: http://evil.test/frame.html\r\n", "Hello NAME"},
      {"another site's origin", "Origin: http://evil.test\r\n", "Hello NAME"},
      {"a look-alike host", "Referer: http://site.example.evil.test/\r\n", "Hello NAME"},
      {"a look-alike in the user part", "Referer: http://site.example@evil.test/\r\n", "Hello NAME"},
      {"an opaque origin", "Origin: null\r\n", "Hello NAME"},
      {"a relative referer", "Referer: /site.example/\r\n", "Hello NAME"},
      {"the site's own page", kOwnReferer, "Hello Ann"},
      {"the site's own origin", "Origin: http://site.example\r\n", "Hello Ann"},
      {"the default port, any letter case", "Referer: http://SITE.example:80/x\r\n", "Hello Ann"},
      {"the scheme in capitals", "Referer: HTTP://site.example/\r\n", "Hello Ann"},
      {"an https page of the site", "Referer: https://site.example/\r\n", "Hello NAME"},
      {"an https origin of the site", "Origin: https://site.example\r\n", "Hello NAME"},
      {"an ftp page of the site", "Referer: ftp://site.example/\r\n", "Hello NAME"},
  };
  for (const OwnPageCase& c : cases) {
    const testsupport::HttpResponse response =
        request("GET", "/page.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann", "site.example", c.head);
    EXPECT_EQ(response.body, c.body) << c.name;
    EXPECT_EQ(response.contentLength, static_cast<long>(std::string(c.body).size())) << c.name;
  }
  // The privileged host's portal is filled for any page, but only in its
  // own two words.
  sandbox::writeFile(dataRoot() + "/varlume.internal/varlumeportal.html",
                     "<p>VARLUMEREPLACEHOSTNAMESTRING VARLUMEREPLACEQUERYSTRING NAME</p>");
  EXPECT_EQ(get("/varlumeportal.html?VLReplaceCount=3&VLReplaceKey1=VARLUMEREPLACEHOSTNAMESTRING&VLReplaceValue1=a"
                "&VLReplaceKey2=VARLUMEREPLACEQUERYSTRING&VLReplaceValue2=b&VLReplaceKey3=NAME&VLReplaceValue3=c",
                "varlume.internal")
                .body,
            "<p>a b NAME</p>");
}

// Hostile pairs, as another site's page would send them to the portal, or
// a site's own page to its own page: none puts markup or script into the
// page or changes what the page does.
struct HostilePair {
  const char* name;
  std::string key;
  std::string value;
};

const HostilePair kHostilePairs[] = {
    {"KeyTurnsTextIntoMarkup", "textContent", "innerHTML"},
    {"EncodedMarkupInTheQuery", "VARLUMEREPLACEQUERYSTRING", percentEncoded("<img src=x onerror=alert(1)>")},
    {"MarkupInTheQuery", "VARLUMEREPLACEQUERYSTRING", "\"><img src=x onerror=alert(1)><script>alert(2)</script>"},
    {"QuotesEndTheAttribute", "VARLUMEREPLACEHOSTNAMESTRING", "x' onmouseover='alert(1)' \" onfocus=\"alert(2)"},
    {"EncodedEntityForm", "VARLUMEREPLACEHOSTNAMESTRING", percentEncoded("&lt;script&gt;alert(1)&lt;/script&gt;")},
    {"EntityNameAsKey", "quot;", "\" onclick=\"alert(1)"},
    {"AttributeNameAsKey", "data-host", "onclick"},
    {"HandlerValueAsKey", "go(", "alert(1);go("},
    {"TagNameAsKey", "strong", "script"},
    {"ScriptWordAsKey", "getAttribute", "eval"},
    {"ScriptStringAsKey", "\"query\"", "\"x\");alert(1);(\""},
    {"LinkAsKey", "images/sqlite.gif", "javascript:alert(1)"},
    {"StyleAsKey", "sans-serif", "x}</style><script>alert(1)</script>"},
    {"KeyAcrossATag", "</strong>", "<script>alert(1)</script>"},
    {"KeyClosesTheScript", "})();", "</script><script>alert(1)</script>"},
    {"TextBeforeTheKeyOpensATag", "5", "img src=x onerror=alert(1)"},
    {"EncodedKey", "%3Cstrong", "<img"},
};

class HostilePairs : public FileServing, public ::testing::WithParamInterface<HostilePair> {};

TEST_P(HostilePairs, NeverPutMarkupOrScriptIntoThePage) {
  const std::string portal = sandbox::readFile(VARLUME_SOURCE_DIR "/data/varlumeportal.html").value_or("");
  ASSERT_FALSE(portal.empty());
  // A page of a site with the usual places for a value, and a text "<" that
  // a value must not join to a tag.
  const std::string own =
      "<!DOCTYPE html><html><head><title>VARLUMEREPLACEHOSTNAMESTRING</title>"
      "<style>p { font-family: sans-serif; }</style></head><body>"
      "<p class=\"x\" title=\"VARLUMEREPLACEHOSTNAMESTRING\" data-host='VARLUMEREPLACEHOSTNAMESTRING' "
      "onclick=\"go('VARLUMEREPLACEQUERYSTRING')\">3 <5 VARLUMEREPLACEQUERYSTRING &quot;</p>"
      "<strong id=\"query\">VARLUMEREPLACEQUERYSTRING</strong><img src=\"images/sqlite.gif\" alt=\"\">"
      "<a href=\"http://site.example/VARLUMEREPLACEQUERYSTRING\">go</a>"
      "<script>var q = \"query\"; var s = 'VARLUMEREPLACEQUERYSTRING'; q.textContent = s; (function(){})();"
      "</script><!-- VARLUMEREPLACEQUERYSTRING --></body></html>";
  sandbox::writeFile(dataRoot() + "/varlume.internal/varlumeportal.html", portal);
  sandbox::writeFile(home() + "/own.html", own);
  const HostilePair& pair = GetParam();
  // Each hostile pair, after a well-formed pair of the other marked word.
  const std::string pairs = "VLReplaceCount=2&VLReplaceKey1=VARLUMEREPLACEHOSTNAMESTRING&VLReplaceValue1=a.example"
                            "&VLReplaceKey2=" + pair.key + "&VLReplaceValue2=" + pair.value;
  struct Served {
    const char* who;
    std::string host;
    std::string head;
    std::string target;
    std::string original;
  };
  const Served served[] = {
      {"portal, from another site's frame", "varlume.internal", "Referer: http://evil.test/\r\n",
       "/varlumeportal.html", portal},
      {"own page, from the site itself", "site.example", "Referer: http://site.example/\r\n", "/own.html", own},
  };
  for (const Served& s : served) {
    for (const std::string& target : {s.target + "?" + pairs, s.target}) {
      const bool inQuery = target.find('?') != std::string::npos;
      const testsupport::HttpResponse response =
          request(inQuery ? "GET" : "POST", target, s.host, s.head, inQuery ? "" : pairs);
      EXPECT_EQ(response.head.rfind("HTTP/1.1 200 ", 0), 0u) << s.who;
      EXPECT_EQ(pageSkeleton(response.body), pageSkeleton(s.original)) << s.who << "\n" << response.body;
      // The well-formed pair still lands as text.
      EXPECT_NE(response.body.find(">a.example<"), std::string::npos) << s.who << "\n" << response.body;
    }
  }
}

// A failure names the case, not its bytes.
void PrintTo(const HostilePair& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, HostilePairs, ::testing::ValuesIn(kHostilePairs),
                         [](const ::testing::TestParamInfo<HostilePair>& info) { return std::string(info.param.name); });

TEST_F(FileServing, APortalWordInAScriptStringBecomesAnEscapedString) {
  sandbox::writeFile(dataRoot() + "/varlume.internal/week.html",
                     "<script>var host = \"VARLUMEREPLACEHOSTNAMESTRING\", code = VARLUMEREPLACEHOSTNAMESTRING;"
                     "</script><p title='VARLUMEREPLACEHOSTNAMESTRING'>VARLUMEREPLACEHOSTNAMESTRING</p>");
  const testsupport::HttpResponse response =
      request("POST", "/week.html", "varlume.internal", "",
              "VLReplaceCount=1&VLReplaceKey1=VARLUMEREPLACEHOSTNAMESTRING&VLReplaceValue1=\";alert('1')</script>\xC3\xA9");
  EXPECT_EQ(response.body,
            "<script>var host = \"\\x22\\x3Balert\\x28\\x271\\x27\\x29\\x3C\\x2Fscript\\x3E\\u00E9\", "
            "code = VARLUMEREPLACEHOSTNAMESTRING;</script><p title='&quot;;alert(&#39;1&#39;)&lt;/script&gt;\xC3\xA9'>"
            "&quot;;alert(&#39;1&#39;)&lt;/script&gt;\xC3\xA9</p>");
}

// A page in an encoding that does not keep ASCII bytes as themselves
// (a byte-order mark, a declared encoding, an ISO-2022 escape) is sent
// whole and unfilled: its "<" and quotes are not where the filling would
// see them.
TEST_F(FileServing, PagesInOtherEncodingsAreSentWholeAndUnfilled) {
  auto utf16 = [](const std::string& text, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) out += little ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
  };
  struct EncodingCase {
    const char* name;
    const char* file;
    std::string bytes;
  };
  const EncodingCase cases[] = {
      {"UTF-16LE mark", "le.html", utf16("<p>NAME</p>", true)},
      {"UTF-16BE mark", "be.html", utf16("<p>NAME</p>", false)},
      {"UTF-16LE mark, plain text", "le.txt", utf16("NAME", true)},
      {"declared UTF-16", "declared.html", "<meta charset=\"UTF-16\"><p>NAME</p>"},
      {"declared ISO-2022-JP", "jp.html",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-2022-jp\"><p>NAME</p>"},
      {"an ISO-2022 escape", "escape.html", "<p>\x1B$BNAME</p>"},
  };
  for (const EncodingCase& c : cases) {
    sandbox::writeFile(home() + "/" + c.file, c.bytes);
    const testsupport::HttpResponse response =
        ownPage(std::string("/") + c.file + "?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann");
    EXPECT_EQ(response.head.rfind("HTTP/1.1 200 Success\r\n", 0), 0u) << c.name;
    EXPECT_EQ(response.body, c.bytes) << c.name;
    EXPECT_EQ(response.contentLength, static_cast<long>(c.bytes.size())) << c.name;
  }
  // A UTF-8 page, with its mark or without, is filled; a value's escape
  // byte is written as a character reference.
  sandbox::writeFile(home() + "/utf8.html", "\xEF\xBB\xBF<meta charset=utf-8><p>NAME</p>");
  EXPECT_EQ(ownPage("/utf8.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=\x1B$B\xC3\xA9").body,
            "\xEF\xBB\xBF<meta charset=utf-8><p>&#27;$B\xC3\xA9</p>");
  // A value that would begin the page with a byte-order mark is refused.
  sandbox::writeFile(home() + "/start.html", "NAME<p>x</p>");
  EXPECT_EQ(ownPage("/start.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=\xFF\xFE").head.rfind(
                "HTTP/1.1 500 ", 0),
            0u);
}

// A site's template with a comment a browser ends early, before a script
// whose text holds "-->": the script is sent as it is.
TEST_F(FileServing, AScriptAfterACommentIsNeverFilled) {
  const std::string page = "<p>NAME</p><!--><script>var s = \"-->\"; NAME</script><p>NAME</p>";
  sandbox::writeFile(home() + "/template.html", page);
  const testsupport::HttpResponse response =
      ownPage("/template.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=alert(1)");
  EXPECT_EQ(response.body, "<p>alert(1)</p><!--><script>var s = \"-->\"; NAME</script><p>NAME</p>");
}

TEST_F(FileServing, Base64Downloads) {
  sandbox::writeFile(home() + "/abc.bin", "abc");
  sandbox::writeFile(home() + "/long.bin", std::string(58, 'x'));
  sandbox::writeFile(home() + "/empty.bin", "");
  const testsupport::HttpResponse abc = get("/GET?Path=abc.bin&Encoding=base64");
  EXPECT_EQ(contentType(abc), "text/plain");
  EXPECT_EQ(abc.body, "YWJj\r\n");
  const std::string line(76, 'e');
  EXPECT_EQ(get("/GET?Path=long.bin&Encoding=BASE64").body.substr(78), "eA==\r\n");
  EXPECT_EQ(get("/long.bin?Encoding=BASE64").body.size(), 84u);
  const testsupport::HttpResponse empty = get("/GET?Path=empty.bin&Encoding=BASE64");
  EXPECT_EQ(empty.contentLength, 0);
  EXPECT_EQ(xml("/GET?Path=none.bin&Encoding=BASE64"), errorXml("1090", "none.bin not found or is a directory."));
  expectNoTempFilesLeft();
}

}  // namespace
