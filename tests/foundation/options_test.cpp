#include "foundation/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <ostream>

namespace {

// One result of getOption: the letter (or '?' / -1) and the value it left.
struct Step {
  int result;
  std::string value;
  bool operator==(const Step&) const = default;
};

void PrintTo(const Step& step, std::ostream* os) {
  *os << (step.result < 0 ? std::string("-1") : std::string(1, static_cast<char>(step.result)));
  if (!step.value.empty()) *os << "=" << step.value;
}

struct ScanCase {
  const char* name;
  std::vector<std::string> words;  // after argument 0
  std::vector<Step> steps;         // up to and including -1 or '?'
};

class GetOptionTest : public ::testing::TestWithParam<ScanCase> {
 protected:
  void SetUp() override { resetOptionScanner(); }
  void TearDown() override { resetOptionScanner(); }
};

// Scans as the main program does, stopping at -1 or '?'.
std::vector<Step> scan(std::vector<std::string> words) {
  words.insert(words.begin(), "varlumeimage.exe");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<Step> steps;
  for (int i = 0; i < 10; ++i) {
    int result = getOption(static_cast<int>(words.size()), argv.data(), "lh?p:x:y:");
    steps.push_back({result, optionValue});
    if (result == -1 || result == '?') break;
  }
  return steps;
}

TEST_P(GetOptionTest, Scans) { EXPECT_EQ(scan(GetParam().words), GetParam().steps); }

// A failure names the case, not its bytes.
void PrintTo(const ScanCase& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetOptionTest,
    ::testing::Values(
        ScanCase{"NoWords", {}, {{-1, ""}}},
        ScanCase{"ValueOption", {"-p", "8080"}, {{'p', "8080"}, {-1, ""}}},
        ScanCase{"PlainThenValue", {"-l", "-p", "8080"}, {{'l', ""}, {'p', "8080"}, {-1, ""}}},
        ScanCase{"ValueThenPlain", {"-p", "8080", "-l"}, {{'p', "8080"}, {'l', ""}, {-1, ""}}},
        ScanCase{"TwoValues", {"-x", "host", "-y", "81"},
                 {{'x', "host"}, {'y', "81"}, {-1, ""}}},
        ScanCase{"JoinedPlainAndValue", {"-lp", "8080"}, {{'l', ""}, {'?', ""}}},
        ScanCase{"PlainInSecondWord", {"-l", "-h"}, {{'l', ""}, {'?', ""}}},
        ScanCase{"JoinedPlainLetters", {"-lh"}, {{'l', ""}, {'h', ""}, {-1, ""}}},
        ScanCase{"QuestionMark", {"-?"}, {{'?', ""}}},
        ScanCase{"MissingValue", {"-p"}, {{'?', ""}}},
        ScanCase{"ValueInSameWord", {"-p8080"}, {{'?', ""}}},
        ScanCase{"UnknownOption", {"-z"}, {{'?', ""}}},
        ScanCase{"NotAnOption", {"8080"}, {{'?', ""}}},
        ScanCase{"EmptyFirstWord", {"", "-p", "8080"}, {{'p', "8080"}, {-1, ""}}},
        ScanCase{"EmptyWordAfterPlain", {"-l", "", "-p", "8080"}, {{'l', ""}, {'?', ""}}},
        ScanCase{"EmptyWordAfterValue", {"-p", "8080", "", "-l"}, {{'p', "8080"}, {'?', ""}}},
        ScanCase{"LongestValueFits", {"-p", std::string(4095, 'v')},
                 {{'p', std::string(4095, 'v')}, {-1, ""}}},
        ScanCase{"TooLongValueRefused", {"-p", std::string(4096, 'v')}, {{'?', ""}}}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST(GetOptionStateTest, ValueIsEmptiedAtEveryCallAndResetRestarts) {
  resetOptionScanner();
  std::string p = "-p", v = "8080", l = "-l", zero = "x";
  char* argv[] = {zero.data(), p.data(), v.data(), l.data(), nullptr};
  ASSERT_EQ(getOption(4, argv, "lh?p:x:y:"), 'p');
  EXPECT_STREQ(optionValue, "8080");
  EXPECT_EQ(optionIndex, 3);
  ASSERT_EQ(getOption(4, argv, "lh?p:x:y:"), 'l');
  EXPECT_STREQ(optionValue, "");
  resetOptionScanner();
  EXPECT_EQ(optionIndex, 1);
  EXPECT_EQ(optionPosition, 0);
  EXPECT_EQ(getOption(4, argv, "lh?p:x:y:"), 'p');
  resetOptionScanner();
}

}  // namespace
