// Every word over the letters "a" and "b" up to a length, shortest first:
// small texts and patterns that together reach every way two can overlap.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

inline std::vector<std::string> binaryWords(std::size_t maxLength) {
  std::vector<std::string> all{""};
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].size() < maxLength) {
      all.push_back(all[i] + "a");
      all.push_back(all[i] + "b");
    }
  }
  return all;
}
