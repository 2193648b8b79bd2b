#include "support/firefox.h"

#include <unistd.h>

namespace browsertest {

namespace {

constexpr char kFirefoxPath[] = "/usr/bin/firefox-esr";

}  // namespace

std::string VLFirefox::unavailableReason() {
  if (::access(kFirefoxPath, X_OK) != 0) {
    return "Firefox is not installed (scripts/setup.sh installs Debian's firefox-esr package)";
  }
  return std::string();
}

std::string VLFirefox::quietPreferences() {
  return "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
         "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
         "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
         "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
         "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
         "user_pref(\"app.update.enabled\", false);\n"
         "user_pref(\"extensions.update.enabled\", false);\n"
         "user_pref(\"browser.safebrowsing.malware.enabled\", false);\n"
         "user_pref(\"browser.safebrowsing.phishing.enabled\", false);\n"
         "user_pref(\"network.captive-portal-service.enabled\", false);\n"
         "user_pref(\"network.connectivity-service.enabled\", false);\n"
         "user_pref(\"network.http.speculative-parallel-limit\", 0);\n"
         "user_pref(\"dom.security.https_first\", false);\n";
}

bool VLFirefox::load(const std::string& profileFolder, const std::string& url, int timeoutMs) {
  errors_.clear();
  const std::string folder = box_.makeFolder("firefox");
  const std::string run = std::to_string(++runs_);
  const std::string errFile = folder + "/err-" + run + ".txt";
  sandbox::VLChildProgram browser;
  // A group of its own, so every helper process it starts ends with it.
  if (!browser.startInGroup(kFirefoxPath,
                            {"--headless", "--no-remote", "--profile", profileFolder, "--screenshot",
                             folder + "/page-" + run + ".png", url},
                            folder, box_.environment(0), folder + "/out-" + run + ".txt", errFile)) {
    return false;
  }
  int status = -1;
  const bool ended = browser.waitForExit(timeoutMs, &status);
  browser.stop();
  errors_ = sandbox::readFile(errFile).value_or("");
  return ended && status == 0;
}

std::string VLFirefox::lastErrorLine() const {
  // Firefox's own notice of headless mode is no error.
  std::size_t at = 0;
  while (at < errors_.size()) {
    const std::size_t end = errors_.find('\n', at);
    const std::string line = errors_.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!line.empty() && line.find("headless mode") == std::string::npos) return line;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return "(nothing on standard error)";
}

}  // namespace browsertest
