#include "foundation/directory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kOldTime = 1234567890;  // 2009-02-13 23:31:30 UTC

// A fresh folder under the system's temporary folder, removed afterwards.
class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("vl-directory-" + std::to_string(random()) + "-" +
                                         std::to_string(random()));
    ASSERT_TRUE(fs::create_directory(root_));
  }
  void TearDown() override {
    std::error_code ignored;
    for (auto& item : fs::recursive_directory_iterator(root_, ignored)) {
      fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root_, ignored);
  }

  // The program form ("\" separators) of a name inside the folder.
  std::string at(const std::string& name = "") const {
    std::string base = platform::fromSystemPath(root_.string());
    return name.empty() ? base : base + "\\" + name;
  }
  fs::path sys(const std::string& name) const { return root_ / name; }

  void write(const std::string& name, const std::string& contents) {
    std::ofstream(sys(name), std::ios::binary) << contents;
  }
  std::string read(const std::string& name) {
    std::ifstream in(sys(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void setOldTime(const std::string& name) {
    fs::last_write_time(sys(name), std::chrono::file_clock::from_sys(
                                       std::chrono::sys_seconds(std::chrono::seconds(kOldTime))));
  }
  static bool othersMayWrite(const fs::path& path) {
    const fs::perms p = fs::status(path).permissions();
    return (p & (fs::perms::group_write | fs::perms::others_write)) != fs::perms::none;
  }
  static bool ownerMayWrite(const fs::path& path) {
    return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
  }

  fs::path root_;
  VLDirectory directory_;
};

std::vector<std::string> names(const VLDirectory& directory) {
  std::vector<std::string> result;
  for (int i = 0; i < directory.entryCount(); ++i) result.push_back(directory.entryAt(i).name());
  return result;
}

TEST_F(DirectoryTest, ListsSortedWithoutFollowingLinks) {
  write("b.txt", "bb");
  write("a.txt", "hello");
  write("A.TXT", "");
  setOldTime("a.txt");
  fs::create_directory(sys("sub"));
  write("sub/inner", "x");
  fs::create_directory_symlink(sys("sub"), sys("link"));

  // "/" separators and a trailing separator name the same folder.
  ASSERT_TRUE(directory_.listDirectory(platform::toSystemPath(at()) + "/"));
  EXPECT_EQ(names(directory_), (std::vector<std::string>{"A.TXT", "a.txt", "b.txt", "link", "sub"}));
  const VLDirEntry& a = directory_.entryAt(1);
  EXPECT_TRUE(a.valid());
  EXPECT_FALSE(a.isDir());
  EXPECT_EQ(a.statRecord().size, 5u);
  EXPECT_EQ(a.statRecord().modificationTime, kOldTime);
  EXPECT_EQ(a.statRecord().mode, 0);
  EXPECT_FALSE(directory_.entryAt(3).isDir());  // the link, not its target folder
  const VLDirEntry& sub = directory_.entryAt(4);
  EXPECT_TRUE(sub.isDir());
  EXPECT_EQ(sub.statRecord().mode, kDirectoryBit);
  EXPECT_EQ(sub.statRecord().size, 0u);

  for (int outside : {-1, directory_.entryCount()}) {
    const VLDirEntry& empty = directory_.entryAt(outside);
    EXPECT_EQ(empty.name(), "");
    EXPECT_EQ(empty.valid(), 0);
    EXPECT_FALSE(empty.isDir());
  }
}

TEST_F(DirectoryTest, FilterNamesKeepOnlyExactNames) {
  for (const char* name : {"a.txt", "A.TXT", "b.txt", "c.txt"}) write(name, "");
  directory_.addFilterName("a.txt");
  directory_.addFilterName("b.txt");
  directory_.addFilterName(".");
  ASSERT_TRUE(directory_.listDirectory(at()));
  EXPECT_EQ(names(directory_), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(directory_.filterAt(1), "b.txt");
  EXPECT_EQ(directory_.filterAt(3), "Oops - Directory Entry index out of bounds");
  EXPECT_EQ(directory_.filterAt(-1), "Oops - Directory Entry index out of bounds");
  directory_.clearLists();
  EXPECT_EQ(directory_.entryCount(), 0);
  EXPECT_EQ(directory_.filterCount(), 0);
}

TEST_F(DirectoryTest, MissingFolderListsNothingAndSucceeds) {
  write("a.txt", "");
  ASSERT_TRUE(directory_.listDirectory(at()));
  ASSERT_EQ(directory_.entryCount(), 1);
  EXPECT_TRUE(directory_.listDirectory(at("missing")));
  EXPECT_EQ(directory_.entryCount(), 0);
  EXPECT_TRUE(directory_.listDirectory(at("a.txt")));
  EXPECT_EQ(directory_.entryCount(), 0);
}

TEST_F(DirectoryTest, ExistenceTestsTellFilesFromFolders) {
  write("file.txt", "abc");
  write("a b.txt", "");
  fs::create_directory(sys("folder"));
  fs::create_symlink(sys("file.txt"), sys("file-link"));
  struct Case {
    std::string path;
    bool file;
    bool folder;
  };
  const Case cases[] = {
      {at("file.txt"), true, false},
      {at("a%20b.txt"), true, false},  // decoded
      {at("file-link"), true, false},  // links are followed
      {at("folder"), false, true},
      {at("folder") + "\\", false, true},
      {platform::toSystemPath(at("folder")), false, true},
      {at("missing"), false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(directory_.fileExists(c.path), c.file) << c.path;
    EXPECT_EQ(directory_.directoryExists(c.path), c.folder) << c.path;
  }
  EXPECT_FALSE(directory_.statPath(at("file.txt"), nullptr));
  VLStatRecord record;
  record.size = 99;
  ASSERT_TRUE(directory_.statPath(at("file.txt"), &record));
  EXPECT_EQ(record.size, 3u);
  EXPECT_EQ(record.mode, kRegularBit);
  EXPECT_FALSE(directory_.statPath(at("missing"), &record));
  EXPECT_EQ(record.size, 0u);  // zero-filled first
}

TEST_F(DirectoryTest, ModificationTimeOnlyForWhatIsNotAFolder) {
  write("old.txt", "");
  setOldTime("old.txt");
  fs::create_directory(sys("folder"));
  int time = 0;
  EXPECT_TRUE(directory_.fileModificationTime(at("old.txt"), time));
  EXPECT_EQ(time, kOldTime);
  for (const std::string& path : {at("folder"), at("missing")}) {
    time = 0;
    EXPECT_FALSE(directory_.fileModificationTime(path, time)) << path;
    EXPECT_EQ(time, -1) << path;
  }

  EXPECT_TRUE(directory_.touchFile(at("old.txt")));
  ASSERT_TRUE(directory_.fileModificationTime(at("old.txt"), time));
  EXPECT_GT(time, kOldTime);
  EXPECT_FALSE(directory_.touchFile(at("missing")));
  EXPECT_FALSE(directory_.touchFile(at("folder")));
}

TEST_F(DirectoryTest, DeleteFileRefusesFoldersWithItsText) {
  fs::create_directory(sys("folder"));
  write("a b.txt", "");
  std::string message = "prefix:";
  EXPECT_FALSE(directory_.deleteFile(platform::toSystemPath(at("folder")), message));
  EXPECT_EQ(message, "prefix:" + at("folder") + " is a directory, not a file. Cannot delete it.");
  EXPECT_TRUE(fs::is_directory(sys("folder")));

  message.clear();
  EXPECT_FALSE(directory_.deleteFile(at("missing"), message));
  EXPECT_EQ(message, "");
  EXPECT_TRUE(directory_.deleteFile(at("a%20b.txt"), message));
  EXPECT_FALSE(fs::exists(sys("a b.txt")));
  EXPECT_EQ(message, "");
}

TEST_F(DirectoryTest, RenameNeverReplacesAndNamesAMissingSource) {
  write("from.txt", "from");
  write("to.txt", "to");
  std::string message;
  EXPECT_FALSE(directory_.renamePath(at("from.txt"), at("to.txt"), message));
  EXPECT_EQ(message, "");  // the name exists: no text for that error
  EXPECT_EQ(read("from.txt"), "from");
  EXPECT_EQ(read("to.txt"), "to");

  const std::string o = at("gone.txt");
  const std::string n = at("new.txt");
  EXPECT_FALSE(directory_.renamePath(platform::toSystemPath(o), n, message));
  EXPECT_EQ(message, "A  directory component in " + o + " or " + n +
                         " does not exist or is a dangling symbolic link.");

  message.clear();
  EXPECT_TRUE(directory_.renamePath(at("from.txt"), at("moved%20here.txt"), message));
  EXPECT_EQ(read("moved here.txt"), "from");
  EXPECT_FALSE(fs::exists(sys("from.txt")));
  EXPECT_EQ(message, "");

  fs::create_directory(sys("folder"));
  EXPECT_FALSE(directory_.renamePath(at("folder"), at("folder\\inside"), message));
  EXPECT_EQ(message, "The new pathname contained a path prefix of the old, or, more generally, an "
                     "attempt       was made to make a directory a subdirectory of itself.");
}

TEST_F(DirectoryTest, CreateDirectoryTextsNameThePath) {
  std::string message;
  EXPECT_TRUE(directory_.createDirectory(platform::toSystemPath(at("new")), 0777, message));
  EXPECT_TRUE(fs::is_directory(sys("new")));
  EXPECT_EQ(message, "");
  EXPECT_FALSE(directory_.createDirectory(at("new"), 0777, message));
  EXPECT_EQ(message, at("new") + " already exists (not necessarily as a directory).");
  message.clear();
  EXPECT_FALSE(directory_.createDirectory(at("no\\such"), 0777, message));
  EXPECT_EQ(message, "A directory component in " + at("no\\such") +
                         " does not exist or is a dangling symbolic link.");
}

TEST_F(DirectoryTest, MakePathCreatesMissingParentsFromTheTop) {
  const std::string before = directory_.currentDirectory();
  std::string message;
  EXPECT_TRUE(directory_.makePath(at("a\\b\\c"), 0777, message));
  EXPECT_TRUE(fs::is_directory(sys("a/b/c")));
  EXPECT_TRUE(directory_.makePath(platform::toSystemPath(at("x/y")) + "/", 0777, message));
  EXPECT_TRUE(fs::is_directory(sys("x/y")));
  EXPECT_EQ(message, "");
  EXPECT_EQ(directory_.currentDirectory(), before);  // the working folder never moves
  for (const char* made : {"a", "a/b", "a/b/c", "x", "x/y"}) {
    EXPECT_TRUE(ownerMayWrite(sys(made))) << made;
    EXPECT_FALSE(othersMayWrite(sys(made))) << made;
  }
}

TEST_F(DirectoryTest, MakePathOfAnExistingFolderMakesItWritable) {
  fs::create_directory(sys("ro"));
  fs::permissions(sys("ro"), fs::perms(0555));
  std::string message;
  EXPECT_TRUE(directory_.makePath(at("ro"), 0777, message));
  EXPECT_EQ(message, "");
  EXPECT_EQ(fs::status(sys("ro")).permissions(), fs::perms(0755));
}

TEST_F(DirectoryTest, MakePathThroughAFileNamesTheLeaf) {
  write("f.txt", "");
  for (const std::string& path : {at("f.txt"), at("f.txt\\below")}) {
    std::string message;
    EXPECT_FALSE(directory_.makePath(path, 0777, message)) << path;
    EXPECT_EQ(message, "f.txt already exists (not necessarily as a directory).") << path;
  }
  EXPECT_TRUE(fs::is_regular_file(sys("f.txt")));
}

TEST_F(DirectoryTest, MakePathOfAnOverlongPathCreatesNothing) {
  std::string path = at();
  while (path.size() < 5000) path += "\\abc";
  std::string message;
  EXPECT_FALSE(directory_.makePath(path + "\\", 0777, message));
  EXPECT_EQ(message, "abc pathname was too long.");
  EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(DirectoryTest, MakePathTakesRelativePathsAgainstTheWorkingFolder) {
  const std::string before = directory_.currentDirectory();
  ASSERT_TRUE(directory_.changeDirectory(at()));
  std::string message;
  const bool made = directory_.makePath("rel/inner", 0777, message);
  const std::string during = directory_.currentDirectory();
  ASSERT_TRUE(directory_.changeDirectory(before));
  EXPECT_TRUE(made);
  EXPECT_EQ(message, "");
  EXPECT_EQ(during, at());
  EXPECT_TRUE(fs::is_directory(sys("rel/inner")));
}

TEST_F(DirectoryTest, ConcurrentMakePathOfOnePathAllSucceed) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 20; ++round) {
    const std::string path = at("r" + std::to_string(round) + "\\p\\q\\r\\s");
    std::atomic<int> ready{0};
    std::vector<std::string> messages(kThreads);
    std::vector<char> results(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        VLDirectory own;
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        results[t] = own.makePath(path, 0777, messages[t]) ? 1 : 0;
      });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(results[t], 1) << round << "/" << t;
      EXPECT_EQ(messages[t], "") << round << "/" << t;
    }
    EXPECT_TRUE(fs::is_directory(sys("r" + std::to_string(round) + "/p/q/r/s")));
  }
}

TEST_F(DirectoryTest, PermissionsAreTheOwnersWriteBitOnly) {
  write("f", "");
  struct Case {
    fs::perms before;
    int mode;
    fs::perms after;
  };
  const Case cases[] = {
      {fs::perms(0444), 0777, fs::perms(0644)},  // owner may write again, nobody else
      {fs::perms(0666), 0444, fs::perms(0444)},  // read-only: every write bit goes
      {fs::perms(0600), 0x80, fs::perms(0600)},
  };
  for (const Case& c : cases) {
    fs::permissions(sys("f"), c.before);
    EXPECT_TRUE(directory_.setPermissions(at("f"), c.mode));
    EXPECT_EQ(fs::status(sys("f")).permissions(), c.after) << std::oct << c.mode;
  }
  EXPECT_FALSE(directory_.setPermissions(at("missing"), 0777));
}

TEST_F(DirectoryTest, DirectoryStackRestoresTheWorkingFolder) {
  const std::string before = directory_.currentDirectory();
  ASSERT_FALSE(before.empty());
  EXPECT_FALSE(directory_.popDirectory());
  directory_.pushDirectory();
  ASSERT_TRUE(directory_.changeDirectory(platform::toSystemPath(at())));
  EXPECT_EQ(directory_.currentDirectory(), at());
  EXPECT_TRUE(directory_.popDirectory());
  EXPECT_EQ(directory_.currentDirectory(), before);
  EXPECT_FALSE(directory_.changeDirectory(at("missing")));
}

// A folder whose own name holds an escape, beside the twin its decoded name
// names: the decoding forms reach the twin, the undecoded forms the folder.
TEST_F(DirectoryTest, UndecodedFormsTakeAPathHoldingAnEscapeAsItIs) {
  for (const std::string folder : {"x%41", "xA"}) {
    fs::create_directories(sys(folder + "/made"));
    write(folder + "/a.txt", folder);
    write(folder + "/gone.txt", folder);
  }
  write("x%41/own.txt", "own");
  VLDirectory directory;
  std::string message;
  EXPECT_FALSE(directory.fileExists(at("x%41\\own.txt")));
  EXPECT_TRUE(directory.fileExistsUndecoded(at("x%41\\own.txt")));
  EXPECT_TRUE(directory.directoryExistsUndecoded(at("x%41/made")));
  EXPECT_FALSE(directory.fileExistsUndecoded(at("x%41\\made")));
  EXPECT_TRUE(directory.deleteFileUndecoded(at("x%41\\gone.txt"), message));
  EXPECT_FALSE(directory.deleteFileUndecoded(at("x%41\\made"), message));
  EXPECT_EQ(message, at("x%41\\made") + " is a directory, not a file. Cannot delete it.");
  message.clear();
  EXPECT_TRUE(directory.renamePathUndecoded(at("x%41\\a.txt"), at("x%41\\b.txt"), message));
  EXPECT_TRUE(directory.makePathUndecoded(at("x%41\\made\\deeper"), 0777, message));
  EXPECT_TRUE(directory.makePathUndecoded(at("x%41\\made"), 0777, message));
  EXPECT_EQ(message, "");
  EXPECT_TRUE(fs::is_directory(sys("x%41/made/deeper")));
  EXPECT_FALSE(fs::exists(sys("x%41/gone.txt")));
  EXPECT_EQ(read("x%41/b.txt"), "x%41");
  // The twin is as it was.
  EXPECT_EQ(read("xA/a.txt") + read("xA/gone.txt"), "xAxA");
  EXPECT_TRUE(fs::is_directory(sys("xA/made")));
  EXPECT_FALSE(fs::exists(sys("xA/made/deeper")));
}

TEST(DirEntry, CopiesAreAlwaysValid) {
  VLDirEntry invalid;
  invalid.setName("n");
  EXPECT_EQ(invalid.valid(), 0);
  VLDirEntry assigned;
  assigned.assignEntry(invalid);
  EXPECT_EQ(assigned.valid(), 1);
  EXPECT_EQ(assigned.name(), "n");
  VLDirEntry copied(invalid);
  EXPECT_EQ(copied.valid(), 1);

  VLStatRecord record;
  record.mode = kDirectoryBit;
  record.size = 7;
  VLDirEntry folder;
  folder.setStat(record);
  EXPECT_TRUE(folder.isDir());
  VLDirEntry marked;
  marked.assignEntry(folder);
  EXPECT_TRUE(marked.isDir());
  EXPECT_EQ(marked.statRecord().size, 7u);
  marked.clearEntry();
  EXPECT_FALSE(marked.isDir());
  EXPECT_EQ(marked.valid(), 0);
  EXPECT_EQ(marked.statRecord().mode, 0);
}

}  // namespace
