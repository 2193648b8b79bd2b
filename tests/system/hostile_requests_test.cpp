// Hostile requests against the whole system, as a page sends them (through
// the proxy, raw and from a real browser by fetch, form, image and redirect)
// and as another local process sends them (straight to the service ports):
// nothing outside the data root is read, changed or created, the user's
// varlume.config stays as it was, and everyone else is still served.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/chromium.h"
#include "support/loopback_client.h"
#include "support/origin_server.h"
#include "support/sandbox.h"
#include "support/whole_system.h"

namespace {

namespace fs = std::filesystem;
using origin::VLReceived;
using origin::VLReply;

constexpr int kAnswerMs = 10000;
constexpr char kSentinel[] = "sentinel text that no request may read or change";

// Commands of the file service that try to leave the site's folder, in the
// query form a page sends (the browser keeps a query's "..", "%2F" and "\").
const char* const kFileCommands[] = {
    "STRINGFILE?Path=..%2F..%2F..&Name=evil.txt&Data=evil",
    "STRINGFILE?Path=../../..&Name=evil.txt&Data=evil",
    "STRINGFILE?Path=..%5C..%5C..&Name=evil.txt&Data=evil",
    "STRINGFILE?Path=%2E%2E/%2E%2E/%2E%2E&Name=evil.txt&Data=evil",
    "STRINGFILE?Path=sub&Name=..%2F..%2F..%2Fevil.txt&Data=evil",
    "STRINGFILE?Path=sub&Name=evil.txt%0D%0AX-Injected:%201&Data=evil",
    "MKDIR?Name=..%2F..%2F..%2Fmade",
    "MKDIR?Name=..\\..\\..\\made",
    "RENAME?Name=..%2F..%2F..%2Fsentinel.txt&NewName=moved.txt",
    "RENAME?Name=own.txt&NewName=..%2F..%2F..%2Fmoved.txt",
    "REMOVEFILE?Name=..%2F..%2F..%2Fsentinel.txt",
    "REMOVEFILE?Name=..%2F..%2Fsentinel.txt",
    "REMOVEDIRECTORY?Name=..%2F..",
    "REMOVECACHEDIRECTORY?Name=..%2F..%2F..",
    "REMOVECACHEFILE?Name=..%2F..%2F..%2Fsentinel.txt",
    "GET?Path=..%2F..%2F..%2Fsentinel.txt",
    "GET?Path=/../../../sentinel.txt",
    "GET?Path=..%2F..%2F..%2Fsentinel.txt&Encoding=base64",
    "SCANDIR?Name=..%2F..%2F..",
    "SETPROXY?Host=evil.example&Port=1",
    "REDIRECT?Path=http://evil.example/%0D%0ASet-Cookie:%20a=1",
};

// A page of a.example that sends every command above as an image, then as
// a fetch, a form upload whose file name climbs, and a redirect into the
// file service; it reports to its origin when all have settled.
std::string hostilePage() {
  std::string images, fetches;
  for (const char* command : kFileCommands) {
    images += std::string("<img src=\"/varlume/file/") + command + "\">";
    fetches += std::string("'/varlume/file/") + command + "',";
  }
  return "<!DOCTYPE html><html><body>" + images +
         "<form id=\"f\" method=\"post\" enctype=\"multipart/form-data\" target=\"sink\" "
         "action=\"/varlume/file/SAVEFILE?Path=..%2F..%2F..\"><input type=\"file\" name=\"f\" id=\"p\"></form>"
         "<iframe name=\"sink\" id=\"sink\"></iframe><script>\n"
         "const picked = new DataTransfer();\n"
         "picked.items.add(new File(['evil'], '..\\\\..\\\\..\\\\evil.txt'));\n"
         "document.getElementById('p').files = picked.files;\n"
         "const formDone = new Promise(done => document.getElementById('sink').addEventListener('load', done));\n"
         "document.getElementById('f').submit();\n"
         "const all = [" + fetches + "'/redirect'].map(url => fetch(url).catch(() => 0));\n"
         "all.push(formDone);\n"
         "Promise.allSettled(all).then(() => fetch('/report', {method: 'POST', body: 'settled'}));\n"
         "</script></body></html>";
}

// An upload whose part names a file outside the site's folder.
std::string hostileUpload(const std::string& target, const std::string& host, bool proxyForm) {
  const std::string body =
      "--BB\r\nContent-Disposition: form-data; name=\"f\"; filename=\"../../../evil.txt\"\r\n\r\nevil\r\n"
      "--BB\r\nContent-Disposition: form-data; name=\"g\"; filename=\"..\\..\\..\\evil2.txt\"\r\n\r\nevil\r\n"
      "--BB--\r\n";
  return "POST " + (proxyForm ? "http://" + host : std::string()) + target + " HTTP/1.1\r\nHost: " + host +
         "\r\nContent-Type: multipart/form-data; boundary=BB\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// Every file under `root` with its bytes, except those the programs keep
// for themselves: the data root, the temporary folder, the programs' output
// and the browser's profile and caches.
std::map<std::string, std::string> outsideFiles(const std::string& root, const std::vector<std::string>& skipped) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (error) break;
    const std::string path = it->path().string();
    bool skip = false;
    for (const std::string& prefix : skipped) skip = skip || path.rfind(prefix, 0) == 0;
    if (skip) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    files[path] = it->is_regular_file() ? sandbox::readFile(path).value_or("?") : "<folder>";
  }
  return files;
}

class HostileRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(web.listening());
    ASSERT_TRUE(system.start(web.port()));
    const sandbox::VLSandboxUser& user = box.user(0);
    // Sentinels at every level that a ".." could reach from a site's folder.
    for (const std::string& folder : {box.root(), user.documents, user.home, user.localAppData,
                                      box.commonAppData(), user.documents + "/Varlume"}) {
      ASSERT_TRUE(sandbox::writeFile(folder + "/sentinel.txt", kSentinel));
    }
    ASSERT_TRUE(sandbox::writeFile(home() + "/own.txt", "own"));
    before = snapshot();
    ASSERT_NE(before.count(user.localAppData + "/Varlume/varlume.config"), 0u);
  }

  std::string home() { return box.user(0).documents + "/Varlume/a.example"; }

  std::map<std::string, std::string> snapshot() {
    const sandbox::VLSandboxUser& user = box.user(0);
    return outsideFiles(box.root(), {user.documents + "/Varlume/", user.localAppData + "/Varlume/Temp",
                                     box.root() + "/proxy-output.txt", box.root() + "/chromium",
                                     // what Chromium keeps in its home folder
                                     user.home + "/.cache", user.home + "/.config", user.home + "/.pki",
                                     user.home + "/.local"});
  }

  // Sends one request on a connection of its own and returns what came back
  // within the time.
  std::string send(int port, const std::string& request) {
    testsupport::LoopbackClient client(port);
    testsupport::HttpResponse response;
    if (!client.send(request)) return std::string();
    std::string rest;
    if (!client.readResponse(response, false, kAnswerMs)) client.waitForClose(rest, kAnswerMs);
    return response.head + response.body + rest;
  }

  void expectNothingOutsideTouched() {
    const std::map<std::string, std::string> after = snapshot();
    for (const auto& [path, bytes] : after) {
      const auto found = before.find(path);
      if (found == before.end()) {
        ADD_FAILURE() << "made outside the data root: " << path;
      } else {
        EXPECT_EQ(found->second, bytes) << "changed: " << path;
      }
    }
    for (const auto& [path, bytes] : before) EXPECT_NE(after.count(path), 0u) << "removed: " << path;
    // The data root's own sentinel stands beside the sites' folders.
    EXPECT_EQ(sandbox::readFile(box.user(0).documents + "/Varlume/sentinel.txt").value_or(""), kSentinel);
  }

  void expectEveryoneStillServed() {
    const std::string page = send(system.proxyPort(), "GET http://c.example/after HTTP/1.1\r\nHost: c.example\r\n\r\n");
    EXPECT_NE(page.find("page http://c.example/after"), std::string::npos) << page;
    const std::string version =
        send(system.proxyPort(), "GET http://c.example/varlume/file/GETVERSION HTTP/1.1\r\nHost: c.example\r\n\r\n");
    EXPECT_EQ(version.rfind("HTTP/1.1 200 ", 0), 0u) << version;
  }

  bool reported() {
    for (const VLReceived& r : web.received()) {
      if (r.path() == "http://a.example/report") return true;
    }
    return false;
  }

  origin::VLOriginServer web{[](const VLReceived& r) {
    if (r.path() == "http://a.example/hostile.html") {
      return VLReply::withLength(hostilePage(), "Content-Type: text/html\r\n");
    }
    if (r.path() == "http://a.example/redirect") {
      return VLReply::bytes(
          "HTTP/1.1 302 Found\r\nLocation: /varlume/file/STRINGFILE?Path=..%2F..%2F..&Name=redirected.txt&Data=evil"
          "\r\nContent-Length: 0\r\n\r\n");
    }
    return VLReply::withLength("page " + r.path(), "Content-Type: text/html\r\n");
  }};
  sandbox::VLSandbox box;
  servicetest::VLWholeSystem system{box};
  std::map<std::string, std::string> before;
};

TEST_F(HostileRequests, APageThroughTheProxyStaysInsideItsSiteFolder) {
  for (const char* command : kFileCommands) {
    const std::string answer = send(system.proxyPort(), "GET http://a.example/varlume/file/" + std::string(command) +
                                                            " HTTP/1.1\r\nHost: a.example\r\n\r\n");
    EXPECT_EQ(answer.find(kSentinel), std::string::npos) << command;
    EXPECT_EQ(answer.find("\r\nX-Injected:"), std::string::npos) << command;
    EXPECT_EQ(answer.find("\r\nSet-Cookie:"), std::string::npos) << command;
  }
  send(system.proxyPort(), hostileUpload("/varlume/file/SAVEFILE?Path=..%2F..%2F..", "a.example", true));
  send(system.proxyPort(), hostileUpload("/varlume/file/SAVEFILE?Path=up", "a.example", true));
  // Home lines a page may not pass on, and hosts that would name other folders.
  send(system.proxyPort(),
       "GET http://a.example/varlume/file/STRINGFILE?Path=p&Name=evil.txt&Data=e HTTP/1.1\r\nHost: a.example\r\n"
       "VarlumeSubdomainHome: ../../..\r\nVarlumeSubdomainCommonHome: ../../..\r\n\r\n");
  // The privileged host's settings, asked for by another site's page.
  send(system.proxyPort(),
       "GET http://varlume.internal/varlume/file/SETPROXY?Host=evil.example&Port=1 HTTP/1.1\r\n"
       "Host: varlume.internal\r\nReferer: http://a.example/page.html\r\nOrigin: http://a.example\r\n\r\n");
  for (const char* host : {"..", "a.example/../..", "a.example\\..\\..", "%2E%2E", "varlume.internal/.."}) {
    send(system.proxyPort(), std::string("GET http://") + host +
                                 "/varlume/file/STRINGFILE?Path=p&Name=evil.txt&Data=e HTTP/1.1\r\nHost: " + host +
                                 "\r\n\r\n");
  }
  expectNothingOutsideTouched();
  expectEveryoneStillServed();
}

TEST_F(HostileRequests, AnotherProcessAtTheServicePortsStaysInsideTheDataRoot) {
  const int file = system.servicesBase() + servicetest::VLWholeSystem::kFileOffset;
  const int event = system.servicesBase() + servicetest::VLWholeSystem::kEventOffset;
  // The privileged host's own commands are the user's (who may change
  // their own files anyway); only sites' hosts and forged names here.
  for (const char* host : {"a.example", "..", "a.example/../..", "a.example\\..\\.."}) {
    for (const char* command : kFileCommands) {
      const std::string answer =
          send(file, "GET /" + std::string(command) + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
      EXPECT_EQ(answer.find(kSentinel), std::string::npos) << host << " " << command;
    }
    send(file, hostileUpload("/SAVEFILE?Path=..%2F..%2F..", host, false));
    send(file, "GET /STRINGFILE?Path=p&Name=evil.txt&Data=e HTTP/1.1\r\nHost: " + std::string(host) +
                   "\r\nVarlumeSubdomainHome: ../../..\r\nVarlumeSubdomainCommonHome: ..\\..\\..\r\n\r\n");
    send(event, "GET /ADDSERVEREVENT?Path=/a&Event=NOWEB&Action=/x HTTP/1.1\r\nHost: " + std::string(host) +
                    "\r\nVarlumeSubdomainHome: ../../..\r\n\r\n");
    send(event, "GET /ADDWEBDRIVE?LocalDir=..%2F..%2F..&Check=x HTTP/1.1\r\nHost: " + std::string(host) + "\r\n\r\n");
  }
  expectNothingOutsideTouched();
  expectEveryoneStillServed();
}

TEST_F(HostileRequests, ABrowserPageByFetchFormImageAndRedirectStaysInsideItsSiteFolder) {
  browsertest::VLChromium browser(box, system.proxyPort());
  const std::string reason = browser.unavailableReason();
  if (!reason.empty()) GTEST_SKIP() << reason;
  EXPECT_TRUE(browser.openUntil("http://a.example/hostile.html", [&] { return reported(); })) << browser.lastErrors();
  // The redirect came from the origin; everything else went to the service.
  int redirects = 0;
  for (const VLReceived& r : web.received()) redirects += r.path() == "http://a.example/redirect" ? 1 : 0;
  EXPECT_EQ(redirects, 1);
  expectNothingOutsideTouched();
  expectEveryoneStillServed();
}

}  // namespace
