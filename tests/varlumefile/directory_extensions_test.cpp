// The directory helper's file-service members: filter names, the stack's
// elements, copies, filtered listings and tree removal that never follows a
// link out of the tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/directory.h"
#include "platform/paths.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(DirectoryExtensions, FilterNamesAreAppendedPieceByPiece) {
  VLDirectory helper;
  helper.setFilterNames("a/b//c");
  helper.setFilterNames("");
  helper.setFilterNames("d");
  ASSERT_EQ(helper.filterCount(), 4);
  EXPECT_EQ(helper.filterAt(0), "a");
  EXPECT_EQ(helper.filterAt(2), "c");
  EXPECT_EQ(helper.filterAt(3), "d");
  EXPECT_EQ(helper.directoryStackSize(), 0);
  EXPECT_EQ(helper.directoryStackAt(0), "Oops - Directory Stack index out of bounds");
  EXPECT_EQ(helper.directoryStackAt(-1), "Oops - Directory Stack index out of bounds");
}

TEST(DirectoryExtensions, CopiesCarryFiltersStackAndValidEntries) {
  ScratchFolder scratch;
  ScratchFolder::write(scratch.path("f/one"), "1");
  VLDirectory source;
  source.listDirectory(platform::fromSystemPath(scratch.path("f")));
  source.setFilterNames("x/y");
  source.pushDirectory();
  VLDirectory copy;
  copy.setFilterNames("old");
  copy.copyFrom(source);
  EXPECT_EQ(copy.filterCount(), 2);
  EXPECT_EQ(copy.filterAt(0), "x");
  EXPECT_EQ(copy.directoryStackSize(), 1);
  EXPECT_EQ(copy.directoryStackAt(0), source.directoryStackAt(0));
  ASSERT_EQ(copy.entryCount(), 1);
  EXPECT_EQ(copy.entryAt(0).name(), "one");
  EXPECT_EQ(copy.entryAt(0).valid(), 1);
}

TEST(DirectoryExtensions, FilteredListingsKeepExactNamesOnly) {
  ScratchFolder scratch;
  ScratchFolder::write(scratch.path("f/a.txt"), "a");
  ScratchFolder::write(scratch.path("f/c.txt"), "c");
  ScratchFolder::write(scratch.path("f/a b"), "ab");
  const std::string folder = platform::fromSystemPath(scratch.path("f"));
  VLDirectory helper;
  helper.setFilterNames("kept");
  EXPECT_TRUE(helper.listFiltered(folder, "a.txt/b.txt"));
  ASSERT_EQ(helper.entryCount(), 1);
  EXPECT_EQ(helper.entryAt(0).name(), "a.txt");
  EXPECT_EQ(helper.filterCount(), 1);  // its own filter names stay
  EXPECT_FALSE(helper.listFiltered(folder, "A.TXT"));
  EXPECT_EQ(helper.entryCount(), 0);
  EXPECT_TRUE(helper.listFiltered(folder, "a%20b"));  // the filter text is decoded
  EXPECT_EQ(helper.entryAt(0).name(), "a b");
  EXPECT_TRUE(helper.listFiltered(folder, ""));
  EXPECT_EQ(helper.entryCount(), 3);
  EXPECT_FALSE(helper.listFiltered(folder + "\\missing", ""));
}

// A folder whose own name holds an escape, beside the twin its decoded name
// names: the undecoded forms list and remove in the folder itself.
TEST(DirectoryExtensions, UndecodedFormsTakeAPathHoldingAnEscapeAsItIs) {
  ScratchFolder scratch;
  for (const std::string folder : {"x%41", "xA"}) {
    ScratchFolder::write(scratch.path(folder + "/tree/t.txt"), folder);
    ScratchFolder::write(scratch.path(folder + "/" + folder + ".txt"), folder);
  }
  VLDirectory helper;
  const std::string folder = platform::fromSystemPath(scratch.path("x%41"));
  EXPECT_TRUE(helper.listFilteredUndecoded(folder, "x%2541.txt/xA.txt"));  // the filter text is decoded
  ASSERT_EQ(helper.entryCount(), 1);
  EXPECT_EQ(helper.entryAt(0).name(), "x%41.txt");
  std::string message;
  EXPECT_TRUE(helper.removeTreeUndecoded(folder + "\\tree", message));
  EXPECT_EQ(message, "");
  EXPECT_FALSE(fs::exists(scratch.path("x%41/tree")));
  EXPECT_EQ(ScratchFolder::read(scratch.path("xA/tree/t.txt")), "xA");
  EXPECT_FALSE(helper.removeTreeUndecoded(folder + "\\x%41.txt", message));
  EXPECT_EQ(message, folder + "\\x%41.txt is not a directory. Cannot delete it.");
}

TEST(DirectoryExtensions, TreesAreRemovedWithoutFollowingLinks) {
  ScratchFolder scratch;
  ScratchFolder::write(scratch.path("outside/keep.txt"), "keep");
  ScratchFolder::write(scratch.path("tree/a/b/c.txt"), "c");
  ScratchFolder::write(scratch.path("tree/x%5Cy%2E%2E"), "odd name");
  fs::create_directory_symlink(scratch.path("outside"), scratch.path("tree/a/link"));
  fs::create_symlink(scratch.path("outside/keep.txt"), scratch.path("tree/filelink"));
  VLDirectory helper;
  std::string message;
  EXPECT_TRUE(helper.removeTree(platform::fromSystemPath(scratch.path("tree")) + "\\", message));
  EXPECT_EQ(message, "");
  EXPECT_FALSE(fs::exists(scratch.path("tree")));
  EXPECT_EQ(ScratchFolder::read(scratch.path("outside/keep.txt")), "keep");
}

TEST(DirectoryExtensions, ALinkOrAFileIsNoTreeToRemove) {
  ScratchFolder scratch;
  ScratchFolder::write(scratch.path("outside/keep.txt"), "keep");
  ScratchFolder::write(scratch.path("file.txt"), "f");
  fs::create_directory_symlink(scratch.path("outside"), scratch.path("link"));
  VLDirectory helper;
  for (const char* name : {"link", "file.txt", "missing"}) {
    const std::string path = platform::fromSystemPath(scratch.path(name));
    for (const std::string& form : {path, path + "\\"}) {
      std::string message;
      EXPECT_FALSE(helper.removeTree(form, message)) << form;
      EXPECT_EQ(message, form + " is not a directory. Cannot delete it.");
    }
  }
  EXPECT_EQ(ScratchFolder::read(scratch.path("outside/keep.txt")), "keep");
  EXPECT_TRUE(fs::is_symlink(scratch.path("link")));
}

}  // namespace
