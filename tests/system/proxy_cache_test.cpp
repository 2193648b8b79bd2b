// The real varlume's cache and mirror against a scripted origin that counts
// the requests per URL (reached for every host through -x/-y): copies kept
// and answered by the rules, made stale by age and by POST, the rule files
// from the user's or the all-users folder, mirror files saved under the
// data root; and hostile keys, hosts and mirror names that never reach
// outside their folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_client.h"
#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"

namespace {

using origin::VLOriginServer;
using origin::VLReceived;
using origin::VLReply;
using testsupport::HttpResponse;
using testsupport::LoopbackClient;

constexpr int kAnswerMs = 10000;
const std::string kNotAvailable = "Requested mirror file not available from host. File not mirrored.";

std::atomic<int> served{0};

// Every answer names its URL and a serial number, so a copy and a fresh
// fetch differ.
VLReply originScript(const VLReceived& request) {
  const std::string url = request.path();
  const std::string body = "body of " + url + " #" + std::to_string(++served);
  if (request.method() == "HEAD") {
    return VLReply::bytes("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n");
  }
  if (url.find("missing") != std::string::npos) {
    return VLReply::bytes("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
  }
  const std::size_t sized = url.find("/sized/");
  if (sized != std::string::npos) return VLReply::sized(std::stoul(url.substr(sized + 7)));
  if (url.find("slow") != std::string::npos) {
    VLReply reply = VLReply::withLength(body);
    reply.steps[0].pauseMsBefore = 1500;
    return reply;
  }
  return VLReply::withLength(body, "Content-Type: text/plain\r\n");
}

std::string hostOf(const std::string& url) {
  const std::size_t start = url.find("//") + 2;
  return url.substr(start, url.find_first_of("/?:", start) - start);
}

// All files and folders (with a trailing "/") below `root`, relative, sorted.
std::vector<std::string> filesBelow(const std::string& root) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = std::filesystem::relative(it->path(), root).string();
    names.push_back(it->is_directory() ? name + "/" : name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The cache folder's size by the count of its bound: every file in whole
// 4 KiB blocks (at least one), every folder one block.
std::uintmax_t cacheFootprint(const std::string& root) {
  constexpr std::uintmax_t kBlock = 4096;
  // The proxy may be removing old copies while the folder is walked: a walk
  // that met a vanished entry is made again, so the total is of one moment.
  std::uintmax_t total = 0;
  for (int walk = 0; walk < 100; ++walk) {
    total = 0;
    bool whole = true;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         whole && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (error) break;
      const bool folder = it->is_directory(error);
      const std::uintmax_t size = folder || error ? 0 : it->file_size(error);
      if (error) {
        whole = false;
        break;
      }
      total += folder ? kBlock : std::max<std::uintmax_t>((size + kBlock - 1) / kBlock, 1) * kBlock;
    }
    if (whole && !error) return total;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return total;
}

class ProxyCache : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(web.listening()); }

  void startProxy() {
    const int servicesBase = proxytest::freeServicesBase({0, 3});
    ASSERT_GT(servicesBase, 0);
    ASSERT_TRUE(proxy.start(box, servicesBase, {"-x", "127.0.0.1", "-y", std::to_string(web.port())}));
    client = std::make_unique<LoopbackClient>(proxy.port());
    ASSERT_TRUE(client->connected());
  }

  std::string dataRoot() { return box.user(0).documents + "/Varlume/"; }
  std::string cacheFile(const std::string& relative) { return dataRoot() + "Cache/" + relative; }
  std::string userRules(const std::string& name) { return box.user(0).localAppData + "/Varlume/" + name; }
  std::string commonRules(const std::string& name) { return box.commonAppData() + "/Varlume/" + name; }

  static std::string request(const std::string& method, const std::string& url,
                             const std::string& extra = "") {
    return method + " " + url + " HTTP/1.1\r\nHost: " + hostOf(url) + "\r\n" + extra + "\r\n";
  }
  // One request on the test's connection; the whole response.
  std::string fetch(const std::string& method, const std::string& url, const std::string& extra = "") {
    EXPECT_TRUE(client->send(request(method, url, extra)));
    return read(method == "HEAD");
  }
  std::string get(const std::string& url) { return fetch("GET", url); }
  // A GET made by a page of the URL's own site (as a mirror must be).
  std::string getFromOwnPage(const std::string& url, const std::string& method = "GET") {
    return fetch(method, url, "Referer: http://" + hostOf(url) + "/page.html\r\n");
  }
  // A GET whose copy is to be kept: its answer, once the copy is on disk
  // (the answer may reach the browser before the store ends).
  std::string getStored(const std::string& url, const std::string& relative) {
    const std::string answer = get(url);
    EXPECT_TRUE(sandbox::waitUntil([&] { return sandbox::isFile(cacheFile(relative)); }, 5000)) << relative;
    return answer;
  }
  std::string read(bool headOnly = false) {
    HttpResponse response;
    if (!client->readResponse(response, headOnly, kAnswerMs)) return "(no answer)";
    return response.head + response.body;
  }
  // Requests the origin saw for `url` (absolute form, as the upstream gets it).
  int seen(const std::string& url) {
    int count = 0;
    for (const VLReceived& r : web.received()) count += r.path() == url ? 1 : 0;
    return count;
  }
  ::testing::AssertionResult noPartFilesLeft() { return proxytest::noPartFilesLeft(proxy); }

  sandbox::VLSandbox box;
  VLOriginServer web{originScript};
  proxytest::VLProxyProcess proxy;
  std::unique_ptr<LoopbackClient> client;
};

TEST_F(ProxyCache, AForeverTypeIsFetchedOnceThenServedFromItsCopy) {
  startProxy();
  const std::string url = "http://a.test/i/x.gif";
  const std::string first = getStored(url, "a.test/i/x.gif");
  ASSERT_NE(first.find("body of " + url), std::string::npos) << first;
  const std::string copy = cacheFile("a.test/i/x.gif");
  EXPECT_EQ(sandbox::readFile(copy).value_or(""), first);
  // An hour old: the hit sends it unchanged and renews its time.
  ASSERT_TRUE(sandbox::shiftModificationTime(copy, -3600));
  EXPECT_EQ(get(url), first);
  EXPECT_EQ(get(url + "?v=2"), first);  // a query of a forever type: the same copy
  EXPECT_EQ(fetch("GET", "http://A.Test/i/x.gif"), first);  // the Host's case names no other folder
  EXPECT_EQ(seen(url), 1);
  EXPECT_GE(sandbox::modificationTime(copy), static_cast<long long>(std::time(nullptr)) - 60);
  // Another port is another site.
  EXPECT_NE(getStored("http://a.test:8080/i/x.gif", "a.test:8080/i/x.gif"), first);
  // HEAD and POST always reach the site.
  EXPECT_EQ(fetch("HEAD", url).substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_NE(fetch("POST", "http://a.test/i/x.gif", "Content-Length: 2\r\n\r\nab").find("#"), std::string::npos);
  int heads = 0;
  int posts = 0;
  for (const VLReceived& r : web.received()) {
    heads += r.method() == "HEAD" ? 1 : 0;
    posts += r.method() == "POST" ? 1 : 0;
  }
  EXPECT_EQ(heads, 1);
  EXPECT_EQ(posts, 1);
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(ProxyCache, RuledCopiesAgeOutAndAPostMakesASitesCopiesStale) {
  ASSERT_TRUE(sandbox::writeFile(userRules("CacheDomains.txt"),
                                 "CLASSDOMAIN=styles\nCACHECSS=YES&EXPIRYSECONDS=300\n"
                                 "DOMAIN=*.site.test&CLASSDOMAIN=styles\n"));  // LF only
  startProxy();
  // The rule's key: the query's pairs, sorted.
  const std::string url = "http://www.site.test/s/a.css?b=2&a=1";
  const std::string first = getStored(url, "www.site.test/s/a.css_Q_a_EQ_1_AMP_b_EQ_2");
  const std::string copy = cacheFile("www.site.test/s/a.css_Q_a_EQ_1_AMP_b_EQ_2");
  EXPECT_EQ(get("http://www.site.test/s/a.css?a=1&b=2"), first);
  EXPECT_EQ(seen(url), 1);
  // Past its lifetime (with a margin) it is fetched again and rewritten.
  ASSERT_TRUE(sandbox::shiftModificationTime(copy, -400));
  const std::string second = get(url);
  EXPECT_NE(second, first);
  EXPECT_EQ(seen(url), 2);
  ASSERT_TRUE(sandbox::waitUntil([&] { return sandbox::readFile(copy).value_or("") == second; }, 5000));

  // A POST to the site renews its marker; older copies are stale.
  ASSERT_TRUE(sandbox::shiftModificationTime(copy, -30));
  fetch("POST", "http://www.site.test/form", "Content-Length: 3\r\n\r\nx=1");
  EXPECT_TRUE(sandbox::isFile(cacheFile("www.site.test/catchall.varlumepost")));
  const std::string third = get(url);
  EXPECT_EQ(seen(url), 3);
  ASSERT_TRUE(sandbox::waitUntil([&] { return sandbox::readFile(copy).value_or("") == third; }, 5000));
  EXPECT_EQ(get(url), third);
  EXPECT_EQ(seen(url), 3);
  // A POST to a host without a folder makes none.
  fetch("POST", "http://other.test/form", "Content-Length: 3\r\n\r\nx=1");
  EXPECT_FALSE(sandbox::isFolder(cacheFile("other.test")));
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(ProxyCache, TheUsersRuleFileWinsOverTheAllUsersCopy) {
  ASSERT_TRUE(sandbox::writeFile(commonRules("CacheTypes.txt"), "GIF=FALSE\r\nPNG=FALSE\r\n"));
  ASSERT_TRUE(sandbox::writeFile(userRules("CacheTypes.txt"), "GIF\r\n"));
  startProxy();
  // Only the user's file is read: GIF is kept, and PNG stays a built-in
  // forever type, whatever the all-users file says.
  const std::string gif = getStored("http://a.test/x.gif", "a.test/x.gif");
  const std::string png = getStored("http://a.test/x.png", "a.test/x.png");
  EXPECT_EQ(get("http://a.test/x.gif"), gif);
  EXPECT_EQ(get("http://a.test/x.png"), png);
  EXPECT_EQ(seen("http://a.test/x.gif"), 1);
  EXPECT_EQ(seen("http://a.test/x.png"), 1);
}

TEST_F(ProxyCache, WithoutAUserCopyTheAllUsersFileHolds) {
  ASSERT_TRUE(sandbox::writeFile(commonRules("CacheTypes.txt"), "GIF=FALSE\n"));
  startProxy();
  get("http://a.test/x.gif");
  get("http://a.test/x.gif");
  EXPECT_EQ(seen("http://a.test/x.gif"), 2);
  EXPECT_FALSE(sandbox::isFile(cacheFile("a.test/x.gif")));
}

TEST_F(ProxyCache, TheShippedRuleFilesAreInstalledAndRead) {
  const std::string work = box.makeFolder("work");
  for (const char* name : {"CacheTypes.txt", "CacheDomains.txt"}) {
    const auto shipped = sandbox::readFile(std::string(VARLUME_SOURCE_DIR "/data/") + name);
    ASSERT_TRUE(shipped.has_value());
    ASSERT_TRUE(sandbox::writeFile(work + "/" + name, *shipped));
  }
  startProxy();
  for (const char* name : {"CacheTypes.txt", "CacheDomains.txt"}) {
    EXPECT_EQ(sandbox::readFile(commonRules(name)),
              sandbox::readFile(std::string(VARLUME_SOURCE_DIR "/data/") + name));
  }
  // WOFF2 is a forever type only by the shipped file.
  getStored("http://a.test/f.woff2", "a.test/f.woff2");
  get("http://a.test/f.woff2");
  EXPECT_EQ(seen("http://a.test/f.woff2"), 1);
}

// The shipped rule files keep their CR LF line ends byte for byte.
TEST_F(ProxyCache, TheShippedRuleFilesEndEveryLineWithCrLf) {
  for (const char* name : {"CacheTypes.txt", "CacheDomains.txt"}) {
    const std::string text = sandbox::readFile(std::string(VARLUME_SOURCE_DIR "/data/") + name).value_or("");
    ASSERT_FALSE(text.empty()) << name;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << name;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << name << ": a bare LF at byte " << i;
      } else if (text[i] == '\r') {
        ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << name << ": a bare CR at byte " << i;
      }
    }
  }
}

// A POST renews the marker as an empty file, whatever the old one held.
TEST_F(ProxyCache, APostLeavesTheMarkerEmptyAndNew) {
  startProxy();
  getStored("http://a.test/x.gif", "a.test/x.gif");
  const std::string marker = cacheFile("a.test/catchall.varlumepost");
  ASSERT_TRUE(sandbox::writeFile(marker, "left over"));
  ASSERT_TRUE(sandbox::shiftModificationTime(marker, -3600));
  fetch("POST", "http://a.test/form", "Content-Length: 3\r\n\r\nx=1");
  EXPECT_EQ(sandbox::readFile(marker).value_or("(gone)"), "");
  EXPECT_GE(sandbox::modificationTime(marker), static_cast<long long>(std::time(nullptr)) - 60);
}

TEST_F(ProxyCache, AMirrorSavesTheBodyUnderThePageHost) {
  startProxy();
  const std::string success = "HTTP/1.1 200 Success\r\n";
  std::string answer = getFromOwnPage("http://site.test/varlume/mirror/site.test/dir/page.html");
  EXPECT_EQ(answer.substr(0, success.size()), success) << answer;
  EXPECT_EQ(sandbox::readFile(dataRoot() + "site.test/dir/page.html").value_or(""),
            "body of http://site.test/dir/page.html #" + std::to_string(served.load()));
  answer = getFromOwnPage("http://site.test/varlume/mirror/site.test/");
  EXPECT_EQ(answer.substr(0, success.size()), success) << answer;
  EXPECT_TRUE(sandbox::isFile(dataRoot() + "site.test/index.html"));
  // MIRRORAS= names the file in its own case; a second mirror replaces it.
  for (int round = 0; round < 2; ++round) {
    answer = getFromOwnPage("http://site.test/varlume/mirror/site.test/p.html?x=1&MIRRORAS=Copy.htm&y=2");
    EXPECT_EQ(answer.substr(0, success.size()), success) << answer;
    EXPECT_EQ(sandbox::readFile(dataRoot() + "site.test/Copy.htm").value_or(""),
              "body of http://site.test/p.html?x=1&MIRRORAS=Copy.htm&y=2 #" + std::to_string(served.load()));
  }
  // A HEAD has no body to save and replaces nothing.
  answer = getFromOwnPage("http://site.test/varlume/mirror/site.test/p.html?MIRRORAS=Copy.htm", "HEAD");
  EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << answer;
  EXPECT_NE(sandbox::readFile(dataRoot() + "site.test/Copy.htm").value_or(""), "");
  // A fresh copy in the cache is no answer to a mirror request.
  getStored("http://site.test/i/logo.gif", "site.test/i/logo.gif");
  answer = getFromOwnPage("http://site.test/varlume/mirror/site.test/i/logo.gif");
  EXPECT_EQ(answer.substr(0, success.size()), success) << answer;
  EXPECT_EQ(seen("http://site.test/i/logo.gif"), 2);
  // A 404 saves nothing; a blocked folder says why.
  answer = getFromOwnPage("http://site.test/varlume/mirror/site.test/missing.html");
  EXPECT_NE(answer.find("500 " + kNotAvailable), std::string::npos) << answer;
  EXPECT_FALSE(sandbox::isFile(dataRoot() + "site.test/missing.html"));
  answer = getFromOwnPage("http://site.test/varlume/mirror/site.test/Copy.htm/inner.html");
  EXPECT_NE(answer.find("already exists"), std::string::npos) << answer;
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(ProxyCache, HostileKeysHostsAndMirrorNamesStayInsideTheirFolders) {
  const std::string documents = box.user(0).documents;
  const std::vector<std::string> sentinels = {documents + "/sentinel.html", dataRoot() + "sentinel.gif",
                                              dataRoot() + "sentinel.html", cacheFile("sentinel.gif"),
                                              cacheFile("x.gif")};
  for (const std::string& path : sentinels) ASSERT_TRUE(sandbox::writeFile(path, "sentinel"));
  startProxy();
  const std::vector<std::string> before = filesBelow(documents);
  const std::string raw[] = {
      "GET /../sentinel.gif HTTP/1.1\r\nHost: a.test\r\n\r\n",
      "GET http://a.test/?varlume/web/evil.test/../../sentinel.gif HTTP/1.1\r\nHost: a.test\r\n\r\n",
      "GET http://a.test/%2E%2E/sentinel.gif HTTP/1.1\r\nHost: a.test\r\n\r\n",
      "GET http://a.test/..%5Csentinel.gif HTTP/1.1\r\nHost: a.test\r\n\r\n",
      "GET /x.gif HTTP/1.1\r\nHost: .\r\n\r\n",
      "GET http://evil.test/varlume/mirror/evil.test/%2E%2E%2F%2E%2E%2Fsentinel.html HTTP/1.1\r\n"
      "Host: evil.test\r\nReferer: http://evil.test/\r\n\r\n",
      "GET http://evil.test/varlume/mirror/evil.test/..%5C..%5Csentinel.html HTTP/1.1\r\n"
      "Host: evil.test\r\nReferer: http://evil.test/\r\n\r\n",
      "GET http://evil.test/varlume/mirror/evil.test/p.html?MIRRORAS=../sentinel.html HTTP/1.1\r\n"
      "Host: evil.test\r\nReferer: http://evil.test/\r\n\r\n",
      "POST http://a.test/?varlume/web/../x HTTP/1.1\r\nHost: a.test\r\nContent-Length: 1\r\n\r\nx",
  };
  for (const std::string& text : raw) {
    ASSERT_TRUE(client->send(text));
    const std::string answer = read();
    EXPECT_EQ(answer.substr(0, 9), "HTTP/1.1 ") << text;  // every request gets its answer
    if (text.find("mirror") != std::string::npos) {
      EXPECT_NE(answer.find(kNotAvailable), std::string::npos) << text;
    }
  }
  for (const std::string& path : sentinels) EXPECT_EQ(sandbox::readFile(path).value_or(""), "sentinel") << path;
  EXPECT_EQ(filesBelow(documents), before);
  EXPECT_TRUE(noPartFilesLeft());
}

TEST_F(ProxyCache, AGetWithABodyIsNeverAHitAndThePipelineStaysInStep) {
  startProxy();
  const std::string url = "http://a.test/b.gif";
  getStored(url, "a.test/b.gif");
  // The body looks like a request of its own; it is read as a body.
  const std::string body = "GET /smuggled.gif HTTP/1.1\r\n\r\n";
  ASSERT_TRUE(client->send(request("GET", url, "Content-Length: " + std::to_string(body.size()) + "\r\n") +
                           body + request("GET", "http://a.test/next")));
  const std::string refused = read();
  EXPECT_EQ(refused.substr(0, 30), "HTTP/1.1 500 Request refused.\r") << refused;
  const std::string next = read();
  EXPECT_NE(next.find("body of http://a.test/next"), std::string::npos) << next;
  EXPECT_EQ(seen(url), 1);
}

TEST_F(ProxyCache, ACopyRemovedAfterItsHitWasQueuedIsAnsweredInItsPlace) {
  startProxy();
  const std::string url = "http://a.test/v.gif";
  getStored(url, "a.test/v.gif");
  const std::string copy = cacheFile("a.test/v.gif");
  ASSERT_TRUE(sandbox::shiftModificationTime(copy, -3600));
  const long long before = sandbox::modificationTime(copy);
  // The hit waits behind a slow answer; its copy goes meanwhile.
  ASSERT_TRUE(client->send(request("GET", "http://a.test/slow.txt") + request("GET", url) +
                           request("GET", "http://a.test/after.txt")));
  ASSERT_TRUE(sandbox::waitUntil([&] { return sandbox::modificationTime(copy) > before; }, 5000));
  std::filesystem::remove(copy);
  EXPECT_NE(read().find("body of http://a.test/slow.txt"), std::string::npos);
  EXPECT_EQ(read().substr(0, 41), "HTTP/1.1 500 No response from server.\r\nDa");
  EXPECT_NE(read().find("body of http://a.test/after.txt"), std::string::npos);
}

TEST_F(ProxyCache, ABrowserThatLeavesEarlyLeavesNoPartFiles) {
  startProxy();
  for (int i = 0; i < 3; ++i) {
    LoopbackClient leaving(proxy.port());
    ASSERT_TRUE(leaving.send(request("GET", "http://a.test/slow" + std::to_string(i) + ".gif") +
                             request("GET", "http://m.test/varlume/mirror/m.test/slow" +
                                                std::to_string(i) + ".html",
                                     "Referer: http://m.test/\r\n")));
    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    leaving.close();
  }
  ASSERT_TRUE(web.waitForRequests(6, kAnswerMs));
  EXPECT_TRUE(sandbox::waitUntil([&] { return proxy.partFiles().empty(); }, 10000));
  EXPECT_TRUE(noPartFilesLeft());
}

// With a bound of 1 MiB, copies of 30,000 bytes past it: the oldest go,
// the cache stays at or under the bound, the newest copies still hit, and
// an answer larger than an eighth of the bound is never kept.
TEST_F(ProxyCache, TheCacheStaysWithinItsBoundAndKeepsTheNewestCopies) {
  proxy.addConfiguration("cachemegabytes=1");
  startProxy();
  constexpr int kCopies = 48;  // 48 copies of 32 KiB on disk: 1.5 MiB
  auto url = [](int i) { return "http://b.test/sized/30000/c" + std::to_string(i) + ".gif"; };
  auto withinBound = [&] {
    return sandbox::waitUntil([&] { return cacheFootprint(dataRoot() + "Cache") <= 1024u * 1024u; }, 5000);
  };
  // A few requests per browser connection: a long run of requests on one
  // connection through an upstream proxy is another matter.
  auto reconnect = [&] {
    client = std::make_unique<LoopbackClient>(proxy.port());
    ASSERT_TRUE(client->connected());
  };
  std::vector<std::string> answers;
  for (int i = 0; i < kCopies; ++i) {
    if (i % 8 == 0) reconnect();
    answers.push_back(getStored(url(i), "b.test/sized/30000/c" + std::to_string(i) + ".gif"));
    EXPECT_TRUE(withinBound()) << "after copy " << i << ": " << cacheFootprint(dataRoot() + "Cache");
  }
  reconnect();
  for (int i = kCopies - 4; i < kCopies; ++i) {
    EXPECT_TRUE(get(url(i)) == answers[i]) << i;
    EXPECT_EQ(seen(url(i)), 1) << i;
  }
  EXPECT_FALSE(sandbox::isFile(cacheFile("b.test/sized/30000/c0.gif")));
  get(url(0));
  EXPECT_EQ(seen(url(0)), 2);

  reconnect();
  const std::string large = "http://b.test/sized/140000/large.gif";
  EXPECT_GT(get(large).size(), 140000u);
  // Stores run in request order: once the next copy is on disk, the large
  // answer's turn is over.
  getStored("http://b.test/sized/10/after.gif", "b.test/sized/10/after.gif");
  EXPECT_FALSE(sandbox::isFile(cacheFile("b.test/sized/140000/large.gif")));
  get(large);
  EXPECT_EQ(seen(large), 2);
  EXPECT_TRUE(withinBound());
}

// What a store cut off by a kill left (".vltmp" + digits + "_" + digits) is
// removed at the next start, anywhere below the cache folder and nowhere
// else; other files stay, and a link is never followed.
TEST_F(ProxyCache, AStartRemovesTheCopiesThatAnInterruptedStoreLeft) {
  const std::vector<std::string> leftovers = {"Cache/.vltmp4242_0", "Cache/a.test/.vltmp17_3",
                                              "Cache/a.test/i/deep/.vltmp1_12345"};
  const std::vector<std::string> kept = {"Cache/a.test/x.gif", "Cache/a.test/.vltmpx_1",
                                         "Cache/a.test/.vltmp1_2.gif", "Cache/a.test/catchall.varlumepost",
                                         ".vltmp5_5", "site.test/.vltmp6_6"};
  for (const std::string& name : leftovers) ASSERT_TRUE(sandbox::writeFile(dataRoot() + name, "cut"));
  for (const std::string& name : kept) ASSERT_TRUE(sandbox::writeFile(dataRoot() + name, "kept"));
  const std::string outside = box.makeFolder("outside");
  ASSERT_TRUE(sandbox::writeFile(outside + "/.vltmp7_7", "not the cache's"));
  std::filesystem::create_directory_symlink(outside, dataRoot() + "Cache/a.test/link");
  std::filesystem::create_symlink(outside + "/.vltmp7_7", dataRoot() + "Cache/.vltmp8_8");

  startProxy();
  for (const std::string& name : leftovers) EXPECT_FALSE(sandbox::isFile(dataRoot() + name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(sandbox::isFile(dataRoot() + name)) << name;
  EXPECT_EQ(sandbox::readFile(outside + "/.vltmp7_7").value_or(""), "not the cache's");
  EXPECT_TRUE(std::filesystem::is_symlink(dataRoot() + "Cache/.vltmp8_8"));
}

}  // namespace
