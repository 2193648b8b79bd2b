// The event service's XML replies: the shared envelope with the payload
// element "VarlumeEvent", always under 200 "Success" as text/xml.
#include "serviceframework/diagnostic_output.h"
#include "serviceframework/reply_envelope.h"
#include "serviceframework/service_settings.h"
#include "varlumeevent/event_handler.h"

namespace {
constexpr char kElement[] = "VarlumeEvent";
}  // namespace

void VLEventHandler::replyError(int code, const std::string& reason) {
  const std::string body = errorEnvelope(code, reasonBelowRoot(reason, storageRoot), kElement);
  responseHeader(200, "Success", "text/xml");
  sendResponse(body);
  reset();
}

void VLEventHandler::replySuccess() {
  const std::string body = successEnvelope(kElement);
  responseHeader(200, "Success", "text/xml");
  sendResponse(body);
  reset();
}

void VLEventHandler::replySuccess(const std::string& payload) {
  const std::string body = successEnvelope(kElement, payload);
  responseHeader(200, "Success", "text/xml");
  writeDiagnosticLine(body);
  sendResponse(body);
  reset();
}

void VLEventHandler::replyVersion() { replySuccess(kVersionText); }
