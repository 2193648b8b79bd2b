#include "foundation/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <ostream>

namespace {

struct DecodeCase {
  const char* name;
  std::string text;
  int size;
  int expected;
  std::string bytes;  // the decoded bytes when expected >= 0
};

class Base64DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Base64DecodeTest, DecodesStrictly) {
  const DecodeCase& c = GetParam();
  // Guard bytes behind `size` must never be written.
  std::vector<unsigned char> target(c.size + 8, 0xEE);
  int result = base64Decode(c.text.c_str(), target.data(), c.size);
  ASSERT_EQ(result, c.expected);
  if (result >= 0) {
    EXPECT_EQ(std::string(target.begin(), target.begin() + result), c.bytes);
    EXPECT_EQ(target[result], 0) << "zero byte behind the data";
  }
  for (std::size_t i = c.size; i < target.size(); ++i) ASSERT_EQ(target[i], 0xEE) << i;
}

// A failure names the case, not its bytes.
void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Base64DecodeTest,
    ::testing::Values(
        DecodeCase{"ThreeBytes", "QUJD", 16, 3, "ABC"},
        DecodeCase{"OnePad", "QUI=", 16, 2, "AB"},
        DecodeCase{"TwoPads", "QQ==", 16, 1, "A"},
        DecodeCase{"Empty", "", 1, 0, ""},
        DecodeCase{"LineBreakInside", "QU\nJD", 16, 3, "ABC"},
        DecodeCase{"AllWhiteSpace", " \tQ\rU\vJ\fD\n", 16, 3, "ABC"},
        DecodeCase{"BlankBetweenPads", "QQ= =", 16, 1, "A"},
        DecodeCase{"WhiteSpaceAfterPad", "QUI= \r\n", 16, 2, "AB"},
        DecodeCase{"HighBits", "/+8=", 16, 2, "\xFF\xEF"},
        DecodeCase{"ExactFitHasNoRoomForZero", "QUJD", 3, -1, ""},
        DecodeCase{"FitsWithZero", "QUJD", 4, 3, "ABC"},
        DecodeCase{"TooSmallForSecondByte", "QUI=", 2, -1, ""},
        DecodeCase{"ZeroSize", "", 0, -1, ""},
        DecodeCase{"EndsInsideGroup", "QUJ", 16, -1, ""},
        DecodeCase{"DataAfterPad", "QQ=A", 16, -1, ""},
        DecodeCase{"MissingSecondPad", "QQ=", 16, -1, ""},
        DecodeCase{"LeftOverBitsTwoPads", "QR==", 16, -1, ""},
        DecodeCase{"LeftOverBitsOnePad", "QUJ=", 16, -1, ""},
        DecodeCase{"TextAfterPadding", "QQ== x", 16, -1, ""},
        DecodeCase{"PadInStateZero", "QUJD=", 16, -1, ""},
        DecodeCase{"PadInStateOne", "Q===", 16, -1, ""},
        DecodeCase{"OutsideAlphabet", "QU*D", 16, -1, ""},
        DecodeCase{"ByteFF", "QU\xFFJD", 16, -1, ""},
        DecodeCase{"Byte80", "\x80QUJD", 16, -1, ""},
        DecodeCase{"UrlSafeAlphabetRefused", "-_8=", 16, -1, ""}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(Base64DecodeNullTest, NullTextIsRefused) {
  unsigned char target[4];
  EXPECT_EQ(base64Decode(nullptr, target, sizeof target), -1);
}

}  // namespace
