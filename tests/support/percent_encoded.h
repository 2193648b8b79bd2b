// A text as a page's script puts it in a URL: every byte %-encoded but
// letters, digits and the bytes of `kept`.
#pragma once
#include <cctype>
#include <string>

inline std::string percentEncoded(const std::string& text, const std::string& kept = "") {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || kept.find(static_cast<char>(c)) != std::string::npos) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}
