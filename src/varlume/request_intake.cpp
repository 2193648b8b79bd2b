#include "varlume/request_intake.h"

#include "foundation/strings.h"

void VLRequestHead::clear() {
  lines.clear();
  hostIndex = 0;
  current_.clear();
  complete_ = false;
}

VLRequestHead::Status VLRequestHead::addByte(char byte) {
  if (complete_) return kComplete;
  current_.push_back(byte);
  if (byte != '\n') {
    // A line that does not end within the buffer is refused, not wrapped.
    return current_.size() >= kMaxLineBytes ? kRefused : kNeedMore;
  }
  // The line's text ends at its first zero byte.
  std::string line = current_.substr(0, current_.find('\0'));
  current_.clear();
  // A line cut down to nothing has lost its line end: the head could not end.
  if (line.empty()) return kRefused;
  // Empty lines before the request line (a CR LF after a body) are no request.
  if (lines.empty() && (line == "\n" || line == "\r\n")) return kNeedMore;

  const std::string upper = toUpper(line.substr(0, 27));
  if (line.size() > 21 && upper.compare(0, 21, "VARLUMESUBDOMAINHOME:") == 0) return kNeedMore;
  if (line.size() > 27 && upper.compare(0, 27, "VARLUMESUBDOMAINCOMMONHOME:") == 0) return kNeedMore;

  if (lines.size() >= kMaxLines) return kRefused;
  lines.push_back(line);
  if (lines.size() > 1 && upper.compare(0, 5, "HOST:") == 0) hostIndex = lines.size() - 1;
  if (line == "\n" || line == "\r\n") {
    complete_ = true;
    return kComplete;
  }
  return kNeedMore;
}

VLRequestAnalysis analyseRequest(VLRequestHead& head, std::string& browserUrl) {
  VLRequestAnalysis analysis;
  if (head.lines.empty()) return analysis;
  if (head.hostIndex == 0) {
    const std::string host = absoluteUrlHost(requestUrl(head.lines[0]));
    if (host.empty()) return analysis;
    head.lines.insert(head.lines.begin() + 1, "Host: " + host + "\r\n");
    head.hostIndex = 1;
  }
  std::string& requestLine = head.lines[0];
  std::string& hostLine = head.lines[head.hostIndex];
  analysis.target = parseRequestTarget(requestLine, hostLine, browserUrl);
  analysis.service = isServiceHost(requestLine, hostLine);
  analysis.accepted = isSafeHostText(analysis.target.pageHost, !analysis.service) &&
                      isSafeHostText(hostValue(hostLine), false);
  return analysis;
}
