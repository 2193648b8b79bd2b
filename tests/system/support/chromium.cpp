#include "support/chromium.h"

#include <unistd.h>

#include <chrono>

namespace browsertest {

namespace {

const char* const kCandidates[] = {"/usr/bin/chromium", "/usr/bin/chromium-browser"};


std::string firstLine(const std::string& text) {
  // Chromium's own log lines start with "[pid:tid:...]"; the first one that
  // says ERROR or FATAL is the likely reason.
  for (const char* mark : {"FATAL", "ERROR"}) {
    std::size_t at = text.find(mark);
    if (at == std::string::npos) continue;
    std::size_t start = text.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, text.find('\n', at) - start);
  }
  return text.substr(0, text.find('\n'));
}

}  // namespace

std::string chromiumPath() {
  for (const char* path : kCandidates) {
    if (::access(path, X_OK) == 0) return path;
  }
  return std::string();
}

std::vector<std::string> chromiumArguments(const std::string& folder, int proxyPort, const std::string& features) {
  return {
      "--headless",
      "--no-sandbox",  // the tests may run as root
      "--disable-gpu",
      "--disable-dev-shm-usage",
      "--no-first-run",
      "--no-default-browser-check",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-extensions",
      "--disable-features=HttpsUpgrades,HttpsFirstBalancedModeAutoEnable,MediaRouter" + features,
      "--user-data-dir=" + folder + "/profile",
      "--proxy-server=127.0.0.1:" + std::to_string(proxyPort),
      "--proxy-bypass-list=<-loopback>",
  };
}

VLChromium::VLChromium(sandbox::VLSandbox& box, int proxyPort)
    : box_(box), proxyPort_(proxyPort), folder_(box.makeFolder("chromium")) {}

std::string VLChromium::unavailableReason() {
  if (chromiumPath().empty()) {
    return "Chromium is not installed (scripts/setup.sh installs Debian's chromium package)";
  }
  std::string dom;
  if (run({"--dump-dom", "data:text/html,<p>ready</p>"}, dom, 60000) &&
      dom.find("<p>ready</p>") != std::string::npos) {
    return std::string();
  }
  return "Chromium cannot start here: " + firstLine(errors_);
}

bool VLChromium::dumpDom(const std::string& url, std::string& dom, int timeoutMs) {
  return run({"--virtual-time-budget=20000", "--dump-dom", url}, dom, timeoutMs);
}

bool VLChromium::screenshot(const std::string& url, const std::string& pngPath, int timeoutMs) {
  std::string ignored;
  return run({"--window-size=800,600", "--screenshot=" + pngPath, url}, ignored, timeoutMs) &&
         sandbox::isFile(pngPath);
}

bool VLChromium::openUntil(const std::string& url, const std::function<bool()>& finished,
                           int timeoutMs) {
  std::string ignored;
  return run({url}, ignored, timeoutMs, finished);
}

bool VLChromium::run(std::vector<std::string> arguments, std::string& output, int timeoutMs,
                     const std::function<bool()>& finished) {
  output.clear();
  errors_.clear();
  const std::string program = chromiumPath();
  if (program.empty()) return false;
  const std::string outFile = folder_ + "/out-" + std::to_string(++runs_) + ".txt";
  const std::string errFile = folder_ + "/err-" + std::to_string(runs_) + ".txt";
  std::vector<std::string> all = chromiumArguments(folder_, proxyPort_);
  all.insert(all.end(), arguments.begin(), arguments.end());
  sandbox::VLChildProgram browser;
  // A group of its own, so every helper process it starts ends with it.
  if (!browser.startInGroup(program, all, folder_, box_.environment(0), outFile, errFile)) return false;

  int status = -1;
  bool ended = false;
  bool held = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ended && !held && std::chrono::steady_clock::now() < deadline) {
    if (browser.waitForExit(20, &status)) {
      ended = true;
    } else if (finished && finished()) {
      held = true;
    }
  }
  browser.stop();
  output = sandbox::readFile(outFile).value_or("");
  errors_ = sandbox::readFile(errFile).value_or("");
  if (finished) return held;
  return ended && status == 0;
}

}  // namespace browsertest
