// The pure pieces of the cross-site permission check: the host and path a
// URL names, and whether a PathWild pattern covers a path.
#pragma once
#include <string>

struct VLCrossSiteUrl {
  std::string host;  // lower-cased; empty for a relative URL
  std::string path;  // never holds the query
};

// "HTTP://" (the first 7 characters, trimmed, upper-cased) or "HTTPS://" (the
// first 8) makes a URL absolute; the host runs from there to the first "/",
// else to the first "?", and the path is "/" when there is no "/".
VLCrossSiteUrl parseCrossSiteUrl(const std::string& url);

// No "*": equality; a leading "*": every path; else the text before the
// first "*" must begin the path.
bool pathWildMatches(const std::string& pattern, const std::string& path);
