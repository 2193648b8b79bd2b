#include "foundation/base_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(BaseNameTest, TextAfterTheLastBackslash) {
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\dir\\file.exe", "file.exe"},
      {"file.exe", "file.exe"},
      {"C:/dir/file.exe", "C:/dir/file.exe"},  // "/" is no separator
      {"\\file.exe", "\\file.exe"},            // a "\" at index 0 does not count
      {"a\\b\\", ""},
      {"\\\\x", "x"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const char* result = baseName(c.path);
    EXPECT_STREQ(result, c.expected);
    // A view into the path itself.
    EXPECT_EQ(result, c.path + (std::string(c.path).size() - std::string(c.expected).size()));
    EXPECT_EQ(baseName(std::string_view(c.path)), c.expected);
  }
  EXPECT_EQ(baseName(static_cast<const char*>(nullptr)), nullptr);
}

}  // namespace
