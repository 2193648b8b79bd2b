// The rule for request values that become folder or file names under the
// data root (the Host value and the two home header values of the services,
// the proxy's cache keys and mirror names): every "%" begins a whole %XX
// escape, so decoding never swallows a "/" or "." of the value as sent and
// the checks below hold for both forms; after one %XX decoding the value is
// not empty and holds no "\", "%", NUL or other control byte; it is one or
// more non-empty segments joined by "/", none of them "." or "..", longer
// than 255 bytes or a drive ("c:", "c:x"). ":" before a port stays.
#pragma once
#include <string>
#include <string_view>

// The value as a request sends it (decoded once here).
bool isPlainFolderValue(const std::string& value);
// A text that is already decoded.
bool isPlainDecodedFolderValue(std::string_view text);
// One plain segment: isPlainFolderValue, with no "/" in either form.
bool isPlainFolderSegment(const std::string& value);
// Every "%" of `value` starts a whole %XX escape.
bool hasOnlyWholeEscapes(const std::string& value);
