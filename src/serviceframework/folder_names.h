// The rule for request values that become folder names under the data root
// (the Host value and the two home header values): every "%" begins a whole
// %XX escape, so decoding never swallows a "/" or "." of the value as sent
// and the checks below hold for both forms; after one %XX decoding the
// value is not empty and holds no "\", "%", NUL or other control byte; it is
// one or more non-empty segments joined by "/", none of them "." or "..",
// longer than 255 bytes or a drive ("c:", "c:x"). ":" before a port stays.
#pragma once
#include <string>

bool isPlainFolderValue(const std::string& value);
