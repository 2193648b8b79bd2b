#include "foundation/base64.h"

namespace {

bool isWhiteSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const unsigned char* skipWhiteSpace(const unsigned char* p) {
  while (*p != 0 && isWhiteSpace(*p)) ++p;
  return p;
}

}  // namespace

int base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int base64Decode(const char* text, unsigned char* target, int size) {
  if (text == nullptr || target == nullptr) return -1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  int state = 0;
  int count = 0;

  for (; *p != 0 && *p != '='; ++p) {
    if (isWhiteSpace(*p)) continue;
    int bits = base64Value(*p);
    if (bits < 0) return -1;
    switch (state) {
      case 0:
        if (count >= size) return -1;
        target[count] = static_cast<unsigned char>(bits << 2);
        state = 1;
        break;
      case 1:
        if (count + 1 >= size) return -1;
        target[count] |= static_cast<unsigned char>(bits >> 4);
        target[count + 1] = static_cast<unsigned char>((bits & 0x0F) << 4);
        ++count;
        state = 2;
        break;
      case 2:
        if (count + 1 >= size) return -1;
        target[count] |= static_cast<unsigned char>(bits >> 2);
        target[count + 1] = static_cast<unsigned char>((bits & 0x03) << 6);
        ++count;
        state = 3;
        break;
      default:
        if (count >= size) return -1;
        target[count] |= static_cast<unsigned char>(bits);
        ++count;
        state = 0;
        break;
    }
  }

  if (*p == '=') {
    if (state == 0 || state == 1) return -1;
    ++p;
    if (state == 2) {
      p = skipWhiteSpace(p);
      if (*p != '=') return -1;
      ++p;
    }
    if (*skipWhiteSpace(p) != 0) return -1;
    // The bits of the started byte must all be zero.
    if (target[count] != 0) return -1;
  } else if (state != 0) {
    return -1;
  }

  // The zero byte behind the data must fit too.
  if (count >= size) return -1;
  target[count] = 0;
  return count;
}
