// Multipart bodies over a real loopback connection: file parts land byte for
// byte in the framework's own temporary files, whatever the client names
// them, and everything is removed when the request ends.
#include <gtest/gtest.h>

#include <random>

#include "platform/files.h"
#include "test_service.h"

namespace sftest {
namespace {

// A browser-style boundary: its leading hyphens overlap the delimiter's own.
const std::string kBoundary = "----VLFormBoundary7MA4YWxk";

// Bytes full of the body's own syntax: CR LF, hyphens, NULs and pieces of
// the boundary, but never the whole boundary.
std::string trickyBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes;
  while (bytes.size() < size) {
    switch (random() % 8) {
      case 0: bytes += "\r\n--"; break;
      case 1: bytes += kBoundary.substr(0, random() % kBoundary.size()); break;
      case 2: bytes += '\0'; break;
      default: bytes += static_cast<char>(random() % 256);
    }
  }
  bytes.resize(size);
  for (std::size_t at; (at = bytes.find(kBoundary)) != std::string::npos;) bytes[at] = 'X';
  return bytes;
}

std::string fileHeaders(const std::string& field, const std::string& fileName) {
  return "Content-Disposition: form-data; name=\"" + field + "\"; filename=\"" + fileName +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

std::string multipartRequest(const std::string& body) {
  return "POST /upload HTTP/1.1\r\nHost: site.example\r\nContent-Type: multipart/form-data; boundary=" +
         kBoundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool sendAndEcho(LoopbackClient& client, const std::string& request, EchoReport& report) {
  HttpResponse response;
  return client.send(request) && client.readResponse(response, false, 20000) &&
         parseEcho(response.body, report);
}

// The temporary file is the framework's: in the temporary folder, named by the handler's slot.
void expectFrameworkTemp(const std::string& temp, const std::string& slot) {
  EXPECT_EQ(temp.rfind(sandboxTempFolder() + slot + "_", 0), 0u) << temp;
  EXPECT_EQ(temp.substr(temp.size() - 4), ".vlm") << temp;
}

TEST(Multipart, StoresTwoFilesAndALongFieldAcrossTheReadWindows) {
  constexpr std::int64_t kWindow = 65536;
  // The next boundary is searched from just behind the current one, in windows
  // from there; these sizes put it across the first and the second window edge.
  const std::string headersA = fileHeaders("first", "a.bin");
  const std::string headersB = fileHeaders("second", "b.bin");
  auto sizeToStraddle = [&](std::int64_t edge, const std::string& headers) {
    return static_cast<std::size_t>(edge - static_cast<std::int64_t>(kBoundary.size() / 2) - 2 -
                                     static_cast<std::int64_t>(headers.size()) - 4);
  };
  const std::string fileA = trickyBytes(sizeToStraddle(kWindow, headersA), 1);
  const std::string fileB = trickyBytes(sizeToStraddle(2 * kWindow, headersB), 2);
  std::string note;
  while (note.size() < 70000) note += "value-" + std::to_string(note.size()) + "+";

  const std::string body = "preamble\r\n--" + kBoundary + "\r\n" + headersA + fileA + "\r\n--" + kBoundary +
                           "\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\n" + note + "\r\n--" +
                           kBoundary + "\r\n" + headersB + fileB + "\r\n--" + kBoundary + "--\r\n";
  // The layout really straddles: each boundary starts before a window edge and ends after it.
  std::size_t afterA = body.find("\r\n--" + kBoundary, 10) + 4;
  std::size_t searchA = body.find(kBoundary) + kBoundary.size();
  EXPECT_LT(afterA - searchA, static_cast<std::size_t>(kWindow));
  EXPECT_GT(afterA - searchA + kBoundary.size(), static_cast<std::size_t>(kWindow));

  auto running = startServer<EchoHandler>(5000);
  LoopbackClient client(running.port);
  EchoReport report;
  ASSERT_TRUE(sendAndEcho(client, multipartRequest(body), report));
  EXPECT_EQ(report["params"], "note=" + note);
  ASSERT_EQ(report.uploads.size(), 2u);
  EXPECT_EQ(report.uploads[0].field, "first");
  EXPECT_EQ(report.uploads[0].client, "a.bin");
  EXPECT_TRUE(report.uploads[0].content == fileA) << "file A differs";
  EXPECT_EQ(report.uploads[1].field, "second");
  EXPECT_EQ(report.uploads[1].client, "b.bin");
  EXPECT_TRUE(report.uploads[1].content == fileB) << "file B differs";
  for (const EchoUpload& upload : report.uploads) expectFrameworkTemp(upload.temp, report["slot"]);
  EXPECT_TRUE(tempFolderEmptied());
}

TEST(Multipart, ClientFileNamesNeverBecomePaths) {
  const std::string body =
      "--" + kBoundary + "\r\n" + fileHeaders("f1", "x=/etc/passwd&y") + "one\r\n--" + kBoundary + "\r\n" +
      fileHeaders("f2", "..\\..\\evil.txt") + "two\r\n--" + kBoundary + "\r\n" + fileHeaders("f3", "") +
      "\r\n--" + kBoundary + "\r\n" +
      // Apostrophes delimit as well; an unquoted name that ends its line is no name.
      "Content-Disposition: form-data; name='f4'; filename='q.txt'\r\n\r\nfour\r\n--" + kBoundary + "\r\n" +
      "Content-Disposition: form-data; name=\"f5\"; filename=unquoted.txt\r\n\r\nfive\r\n--" + kBoundary +
      "\r\nContent-Disposition: form-data; name=\"Name\"\r\n\r\na&Path=b\r\n--" + kBoundary +
      "--";  // a closing boundary without its line end still closes
  auto running = startServer<EchoHandler>(5000);
  LoopbackClient client(running.port);
  EchoReport report;
  ASSERT_TRUE(sendAndEcho(client, multipartRequest(body), report));

  const std::pair<const char*, const char*> expected[] = {
      {"x=/etc/passwd&y", "one"}, {"..\\..\\evil.txt", "two"}, {"", ""}, {"q.txt", "four"}};
  ASSERT_EQ(report.uploads.size(), std::size(expected));
  for (std::size_t i = 0; i < report.uploads.size(); ++i) {
    EXPECT_EQ(report.uploads[i].client, expected[i].first);
    EXPECT_EQ(report.uploads[i].content, expected[i].second);
    expectFrameworkTemp(report.uploads[i].temp, report["slot"]);
  }
  EXPECT_EQ(report["params"], "Name=a&Path=b");  // field values stay raw
  EXPECT_TRUE(tempFolderEmptied());
}

TEST(Multipart, ConcurrentHandlersUseTheirOwnTemporaryNames) {
  auto running = startServer<EchoHandler>(5000);
  LoopbackClient first(running.port);
  LoopbackClient second(running.port);
  const std::string body = "--" + kBoundary + "\r\n" + fileHeaders("f", "same.txt") + "data\r\n--" +
                           kBoundary + "--\r\n";
  ASSERT_TRUE(first.send(multipartRequest(body)));
  ASSERT_TRUE(second.send(multipartRequest(body)));
  EchoReport reports[2];
  HttpResponse response;
  ASSERT_TRUE(first.readResponse(response));
  ASSERT_TRUE(parseEcho(response.body, reports[0]));
  ASSERT_TRUE(second.readResponse(response));
  ASSERT_TRUE(parseEcho(response.body, reports[1]));
  ASSERT_NE(reports[0]["slot"], reports[1]["slot"]);
  for (EchoReport& report : reports) {
    ASSERT_EQ(report.uploads.size(), 1u);
    EXPECT_EQ(report.uploads[0].content, "data");
    expectFrameworkTemp(report.uploads[0].temp, report["slot"]);
    expectFrameworkTemp(report["body"], report["slot"]);
  }
}

}  // namespace
}  // namespace sftest
