#include "foundation/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <ostream>

#include "support/binary_words.h"
#include "support/case_name.h"

namespace {

// The replacing rule taken literally: restart from the beginning after every
// replacement. Gives up (nullopt) after `maxSteps` replacements.
std::optional<std::string> literalRule(const std::string& from, const std::string& to,
                                       std::string text, int maxSteps) {
  if (from.empty()) return text;
  for (int steps = 0;; ++steps) {
    std::size_t at = text.find(from);
    if (at == std::string::npos) return text;
    if (steps == maxSteps) return std::nullopt;
    text.replace(at, from.size(), to);
  }
}

struct ReplaceCase {
  const char* from;
  const char* to;
  const char* text;
  const char* expected;
};

class ReplaceAllTable : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllTable, GivesTheRestartRuleResultInPlace) {
  const ReplaceCase& c = GetParam();
  std::string text = c.text;
  std::string& result = replaceAll(c.from, c.to, text);
  EXPECT_EQ(&result, &text);
  EXPECT_EQ(text, c.expected);
}

// A failure names the case, not its bytes.
void PrintTo(const ReplaceCase& c, std::ostream* os) {
  *os << "\"" << c.from << "\" by \"" << c.to << "\" in \"" << c.text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceAllTable,
    ::testing::Values(
        ReplaceCase{"/", "\\", "C:/a/b", "C:\\a\\b"},
        ReplaceCase{"", "x", "abc", "abc"},
        ReplaceCase{"zz", "y", "abc", "abc"},
        ReplaceCase{"ab", "", "aabb", ""},             // a plain pass would leave "ab"
        ReplaceCase{"ab", "a", "abbb", "a"},           // replaced text joins the next match
        ReplaceCase{"ab", "ba", "aabb", "bbaa"},       // repeats inside inserted text
        ReplaceCase{"ab", "bxa", "abab", "bxbxaxa"},   // a match made only of inserted text
        ReplaceCase{"ab", "bba", "aab", "bbbbaa"},
        // `to` shares no byte with `from`: one pass from the left.
        ReplaceCase{"ab", "x", "aabb", "axb"},
        ReplaceCase{"NAME", "Ann", "NAMENAMNAME", "AnnNAMAnn"},
        ReplaceCase{"aa", "b", "aaaaa", "bba"},
        // `to` contains `from`: each original occurrence once, and it ends.
        ReplaceCase{"a", "aa", "aaa", "aaaaaa"},
        ReplaceCase{"x", "yx", "axbx", "ayxbyx"},
        ReplaceCase{"ab", "xab", "ab", "xab"}),
    [](const ::testing::TestParamInfo<ReplaceCase>& info) {
      return caseName(info.index, std::string(info.param.from) + " by " + info.param.to + " in " +
                                      info.param.text);
    });

// Every small pair over {a, b} for which the literal rule ends soon gives
// exactly the literal result.
TEST(ReplaceAll, AgreesWithTheLiteralRuleWheneverItEnds) {
  const auto froms = binaryWords(2);
  const auto tos = binaryWords(3);
  const auto texts = binaryWords(8);
  int compared = 0;
  for (const auto& from : froms) {
    if (from.empty()) continue;
    for (const auto& to : tos) {
      if (to.find(from) != std::string::npos) continue;
      for (const auto& text : texts) {
        auto expected = literalRule(from, to, text, 60);
        if (!expected) continue;
        std::string got = text;
        replaceAll(from, to, got);
        ASSERT_EQ(got, *expected) << from << " -> " << to << " on " << text;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 25000);
}

// Short texts whose cascades of inserted text end only after many times
// their own length of replacements still give the literal result.
TEST(ReplaceAll, AgreesWithTheLiteralRuleOnLongCascadesThatEnd) {
  struct Case {
    const char* from;
    const char* to;
    const char* text;
  };
  for (const Case& c : {Case{"ab", "baaa", "baabbbaabb"}, Case{"ab", "bbba", "aaabaaab"},
                        Case{"ba", "abb", "bbababbaaa"}}) {
    auto expected = literalRule(c.from, c.to, c.text, 5000);
    ASSERT_TRUE(expected.has_value()) << c.text;
    std::string got = c.text;
    replaceAll(c.from, c.to, got);
    EXPECT_EQ(got, *expected) << c.from << " -> " << c.to << " on " << c.text;
  }
}

// Pairs under which the literal rule never ends or grows exponentially:
// the result is bounded by a multiple of the input, and the replacement's
// invariant (the count of 'a') holds.
TEST(ReplaceAll, EndsWithLinearResultOnCascadingPairs) {
  const std::size_t n = 20000;
  const std::string input = std::string(n, 'a') + "b";
  struct Case {
    const char* to;
    std::size_t aPerReplacement;  // a's that one replacement adds
  };
  for (const Case& c : {Case{"bba", 0}, Case{"bbaa", 1}}) {
    std::string text = input;
    replaceAll("ab", c.to, text);
    EXPECT_LE(text.size(), 4 * input.size()) << c.to;
    const std::size_t as = static_cast<std::size_t>(std::count(text.begin(), text.end(), 'a'));
    EXPECT_GE(as, n) << c.to;
    EXPECT_LE(as, n + c.aPerReplacement * (n + 1)) << c.to;
  }
  std::string sorting = std::string(3000, 'a') + std::string(3000, 'b');
  replaceAll("ab", "ba", sorting);  // quadratic under the literal rule
  EXPECT_EQ(sorting.size(), 6000u);
  std::string doubling(100000, 'a');
  replaceAll("a", "aa", doubling);
  EXPECT_EQ(doubling, std::string(200000, 'a'));
}

TEST(ReplaceAllWithin, ReportsAnExhaustedBudgetAndKeepsTheText) {
  struct Case {
    const char* from;
    const char* to;
    const char* text;
    std::size_t maxReplacements;
    std::size_t maxLength;
    bool fits;
    const char* expected;
  };
  const Case cases[] = {
      {"ab", "", "aabb", 2, 100, true, ""},
      {"ab", "", "aabb", 1, 100, false, "aabb"},
      {"a", "xyz", "aaaa", 4, 12, true, "xyzxyzxyzxyz"},
      {"a", "xyz", "aaaa", 4, 11, false, "aaaa"},
      {"a", "aa", "aaaa", 3, 100, false, "aaaa"},
      {"q", "r", "abc", 0, 3, true, "abc"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(replaceAllWithin(c.from, c.to, text, c.maxReplacements, c.maxLength), c.fits)
        << c.from << " -> " << c.to << " on " << c.text;
    EXPECT_EQ(text, c.expected);
  }
}

TEST(EnsureTrailingSlash, AppendsOnlyWhereNoSeparatorEnds) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\x", "C:\\x/"}, {"C:\\x\\", "C:\\x\\"}, {"a/", "a/"}, {"", ""}};
  for (const auto& [in, out] : cases) {
    std::string text = in;
    EXPECT_EQ(&ensureTrailingSlash(text), &text);
    EXPECT_EQ(text, out) << in;
  }
}

TEST(CaseMapping, TouchesOnlyAsciiLettersOfAllBytes) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  const std::string upper = toUpper(all);
  const std::string lower = toLower(all);
  ASSERT_EQ(upper.size(), 256u);
  ASSERT_EQ(lower.size(), 256u);
  for (int c = 0; c < 256; ++c) {
    const char up = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    const char down = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    EXPECT_EQ(upper[c], up) << c;
    EXPECT_EQ(lower[c], down) << c;
  }
  EXPECT_TRUE(equalsIgnoreCase("Proxy-Connection:", "PROXY-CONNECTION:"));
  EXPECT_FALSE(equalsIgnoreCase("\xE9", "\xC9"));  // Latin-1 letters stay apart
  EXPECT_FALSE(equalsIgnoreCase("ab", "abc"));
}

TEST(CTexts, NullGivesEmptyAndCopiesAreEqual) {
  EXPECT_EQ(toString(nullptr), "");
  EXPECT_EQ(toString("x y"), "x y");
  EXPECT_EQ(copyString(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Trim, RemovesOnlyItsSetAtBothEnds) {
  struct Case {
    const char* text;
    bool all;
    const char* expected;
  };
  const Case cases[] = {
      {"\tword ", false, "\tword"}, {"\tword ", true, "word"},
      {" \r\n a b \n\r\t", true, "a b"}, {"\r\n", false, "\r\n"},
      {"   ", false, ""}, {" \t\r\n", true, ""}, {"", true, ""},
      {"\v x \f", true, "\v x \f"},  // vertical tab and form feed stay
  };
  for (const Case& c : cases) EXPECT_EQ(trim(c.text, c.all), c.expected) << c.text;
}

TEST(StringToInt, ReadsHexWithWrapAndNoRejection) {
  struct Case {
    std::string text;
    int base;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"ff", 16, 255}, {"FF", 16, 255}, {"1A", 16, 26}, {"", 16, 0},
      {"G", 16, 16}, {"z", 16, 35},
      {"FFFFFFFF", 16, 0xFFFFFFFFu},
      {"100000000", 16, 0},             // 16^8 wraps to 0
      {"123456789", 16, 0x23456789u},   // the ninth digit falls off
      {"\x80", 16, static_cast<std::uint32_t>(-128 - 48)},
      {"-", 16, static_cast<std::uint32_t>(45 - 48)},
      {"45000", 10, 45000},
  };
  for (const Case& c : cases) EXPECT_EQ(stringToInt(c.text, c.base), c.expected) << c.text;
}

TEST(NumberTexts, DecimalWithoutSignOrLeadingZeros) {
  EXPECT_EQ(intToString(0), "0");
  EXPECT_EQ(intToString(45000), "45000");
  EXPECT_EQ(intToString(2147483647), "2147483647");
  EXPECT_EQ(intToString(-1), "");
  EXPECT_EQ(intToString(INT32_MIN), "");
  EXPECT_EQ(unsignedToString(0), "0");
  EXPECT_EQ(unsignedToString(4294967295u), "4294967295");
}

}  // namespace
