// /SETPROXY: the upstream-proxy keys of the user's "varlume.config"
// rewritten in place of their values, every other byte kept, the file
// replaced atomically under one process-wide lock; nothing is written when
// the file is missing, unreadable or odd, or a value could not be stored.
#include <mutex>
#include <string>

#include "foundation/own_page.h"
#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "platform/files.h"
#include "varlumefile/file_server.h"
#include "varlumefile/file_settings.h"

namespace {

constexpr std::size_t kMaxConfigurationBytes = 1024 * 1024;
constexpr char kNotSavedText[] = "Proxy settings not saved. ";

std::mutex& settingsMutex() {
  static std::mutex mutex;
  return mutex;
}

bool holdsConfigurationSyntax(const std::string& value) {
  return value.find_first_of(std::string("&=\r\n\0", 5)) != std::string::npos;
}

// The value of every pair whose blank-trimmed key is `key` replaced; line-end
// bytes that close the old value (the final CR LF rides on the last value)
// stay behind the new one. Pairs of other keys and every other byte stay.
std::string withValue(const std::string& key, const std::string& value, const std::string& text) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('&', start);
    std::string pair = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::size_t equals = pair.find('=');
    if (equals != std::string::npos && trim(pair.substr(0, equals), false) == key) {
      std::size_t lineEnd = pair.size();
      while (lineEnd > equals + 1 && (pair[lineEnd - 1] == '\r' || pair[lineEnd - 1] == '\n')) --lineEnd;
      pair = pair.substr(0, equals + 1) + value + pair.substr(lineEnd);
    }
    out += pair;
    if (end == std::string::npos) return out;
    out += '&';
    start = end + 1;
  }
}

}  // namespace

bool VLFileHandler::proxyRequestFromOtherSite() const {
  const std::string own = std::string("http://") + kPrivilegedHost;
  for (const std::string& origin : getOrigins()) {
    if (toLower(origin) != own) return true;
  }
  for (const std::string& referer : getReferers()) {
    if (refererHost(referer) != kPrivilegedHost) return true;
  }
  return false;
}

void VLFileHandler::setProxy(const std::string& host, const std::string& port) {
  if (holdsConfigurationSyntax(host) || holdsConfigurationSyntax(port)) {
    replyError(kNotSaved, std::string(kNotSavedText) +
                              "Host or Port holds a character the configuration cannot hold.");
    return;
  }
  std::lock_guard<std::mutex> lock(settingsMutex());
  const std::string& file = configurationPath;
  if (!platform::isRegularFile(file)) {
    replyError(kNotSaved, std::string(kNotSavedText) + file + " does not exist.");
    return;
  }
  std::string text;
  if (!platform::readFile(file, text, kMaxConfigurationBytes + 1)) {
    replyError(kNotSaved, std::string(kNotSavedText) + file + " cannot be read.");
    return;
  }
  if (text.size() > kMaxConfigurationBytes || text.find('\0') != std::string::npos) {
    replyError(kNotSaved, std::string(kNotSavedText) + file + " is too long or holds a NUL byte.");
    return;
  }
  text = withValue("proxyport", port, text);
  text = withValue("proxyhost", host, text);
  if (!platform::writeFileAtomic(file, text)) {
    replyError(kNotSaved, std::string(kNotSavedText) + file + " cannot be written.");
    return;
  }
  replySuccess();
}
