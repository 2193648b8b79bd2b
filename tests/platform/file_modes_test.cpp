#include "platform/file_modes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/files.h"
#include "temp_folder.h"

namespace {

int modeOf(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// New files and folders are the user's alone, except below the shared
// folder, which keeps the mask the process started with; a folder left
// wider is made private again.
TEST(FileModes, NewFilesArePrivateExceptBelowTheSharedFolder) {
  TempFolder temp;
  const mode_t before = ::umask(022);
  platform::shareNewFilesUnder(temp.programPath("shared"));
  platform::makeNewFilesPrivate();
  ASSERT_TRUE(platform::makeDirectory(temp.programPath("own")));
  ASSERT_TRUE(platform::makeDirectory(temp.programPath("shared")));
  ASSERT_TRUE(platform::makeDirectory(temp.programPath("shared/below")));
  platform::File file;
  ASSERT_TRUE(file.open(temp.programPath("own/a.txt"), platform::File::Write));
  ASSERT_TRUE(file.open(temp.programPath("shared/below/b.txt"), platform::File::Write));
  file.close();
  ASSERT_TRUE(platform::writeFileAtomic(temp.programPath("shared/c.txt"), "c"));
  ASSERT_TRUE(platform::writeFileAtomic(temp.programPath("sharedtwin.txt"), "d"));
  EXPECT_EQ(modeOf(temp.path("own")), 0700);
  EXPECT_EQ(modeOf(temp.path("own/a.txt")), 0600);
  EXPECT_EQ(modeOf(temp.path("shared")), 0755);
  EXPECT_EQ(modeOf(temp.path("shared/below")), 0755);
  EXPECT_EQ(modeOf(temp.path("shared/below/b.txt")), 0644);
  EXPECT_EQ(modeOf(temp.path("shared/c.txt")), 0644);
  EXPECT_EQ(modeOf(temp.path("sharedtwin.txt")), 0600);

  ASSERT_EQ(::chmod(temp.path("shared/below").c_str(), 02775), 0);
  EXPECT_TRUE(platform::makeFolderPrivate(temp.programPath("shared/below")));
  EXPECT_EQ(modeOf(temp.path("shared/below")), 02700);
  EXPECT_FALSE(platform::makeFolderPrivate(temp.programPath("missing")));
  platform::shareNewFilesUnder("");
  ::umask(before);
}

}  // namespace
