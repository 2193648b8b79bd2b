// The word finder gives std::string::find's answer for every word, text and
// start, including a long word that almost occurs at every byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/word_finder.h"

namespace {

std::vector<std::string> wordsUpTo(std::size_t maxLength) {
  std::vector<std::string> all{""};
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].size() < maxLength) {
      all.push_back(all[i] + "a");
      all.push_back(all[i] + "b");
    }
  }
  return all;
}

TEST(WordFinder, AgreesWithFindForEveryWordTextAndStart) {
  const auto words = wordsUpTo(4);
  const auto texts = wordsUpTo(8);
  for (const std::string& word : words) {
    const VLWordFinder finder(word);
    for (const std::string& text : texts) {
      for (std::size_t from = 0; from <= text.size() + 1; ++from) {
        ASSERT_EQ(finder.find(text, from), text.find(word, from)) << word << " in " << text << " from " << from;
      }
    }
  }
}

TEST(WordFinder, ALongWordThatAlmostOccursEverywhere) {
  const std::string word = std::string(4096, 'a') + "b";
  const VLWordFinder finder(word);
  const std::string text = std::string(1 << 20, 'a') + "b" + std::string(100, 'a') + word;
  EXPECT_EQ(finder.find(text), (1u << 20) - 4096);
  EXPECT_EQ(finder.find(text, (1u << 20) - 4095), text.size() - word.size());
  EXPECT_EQ(finder.find(std::string(1 << 20, 'a')), std::string::npos);
  const VLWordFinder withNul(std::string("\0b", 2));
  EXPECT_EQ(withNul.find(std::string("a\0a\0b", 5)), 3u);
}

}  // namespace
