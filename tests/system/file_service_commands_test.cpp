// varlumefile's command table and directory commands over real sockets: the
// exact reply bytes, the method table and the gates, the message texts, trees
// removed, the cache commands, symbolic links and pipelined requests.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/file_service_fixture.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;
using filetest::errorXml;
using filetest::FileServiceTest;
using filetest::successXml;

class FileCommands : public FileServiceTest {};

std::string listedEntry(const std::string& name, const std::string& type, std::uint64_t size, long modified) {
  return "<DirEntry><Name>" + name + "</Name><Type>" + type + "</Type><Size>" + std::to_string(size) +
         "</Size><Modified>" + std::to_string(modified) + "</Modified></DirEntry>";
}

void setModified(const std::string& path, long seconds) {
  struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

TEST_F(FileCommands, RepliesAreTheExactHeadAndEnvelope) {
  testsupport::HttpResponse response = get("/GETVERSION");
  const std::string body = successXml("varlumefile 1.0.0, 2006-08-24");
  EXPECT_EQ(response.body, body);
  const std::regex head(
      "HTTP/1\\.1 200 Success\r\nDate: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), \\d\\d "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\n"
      "Server: Varlume Release 1\\.00\\.00 Linux\\.\r\nContent-Type: text/xml\r\n"
      "Connection: Keep-Alive\r\nKeep-Alive: timeout=100, max=1000\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n");
  EXPECT_TRUE(std::regex_match(response.head, head)) << response.head;
}

TEST_F(FileCommands, TheMethodTableAndTheGates) {
  const std::string unrecognised = errorXml("", "Unrecognised request.");
  EXPECT_EQ(request("PUT", "/MKDIR?Name=x", "site.example", "", "abc").body, unrecognised);
  testsupport::HttpResponse lower = request("get", "/MKDIR?Name=x");
  EXPECT_EQ(lower.body, unrecognised);
  EXPECT_EQ(lower.body.size(), 117u);
  EXPECT_FALSE(fs::exists(home() + "/x"));

  // HEAD is no method of /MKDIR: it falls to serving, which finds no such file.
  const std::string notFound = errorXml("1090", "/MKDIR not found or is a directory.");
  testsupport::HttpResponse head = request("HEAD", "/MKDIR?Name=x");
  EXPECT_NE(head.head.find("Content-Length: " + std::to_string(notFound.size()) + "\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(home() + "/x"));

  // The path is matched upper-cased; a POST carries its parameters in the body.
  EXPECT_EQ(xml("/mkdir?Name=lower"), successXml());
  EXPECT_TRUE(fs::is_directory(home() + "/lower"));
  EXPECT_EQ(request("POST", "/MKDIR", "site.example",
                    "Content-Type: application/x-www-form-urlencoded\r\n", "Name=posted").body,
            successXml());
  EXPECT_TRUE(fs::is_directory(home() + "/posted"));

  // A privileged command from another host falls to serving, path as received.
  EXPECT_EQ(xml("/ScanCacheDir?Name="), errorXml("1090", "/ScanCacheDir not found or is a directory."));
  EXPECT_EQ(xml("/SETPROXY?Host=h&Port=1"), errorXml("1090", "/SETPROXY not found or is a directory."));
  EXPECT_EQ(privilegedXml("/SCANCACHEDIR?Name="), successXml("<DirEntryCount> 0</DirEntryCount>"));
}

TEST_F(FileCommands, DirectoryCommandsAndTheirTexts) {
  EXPECT_EQ(xml("/MKDIR?Name=a/b/c"), successXml());
  EXPECT_TRUE(fs::is_directory(home() + "/a/b/c"));
  EXPECT_EQ(xml("/MKDIR?Name=a%20b"), successXml());
  EXPECT_TRUE(fs::is_directory(home() + "/a b"));
  EXPECT_EQ(xml("/ISDIR?Name=a%20b"), successXml());
  sandbox::writeFile(home() + "/a/file.txt", "12345");
  setModified(home() + "/a/file.txt", 1700000000);
  setModified(home() + "/a/b", 1600000000);

  // Reasons name paths below the data root.
  const std::string homeShown = "site.example";
  const std::string cases[][2] = {
      {"/ISDIR?Name=a/b", successXml()},
      {"/ISDIR?Name=my%20dir", errorXml("1020", "my%20dir is not a directory.")},
      {"/ISDIR?Name=a/file.txt", errorXml("1020", "a/file.txt is not a directory.")},
      {"/ISFILE?Name=a/file.txt", successXml()},
      {"/ISFILE?Name=a/b", errorXml("1120", "a/b is not a file.")},
      {"/ISFILE?Name=c:/a/file.txt", errorXml("1120", "c/a/file.txt is not a file.")},
      {"/SCANDIR?Name=a",
       successXml("<DirEntryCount> 2</DirEntryCount>" + listedEntry("b", "Directory", 0, 1600000000) +
                  listedEntry("file.txt", "File", 5, 1700000000))},
      {"/SCANDIR?Name=a&Filter=file.txt/none",
       successXml("<DirEntryCount> 1</DirEntryCount>" + listedEntry("file.txt", "File", 5, 1700000000))},
      {"/SCANDIR?Name=a&Filter=FILE.TXT", errorXml("1030", "Failed to scan directory " + homeShown + "\\a")},
      {"/SCANDIR?Name=missing", errorXml("1020", "missing is not a directory.")},
      {"/REMOVEFILE?Name=a/b",
       errorXml("1050", homeShown + "\\a\\b is a directory, not a file. Cannot delete it.")},
      {"/REMOVEFILE?Name=a/none", errorXml("1050", "")},
      {"/REMOVEDIRECTORY?Name=a/file.txt",
       errorXml("1040", homeShown + "\\a\\file.txt is not a directory. Cannot delete it.")},
      {"/RENAME?Name=/&NewName=x", errorXml("1060", homeShown + "\\ cannot be renamed.")},
      {"/RENAME?Name=a/file.txt", errorXml("1060", homeShown + "\\a/file.txt cannot be renamed to ")},
      {"/RENAME?Name=a/file.txt&NewName=a/b", errorXml("1070", "")},
      {"/RENAME?Name=a/none&NewName=a/new",
       errorXml("1070", "A  directory component in " + homeShown + "\\a\\none or " + homeShown +
                            "\\a\\new does not exist or is a dangling symbolic link.")},
      {"/RENAME?Name=a/file.txt&NewName=a%20b/moved.txt", successXml()},
      {"/REMOVEFILE?Name=a%20b/moved.txt", successXml()},
      {"/REMOVEDIRECTORY?Name=a", successXml()},
  };
  for (const auto& c : cases) EXPECT_EQ(xml(c[0]), c[1]) << c[0];
  EXPECT_FALSE(fs::exists(home() + "/a"));
  EXPECT_TRUE(fs::is_directory(home() + "/a b"));
  EXPECT_FALSE(fs::exists(home() + "/a b/moved.txt"));
}

TEST_F(FileCommands, AFreshSiteGetsAnEmptyListingAndNoFolder) {
  EXPECT_EQ(xml("/SCANDIR?Name=", "Fresh.Example"), successXml("<DirEntryCount> 0</DirEntryCount>"));
  EXPECT_FALSE(fs::exists(dataRoot() + "/fresh.example"));
  sandbox::writeFile(home() + "/a&b<c>.txt", "x");
  EXPECT_NE(xml("/SCANDIR?Name=").find("<Name>a&amp;b&lt;c&gt;.txt</Name>"), std::string::npos);
  EXPECT_EQ(xml("/REMOVEDIRECTORY?Name=/"), successXml());
  EXPECT_FALSE(fs::exists(home()));
  EXPECT_EQ(xml("/SCANDIR?Name=", "Fresh.Example"), successXml("<DirEntryCount> 0</DirEntryCount>"));
}

TEST_F(FileCommands, CommandsThatOnlyReadCreateNothing) {
  // A page can name any site, a deep page host, the privileged host and any
  // sub-home: listing, testing and reading make no folder for any of them.
  const std::string hosts[] = {"victim.example", "victim.example/a/b/c/d/e/f/g/h", "varlume.internal"};
  const std::string targets[] = {"/SCANDIR?Name=",          "/SCANDIR?Name=x/y",   "/SCANDIR?Name=&Filter=a/b",
                                 "/ISDIR?Name=x",           "/ISFILE?Name=x/y",    "/GET?Path=x/y.txt",
                                 "/SCANCACHEDIR?Name=",     "/SCANCACHEDIR?Name=h", "/x/y/z.txt"};
  const sandbox::VLTreeSnapshot before = sandbox::snapshotTree(documents());
  for (const std::string& host : hosts) {
    for (const std::string& target : targets) {
      xml(target, host);
      request("GET", target, host, servicetest::kScriptLine);
      EXPECT_EQ(sandbox::treeDifferences(before, sandbox::snapshotTree(documents())), "") << host << target;
    }
  }
  // What is absent answers as an empty folder or with its error.
  EXPECT_EQ(xml("/SCANDIR?Name=", "victim.example"), successXml("<DirEntryCount> 0</DirEntryCount>"));
  EXPECT_EQ(xml("/SCANDIR?Name=x/y", "victim.example"), errorXml("1020", "x/y is not a directory."));
  EXPECT_EQ(xml("/SCANDIR?Name=&Filter=a", "victim.example"),
            errorXml("1030", "Failed to scan directory victim.example\\"));
  EXPECT_EQ(privilegedXml("/SCANCACHEDIR?Name="), successXml("<DirEntryCount> 0</DirEntryCount>"));
  EXPECT_FALSE(fs::exists(dataRoot()));
}

TEST_F(FileCommands, AFolderThatCannotBeReadIsAFailedScan) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  fs::create_directories(home() + "/closed");
  sandbox::writeFile(home() + "/closed/x", "x");
  fs::permissions(home() + "/closed", fs::perms::owner_write);
  EXPECT_EQ(xml("/SCANDIR?Name=closed"), errorXml("1030", "Failed to scan directory " + std::string("site.example") + "\\closed"));
  fs::permissions(home() + "/closed", fs::perms::owner_all);
}

TEST_F(FileCommands, CacheCommands) {
  sandbox::writeFile(cache() + "/host.example/page.html", "cached");
  sandbox::writeFile(cache() + "/other.example/keep.html", "kept");
  setModified(cache() + "/host.example/page.html", 1650000000);
  EXPECT_EQ(request("GET", "/SCANCACHEDIR?Name=host.example", "VARLUME.internal", servicetest::kScriptLine).body,
            successXml("<DirEntryCount> 1</DirEntryCount>" + listedEntry("page.html", "File", 6, 1650000000)));
  EXPECT_EQ(xml("/REMOVECACHEFILE?Name=host.example/page.html"), successXml());
  EXPECT_FALSE(fs::exists(cache() + "/host.example/page.html"));
  EXPECT_EQ(xml("/REMOVECACHEDIRECTORY?Name=host.example"), successXml());
  EXPECT_FALSE(fs::exists(cache() + "/host.example"));
  EXPECT_EQ(sandbox::readFile(cache() + "/other.example/keep.html").value_or(""), "kept");
}

TEST_F(FileCommands, LinksInAHomeOrTheCacheAreRemovedNotFollowed) {
  const std::string outside = box.makeFolder("outside");
  sandbox::writeFile(outside + "/precious.txt", "precious");
  fs::create_directories(home() + "/tree/sub");
  fs::create_directory_symlink(outside, home() + "/tree/sub/link");
  fs::create_directory_symlink(outside, home() + "/toplink");
  fs::create_directories(cache());
  fs::create_directory_symlink(outside, cache() + "/cachelink");

  EXPECT_EQ(xml("/REMOVEDIRECTORY?Name=toplink"),
            errorXml("1040", std::string("site.example") + "\\toplink is not a directory. Cannot delete it."));
  EXPECT_EQ(xml("/REMOVEDIRECTORY?Name=toplink/"),
            errorXml("1040", std::string("site.example") + "\\toplink\\ is not a directory. Cannot delete it."));
  EXPECT_EQ(xml("/REMOVECACHEDIRECTORY?Name=cachelink"),
            errorXml("1040", std::string("Cache") + "\\cachelink is not a directory. Cannot delete it."));
  EXPECT_EQ(xml("/REMOVEDIRECTORY?Name=tree"), successXml());
  EXPECT_FALSE(fs::exists(home() + "/tree"));
  EXPECT_EQ(xml("/REMOVECACHEDIRECTORY?Name="), successXml());
  EXPECT_FALSE(fs::exists(cache()));
  EXPECT_EQ(sandbox::readFile(outside + "/precious.txt").value_or(""), "precious");
}

struct ThroughALink {
  const char* label;
  std::string target;
  std::string refusedName;  // the name the 1000 reason shows
  bool upload = false;
};

TEST_F(FileCommands, NoCommandActsThroughALink) {
  // The home holds a link to a folder outside it and a link to a file there;
  // another site's folder is a link to the same folder.
  const std::string outside = box.makeFolder("outside");
  sandbox::writeFile(outside + "/precious.txt", "precious");
  sandbox::writeFile(outside + "/sub/deep.txt", "deep");
  fs::create_directories(home());
  sandbox::writeFile(home() + "/plain.txt", "plain");
  fs::create_directory_symlink(outside, home() + "/ldir");
  fs::create_symlink(outside + "/precious.txt", home() + "/lfile");
  fs::create_directory_symlink(outside, dataRoot() + "/linked.example");
  const std::vector<ThroughALink> cases = {
      {"remove the target's content", "/REMOVEDIRECTORY?Name=ldir/.", "ldir/."},
      {"remove it, escaped separator", "/REMOVEDIRECTORY?Name=ldir%2f.", "ldir%2f."},
      {"remove it, escaped backslash", "/REMOVEDIRECTORY?Name=ldir%5c.", "ldir%5c."},
      {"remove a folder inside", "/REMOVEDIRECTORY?Name=ldir/sub", "ldir/sub"},
      {"remove a file inside", "/REMOVEFILE?Name=ldir/precious.txt", "ldir/precious.txt"},
      {"list it", "/SCANDIR?Name=ldir", "ldir"},
      {"list it with a dot", "/SCANDIR?Name=ldir/.", "ldir/."},
      {"list a folder inside", "/SCANDIR?Name=ldir/sub&Filter=deep.txt", "ldir/sub"},
      {"test a folder", "/ISDIR?Name=ldir", "ldir"},
      {"test a file inside", "/ISFILE?Name=ldir/precious.txt", "ldir/precious.txt"},
      {"test a file link", "/ISFILE?Name=lfile", "lfile"},
      {"read a file inside", "/GET?Path=ldir/precious.txt", "ldir/precious.txt"},
      {"read a file link", "/GET?Path=lfile", "lfile"},
      {"make a folder inside", "/MKDIR?Name=ldir/new", "ldir/new"},
      {"make the link's own folder writable", "/MKDIR?Name=ldir", "ldir"},
      {"rename out of it", "/RENAME?Name=ldir/precious.txt&NewName=stolen.txt", "ldir/precious.txt"},
      {"rename into it", "/RENAME?Name=plain.txt&NewName=ldir/planted.txt", "ldir/planted.txt"},
      {"write into it", "/STRINGFILE?Path=ldir&Name=planted.txt&Data=x", "ldir"},
      {"write onto a file link", "/STRINGFILE?Path=&Name=lfile&Data=x", "lfile"},
      {"upload into it", "/SAVEFILE?Path=ldir/sub", "ldir/sub", true},
  };
  const sandbox::VLTreeSnapshot outsideBefore = sandbox::snapshotTree(outside);
  for (const ThroughALink& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string body = c.upload ? upload(c.target, {{"planted.txt", "x"}}).body : xml(c.target);
    EXPECT_EQ(body, errorXml("1000", c.refusedName + " is not an allowed name."));
    EXPECT_EQ(sandbox::treeDifferences(outsideBefore, sandbox::snapshotTree(outside)), "");
  }
  // A site whose folder is a link is refused whole.
  for (const std::string target : {"/SCANDIR?Name=", "/GET?Path=precious.txt", "/REMOVEDIRECTORY?Name=",
                                   "/STRINGFILE?Path=&Name=planted.txt&Data=x", "/MKDIR?Name=new"}) {
    EXPECT_EQ(xml(target, "linked.example"), errorXml("1000", "linked.example is not an allowed name.")) << target;
  }
  EXPECT_EQ(sandbox::treeDifferences(outsideBefore, sandbox::snapshotTree(outside)), "");
  EXPECT_EQ(sandbox::readFile(home() + "/plain.txt").value_or(""), "plain");
  // The links themselves may still go; what they name stays.
  EXPECT_EQ(xml("/REMOVEFILE?Name=lfile"), successXml());
  EXPECT_EQ(xml("/RENAME?Name=ldir&NewName=moved"), successXml());
  EXPECT_TRUE(fs::is_symlink(home() + "/moved"));
  EXPECT_EQ(sandbox::treeDifferences(outsideBefore, sandbox::snapshotTree(outside)), "");
  expectNoTempFilesLeft();
}

TEST_F(FileCommands, PipelinedRequestsOnOneConnectionGetTheirRepliesInOrder) {
  testsupport::LoopbackClient client(port);
  std::string bytes;
  for (const char* target : {"/MKDIR?Name=p", "/ISDIR?Name=p", "/ISFILE?Name=p", "/GETVERSION"}) {
    bytes += std::string("GET ") + target + " HTTP/1.1\r\nHost: site.example\r\n\r\n";
  }
  ASSERT_TRUE(client.send(bytes));
  const std::string expected[] = {successXml(), successXml(), errorXml("1120", "p is not a file."),
                                  successXml("varlumefile 1.0.0, 2006-08-24")};
  for (const std::string& body : expected) {
    testsupport::HttpResponse response;
    ASSERT_TRUE(client.readResponse(response));
    EXPECT_EQ(response.body, body);
  }
  EXPECT_TRUE(client.staysSilent(200));
}

TEST_F(FileCommands, SizesOfFourGigabytesAndMoreAreListedAndServedWhole) {
  const std::string big = home() + "/big.bin";
  fs::create_directories(home());
  {
    FILE* file = std::fopen(big.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const bool sized = ftruncate(fileno(file), 5LL * 1024 * 1024 * 1024) == 0;
    std::fclose(file);
    if (!sized) GTEST_SKIP() << "no sparse files here";
  }
  EXPECT_NE(xml("/SCANDIR?Name=").find("<Size>5368709120</Size>"), std::string::npos);
  testsupport::HttpResponse head = request("HEAD", "/GET?Path=big.bin");
  EXPECT_NE(head.head.find("Content-Length: 5368709120\r\n"), std::string::npos) << head.head;
}

}  // namespace
