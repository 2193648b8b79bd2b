// Named parameters and the calling site's folders: which Host and home values
// may become folders under the data root, and which home is chosen.
#include <gtest/gtest.h>

#include "test_service.h"

namespace sftest {
namespace {

class ParameterHandler : public VLGenericHandler {
 public:
  void setParameters(const std::string& text) { parameters = text; }
};

TEST(SiteFolders, GetParameterFindsTheFirstNameAnywhereAndKeepsTheValueRaw) {
  const struct {
    const char* parameters;
    const char* name;
    const char* value;
  } cases[] = {
      {"NewName=b&Name=a", "Name", "b"},  // inside a longer key
      {"NewName=b&Name=a", " Name ", "b"},
      {"Name=a%20&x=1", "Name", "a%20"},
      {"Path=C:\\x & y=2", "Path", "C:\\x "},
      {"a=1", "Name", ""},
      {"Name=", "Name", ""},
  };
  ParameterHandler handler;
  for (const auto& c : cases) {
    handler.setParameters(c.parameters);
    EXPECT_EQ(handler.getParameter(c.name), c.value) << c.parameters << " / " << c.name;
  }
  EXPECT_EQ(handler.privilegedDataDirectory(), sandboxDataRoot() + "varlume.internal\\");
}

struct FolderCase {
  std::string hostLine;  // the whole Host line, or empty for none
  std::string query;
  std::string subHome;
  std::string commonHome;
  std::string folder;  // below the data root; empty: refused
};

TEST(SiteFolders, RefusesValuesThatAreNoPlainFolderNames) {
  const std::string segment255(255, 's');
  const FolderCase cases[] = {
      {"Host: site.example", "", "", "", "site.example\\"},
      {"Host: Site.Example:8080", "", "", "", "site.example:8080\\"},
      {"Host: site.example/docs", "", "", "", "site.example\\docs\\"},
      {"Host: b\xc3\xbc" "cher.example", "", "", "", "b\xc3\xbc" "cher.example\\"},
      {"Host: " + segment255, "", "", "", segment255 + "\\"},
      {"Host: " + segment255 + "s", "", "", "", ""},
      {"Host:", "", "", "", ""},
      {"", "", "", "", ""},
      {"Host: .", "", "", "", ""},
      {"Host: site.example/a/../../../", "", "", "", ""},
      {"Host: site.example/", "", "", "", ""},
      {"Host: a//b", "", "", "", ""},
      {"Host: a%2F..%2F..", "", "", "", ""},
      {"Host: %2e%2e", "", "", "", ""},
      {"Host: a%252e%252e", "", "", "", ""},
      {"Host: a\\b", "", "", "", ""},
      {"Host: a%00b", "", "", "", ""},
      {"Host: a\x01" "b", "", "", "", ""},
      {"Host: a%0D%0AHost: x", "", "", "", ""},
      {"Host: c:", "", "", "", ""},
      {"Host: c:x", "", "", "", ""},
      // A broken escape swallows the "/" or "\" and a dot behind it when decoded;
      // as sent, it names the data root or another site's folder.
      {"Host: a%/..", "", "", "", ""},
      {"Host: a%/../other.example", "", "", "", ""},
      {"Host: a%z\\..", "", "", "", ""},
      {"Host: a%2Fb", "", "", "", "a%2fb\\"},
      // Home folders: the sub-home unless Common asks for the common one.
      {"Host: s.example", "", "sub", "com", "s.example\\sub\\"},
      {"Host: s.example", "Common=yes", "sub", "com", "s.example\\com\\"},
      {"Host: s.example", "Common=True", "sub", "com", "s.example\\com\\"},
      {"Host: s.example", "Common=1", "sub", "com", "s.example\\com\\"},
      {"Host: s.example", "Common=on", "sub", "com", "s.example\\sub\\"},
      {"Host: s.example", "Common=0", "sub", "com", "s.example\\sub\\"},
      {"Host: s.example", "Common=yes", "sub", "", "s.example\\sub\\"},
      {"Host: s.example", "Common=yes", "", "", "s.example\\"},
      {"Host: s.example", "", "a/b", "", "s.example\\a\\b\\"},
      {"Host: s.example", "", "../..", "", ""},
      {"Host: s.example", "Common=yes", "", "..", ""},
      {"Host: s.example", "", "x%2F..%2F..", "", ""},
      {"Host: s.example", "", "x%/..", "", ""},
  };
  auto running = startServer<EchoHandler>(1000);
  LoopbackClient client(running.port);
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.hostLine + " ? " + c.query + " sub=" + c.subHome + " common=" + c.commonHome);
    std::string request = "GET /MKDIR" + (c.query.empty() ? "" : "?" + c.query) + " HTTP/1.1\r\n";
    if (!c.hostLine.empty()) request += c.hostLine + "\r\n";
    if (!c.subHome.empty()) request += "VARLUMESUBDOMAINHOME: " + c.subHome + "\r\n";
    if (!c.commonHome.empty()) request += "VARLUMESUBDOMAINCOMMONHOME: " + c.commonHome + "\r\n";
    ASSERT_TRUE(client.send(request + "\r\n"));
    HttpResponse response;
    ASSERT_TRUE(client.readResponse(response));
    EchoReport report;
    ASSERT_TRUE(parseEcho(response.body, report));
    EXPECT_EQ(report["refused"], c.folder.empty() ? "1" : "0");
    EXPECT_EQ(report["home"], c.folder.empty() ? "" : sandboxDataRoot() + c.folder);
  }
}

}  // namespace
}  // namespace sftest
