// The three programs together against hostile pages and hostile local
// processes: traversals in every encoding, forged sites and sub-homes, SQL and
// header injection, sent as a browser sends them through the proxy (fetch,
// image, form posts, followed redirects) and straight to the service ports.
// Afterwards nothing outside the data root changed or appeared, no other
// site's files changed, both varlume.config files are byte-identical, and a
// well-behaved browser connection was served correctly all along.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/percent_encoded.h"
#include "support/chromium.h"
#include "support/file_service_fixture.h"
#include "support/loopback_client.h"
#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/service_process.h"
#include "support/tree_snapshot.h"
#include "support/whole_system.h"

namespace {

using testsupport::HttpResponse;
using namespace std::string_literals;

constexpr const char* kEvil = "evil.example";
constexpr const char* kVictim = "other.example";
constexpr const char* kGood = "good.example";
constexpr const char* kCanary = "CANARY-CONTENT";
constexpr int kAnswerLimitMs = 10000;

// How a request reaches the programs.
enum class Channel {
  Fetch,     // a page's fetch(): GET through the proxy with the page as Referer
  Image,     // an <img>: GET through the proxy with an image Accept line
  Form,      // a form post, urlencoded, the query moved into the body
  Redirect,  // the page's origin answers 302 to the URL, which the browser follows
  Direct,    // another local process, straight to the service port
};

const char* channelName(Channel channel) {
  switch (channel) {
    case Channel::Fetch: return "fetch";
    case Channel::Image: return "image";
    case Channel::Form: return "form";
    case Channel::Redirect: return "redirect";
    case Channel::Direct: return "direct";
  }
  return "?";
}

struct Answer {
  bool answered = false;  // a response head arrived, or the connection was closed
  HttpResponse response;
};

class HostilePages : public ::testing::Test {
 protected:
  void SetUp() override {
    origin = std::make_unique<origin::VLOriginServer>([this](const origin::VLReceived& r) { return reply(r); });
    ASSERT_TRUE(origin->listening());
    originHost = "127.0.0.1:" + std::to_string(origin->port());
    attackers = {kEvil, originHost, "Cache"};
    base = proxytest::freeServicesBase({0, 3});
    ASSERT_GT(base, 0);
    ASSERT_TRUE(eventService.start(box, "varlumeevent", base, base + 3)) << eventService.output();
    ASSERT_TRUE(fileService.start(box, "varlumefile", base, base)) << fileService.output();
    ASSERT_TRUE(proxy.start(box, base));

    const sandbox::VLSandboxUser& user = box.user(0);
    data = user.documents + "/Varlume";
    userConfig = user.localAppData + "/Varlume/varlume.config";
    allUsersConfig = box.commonAppData() + "/Varlume/varlume.config";
    if (!sandbox::isFile(allUsersConfig)) {
      ASSERT_TRUE(sandbox::writeFile(allUsersConfig, "varlume=8080&proxyport=0&proxyhost=&varlumeservices=45000"
                                                     "&varlumeinternal=50000&range=500\r\n"));
    }
    const std::string sentinels[] = {user.documents + "/sentinel.txt", user.home + "/sentinel.txt",
                                     data + "/" + kVictim + "/sentinel.txt", data + "/Cache/sentinel.txt",
                                     data + "/sentinel.txt", box.root() + "/sentinel.txt"};
    int n = 0;
    for (const std::string& path : sentinels) {
      ASSERT_TRUE(sandbox::writeFile(path, std::string(kCanary) + "-" + std::to_string(n++)));
    }
    ASSERT_TRUE(sandbox::writeFile(data + "/" + kVictim + "/docs/kept.txt", "victim's own"));
    ASSERT_TRUE(sandbox::writeFile(data + "/" + kGood + "/good.txt", "GOOD FILE"));
    ASSERT_TRUE(sandbox::writeFile(data + "/" + kEvil + "/own.txt", "evil's own"));
    configBytes = sandbox::readFile(userConfig).value_or("<none>");
    allUsersBytes = sandbox::readFile(allUsersConfig).value_or("<none>");
    // The servers answer once before the record, so that their first-use
    // files (the privileged database, the portal) are already in it.
    expectServed();
    before = snapshot();
  }

  void TearDown() override {
    expectServed();
    expectUnchanged("the end");
    EXPECT_EQ(sandbox::readFile(userConfig).value_or("<gone>"), configBytes);
    EXPECT_EQ(sandbox::readFile(allUsersConfig).value_or("<gone>"), allUsersBytes);
    EXPECT_TRUE(eventService.running());
    EXPECT_TRUE(fileService.running());
    EXPECT_TRUE(proxytest::noPartFilesLeft(proxy));
  }

  // Everything in the sandbox but what the attackers' own sites may change:
  // their home folders, the temporary folder, the programs' captured output,
  // and the cache, whose entries every site's page may remove.
  sandbox::VLTreeSnapshot snapshot() {
    const std::string dataRelative = data.substr(box.root().size() + 1) + "/";
    const std::string tempRelative = proxy.tempFolder().substr(box.root().size() + 1, proxy.tempFolder().size() - box.root().size() - 2);
    return sandbox::snapshotTree(box.root(), [&](const std::string& relative) {
      if (relative.size() > 11 && relative.compare(relative.size() - 11, 11, "-output.txt") == 0) return true;
      if (relative == tempRelative) return true;
      for (const std::string& own : attackers) {
        const std::string prefix = dataRelative + own;
        if (relative.compare(0, prefix.size(), prefix) == 0) return true;
      }
      return false;
    });
  }

  // Passes when nothing but the attackers' own places changed since the
  // record; a failure names the changes (and the record moves on, so that
  // each change is reported once, by the case that made it).
  void expectUnchanged(const std::string& what) {
    sandbox::VLTreeSnapshot now = snapshot();
    const std::string differences = sandbox::treeDifferences(before, now);
    EXPECT_TRUE(differences.empty()) << "after " << what << ":\n" << differences;
    before = std::move(now);
  }

  origin::VLReply reply(const origin::VLReceived& received) {
    const std::string path = received.path();
    if (path == "/good") return origin::VLReply::withLength("origin good", "Content-Type: text/plain\r\n");
    if (path.rfind("/r?n=", 0) == 0) {
      std::lock_guard<std::mutex> lock(locationsMutex);
      const std::size_t n = std::stoul(path.substr(5));
      if (n < locations.size()) {
        return origin::VLReply::bytes("HTTP/1.1 302 Found\r\nLocation: " + locations[n] +
                                      "\r\nContent-Length: 0\r\n\r\n");
      }
    }
    return origin::VLReply::withLength("not here", "");
  }

  // One request on a connection of its own; `answered` is false only when
  // nothing came within the limit (a hang).
  static Answer send(int port, const std::string& request) {
    Answer answer;
    testsupport::LoopbackClient client(port);
    if (!client.send(request)) return answer;
    const auto start = std::chrono::steady_clock::now();
    if (client.readResponse(answer.response, false, kAnswerLimitMs)) {
      answer.answered = true;
    } else {
      answer.answered = std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kAnswerLimitMs);
    }
    return answer;
  }

  // `target` is a page URL's path and query ("/varlume/file/GET?Path=x") on
  // the site `site`; Direct sends the service's part of it to its port.
  // `extra` lines go into the head; the page's own Referer and Origin lines
  // only when `ownPage` holds (a forged case brings its own).
  Answer attack(Channel channel, const std::string& site, const std::string& target, const std::string& extra = "",
                bool ownPage = true) {
    const std::string page = ownPage ? "Referer: http://" + site + "/index.html\r\n" : std::string();
    const std::string originLine = ownPage ? "Origin: http://" + site + "\r\n" : std::string();
    const std::string url = "http://" + site + target;
    switch (channel) {
      case Channel::Fetch:
        return send(proxy.port(), "GET " + url + " HTTP/1.1\r\nHost: " + site + "\r\nAccept: */*\r\n" + page +
                                      extra + "\r\n");
      case Channel::Image:
        return send(proxy.port(), "GET " + url + " HTTP/1.1\r\nHost: " + site +
                                      "\r\nAccept: image/avif,image/webp,image/apng,image/*,*/*;q=0.8\r\n"
                                      "Sec-Fetch-Dest: image\r\n" +
                                      page + extra + "\r\n");
      case Channel::Form: {
        const std::size_t query = url.find('?');
        const std::string body = query == std::string::npos ? std::string() : url.substr(query + 1);
        return send(proxy.port(), "POST " + url.substr(0, query) + " HTTP/1.1\r\nHost: " + site +
                                      "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                                      std::to_string(body.size()) + "\r\n" + originLine + page +
                                      extra + "\r\n" + body);
      }
      case Channel::Redirect: {
        // The hostile origin's page sends the browser on; the browser asks
        // for the Location with that page as Referer.
        // (The hop's own URL must not name the services: it holds a number.)
        std::size_t n = 0;
        {
          std::lock_guard<std::mutex> lock(locationsMutex);
          n = locations.size();
          locations.push_back(url);
        }
        const std::string hop = "http://" + originHost + "/r?n=" + std::to_string(n);
        Answer first = send(proxy.port(), "GET " + hop + " HTTP/1.1\r\nHost: " + originHost + "\r\n\r\n");
        const std::size_t at = first.response.head.find("\r\nLocation: ");
        EXPECT_NE(at, std::string::npos) << first.response.head;
        if (at == std::string::npos) return first;
        const std::size_t end = first.response.head.find("\r\n", at + 2);
        const std::string location = first.response.head.substr(at + 12, end - at - 12);
        return send(proxy.port(), "GET " + location + " HTTP/1.1\r\nHost: " + site + "\r\n" +
                                      (ownPage ? "Referer: http://" + originHost + "/r\r\n" : "") + extra + "\r\n");
      }
      case Channel::Direct: {
        const bool event = target.rfind("/varlume/event/", 0) == 0;
        const std::string path = target.substr(event ? 14 : 13);
        return send(event ? base + 3 : base, "GET " + path + " HTTP/1.1\r\nHost: " + site + "\r\n" + extra + "\r\n");
      }
    }
    return Answer();
  }

  // The well-behaved browser: a kept connection that reads a file of its
  // site through the file service and a page of the web, both correct.
  void expectServed() {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!browser || !browser->connected()) browser = std::make_unique<testsupport::LoopbackClient>(proxy.port());
      HttpResponse file;
      HttpResponse page;
      const bool sent = browser->send(std::string("GET http://") + kGood + "/varlume/file/GET?Path=good.txt HTTP/1.1\r\n"
                                          "Host: " + kGood + "\r\n\r\nGET http://" + originHost +
                                      "/good HTTP/1.1\r\nHost: " + originHost + "\r\n\r\n");
      if (sent && browser->readResponse(file, false, 20000) && browser->readResponse(page, false, 20000)) {
        EXPECT_EQ(file.head.rfind("HTTP/1.1 200", 0), 0u) << file.head;
        EXPECT_EQ(file.body, "GOOD FILE");
        EXPECT_EQ(page.body, "origin good") << page.head;
        return;
      }
      // A browser whose kept connection ended opens a new one, once.
      browser.reset();
    }
    ADD_FAILURE() << "the well-behaved browser was not served";
  }

  // What must never come back to a page: another place's bytes or listing.
  static void expectNothingLeaked(const Answer& answer, const std::string& what) {
    EXPECT_EQ(answer.response.body.find(kCanary), std::string::npos) << what;
    EXPECT_EQ(answer.response.body.find(">sentinel.txt<"), std::string::npos) << what << answer.response.body;
    EXPECT_EQ(answer.response.body.find(">kept.txt<"), std::string::npos) << what << answer.response.body;
  }

  // A head whose lines are the programs' own: no line a value brought in,
  // every line end a CR LF pair.
  static void expectNoInjectedLines(const Answer& answer, const std::string& what) {
    std::string head = answer.response.head;
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(head.find("\nset-cookie"), std::string::npos) << what << "\n" << answer.response.head;
    EXPECT_EQ(head.find("\nx-injected"), std::string::npos) << what << "\n" << answer.response.head;
    for (std::size_t i = 0; i < head.size(); ++i) {
      const bool paired = head[i] == '\r' ? i + 1 < head.size() && head[i + 1] == '\n'
                                           : head[i] != '\n' || (i > 0 && head[i - 1] == '\r');
      EXPECT_TRUE(paired) << what << ": a lone line-end byte at " << i;
    }
  }

  sandbox::VLSandbox box;
  std::unique_ptr<origin::VLOriginServer> origin;
  std::string originHost;
  int base = 0;
  servicetest::VLServiceProcess eventService;
  servicetest::VLServiceProcess fileService;
  proxytest::VLProxyProcess proxy;
  std::unique_ptr<testsupport::LoopbackClient> browser;
  std::string data;
  std::string userConfig;
  std::string allUsersConfig;
  std::string configBytes;
  std::string allUsersBytes;
  sandbox::VLTreeSnapshot before;
  // The places below the data root that attacks may change: the hostile
  // sites' own folders, and the cache.
  std::vector<std::string> attackers;
  std::mutex locationsMutex;
  std::vector<std::string> locations;  // where /r?n=<index> sends the browser
};

// "../" as pages and processes spell it: plain, escaped, escaped twice,
// broken escapes, the other separator.
const std::vector<std::string> kClimbs = {"../",     "..%2F",   "%2E%2E/", "%2e%2e%2f", "%252E%252E%252F",
                                          "..%5C",   ".%2E/",   "%2E./",   "%3.%3./",   "..%255C",
                                          "./../",   "..%2F./", "..%c0%af"};

// Where the climbs lead from a site's home (data root/site): to what lies
// there, with the folder the name is relative to (the home, or the cache
// folder for the cache commands).
struct Place {
  int up;            // climbs from the home
  std::string rest;  // the name below that
};
const std::vector<Place> kPlaces = {
    {1, "other.example/sentinel.txt"},
    {1, "Cache/sentinel.txt"},
    {2, "sentinel.txt"},
    {3, "home/sentinel.txt"},
    {4, "sentinel.txt"},
};

std::string climbed(const std::string& climb, int up, const std::string& rest) {
  std::string name;
  for (int i = 0; i < up; ++i) name += climb;
  return name + rest;
}

// The folder of a place (its name without the last segment).
std::string folderOf(const std::string& name) { return name.substr(0, name.rfind('/') + 1); }

// The commands that take a name, each with the name put where it reads it.
std::vector<std::string> commandsFor(const std::string& climb, const Place& place) {
  const std::string name = climbed(climb, place.up, place.rest);
  const std::string folder = folderOf(name);
  // From the cache folder one climb less reaches the same place.
  const std::string fromCache = climbed(climb, place.up + 1, place.rest);
  const std::string cacheFolder = folderOf(fromCache);
  return {
      "/varlume/file/GET?Path=" + name,
      "/varlume/file/GET?Path=" + name + "&Encoding=base64",
      "/varlume/file/ISFILE?Name=" + name,
      "/varlume/file/SCANDIR?Name=" + folder,
      "/varlume/file/REMOVEFILE?Name=" + name,
      "/varlume/file/REMOVEDIRECTORY?Name=" + folder,
      "/varlume/file/MKDIR?Name=" + folder + "made",
      "/varlume/file/RENAME?Name=" + name + "&NewName=taken.txt",
      "/varlume/file/RENAME?Name=own.txt&NewName=" + folder + "moved.txt",
      "/varlume/file/STRINGFILE?Path=" + folder + "&Name=made.txt&Data=x",
      "/varlume/file/STRINGFILE?Path=&Name=" + folder + "made.txt&Data=x",
      "/varlume/file/REMOVECACHEFILE?Name=" + fromCache,
      "/varlume/file/REMOVECACHEDIRECTORY?Name=" + cacheFolder,
      "/varlume/file/" + name,
  };
}

TEST_F(HostilePages, NamesThatClimbOutTouchAndShowNothing) {
  const Channel browserWays[] = {Channel::Image, Channel::Form, Channel::Redirect};
  int cases = 0;
  for (const std::string& climb : kClimbs) {
    for (const Place& place : kPlaces) {
      for (const std::string& target : commandsFor(climb, place)) {
        // Every case as a fetch and as a local process, and in turn as an
        // image, a form post or a followed redirect.
        const Channel third = browserWays[cases % 3];
        const std::string site = third == Channel::Redirect ? originHost : std::string(kEvil);
        for (Channel channel : {Channel::Fetch, Channel::Direct, third}) {
          const std::string what = std::string(channelName(channel)) + " " + target;
          const Answer answer = attack(channel, channel == Channel::Redirect ? site : kEvil, target);
          EXPECT_TRUE(answer.answered) << what;
          expectNothingLeaked(answer, what);
        }
        expectUnchanged(target);
        ++cases;
      }
    }
    expectServed();
  }
}

TEST_F(HostilePages, AbsoluteNamesStayInTheHome) {
  const sandbox::VLSandboxUser& user = box.user(0);
  std::vector<std::string> names;
  for (const std::string& path : {user.documents + "/sentinel.txt", data + "/other.example/sentinel.txt",
                                  user.home + "/sentinel.txt"}) {
    std::string encoded;
    for (char c : path) encoded += c == '/' ? std::string("%2F") : std::string(1, c);
    names.push_back(path);
    names.push_back(encoded);
    names.push_back(sandbox::programsForm(path));
    names.push_back("C:" + sandbox::programsForm(path));
  }
  for (const std::string& name : names) {
    for (const std::string& target :
         {"/varlume/file/GET?Path=" + name, "/varlume/file/REMOVEFILE?Name=" + name,
          "/varlume/file/REMOVEDIRECTORY?Name=" + folderOf(name), "/varlume/file/RENAME?Name=" + name + "&NewName=t",
          "/varlume/file/STRINGFILE?Path=" + folderOf(name) + "&Name=made.txt&Data=x",
          "/varlume/file/REMOVECACHEFILE?Name=" + name}) {
      for (Channel channel : {Channel::Fetch, Channel::Direct}) {
        const Answer answer = attack(channel, kEvil, target);
        EXPECT_TRUE(answer.answered) << channelName(channel) << " " << target;
        expectNothingLeaked(answer, target);
        expectUnchanged(target);
      }
    }
  }
}

TEST_F(HostilePages, UploadsNamedOutsideAreNotStoredThere) {
  // The file names a browser's form puts into a multipart body (it escapes
  // quotes and line ends), and the folders a page names for them.
  const std::vector<std::string> fileNames = {
      "../../sentinel.txt", "..\\..\\sentinel.txt", "../other.example/sentinel.txt", "%2E%2E%2Fsentinel.txt",
      "..%2F..%2Fmade.txt", "/tmp/made.txt",         "..%5C..%5Cmade.txt",            "a%22%0D%0A%0D%0Ax",
      "....//made.txt",     "../Cache/sentinel.txt",
  };
  const std::vector<std::string> folders = {"", "..%2F", "..%2F..%2F", "%2E%2E/other.example", "..%5C..%5C"};
  const std::string boundary = "----WebKitFormBoundaryq4r7Tz0xXo2p8VlH";
  for (const std::string& folder : folders) {
    for (const std::string& fileName : fileNames) {
      const std::string body = filetest::multipartBody(boundary, {{fileName, std::string(kCanary) + " upload"}});
      const std::string head = "Content-Type: multipart/form-data; boundary=" + boundary +
                               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
      const std::string path = "/SAVEFILE?Path=" + folder;
      Answer through = send(proxy.port(), "POST http://" + std::string(kEvil) + "/varlume/file" + path +
                                              " HTTP/1.1\r\nHost: " + kEvil + "\r\nOrigin: http://" + kEvil +
                                              "\r\nReferer: http://" + kEvil + "/up.html\r\n" + head + "\r\n" + body);
      EXPECT_TRUE(through.answered) << folder << " " << fileName;
      Answer direct = send(base, "POST " + path + " HTTP/1.1\r\nHost: " + kEvil + "\r\n" + head + "\r\n" + body);
      EXPECT_TRUE(direct.answered) << folder << " " << fileName;
      expectUnchanged("an upload of " + fileName + " into " + folder);
    }
  }
}

TEST_F(HostilePages, ForgedSitesHomesAndSettingsChangeNothing) {
  struct Case {
    Channel channel;
    std::string site;    // the URL's host (the Host line)
    std::string target;  // path and query
    std::string extra;   // further head lines
  };
  const std::string victimFile = "/varlume/file/REMOVEFILE?Name=sentinel.txt";
  const std::string victimFolder = "/varlume/file/REMOVEDIRECTORY?Name=";
  const std::string setProxy = "/varlume/file/SETPROXY?Host=127.0.0.1&Port=9";
  const std::string evilPage = "Referer: http://evil.example/page.html\r\n";
  const std::vector<Case> cases = {
      // Another site's data, named by the URL the page makes the browser ask.
      {Channel::Image, kVictim, victimFile, "Referer: http://evil.example/\r\n"},
      {Channel::Image, kVictim, victimFolder, "Referer: http://other.example.evil.example/\r\n"},
      {Channel::Image, kVictim, victimFile, "Referer: http://other.example@evil.example/\r\n"},
      {Channel::Image, kVictim, victimFile, "Referer: http://evil.example/?http://other.example/\r\n"},
      {Channel::Image, kVictim, victimFile, "Referer: null\r\n"},
      {Channel::Image, kVictim, victimFile, "Origin: http://evil.example\r\n"},
      {Channel::Form, kVictim, victimFolder, "Origin: http://evil.example\r\n"},
      {Channel::Form, kVictim, victimFile, "Origin: null\r\n"},
      {Channel::Image, kVictim, "/varlume/event/ADDSERVEREVENT?Path=/x&Event=NOWEB&Action=/y", evilPage},
      {Channel::Image, kVictim, "/varlume/event/DELETESERVEREVENT?Path=/x", evilPage},
      // A page whose browser sends no Referer and no Origin at all.
      {Channel::Image, kVictim, victimFile, ""},
      {Channel::Image, kVictim, victimFolder, ""},
      {Channel::Image, "varlume.internal", setProxy, ""},
      // The site's own name or the privileged host's, on a page of another
      // scheme: such a page never came through the proxy.
      {Channel::Image, kVictim, victimFile, "Referer: https://other.example/\r\n"},
      {Channel::Form, kVictim, victimFolder, "Origin: https://other.example\r\n"},
      {Channel::Image, kVictim, victimFile, "Referer: ftp://other.example/\r\n"},
      {Channel::Image, "varlume.internal", setProxy, "Referer: HTTPS://varlume.internal/\r\n"},
      {Channel::Direct, "varlume.internal", setProxy, "Referer: https://varlume.internal/\r\n"},
      // The privileged host's commands, from a page of another site.
      {Channel::Image, "varlume.internal", setProxy, "Referer: http://evil.example/\r\n"},
      {Channel::Image, "varlume.internal", setProxy, "Origin: http://evil.example\r\n"},
      {Channel::Image, "varlume.internal", setProxy, "Origin: null\r\n"},
      {Channel::Image, "VARLUME.INTERNAL", setProxy, "Referer: http://varlume.internal.evil.example/\r\n"},
      {Channel::Form, "varlume.internal", setProxy, "Origin: http://evil.example\r\n"},
      {Channel::Image, "varlume.internal", "/varlume/file/REMOVEFILE?Name=varlumeportal.html", evilPage},
      {Channel::Image, "varlume.internal",
       "/varlume/event/ADDCROSSSITEUSER?Domain=other.example&CrossDomain=evil.example&Permission=1", evilPage},
      // A page host that climbs out of the data root, or names another site.
      {Channel::Fetch, "evil.example%2F..%2Fother.example", victimFile, ""},
      {Channel::Fetch, "x%2F..%2F..", "/varlume/file/REMOVEFILE?Name=sentinel.txt", ""},
      {Channel::Fetch, "%2E%2E", victimFolder, ""},
      {Channel::Fetch, "evil.example", "/varlume/web/other.example/varlume/file/REMOVEFILE?Name=sentinel.txt", ""},
      {Channel::Fetch, "evil.example", "/x%2F..%2F..%2F/varlume/file/REMOVEFILE?Name=sentinel.txt", ""},
      // Sub-home lines that a page or a process adds.
      {Channel::Fetch, kEvil, victimFile, "VARLUMESUBDOMAINHOME: ../other.example\r\n"},
      {Channel::Fetch, kEvil, victimFile, "VarlumeSubDomainCommonHome: ..\r\n"},
      {Channel::Direct, kEvil, victimFile, "VARLUMESUBDOMAINHOME: ../other.example\r\n"},
      {Channel::Direct, kEvil, victimFile, "VARLUMESUBDOMAINHOME: %2E%2E/other.example\r\n"},
      {Channel::Direct, kEvil, victimFolder, "VARLUMESUBDOMAINCOMMONHOME: ../..\r\n"},
      // Hosts a local process sends straight to the services.
      {Channel::Direct, "..", victimFolder, ""},
      {Channel::Direct, "a/../../x", victimFolder, ""},
      {Channel::Direct, "%2e%2e", victimFile, ""},
      {Channel::Direct, "evil.example/../other.example", victimFile, ""},
      {Channel::Direct, "x%2F..%2Fother.example", victimFolder, ""},
      {Channel::Direct, "other.example\\..\\..", victimFolder, ""},
      {Channel::Direct, "C:/x", victimFolder, ""},
      {Channel::Direct, "evil.example\r\nHost: other.example", victimFile, ""},
      {Channel::Direct, "..", "/varlume/event/ADDSERVEREVENT?Path=/x&Event=NOWEB&Action=/y", ""},
      {Channel::Direct, "x%2F..%2F..%2F..", "/varlume/event/ADDSERVEREVENT?Path=/x&Event=NOWEB&Action=/y", ""},
      // Settings a process may ask for, holding what the file cannot hold.
      {Channel::Direct, "varlume.internal", "/varlume/file/SETPROXY?Host=a&Port=9%0D%0Avarlume=1", ""},
      {Channel::Direct, "varlume.internal", "/varlume/file/SETPROXY?Host=a=b&Port=9", ""},
      {Channel::Direct, "varlume.internal", "/varlume/file/SETPROXY?Host=a&Port=9=1", ""},
      {Channel::Form, "varlume.internal", "/varlume/file/SETPROXY?Host=a&Port=9", "Origin: null\r\n"},
      {Channel::Direct, "varlume.internal", setProxy, "Origin: http://evil.example\r\n"},
      {Channel::Direct, "varlume.internal", setProxy, "Referer: http://evil.example/x\r\n"},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(channelName(c.channel)) + " " + c.site + c.target + " " + c.extra;
    const Answer answer = attack(c.channel, c.site, c.target, c.extra, false);
    EXPECT_TRUE(answer.answered) << what;
    expectNothingLeaked(answer, what);
    expectUnchanged(what);
  }
}

TEST_F(HostilePages, InjectedSqlAndHeaderLinesStayValues) {
  const std::string attached = box.user(0).documents + "/attached.db";
  const std::string values[] = {
      "x'); ATTACH DATABASE '" + attached + "' AS a; CREATE TABLE a.t(x); --",
      "x' OR '1'='1",
      "x'; DROP TABLE ServerEvents; --",
      "x\"); DELETE FROM ServerEvents; --",
  };
  auto escaped = [](const std::string& text) { return percentEncoded(text, "./-_"); };
  int n = 0;
  for (const std::string& value : values) {
    const std::string v = escaped(value);
    const std::string path = "/p" + std::to_string(n++);
    for (Channel channel : {Channel::Fetch, Channel::Form, Channel::Direct}) {
      for (const std::string& target :
           {"/varlume/event/ADDSERVEREVENT?Path=" + path + "&Event=NOWEB&Action=/a/" + v + "&ActionParams=" + v,
            "/varlume/event/ADDSERVEREVENT?Path=" + v + "&Event=" + v + "&Action=/b",
            "/varlume/event/ADDDRAGDROPWEB?Path=/d&Action=" + v + "&ActionParams=" + v + "&ActionSequence=" + v,
            "/varlume/event/DELETEDRAGDROPWEB?Path=/d&Action=" + v, "/varlume/event/GETEVENT?Path=" + v + "&Event=NOWEB",
            "/varlume/event/ADDWEBDRIVESHARE?Path=/w&Group=" + v + "&User=" + v + "&Permission=" + v}) {
        EXPECT_TRUE(attack(channel, kEvil, target).answered) << target;
      }
    }
    // The stored event comes back as the text it was.
    const Answer event = attack(Channel::Fetch, kEvil, "/varlume/event/GETEVENT?Path=" + path + "&Event=NOWEB");
    // (The action comes back %XX-escaped for the head it goes into.)
    EXPECT_EQ(event.response.body.rfind("/a/x", 0), 0u) << event.response.body;
    const std::string params = "?" + value;
    EXPECT_TRUE(event.response.body.size() > params.size() &&
                event.response.body.compare(event.response.body.size() - params.size(), params.size(), params) == 0)
        << event.response.body;
  }
  EXPECT_FALSE(sandbox::isFile(attached));

  // Line ends a page puts into values that come back in a response head.
  const std::string injected = "%0D%0ASet-Cookie:%20vl=1%0D%0AX-Injected:%201";
  for (Channel channel : {Channel::Fetch, Channel::Direct}) {
    const std::vector<std::string> targets = {
        "/varlume/file/REDIRECT?Path=http://evil.example/" + injected,
        "/varlume/file/REDIRECT?Path=" + injected,
        "/varlume/file/REDIRECT?Path=http://evil.example/%0Aset-cookie:%20vl=1",
        "/varlume/file/REDIRECT?Path=http://evil.example/%0Dset-cookie:%20vl=1",
        "/varlume/file/GETPORTAL?x=" + injected,
        "/varlume/file/GET?Path=own.txt" + injected,
        "/varlume/event/GETEVENT?Path=/h&Event=NOWEB",
    };
    EXPECT_TRUE(attack(channel, kEvil, "/varlume/event/ADDSERVEREVENT?Path=/h&Event=NOWEB&Action=/x" + injected +
                                           "&ActionParams=a" + injected)
                    .answered);
    for (const std::string& target : targets) {
      const Answer answer = attack(channel, kEvil, target);
      EXPECT_TRUE(answer.answered) << target;
      expectNoInjectedLines(answer, target);
    }
  }
}

TEST_F(HostilePages, BrokenHeadsAndForeignMethodsAreRefused) {
  const std::string site = originHost;
  const std::string smuggled =
      "GET http://other.example/varlume/file/REMOVEFILE?Name=sentinel.txt HTTP/1.1\r\nHost: other.example\r\n"
      "Referer: http://other.example/\r\n\r\n";
  const std::vector<std::string> heads = {
      "GET http://" + site + "/good\0x HTTP/1.1\r\nHost: "s + site + "\r\n\r\n",
      "GET http://" + site + "/good HTTP/1.1\r\nHost: " + site + "\rX-Smuggled: 1\r\n\r\n",
      "GET http://" + site + "/good HTTP/1.1\r\nHost: " + site + "\r\nX: a\0b\r\n\r\n"s,
      "GET http://evil.example/varlume/file/REMOVEFILE?Name=own.txt HTTP/1.1\r\nHost: evil.example\r\n"
      "Referer: http://evil.example/\r\nX: \0\r\n\r\n"s,
      "CONNECT " + site + " HTTP/1.1\r\nHost: " + site + "\r\n\r\n",
      "TRACE http://" + site + "/good HTTP/1.1\r\nHost: " + site + "\r\n\r\n",
      "PROPFIND http://evil.example/varlume/file/own.txt HTTP/1.1\r\nHost: evil.example\r\n\r\n",
      "GET http://" + site + "/good HTTP/1.1\r\nHost: " + site + "\r\nHost: evil.example\r\n\r\n",
      "GET http://evil.example/varlume/file/GETVERSION HTTP/1.1\r\nHost: evil.example\r\n"
      "Content-Length: 50\r\nContent-Length: 5\r\n\r\nhello",
      "GET http://evil.example/varlume/file/GETVERSION HTTP/1.1\r\nHost: evil.example\r\n"
      "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
      // The URL names one site, the Host line and the Referer another.
      "GET http://evil.example/varlume/file/REMOVEFILE?Name=sentinel.txt HTTP/1.1\r\nHost: other.example\r\n"
      "Referer: http://other.example/\r\n\r\n",
      "GET http://evil.example/varlume/file/REMOVEFILE?Name=sentinel.txt HTTP/1.1\r\nHost: evil.example\r\n"
      "Host: other.example\r\nReferer: http://other.example/\r\n\r\n",
      "GET http://evil.example/varlume/web/other.example/varlume/file/REMOVEFILE?Name=sentinel.txt HTTP/1.1\r\n"
      "Host: other.example\r\nReferer: http://other.example/\r\n\r\n",
      // A second request smuggled into the first one's body.
      "POST http://evil.example/varlume/file/GETVERSION HTTP/1.1\r\nHost: evil.example\r\nContent-Length: 0\r\n"
      "Content-Length: " + std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled,
  };
  for (const std::string& head : heads) {
    const Answer answer = send(proxy.port(), std::string(head.data(), head.size()));
    EXPECT_TRUE(answer.answered) << head;
    expectUnchanged(head);
    expectServed();
  }
}

TEST_F(HostilePages, MirrorNamesStayInThePageHostsFolder) {
  // A mirror saves the page it fetched under the page host's folder; these
  // names and hosts try to put it elsewhere.
  const std::vector<std::string> names = {"../sentinel.txt",        "..%2F..%2Fsentinel.txt", "%2E%2E%2F" "made.html",
                                          "..%5C..%5Cmade.html",    "%252E%252E%252Fmade.html", "/" + box.user(0).documents.substr(1) + "/made.html",
                                          "..\\made.html",          "x/../../made.html"};
  for (const std::string& name : names) {
    for (const std::string& target :
         {"/varlume/mirror/" + originHost + "/p.html?MIRRORAS=" + name, "/varlume/mirror/" + originHost + "/" + name}) {
      for (Channel channel : {Channel::Fetch, Channel::Image}) {
        const std::string what = std::string(channelName(channel)) + " " + target;
        EXPECT_TRUE(attack(channel, kEvil, target).answered) << what;
        expectUnchanged(what);
      }
    }
  }
  for (const std::string site : {"x%2F..%2F..", "evil.example%2F..%2Fother.example", "%2E%2E"}) {
    const std::string target = "/varlume/mirror/" + originHost + "/sentinel.txt";
    EXPECT_TRUE(attack(Channel::Fetch, site, target).answered) << site;
    expectUnchanged(site + target);
  }
}

TEST_F(HostilePages, CachedNamesStayInTheCache) {
  // Images and their queries whose names climb; each is relayed from the
  // page's origin and kept by the image rule.
  int n = 0;
  for (const std::string& climb : kClimbs) {
    for (const std::string& target : {"/" + climbed(climb, 4, "made" + std::to_string(n) + ".gif"),
                                      "/img/" + climbed(climb, 3, "sentinel.txt%3F.gif"),
                                      "/i.gif?x=" + climbed(climb, 4, "made.gif")}) {
      for (Channel channel : {Channel::Image, Channel::Fetch}) {
        const std::string what = std::string(channelName(channel)) + " " + target;
        EXPECT_TRUE(attack(channel, originHost, target).answered) << what;
        expectUnchanged(what);
      }
      ++n;
    }
  }
}

TEST_F(HostilePages, FollowUpsOfAHostileEventChangeNothing) {
  // A page of a site that cannot be reached registers what the proxy is to
  // ask for in the failed request's place.
  const std::string site = "127.0.0.1:" + std::to_string(sandbox::freeLoopbackPorts(1)[0]);
  attackers.push_back(site);
  const std::string injected = "%0D%0ASet-Cookie:%20vl=1";
  const std::vector<std::pair<std::string, std::string>> actions = {
      {"/varlume/file/REMOVEFILE", "Name=..%2Fother.example%2Fsentinel.txt"},
      {"/varlume/file/REMOVEDIRECTORY", "Name=..%2F..%2F"},
      {"/varlume/web/other.example/varlume/file/REMOVEFILE", "Name=sentinel.txt"},
      {"/x%2F..%2F..%2Fother.example/varlume/file/REMOVEDIRECTORY", "Name="},
      {"/varlume/file/SETPROXY", "Host=127.0.0.1&Port=9"},
      {"/varlume/event/ADDCROSSSITEUSER", "Domain=other.example&CrossDomain=x&Permission=1"},
      {"/varlume/file/REDIRECT", "Path=" + injected},
      {"/a" + injected, "b" + injected},
      {"http://other.example/varlume/file/REMOVEFILE", "Name=sentinel.txt"},
  };
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const std::string path = "/e" + std::to_string(i);
    const Answer added = attack(Channel::Fetch, site, "/varlume/event/ADDSERVEREVENT?Path=" + path +
                                                          "&Event=NOWEB&Action=" + actions[i].first +
                                                          "&ActionParams=" + actions[i].second);
    ASSERT_EQ(added.response.head.rfind("HTTP/1.1 200", 0), 0u) << added.response.head;
    const std::string what = actions[i].first + "?" + actions[i].second;
    const Answer answer = send(proxy.port(), "GET http://" + site + path + " HTTP/1.1\r\nHost: " + site +
                                                 "\r\nReferer: http://" + site + "/index.html\r\n\r\n");
    EXPECT_TRUE(answer.answered) << what;
    expectNoInjectedLines(answer, what);
    expectUnchanged(what);
  }
}

TEST_F(HostilePages, ServicePortsNamedAsWebSitesServeOnlyThatName) {
  // A page may name a service's own port as a web site: the proxy relays
  // the request there like any other, and the service sees a site of that
  // name, never another site, the privileged host or a sub-home.
  // The relayed Host line names the host with its port, so the service
  // keeps that site's data (if any) in a folder whose name begins with
  // "127.0.0.1".
  const std::vector<int> ports = {base, base + 3};
  attackers.push_back("127.0.0.1");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/REMOVEFILE?Name=..%2Fother.example%2Fsentinel.txt", ""},
      {"/REMOVEDIRECTORY?Name=..%2F..%2F", ""},
      {"/REMOVEDIRECTORY?Name=", "VARLUMESUBDOMAINHOME: ../other.example\r\n"},
      {"/REMOVEFILE?Name=sentinel.txt", "VARLUMESUBDOMAINCOMMONHOME: ../other.example\r\n"},
      {"/SETPROXY?Host=127.0.0.1&Port=9", ""},
      {"/SETPROXY?Host=127.0.0.1&Port=9", "Host: varlume.internal\r\n"},
      {"/ADDCROSSSITEUSER?Domain=other.example&CrossDomain=x&Permission=1", ""},
      {"/ADDSERVEREVENT?Path=/x&Event=NOWEB&Action=/y", "Host: other.example\r\n"},
  };
  for (int port : ports) {
    const std::string site = "127.0.0.1:" + std::to_string(port);
    for (const auto& [target, extra] : cases) {
      const std::string what = site + target + " " + extra;
      EXPECT_TRUE(attack(Channel::Fetch, site, target, extra).answered) << what;
      expectUnchanged(what);
    }
  }
}

TEST_F(HostilePages, ForgedNoticesLeaveEveryAnswerIntact) {
  // Another local process finds the notification listeners (they accept on
  // every interface) and sends well-formed notices for the ids in use.
  const std::string config = sandbox::readFile(userConfig).value_or("");
  const std::size_t at = config.find("varlumeinternal=");
  ASSERT_NE(at, std::string::npos) << config;
  const int first = std::atoi(config.c_str() + at + 16);
  std::string forged;
  for (int id = 1; id <= 400; ++id) {
    for (const char* kind : {" 1 1", " 1 0", " 1 +"}) {
      char text[16];
      std::snprintf(text, sizeof text, "%08d%s", id, kind);
      forged += text;
    }
  }
  auto forge = [&] {
    int reached = 0;
    for (int port = first; port <= first + 200; ++port) {
      const int socket = proxytest::connectLoopback(port);
      if (socket < 0) continue;
      ++reached;
      proxytest::sendText(socket, forged);
      proxytest::closeConnection(socket);
    }
    return reached;
  };
  // The browser's own connection has its listener by now; the forgery
  // comes before and between its pipelined requests.
  for (int round = 0; round < 3; ++round) {
    EXPECT_GT(forge(), 0);
    testsupport::LoopbackClient client(proxy.port());
    std::string pipeline;
    for (int i = 0; i < 6; ++i) {
      pipeline += "GET http://" + originHost + "/good HTTP/1.1\r\nHost: " + originHost + "\r\n\r\n";
      pipeline += std::string("GET http://") + kGood + "/varlume/file/GET?Path=good.txt HTTP/1.1\r\nHost: " + kGood +
                  "\r\n\r\n";
    }
    ASSERT_TRUE(client.send(pipeline));
    forge();
    for (int i = 0; i < 6; ++i) {
      HttpResponse page;
      HttpResponse file;
      ASSERT_TRUE(client.readResponse(page, false, 20000)) << "round " << round << " answer " << 2 * i;
      EXPECT_EQ(page.body, "origin good") << page.head;
      ASSERT_TRUE(client.readResponse(file, false, 20000)) << "round " << round << " answer " << 2 * i + 1;
      EXPECT_EQ(file.body, "GOOD FILE") << file.head;
    }
    expectServed();
  }
}

// Another site's page asks the browser for a victim's page with pairs of
// its own: the victim's page comes unchanged, whatever the channel. Only the
// victim's own page has its pages filled.
TEST_F(HostilePages, AnotherSitesPageNeverFillsAVictimsPage) {
  ASSERT_TRUE(sandbox::writeFile(data + "/" + kVictim + "/docs/page.html", "<p>NAME</p>"));
  before = snapshot();
  const std::string target = "/varlume/file/GET?Path=docs/page.html&VLReplaceCount=1&VLReplaceKey1=NAME"
                             "&VLReplaceValue1=%3Cimg%20src%3Dx%20onerror%3Dalert(1)%3E";
  struct Case {
    const char* name;
    Channel channel;
    std::string extra;
    bool ownPage;
    std::string body;
  };
  const Case cases[] = {
      {"evil page's fetch", Channel::Fetch, "Referer: http://evil.example/page.html\r\n", false, "<p>NAME</p>"},
      {"evil origin's form", Channel::Form, "Origin: http://evil.example\r\n", false, "<p>NAME</p>"},
      {"image without a referer", Channel::Image, "", false, "<p>NAME</p>"},
      {"followed redirect", Channel::Redirect, "", true, "<p>NAME</p>"},
      {"another local process", Channel::Direct, "", false, "<p>NAME</p>"},
      {"the victim's own page", Channel::Fetch, "", true, "<p>%3Cimg%20src%3Dx%20onerror%3Dalert(1)%3E</p>"},
  };
  for (const Case& c : cases) {
    const Answer answer = attack(c.channel, kVictim, target, c.extra, c.ownPage);
    ASSERT_TRUE(answer.answered) << c.name;
    EXPECT_EQ(answer.response.body, c.body) << c.name << " (" << channelName(c.channel) << ")";
  }
}


// Failures a page can provoke, each answered with its reason: none names
// where the user's files lie (the sandbox's folders, in either path form);
// paths read relative to the data root, folders that could not be made by
// their own name.
TEST_F(HostilePages, NoReasonNamesWhereTheFilesLie) {
  const std::string own = data + "/" + originHost;
  ASSERT_TRUE(sandbox::writeFile(own + "/blk", "a file where a folder would go"));
  ASSERT_TRUE(sandbox::writeFile(own + "/dir/inside.txt", "x"));
  ASSERT_TRUE(sandbox::writeFile(data + "/" + kEvil + "/folder/inside.txt", "x"));
  // The site's event database is a folder: every change to it fails.
  ASSERT_TRUE(sandbox::writeFile(data + "/" + kEvil + "/EventDatabase.db/inside.txt", "x"));
  struct Case {
    std::string site;
    std::string target;
    std::string reason;  // a piece of the answer that shows the failure was met
  };
  const std::string evil = kEvil;
  const Case cases[] = {
      {originHost, "/varlume/mirror/" + originHost + "/blk/x.html",
       "500 blk already exists (not necessarily as a directory)."},
      {originHost, "/varlume/mirror/" + originHost + "/dir", "500 " + originHost + "\\dir is a directory, not a file."},
      {evil, "/varlume/file/REMOVEFILE?Name=folder", evil + "\\folder is a directory, not a file."},
      {evil, "/varlume/file/RENAME?Name=/&NewName=x", evil + "\\ cannot be renamed."},
      {evil, "/varlume/file/RENAME?Name=missing.txt&NewName=x.txt", "missing.txt"},
      {evil, "/varlume/file/GET?Path=missing.txt", "missing.txt not found"},
      {evil, "/varlume/file/SCANDIR?Name=own.txt", "own.txt is not a directory."},
      {evil, "/varlume/file/ISFILE?Name=folder", "folder is not a file."},
      {evil, "/varlume/file/MKDIR?Name=own.txt/x", "own.txt already exists"},
      {evil, "/varlume/file/STRINGFILE?Path=own.txt&Name=x.txt&Data=y", "own.txt"},
      {evil, "/varlume/event/ADDSERVEREVENT?Path=/p&Event=NOWEB&Action=/q", evil + "\\EventDatabase.db"},
      {evil, "/varlume/event/ADDWEBDRIVE?LocalDir=d&Check=/c", evil + "\\EventDatabase.db"},
  };
  const std::string root = box.root();
  const std::string rootShown = sandbox::programsForm(root);
  for (const Case& c : cases) {
    const std::string what = c.site + c.target;
    const Answer answer = attack(Channel::Fetch, c.site, c.target);
    ASSERT_TRUE(answer.answered) << what;
    const std::string text = answer.response.head + answer.response.body;
    EXPECT_NE(text.find(c.reason), std::string::npos) << what << "\n" << text;
    EXPECT_EQ(text.find(root), std::string::npos) << what << "\n" << text;
    EXPECT_EQ(text.find(rootShown), std::string::npos) << what << "\n" << text;
    expectUnchanged(what);
  }
}

// A page of one site has a real browser ask for another site's mirror
// (an <img> needs no script and brings no Referer of that site): the
// victim's folder stays byte for byte as it was, its event database and its
// stored look-up included. The victim's own page still mirrors.
const char kMirrorAttackPage[] = R"(<!DOCTYPE html>
<html><body>
<img src="http://victim.example/varlume/mirror/victim.example/page.html?MIRRORAS=notes.txt">
<img src="http://victim.example/varlume/mirror/victim.example/page.html?MIRRORAS=EventDatabase.db">
<img src="http://victim.example/varlume/mirror/victim.example/page.html?MIRRORAS=made/page.html">
<img src="http://victim.example/varlume/mirror/victim.example/notes.txt">
<img src="http://victim.example/Varlume/Mirror/victim.example/eventdatabase.DB">
<script>window.addEventListener('load', () => fetch('/report'));</script>
</body></html>)";

const char kMirrorOwnPage[] = R"(<!DOCTYPE html>
<html><body>
<img src="/varlume/mirror/victim.example/page.html?MIRRORAS=kept.html">
<script>window.addEventListener('load', () => fetch('/report'));</script>
</body></html>)";

class MirrorThroughABrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(web.listening());
    ASSERT_TRUE(system.start(web.port()));
    browser = std::make_unique<browsertest::VLChromium>(box, system.proxyPort());
    const std::string reason = browser->unavailableReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    victim = box.user(0).documents + "/Varlume/victim.example";
  }

  // One request through the proxy on a connection of its own: its status line.
  std::string status(const std::string& request) {
    testsupport::LoopbackClient client(system.proxyPort());
    HttpResponse response;
    if (!client.send(request) || !client.readResponse(response, false, kAnswerLimitMs)) return "(no answer)";
    return response.head.substr(0, response.head.find("\r\n")) + " " + response.body;
  }

  std::string lookUp() {
    return status("GET http://victim.example/varlume/event/getEvent?Path=/gone&Event=NOWEB HTTP/1.1\r\n"
                  "Host: victim.example\r\n\r\n");
  }

  bool reported(const std::string& site) {
    for (const origin::VLReceived& r : web.received()) {
      if (r.path() == "http://" + site + "/report") return true;
    }
    return false;
  }

  origin::VLOriginServer web{[](const origin::VLReceived& r) {
    const std::string url = r.path().substr(0, r.path().find('?'));
    if (url == "http://evil.example/attack.html") {
      return origin::VLReply::withLength(kMirrorAttackPage, "Content-Type: text/html\r\n");
    }
    if (url == "http://victim.example/own.html") {
      return origin::VLReply::withLength(kMirrorOwnPage, "Content-Type: text/html\r\n");
    }
    if (url == "http://victim.example/page.html" || url == "http://victim.example/notes.txt" ||
        url == "http://victim.example/eventdatabase.DB") {
      return origin::VLReply::withLength("the page of " + url, "Content-Type: text/html\r\n");
    }
    return origin::VLReply::withLength("", "");
  }};
  sandbox::VLSandbox box;
  servicetest::VLWholeSystem system{box};
  std::unique_ptr<browsertest::VLChromium> browser;
  std::string victim;
};

TEST_F(MirrorThroughABrowser, AnotherSitesImageLeavesTheVictimsFolderAsItWas) {
  // The victim's own page stored a server event and a file of its own.
  ASSERT_EQ(status("GET http://victim.example/varlume/event/ADDSERVEREVENT?Path=/gone&Event=NOWEB"
                   "&Action=/varlume/web/victim.example/back.html&ActionParams=a=1 HTTP/1.1\r\n"
                   "Host: victim.example\r\nReferer: http://victim.example/\r\n\r\n")
                .substr(0, 12),
            "HTTP/1.1 200");
  ASSERT_TRUE(sandbox::writeFile(victim + "/notes.txt", "the victim's notes"));
  const std::string storedLookUp = lookUp();
  ASSERT_EQ(storedLookUp.substr(0, 12), "HTTP/1.1 200") << storedLookUp;
  ASSERT_TRUE(sandbox::isFile(victim + "/EventDatabase.db"));
  const sandbox::VLTreeSnapshot before = sandbox::snapshotTree(victim);

  EXPECT_TRUE(browser->openUntil("http://evil.example/attack.html", [&] { return reported("evil.example"); }))
      << browser->lastErrors();
  EXPECT_EQ(sandbox::treeDifferences(before, sandbox::snapshotTree(victim)),
            "");
  EXPECT_EQ(lookUp(), storedLookUp);
  for (const origin::VLReceived& r : web.received()) {
    EXPECT_EQ(r.path().rfind("http://victim.example/", 0), std::string::npos) << "the victim was asked: " << r.path();
  }

  // The victim's own page mirrors as before.
  EXPECT_TRUE(browser->openUntil("http://victim.example/own.html", [&] { return reported("victim.example"); }))
      << browser->lastErrors();
  EXPECT_EQ(sandbox::readFile(victim + "/kept.html").value_or(""), "the page of http://victim.example/page.html");
  EXPECT_EQ(sandbox::readFile(victim + "/notes.txt").value_or(""), "the victim's notes");
  EXPECT_EQ(lookUp(), storedLookUp);
}

}  // namespace

namespace {

// A site's templates with a comment that a browser ends early (or, for the
// last, late), each before a script whose text holds "-->"; its own page
// frames each with a value that would call the page's function if it ever
// stood in the script.
const char* const kCommentForms[] = {"<!-->", "<!--->", "<!-- a --!>", "<!-- a -- >"};

const char kFramingPage[] = R"(<!DOCTYPE html>
<html><body><script>
let ran = 0;
function hit() { ran += 1; }
let left = 4;
const shown = [];
for (let i = 0; i < 4; ++i) {
  const frame = document.createElement('iframe');
  frame.onload = () => {
    shown[i] = frame.contentDocument.getElementById('shown').textContent;
    if (--left === 0) fetch('/report?ran=' + ran + '&shown=' + encodeURIComponent(shown.join(',')));
  };
  frame.src = '/varlume/file/template' + i + '.html?VLReplaceCount=1&VLReplaceKey1=NAME&VLReplaceValue1=parent.hit()';
  document.body.appendChild(frame);
}
</script></body></html>)";

class FilledPageThroughABrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(web.listening());
    ASSERT_TRUE(system.start(web.port()));
    browser = std::make_unique<browsertest::VLChromium>(box, system.proxyPort());
    const std::string reason = browser->unavailableReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }

  // The query of the page's report; empty while none came.
  std::string report() {
    for (const origin::VLReceived& r : web.received()) {
      const std::string prefix = "http://site.example/report?";
      if (r.path().rfind(prefix, 0) == 0) return r.path().substr(prefix.size());
    }
    return std::string();
  }

  origin::VLOriginServer web{[](const origin::VLReceived& r) {
    if (r.path() == "http://site.example/frame.html") {
      return origin::VLReply::withLength(kFramingPage, "Content-Type: text/html\r\n");
    }
    return origin::VLReply::withLength("", "");
  }};
  sandbox::VLSandbox box;
  servicetest::VLWholeSystem system{box};
  std::unique_ptr<browsertest::VLChromium> browser;
};

TEST_F(FilledPageThroughABrowser, AValueNeverRunsInAScriptAfterAComment) {
  const std::string home = box.user(0).documents + "/Varlume/site.example";
  for (std::size_t i = 0; i < std::size(kCommentForms); ++i) {
    ASSERT_TRUE(sandbox::writeFile(home + "/template" + std::to_string(i) + ".html",
                                   "<!DOCTYPE html><p id=\"shown\">NAME</p>" + std::string(kCommentForms[i]) +
                                       "<script>var s = \"-->\"; NAME</script>"));
  }
  EXPECT_TRUE(browser->openUntil("http://site.example/frame.html", [&] { return !report().empty(); }))
      << browser->lastErrors();
  // The text before each comment is filled; no value ran as script.
  EXPECT_EQ(report(), "ran=0&shown=parent.hit()%2Cparent.hit()%2Cparent.hit()%2Cparent.hit()");
}

}  // namespace
