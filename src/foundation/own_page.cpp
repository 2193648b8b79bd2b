#include "foundation/own_page.h"

#include "foundation/strings.h"

namespace {

// A host without its default port, lower-cased.
std::string comparableHost(std::string host) {
  host = toLower(trim(host, true));
  if (host.size() > 3 && host.compare(host.size() - 3, 3, ":80") == 0) host.erase(host.size() - 3);
  return host;
}

}  // namespace

std::string refererHost(const std::string& value) {
  const std::string text = trim(value, true);
  const std::size_t scheme = text.find("://");
  if (scheme == std::string::npos) return std::string();
  // Only a page that came through the proxy is read, and the proxy carries
  // http: pages only; a page of another scheme is another origin.
  if (toLower(text.substr(0, scheme)) != "http") return std::string();
  std::string host = text.substr(scheme + 3);
  host = host.substr(0, host.find_first_of("/?#"));
  const std::size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  return comparableHost(host);
}

bool namesOwnPageHost(const std::vector<std::string>& values, const std::string& pageHost) {
  const std::string own = comparableHost(pageHost.substr(0, pageHost.find('/')));
  if (own.empty()) return false;
  for (const std::string& value : values) {
    if (refererHost(value) == own) return true;
  }
  return false;
}
