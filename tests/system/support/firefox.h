// Headless Firefox for the system tests: Debian's firefox-esr, run once per
// page on a profile folder the test made, with the proxy settings that
// profile holds (nothing on the command line points it at the proxy). Each
// run is bounded in time and its whole process group is killed when it ends.
#pragma once
#include <string>

#include "support/sandbox.h"

namespace browsertest {

class VLFirefox {
 public:
  explicit VLFirefox(sandbox::VLSandbox& box) : box_(box) {}

  // Empty when firefox-esr is installed; otherwise one line that says why not.
  static std::string unavailableReason();
  // Preferences a test profile holds so that a headless run loads only the
  // page it is given: no first-run pages, updates, telemetry or HTTPS-first.
  static std::string quietPreferences();
  // Loads `url` in the profile at `profileFolder` and ends once the page
  // loaded (Firefox's --screenshot); true when Firefox ended by itself with
  // status 0 within `timeoutMs`.
  bool load(const std::string& profileFolder, const std::string& url, int timeoutMs = 90000);
  // The first line Firefox wrote to its standard error in the last run.
  std::string lastErrorLine() const;

 private:
  sandbox::VLSandbox& box_;
  std::string errors_;
  int runs_ = 0;
};

}  // namespace browsertest
