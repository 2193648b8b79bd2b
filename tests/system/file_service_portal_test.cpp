// The portal redirect, /REDIRECT and /SETPROXY over real sockets: the exact
// Location and head order without keep-alive lines, the page quoting the
// location, control bytes and quotes percent-encoded; the configuration
// rewritten whole or not at all, never created, never from another site.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/file_service_fixture.h"

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
  const std::string priv = "varlume.internal";
  ASSERT_TRUE(sandbox::writeFile(configFile(), kConfig));
  EXPECT_EQ(xml("/SETPROXY?Host=proxy1&Port=3128", priv), successXml());
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""),
            "varlume=8080&proxyport=3128&proxyhost=proxy1&varlumeservices=45000&varlumeinternal=50000&range=500\r\n");
  EXPECT_EQ(sandbox::folderNames(fs::path(configFile()).parent_path().string()),
            (std::vector<std::string>{"Temp", "varlume.config"}));

  // The last pair carries the final line end, which stays.
  ASSERT_TRUE(sandbox::writeFile(configFile(), "varlume=8080&proxyport=0&proxyhost=old\r\n"));
  EXPECT_EQ(xml("/SETPROXY?Host=new&Port=8081", priv), successXml());
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), "varlume=8080&proxyport=8081&proxyhost=new\r\n");

  ASSERT_TRUE(sandbox::writeFile(configFile(), "varlume=8080&varlumeservices=45000"));
  EXPECT_EQ(xml("/SETPROXY?Host=h&Port=1", priv), successXml());
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), "varlume=8080&varlumeservices=45000");
}

TEST_F(FilePortal, RefusedSettingsLeaveTheFileAsItWas) {
  const std::string priv = "varlume.internal";
  ASSERT_TRUE(sandbox::writeFile(configFile(), kConfig));
  const std::string refused =
      errorXml("1080", "Proxy settings not saved. Host or Port holds a character the configuration cannot hold.");
  EXPECT_EQ(xml("/SETPROXY?Host=a=b&Port=1", priv), refused);
  EXPECT_EQ(request("POST", "/SETPROXY", priv, "", "Host=a\r\nb&Port=1").body, refused);
  EXPECT_EQ(request("POST", "/SETPROXY", priv, "", "Host=a&Port=1\n").body, refused);
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), kConfig);

  // A page of another site cannot set them, by Origin or by Referer; the privileged page can.
  const std::string other = errorXml("1090", "/SETPROXY not found or is a directory.");
  EXPECT_EQ(request("GET", "/SETPROXY?Host=evil&Port=1", priv, "Origin: http://evil.example\r\n").body, other);
  EXPECT_EQ(request("GET", "/SETPROXY?Host=evil&Port=1", priv, "Origin: null\r\n").body, other);
  EXPECT_EQ(request("GET", "/SETPROXY?Host=evil&Port=1", priv, "Referer: http://evil.example/page\r\n").body, other);
  for (const char* page : {"Referer: http://varlume.internal.evil.example/\r\n",
                           "Referer: http://varlume.internal:8080/page\r\n", "Origin: http://varlume.internal:8080\r\n"}) {
    EXPECT_EQ(request("GET", "/SETPROXY?Host=evil&Port=1", priv, page).body, other) << page;
  }
  EXPECT_EQ(sandbox::readFile(configFile()).value_or(""), kConfig);
  EXPECT_EQ(request("GET", "/SETPROXY?Host=good&Port=2", priv,
                    "Origin: http://varlume.internal\r\nReferer: http://varlume.internal/varlume/file/p.html\r\n")
                .body,
            successXml());
  EXPECT_NE(sandbox::readFile(configFile()).value_or("").find("proxyhost=good"), std::string::npos);

  // A missing file is not made.
  fs::remove(configFile());
  EXPECT_EQ(xml("/SETPROXY?Host=h&Port=1", priv),
            errorXml("1080", "Proxy settings not saved. " + shown(configFile()) + " does not exist."));
  EXPECT_FALSE(fs::exists(configFile()));
  // Nor is one holding a NUL rewritten.
  ASSERT_TRUE(sandbox::writeFile(configFile(), std::string("proxyport=0&proxyhost=\0x", 24)));
  EXPECT_EQ(xml("/SETPROXY?Host=h&Port=1", priv),
            errorXml("1080", "Proxy settings not saved. " + shown(configFile()) + " is too long or holds a NUL byte."));
  EXPECT_EQ(sandbox::readFile(configFile()).value_or("").size(), 24u);
}

TEST_F(FilePortal, ConcurrentSettingsLeaveOneWholeText) {
  ASSERT_TRUE(sandbox::writeFile(configFile(), kConfig));
  std::vector<std::thread> callers;
  for (int i = 0; i < 20; ++i) {
    callers.emplace_back([this, i] {
      const std::string value = "host" + std::to_string(i);
      EXPECT_EQ(xml("/SETPROXY?Host=" + value + "&Port=" + std::to_string(1000 + i), "varlume.internal"),
                successXml());
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
