#include "varlume/cross_site_check.h"

#include <cstdint>
#include <exception>
#include <vector>

#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "platform/sockets.h"
#include "varlume/service_keywords.h"

bool crossSitePath(const std::string& requestLine, std::string& path) {
  const std::size_t slash = requestLine.find('/');
  if (slash == std::string::npos) return false;
  const std::string from = requestLine.substr(slash);
  std::size_t cut = from.find('?');
  if (cut == std::string::npos) cut = from.rfind(' ');
  if (cut == std::string::npos) return false;
  path = trim(from.substr(0, cut), true);
  return true;
}

std::string normalisedPath(const std::string& path) {
  std::string decoded = urlDecode(path);
  for (char& byte : decoded) {
    if (byte == '\\') byte = '/';
  }
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= decoded.size()) {
    std::size_t slash = decoded.find('/', start);
    if (slash == std::string::npos) slash = decoded.size();
    const std::string segment = decoded.substr(start, slash - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string result;
  for (const std::string& segment : segments) result += "/" + segment;
  // A trailing "/" (or a final "." or "..") names a folder: keep it so.
  auto endsWith = [&decoded](const std::string& end) {
    return decoded.size() >= end.size() && decoded.compare(decoded.size() - end.size(), end.size(), end) == 0;
  };
  const bool folder = endsWith("/") || endsWith("/.") || endsWith("/..");
  if (result.empty() || folder) result += "/";
  return result;
}

bool isLoopbackTarget(const std::string& hostText) {
  std::string host = toLower(trim(hostText, true));
  if (!host.empty() && host[0] == '[') return true;  // an IPv6 literal
  const std::size_t colon = host.find(':');
  if (colon != std::string::npos) host.erase(colon);
  while (!host.empty() && host.back() == '.') host.pop_back();
  if (host == "localhost") return true;
  if (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0) return true;
  std::uint32_t address = 0;
  if (!platform::numericIPv4(host, address)) return false;
  return (address >> 24) == 127 || (address >> 24) == 0;
}

bool crossSiteAllowed(const std::string& pageHost, const std::string& targetHost,
                      const std::string& requestLine, const VLCrossSiteLookup& findRecord,
                      bool* mayReachThisMachine) {
  bool mayReach = false;
  if (mayReachThisMachine == nullptr) mayReachThisMachine = &mayReach;
  *mayReachThisMachine = false;
  try {
    std::string keyword = toUpper(trim(targetHost, true));
    const std::size_t colon = keyword.find(':');
    if (colon != std::string::npos) keyword.erase(colon);
    if (serviceKeywordOffset(keyword) >= 0) return true;

    std::string path;
    if (!crossSitePath(requestLine, path)) return false;
    if (equalsIgnoreCase(trim(targetHost, true), trim(pageHost, true))) {
      *mayReachThisMachine = true;
      return true;
    }

    if (!findRecord) return false;
    VLCrossSiteRecord record;
    // The default port may be named or not ("site:80" is "site").
    const std::string site = trim(targetHost, true);
    const bool defaultPort = site.size() > 3 && site.compare(site.size() - 3, 3, ":80") == 0;
    if (!findRecord(record, pageHost, site) &&
        !(defaultPort && findRecord(record, pageHost, site.substr(0, site.size() - 3)))) {
      return false;
    }
    // This machine is reached only by what a server of it declared (the
    // name tells here; the connection's address tells again).
    if (isLoopbackTarget(site) && !record.fromAnswer()) return false;
    // Refused when either form of the path is refused: escapes, "//" and
    // dot segments never lead past a deny pattern.
    const std::string declared = record.getDomain();
    *mayReachThisMachine = record.fromAnswer();
    return record.allows(declared, path) && record.allows(declared, normalisedPath(path));
  } catch (const std::exception&) {
    return false;
  }
}
