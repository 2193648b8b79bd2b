// The portal redirect, /REDIRECT and /SETPROXY over real sockets: the exact
// Location and head order without keep-alive lines, the page quoting the
// location, control bytes and quotes percent-encoded; the configuration
// rewritten whole or not at all, never created, never from another site;
// nothing of the privileged host changed by a navigation (only by its pages'
// script), and its pages framed only by its own.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/file_service_fixture.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;
using filetest::errorXml;
using filetest::FileServiceTest;
using filetest::successXml;

class FilePortal : public FileServiceTest {
 protected:
  void expectRedirect(const testsupport::HttpResponse& response, const std::string& location,
                      const std::string& bodyLocation) {
    const std::string body =
        "<HTML><HEAD><TITLE>Varlume Portal - Object moved</TITLE></HEAD><BODY><P>The object you requested was "
        "not found. Click <a href='" +
        bodyLocation + "'> here.</a></P></BODY></HTML>";
    EXPECT_EQ(body.size(), 157 + bodyLocation.size());
    const std::regex head(
        "HTTP/1\\.1 302 Object moved\r\nDate: [A-Z][a-z][a-z], \\d\\d [A-Z][a-z][a-z] \\d{4} "
        "\\d\\d:\\d\\d:\\d\\d GMT\r\nLocation: (.*)\r\nServer: Varlume Release 1\\.00\\.00 Linux\\.\r\n"
        "Content-Type: text/html\r\nCache-control: private\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(response.head, match, head)) << response.head;
    EXPECT_EQ(match[1].str(), location);
    EXPECT_EQ(response.body, body);
  }
  const std::string kConfig =
      "varlume=8080&proxyport=0&proxyhost=&varlumeservices=45000&varlumeinternal=50000&range=500\r\n";
};

std::string portalLocation(const std::string& page, const std::string& host, const std::string& query) {
  return "http://varlume.internal/varlume/file/" + page +
         "?VLReplaceCount=2&VLReplaceKey1=VARLUMEREPLACEHOSTNAMESTRING&VLReplaceValue1=" + host +
         "&VLReplaceKey2=VARLUMEREPLACEQUERYSTRING&VLReplaceValue2=" + query;
}

TEST_F(FilePortal, ThePortalRedirectNamesTheWeeksPageWhenThereIsOne) {
  const std::string plain = portalLocation("varlumeportal.html", "down.example", "http%3A%2F%2Fdown.example%2F");
  const testsupport::HttpResponse first = get("/GETPORTAL?Host=down.example&Query=http%3A%2F%2Fdown.example%2F");
  expectRedirect(first, plain, plain);

  const std::string weekly = "varlumeportal" + std::to_string(std::time(nullptr) / 604800) + ".html";
  sandbox::writeFile(dataRoot() + "/varlume.internal/" + weekly, "this week");
  const std::string located = portalLocation(weekly, "a", "b");
  expectRedirect(request("POST", "/GETPORTAL", "site.example", "", "Host=a&Query=b"), located, located);

  // A HEAD (the proxy's follow-up of a browser's HEAD) gets the same head
  // with the body's length, and no body.
  const testsupport::HttpResponse head = request("HEAD", "/GETPORTAL?Host=a&Query=b");
  EXPECT_EQ(head.head.rfind("HTTP/1.1 302 Object moved\r\n", 0), 0u) << head.head;
  EXPECT_NE(head.head.find("\r\nLocation: " + located + "\r\n"), std::string::npos) << head.head;
  EXPECT_EQ(head.contentLength, static_cast<long>(157 + located.size()));
  EXPECT_TRUE(head.body.empty());
}

TEST_F(FilePortal, RedirectsDecodeTheirPathAndKeepControlBytesOutOfTheHead) {
  struct RedirectCase {
    std::string path;
    std::string location;
    std::string bodyLocation;
  };
  const RedirectCase cases[] = {
      {"http://Example.org/a", "http://Example.org/a", "http://Example.org/a"},
      {"HTTP://example.org/", "HTTP://example.org/", "HTTP://example.org/"},
      {"https://example.org/", "http://https://example.org/", "http://https://example.org/"},
      {"%20%20short%09", "http://  short%09", "http://  short%09"},  // decoded after the trim
      {"e.org/a", "e.org/a", "e.org/a"},                               // seven characters stay
      {"\tsite.org\t", "http://site.org", "http://site.org"},
      {"example.org/a%20b", "http://example.org/a b", "http://example.org/a b"},
      {"x%0D%0ASet-Cookie:%20a=b", "http://x%0D%0ASet-Cookie: a=b", "http://x%0D%0ASet-Cookie: a=b"},
      {"e.org/'%3E%3Cscript%3E%22", "http://e.org/'><script>\"", "http://e.org/%27%3E%3Cscript%3E%22"},
      {"e.org/%7F%01", "http://e.org/%7F%01", "http://e.org/%7F%01"},
  };
  for (const RedirectCase& c : cases) {
    SCOPED_TRACE(c.path);
    expectRedirect(get("/REDIRECT?Path=" + c.path), c.location, c.bodyLocation);
  }
  // CR LF sent raw in a POST body reaches neither head.
  const testsupport::HttpResponse portal =
      request("POST", "/GETPORTAL", "site.example", "", "Host=a\r\nSet-Cookie: x=y&Query=q");
  EXPECT_EQ(portal.head.find("\r\nSet-Cookie"), std::string::npos) << portal.head;
  EXPECT_NE(portal.head.find("VLReplaceValue1=a%0D%0ASet-Cookie: x=y&"), std::string::npos) << portal.head;
}

TEST_F(FilePortal, ThePortalPageIsServedWithItsValuesReplaced) {
  sandbox::writeFile(dataRoot() + "/varlume.internal/varlumeportal.html",
                     "<b>VARLUMEREPLACEHOSTNAMESTRING</b> <i>VARLUMEREPLACEQUERYSTRING</i>");
  EXPECT_EQ(get("/varlumeportal.html?VLReplaceCount=2&VLReplaceKey1=VARLUMEREPLACEHOSTNAMESTRING&VLReplaceValue1="
                "down.example&VLReplaceKey2=VARLUMEREPLACEQUERYSTRING&VLReplaceValue2=%3Cx%3E<y>",
                "varlume.internal")
                .body,
            "<b>down.example</b> <i>%3Cx%3E&lt;y&gt;</i>");
}

TEST_F(FilePortal, SetProxyRewritesOnlyTheTwoValues) {
  ASSERT_TRUE(sandbox::writeFile(configFile(), kConfig));
  EXPECT_EQ(privilegedXml("/SETPROXY?Host=proxy1&Port=3128"), successXml());
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""),
            "varlume=8080&proxyport=3128&proxyhost=proxy1&varlumeservices=45000&varlumeinternal=50000&range=500\r\n");
  EXPECT_EQ(sandbox::folderNames(fs::path(configFile()).parent_path().string()),
            (std::vector<std::string>{"Temp", "varlume.config"}));

  // The last pair carries the final line end, which stays.
  ASSERT_TRUE(sandbox::writeFile(configFile(), "varlume=8080&proxyport=0&proxyhost=old\r\n"));
  EXPECT_EQ(privilegedXml("/SETPROXY?Host=new&Port=8081"), successXml());
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), "varlume=8080&proxyport=8081&proxyhost=new\r\n");

  ASSERT_TRUE(sandbox::writeFile(configFile(), "varlume=8080&varlumeservices=45000"));
  EXPECT_EQ(privilegedXml("/SETPROXY?Host=h&Port=1"), successXml());
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), "varlume=8080&varlumeservices=45000");
}

TEST_F(FilePortal, RefusedSettingsLeaveTheFileAsItWas) {
  const std::string priv = "varlume.internal";
  const std::string script = servicetest::kScriptLine;
  ASSERT_TRUE(sandbox::writeFile(configFile(), kConfig));
  const std::string refused =
      errorXml("1080", "Proxy settings not saved. Host or Port holds a character the configuration cannot hold.");
  EXPECT_EQ(privilegedXml("/SETPROXY?Host=a=b&Port=1"), refused);
  EXPECT_EQ(request("POST", "/SETPROXY", priv, script, "Host=a\r\nb&Port=1").body, refused);
  EXPECT_EQ(request("POST", "/SETPROXY", priv, script, "Host=a&Port=1\n").body, refused);
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), kConfig);

  // A page of another site cannot set them, by Origin or by Referer, not
  // even with the script's line; the privileged page's script can.
  const std::string other = errorXml("1090", "/SETPROXY not found or is a directory.");
  for (const char* page : {"Origin: http://evil.example\r\n", "Origin: null\r\n", "Referer: http://evil.example/page\r\n",
                           "Referer: http://varlume.internal.evil.example/\r\n",
                           "Referer: http://varlume.internal:8080/page\r\n", "Origin: http://varlume.internal:8080\r\n"}) {
    EXPECT_EQ(request("GET", "/SETPROXY?Host=evil&Port=1", priv, script + page).body, other) << page;
  }
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), kConfig);
  EXPECT_EQ(request("GET", "/SETPROXY?Host=good&Port=2", priv,
                    script + "Origin: http://varlume.internal\r\nReferer: http://varlume.internal/varlume/file/p.html\r\n")
                .body,
            successXml());
  EXPECT_NE(sandbox::readFile(configFile()).value_or("").find("proxyhost=good"), std::string::npos);

  // A missing file is not made.
  fs::remove(configFile());
  EXPECT_EQ(privilegedXml("/SETPROXY?Host=h&Port=1"),
            errorXml("1080", "Proxy settings not saved. " + shown(configFile()) + " does not exist."));
  EXPECT_FALSE(fs::exists(configFile()));
  // Nor is one holding a NUL rewritten.
  ASSERT_TRUE(sandbox::writeFile(configFile(), std::string("proxyport=0&proxyhost=\0x", 24)));
  EXPECT_EQ(privilegedXml("/SETPROXY?Host=h&Port=1"),
            errorXml("1080", "Proxy settings not saved. " + shown(configFile()) + " is too long or holds a NUL byte."));
  EXPECT_EQ(sandbox::readFile(configFile()).value_or("").size(), 24u);
}

TEST_F(FilePortal, ThePrivilegedHostChangesNothingWithoutItsScriptsLine) {
  // What a click on a link of the portal sends, framed or not: a navigation
  // of the privileged host itself, with its Referer and no line of its own.
  const std::string priv = "varlume.internal";
  const std::string own = "Referer: http://varlume.internal/varlume/file/varlumeportal.html\r\n";
  ASSERT_TRUE(sandbox::writeFile(configFile(), kConfig));
  ASSERT_TRUE(sandbox::writeFile(dataRoot() + "/varlume.internal/varlumeportal.html", "the portal"));
  ASSERT_TRUE(sandbox::writeFile(dataRoot() + "/varlume.internal/images/logo.png", "logo"));
  ASSERT_TRUE(sandbox::writeFile(cache() + "/site.example/page.html", "kept"));
  const sandbox::VLTreeSnapshot before = sandbox::snapshotTree(dataRoot());
  const char* const commands[] = {
      "/SETPROXY?Host=127.0.0.77&Port=3128",
      "/STRINGFILE?Path=/&Name=varlumeportal.html&Data=%3Cscript%3E",
      "/SAVEFILE?Path=images",
      "/RENAME?Name=varlumeportal.html&NewName=gone.html",
      "/REMOVEFILE?Name=varlumeportal.html",
      "/REMOVEDIRECTORY?Name=images",
      "/MKDIR?Name=made",
      "/REMOVECACHEFILE?Name=site.example/page.html",
      "/REMOVECACHEDIRECTORY?Name=site.example",
      "/SCANCACHEDIR?Name=",
  };
  for (const char* command : commands) {
    const std::string target = command;
    const std::string path = target.substr(0, target.find('?'));
    for (const std::string& head : {std::string(), own, own + "Origin: http://varlume.internal\r\n"}) {
      SCOPED_TRACE(target + " " + head);
      EXPECT_EQ(request("GET", target, priv, head).body, errorXml("1090", path + " not found or is a directory."));
      EXPECT_EQ(request("POST", path, priv, head, target.substr(path.size() + (path.size() < target.size()))).body,
                errorXml("1090", path + " not found or is a directory."));
    }
  }
  EXPECT_EQ(sandbox::treeDifferences(before, sandbox::snapshotTree(dataRoot())), "");
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), kConfig);
  // The same commands of any other site need no such line.
  EXPECT_EQ(xml("/MKDIR?Name=made"), successXml());
}

TEST_F(FilePortal, PagesOfThePrivilegedHostAreFramedOnlyByItsOwn) {
  ASSERT_TRUE(sandbox::writeFile(dataRoot() + "/varlume.internal/varlumeportal.html", "the portal"));
  ASSERT_TRUE(sandbox::writeFile(home() + "/page.html", "a page"));
  const std::string frameLines =
      "\r\nX-Frame-Options: SAMEORIGIN\r\nContent-Security-Policy: frame-ancestors 'self'\r\n";
  for (const char* target : {"/varlumeportal.html", "/GET?Path=varlumeportal.html", "/missing.html", "/GETVERSION"}) {
    EXPECT_NE(get(target, "varlume.internal").head.find(frameLines), std::string::npos) << target;
  }
  const testsupport::HttpResponse page = get("/page.html");
  EXPECT_EQ(page.body, "a page");
  EXPECT_EQ(page.head.find("X-Frame-Options"), std::string::npos) << page.head;
  EXPECT_EQ(page.head.find("frame-ancestors"), std::string::npos) << page.head;
}

TEST_F(FilePortal, ConcurrentSettingsLeaveOneWholeText) {
  ASSERT_TRUE(sandbox::writeFile(configFile(), kConfig));
  std::vector<std::thread> callers;
  for (int i = 0; i < 20; ++i) {
    callers.emplace_back([this, i] {
      const std::string value = "host" + std::to_string(i);
      EXPECT_EQ(privilegedXml("/SETPROXY?Host=" + value + "&Port=" + std::to_string(1000 + i)), successXml());
    });
  }
  for (std::thread& caller : callers) caller.join();
  const std::string text = sandbox::readFile(configFile()).value_or("");
  const std::regex whole(
      "varlume=8080&proxyport=10(\\d\\d)&proxyhost=host(\\d+)&varlumeservices=45000&varlumeinternal=50000&"
      "range=500\r\n");
  EXPECT_TRUE(std::regex_match(text, whole)) << text;
  EXPECT_EQ(sandbox::folderNames(fs::path(configFile()).parent_path().string()),
            (std::vector<std::string>{"Temp", "varlume.config"}));
}

}  // namespace
