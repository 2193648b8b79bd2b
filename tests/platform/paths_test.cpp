#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "temp_folder.h"

namespace {

// Runs each test in its own working folder and restores the old one.
class FullPathNameTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = platform::workingFolder(); }
  void TearDown() override { platform::setWorkingFolder(saved_); }
  std::string saved_;
};

TEST_F(FullPathNameTest, JoinsWorkingFolderInProgramForm) {
  TempFolder temp;
  ASSERT_TRUE(platform::setWorkingFolder(temp.programPath()));
  EXPECT_EQ(platform::workingFolder(), temp.programPath());
  char buffer[4096] = {};
  std::size_t length = platform::fullPathName("varlumeimage.exe", buffer, sizeof buffer);
  std::string expected = temp.programPath("varlumeimage.exe");
  EXPECT_EQ(length, expected.size());
  EXPECT_EQ(std::string(buffer), expected);
}

TEST_F(FullPathNameTest, RootHasNoDoubledSeparator) {
  ASSERT_TRUE(platform::setWorkingFolder("\\"));
  char buffer[64] = {};
  EXPECT_EQ(platform::fullPathName("varlumeimage.exe", buffer, sizeof buffer), 17u);
  EXPECT_STREQ(buffer, "\\varlumeimage.exe");
}

TEST_F(FullPathNameTest, TooLongLeavesBufferUntouchedAndTellsTheSizeNeeded) {
  ASSERT_TRUE(platform::setWorkingFolder("\\"));
  char buffer[4096] = {};
  std::string name(4095, 'n');  // "\" + 4095 + zero byte = 4097: does not fit
  EXPECT_EQ(platform::fullPathName(name.c_str(), buffer, sizeof buffer), 4097u);
  EXPECT_EQ(std::memchr(buffer, 'n', sizeof buffer), nullptr);
  EXPECT_EQ(buffer[0], '\0');
  name.pop_back();  // 4,095 characters and the zero byte fit exactly
  EXPECT_EQ(platform::fullPathName(name.c_str(), buffer, sizeof buffer), 4095u);
  EXPECT_EQ(buffer[4095], '\0');
  EXPECT_EQ(buffer[0], '\\');
}

TEST_F(FullPathNameTest, DeepWorkingFolderIsMeasuredNotRefused) {
  TempFolder temp;
  ASSERT_TRUE(platform::setWorkingFolder(temp.programPath()));
  std::string segment(200, 'd');
  for (int i = 0; i < 25; ++i) {  // more than 4,096 bytes below the temp folder
    std::filesystem::create_directory(segment);
    ASSERT_TRUE(platform::setWorkingFolder(segment));
  }
  EXPECT_EQ(platform::workingFolder(), "") << "the working folder does not fit 4,096 bytes";
  char buffer[4096] = {};
  std::size_t needed = platform::fullPathName("varlumeimage.exe", buffer, sizeof buffer);
  EXPECT_GT(needed, 4096u);
  EXPECT_EQ(buffer[0], '\0');
  // Climb out by short relative names: the full paths are too long to remove.
  for (int i = 0; i < 25; ++i) {
    ASSERT_TRUE(platform::setWorkingFolder(".."));
    std::filesystem::remove(segment);
  }
}

TEST(PathFormTest, SeparatorsOnly) {
  EXPECT_EQ(platform::toSystemPath("\\home\\u\\a b/c"), "/home/u/a b/c");
  EXPECT_EQ(platform::fromSystemPath("/home/u/Documents"), "\\home\\u\\Documents");
}

}  // namespace
