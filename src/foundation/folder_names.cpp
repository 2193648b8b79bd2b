#include "foundation/folder_names.h"

#include <cstddef>
#include <string_view>
#include <vector>

#include "foundation/url_escape.h"

namespace {

constexpr std::size_t kMaxSegmentBytes = 255;

bool isControlByte(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isPlainSegment(std::string_view segment) {
  if (segment.empty() || segment.size() > kMaxSegmentBytes) return false;
  if (segment == "." || segment == "..") return false;
  // A letter and ":" at the start names a drive, unless a port follows.
  if (segment.size() >= 2 && isAsciiLetter(segment[0]) && segment[1] == ':' &&
      (segment.size() == 2 || !isDigit(segment[2]))) {
    return false;
  }
  return true;
}

// The value decoded once; a decoded %00 stays in the result.
std::string decodedOnce(const std::string& value) {
  std::vector<char> decoded(value.size() + 10, '\0');
  std::size_t length = urlDecodeInto(value.c_str(), decoded.data(), decoded.size());
  return std::string(decoded.data(), length);
}

}  // namespace

// A broken escape would swallow the characters behind it when decoded
// ("a%/.." decodes to one harmless segment, yet as a folder it is the data
// root itself).
bool hasOnlyWholeEscapes(const std::string& value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') continue;
    if (i + 2 >= value.size() || !isHexDigit(value[i + 1]) || !isHexDigit(value[i + 2])) return false;
    i += 2;
  }
  return true;
}

bool isPlainFolderValue(const std::string& value) {
  if (value.empty() || !hasOnlyWholeEscapes(value)) return false;
  return isPlainDecodedFolderValue(decodedOnce(value));
}

bool isPlainFolderSegment(const std::string& value) {
  if (value.size() > kMaxSegmentBytes || value.find('/') != std::string::npos ||
      !isPlainFolderValue(value)) {
    return false;
  }
  return decodedOnce(value).find('/') == std::string::npos;
}

bool isPlainDecodedFolderValue(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (isControlByte(byte) || c == '\\' || c == '%') return false;  // NUL included
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = text.find('/', start);
    std::string_view segment =
        text.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (!isPlainSegment(segment)) return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}
