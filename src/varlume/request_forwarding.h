// The header rewrite of a forwarded request: builds the origin text (sent to
// services and, without an upstream proxy, to web servers) and the upstream
// text (request line in absolute form, for the upstream proxy) from the
// stored head lines, and reads the body length. Every line leaves with CR LF.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct VLForwardTexts {
  std::string origin;
  std::string upstream;
  // Body length named by the last "Content-Length:" header; 0 when none.
  std::int64_t contentLength = 0;
  // False when a body cannot be relayed soundly: a Content-Length that is
  // not a decimal number, or a Transfer-Encoding other than identity.
  bool bodyFramingOk = true;
};

// lines: the stored head (request line already in origin form, Host line at
// hostIndex as the analysis left it). service: the request goes to a local
// service, so every header line holding "HOST:" becomes "Host: " + page host.
VLForwardTexts rewriteHeaders(const std::vector<std::string>& lines, std::size_t hostIndex,
                              bool service, const std::string& pageHost, int port);
