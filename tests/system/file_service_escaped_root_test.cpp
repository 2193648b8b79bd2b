// A documents folder whose own name holds an escape ("My%41Docs") next to a
// twin folder that its decoded name names ("MyADocs"): every command of the
// file service acts on the site's home in the real folder, and the twin stays
// byte-identical, listed by nothing and served by nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/file_service_fixture.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;
using filetest::errorXml;
using filetest::FileServiceTest;
using filetest::successXml;

class EscapedDocuments : public FileServiceTest {
 protected:
  std::string documentsFolder() override { return box.makeFolder("My%41Docs"); }

  void SetUp() override {
    FileServiceTest::SetUp();
    twin = box.makeFolder("MyADocs") + "/Varlume/site.example";
    // The same names in both homes, and one name only in each.
    for (const std::string& folder : {home(), twin}) {
      const std::string mark = folder == twin ? "twin " : "real ";
      for (const std::string name : {"a.txt", "old.txt", "dir/inner.txt", "up/x.txt", "s/y.txt"}) {
        ASSERT_TRUE(sandbox::writeFile(folder + "/" + name, mark + name));
      }
      fs::create_directories(folder + "/made");
    }
    ASSERT_TRUE(sandbox::writeFile(home() + "/realonly.txt", "real only"));
    ASSERT_TRUE(sandbox::writeFile(twin + "/twinonly.txt", "twin only"));
    twinBefore = sandbox::snapshotTree(twin);
  }

  std::string twin;
  sandbox::VLTreeSnapshot twinBefore;
};

TEST_F(EscapedDocuments, CommandsActOnTheRealHomeAndNeverOnItsDecodedTwin) {
  // Existence tests and serving see the real home only.
  EXPECT_EQ(xml("/ISFILE?Name=realonly.txt"), successXml());
  EXPECT_EQ(xml("/ISFILE?Name=twinonly.txt"), errorXml("1120", "twinonly.txt is not a file."));
  EXPECT_EQ(xml("/ISDIR?Name=made"), successXml());
  EXPECT_EQ(xml("/GET?Path=realonly.txt"), "real only");
  EXPECT_EQ(xml("/realonly.txt"), "real only");
  EXPECT_EQ(xml("/GET?Path=twinonly.txt"), errorXml("1090", "twinonly.txt not found or is a directory."));
  EXPECT_EQ(xml("/GET?Path=a.txt&Encoding=BASE64"), "cmVhbCBhLnR4dA==\r\n");

  // Listings, with and without a filter.
  const std::string listed = xml("/SCANDIR?Name=");
  EXPECT_NE(listed.find("<Name>realonly.txt</Name>"), std::string::npos) << listed;
  EXPECT_EQ(listed.find("twinonly"), std::string::npos) << listed;
  const std::string filtered = xml("/SCANDIR?Name=&Filter=realonly.txt/twinonly.txt");
  EXPECT_EQ(filtered.rfind(successXml("<DirEntryCount> 1</DirEntryCount><DirEntry><Name>realonly.txt</Name>").substr(0, 120), 0),
            0u)
      << filtered;

  // Changes.
  EXPECT_EQ(xml("/REMOVEFILE?Name=a.txt"), successXml());
  EXPECT_EQ(stored("a.txt"), "<none>");
  EXPECT_EQ(xml("/REMOVEDIRECTORY?Name=dir"), successXml());
  EXPECT_FALSE(fs::exists(home() + "/dir"));
  EXPECT_EQ(xml("/RENAME?Name=old.txt&NewName=new.txt"), successXml());
  EXPECT_EQ(stored("new.txt"), "real old.txt");
  EXPECT_EQ(xml("/MKDIR?Name=made"), successXml());
  EXPECT_EQ(xml("/MKDIR?Name=fresh/deeper"), successXml());
  EXPECT_TRUE(fs::is_directory(home() + "/fresh/deeper"));
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=n.txt&Data=string"), successXml());
  EXPECT_EQ(stored("s/n.txt"), "string");
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=e.txt&Data=YWJj&Encoding=BASE64"), successXml());
  EXPECT_EQ(stored("s/e.txt"), "abc");
  EXPECT_EQ(upload("/SAVEFILE?Path=up", {{"u.bin", "uploaded"}}).body, successXml());
  EXPECT_EQ(stored("up/u.bin"), "uploaded");
  EXPECT_EQ(xml("/REMOVEDIRECTORY?Name=up"), successXml());
  EXPECT_FALSE(fs::exists(home() + "/up"));

  EXPECT_EQ(sandbox::treeDifferences(twinBefore, sandbox::snapshotTree(twin)),
            "");
  EXPECT_TRUE(leftTempFiles().empty());
}

}  // namespace
