#include "platform/file_modes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>

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

// Who else may change a file: the modes and owners of the file and of the
// folders above it (the temporary folder above them is sticky).
struct ChangeCase {
  const char* name;
  int folderMode;
  int fileMode;
  bool otherOwner;  // the file belongs to another user (root only)
  bool viaLink;     // asked through a link of this user to the file
  bool others;
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class OthersMayChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(OthersMayChange, FollowsTheModesAndOwnersOnTheWay) {
  const ChangeCase& c = GetParam();
  if (c.otherOwner && ::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  TempFolder temp;
  ASSERT_EQ(::chmod(temp.path().c_str(), 0755), 0);
  ASSERT_TRUE(platform::makeDirectory(temp.programPath("shared")));
  ASSERT_TRUE(platform::writeFileAtomic(temp.programPath("shared/rules.txt"), "rules"));
  ASSERT_EQ(::chmod(temp.path("shared/rules.txt").c_str(), c.fileMode), 0);
  if (c.otherOwner) ASSERT_EQ(::chown(temp.path("shared/rules.txt").c_str(), 65534, 65534), 0);
  ASSERT_EQ(::symlink(temp.path("shared/rules.txt").c_str(), temp.path("link.txt").c_str()), 0);
  ASSERT_EQ(::chmod(temp.path("shared").c_str(), c.folderMode), 0);
  const std::string asked = temp.programPath(c.viaLink ? "link.txt" : "shared/rules.txt");
  EXPECT_EQ(platform::othersMayChange(asked), c.others);
  ::chmod(temp.path("shared").c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OthersMayChange,
    ::testing::Values(ChangeCase{"OwnPrivateFile", 0755, 0644, false, false, false},
                      ChangeCase{"OwnFileReadOnly", 0700, 0400, false, false, false},
                      ChangeCase{"GroupWritableFile", 0755, 0664, false, false, true},
                      ChangeCase{"OtherWritableFile", 0755, 0646, false, false, true},
                      ChangeCase{"GroupWritableFolder", 02775, 0644, false, false, true},
                      ChangeCase{"OtherWritableFolder", 0757, 0644, false, false, true},
                      ChangeCase{"StickyWritableFolderOwnFile", 01777, 0644, false, false, false},
                      ChangeCase{"LinkToAGroupWritableFolder", 0775, 0644, false, true, true},
                      ChangeCase{"LinkToAPrivateFile", 0755, 0644, false, true, false},
                      ChangeCase{"AnotherUsersFile", 0755, 0644, true, false, true},
                      ChangeCase{"AnotherUsersFileInAStickyFolder", 01777, 0644, true, false, true}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

TEST(OthersMayChangeMissing, AMissingFileCountsAsChangeable) {
  TempFolder temp;
  ASSERT_EQ(::chmod(temp.path().c_str(), 0755), 0);
  EXPECT_TRUE(platform::othersMayChange(temp.programPath("missing.txt")));
  EXPECT_FALSE(platform::othersMayChange(temp.programPath()));
}

}  // namespace
