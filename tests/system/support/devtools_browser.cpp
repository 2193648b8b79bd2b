#include "support/devtools_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "support/chromium.h"

namespace browsertest {

namespace {

// The longest wait for one message of the browser.
constexpr int kStepMs = 30000;

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The first string value of `key` in a message (the browser writes its
// JSON without blanks); nothing when there is none.
std::optional<std::string> fieldText(const std::string& message, const std::string& key) {
  const std::string mark = "\"" + key + "\":\"";
  std::size_t at = message.find(mark);
  if (at == std::string::npos) return std::nullopt;
  std::string value;
  for (at += mark.size(); at < message.size(); ++at) {
    const char c = message[at];
    if (c == '"') return value;
    if (c != '\\' || at + 1 >= message.size()) {
      value += c;
      continue;
    }
    const char next = message[++at];
    if (next == 'n') {
      value += '\n';
    } else if (next == 't') {
      value += '\t';
    } else if (next == 'r') {
      value += '\r';
    } else if (next == 'u' && at + 4 < message.size()) {
      const unsigned code = std::stoul(message.substr(at + 1, 4), nullptr, 16);
      at += 4;
      // The tests' texts are ASCII; anything else stands as '?'.
      value += code < 0x80 ? static_cast<char>(code) : '?';
    } else {
      value += next;
    }
  }
  return std::nullopt;
}

bool isEvent(const std::string& message) { return message.rfind("{\"method\":", 0) == 0; }

}  // namespace

VLDevToolsBrowser::VLDevToolsBrowser(sandbox::VLSandbox& box, int proxyPort)
    : box_(box), proxyPort_(proxyPort), folder_(box.makeFolder("devtools")) {}

VLDevToolsBrowser::~VLDevToolsBrowser() {
  browser_.stop();
  if (channel_ >= 0) ::close(channel_);
}

bool VLDevToolsBrowser::start() {
  const std::string program = chromiumPath();
  if (program.empty()) {
    failure_ = "Chromium is not installed";
    return false;
  }
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
  channel_ = ends[0];
  // The browser's end above the numbers it gets (3: it reads, 4: it writes).
  const int theirs = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
  ::close(ends[1]);
  if (theirs < 0) return false;
  std::vector<std::string> arguments =
      chromiumArguments(folder_, proxyPort_, ",IsolateOrigins,site-per-process");
  arguments.insert(arguments.end(), {"--disable-site-isolation-trials", "--remote-debugging-pipe",
                                     "--window-size=1000,1000", "about:blank"});
  browser_.handOn({{3, theirs}, {4, theirs}});
  const bool started = browser_.startInGroup(program, arguments, folder_, box_.environment(0),
                                             folder_ + "/out.txt", folder_ + "/err.txt");
  ::close(theirs);
  if (!started) return false;

  std::string answer;
  if (!command("Target.createTarget", "{\"url\":\"about:blank\"}", &answer, false)) return false;
  const std::optional<std::string> target = fieldText(answer, "targetId");
  if (!target || !command("Target.attachToTarget", "{\"targetId\":" + jsonString(*target) + ",\"flatten\":true}",
                          &answer, false)) {
    return false;
  }
  const std::optional<std::string> session = fieldText(answer, "sessionId");
  if (!session) return false;
  sessionId_ = *session;
  return command("Page.enable", "{}");
}

bool VLDevToolsBrowser::navigate(const std::string& url, const std::string& referrer) {
  events_.clear();
  std::string params = "{\"url\":" + jsonString(url);
  if (!referrer.empty()) params += ",\"referrer\":" + jsonString(referrer);
  return command("Page.navigate", params + "}") && waitForEvent("Page.loadEventFired");
}

std::optional<std::string> VLDevToolsBrowser::evaluate(const std::string& expression) {
  std::string answer;
  if (!command("Runtime.evaluate",
               "{\"expression\":" + jsonString("(async () => String(await (" + expression + ")))()") +
                   ",\"awaitPromise\":true,\"returnByValue\":true}",
               &answer)) {
    return std::nullopt;
  }
  if (answer.find("\"exceptionDetails\"") != std::string::npos) {
    failure_ = answer;
    return std::nullopt;
  }
  return fieldText(answer, "value");
}

bool VLDevToolsBrowser::click(double x, double y) {
  events_.clear();
  const std::string at = "\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y);
  if (!command("Input.dispatchMouseEvent", "{\"type\":\"mouseMoved\"," + at + "}") ||
      !command("Input.dispatchMouseEvent",
               "{\"type\":\"mousePressed\",\"button\":\"left\",\"buttons\":1,\"clickCount\":1," + at + "}") ||
      !command("Input.dispatchMouseEvent",
               "{\"type\":\"mouseReleased\",\"button\":\"left\",\"buttons\":0,\"clickCount\":1," + at + "}")) {
    return false;
  }
  // The page's answer to a script comes after every event of the click's
  // handling: a navigation it asked for has been told by then.
  if (!evaluate("0")) return false;
  std::optional<std::string> navigating;
  for (const std::string& event : events_) {
    if (event.rfind("{\"method\":\"Page.frameRequestedNavigation\",", 0) == 0) {
      navigating = fieldText(event, "frameId");
      if (!navigating) return false;
      break;
    }
  }
  return !navigating || waitForEvent("Page.frameStoppedLoading", *navigating);
}

bool VLDevToolsBrowser::type(const std::string& text) {
  return command("Input.insertText", "{\"text\":" + jsonString(text) + "}");
}

std::string VLDevToolsBrowser::lastErrors() const {
  return failure_ + "\n" + sandbox::readFile(folder_ + "/err.txt").value_or("");
}

bool VLDevToolsBrowser::command(const std::string& method, const std::string& params, std::string* result,
                                bool toPage) {
  const int id = nextId_++;
  std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + jsonString(method) +
                        ",\"params\":" + params;
  if (toPage) message += ",\"sessionId\":" + jsonString(sessionId_);
  message += "}";
  message.push_back('\0');
  for (std::size_t sent = 0; sent < message.size();) {
    const ssize_t n = ::send(channel_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      failure_ = method + ": the browser is gone";
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  const std::string answerStart = "{\"id\":" + std::to_string(id) + ",";
  std::string answer;
  while (nextMessage(answer)) {
    if (isEvent(answer)) {
      events_.push_back(answer);
      continue;
    }
    if (answer.rfind(answerStart, 0) != 0) continue;
    if (answer.find("\"error\":{") != std::string::npos && answer.find("\"result\":") == std::string::npos) {
      failure_ = method + ": " + answer;
      return false;
    }
    if (result != nullptr) *result = answer;
    return true;
  }
  failure_ = method + ": no answer";
  return false;
}

bool VLDevToolsBrowser::nextMessage(std::string& message) {
  for (;;) {
    const std::size_t end = received_.find('\0');
    if (end != std::string::npos) {
      message = received_.substr(0, end);
      received_.erase(0, end + 1);
      return true;
    }
    pollfd ready{channel_, POLLIN, 0};
    if (::poll(&ready, 1, kStepMs) != 1) return false;
    char buffer[65536];
    const ssize_t n = ::read(channel_, buffer, sizeof buffer);
    if (n <= 0) return false;
    received_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool VLDevToolsBrowser::waitForEvent(const std::string& method, const std::string& frameId) {
  const std::string name = "{\"method\":" + jsonString(method) + ",";
  auto matches = [&](const std::string& event) {
    return event.rfind(name, 0) == 0 && (frameId.empty() || fieldText(event, "frameId") == frameId);
  };
  while (!events_.empty()) {
    const std::string event = events_.front();
    events_.pop_front();
    if (matches(event)) return true;
  }
  std::string message;
  while (nextMessage(message)) {
    if (isEvent(message) && matches(message)) return true;
  }
  failure_ = "no " + method;
  return false;
}

}  // namespace browsertest
