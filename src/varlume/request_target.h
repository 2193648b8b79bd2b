// Request-line helpers and the target analysis of a browser request: the
// "VARLUME/", "VARLUME/WEB/" and "VARLUME/MIRROR/" forms, the page host, the
// target port and the mirror flag, and the service test that also turns an
// absolute request line into origin form. Pure text functions, no I/O. Each
// helper also comes in a form that takes the line's upper-cased copy, so a
// head is upper-cased once.
#pragma once
#include <string>

// The method word as the client wrote it (one of GET, POST, HEAD, OPTIONS,
// PUT, DELETE, TRACE, PROPFIND, matched in any case), or empty.
std::string requestMethod(const std::string& line);
std::string requestMethod(const std::string& line, const std::string& upperLine);
// The URL of a request line: the token after the method, up to the last
// " HTTP/" (or the line end). An absolute URL starts with "http://" (any
// case); otherwise the URL starts at the token's first "/". Empty when none.
std::string requestUrl(const std::string& line);
std::string requestUrl(const std::string& line, const std::string& upperLine);
// requestUrl without its query (cut at the last "?").
std::string requestPath(const std::string& line);
std::string requestPath(const std::string& line, const std::string& upperLine);
// From the last "HTTP/" to the end of the line, line end included;
// "HTTP/1.1\r\n" when the line has none.
std::string requestVersion(const std::string& line);
std::string requestVersion(const std::string& line, const std::string& upperLine);

// A request line that every reader splits alike: the method, blanks, a
// target in origin form ("/" first) or absolute http form ("http://", any
// case), and optionally blanks and a version beginning "HTTP/"; no tab and
// no other byte below 32, no blank inside the target.
bool isPlainRequestLine(const std::string& line, const std::string& upperLine);

// Result of parseRequestTarget.
struct VLRequestTarget {
  std::string pageHost;
  int port = 80;
  bool mirror = false;
};

// Analyses the request line and the Host line (hostLine empty when the head
// has none; the upper forms are their upper-cased copies) and rewrites both
// for the target. browserUrl receives the URL (trimmed of blanks, tabs, CR
// and LF) when it is empty.
VLRequestTarget parseRequestTarget(std::string& requestLine, const std::string& upperRequestLine,
                                   std::string& hostLine, const std::string& upperHostLine,
                                   std::string& browserUrl);

// True when the Host value is exactly FILE, DB, IMAGE, EVENT or SECURITY in
// any case. An absolute request line is rewritten to origin form either way.
bool isServiceHost(std::string& requestLine, const std::string& upperRequestLine,
                   const std::string& upperHostLine);

// Where the text of a line ends: before its "\r\n" or "\n"; a lone CR is
// no line end.
std::size_t lineTextEnd(const std::string& line);

// True when the text holds a byte below 32 other than tab, or 127.
bool holdsControlByte(const std::string& text, std::size_t end);

// The host part of an absolute URL ("http://" up to "/" or "?"); empty for
// any other URL.
std::string absoluteUrlHost(const std::string& url);

// The Host value of a Host line: the text after "Host:", trimmed of blanks,
// tabs, CR and LF.
std::string hostValue(const std::string& hostLine);

// A host text that may be forwarded: no byte below 32 or 127, no "\" and no
// ".." segment (between "/" separators); empty only when allowEmpty.
bool isSafeHostText(const std::string& text, bool allowEmpty);
