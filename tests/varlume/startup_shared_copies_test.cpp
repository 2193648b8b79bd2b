// The data files a start reads from the all-users folder: the folder's copy
// while no other user may change it, else the shipped copy in the working
// folder (or nothing, for a script that is not shipped), each time with one
// warning line in the start-up log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/paths.h"
#include "startup_scratch.h"
#include "varlume/all_users_copy.h"
#include "varlume/server.h"

namespace {

class SharedCopies : public ::testing::Test {
 protected:
  SharedCopies() : before_(platform::workingFolder()) {
    VLStartupScratch::write(scratch.path("common/Varlume/CacheTypes.txt"), "JS=TRUE\r\n");
    VLStartupScratch::write(scratch.path("common/Varlume/IE.browser"), "script");
    VLStartupScratch::write(scratch.path("common/Varlume/IE.browser.sig"), "sig");
    VLStartupScratch::write(scratch.path("common/Varlume/x.browser"), "own script");
    VLStartupScratch::write(scratch.path("shipped/CacheTypes.txt"), "GIF\r\n");
    VLStartupScratch::write(scratch.path("shipped/IE.browser"), "shipped script");
    platform::setWorkingFolder(scratch.programPath("shipped"));
    scratch.openLog();
  }
  ~SharedCopies() override { platform::setWorkingFolder(before_); }

  std::string allUsers() { return scratch.programPath("common/Varlume/"); }
  void makeWritable(const std::string& relative, int mode) {
    ASSERT_EQ(::chmod(scratch.path(relative).c_str(), mode), 0);
  }

  VLStartupScratch scratch;

 private:
  std::string before_;
};

TEST_F(SharedCopies, FilesNoOtherUserMayChangeAreReadWhereTheyAre) {
  EXPECT_EQ(cacheRuleFileToRead(allUsers(), "CacheTypes.txt"), allUsers() + "CacheTypes.txt");
  EXPECT_EQ(browserScriptToRun(allUsers(), "IE.browser"), allUsers() + "IE.browser");
  // A script without its signature is read there too: its check then fails.
  EXPECT_EQ(browserScriptToRun(allUsers(), "x.browser"), allUsers() + "x.browser");
  EXPECT_EQ(scratch.logText(), "");
}

TEST_F(SharedCopies, AWritableRuleFileGivesWayToTheShippedCopy) {
  makeWritable("common/Varlume/CacheTypes.txt", 0664);
  const std::string path = cacheRuleFileToRead(allUsers(), "CacheTypes.txt");
  EXPECT_EQ(path, scratch.programPath("shipped/CacheTypes.txt"));
  VLServer server(0);
  ASSERT_TRUE(server.loadCacheTypes(path));
  EXPECT_TRUE(server.isCacheForeverType("GIF"));
  EXPECT_FALSE(server.isCacheForeverType("JS"));
  EXPECT_EQ(scratch.logText(),
            "Warning: the cache rule file [" + allUsers() +
                "CacheTypes.txt] can be changed by other users: the shipped copy is read in its "
                "place. Start-up goes on.\n");
}

TEST_F(SharedCopies, AScriptInAWritableFolderRunsFromItsShippedCopyOrNotAtAll) {
  makeWritable("common/Varlume", 0777);
  EXPECT_EQ(browserScriptToRun(allUsers(), "IE.browser"), scratch.programPath("shipped/IE.browser"));
  EXPECT_EQ(browserScriptToRun(allUsers(), "x.browser"), "");
  EXPECT_EQ(scratch.logText(),
            "Warning: the browser script [" + allUsers() +
                "IE.browser] can be changed by other users: the shipped copy runs in its place. "
                "Start-up goes on.\n"
                "Warning: the browser script [" + allUsers() +
                "x.browser] can be changed by other users and is not shipped: it is not run. "
                "Start-up goes on.\n");
  makeWritable("common/Varlume", 0755);
}

TEST_F(SharedCopies, AWritableSignatureCountsLikeAWritableScript) {
  makeWritable("common/Varlume/IE.browser.sig", 0666);
  EXPECT_EQ(browserScriptToRun(allUsers(), "IE.browser"), scratch.programPath("shipped/IE.browser"));
}

}  // namespace
