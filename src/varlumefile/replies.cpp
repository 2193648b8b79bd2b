// The three XML reply writers and the version reply.
#include "serviceframework/reply_envelope.h"
#include "serviceframework/service_settings.h"
#include "varlumefile/file_server.h"
#include "varlumefile/file_settings.h"

namespace {
constexpr char kElement[] = "VarlumeFile";
}  // namespace

void VLFileHandler::replyError(int code, const std::string& reason) {
  responseHeader(200, "Success", "text/xml");
  sendResponse(errorEnvelope(code, reasonBelowRoot(reason, storageRoot), kElement));
  reset();
}

void VLFileHandler::replySuccess() { replySuccess(std::string()); }

void VLFileHandler::replySuccess(const std::string& payload) {
  responseHeader(200, "Success", "text/xml");
  sendResponse(successEnvelope(kElement, payload));
  reset();
}

void VLFileHandler::replyVersion() { replySuccess(kFileServiceVersion); }
