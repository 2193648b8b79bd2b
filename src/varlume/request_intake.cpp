#include "varlume/request_intake.h"

#include <cstring>

#include "foundation/strings.h"
#include "varlume/privileged_check.h"

namespace {

bool isNameByte(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// A line that a server behind the proxy could split or join differently
// from the proxy: a control byte other than tab (a zero byte, a CR anywhere
// but right before the final LF, a vertical tab...), or (for a header
// line) anything but a name directly followed by ":".
bool isMalformed(const std::string& line, bool headerLine) {
  const std::size_t textEnd = lineTextEnd(line);
  if (holdsControlByte(line, textEnd)) return true;
  if (!headerLine || textEnd == 0) return false;
  std::size_t i = 0;
  while (i < textEnd && isNameByte(line[i])) ++i;
  return i == 0 || i == textEnd || line[i] != ':';
}

}  // namespace

void VLRequestHead::clear() {
  lines.clear();
  upperLines.clear();
  hostIndex = 0;
  hostLines = 0;
  current_.clear();
  complete_ = false;
}

void VLRequestHead::setLine(std::size_t i, const std::string& line) {
  lines[i] = line;
  upperLines[i] = toUpper(line);
}

VLRequestHead::Status VLRequestHead::addByte(char byte) {
  if (complete_) return kComplete;
  current_.push_back(byte);
  if (byte != '\n') {
    // A line that does not end within the buffer is refused, not wrapped.
    return current_.size() >= kMaxLineBytes ? kRefused : kNeedMore;
  }
  std::string line;
  line.swap(current_);
  if (isMalformed(line, !lines.empty())) return kMalformed;
  // Empty lines before the request line (a CR LF after a body) are no request.
  if (lines.empty() && (line == "\n" || line == "\r\n")) return kNeedMore;

  std::string upper = toUpper(line);
  if (line.size() > 21 && upper.compare(0, 21, "VARLUMESUBDOMAINHOME:") == 0) return kNeedMore;
  if (line.size() > 27 && upper.compare(0, 27, "VARLUMESUBDOMAINCOMMONHOME:") == 0) return kNeedMore;

  if (lines.size() >= kMaxLines) return kRefused;
  if (lines.size() >= 1 && upper.compare(0, 5, "HOST:") == 0) {
    hostIndex = lines.size();
    ++hostLines;
  }
  const bool end = line == "\n" || line == "\r\n";
  lines.push_back(std::move(line));
  upperLines.push_back(std::move(upper));
  if (end) {
    complete_ = true;
    return kComplete;
  }
  return kNeedMore;
}

VLRequestAnalysis analyseRequest(VLRequestHead& head, std::string& browserUrl) {
  VLRequestAnalysis analysis;
  if (head.lines.empty()) return analysis;
  // Servers behind the proxy could take another target than the proxy
  // does: the first of two Host lines, a request line split at a blank
  // inside its target, a scheme the proxy would send as http.
  if (head.hostLines > 1 || !isPlainRequestLine(head.lines[0], head.upperLines[0])) return analysis;
  if (head.hostIndex == 0) {
    const std::string host = absoluteUrlHost(requestUrl(head.lines[0], head.upperLines[0]));
    if (host.empty()) return analysis;
    head.lines.insert(head.lines.begin() + 1, std::string());
    head.upperLines.insert(head.upperLines.begin() + 1, std::string());
    head.setLine(1, "Host: " + host + "\r\n");
    head.hostIndex = 1;
  }
  const std::size_t h = head.hostIndex;
  std::string requestLine = head.lines[0];
  std::string hostLine = head.lines[h];
  analysis.target = parseRequestTarget(requestLine, head.upperLines[0], hostLine, head.upperLines[h],
                                       browserUrl);
  head.setLine(h, hostLine);
  head.setLine(0, requestLine);
  analysis.service = isServiceHost(requestLine, head.upperLines[0], head.upperLines[h]);
  head.setLine(0, requestLine);
  // The Host line as it will leave: a decoded %0D or %0A in it is refused
  // wherever it stands, its ends included.
  analysis.accepted = isSafeHostText(analysis.target.pageHost, !analysis.service) &&
                      isSafeHostText(hostValue(hostLine), false) &&
                      !holdsControlByte(hostLine, lineTextEnd(hostLine)) &&
                      requestPermitted(analysis.service, analysis.target.mirror, hostValue(hostLine),
                                       requestLine, head.lines, analysis.target.pageHost);
  return analysis;
}
