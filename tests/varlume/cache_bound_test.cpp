// The cache's bound on disk: the configured value, which names are a store's
// temporary files, which copies go first, and the trimming of a real cache
// folder at start and after a store.
#include "varlume/cache_bound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cache_scratch.h"
#include "support/case_name.h"
#include "varlume/cache_paths.h"

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

TEST(CacheBoundValue, AMissingOrUnreadableValueMeansTheDefault) {
  struct Case {
    const char* value;
    std::int64_t bytes;
  } cases[] = {
      {"", kDefaultCacheMegabytes * kMiB}, {"512", 512 * kMiB},   {" 64\r\n", 64 * kMiB},
      {"0", 0},                             {"-5", kDefaultCacheMegabytes * kMiB},
      {"abc", kDefaultCacheMegabytes * kMiB}, {"12x", kDefaultCacheMegabytes * kMiB},
      {"999999999999999999", (std::int64_t{1} << 30) * kMiB},
  };
  for (const Case& c : cases) EXPECT_EQ(cacheBoundFromValue(c.value), c.bytes) << '"' << c.value << '"';
}

TEST(CacheBoundValue, FilesCountInWholeBlocks) {
  EXPECT_EQ(diskFootprint(0), 4096);
  EXPECT_EQ(diskFootprint(1), 4096);
  EXPECT_EQ(diskFootprint(4096), 4096);
  EXPECT_EQ(diskFootprint(4097), 8192);
}

struct NameCase {
  const char* name;
  bool temporary;
};

class StoreTemporaryNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(StoreTemporaryNames, OnlyTheStoresOwnFormCounts) {
  EXPECT_EQ(isStoreTemporaryName(GetParam().name), GetParam().temporary);
}

INSTANTIATE_TEST_SUITE_P(
    Names, StoreTemporaryNames,
    ::testing::Values(NameCase{".vltmp123_4", true}, NameCase{".vltmp1_99999", true},
                      NameCase{".vltmp_4", false}, NameCase{".vltmp12_", false},
                      NameCase{".vltmp12_3x", false}, NameCase{".vltmp1_2.gif", false},
                      NameCase{".vltmp1_2_3", false}, NameCase{"x.vltmp1_2", false},
                      NameCase{".VLTMP1_2", false}, NameCase{"vltmp1_2", false}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return caseName(info.index, info.param.name); });

TEST(CacheBoundChoice, TheOldestCopiesGoFirstUntilTheTargetIsMet) {
  const std::vector<VLCacheCopy> copies = {
      {"c", 8192, 100, 5}, {"a", 4096, 100, 9}, {"b", 4096, 50, 0}, {"d", 4096, 100, 5}, {"e", 4096, 200, 0},
  };
  // 24 KiB in all: oldest b, then c and d (same time, by path), then a.
  EXPECT_EQ(copiesToRemove(copies, 24576, 24576), std::vector<std::size_t>{});
  EXPECT_EQ(copiesToRemove(copies, 24576, 20480), std::vector<std::size_t>{2});
  EXPECT_EQ(copiesToRemove(copies, 24576, 12288), (std::vector<std::size_t>{2, 0}));
  EXPECT_EQ(copiesToRemove(copies, 24576, 8191), (std::vector<std::size_t>{2, 0, 3, 1}));
  EXPECT_EQ(copiesToRemove(copies, 24576, 0), (std::vector<std::size_t>{2, 0, 3, 1, 4}));
}

// A cache folder in the scratch data root, with a small bound.
class CacheBoundFolder : public CacheScratch {
 protected:
  void SetUp() override {
    CacheScratch::SetUp();
    saved_ = cacheBoundBytes;
  }
  void TearDown() override { cacheBoundBytes = saved_; }
  // A copy of one block under Cache\, `age` seconds old.
  std::string copy(const std::string& name, int age) {
    const std::string path = write("Cache/" + name, std::string(1000, 'c'));
    std::filesystem::last_write_time(platform::toSystemPath(path),
                                     std::filesystem::file_time_type::clock::now() - std::chrono::seconds(age));
    return path;
  }
  // Stores a new copy of one block the way the cache store does.
  void store(const std::string& name) {
    const VLCacheAddition addition = planCacheCopy(cacheRootPath() + name, 1000);
    std::string relative = name;
    for (char& c : relative) c = c == '\\' ? '/' : c;
    copy(relative, 0);
    cacheCopyStored(addition);
  }
  bool exists(const std::string& name) {
    return std::filesystem::exists(std::filesystem::symlink_status(platform::toSystemPath(tempPath + "Cache/" + name)));
  }

 private:
  std::int64_t saved_ = 0;
};

TEST_F(CacheBoundFolder, AStartRemovesLeftoversAndTrimsTheOldestCopies) {
  for (int i = 0; i < 10; ++i) copy("h/c" + std::to_string(i) + ".gif", 100 - i);  // c0 oldest
  copy("h/catchall.varlumepost", 1000);
  write("Cache/h/.vltmp12_3", std::string(50000, 'x'));
  write("Cache/.vltmp1_1", "x");
  const std::string outside = tempPath + "outside\\";
  write("outside/.vltmp9_9", "x");
  std::filesystem::create_directory_symlink(platform::toSystemPath(outside),
                                            platform::toSystemPath(tempPath + "Cache/h/link"));
  // 10 copies, the marker, the link and the folder h: 13 blocks; a bound of
  // 10 blocks trims to seven eighths of it, the oldest copies first.
  cacheBoundBytes = 10 * 4096;
  sweepCacheFolder();
  EXPECT_FALSE(exists("h/.vltmp12_3"));
  EXPECT_FALSE(exists(".vltmp1_1"));
  EXPECT_TRUE(std::filesystem::exists(platform::toSystemPath(outside + ".vltmp9_9")));
  EXPECT_TRUE(exists("h/link"));
  EXPECT_TRUE(exists("h/catchall.varlumepost"));
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(exists("h/c" + std::to_string(i) + ".gif")) << i;
  for (int i = 5; i < 10; ++i) EXPECT_TRUE(exists("h/c" + std::to_string(i) + ".gif")) << i;
  EXPECT_EQ(cacheBytesCounted(), 8 * 4096);
}

TEST_F(CacheBoundFolder, AStoreThatPassesTheBoundTrimsAndEmptyFoldersGo) {
  copy("old/deep/a.gif", 500);
  copy("new/b.gif", 10);
  cacheBoundBytes = 16 * 4096;
  sweepCacheFolder();
  // old, old/deep, new and the two copies.
  EXPECT_EQ(cacheBytesCounted(), 5 * 4096);
  for (int i = 0; i < 11; ++i) store("new\\n" + std::to_string(i) + ".gif");
  EXPECT_TRUE(exists("old/deep/a.gif"));  // 16 blocks: at the bound, not past it
  store("new\\n11.gif");
  // 17 blocks: a, b and n0 go (14 blocks), then the emptied old/deep and old.
  EXPECT_EQ(cacheBytesCounted(), 12 * 4096);
  EXPECT_FALSE(exists("old"));
  EXPECT_FALSE(exists("new/b.gif"));
  EXPECT_FALSE(exists("new/n0.gif"));
  EXPECT_TRUE(exists("new/n1.gif"));
  EXPECT_TRUE(exists("new/n11.gif"));
}

TEST_F(CacheBoundFolder, APlannedCopyCountsItsBlocksLessTheReplacedOnesAndNewFolders) {
  copy("h/old.gif", 0);
  EXPECT_EQ(planCacheCopy(cacheRootPath() + "h\\old.gif", 10000).footprint, 2 * 4096);
  EXPECT_EQ(planCacheCopy(cacheRootPath() + "h\\new.gif", 10000).footprint, 3 * 4096);
  EXPECT_EQ(planCacheCopy(cacheRootPath() + "h\\a\\b\\new.gif", 1).footprint, 3 * 4096);
  EXPECT_EQ(planCacheCopy(cacheRootPath() + "g\\new.gif", 1).footprint, 2 * 4096);
  cacheBoundBytes = 8 * 4096;
  EXPECT_FALSE(planCacheCopy(cacheRootPath() + "h\\new.gif", 4097).keep);
}

TEST_F(CacheBoundFolder, NoCopyLargerThanAnEighthOfTheBoundIsKept) {
  cacheBoundBytes = 8 * kMiB;
  EXPECT_TRUE(cacheMayKeep(kMiB));
  EXPECT_FALSE(cacheMayKeep(kMiB + 1));
  cacheBoundBytes = 0;
  EXPECT_FALSE(cacheMayKeep(1));
}

}  // namespace
