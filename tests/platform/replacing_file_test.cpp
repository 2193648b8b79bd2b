// The streamed replace: a target is either its old self or the whole new
// file, and nothing of a file never committed stays behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::size_t entriesIn(const fs::path& folder) {
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) count += entry.path().empty() ? 0 : 1;
  return count;
}

TEST(ReplacingFile, TheTargetIsOldUntilTheCommitAndWholeAfterIt) {
  TempFolder temp;
  temp.write("target", "old");
  platform::ReplacingFile file;
  ASSERT_TRUE(file.open(temp.programPath("target")));
  ASSERT_TRUE(file.write("new ", 4));
  ASSERT_TRUE(file.write("bytes", 5));
  EXPECT_EQ(temp.read("target"), "old");
  EXPECT_TRUE(fs::exists(file.temporaryPath()));
  EXPECT_EQ(fs::path(file.temporaryPath()).parent_path(), fs::path(temp.path("target")).parent_path());
  ASSERT_TRUE(file.commit());
  EXPECT_EQ(temp.read("target"), "new bytes");
  EXPECT_EQ(entriesIn(temp.path("")), 1u);
}

TEST(ReplacingFile, AFileNeverCommittedLeavesNothing) {
  TempFolder temp;
  temp.write("target", "old");
  {
    platform::ReplacingFile file;
    ASSERT_TRUE(file.open(temp.programPath("target")));
    ASSERT_TRUE(file.write("half", 4));
  }
  platform::ReplacingFile discarded;
  ASSERT_TRUE(discarded.open(temp.programPath("target")));
  discarded.discard();
  EXPECT_FALSE(discarded.commit());
  EXPECT_EQ(temp.read("target"), "old");
  EXPECT_EQ(entriesIn(temp.path("")), 1u);
  // A folder in the target's place: the commit fails and cleans up.
  fs::create_directory(temp.path("folder"));
  platform::ReplacingFile blocked;
  ASSERT_TRUE(blocked.open(temp.programPath("folder")));
  EXPECT_FALSE(blocked.commit());
  EXPECT_EQ(entriesIn(temp.path("")), 2u);
  platform::ReplacingFile nowhere;
  EXPECT_FALSE(nowhere.open(temp.programPath("missing/target")));
}

}  // namespace
