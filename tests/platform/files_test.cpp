#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>
#include <filesystem>
#include <ostream>

#include "support/other_file_system.h"
#include "temp_folder.h"

namespace fs = std::filesystem;
using platform::FileError;

namespace {

struct RenameCase {
  const char* label;
  bool sourceIsFolder;
  enum Target { Missing, File, EmptyFolder } target;
  bool expectMoved;
};

class RenameTest : public ::testing::TestWithParam<RenameCase> {};

TEST_P(RenameTest, NeverReplacesAnExistingTarget) {
  const RenameCase& c = GetParam();
  TempFolder temp;
  if (c.sourceIsFolder) {
    fs::create_directory(temp.path("from"));
    temp.write("from/inside", "kept");
  } else {
    temp.write("from", "source");
  }
  if (c.target == RenameCase::File) temp.write("to", "target");
  if (c.target == RenameCase::EmptyFolder) fs::create_directory(temp.path("to"));

  bool moved = platform::renameNoReplace(temp.programPath("from"), temp.programPath("to"));
  EXPECT_EQ(moved, c.expectMoved);
  if (c.expectMoved) {
    EXPECT_FALSE(fs::exists(temp.path("from")));
    EXPECT_EQ(temp.read(c.sourceIsFolder ? "to/inside" : "to"), c.sourceIsFolder ? "kept" : "source");
  } else {
    EXPECT_EQ(platform::lastFileError(), FileError::Exists);
    EXPECT_TRUE(fs::exists(temp.path("from")));
    if (c.target == RenameCase::File) {
      EXPECT_EQ(temp.read("to"), "target");
    } else {
      EXPECT_TRUE(fs::is_empty(temp.path("to")));
    }
  }
}

// A failure names the case, not its bytes.
void PrintTo(const RenameCase& c, std::ostream* os) {
  *os << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenameTest,
    ::testing::Values(RenameCase{"FileToNewName", false, RenameCase::Missing, true},
                      RenameCase{"FolderToNewName", true, RenameCase::Missing, true},
                      RenameCase{"FileOverFile", false, RenameCase::File, false},
                      RenameCase{"FolderOverEmptyFolder", true, RenameCase::EmptyFolder, false},
                      RenameCase{"FileOverEmptyFolder", false, RenameCase::EmptyFolder, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(RenameTest, MissingSourceIsNamed) {
  TempFolder temp;
  EXPECT_FALSE(platform::renameNoReplace(temp.programPath("none"), temp.programPath("other")));
  EXPECT_EQ(platform::lastFileError(), FileError::NoEntry);
}

TEST(ListFolderTest, SortedBytewiseWithoutDotsAndLinksNotFollowed) {
  TempFolder temp;
  fs::create_directory(temp.path("sub"));
  temp.write("b.txt", "12345");
  temp.write("B.txt", "1");
  temp.write("\xC3\xA9", "");  // a byte above 127 sorts after ASCII
  fs::create_directory_symlink(temp.path("sub"), temp.path("a-link-to-folder"));
  fs::create_symlink(temp.path("nowhere"), temp.path("dangling"));

  std::vector<platform::ListedEntry> entries;
  ASSERT_TRUE(platform::listFolder(temp.programPath(), entries));
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"B.txt", "a-link-to-folder", "b.txt", "dangling", "sub",
                                             "\xC3\xA9"}));
  EXPECT_FALSE(entries[1].isDirectory) << "a link to a folder is not a folder";
  EXPECT_EQ(entries[2].size, 5u);
  EXPECT_TRUE(entries[4].isDirectory);
  EXPECT_EQ(entries[4].size, 0u) << "folders report size 0";
  EXPECT_GT(entries[2].modificationTime, 1000000000);
}

TEST(ListFolderTest, MissingFolderFails) {
  TempFolder temp;
  std::vector<platform::ListedEntry> entries{{"stale", false, 0, 0}};
  EXPECT_FALSE(platform::listFolder(temp.programPath("missing"), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(platform::lastFileError(), FileError::NoEntry);
}

TEST(AtomicWriteTest, ReplacesContentsAndLeavesNoTemporaryFile) {
  TempFolder temp;
  temp.write("config", "old contents that are longer");
  ASSERT_TRUE(platform::writeFileAtomic(temp.programPath("config"), "new"));
  EXPECT_EQ(temp.read("config"), "new");
  ASSERT_TRUE(platform::copyFileAtomic(temp.programPath("config"), temp.programPath("copy")));
  EXPECT_EQ(temp.read("copy"), "new");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(temp.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"config", "copy"}));
}

TEST(AtomicWriteTest, FailureLeavesTargetAndFolderAlone) {
  TempFolder temp;
  // Copying a folder or a missing file fails before anything is written.
  fs::create_directory(temp.path("folder"));
  temp.write("target", "untouched");
  EXPECT_FALSE(platform::copyFileAtomic(temp.programPath("folder"), temp.programPath("target")));
  EXPECT_FALSE(platform::copyFileAtomic(temp.programPath("missing"), temp.programPath("target")));
  EXPECT_EQ(temp.read("target"), "untouched");
  // A target that is a folder cannot be replaced; its temporary file goes.
  EXPECT_FALSE(platform::writeFileAtomic(temp.programPath("folder"), "x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 2);
}

TEST(SetWritableTest, OnlyTheOwnerWriteBitIsAdded) {
  TempFolder temp;
  temp.write("f", "");
  using fs::perms;
  fs::permissions(temp.path("f"), perms::owner_read | perms::group_read | perms::others_read);
  ASSERT_TRUE(platform::setWritable(temp.programPath("f"), true));
  EXPECT_EQ(fs::status(temp.path("f")).permissions(),
            perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
  fs::permissions(temp.path("f"), perms::group_write | perms::others_write, fs::perm_options::add);
  ASSERT_TRUE(platform::setWritable(temp.programPath("f"), false));
  EXPECT_EQ(fs::status(temp.path("f")).permissions(), perms::owner_read | perms::group_read | perms::others_read);
}

// A FIFO must never block a thread: it is not a regular file to any call.
TEST(SpecialFilesTest, FifoIsRefusedWithoutBlocking) {
  TempFolder temp;
  std::string fifo = temp.path("pipe");
  ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
  std::string contents;
  EXPECT_FALSE(platform::readFile(temp.programPath("pipe"), contents));
  EXPECT_FALSE(platform::touchFile(temp.programPath("pipe")));
  EXPECT_FALSE(platform::isRegularFile(temp.programPath("pipe")));
  EXPECT_FALSE(platform::isDirectory(temp.programPath("pipe")));
  platform::File file;
  EXPECT_FALSE(file.open(temp.programPath("pipe"), platform::File::Write));
  EXPECT_FALSE(platform::copyFileAtomic(temp.programPath("pipe"), temp.programPath("copy")));
}

TEST(TouchFileTest, SetsModificationTimeOfExistingFileOnly) {
  TempFolder temp;
  temp.write("f", "data");
  auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(temp.path("f"), old);
  ASSERT_TRUE(platform::touchFile(temp.programPath("f")));
  EXPECT_GT(fs::last_write_time(temp.path("f")), old + std::chrono::hours(47));
  EXPECT_EQ(temp.read("f"), "data");
  EXPECT_FALSE(platform::touchFile(temp.programPath("missing")));
  EXPECT_FALSE(fs::exists(temp.path("missing")));
}

TEST(FileTest, ModesAndReadLimit) {
  TempFolder temp;
  std::string path = temp.programPath("f");
  {
    platform::File file;
    ASSERT_TRUE(file.open(path, platform::File::CreateNew));
    ASSERT_TRUE(file.write("hello"));
    EXPECT_FALSE(platform::File().open(path, platform::File::CreateNew));
    EXPECT_EQ(platform::lastFileError(), FileError::Exists);
  }
  {
    platform::File file;
    ASSERT_TRUE(file.open(path, platform::File::Append));
    ASSERT_TRUE(file.write(" world"));
  }
  platform::File file;
  ASSERT_TRUE(file.open(path, platform::File::Read));
  EXPECT_EQ(file.size(), 11);
  ASSERT_TRUE(file.seek(6));
  char buffer[16] = {};
  EXPECT_EQ(file.read(buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "world");
  EXPECT_EQ(file.read(buffer, sizeof buffer), 0);

  std::string contents;
  ASSERT_TRUE(platform::readFile(path, contents, 4));
  EXPECT_EQ(contents, "hell");
  EXPECT_FALSE(platform::readFile(temp.programPath(), contents)) << "a folder is not a file";
}

TEST(FileLockTest, SecondHolderIsRefusedUntilUnlock) {
  TempFolder temp;
  std::string path = temp.programPath("lock");
  platform::FileLock first, second;
  ASSERT_TRUE(first.tryLock(path));
  EXPECT_FALSE(second.tryLock(path));
  first.unlock();
  EXPECT_TRUE(second.tryLock(path));
  second.unlock();

  // A lock file this user may only read (made by another user in a shared
  // folder) still locks, and still keeps others out.
  fs::permissions(temp.path("lock"), fs::perms::owner_read | fs::perms::group_read |
                                         fs::perms::others_read);
  ASSERT_TRUE(first.lock(path));
  EXPECT_FALSE(second.tryLock(path));
}

TEST(FolderCallsTest, MakeRemoveAndSearch) {
  TempFolder temp;
  std::string folder = temp.programPath("new");
  ASSERT_TRUE(platform::makeDirectory(folder));
  EXPECT_FALSE(platform::makeDirectory(folder));
  EXPECT_EQ(platform::lastFileError(), FileError::Exists);
  EXPECT_TRUE(platform::canSearch(folder));
  EXPECT_EQ(fs::status(temp.path("new")).permissions() & (fs::perms::group_write | fs::perms::others_write),
            fs::perms::none);
  temp.write("new/f", "");
  EXPECT_FALSE(platform::removeDirectory(folder));
  EXPECT_EQ(platform::lastFileError(), FileError::NotEmpty);
  ASSERT_TRUE(platform::removeFile(temp.programPath("new\\f")));
  EXPECT_TRUE(platform::removeDirectory(folder));
  EXPECT_FALSE(platform::isDirectory(folder));
}

struct BeneathCase {
  const char* label;
  const char* below;  // below the root, "/" form
  bool lastMayBeLink;
  bool expected;
};

class LinkFreeTest : public ::testing::TestWithParam<BeneathCase> {};

// root/real/f, root/link -> real, root/flink -> real/f, rootlink -> root.
TEST_P(LinkFreeTest, NoPartAfterTheRootIsALink) {
  const BeneathCase& c = GetParam();
  TempFolder temp;
  fs::create_directories(temp.path("root/real"));
  temp.write("root/real/f", "x");
  fs::create_directory_symlink(temp.path("root/real"), temp.path("root/link"));
  fs::create_symlink(temp.path("root/real/f"), temp.path("root/flink"));
  const std::string below = c.below;
  EXPECT_EQ(platform::isLinkFreeBelow(temp.programPath("root"), temp.programPath("root/" + below), c.lastMayBeLink),
            c.expected);
  // The root itself may be reached through a link.
  fs::create_directory_symlink(temp.path("root"), temp.path("rootlink"));
  EXPECT_EQ(platform::isLinkFreeBelow(temp.path("rootlink") + "/", temp.path("rootlink/" + below), c.lastMayBeLink),
            c.expected);
}

void PrintTo(const BeneathCase& c, std::ostream* os) { *os << c.label; }

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkFreeTest,
    ::testing::Values(BeneathCase{"PlainFile", "real/f", false, true},
                      BeneathCase{"TheRootItself", "", false, true},
                      BeneathCase{"NotYetMade", "real/new/deeper", false, true},
                      BeneathCase{"FolderLink", "link", false, false},
                      BeneathCase{"FileLink", "flink", false, false},
                      BeneathCase{"ThroughALink", "link/f", false, false},
                      BeneathCase{"ThroughALinkThatMayBeLast", "link/f", true, false},
                      BeneathCase{"LastPartALinkItself", "link", true, true},
                      BeneathCase{"LastPartWithSeparators", "link//", true, true},
                      BeneathCase{"DotAfterALink", "link/.", true, false},
                      BeneathCase{"DotAfterALinkAndSeparator", "link/./", true, false},
                      BeneathCase{"ParentPart", "real/../real/f", false, false},
                      BeneathCase{"AfterAMissingPart", "none/link", false, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(LinkFreeTest, APathNotBelowTheRootIsRefused) {
  TempFolder temp;
  fs::create_directories(temp.path("root"));
  fs::create_directories(temp.path("rootless"));
  EXPECT_FALSE(platform::isLinkFreeBelow(temp.programPath("root"), temp.programPath("rootless/x")));
  EXPECT_FALSE(platform::isLinkFreeBelow(temp.programPath("root"), temp.programPath("other")));
  EXPECT_EQ(platform::lastFileError(), FileError::Invalid);
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(MoveFileTest, CrossesFileSystemsWithoutReplacingOrLeavingCopies) {
  TempFolder temp;
  testsupport::OtherFileSystem other(temp.path("mounted"), temp.path());
  if (other.path().empty()) GTEST_SKIP() << other.why();
  const std::string target = other.path() + "/target";
  fs::create_directory(target);
  temp.write("upload", std::string(200000, 'u'));
  temp.write("second", "second");
  // A plain rename cannot do it.
  ASSERT_FALSE(platform::renameNoReplace(temp.programPath("upload"), target + "/x"));
  ASSERT_EQ(platform::lastFileError(), FileError::CrossDevice);

  ASSERT_TRUE(platform::moveFileNoReplace(temp.programPath("upload"), target + "/stored.bin"));
  EXPECT_FALSE(fs::exists(temp.path("upload")));
  std::ifstream stored(target + "/stored.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), std::string(200000, 'u'));

  // Onto an existing name: refused as a rename is, and nothing is left over.
  EXPECT_FALSE(platform::moveFileNoReplace(temp.programPath("second"), target + "/stored.bin"));
  EXPECT_EQ(platform::lastFileError(), FileError::Exists);
  EXPECT_EQ(temp.read("second"), "second");
  // Into a folder that does not exist.
  EXPECT_FALSE(platform::moveFileNoReplace(temp.programPath("second"), target + "/none/x"));
  EXPECT_EQ(platform::lastFileError(), FileError::NoEntry);
  EXPECT_EQ(namesIn(target), (std::vector<std::string>{"stored.bin"}));

  // On one file system it is the rename.
  ASSERT_TRUE(platform::moveFileNoReplace(temp.programPath("second"), temp.programPath("moved")));
  EXPECT_EQ(temp.read("moved"), "second");
}

}  // namespace
