#include "serviceframework/reply_envelope.h"

#include "foundation/strings.h"
#include "platform/paths.h"

namespace {

std::string envelope(const std::string& code, const std::string& reason, const std::string& element,
                     const std::string& payload) {
  std::string text;
  text.reserve(80 + code.size() + reason.size() + 2 * element.size() + payload.size());
  text += "<Varlume><ErrorCode>";
  text += code;
  text += "</ErrorCode><ErrorReason>";
  text += reason;
  text += "</ErrorReason><";
  text += element;
  text += '>';
  text += payload;
  text += "</";
  text += element;
  text += "></Varlume>";
  return text;
}

}  // namespace

std::string reasonBelowRoot(const std::string& reason, const std::string& root) {
  std::string folder = root;
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (folder.empty()) return reason;
  std::string text = reason;
  for (const std::string& form : {platform::fromSystemPath(folder) + "\\", platform::toSystemPath(folder) + "/"}) {
    replaceAll(form, "", text);
  }
  return text;
}

std::string xmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string errorEnvelope(int code, const std::string& reason, const std::string& element) {
  return envelope(intToString(code), xmlEscape(reason), element, std::string());
}

std::string successEnvelope(const std::string& element, const std::string& payload) {
  return envelope(" 0 ", "Success", element, payload);
}
