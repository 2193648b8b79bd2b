// Serving files over real sockets: content types, GET, POST, HEAD and the
// fallback, 1090, the 500 page, text replacement (escaped values, hostile
// pairs answered in bounded time), Base64 downloads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/file_service_fixture.h"

namespace {

namespace fs = std::filesystem;
using filetest::errorXml;
using filetest::FileServiceTest;

class FileServing : public FileServiceTest {};

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
  const std::string cases[][2] = {
      {"/page.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann", "Hello Ann, Ann! aabb"},
      {"/page.html?VLReplaceCount=2&VLReplaceKey1=NAME&VLReplaceValue1=Ann&VLReplaceKey2=ab&VLReplaceValue2=a",
       "Hello Ann, Ann! aa"},
      {"/page.html?VLReplaceCount=1&VLReplaceKey1=&VLReplaceValue1=x", "Hello NAME, NAME! aabb"},
      {"/page.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=<script>'x'\"</script>",
       "Hello &lt;script&gt;&#39;x&#39;&quot;&lt;/script&gt;, &lt;script&gt;&#39;x&#39;&quot;&lt;/script&gt;! aabb"},
      {"/page.txt?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=<b>", "<b> and"},
      {"/pic.png?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann", "NAME in a picture"},
      {"/page.html?VLReplaceCount=2000000000&VLReplaceKey7=NAME&VLReplaceValue7=Bo", "Hello Bo, Bo! aabb"},
  };
  for (const auto& c : cases) {
    const testsupport::HttpResponse response = get(c[0]);
    EXPECT_EQ(response.body, c[1]) << c[0];
    EXPECT_EQ(response.contentLength, static_cast<long>(std::string(c[1]).size())) << c[0];
  }
  const testsupport::HttpResponse head =
      request("HEAD", "/page.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=Ann");
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
    return request("GET", target, "site.example", "", "", kLooseMs);
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
  EXPECT_EQ(request("POST", "/large.txt", "site.example", "", pairs, 100000).head.rfind("HTTP/1.1 500 ", 0), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
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
  EXPECT_TRUE(sandbox::waitUntil([&] { return leftTempFiles().empty(); }, 5000));
}

}  // namespace
