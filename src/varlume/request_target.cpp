#include "varlume/request_target.h"

#include <cstddef>

#include "foundation/strings.h"
#include "foundation/url_escape.h"

namespace {

constexpr std::size_t npos = std::string::npos;

bool startsWith(const std::string& text, std::size_t at, const char* prefix) {
  return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}


// Where the URL of a request line lies: [start, end) of the line, and the
// position of the blank before the version (npos when the line has none).
struct UrlBounds {
  std::size_t start = npos;  // npos: no URL
  std::size_t end = 0;
  std::size_t versionBlank = npos;
};

UrlBounds urlBounds(const std::string& line, const std::string& upper) {
  UrlBounds bounds;
  const std::size_t methodEnd = line.find(' ');
  if (methodEnd == npos) return bounds;
  std::size_t tokenStart = methodEnd;
  while (tokenStart < line.size() && line[tokenStart] == ' ') ++tokenStart;
  std::size_t end = upper.rfind(" HTTP/");
  if (end != npos && end >= methodEnd) {
    bounds.versionBlank = end;
  } else {
    end = lineTextEnd(line);
  }
  if (tokenStart >= end) return bounds;
  bounds.end = end;
  if (startsWith(upper, tokenStart, "HTTP://")) {
    bounds.start = tokenStart;
  } else {
    const std::size_t slash = line.find('/', tokenStart);
    if (slash != npos && slash < end) bounds.start = slash;
  }
  return bounds;
}

// atoi of the digits at `at` (blanks skipped): 0 without digits; a number
// beyond 65,535 gives 65,536, a port no connection can use.
int portNumber(const std::string& text, std::size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  long value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > 65535) return 65536;
  }
  return static_cast<int>(value);
}

// urlDecode, except that an escaped zero byte stays in the result (as a
// zero byte) instead of ending it, so a host holding one can be refused.
std::string decodeHost(const std::string& text) {
  std::string result;
  std::size_t start = 0;
  for (;;) {
    const std::size_t zero = text.find("%00", start);
    result += urlDecode(text.substr(start, zero == npos ? npos : zero - start));
    if (zero == npos) return result;
    result.push_back('\0');
    start = zero + 3;
  }
}

}  // namespace

std::size_t lineTextEnd(const std::string& line) {
  std::size_t end = line.size();
  if (end > 0 && line[end - 1] == '\n') {
    --end;
    if (end > 0 && line[end - 1] == '\r') --end;
  }
  return end;
}

bool holdsControlByte(const std::string& text, std::size_t end) {
  for (std::size_t i = 0; i < end && i < text.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if ((byte < 32 && byte != '\t') || byte == 127) return true;
  }
  return false;
}

std::string absoluteUrlHost(const std::string& url) {
  if (url.size() <= 7 || !startsWith(toUpper(url), 0, "HTTP://")) return std::string();
  const std::size_t end = url.find_first_of("/?", 7);
  return url.substr(7, end == npos ? npos : end - 7);
}

bool isPlainRequestLine(const std::string& line, const std::string& upper) {
  const std::size_t end = lineTextEnd(line);
  if (holdsControlByte(line, end) || line.find('\t') < end) return false;
  // The words of the line between runs of blanks.
  std::size_t words = 0;
  std::size_t targetAt = npos;
  std::size_t versionAt = npos;
  for (std::size_t i = 0; i < end;) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    ++words;
    if (words == 2) targetAt = i;
    if (words == 3) versionAt = i;
    while (i < end && line[i] != ' ') ++i;
  }
  if (words < 2 || words > 3) return false;
  if (versionAt != npos && !startsWith(upper, versionAt, "HTTP/")) return false;
  return line[targetAt] == '/' || startsWith(upper, targetAt, "HTTP://");
}

std::string requestMethod(const std::string& line, const std::string& upper) {
  static const char* const kMethods[] = {"GET",    "POST",  "HEAD",  "OPTIONS",
                                         "PUT",    "DELETE", "TRACE", "PROPFIND"};
  for (const char* method : kMethods) {
    if (startsWith(upper, 0, method)) return line.substr(0, std::char_traits<char>::length(method));
  }
  return std::string();
}

std::string requestUrl(const std::string& line, const std::string& upper) {
  const UrlBounds bounds = urlBounds(line, upper);
  if (bounds.start == npos) return std::string();
  return trim(line.substr(bounds.start, bounds.end - bounds.start), false);
}

std::string requestPath(const std::string& line, const std::string& upper) {
  const UrlBounds bounds = urlBounds(line, upper);
  if (bounds.start == npos) return std::string();
  std::size_t end = line.rfind('?', bounds.end - 1);
  if (end == npos || end < bounds.start) end = bounds.end;
  return trim(line.substr(bounds.start, end - bounds.start), false);
}

std::string requestVersion(const std::string& line, const std::string& upper) {
  const UrlBounds bounds = urlBounds(line, upper);
  if (bounds.versionBlank == npos) return "HTTP/1.1\r\n";
  return line.substr(bounds.versionBlank + 1);
}

std::string requestMethod(const std::string& line) { return requestMethod(line, toUpper(line)); }
std::string requestUrl(const std::string& line) { return requestUrl(line, toUpper(line)); }
std::string requestPath(const std::string& line) { return requestPath(line, toUpper(line)); }
std::string requestVersion(const std::string& line) { return requestVersion(line, toUpper(line)); }

std::string hostValue(const std::string& hostLine) {
  if (hostLine.size() <= 5) return std::string();
  return trim(hostLine.substr(5), true);
}

VLRequestTarget parseRequestTarget(std::string& requestLine, const std::string& upperRequestLine,
                                   std::string& hostLine, const std::string& upperHostLine,
                                   std::string& browserUrl) {
  VLRequestTarget target;
  const UrlBounds bounds = urlBounds(requestLine, upperRequestLine);
  const std::string method = requestMethod(requestLine, upperRequestLine);
  std::string url;
  std::string upper;  // the URL upper-cased
  if (bounds.start != npos) {
    // The URL trimmed of blanks, and the same piece of the upper-cased line.
    std::size_t first = bounds.start;
    std::size_t last = bounds.end;
    while (first < last && requestLine[first] == ' ') ++first;
    while (last > first && requestLine[last - 1] == ' ') --last;
    url = requestLine.substr(first, last - first);
    upper = upperRequestLine.substr(first, last - first);
  }
  std::string version = bounds.versionBlank == npos ? std::string("HTTP/1.1\r\n")
                                                    : requestLine.substr(bounds.versionBlank + 1);
  if (browserUrl.empty()) browserUrl = trim(url, true);

  const bool absolute = startsWith(upper, 0, "HTTP://");
  const bool hostLineNamed = startsWith(upperHostLine, 0, "HOST:");

  // The marker, and the longer prefixes only where the marker stands.
  const std::size_t marker = upper.find("VARLUME/");
  std::size_t prefix = 8;
  if (marker != npos) {
    if (startsWith(upper, marker, "VARLUME/WEB/")) {
      prefix = 12;
    } else if (startsWith(upper, marker, "VARLUME/MIRROR/")) {
      prefix = 15;
      target.mirror = true;
      version = "HTTP/1.0\r\n";
    }
  }

  // First reading of the page host: the URL's host, or for a request in
  // origin form the Host line's value.
  if (absolute) {
    const std::size_t slash = url.find('/', 8);
    const std::string host =
        slash == npos ? trim(url.substr(7), true) : url.substr(7, slash - 7);
    target.pageHost = decodeHost(host);
  } else if (hostLineNamed) {
    target.pageHost = decodeHost(hostValue(hostLine));
  }

  if (marker != npos) {
    if (absolute) {
      target.pageHost = marker >= 8 ? decodeHost(url.substr(7, marker - 8)) : std::string();
    }
    const std::string rest = url.substr(marker + prefix);
    const std::size_t authorityEnd = rest.find_first_of("/?");
    const std::size_t colon = rest.find(':');
    std::string newUrl;
    if (colon != npos && (authorityEnd == npos || colon < authorityEnd)) {
      target.port = portNumber(rest, colon + 1);
      const std::size_t pathStart = rest.find_first_of("/?", colon);
      std::string path = pathStart == npos ? std::string() : rest.substr(pathStart);
      if (!path.empty() && path[0] == '?') path.insert(0, "/");
      newUrl = "http://" + rest.substr(0, colon) + path;
    } else {
      newUrl = "http://" + rest;
    }
    hostLine = "Host: " + absoluteUrlHost(newUrl) + "\r\n";
    requestLine = method + " " + newUrl + " " + version;
  } else {
    if (absolute) {
      const std::size_t authorityEnd = url.find_first_of("/?", 7);
      const std::size_t colon = url.find(':', 8);
      if (colon != npos && (authorityEnd == npos || colon < authorityEnd)) {
        target.port = portNumber(url, colon + 1);
        url = url.substr(0, colon) + (authorityEnd == npos ? std::string() : url.substr(authorityEnd));
      }
    } else if (hostLineNamed) {
      // Origin form names its target in the Host line only.
      const std::size_t colon = hostLine.find(':', 5);
      if (colon != npos) target.port = portNumber(hostLine, colon + 1);
    }
    requestLine = method + " " + url + " " + version;
  }

  const std::size_t hostColon = hostLine.size() > 5 ? hostLine.find(':', 5) : npos;
  if (hostColon != npos) hostLine = decodeHost(hostLine.substr(0, hostColon));
  return target;
}

bool isServiceHost(std::string& requestLine, const std::string& upperRequestLine,
                   const std::string& upperHostLine) {
  const std::string value = hostValue(upperHostLine);
  const bool service = value == "FILE" || value == "DB" || value == "IMAGE" || value == "EVENT" ||
                       value == "SECURITY";

  const UrlBounds bounds = urlBounds(requestLine, upperRequestLine);
  if (bounds.start != npos && startsWith(upperRequestLine, bounds.start, "HTTP://")) {
    const std::size_t c = bounds.start;
    const std::size_t v = bounds.versionBlank == npos ? lineTextEnd(requestLine) : bounds.versionBlank + 1;
    const std::size_t e = requestLine.find_first_of("/?", c + 7);
    const std::string kept = requestLine.substr(0, c);
    if (e == npos || e >= bounds.end) {
      requestLine = kept + "/" + (bounds.versionBlank == npos ? "" : " ") + requestLine.substr(v);
    } else if (requestLine[e] == '?') {
      requestLine = kept + "/" + requestLine.substr(e);
    } else {
      requestLine = kept + requestLine.substr(e);
    }
  }
  return service;
}

bool isSafeHostText(const std::string& text, bool allowEmpty) {
  if (text.empty()) return allowEmpty;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127 || c == '\\') return false;
  }
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t slash = text.find('/', start);
    if (slash == npos) slash = text.size();
    if (text.compare(start, slash - start, "..") == 0 && slash - start == 2) return false;
    start = slash + 1;
  }
  return true;
}
