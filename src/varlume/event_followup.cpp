#include "varlume/event_followup.h"

#include <cstdio>

#include "foundation/privileged_host.h"
#include "platform/clock.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "varlume/client_connection.h"
#include "varlume/request_target.h"

namespace {

constexpr const char* kNoResponseMessage = "No response from server.";

bool isSafeTarget(const std::string& target) {
  if (target.empty() || target[0] != '/') return false;
  for (const char byte : target) {
    const unsigned char value = static_cast<unsigned char>(byte);
    if (value <= 32 || value == 127) return false;
  }
  return true;
}

}  // namespace

std::string hostLineValue(const std::string& pageHost) {
  std::string value;
  for (const char byte : pageHost) value += byte == '%' ? std::string("%25") : std::string(1, byte);
  return value;
}

std::string eventQueryText(const std::string& requestLine, const std::string& pageHost,
                           const char* event) {
  return "GET /varlume/event/getEvent?Path=" + escapeControlBytes(requestUrl(requestLine)) +
         "&Event=" + event + " HTTP/1.1\r\nHost: " + hostLineValue(pageHost) + "\r\n\r\n";
}

std::string targetFollowUpText(const std::string& target, const std::string& pageHost, bool head) {
  return std::string(head ? "HEAD " : "GET ") + target + " HTTP/1.1\r\nHost: " +
         hostLineValue(trim(pageHost, true)) + "\r\nReferrer: event\r\n\r\n";
}

std::string portalFollowUpText(const std::string& pageHost, const std::string& browserUrl, bool head) {
  return std::string(head ? "HEAD " : "GET ") + "/varlume/file/getPortal?Host=" +
         urlEncode(trim(pageHost, true)) + "&Query=" + urlEncode(browserUrl) + " HTTP/1.1\r\nHost: " +
         kPrivilegedHost + "\r\nReferrer: event\r\n\r\n";
}

std::string followUpText(const std::string& reply, const std::string& pageHost,
                         const std::string& browserUrl, bool head) {
  const std::string text = reply.substr(0, reply.find('\0'));
  const std::size_t end = text.find("\r\n\r\n");
  if (text.size() >= 12 && text.compare(9, 3, "200") == 0 && end != std::string::npos) {
    const std::string target = text.substr(end + 4);
    if (isSafeTarget(target)) return targetFollowUpText(target, pageHost, head);
  }
  return portalFollowUpText(pageHost, browserUrl, head);
}

void answerUnserved(VLClientConnection& connection, const std::string& pageHost,
                    const std::string& path) {
  connection.answerWithMessage(pageHost, path, kNoResponseMessage);
}

bool VLClientConnection::awaitEventReply(int id, int slot, std::string& reply) {
  if (slot < 0 || slot >= kClientCount) return false;
  VLClient& queryClient = client(slot);
  // Looked at in short steps, within the bound of all the rounds.
  const std::int64_t deadline = platform::monotonicMilliseconds() + kEventRounds * kEventRoundMs;
  for (;;) {
    // The relay clears the record once the reply is complete (or given
    // up); only then is part 0 whole.
    if (!holdsRecord(queryClient, id)) {
      reply = takeParts(id, kEventReplyBytes, nullptr);
      return true;
    }
    if (platform::monotonicMilliseconds() >= deadline) break;
    waitTakingNotices(kEventStepMs);
  }
  queryClient.closeSockets();
  for (int i = 0; i < 100 && queryClient.relayRunning(); ++i) waitTakingNotices(10);
  takeParts(id, 0, nullptr);
  return false;
}

int VLClientConnection::followUpUnserved(int result) {
  const Unserved failed = unserved_;
  unserved_ = Unserved();
  if (!failed.due) {
    eventQuery.clear();
    return result;
  }
  // The query: routed like a request, with no answer of its own.
  pendingEventId = -1;
  queryClientSlot_ = -1;
  handleRequest();
  eventQuery.clear();
  const int id = pendingEventId;
  pendingEventId = -1;
  std::string reply;
  if (id <= 0 || !awaitEventReply(id, queryClientSlot_, reply)) {
    answerUnserved(*this, failed.pageHost, failed.path);
    return result;
  }
  // The follow-up takes the failed request's place.
  followUp = followUpText(reply, failed.pageHost, browserUrl, failed.head);
  const int before = answersQueued_;
  const int routed = handleRequest();
  followUp.clear();
  if (answersQueued_ == before) answerUnserved(*this, failed.pageHost, failed.path);
  return routed;
}
