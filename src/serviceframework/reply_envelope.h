// The services' XML reply envelope: "<Varlume><ErrorCode>", the code,
// "</ErrorCode><ErrorReason>", the reason, "</ErrorReason><E>", the payload,
// "</E></Varlume>", where E is the service's payload element ("VarlumeEvent",
// "VarlumeFile"). Reasons are XML-escaped here; payloads are the caller's
// markup, so callers escape the texts they put into them with xmlEscape.
#pragma once
#include <string>

// "&", "<" and ">" as "&amp;", "&lt;" and "&gt;"; every other byte unchanged.
std::string xmlEscape(const std::string& text);

// A reason as a page may read it: every mention of the folder `root` (the
// data root), in "\" or "/" form with the separator after it, is left out,
// so the paths it names read relative to the data root and no answer tells
// a page where the user's files lie. An empty root changes nothing.
std::string reasonBelowRoot(const std::string& reason, const std::string& root);

// The envelope of a failed command: the code as intToString writes it (a
// negative code gives an empty element), the reason escaped, no payload.
std::string errorEnvelope(int code, const std::string& reason, const std::string& element);

// The envelope of a success: the code " 0 ", the reason "Success", the payload.
std::string successEnvelope(const std::string& element, const std::string& payload = std::string());
