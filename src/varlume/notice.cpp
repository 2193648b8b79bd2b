#include "varlume/notice.h"

#include <cstdio>
#include <random>

std::string formatNotice(int id, VLNoticeKind kind) {
  if (id < 1 || id > kMaxNoticeId) return std::string();
  char text[kNoticeLength + 1];
  std::snprintf(text, sizeof text, "%08d 1 %c", id, static_cast<char>(kind));
  return std::string(text, kNoticeLength);
}

std::string makeNoticeKey() {
  static const char kDigits[] = "0123456789abcdef";
  std::random_device source;
  std::string key;
  while (key.size() < kNoticeKeyLength) {
    unsigned value = source();
    for (int i = 0; i < 8 && key.size() < kNoticeKeyLength; ++i, value >>= 4) key += kDigits[value & 15];
  }
  return key;
}

bool parseNotice(const char* bytes, VLNotice& notice) {
  int id = 0;
  for (int i = 0; i < 8; ++i) {
    if (bytes[i] < '0' || bytes[i] > '9') return false;
    id = id * 10 + (bytes[i] - '0');
  }
  if (id < 1 || bytes[8] != ' ' || bytes[9] != '1' || bytes[10] != ' ') return false;
  char kind = bytes[11];
  if (kind != '+' && kind != '0' && kind != '1') return false;
  notice.id = id;
  notice.kind = static_cast<VLNoticeKind>(kind);
  return true;
}
