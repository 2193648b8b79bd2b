// The header rewrite of a forwarded request: builds the origin text (sent to
// services and, without an upstream proxy, to web servers) and the upstream
// text (request line in absolute form, for the upstream proxy) from the
// stored head lines, and reads the body length. Every line leaves with CR LF;
// one Host line and one Content-Length line (the last) leave, so the server
// behind the proxy reads the same target and the same body length, and no
// Upgrade line leaves, so it never switches protocols.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class VLRequestHead;

struct VLForwardTexts {
  std::string origin;
  std::string upstream;
  // Body length named by the "Content-Length:" headers; 0 when none.
  std::int64_t contentLength = 0;
  // False when a body cannot be relayed soundly: a Content-Length that is
  // not a decimal number, two that differ, or a Transfer-Encoding other
  // than identity.
  bool bodyFramingOk = true;
};

// head: the stored head as the analysis left it (request line in origin
// form, Host line at hostIndex, without its port). service: the request goes
// to a local service, so its Host line becomes "Host: " + page host; a web
// request's Host line names `port` too when it is neither 80 nor 0.
VLForwardTexts rewriteHeaders(const VLRequestHead& head, bool service, const std::string& pageHost,
                              int port);
