// Storing a response into its cache file and saving a mirror file, over
// part files in a scratch folder that is both the temporary folder and the
// data root.
#include "varlume/mirror_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cache_scratch.h"
#include "platform/paths.h"
#include "varlume/responder.h"

namespace {

const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";

class StoreAndMirror : public CacheScratch {
 protected:
  // Writes the parts of request `id` and returns its record.
  VLRequestRecord parts(int id, const std::vector<std::string>& texts, int sent = 0) {
    for (std::size_t k = 0; k < texts.size(); ++k) {
      write("vl" + std::to_string(id) + "_" + std::to_string(k) + ".tmp", texts[k]);
    }
    VLRequestRecord record(id);
    record.setPartsWritten(static_cast<int>(texts.size()));
    record.setPartsSent(sent);
    record.setHost("Site.Test");
    record.setCachePath(tempPath + "Cache\\site.test\\i\\x.gif");
    return record;
  }
  std::string cached() { return scratch.file("Cache/site.test/i/x.gif"); }
  bool hasCopy() { return scratch.exists("Cache/site.test/i/x.gif"); }
  // Every file below the scratch folder, as relative names.
  std::vector<std::string> allFiles() {
    std::vector<std::string> names;
    const std::filesystem::path root = platform::toSystemPath(tempPath);
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
      if (e.is_regular_file()) names.push_back(std::filesystem::relative(e.path(), root).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The status line of the page the browser would get.
  std::string pageStatus(const std::string& path) {
    const std::string page = scratch.file(std::filesystem::path(platform::toSystemPath(path)).filename());
    return page.substr(0, page.find("\r\n"));
  }
  VLResponder responder;
};

TEST_F(StoreAndMirror, AWhole200IsCopiedFromItsFinalHeadOn) {
  struct Case {
    std::vector<std::string> texts;
    std::string copy;
  };
  const std::string interim = "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n";
  const Case cases[] = {
      {{kHead + "012", "3456", "789"}, kHead + "0123456789"},
      {{interim, kHead + "0123456789"}, kHead + "0123456789"},
      {{"HTTP/1.1 200 OK\r\nContent-Le", "ngth: 10\r\n\r\n0123456789"}, kHead + "0123456789"},
      {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n\r\n"},
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n\r\n"},
  };
  int id = 1;
  for (const Case& c : cases) {
    VLRequestRecord record = parts(id, c.texts, 1);
    storeInCache(record);
    EXPECT_EQ(cached(), c.copy);
    // The streamed part is the store's to delete; the others are still to be sent.
    EXPECT_FALSE(scratch.exists("vl" + std::to_string(id) + "_0.tmp"));
    if (c.texts.size() > 1) {
      EXPECT_TRUE(scratch.exists("vl" + std::to_string(id) + "_1.tmp"));
    }
    ++id;
  }
}

TEST_F(StoreAndMirror, AnythingButAWholeKeepable200LeavesNoCopy) {
  const std::vector<std::vector<std::string>> refused = {
      {"HTTP/1.1 200"},                                                  // status unreadable
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\n0123456789"},
      {"HTTP/1.0 200 OK\r\n\r\nruns until the close"},                  // no end of its own
      {"HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\nContent-Length: 1\r\n\r\nx"},
      {"HTTP/1.1 200 OK\r\ncache-control: private, no-store\r\nContent-Length: 1\r\n\r\nx"},
      {"HTTP/1.1 103 Early Hints\r\n\r\n"},                              // no final head
  };
  int id = 10;
  for (const auto& texts : refused) {
    write("Cache/site.test/i/x.gif", "old stale copy");
    storeInCache(parts(id++, texts));
    EXPECT_FALSE(hasCopy()) << texts[0];
  }
  // A part missing in the middle: no copy with a hole.
  write("Cache/site.test/i/x.gif", "old stale copy");
  VLRequestRecord record = parts(id, {kHead + "01234", "56789"});
  record.setPartsWritten(3);
  storeInCache(record);
  EXPECT_FALSE(hasCopy());
  for (const std::string& name : allFiles()) EXPECT_EQ(name.rfind("Cache", 0), std::string::npos) << name;
}

TEST_F(StoreAndMirror, AStoreReplacesTheCopyAndABlockedFolderLeavesNothing) {
  write("Cache/site.test/i/x.gif", "old");
  storeInCache(parts(1, {kHead + "0123456789"}, 1));
  EXPECT_EQ(cached(), kHead + "0123456789");
  write("Cache/blocked", "a file where a folder belongs");
  VLRequestRecord record = parts(2, {kHead + "0123456789"}, 1);
  record.setCachePath(tempPath + "Cache\\blocked\\x.gif");
  storeInCache(record);
  EXPECT_EQ(allFiles(), (std::vector<std::string>{"Cache/blocked", "Cache/site.test/i/x.gif"}));
}

TEST_F(StoreAndMirror, AMirrorSavesTheBodyAndAnswersSuccess) {
  VLRequestRecord record = parts(1, {kHead + "012", "3456", "789"});
  record.setUrl("/dir/page.html?x=1&MIRRORAS=Copy.htm&y=2");
  std::string out;
  EXPECT_TRUE(mirrorResponse(responder, record, out));
  EXPECT_EQ(scratch.file("site.test/Copy.htm"), "0123456789");
  EXPECT_EQ(pageStatus(out), "HTTP/1.1 200 Success");
  std::filesystem::remove(platform::toSystemPath(out));
  // A second mirror replaces the file; the part files are gone either way.
  record = parts(2, {"HTTP/1.1 103 Early\r\n\r\n", kHead + "abcdefghij"});
  record.setUrl("/?MIRRORAS=Copy.htm");
  EXPECT_TRUE(mirrorResponse(responder, record, out));
  EXPECT_EQ(scratch.file("site.test/Copy.htm"), "abcdefghij");
  std::filesystem::remove(platform::toSystemPath(out));
  EXPECT_EQ(allFiles(), (std::vector<std::string>{"site.test/Copy.htm"}));
}

TEST_F(StoreAndMirror, AFailedMirrorKeepsTheOldFileAndSaysWhy) {
  write("site.test/index.html", "old");
  write("site.test/EventDatabase.db", "the event service's");
  write("site.test/folder/inside.txt", "in a folder");
  struct Case {
    std::vector<std::string> texts;
    const char* url;
    std::string reason;  // of the 500 page
  };
  const std::string notAvailable = "Requested mirror file not available from host. File not mirrored.";
  const Case cases[] = {
      {{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}, "/", notAvailable},
      {{"HTTP/1.1 200"}, "/", notAvailable},
      {{"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n"}, "/", "Failed to find header in response from web-site."},
      {{kHead + "0123456789"}, "/%2E%2E%2F%2E%2E%2Fescaped", notAvailable},
      {{kHead + "0123456789"}, "/?MIRRORAS=../x", notAvailable},
      // Reasons name the folder that could not be made by its own name, and
      // files by their place below the data root, never where that lies.
      {{kHead + "0123456789"}, "/index.html/deeper", "500 index.html already exists (not necessarily as a directory)."},
      {{kHead + "0123456789"}, "/folder", "500 site.test\\folder is a directory, not a file. Cannot delete it."},
      // A service's own files are never replaced.
      {{kHead + "0123456789"}, "/EventDatabase.db", notAvailable},
      {{kHead + "0123456789"}, "/x.html?MIRRORAS=eventDATABASE.db", notAvailable},
      {{kHead + "0123456789"}, "/EventDatabase.db-journal", notAvailable},
      {{kHead + "0123456789"}, "/sub/EventDatabase.db", notAvailable},
      {{kHead + "0123456789"}, "/EVENTDATABASE.DB-WAL", notAvailable},
      {{kHead + "0123456789"}, "/EventDatabase.db-journal/x.html", notAvailable},
  };
  int id = 1;
  for (const Case& c : cases) {
    VLRequestRecord record = parts(id++, c.texts);
    record.setUrl(c.url);
    std::string out;
    EXPECT_FALSE(mirrorResponse(responder, record, out)) << c.url;
    const std::string status = pageStatus(out);
    EXPECT_EQ(status.substr(0, 13), "HTTP/1.1 500 ") << c.url;
    EXPECT_NE(status.find(c.reason), std::string::npos) << status;
    EXPECT_EQ(status.find(platform::toSystemPath(tempPath)), std::string::npos) << status;
    EXPECT_EQ(status.find(platform::fromSystemPath(platform::toSystemPath(tempPath))), std::string::npos) << status;
    std::filesystem::remove(platform::toSystemPath(out));
  }
  EXPECT_EQ(scratch.file("site.test/index.html"), "old");
  EXPECT_EQ(scratch.file("site.test/EventDatabase.db"), "the event service's");
  EXPECT_EQ(allFiles(), (std::vector<std::string>{"site.test/EventDatabase.db", "site.test/folder/inside.txt",
                                                  "site.test/index.html"}));
}

TEST_F(StoreAndMirror, AMirrorIsNeverWrittenThroughALink) {
  const std::string root = platform::toSystemPath(tempPath);
  write("outside/keep.txt", "kept");
  write("site.test/real/old.html", "old");
  std::filesystem::create_directory_symlink(root + "/outside", root + "/site.test/linked");
  std::filesystem::create_symlink(root + "/outside/keep.txt", root + "/site.test/file.html");
  std::filesystem::create_directory_symlink(root + "/outside", root + "/linkhost.test");
  const struct {
    const char* host;
    const char* url;
  } cases[] = {{"site.test", "/linked/page.html"}, {"site.test", "/linked/./page.html"},
               {"site.test", "/linked"},           {"site.test", "/file.html"},
               {"linkhost.test", "/page.html"}};
  int id = 1;
  for (const auto& c : cases) {
    VLRequestRecord record = parts(id++, {kHead + "0123456789"});
    record.setHost(c.host);
    record.setUrl(c.url);
    std::string out;
    EXPECT_FALSE(mirrorResponse(responder, record, out)) << c.host << c.url;
    std::filesystem::remove(platform::toSystemPath(out));
  }
  EXPECT_EQ(scratch.file("outside/keep.txt"), "kept");
  EXPECT_EQ(scratch.file("site.test/file.html"), "kept");
  EXPECT_TRUE(std::filesystem::is_symlink(root + "/site.test/file.html"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root + "/outside"), {}), 1);
  EXPECT_TRUE(std::filesystem::is_symlink(root + "/site.test/linked"));
  EXPECT_TRUE(std::filesystem::is_symlink(root + "/linkhost.test"));
  // A real folder still takes its mirror.
  VLRequestRecord record = parts(id++, {kHead + "0123456789"});
  record.setUrl("/real/new.html");
  std::string out;
  EXPECT_TRUE(mirrorResponse(responder, record, out));
  EXPECT_EQ(scratch.file("site.test/real/new.html"), "0123456789");
}

}  // namespace
