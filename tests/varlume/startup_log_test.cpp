// The start-up log: emptied when opened, one LF-ended line per entry, nothing
// while closed, and one line appended after it was closed.
#include <gtest/gtest.h>

#include "startup_scratch.h"
#include "varlume/startup_log.h"

namespace {

TEST(StartupLog, EntriesAndTheLineAppendedAfterClosing) {
  VLStartupScratch scratch;
  const std::string path = scratch.path("startup.log");
  scratch.write(path, "an earlier start's log, longer than the new one\n");
  appendStartupLog("before any log was opened");  // nothing to append to yet
  scratch.openLog();
  writeStartupLog("Varlume startup log.");
  writeStartupLog("\ntwo lines\n");
  closeStartupLog();
  writeStartupLog("while closed");
  appendStartupLog("Listener failed.");
  EXPECT_EQ(scratch.read(path), "Varlume startup log.\n\ntwo lines\n\nListener failed.\n");
}

TEST(StartupLog, PathInTheDocumentsFolder) {
  EXPECT_EQ(startupLogPath("\\home\\u\\Documents"), "\\home\\u\\Documents\\VarlumeStartupLog.txt");
  EXPECT_EQ(startupLogPath("\\"), "\\VarlumeStartupLog.txt");
  EXPECT_EQ(startupLogPath(""), "VarlumeStartupLog.txt");
}

}  // namespace
