// Headless Chromium driven over its DevTools pipe, for the system tests that
// need what a user does: a real mouse click, typed text. One browser run with
// one page, every request through the proxy (as VLChromium), frames of other
// sites in the page's own process so that one session sees every frame; each
// step is bounded in time and the whole process group ends with the object.
#pragma once
#include <deque>
#include <optional>
#include <string>

#include "support/sandbox.h"

namespace browsertest {

class VLDevToolsBrowser {
 public:
  VLDevToolsBrowser(sandbox::VLSandbox& box, int proxyPort);
  ~VLDevToolsBrowser();
  VLDevToolsBrowser(const VLDevToolsBrowser&) = delete;
  VLDevToolsBrowser& operator=(const VLDevToolsBrowser&) = delete;

  // Starts Chromium with one page; false when it cannot (lastErrors says why).
  bool start();
  // Loads `url` in the page, with `referrer` as its Referer when one is
  // given, and waits for the page's load event (its frames loaded too).
  bool navigate(const std::string& url, const std::string& referrer = "");
  // The page's `expression` (a promise is awaited) turned into a String;
  // nothing when it threw or the browser did not answer.
  std::optional<std::string> evaluate(const std::string& expression);
  // A left click at (x, y) of the page as a mouse makes it: moved there,
  // pressed, released. A navigation that the click starts in any frame is
  // waited for until that frame stopped loading.
  bool click(double x, double y);
  // Text typed into the element that has the focus.
  bool type(const std::string& text);
  // Chromium's standard error so far, and the last protocol failure.
  std::string lastErrors() const;

 private:
  // Sends one command (params: a JSON object text) and waits for its answer;
  // `result` gets the whole answer. Events that arrive meanwhile are kept.
  bool command(const std::string& method, const std::string& params, std::string* result = nullptr,
               bool toPage = true);
  // The next message from the browser within the step's time; false when
  // none came or the browser is gone.
  bool nextMessage(std::string& message);
  // Waits for an event of the page named `method` (and, when `frameId` is
  // given, of that frame), taking kept events first.
  bool waitForEvent(const std::string& method, const std::string& frameId = "");

  sandbox::VLSandbox& box_;
  int proxyPort_;
  std::string folder_;
  sandbox::VLChildProgram browser_;
  int channel_ = -1;  // our end of the DevTools pipe
  std::string received_;
  std::deque<std::string> events_;
  std::string sessionId_;
  int nextId_ = 1;
  std::string failure_;
};

}  // namespace browsertest
