// The pieces of the declaration fetch that need no connection: the sites a
// "/CROSSSITESCRIPT" request names, which of them may be fetched and from
// where, the request that fetches "/varlume.txt", and the declaration text
// of a fetched answer.
#pragma once
#include <string>
#include <vector>

// The most sites one request fetches, and the bounds of one fetch.
inline constexpr int kCrossSiteMaxSites = 20;
inline constexpr int kCrossSiteSiteMs = 30000;
inline constexpr int kCrossSiteRequestMs = 60000;
inline constexpr std::size_t kCrossSiteMaxBody = 1024 * 1024;

// The query of the request line before its last blank, split at "&", each
// piece as written; a final empty piece is dropped. Empty without a query.
std::vector<std::string> crossSiteList(const std::string& requestLine);

// Where a named site is fetched from: "host" at port 80 or "host:port".
// False (the site is skipped) for a name that is empty, longer than 255
// bytes, holds anything but letters, digits, "-", "." and "_" in its host,
// or a port outside 1 to 65535.
bool crossSiteAddress(const std::string& site, std::string& host, int& port);

// The fetch of "/varlume.txt" from `site`; in absolute form for an upstream
// proxy.
std::string crossSiteFetchText(const std::string& site, bool upstream);

// The declaration in a fetched answer: part 0 after the first "\r\n\r\n"
// (looked for before its first zero byte), later parts whole. `ok` tells
// whether the answer's status is 200.
std::string declarationBody(const std::vector<std::string>& parts, bool& ok);
