// The word finder gives std::string::find's answer for every word, text and
// start, including a long word that almost occurs at every byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/word_finder.h"
#include "support/binary_words.h"

namespace {

TEST(WordFinder, AgreesWithFindForEveryWordTextAndStart) {
  const auto words = binaryWords(4);
  const auto texts = binaryWords(8);
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
