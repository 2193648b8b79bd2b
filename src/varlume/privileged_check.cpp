#include "varlume/privileged_check.h"

#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "varlume/cross_site_check.h"
#include "varlume/request_target.h"

namespace {

const char* const kChangingFileCommands[] = {
    "/MKDIR",     "/REMOVECACHEDIRECTORY", "/REMOVECACHEFILE", "/REMOVEDIRECTORY", "/REMOVEFILE",
    "/RENAME",    "/SAVEFILE",             "/STRINGFILE",      "/SETPROXY",        "/SCANCACHEDIR",
};

bool beginsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool changes(const std::string& service, const std::string& upperPath) {
  // The event service's look-up and its version change nothing.
  if (service == "EVENT") return !beginsWith(upperPath, "/GETEVENT") && !beginsWith(upperPath, "/GETVERSION");
  if (service != "FILE") return false;
  for (const char* command : kChangingFileCommands) {
    if (beginsWith(upperPath, command)) return true;
  }
  return false;
}

// A host without its default port, lower-cased.
std::string comparableHost(std::string host) {
  host = toLower(trim(host, true));
  if (host.size() > 3 && host.compare(host.size() - 3, 3, ":80") == 0) host.erase(host.size() - 3);
  return host;
}

}  // namespace

bool isChangingCommand(const std::string& service, const std::string& path) {
  const std::string keyword = toUpper(trim(service, true));
  return changes(keyword, toUpper(path)) || changes(keyword, toUpper(normalisedPath(path)));
}

std::string refererHost(const std::string& value) {
  const std::string text = trim(value, true);
  const std::size_t scheme = text.find("://");
  if (scheme == std::string::npos) return std::string();
  std::string host = text.substr(scheme + 3);
  host = host.substr(0, host.find_first_of("/?#"));
  const std::size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  host = comparableHost(host);
  const std::string lowerScheme = toLower(text.substr(0, scheme));
  if (lowerScheme == "https" && host.size() > 4 && host.compare(host.size() - 4, 4, ":443") == 0) {
    host.erase(host.size() - 4);
  }
  return host;
}

bool serviceCommandPermitted(const std::string& service, const std::string& requestLine,
                             const std::vector<std::string>& lines, const std::string& pageHost) {
  return !isChangingCommand(service, requestPath(requestLine)) || namesItsOwnPage(lines, pageHost);
}

bool namesItsOwnPage(const std::vector<std::string>& lines, const std::string& pageHost) {
  // A page host with a path ("site.example/docs") is its host's page.
  const std::string own = comparableHost(pageHost.substr(0, pageHost.find('/')));
  if (own.empty()) return false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string upper = toUpper(lines[i]);
    std::size_t colon = std::string::npos;
    if (beginsWith(upper, "REFERER:")) colon = 7;
    if (beginsWith(upper, "ORIGIN:")) colon = 6;
    if (colon == std::string::npos) continue;
    if (refererHost(lines[i].substr(colon + 1)) == own) return true;
  }
  return false;
}

bool namesPrivilegedHost(const std::string& host) {
  std::string name = toLower(trim(urlDecode(host), true));
  name = name.substr(0, name.find_first_of(":/\\?"));
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name == kPrivilegedHost;
}

bool requestPermitted(bool service, bool mirror, const std::string& hostValue,
                      const std::string& requestLine, const std::vector<std::string>& lines,
                      const std::string& pageHost) {
  if (service) return serviceCommandPermitted(hostValue, requestLine, lines, pageHost);
  if (namesPrivilegedHost(pageHost) || namesPrivilegedHost(hostValue)) return false;
  return !mirror || namesItsOwnPage(lines, pageHost);
}
