#include "foundation/word_finder.h"

#include <cstring>

VLWordFinder::VLWordFinder(const std::string& word) : word_(word), failure_(word.size(), 0) {
  for (std::size_t i = 1, k = 0; i < word_.size(); ++i) {
    while (k > 0 && word_[i] != word_[k]) k = failure_[k - 1];
    if (word_[i] == word_[k]) ++k;
    failure_[i] = k;
  }
}

std::size_t VLWordFinder::find(const std::string& text, std::size_t from) const {
  const std::size_t m = word_.size();
  if (from > text.size()) return std::string::npos;
  if (m == 0) return from;
  if (text.size() - from < m) return std::string::npos;
  std::size_t matched = 0;
  for (std::size_t i = from; i < text.size();) {
    if (matched == 0) {
      // Nothing matched yet: skip straight to the next first byte.
      const void* next = std::memchr(text.data() + i, word_[0], text.size() - i);
      if (next == nullptr) return std::string::npos;
      i = static_cast<std::size_t>(static_cast<const char*>(next) - text.data());
    }
    const char c = text[i++];
    while (matched > 0 && word_[matched] != c) matched = failure_[matched - 1];
    if (word_[matched] == c) ++matched;
    if (matched == m) return i - m;
  }
  return std::string::npos;
}
