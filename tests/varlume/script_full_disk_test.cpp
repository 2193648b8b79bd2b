// Browser scripts on a disk that takes only a few bytes (a file size limit
// stands in for a full disk): a WRITE or APPEND that cannot be written whole
// sets the failure mark and ends its list of files, and a done copy that
// cannot be written whole leaves no copy behind, so the script runs again.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/signature.h"
#include "startup_scratch.h"
#include "support/build_signature.h"
#include "support/file_size_limit.h"
#include "varlume/browser_scripts.h"
#include "varlume/public_key.h"
#include "varlume/script_actions.h"

namespace {

constexpr rlim_t kFullAfterBytes = 64;

// While it lives, regular files of this process cannot grow past
// kFullAfterBytes; writes beyond fail as they do on a full disk.
class FullDisk : public testsupport::FileSizeLimit {
 public:
  FullDisk() : FileSizeLimit(kFullAfterBytes) {}
};

const std::string kLong(200, 'x');

TEST(ScriptFullDisk, AWriteThatCannotBeWrittenWholeSetsTheMarkAndEndsItsList) {
  VLStartupScratch scratch;
  std::filesystem::create_directories(scratch.path("profiles/a"));
  std::filesystem::create_directories(scratch.path("profiles/b"));
  for (const char* action : {"WRITE", "APPEND"}) {
    SCOPED_TRACE(action);
    std::filesystem::remove(scratch.path("profiles/a/user.js"));
    std::filesystem::remove(scratch.path("profiles/b/user.js"));
    VLScriptRun run;
    {
      FullDisk full;
      EXPECT_EQ(runFileLine("FILE(" + scratch.programPath("profiles/") + "*\\user.js)" + action +
                                "(" + kLong + ")",
                            run),
                VLLineResult::Next);
    }
    EXPECT_TRUE(run.failureMark);
    EXPECT_FALSE(scratch.exists(scratch.path("profiles/b/user.js")));

    // The same line on a disk with room completes without a mark.
    VLScriptRun roomy;
    EXPECT_EQ(runFileLine("FILE(" + scratch.programPath("profiles/") + "*\\user.js)" + action +
                              "(" + kLong + ")",
                          roomy),
              VLLineResult::Next);
    EXPECT_FALSE(roomy.failureMark);
    EXPECT_EQ(VLStartupScratch::read(scratch.path("profiles/b/user.js")).size(), kLong.size());
  }
}

TEST(ScriptFullDisk, ADoneCopyThatCannotBeWrittenWholeLeavesNone) {
  VLStartupScratch scratch;
  ASSERT_TRUE(loadPublicKey());
  const std::string script = "# " + kLong + "\r\n";
  VLStartupScratch::write(scratch.path("all/Long.browser"), script);
  VLStartupScratch::write(scratch.path("all/Long.browser.sig"),
                          testsupport::signWithBuildKey(script));
  std::filesystem::create_directories(scratch.path("user"));
  {
    FullDisk full;
    runBrowserScripts(scratch.programPath("user/"), scratch.programPath("all/"));
  }
  // Nothing but the lock: no cut copy, no temporary file left.
  for (const auto& entry : std::filesystem::directory_iterator(scratch.path("user"))) {
    EXPECT_EQ(entry.path().filename().string(), kScriptsLockName);
  }

  runBrowserScripts(scratch.programPath("user/"), scratch.programPath("all/"));
  EXPECT_EQ(VLStartupScratch::read(scratch.path("user/Long.browser")), script);
  EVP_PKEY_free(publicKey);
  publicKey = nullptr;
}

}  // namespace
