// Headless Chromium for the system tests: Debian's chromium, run once per
// page with a profile folder inside the sandbox and every request (loopback
// included) sent through the proxy at 127.0.0.1:proxyPort. Each run is
// bounded in time and its whole process group is killed when it ends.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace browsertest {

// Chromium's program; empty when it is not installed.
std::string chromiumPath();
// The arguments of every run: headless, a profile in `folder`, every request
// through the proxy; `features` (",Name,...") are disabled as well.
std::vector<std::string> chromiumArguments(const std::string& folder, int proxyPort,
                                           const std::string& features = "");

class VLChromium {
 public:
  VLChromium(sandbox::VLSandbox& box, int proxyPort);

  // Empty when Chromium can run here; otherwise one line that says why not.
  std::string unavailableReason();
  // The page's DOM after its scripts ran (Chromium's --dump-dom), waiting
  // for pending work up to the page's virtual-time budget; false when
  // Chromium failed or ran out of `timeoutMs`.
  bool dumpDom(const std::string& url, std::string& dom, int timeoutMs = 60000);
  // A PNG screenshot of the page at `pngPath` (--screenshot).
  bool screenshot(const std::string& url, const std::string& pngPath, int timeoutMs = 60000);
  // Keeps the page open until `finished` holds (the page reported its end
  // to the origin, say), at most `timeoutMs`; true when it held in time.
  bool openUntil(const std::string& url, const std::function<bool()>& finished, int timeoutMs = 60000);
  // What Chromium wrote to its standard error in the last run.
  const std::string& lastErrors() const { return errors_; }

 private:
  // Runs Chromium with `arguments` until it ends by itself (no `finished`)
  // or `finished` holds; true when that happened in time, with exit code 0
  // for a run that ended by itself.
  bool run(std::vector<std::string> arguments, std::string& output, int timeoutMs,
           const std::function<bool()>& finished = nullptr);

  sandbox::VLSandbox& box_;
  int proxyPort_;
  std::string folder_;
  std::string errors_;
  int runs_ = 0;
};

}  // namespace browsertest
