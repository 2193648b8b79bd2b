// Readable names for the cases of a parameterised test: the case's number and
// a short form of a text that tells it (letters and digits kept, every other
// run of bytes one "_"), so a failure names its case instead of its bytes.
#pragma once
#include <cstddef>
#include <string>

inline std::string caseName(std::size_t index, const std::string& text, std::size_t maxText = 48) {
  std::string name = std::to_string(index);
  bool gap = true;
  for (char c : text) {
    if (name.size() >= maxText + 8) break;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (plain) {
      if (gap) name += '_';
      name += c;
      gap = false;
    } else {
      gap = true;
    }
  }
  return name;
}
