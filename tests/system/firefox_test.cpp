// Real Firefox (Debian's firefox-esr, headless) with a profile where Debian
// keeps them today (~/.config/mozilla/firefox): the first start of varlume
// sets the profile's proxy, and Firefox then loads a page through it. The
// test's origin stands behind varlume as its upstream proxy under a name
// nothing resolves, so only a request that went through varlume reaches it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/firefox.h"
#include "support/origin_server.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"

namespace {

constexpr char kPage[] = "http://origin.test/firefox-page.html";

TEST(Firefox, AFirstStartPointsDebiansFirefoxAtTheProxy) {
  const std::string reason = browsertest::VLFirefox::unavailableReason();
  if (!reason.empty()) GTEST_SKIP() << reason;

  sandbox::VLSandbox box;
  // A profile as Firefox makes it: named in profiles.ini, holding prefs.js
  // and times.json.
  const std::string firefox = box.user(0).appData + "/.config/mozilla/firefox/";
  const std::string profile = firefox + "t3st1ng.default-esr/";
  ASSERT_TRUE(sandbox::writeFile(firefox + "profiles.ini",
                                 "[Profile0]\nName=default-esr\nIsRelative=1\nPath=t3st1ng.default-esr\n"
                                 "Default=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n"));
  ASSERT_TRUE(sandbox::writeFile(profile + "prefs.js", browsertest::VLFirefox::quietPreferences()));
  ASSERT_TRUE(sandbox::writeFile(profile + "times.json", "{\"created\":1700000000000}"));
  // The shipped script and its signature, as the default files put them.
  const std::string allUsers = box.commonAppData() + "/Varlume/";
  for (const char* name : {"Firefox.browser", "Firefox.browser.sig"}) {
    ASSERT_TRUE(std::filesystem::create_directories(allUsers) || std::filesystem::is_directory(allUsers));
    std::filesystem::copy_file(std::string(VARLUME_PROGRAM_DIR "/") + name, allUsers + name);
  }

  origin::VLOriginServer origin([](const origin::VLReceived&) {
    return origin::VLReply::withLength("<html><body><p>through varlume</p></body></html>",
                                       "Content-Type: text/html\r\n");
  });
  ASSERT_TRUE(origin.listening());
  proxytest::VLProxyProcess proxy;
  ASSERT_TRUE(proxy.start(box, proxytest::freeServicesBase({0, 3}),
                          {"-x", "127.0.0.1", "-y", std::to_string(origin.port())}));
  const std::string preferences = sandbox::readFile(profile + "user.js").value_or("");
  ASSERT_NE(preferences.find("user_pref(\"network.proxy.http_port\", " + std::to_string(proxy.port()) + ");"),
            std::string::npos)
      << preferences;

  browsertest::VLFirefox browser(box);
  const bool loaded = browser.load(profile, kPage);
  const std::string wanted = std::string("GET ") + kPage + " HTTP/1.1\r\n";
  bool through = false;
  for (const origin::VLReceived& request : origin.received()) {
    through = through || request.head.rfind(wanted, 0) == 0;
  }
  if (!through && !loaded) GTEST_SKIP() << "Firefox cannot start here: " << browser.lastErrorLine();
  EXPECT_TRUE(through) << "the origin never saw " << wanted;
}

}  // namespace
