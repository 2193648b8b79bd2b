// The name rules: cut order and repetition, the one-decode rule and the
// ".." safety net.
#include <gtest/gtest.h>

#include <string>

#include "varlumefile/names.h"

namespace {

struct CutCase {
  const char* raw;
  const char* cleaned;
  const char* sanitized;
};

TEST(NameRules, CutsRepeatUntilNothingChanges) {
  const CutCase cases[] = {
      {"a/../b", "ab", "ab"},  // ".." then "//" cut out
      {".//./x", "/x", "/x"},
      {"....", "", ""},
      {"...", ".", "."},
      {"x:/y", "x:/y", "x/y"},
      {"c:/boot.ini", "c:/boot.ini", "c/boot.ini"},
      {"..\\x", "\\x", "\\x"},
      {".:.", ".:.", ""},
      {"a//b", "ab", "ab"},
      {"a///b", "a/b", "a/b"},
      {"./././", "./././", "./././"},
      {"./../.", "", ""},  // ".//." after the first pass, ".." after "//" goes, then nothing
      {"", "", ""},
      {"plain/name.txt", "plain/name.txt", "plain/name.txt"},
  };
  for (const CutCase& c : cases) {
    std::string cleaned = c.raw;
    std::string sanitized = c.raw;
    EXPECT_EQ(cleanName(cleaned), c.cleaned) << c.raw;
    EXPECT_EQ(sanitizeName(sanitized), c.sanitized) << c.raw;
  }
}

struct DecodeCase {
  const char* raw;
  bool allowed;
  const char* decoded;
};

TEST(NameRules, NamesAreDecodedExactlyOnce) {
  const DecodeCase cases[] = {
      {"a%20b", true, "a b"},
      {"%2E%2E/x", true, "../x"},
      {"%2e%2e%5cx", true, "..\\x"},
      {"%3.", true, "."},  // not hex, yet it decodes to a dot
      {"%:.", true, "."},
      {"x%2F..%2Fy", true, "x/../y"},
      {"%252E", false, ""},
      {"%25", false, ""},
      {"50%", false, ""},
      {"a%00b", false, ""},
      {"plain", true, "plain"},
  };
  for (const DecodeCase& c : cases) {
    std::string decoded;
    EXPECT_EQ(decodeNameOnce(c.raw, decoded), c.allowed) << c.raw;
    if (c.allowed) {
      EXPECT_EQ(decoded, c.decoded) << c.raw;
    }
  }
}

TEST(NameRules, EncodedDotsNeverSurviveDecodingAndCleaning) {
  for (const char* raw : {"%2E%2E/x", "%2e%2e%5cx", "%3.%3./x", "%:.%:.%2Fx", ".%2E/.%2E/x", "%2E./%2E."}) {
    std::string decoded;
    ASSERT_TRUE(decodeNameOnce(raw, decoded)) << raw;
    cleanName(decoded);
    EXPECT_FALSE(hasParentPart(decoded)) << raw << " -> " << decoded;
    EXPECT_EQ(decoded.find(".."), std::string::npos) << raw;
  }
}

TEST(NameRules, ParentPartsAreFoundAtEitherSeparator) {
  EXPECT_TRUE(hasParentPart(".."));
  EXPECT_TRUE(hasParentPart("a\\..\\b"));
  EXPECT_TRUE(hasParentPart("a/../b"));
  EXPECT_TRUE(hasParentPart("a/.."));
  EXPECT_FALSE(hasParentPart("a/..b/c"));
  EXPECT_FALSE(hasParentPart("...x"));
  EXPECT_EQ(joinUnderRoot("\\r\\", "/x"), "\\r\\x");
  EXPECT_EQ(joinUnderRoot("\\r\\", ""), "\\r\\");
  EXPECT_EQ(joinUnderRoot("\\r\\", "x"), "\\r\\x");
}

}  // namespace

namespace {

TEST(NameRules, NestedCutsReduceAndOverlongNamesAreRefused) {
  // Every level needs one more pass: ".//." becomes "..", which becomes "".
  std::string nested;
  for (int level = 0; level < 2000; ++level) nested = "./" + nested + "/.";
  std::string cleaned = nested;
  EXPECT_EQ(cleanName(cleaned), "");
  std::string decoded;
  EXPECT_TRUE(decodeNameOnce(std::string(kMaxNameBytes, 'a'), decoded));
  EXPECT_FALSE(decodeNameOnce(std::string(kMaxNameBytes + 1, 'a'), decoded));
}

}  // namespace
