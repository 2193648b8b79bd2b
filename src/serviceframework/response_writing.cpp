// The services' replies: the response head, the writers that complete and
// send it, and the base handler's fixed page.
#include <algorithm>

#include "foundation/strings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "serviceframework/generic_handler.h"
#include "serviceframework/http_date.h"

namespace {

constexpr char kDefaultPage[] =
    "<HTML><HEAD><TITLE>VARLUME</TITLE></HEAD><BODY><H1>Varlume Generic Server<H1><P>No logic "
    "implemented to service your request.</P></BODY></HTML>\r\n";

}  // namespace

void VLGenericHandler::responseHeader(int code, const std::string& reason, const std::string& contentType) {
  responseHead = "HTTP/1.1 " + intToString(code) + " " + reason + "\r\n";
  responseHead += httpDateLine(platform::unixTime());
  responseHead += "Server: Varlume Release 1.00.00 Linux.\r\n";
  responseHead += "Content-Type: " + contentType + "\r\n";
  responseHead += "Connection: Keep-Alive\r\n";
  responseHead += "Keep-Alive: timeout=100, max=1000\r\n";
}

long VLGenericHandler::sendResponse(const std::string& body) {
  responseHead += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  // Only a HEAD reply is head-only: the proxy reads the announced length of any other.
  if (toUpper(method) == "HEAD" || body.empty()) {
    sendAll(responseHead);
    return 0;
  }
  if (body.size() <= kWindowBytes) {
    // One send for a small reply: a second small segment would wait for the
    // peer's delayed acknowledgement.
    sendAll(responseHead + body);
    return static_cast<long>(body.size());
  }
  sendAll(responseHead);
  long handedOn = 0;
  for (std::size_t at = 0; at < body.size(); at += kWindowBytes) {
    std::size_t piece = std::min(kWindowBytes, body.size() - at);
    sendAll(body.data() + at, piece);
    handedOn += static_cast<long>(piece);
  }
  return handedOn;
}

int VLGenericHandler::sendEmptyResponse() {
  responseHead += "Content-Length: 0\r\n\r\n";
  sendAll(responseHead);
  return 0;
}

bool VLGenericHandler::sendAll(const char* data, std::size_t length) {
  if (!bodyFile.empty() && !bodyFileRemoved) {
    platform::removeFile(bodyFile);  // the name stays until reset
    bodyFileRemoved = true;
  }
  if (socket == platform::kInvalidSocket) return false;
  if (length == 0) return true;
  // A peer that takes nothing for the whole keep-alive time is given up.
  int timeoutMs = byteWaitMilliseconds * kMaxFailedReads;
  if (platform::sendAll(socket, data, length, timeoutMs)) return true;
  int error = platform::lastSocketError();
  if (error == platform::kErrBadHandle || error == platform::kErrNotSocket) {
    socket = platform::kInvalidSocket;  // nothing left to close
  } else {
    // Part of a reply may have gone out: nothing after it could be framed.
    dropConnection();
  }
  return false;
}

void VLGenericHandler::serviceRequest() {
  responseHeader(200, "Success", "text/html");
  sendResponse(kDefaultPage);
  reset();
}
