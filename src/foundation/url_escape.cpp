#include "foundation/url_escape.h"

#include <cstring>
#include <vector>

#include "foundation/strings.h"

namespace {

constexpr std::size_t kEncodeBufferSize = 65536;

bool needsEscape(unsigned char c) {
  if ((c >= 1 && c <= 31) || c == 127) return true;
  switch (c) {
    case '"': case '#': case '%': case '&': case '+': case '/':
    case ';': case '<': case '=': case '>': case '?':
      return true;
    default:
      return false;
  }
}

}  // namespace

void urlEncodeInto(const char* text, char* out, std::size_t size) {
  if (text == nullptr || out == nullptr) return;
  std::memset(out, 0, size);
  static const char kHex[] = "0123456789ABCDEF";
  std::size_t count = 0;
  for (std::size_t i = 0; text[i] != '\0' && count + 3 <= size; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (needsEscape(c)) {
      if (count + 4 > size) break;  // the zero byte would not fit behind it
      out[count++] = '%';
      out[count++] = kHex[c >> 4];
      out[count++] = kHex[c & 0x0F];
    } else {
      out[count++] = static_cast<char>(c);
    }
  }
  if (count < size) out[count] = '\0';
}

std::size_t urlDecodeInto(const char* text, char* out, std::size_t size) {
  if (text == nullptr || out == nullptr) return 0;
  std::memset(out, 0, size);
  std::size_t count = 0;
  for (std::size_t i = 0; text[i] != '\0' && count + 3 <= size; ++i) {
    if (text[i] != '%') {
      out[count++] = text[i];
      continue;
    }
    std::string digits;
    if (text[i + 1] != '\0') {
      digits.push_back(text[i + 1]);
      if (text[i + 2] != '\0') digits.push_back(text[i + 2]);
    }
    out[count++] = static_cast<char>(stringToInt(digits, 16) & 0xFF);
    if (digits.size() < 2) break;  // the input ends inside the escape
    i += 2;
  }
  if (count < size) out[count] = '\0';
  return count;
}

std::string urlEncode(const std::string& text) {
  std::vector<char> buffer(kEncodeBufferSize, '\0');
  urlEncodeInto(text.c_str(), buffer.data(), buffer.size());
  return std::string(buffer.data());
}

std::string urlDecode(const std::string& text) {
  std::vector<char> buffer(text.size() + 10, '\0');
  urlDecodeInto(text.c_str(), buffer.data(), buffer.size());
  return std::string(buffer.data());
}

std::string escapeControlBytes(const std::string& text, const char* alsoEscaped) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string extra = alsoEscaped == nullptr ? std::string() : std::string(alsoEscaped);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || extra.find(c) != std::string::npos) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}
