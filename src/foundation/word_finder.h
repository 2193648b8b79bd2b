// Finding a word in a text in time linear in both, whatever their bytes
// (a long word that almost occurs everywhere costs no more than a short
// one): a text search for words that requests supply.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

class VLWordFinder {
 public:
  explicit VLWordFinder(const std::string& word);

  // Where the word first occurs in `text` at `from` or after; npos when it
  // does not (an empty word occurs at `from` while `from` is within the text).
  std::size_t find(const std::string& text, std::size_t from = 0) const;

  const std::string& word() const { return word_; }
  // failure()[i]: the length of the longest proper prefix of the word that
  // also ends its first i + 1 bytes.
  const std::vector<std::size_t>& failure() const { return failure_; }

 private:
  std::string word_;
  std::vector<std::size_t> failure_;
};
