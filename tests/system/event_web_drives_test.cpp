// Web drives, shares and drag-and-drop actions over HTTP: the LocalDir of
// a Path, the rows stored and removed, and the refusals in their order.
#include <gtest/gtest.h>

#include <string>

#include "support/event_service.h"

namespace {

using eventtest::errorBody;
using eventtest::kOk;
using eventtest::Rows;

constexpr char kDrive[] = "Check=/c&CheckParams=cp&Up=/u&UpParams=up&UpTransferEncoding=base64&Down=/d&DownParams=dp"
                          "&Delete=/x&DeleteParams=xp&IntervalSeconds=soon";

std::string blankText(const char* name) {
  return std::string("Path for ") + name + " parameter is blank. WebDrive not created.";
}
std::string alwaysText(const char* name) {
  return std::string("User ALWAYS permission required to support cross site scripted WebDrive. Parameter=") + name +
         ".  WebDrive not created.";
}

class EventWebDrives : public eventtest::VLEventService {
 protected:
  // The LocalDir of a Path below the site's home, as the service writes it.
  std::string home() { return dataRootAsShown() + "site.example\\"; }
  Rows table(const char* name) {
    return eventtest::rowsOf(siteDatabase(), std::string("SELECT * FROM ") + name + " ORDER BY rowid");
  }
};

TEST_F(EventWebDrives, StoresDrivesUnderTheCleanedPath) {
  const struct {
    const char* path;
    const char* local;  // after the home
  } cases[] = {
      {"", ""}, {"/docs/a", "docs/a"}, {"docs/b", "docs/b"}, {"a/../b", "ab"}, {"/.//./x", "x"}, {"/.//././/./etc", "etc"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(get(std::string("/ADDWEBDRIVE?Path=") + c.path + "&" + kDrive).body, kOk) << c.path;
  }
  const Rows rows = table("WebDrive");
  ASSERT_EQ(rows.size(), std::size(cases));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i], (std::vector<std::string>{home() + cases[i].local, "/c", "cp", "/u", "up", "base64", "/d", "dp",
                                                 "/x", "xp", "soon"}));
  }
  // The same LocalDir again: OK, the row unchanged.
  EXPECT_EQ(get(std::string("/ADDWEBDRIVE?Path=docs/a&") + "Check=/other&Up=/u&Down=/d&Delete=/x").body, kOk);
  EXPECT_EQ(table("WebDrive")[1][1], "/c");
  EXPECT_EQ(get("/DELETEWEBDRIVE?Path=/docs/a").body, kOk);
  EXPECT_EQ(table("WebDrive").size(), std::size(cases) - 1);
}

TEST_F(EventWebDrives, RefusesBlankURLsFirstThenForeignOnes) {
  const struct {
    const char* query;
    std::string reason;
  } cases[] = {
      {"Up=/u&Down=/d&Delete=/x", blankText("Check")},
      {"Check=/c&Down=/d&Delete=/x", blankText("Up")},
      {"Check=/c&Up=/u&Delete=/x", blankText("Down")},
      {"Check=http://other.example/c&Up=/u&Down=/d", blankText("Delete")},
      {"Check=http://other.example/c&Up=/u&Down=/d&Delete=/x", alwaysText("Check")},
      {"Check=/c&Up=https://other.example/u&Down=/d&Delete=/x", alwaysText("Up")},
      {"Check=/c&Up=/u&Down=http://other.example&Delete=/x", alwaysText("Down")},
      {"Check=/c&Up=/u&Down=/d&Delete=http://other.example/x", alwaysText("Delete")},
      // Quoted into its literal, the host finds no row: level 1, not ALWAYS.
      {"Check=http://x'%20union%20select%20'*','3'%20--/c&Up=/u&Down=/d&Delete=/x", alwaysText("Check")},
  };
  for (const auto& c : cases) {
    const std::string body = get(std::string("/ADDWEBDRIVE?Path=/p&") + c.query).body;
    EXPECT_EQ(body, errorBody(c.reason.find("ALWAYS") != std::string::npos ? 3000 : 3020, c.reason)) << c.query;
  }
  EXPECT_EQ(errorBody(3000, alwaysText("Check")).size(), 214u);
  // Raw in a form body, the union-select host is refused the same way.
  EXPECT_EQ(post("/ADDWEBDRIVE", "Path=/p&Check=http://x' union select '*','3' --/c&Up=/u&Down=/d&Delete=/x").body,
            errorBody(3000, alwaysText("Check")));
  EXPECT_TRUE(table("WebDrive").empty());
  // The calling site's own host, in any case, is ALWAYS.
  EXPECT_EQ(get("/ADDWEBDRIVE?Path=/p&Check=HTTP://Site.Example/c&Up=https://SITE.example/u&Down=/d&Delete=/x").body,
            kOk);
}

TEST_F(EventWebDrives, SharesRepeatAndDeleteByGroupAndUser) {
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(get("/ADDWEBDRIVESHARE?Path=/d&Group=g1&User=u1&Permission=rw").body, kOk);
  }
  EXPECT_EQ(get("/ADDWEBDRIVESHARE?Path=/d&Group=g1&User=u2&Permission=r").body, kOk);
  EXPECT_EQ(get("/ADDWEBDRIVESHARE?Path=/d&Group=g2&User=u1").body, kOk);
  EXPECT_EQ(get("/ADDWEBDRIVESHARE?Path=/e&Group=g1&User=u1").body, kOk);
  EXPECT_EQ(table("WebDriveShare").size(), 5u);

  EXPECT_EQ(get("/DELETEWEBDRIVESHARE?Path=/d&Group=g1&User=u1").body, kOk);
  EXPECT_EQ(table("WebDriveShare").size(), 3u);
  EXPECT_EQ(get("/DELETEWEBDRIVESHARE?Path=d&Group=g1").body, kOk);
  EXPECT_EQ(table("WebDriveShare"), (Rows{{home() + "d", "g2", "u1", ""}, {home() + "e", "g1", "u1", ""}}));
  // Deleting a drive leaves its shares.
  EXPECT_EQ(get("/ADDWEBDRIVE?Path=/e&Check=/c&Up=/u&Down=/d&Delete=/x").body, kOk);
  EXPECT_EQ(get("/DELETEWEBDRIVE?Path=/e").body, kOk);
  EXPECT_EQ(table("WebDriveShare").size(), 2u);
  EXPECT_EQ(get("/DELETEWEBDRIVESHARE?Path=/d").body, kOk);
  EXPECT_EQ(table("WebDriveShare"), (Rows{{home() + "e", "g1", "u1", ""}}));
}

TEST_F(EventWebDrives, DragDropActionsAndIncludes) {
  EXPECT_EQ(get("/ADDDRAGDROPWEB?Path=/in&ActionParams=x").body,
            errorBody(3020, "Path for Action parameter is blank. DragDropWeb not created."));
  EXPECT_EQ(get("/ADDDRAGDROPWEB?Path=/in&Action=UpLoad&ActionParams=http://other.example/up").body,
            errorBody(3000,
                      "User ALWAYS permission required to support cross site scripted DragDropWeb. "
                      "Parameter=ActionParams.  DragDropWeb not created."));
  for (const char* query : {"Action=upload&ActionParams=/relative", "Action=UPLOAD",
                            "Action=Upload&ActionParams=http://site.example/up", "Action=Copy&ActionSequence=1",
                            "Action=Copy&ActionSequence=1", "Action=SHRED&ActionParams=http://other.example"}) {
    EXPECT_EQ(get(std::string("/ADDDRAGDROPWEB?Path=/in&") + query).body, kOk) << query;
  }
  EXPECT_EQ(table("DragDropWeb").size(), 6u);
  EXPECT_EQ(table("DragDropWeb")[0], (std::vector<std::string>{home() + "in", "upload", "/relative", ""}));

  EXPECT_EQ(get("/DELETEDRAGDROPWEB?Path=/in&Action=COPY").body, kOk);  // exact case only
  EXPECT_EQ(table("DragDropWeb").size(), 6u);
  EXPECT_EQ(get("/DELETEDRAGDROPWEB?Path=/in&Action=Copy&ActionSequence=1").body, kOk);
  EXPECT_EQ(table("DragDropWeb").size(), 4u);
  EXPECT_EQ(get("/DELETEDRAGDROPWEB?Path=/in&ActionParams=/relative").body, kOk);
  EXPECT_EQ(table("DragDropWeb").size(), 3u);
  EXPECT_EQ(get("/DELETEDRAGDROPWEB?Path=in").body, kOk);
  EXPECT_TRUE(table("DragDropWeb").empty());

  EXPECT_EQ(get("/ADDDRAGDROPWEBINCLUDE?Path=/in&FileExtension=%20").body, kOk);
  EXPECT_EQ(post("/ADDDRAGDROPWEBINCLUDE", "Path=/in&FileExtension= \t").body,
            errorBody(3020, "FileExtension parameter is blank. DragDropWeb not updated."));
  EXPECT_EQ(get("/ADDDRAGDROPWEBINCLUDE?Path=/in&FileExtension=.txt").body, kOk);
  EXPECT_EQ(get("/ADDDRAGDROPWEBINCLUDE?Path=/other&FileExtension=.txt").body, kOk);
  EXPECT_EQ(get("/DELETEDRAGDROPWEBINCLUDE?Path=/in&FileExtension=.TXT").body, kOk);
  EXPECT_EQ(table("DragDropWebInclude").size(), 3u);
  EXPECT_EQ(get("/DELETEDRAGDROPWEBINCLUDE?Path=/in").body, kOk);
  EXPECT_EQ(table("DragDropWebInclude"), (Rows{{home() + "other", ".txt"}}));
}

}  // namespace
