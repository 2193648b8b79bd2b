#include "varlumeevent/cross_site_url.h"

#include "foundation/strings.h"

namespace {

std::string headOf(const std::string& url, std::size_t count) {
  return toUpper(trim(url.substr(0, count), true));
}

std::string beforeQuery(const std::string& text) { return text.substr(0, text.find('?')); }

}  // namespace

VLCrossSiteUrl parseCrossSiteUrl(const std::string& url) {
  VLCrossSiteUrl parsed;
  std::size_t hostStart = std::string::npos;
  if (headOf(url, 7) == "HTTP://") {
    hostStart = 7;
  } else if (headOf(url, 8) == "HTTPS://") {
    hostStart = 8;
  }
  if (hostStart == std::string::npos) {
    parsed.path = trim(beforeQuery(trim(url, true)), true);
    return parsed;
  }
  const std::size_t slash = url.find('/', hostStart);
  if (slash != std::string::npos) {
    parsed.host = toLower(trim(url.substr(hostStart, slash - hostStart), true));
    parsed.path = beforeQuery(trim(url.substr(slash), true));
  } else {
    const std::size_t query = url.find('?', hostStart);
    const std::size_t length = query == std::string::npos ? std::string::npos : query - hostStart;
    parsed.host = toLower(trim(url.substr(hostStart, length), true));
    parsed.path.assign(1, '/');  // no path: the root
  }
  return parsed;
}

bool pathWildMatches(const std::string& pattern, const std::string& path) {
  const std::size_t star = pattern.find('*');
  if (star == std::string::npos) return pattern == path;
  if (star == 0) return true;
  return path.size() >= star && path.compare(0, star, pattern, 0, star) == 0;
}
