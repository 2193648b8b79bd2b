// cleanCommandPath removes ".." and "//" until neither is left, so no path
// can climb out of a site's home.
#include "varlumeevent/command_path.h"

#include <gtest/gtest.h>

namespace {

TEST(CleanCommandPath, RemovesUntilNeitherIsLeft) {
  const struct {
    const char* path;
    const char* cleaned;
  } cases[] = {
      {"a/../b", "ab"},
      {"/docs/a", "/docs/a"},
      {"http://site.example/x", "http:site.example/x"},
      {"/.//./x", "x"},
      {"/.//././/./etc", "/etc"},
      {"....//", ""},
      {"..././", "././"},
      {"a//b//c", "abc"},
      {"a///b", "a/b"},
      {"", ""},
  };
  for (const auto& c : cases) {
    const std::string cleaned = cleanCommandPath(c.path);
    EXPECT_EQ(cleaned, c.cleaned) << c.path;
    EXPECT_EQ(cleaned.find(".."), std::string::npos) << c.path;
    EXPECT_EQ(cleaned.find("//"), std::string::npos) << c.path;
  }
}

}  // namespace
