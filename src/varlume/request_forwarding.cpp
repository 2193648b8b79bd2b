#include "varlume/request_forwarding.h"

#include "foundation/decimal.h"
#include "foundation/strings.h"
#include "varlume/request_intake.h"
#include "varlume/request_target.h"

namespace {

// The line without its line end.
std::string withoutLineEnd(const std::string& line) { return line.substr(0, lineTextEnd(line)); }

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// A body length: 1 to 18 decimal digits after trimming; false otherwise.
bool readLength(const std::string& text, std::int64_t& length) {
  return parseDigits(trim(text, true), length);
}

// The request line in upstream form: the origin-form path behind
// "http://" + Host value (+ ":" + port unless 80 or 0).
std::string upstreamLine(const std::string& line, const std::string& upper, const std::string& host,
                         int port) {
  static const char* const kForms[] = {"GET /", "HEAD /", "POST /", "PROPFIND /"};
  for (const char* form : kForms) {
    if (!startsWith(upper, form)) continue;
    const std::size_t slash = std::char_traits<char>::length(form) - 1;
    std::string result = upper.substr(0, slash - 1) + " http://" + host;
    if (port != 80 && port != 0) result += ":" + intToString(port);
    return result + line.substr(slash);
  }
  return line;
}

}  // namespace

VLForwardTexts rewriteHeaders(const VLRequestHead& head, bool service, const std::string& pageHost,
                              int port) {
  VLForwardTexts texts;
  const std::vector<std::string>& lines = head.lines;
  const std::vector<std::string>& uppers = head.upperLines;
  const std::size_t hostIndex = head.hostIndex;
  const std::string host = hostIndex < lines.size() ? hostValue(lines[hostIndex]) : std::string();
  const std::string pageHostLine = "Host: " + trim(pageHost, true);
  // The length line that counts is the last one; only it leaves.
  std::size_t lengthIndex = 0;
  bool seenLength = false;
  for (std::size_t i = 1; i < uppers.size(); ++i) {
    if (startsWith(uppers[i], "CONTENT-LENGTH:")) lengthIndex = i;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string line = withoutLineEnd(lines[i]);
    const std::string& upper = uppers[i];
    if (i == 0) {
      texts.origin += line + "\r\n";
      texts.upstream += upstreamLine(line, withoutLineEnd(upper), host, port) + "\r\n";
      continue;
    }
    if (startsWith(upper, "CONTENT-LENGTH:")) {
      std::int64_t length = 0;
      if (!readLength(line.substr(15), length)) texts.bodyFramingOk = false;
      // Two lengths that differ: a server that takes the first would read
      // the rest of the body as a request of its own.
      if (seenLength && length != texts.contentLength) texts.bodyFramingOk = false;
      seenLength = true;
      texts.contentLength = length;
      if (i != lengthIndex) continue;
    } else if (startsWith(upper, "PROXY-CONNECTION:")) {
      continue;
    } else if (startsWith(upper, "UPGRADE:")) {
      // No tunnel is built: a server that switched protocols would have
      // its later bytes read as the answers to other requests.
      continue;
    } else if (service && upper.find("CONTENT-LENGTH:") != std::string::npos) {
      continue;  // a look-alike of the length line would mislead a service's reading
    } else if (startsWith(upper, "HOST:")) {
      // Only the Host line the analysis chose names the target.
      if (i != hostIndex) continue;
      if (service) {
        line = pageHostLine;
      } else if (port != 80 && port != 0) {
        // The target's authority: a port other than the default is part of it.
        line += ":" + intToString(port);
      }
    } else if (startsWith(upper, "TRANSFER-ENCODING:") &&
               trim(upper.substr(18), true) != "IDENTITY") {
      texts.bodyFramingOk = false;
    }
    texts.origin += line + "\r\n";
    texts.upstream += line + "\r\n";
  }
  return texts;
}
