// What a hostile page or a damaged file can do to the event service: values
// that try to end their SQL literal, Host and home values that try to leave
// the data root, database files emptied, stripped or replaced (by garbage,
// huge tables, tables without their unique index, views and triggers), and
// fifty writers at once.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "support/event_service.h"
#include "support/proxy_process.h"

namespace {

namespace fs = std::filesystem;

using eventtest::errorBody;
using eventtest::HttpResponse;
using eventtest::kOk;
using eventtest::Rows;

// A GET of `target` for the site `host`, as a page's request reaches the service.
std::string getRequest(const std::string& target, const std::string& host, const std::string& headers = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + headers + "\r\n";
}

class EventHostile : public eventtest::VLEventService {
 protected:
  Rows table(const std::string& database, const char* name) {
    return eventtest::rowsOf(database, std::string("SELECT * FROM ") + name + " ORDER BY rowid");
  }
  // Every path in the sandbox but the service's output.
  std::set<std::string> sandboxTree() {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(box.root())) {
      if (entry.path().filename() != "varlumeevent-output.txt") paths.insert(entry.path().string());
    }
    return paths;
  }
  // Reasons name the database below the data root.
  std::string shownSiteDatabase() { return "site.example\\EventDatabase.db"; }
};

TEST_F(EventHostile, ValuesAreStoredAndAnsweredVerbatim) {
  const std::string attached = box.root() + "/attached.db";
  const std::vector<std::string> values = {
      "O'Brien",
      "'); DROP TABLE ServerEvent;--",
      "' OR '1'='1",
      "' union select 1,2,3,4 --",
      "x'; ATTACH DATABASE '" + attached + "' AS a; CREATE TABLE a.t(x); --",
      "say \"hi\"",
      "back\\slash; \\'",
  };
  ASSERT_EQ(get("/ADDSERVEREVENT?Path=/plain&Event=NOWEB&Action=/plain").body, kOk);
  ASSERT_EQ(get("/ADDDRAGDROPWEB?Path=/plain&Action=COPY").body, kOk);
  for (const std::string& v : values) {
    EXPECT_EQ(post("/ADDSERVEREVENT", "Path=" + v + "&Event=NOWEB&Action=/t/" + v + "&ActionParams=" + v).body, kOk);
    EXPECT_EQ(post("/ADDDRAGDROPWEB", "Path=/d&Action=" + v + "&ActionParams=" + v + "&ActionSequence=" + v).body, kOk);
    EXPECT_EQ(post("/ADDWEBDRIVESHARE", "Path=/d&Group=" + v + "&User=" + v + "&Permission=" + v).body, kOk);
    EXPECT_EQ(privilegedPost("/ADDCROSSSITEUSER", "Domain=site.example&CrossDomain=" + v + "&Permission=1").body,
              kOk);
    EXPECT_EQ(privilegedPost("/ADDCROSSSITESITE", "Domain=site.example&CrossDomain=" + v + "&Permission=DENY&Path=" + v)
                  .body,
              kOk);
    // The look-up finds the row of exactly this Path, answered verbatim.
    EXPECT_EQ(post("/GETEVENT", "Path=" + v + "&Event=NOWEB").body, "/t/" + v + "?" + v);
  }
  const Rows events = table(siteDatabase(), "ServerEvent");
  ASSERT_EQ(events.size(), values.size() + 1);
  const Rows drops = table(siteDatabase(), "DragDropWeb");
  ASSERT_EQ(drops.size(), values.size() + 1);
  const Rows shares = table(siteDatabase(), "WebDriveShare");
  const Rows users = table(privilegedDatabase(), "CrossSiteUser");
  const Rows sites = table(privilegedDatabase(), "CrossSiteSite");
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::string& v = values[i];
    EXPECT_EQ(events[i + 1], (std::vector<std::string>{v, "NOWEB", "/t/" + v, v}));
    EXPECT_EQ(drops[i + 1], (std::vector<std::string>{dataRootAsShown() + "site.example\\d", v, v, v}));
    EXPECT_EQ(shares[i], (std::vector<std::string>{dataRootAsShown() + "site.example\\d", v, v, v}));
    EXPECT_EQ(users[i], (std::vector<std::string>{"site.example", v, "1"}));
    EXPECT_EQ(sites[i], (std::vector<std::string>{"site.example", v, "DENY", v}));
  }
  EXPECT_FALSE(sandbox::isFile(attached));

  // No look-up or delete is widened.
  EXPECT_EQ(post("/GETEVENT", "Path=x' OR '1'='1&Event=NOWEB").head.compare(0, 36, eventtest::kNoEventHead), 0);
  EXPECT_EQ(post("/DELETEDRAGDROPWEB", "Path=/d&Action=' OR '1'='1").body, kOk);
  EXPECT_EQ(table(siteDatabase(), "DragDropWeb").size(), values.size());
  EXPECT_EQ(post("/DELETESERVEREVENT", "Path=' OR '1'='1").body, kOk);
  EXPECT_EQ(table(siteDatabase(), "ServerEvent").size(), values.size());
  EXPECT_EQ(privilegedPost("/DELETECROSSSITESITE", "Domain=site.example&CrossDomain=' OR '1'='1").body, kOk);
  EXPECT_EQ(table(privilegedDatabase(), "CrossSiteSite").size(), values.size() - 1);

  EXPECT_EQ(eventtest::schemaOf(siteDatabase()), eventtest::domainSchema());
  Rows privileged = eventtest::privilegedSchema();
  for (const auto& row : eventtest::domainSchema()) privileged.push_back(row);
  EXPECT_EQ(eventtest::schemaOf(privilegedDatabase()), privileged);
}

TEST_F(EventHostile, RefusedHostsAndHomesTouchNothing) {
  const std::set<std::string> before = sandboxTree();
  const struct {
    const char* hostLine;  // with its line end; empty: no Host line
    const char* headers;
    const char* query;
  } cases[] = {
      {"Host: \r\n", "", ""},
      {"", "", ""},
      {"Host: .\r\n", "", ""},
      {"Host: ..\r\n", "", ""},
      {"Host: a/../../x\r\n", "", ""},
      {"Host: %2e%2e\r\n", "", ""},
      {"Host: %252e%252e\r\n", "", ""},
      {"Host: a\\b\r\n", "", ""},
      {"Host: a%5cb\r\n", "", ""},
      {"Host: C:/x\r\n", "", ""},
      {"Host: a%00b\r\n", "", ""},
      {"Host: a%0d%0ab\r\n", "", ""},
      {"Host: a\x01" "b\r\n", "", ""},
      {"Host: site.example\r\nHost: other.example\r\n", "", ""},
      {"Host: site.example\r\n", "VarlumeSubDomainHome: ../..\r\n", ""},
      {"Host: site.example\r\n", "VARLUMESUBDOMAINCOMMONHOME: ..\r\n", "&Common=1"},
  };
  const std::string refused = errorBody(14, "Cannot open domain database EventDatabase.db");
  for (const auto& c : cases) {
    for (const char* command : {"/GETVERSION", "/ADDSERVEREVENT", "/GETEVENT"}) {
      HttpResponse response;
      const std::string request = std::string("GET ") + command + "?Path=/a&Event=NOWEB&Action=/t" + c.query +
                                  " HTTP/1.1\r\n" + c.hostLine + c.headers + "\r\n";
      ASSERT_TRUE(eventtest::exchange(port, request, response)) << request;
      if (std::string(command) == "/GETEVENT") {
        EXPECT_EQ(response.head.compare(0, 36, eventtest::kNoEventHead), 0) << request;
      } else {
        EXPECT_EQ(response.body, refused) << request;
      }
    }
  }
  EXPECT_EQ(sandboxTree(), before);
}

TEST_F(EventHostile, AllowedHostsAndHomesKeepTheirOwnFolder) {
  const struct {
    const char* host;
    const char* headers;
    const char* query;
    const char* folder;
  } cases[] = {
      {"site.example:8080", "", "", "site.example:8080"},
      {"site.example/docs", "", "", "site.example/docs"},
      {"Site.Example/Docs/Deep", "", "", "site.example/docs/deep"},
      {"other%2Eexample", "", "", "other.example"},
      {"home.example", "VarlumeSubDomainHome: sub\r\n", "", "home.example/sub"},
      {"home.example", "VarlumeSubDomainHome: sub\r\nVARLUMESUBDOMAINCOMMONHOME: common\r\n", "?Common=1",
       "home.example/common"},
      {"home.example", "VARLUMESUBDOMAINCOMMONHOME: common\r\n", "", "home.example"},
  };
  std::set<std::string> expected = {privilegedDatabase()};
  for (const auto& c : cases) {
    EXPECT_EQ(get(std::string("/CROSSSITESCRIPT") + c.query, c.host, c.headers).body, kOk) << c.host;
    expected.insert(siteDatabase(c.folder));
    EXPECT_TRUE(sandbox::isFile(siteDatabase(c.folder))) << c.folder;
  }
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(dataRoot())) {
    if (entry.path().filename() == "EventDatabase.db") found.insert(entry.path().string());
  }
  EXPECT_EQ(found, expected);
}

TEST_F(EventHostile, NoDatabaseIsOpenedThroughALink) {
  // Another site's database, and a folder outside the data root.
  ASSERT_EQ(get("/ADDSERVEREVENT?Path=/v&Event=NOWEB&Action=/victim", "victim.example").body, kOk);
  const std::string victim = siteDatabase("victim.example");
  const Rows victimRows = table(victim, "ServerEvent");
  const std::string outside = box.makeFolder("outside");
  // A site folder that is a link, a database file that is one, and a
  // sub-home folder that is one.
  fs::create_directory_symlink(dataRoot() + "/victim.example", dataRoot() + "/linked.example");
  fs::create_directories(dataRoot() + "/filelink.example");
  fs::create_symlink(victim, dataRoot() + "/filelink.example/EventDatabase.db");
  fs::create_directories(dataRoot() + "/deep.example");
  fs::create_directory_symlink(outside, dataRoot() + "/deep.example/docs");
  const struct {
    const char* host;
    const char* shown;
  } cases[] = {
      {"linked.example", "linked.example\\EventDatabase.db"},
      {"filelink.example", "filelink.example\\EventDatabase.db"},
      {"deep.example/docs", "deep.example\\docs\\EventDatabase.db"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(get("/GETVERSION", c.host).body, errorBody(14, std::string("Cannot open domain database ") + c.shown));
    EXPECT_EQ(get("/ADDSERVEREVENT?Path=/p&Event=NOWEB&Action=/planted", c.host).body,
              errorBody(14, std::string("Cannot open domain database ") + c.shown));
    EXPECT_EQ(get("/GETEVENT?Path=/v&Event=NOWEB", c.host).head.compare(0, 36, eventtest::kNoEventHead), 0);
  }
  EXPECT_EQ(table(victim, "ServerEvent"), victimRows);
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_TRUE(fs::is_symlink(dataRoot() + "/filelink.example/EventDatabase.db"));
}

TEST_F(EventHostile, TablesComeBackAndLostWritesAreReported) {
  ASSERT_EQ(get("/GETVERSION").body.size(), 138u);
  // An emptied file.
  ASSERT_TRUE(sandbox::writeFile(siteDatabase(), ""));
  EXPECT_EQ(get("/ADDSERVEREVENT?Path=/a&Event=NOWEB&Action=/t").body, kOk);
  EXPECT_EQ(eventtest::schemaOf(siteDatabase()), eventtest::domainSchema());
  EXPECT_EQ(table(siteDatabase(), "ServerEvent").size(), 1u);
  // A dropped table.
  ASSERT_TRUE(eventtest::executeSql(siteDatabase(), "DROP TABLE DragDropWeb"));
  EXPECT_EQ(get("/ADDDRAGDROPWEB?Path=/a&Action=COPY").body, kOk);
  EXPECT_EQ(table(siteDatabase(), "DragDropWeb").size(), 1u);
  // A privileged file removed by a page through the file service.
  ASSERT_TRUE(fs::remove(privilegedDatabase()));
  EXPECT_EQ(get("/GETVERSION").body.size(), 138u);
  EXPECT_EQ(eventtest::schemaOf(privilegedDatabase()), eventtest::privilegedSchema());
  EXPECT_EQ(get("/GETEVENT?Path=/a&Event=NOWEB").body, "/t?");

  // A file that is no database: every write answers code 14, nothing is claimed stored.
  const std::string garbage(4096, 'x');
  ASSERT_TRUE(sandbox::writeFile(siteDatabase(), garbage));
  const std::string lost = errorBody(14, "Cannot write domain database " + shownSiteDatabase());
  for (const char* target : {"/ADDSERVEREVENT?Path=/b&Event=NOWEB&Action=/t", "/DELETESERVEREVENT?Path=/a",
                             "/ADDWEBDRIVE?Path=/w&Check=/c&Up=/u&Down=/d&Delete=/x", "/DELETEWEBDRIVE?Path=/w",
                             "/ADDWEBDRIVESHARE?Path=/w", "/DELETEWEBDRIVESHARE?Path=/w", "/ADDDRAGDROPWEB?Path=/a&Action=COPY",
                             "/DELETEDRAGDROPWEB?Path=/a", "/ADDDRAGDROPWEBINCLUDE?Path=/a&FileExtension=.x",
                             "/DELETEDRAGDROPWEBINCLUDE?Path=/a"}) {
    EXPECT_EQ(get(target).body, lost) << target;
  }
  EXPECT_EQ(get("/GETEVENT?Path=/a&Event=NOWEB").head.compare(0, 36, eventtest::kNoEventHead), 0);
  EXPECT_EQ(sandbox::readFile(siteDatabase()).value_or(""), garbage);

  ASSERT_TRUE(sandbox::writeFile(privilegedDatabase(), garbage));
  EXPECT_EQ(privileged("/ADDCROSSSITEUSER?Domain=a&CrossDomain=b&Permission=1").body,
            errorBody(14, "Cannot write varlume database varlume.internal\\EventDatabase.db"));
}

TEST_F(EventHostile, FiftyWritersAtOnceAllStore) {
  ASSERT_EQ(get("/GETVERSION").body.size(), 138u);
  const int kWriters = 50;
  std::string refused;  // an answer that was not the success, for the failure message
  auto runAll = [&](const std::function<std::string(int)>& request) {
    std::vector<std::string> bodies(kWriters);
    std::vector<std::thread> threads;
    for (int i = 0; i < kWriters; ++i) {
      threads.emplace_back([&, i] {
        HttpResponse response;
        if (eventtest::exchange(port, request(i), response)) bodies[static_cast<std::size_t>(i)] = response.body;
      });
    }
    for (std::thread& thread : threads) thread.join();
    int ok = 0;
    for (const std::string& body : bodies) {
      if (body == kOk) {
        ++ok;
      } else {
        refused = body.empty() ? "no answer" : body;
      }
    }
    return ok;
  };

  EXPECT_EQ(runAll([&](int i) {
              return getRequest("/ADDDRAGDROPWEB?Path=/c&Action=COPY&ActionSequence=" + std::to_string(i), "site.example");
            }),
            kWriters);
  EXPECT_EQ(table(siteDatabase(), "DragDropWeb").size(), static_cast<std::size_t>(kWriters));

  // Fifty first requests of one new site race to make its objects.
  EXPECT_EQ(runAll([&](int i) {
              return getRequest("/ADDSERVEREVENT?Path=/" + std::to_string(i) + "&Event=NOWEB&Action=/t", "fresh.example");
            }),
            kWriters)
      << refused;
  EXPECT_EQ(table(siteDatabase("fresh.example"), "ServerEvent").size(), static_cast<std::size_t>(kWriters));
  EXPECT_EQ(eventtest::schemaOf(siteDatabase("fresh.example")), eventtest::domainSchema());

  EXPECT_EQ(runAll([&](int i) {
              return getRequest("/ADDSERVEREVENT?Path=/p&Event=NOWEB&Action=/t", "s" + std::to_string(i) + ".example");
            }),
            kWriters);
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_EQ(table(siteDatabase("s" + std::to_string(i) + ".example"), "ServerEvent").size(), 1u) << i;
  }

  EXPECT_EQ(runAll([&](int i) {
              return getRequest("/ADDCROSSSITEUSER?Domain=site.example&CrossDomain=c" + std::to_string(i) + "&Permission=2",
                             "varlume.internal", eventtest::kScriptLine);
            }),
            kWriters);
  EXPECT_EQ(table(privilegedDatabase(), "CrossSiteUser").size(), static_cast<std::size_t>(kWriters));
}

// Rows made in the database itself: `count` rows of `select` (which may use
// the running number i) inserted into `table`.
std::string manyRows(const char* table, int count, const std::string& select) {
  return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n LIMIT " + std::to_string(count) +
         ") INSERT INTO " + table + " " + select + " FROM n;\n";
}

// A site's database file put in place on disk, as a page could through the
// file service: that site's commands answer as usual or are refused (code
// 14, and the look-up's 500) without running what the file holds and
// without growing with its size, while another site is answered as usual.
TEST_F(EventHostile, HostileDatabaseFilesStayTheirSitesOwnProblem) {
  const struct {
    const char* name;
    std::string sql;  // empty: the file is `garbage` bytes
    bool refused;     // false: the file is one the service keeps, answered as usual
  } cases[] = {
      {"huge", eventtest::domainSchemaSql() + "INSERT INTO ServerEvent VALUES ('*', 'NOWEB', '/star', '');\n" +
                   manyRows("ServerEvent", 300000, "SELECT '/p' || i, 'NOWEB', '/t' || i, 'n=' || i"),
       false},
      {"unindexed", eventtest::domainSchemaSql({"ServerEventIndex"}) +
                        manyRows("ServerEvent", 100000, "SELECT '*', 'NOWEB', '/t', ''"),
       true},
      {"weak index", eventtest::domainSchemaSql({"ServerEventIndex"}) +
                         "CREATE INDEX ServerEventIndex ON ServerEvent ('Path', 'Event');\n" +
                         manyRows("ServerEvent", 100000, "SELECT '/p7', 'NOWEB', '/t', ''"),
       true},
      {"view", eventtest::domainSchemaSql({"ServerEvent", "ServerEventIndex"}) +
                   "CREATE VIEW ServerEvent AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n LIMIT "
                   "100000) SELECT '*' AS Path, 'NOWEB' AS Event, '/v' AS Action, '' AS ActionParams FROM n;\n",
       true},
      {"trigger", eventtest::domainSchemaSql() +
                      "CREATE TRIGGER Spread AFTER INSERT ON ServerEvent BEGIN "
                      "INSERT INTO DragDropWeb VALUES ('t', 't', 't', 't'); END;\n"
                      "INSERT INTO ServerEvent VALUES ('/p7', 'NOWEB', '/t', '');\n",
       true},
      {"garbage", "", true},
  };
  const std::string garbage(65536, 'x');
  const std::string site = "hostile.example";
  const std::string database = siteDatabase(site);
  const std::string openRefused =
      errorBody(14, "Cannot open domain database " + site + "\\EventDatabase.db");
  const std::string writeRefused =
      errorBody(14, "Cannot write domain database " + site + "\\EventDatabase.db");

  const std::string version = get("/GETVERSION").body;
  ASSERT_EQ(version.size(), 138u);

  // Another site, answered as usual the whole time.
  std::atomic<bool> hostileDone{false};
  std::atomic<int> otherAnswered{0};
  std::atomic<int> otherWrong{0};
  std::thread other([&] {
    for (int i = 0; !hostileDone || i < 4; ++i) {
      HttpResponse stored;
      HttpResponse found;
      const std::string path = "/o" + std::to_string(i);
      const bool ok =
          eventtest::exchange(port, getRequest("/ADDSERVEREVENT?Path=" + path + "&Event=NOWEB&Action=/a" + path,
                                            "other.example"),
                              stored) &&
          eventtest::exchange(port, getRequest("/GETEVENT?Path=" + path + "&Event=NOWEB", "other.example"), found) &&
          stored.body == kOk && found.body == "/a" + path + "?";
      (ok ? otherAnswered : otherWrong)++;
    }
  });
  struct Stop {
    std::atomic<bool>& done;
    std::thread& thread;
    ~Stop() {
      done = true;
      if (thread.joinable()) thread.join();
    }
  } stopOther{hostileDone, other};

  const long peakBefore = eventtest::peakResidentKb(service.pid());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(dataRoot() + "/" + site);
    if (c.sql.empty()) {
      ASSERT_TRUE(sandbox::writeFile(database, garbage));
    } else {
      ASSERT_TRUE(eventtest::writeDatabase(database, c.sql));
    }
    const std::string before = sandbox::readFile(database).value_or("");
    const std::string refusal = c.sql.empty() ? writeRefused : openRefused;
    // Three pages of the site at once, each sending its commands in turn.
    std::vector<std::vector<HttpResponse>> answers(3);
    std::vector<std::thread> pages;
    for (auto& mine : answers) {
      pages.emplace_back([&, &mine = mine] {
        for (const char* target : {"/GETEVENT?Path=/p7&Event=NOWEB", "/GETEVENT?Path=/none&Event=NOWEB",
                                   "/ADDSERVEREVENT?Path=/new&Event=NOWEB&Action=/n", "/DELETEDRAGDROPWEB?Path=/q",
                                   "/GETVERSION"}) {
          mine.push_back(get(target, site.c_str()));
        }
      });
    }
    for (std::thread& page : pages) page.join();
    for (const auto& mine : answers) {
      ASSERT_EQ(mine.size(), 5u);
      if (c.refused) {
        EXPECT_EQ(mine[0].head.compare(0, 36, eventtest::kNoEventHead), 0) << mine[0].head << mine[0].body;
        EXPECT_EQ(mine[1].head.compare(0, 36, eventtest::kNoEventHead), 0) << mine[1].head << mine[1].body;
        EXPECT_EQ(mine[2].body, refusal);
        EXPECT_EQ(mine[3].body, refusal);
        EXPECT_EQ(mine[4].body, c.sql.empty() ? version : openRefused);
      } else {
        EXPECT_EQ(mine[0].body, "/t7?n=7");
        EXPECT_EQ(mine[1].body, "/star?");
        EXPECT_EQ(mine[2].body, kOk);
        EXPECT_EQ(mine[3].body, kOk);
        EXPECT_EQ(mine[4].body, version);
      }
    }
    // What the file holds never ran, and a refused file is left as it was.
    if (c.refused) {
      EXPECT_TRUE(sandbox::readFile(database).value_or("") == before);
    }
  }
  // No look-up held what the files hold: the peak stays far below their rows
  // (over 500 MB when every row was kept). AddressSanitizer keeps up to
  // 256 MiB of freed memory in quarantine beside it.
#ifdef __SANITIZE_ADDRESS__
  constexpr long kPeakGrowthKb = (256 + 64) * 1024;
#else
  constexpr long kPeakGrowthKb = 64 * 1024;
#endif
  EXPECT_LT(eventtest::peakResidentKb(service.pid()) - peakBefore, kPeakGrowthKb);
  hostileDone = true;
  other.join();
  EXPECT_EQ(otherWrong, 0);
  EXPECT_GE(otherAnswered, 4);
}

TEST(EventDataRoot, ADocumentsFolderWithAPercentWorks) {
  sandbox::VLSandbox box;
  servicetest::VLServiceProcess service;
  const std::string documents = box.makeFolder("docs 50%41off");
  service.overrideEnvironment("VARLUME_DOCUMENTS_DIR=" + documents);
  const int base = proxytest::freeServicesBase({3});
  ASSERT_TRUE(service.start(box, "varlumeevent", base, base + 3));
  HttpResponse response;
  auto send = [&](const std::string& target) {
    EXPECT_TRUE(eventtest::exchange(base + 3, "GET " + target + " HTTP/1.1\r\nHost: site.example\r\n\r\n", response));
    return response.body;
  };
  EXPECT_EQ(send("/ADDSERVEREVENT?Path=/a&Event=NOWEB&Action=/t"), kOk);
  EXPECT_EQ(send("/ADDSERVEREVENT?Path=/a&Event=NOWEB&Action=/t"), kOk);
  EXPECT_EQ(send("/GETEVENT?Path=/a&Event=NOWEB"), "/t?");
  EXPECT_EQ(eventtest::rowsOf(documents + "/Varlume/site.example/EventDatabase.db", "SELECT count(*) FROM ServerEvent"),
            (Rows{{"1"}}));
  EXPECT_EQ(eventtest::schemaOf(documents + "/Varlume/varlume.internal/EventDatabase.db"), eventtest::privilegedSchema());
  EXPECT_FALSE(sandbox::isFolder(box.root() + "/docs 50Aoff"));
}

}  // namespace

namespace {

class EventFailures : public eventtest::VLEventService {
 protected:
  std::size_t openDescriptors() {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(service.pid()) + "/fd")) {
      (void)entry;
      ++count;
    }
    return count;
  }
};

TEST_F(EventFailures, ReasonsNamePathsEscaped) {
  // A file where the site's folder would be: the database cannot be opened.
  ASSERT_TRUE(sandbox::writeFile(dataRoot() + "/a&b<c>.example", "in the way"));
  const std::string shown = "a&amp;b&lt;c&gt;.example\\EventDatabase.db";
  EXPECT_EQ(get("/GETVERSION", "a&b<c>.example").body, errorBody(14, "Cannot open domain database " + shown));
  EXPECT_EQ(sandbox::readFile(dataRoot() + "/a&b<c>.example").value_or(""), "in the way");

  ASSERT_TRUE(sandbox::writeFile(siteDatabase("x&y.example"), std::string(2048, 'x')));
  EXPECT_EQ(get("/ADDDRAGDROPWEB?Path=/a&Action=COPY", "x&y.example").body,
            errorBody(14, "Cannot write domain database x&amp;y.example\\EventDatabase.db"));
}

TEST_F(EventFailures, AnUnopenablePrivilegedDatabase) {
  ASSERT_EQ(get("/ADDSERVEREVENT?Path=/a&Event=NOWEB&Action=/t").body, kOk);
  ASSERT_TRUE(fs::remove(privilegedDatabase()));
  fs::create_directories(privilegedDatabase());  // a folder in the file's place
  EXPECT_EQ(get("/GETVERSION").body,
            errorBody(14, "Cannot open varlume database varlume.internal\\EventDatabase.db"));
  // The look-up never answers with an envelope, which the proxy would take for a target.
  const HttpResponse lookUp = get("/GETEVENT?Path=/a&Event=NOWEB");
  EXPECT_EQ(lookUp.head.compare(0, 36, eventtest::kNoEventHead), 0) << lookUp.head;
  EXPECT_EQ(lookUp.body, "");
}

TEST_F(EventFailures, NoDescriptorOutlivesItsRequest) {
  ASSERT_TRUE(sandbox::writeFile(siteDatabase("broken.example"), std::string(2048, 'x')));
  ASSERT_TRUE(sandbox::writeFile(dataRoot() + "/blocked.example", ""));
  get("/GETVERSION");
  const std::size_t before = openDescriptors();
  for (int i = 0; i < 60; ++i) {
    get("/ADDSERVEREVENT?Path=/" + std::to_string(i) + "&Event=NOWEB&Action=/t");
    get("/GETEVENT?Path=/" + std::to_string(i) + "&Event=NOWEB");
    get("/ADDSERVEREVENT?Path=/a&Event=NOWEB&Action=/t", "broken.example");
    get("/GETEVENT?Path=/a&Event=NOWEB", "broken.example");
    get("/GETVERSION", "blocked.example");
    get("/GETVERSION", "..");
  }
  // The handlers close their connections after the replies were read.
  EXPECT_TRUE(sandbox::waitUntil([&] { return openDescriptors() <= before; }, 5000))
      << openDescriptors() << " > " << before;
}

}  // namespace
