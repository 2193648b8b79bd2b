// A site's event database belongs to the event service: no file command
// creates, writes, replaces, renames or removes "EventDatabase.db" (in any
// letter case, however the name is spelled) in a site's home, nor renames or
// removes a folder that holds one. Each is answered with the command's
// normal error envelope and leaves the home byte-identical; the site's other
// files still change as usual.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/file_service_fixture.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;
using filetest::errorXml;
using filetest::FileServiceTest;
using filetest::successXml;

class EventDatabaseFile : public FileServiceTest {
 protected:
  void SetUp() override {
    FileServiceTest::SetUp();
    for (const std::string name : {"EventDatabase.db", "sub/EventDatabase.db", "plain.txt", "free/f.txt"}) {
      ASSERT_TRUE(sandbox::writeFile(home() + "/" + name, "bytes of " + name));
    }
  }
};

struct Refusal {
  const char* name;
  std::string target;
  std::string reply;  // the whole envelope, or its start when `prefixOnly`
  bool prefixOnly = false;
};

std::string refused(const std::string& name) { return errorXml("1000", name + " is not an allowed name."); }

TEST_F(EventDatabaseFile, NoCommandPutsReplacesMovesOrRemovesIt) {
  // Reasons name paths below the data root.
  const std::string shownHome = "site.example\\";
  const std::vector<Refusal> cases = {
      {"remove it", "/REMOVEFILE?Name=EventDatabase.db", refused("EventDatabase.db")},
      {"remove it, another letter case", "/REMOVEFILE?Name=/eventDATABASE.db", refused("/eventDATABASE.db")},
      {"remove it, escaped", "/REMOVEFILE?Name=Event%44atabase.db", refused("Event%44atabase.db")},
      {"remove it, dots cut", "/REMOVEFILE?Name=Event..Database.db", refused("EventDatabase.db")},
      {"remove a sub-home's", "/REMOVEFILE?Name=sub/EventDatabase.db", refused("sub/EventDatabase.db")},
      {"remove the home holding it", "/REMOVEDIRECTORY?Name=",
       errorXml("1040", shownHome + " holds an event database. Cannot delete it.")},
      {"remove a folder holding it", "/REMOVEDIRECTORY?Name=sub",
       errorXml("1040", shownHome + "sub holds an event database. Cannot delete it.")},
      {"rename it away", "/RENAME?Name=EventDatabase.db&NewName=kept.db", refused("EventDatabase.db")},
      {"rename onto it", "/RENAME?Name=plain.txt&NewName=EVENTDATABASE.DB", refused("EVENTDATABASE.DB")},
      {"rename into a folder of its name", "/RENAME?Name=plain.txt&NewName=EventDatabase.db/x",
       refused("EventDatabase.db/x")},
      {"rename a folder holding it", "/RENAME?Name=sub&NewName=moved",
       errorXml("1070", shownHome + "sub holds an event database. Cannot rename it.")},
      {"write it", "/STRINGFILE?Path=&Name=EventDatabase.db&Data=garbage", refused("EventDatabase.db")},
      {"write a sub-home's", "/STRINGFILE?Path=new&Name=eventdatabase.db&Data=garbage", refused("eventdatabase.db")},
      {"write into a folder of its name", "/STRINGFILE?Path=EventDatabase.db&Name=x&Data=garbage",
       refused("EventDatabase.db")},
      {"a folder in its place", "/MKDIR?Name=new/EventDatabase.db", refused("new/EventDatabase.db")},
  };
  const sandbox::VLTreeSnapshot before = sandbox::snapshotTree(home());
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(xml(c.target), c.reply);
    EXPECT_EQ(sandbox::treeDifferences(before, sandbox::snapshotTree(home())), "");
  }

  // Uploads of that name are not saved; the other parts are.
  EXPECT_EQ(upload("/SAVEFILE?Path=", {{"EventDatabase.db", "garbage"}, {"ok.txt", "ok"}}).body,
            errorXml("1080", "1 files not saved. EventDatabase.db is not an allowed name."));
  EXPECT_EQ(upload("/SAVEFILE?Path=sub/EventDatabase.DB", {{"x", "garbage"}}).body,
            refused("sub/EventDatabase.DB"));
  EXPECT_EQ(sandbox::readFile(home() + "/ok.txt").value_or(""), "ok");
  EXPECT_EQ(sandbox::readFile(home() + "/EventDatabase.db").value_or(""), "bytes of EventDatabase.db");
  expectNoTempFilesLeft();
}

TEST_F(EventDatabaseFile, ItsJournalsAreItsOwnAsWell) {
  // SQLite plays a journal beside the database into it at its next open:
  // every "EventDatabase.db-..." name is the database's, in any letter case.
  ASSERT_TRUE(sandbox::writeFile(home() + "/EventDatabase.db-wal", "the service's journal"));
  ASSERT_TRUE(sandbox::writeFile(home() + "/journals/EventDatabase.db-shm", "a journal in a folder"));
  const std::vector<Refusal> cases = {
      {"write a journal", "/STRINGFILE?Path=&Name=EventDatabase.db-journal&Data=garbage",
       refused("EventDatabase.db-journal")},
      {"write one, another letter case", "/STRINGFILE?Path=&Name=eventDATABASE.DB-Journal&Data=garbage",
       refused("eventDATABASE.DB-Journal")},
      {"write one, escaped", "/STRINGFILE?Path=&Name=EventDatabase.db%2Djournal&Data=garbage",
       refused("EventDatabase.db%2Djournal")},
      {"write one of any suffix", "/STRINGFILE?Path=&Name=EventDatabase.db-x&Data=garbage",
       refused("EventDatabase.db-x")},
      {"write into a folder of that name", "/STRINGFILE?Path=EventDatabase.db-journal&Name=x&Data=garbage",
       refused("EventDatabase.db-journal")},
      {"a folder in its place", "/MKDIR?Name=EventDatabase.db-journal", refused("EventDatabase.db-journal")},
      {"rename onto one", "/RENAME?Name=plain.txt&NewName=EventDatabase.db-journal",
       refused("EventDatabase.db-journal")},
      {"rename one away", "/RENAME?Name=EventDatabase.db-wal&NewName=x", refused("EventDatabase.db-wal")},
      {"remove one", "/REMOVEFILE?Name=EventDatabase.db-wal", refused("EventDatabase.db-wal")},
      {"remove a folder holding one", "/REMOVEDIRECTORY?Name=journals",
       errorXml("1040", "site.example\\journals holds an event database. Cannot delete it.")},
  };
  const sandbox::VLTreeSnapshot before = sandbox::snapshotTree(home());
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(xml(c.target), c.reply);
    EXPECT_EQ(sandbox::treeDifferences(before, sandbox::snapshotTree(home())), "");
  }
  EXPECT_EQ(upload("/SAVEFILE?Path=", {{"EventDatabase.db-journal", "garbage"}, {"ok.txt", "ok"}}).body,
            errorXml("1080", "1 files not saved. EventDatabase.db-journal is not an allowed name."));
  EXPECT_EQ(upload("/SAVEFILE?Path=EventDatabase.DB-journal", {{"x", "garbage"}}).body,
            refused("EventDatabase.DB-journal"));
  EXPECT_FALSE(fs::exists(home() + "/EventDatabase.db-journal"));
  EXPECT_FALSE(fs::exists(home() + "/EventDatabase.DB-journal"));
  EXPECT_EQ(sandbox::readFile(home() + "/ok.txt").value_or(""), "ok");
  // Names that only begin like it are names like any other.
  EXPECT_EQ(xml("/STRINGFILE?Path=&Name=EventDatabase.dbx&Data=x"), successXml());
  EXPECT_EQ(xml("/STRINGFILE?Path=&Name=EventDatabase.db.txt&Data=x"), successXml());
  expectNoTempFilesLeft();
}

TEST_F(EventDatabaseFile, AFreshSiteCannotPlantOneAndOtherFilesStillChange) {
  // A site without a database cannot put one (or a folder in its place) there.
  const std::string fresh = dataRoot() + "/fresh.example";
  EXPECT_EQ(xml("/STRINGFILE?Path=&Name=EventDatabase.db&Data=garbage", "fresh.example"), refused("EventDatabase.db"));
  EXPECT_EQ(xml("/MKDIR?Name=EventDatabase.db", "fresh.example"), refused("EventDatabase.db"));
  EXPECT_EQ(xml("/STRINGFILE?Path=&Name=x.db&Data=garbage", "fresh.example"), successXml());
  EXPECT_EQ(xml("/RENAME?Name=x.db&NewName=EventDatabase.db", "fresh.example"), refused("EventDatabase.db"));
  EXPECT_FALSE(fs::exists(fresh + "/EventDatabase.db"));

  // Everything else of a home holding one changes as usual.
  EXPECT_EQ(xml("/RENAME?Name=plain.txt&NewName=renamed.txt"), successXml());
  EXPECT_EQ(xml("/REMOVEFILE?Name=renamed.txt"), successXml());
  EXPECT_EQ(xml("/REMOVEDIRECTORY?Name=free"), successXml());
  EXPECT_EQ(xml("/ISFILE?Name=EventDatabase.db"), successXml());
  EXPECT_EQ(xml("/GET?Path=EventDatabase.db"), "bytes of EventDatabase.db");
  EXPECT_EQ(sandbox::folderNames(home()), (std::vector<std::string>{"EventDatabase.db", "sub"}));
}

}  // namespace
