// What a database file holds against the event schemas: the service's own
// objects in their own form pass (missing ones may be made again), anything
// else in the catalogue makes the file foreign, and an index missing over
// stored rows makes it unusable.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/paths.h"
#include "varlumeevent/event_handler.h"
#include "varlumeevent/schema_check.h"

namespace {

namespace fs = std::filesystem;

std::string schemaSql(const std::vector<VLSchemaObject>& objects, const std::string& leftOut = "") {
  std::string sql;
  for (const VLSchemaObject& object : objects) {
    if (object.name != leftOut) sql += object.sql + ";\n";
  }
  return sql;
}

struct Case {
  const char* name;
  std::string sql;  // run on a new file; "garbage" writes bytes that are no database
  bool readable;
  bool foreign;
  bool usable;
  std::vector<std::string> missing;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::vector<std::string> allDomainNames() {
  std::vector<std::string> names;
  for (const VLSchemaObject& object : domainObjects()) names.push_back(object.name);
  return names;
}

const Case kCases[] = {
    {"Complete", schemaSql(domainObjects()), true, false, true, {}},
    {"Empty", "", true, false, true, allDomainNames()},
    {"BothSchemas", schemaSql(domainObjects()) + schemaSql(privilegedObjects()), true, false, true, {}},
    {"TableMissing", schemaSql(domainObjects(), "DragDropWeb"), true, false, true, {"DragDropWeb"}},
    {"IndexMissingOverNoRows", schemaSql(domainObjects(), "ServerEventIndex"), true, false, true, {"ServerEventIndex"}},
    {"IndexMissingOverRows",
     schemaSql(domainObjects(), "ServerEventIndex") + "INSERT INTO ServerEvent VALUES ('*', 'NOWEB', '/t', '');",
     true, false, false, {"ServerEventIndex"}},
    {"IndexOfAnotherForm",
     schemaSql(domainObjects(), "ServerEventIndex") + "CREATE INDEX ServerEventIndex ON ServerEvent ('Path', 'Event');",
     true, true, false, {}},
    {"TableOfAnotherForm",
     schemaSql(domainObjects(), "WebDriveShare") + "CREATE TABLE WebDriveShare ('LocalDir', 'Group');", true, true,
     false, {}},
    {"ViewInPlaceOfTable",
     schemaSql(domainObjects(), "WebDriveShare") + "CREATE VIEW WebDriveShare AS SELECT 1 AS LocalDir;", true, true,
     false, {}},
    {"Trigger",
     schemaSql(domainObjects()) +
         "CREATE TRIGGER Spread AFTER INSERT ON ServerEvent BEGIN DELETE FROM DragDropWeb; END;",
     true, true, false, {}},
    {"ExtraTable", schemaSql(domainObjects()) + "CREATE TABLE Other (x);", true, true, false, {}},
    {"Garbage", "garbage", false, false, true, {}},
};

class SchemaFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder = fs::temp_directory_path() / ("vlschema-" + std::to_string(random()));
    fs::create_directories(folder);
  }
  void TearDown() override {
    connection.close();
    fs::remove_all(folder);
  }
  fs::path folder;
  VLEventConnection connection;
};

class SchemaCheck : public SchemaFile, public ::testing::WithParamInterface<Case> {};

TEST_P(SchemaCheck, ClassifiesTheFile) {
  const Case& c = GetParam();
  const fs::path file = folder / "EventDatabase.db";
  if (c.sql == "garbage") {
    std::ofstream(file) << std::string(4096, 'x');
  } else {
    ASSERT_TRUE(connection.open(platform::fromSystemPath(file.string())));
    ASSERT_EQ(sqlite3_exec(connection.handle(), c.sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << c.sql;
    connection.close();
  }
  ASSERT_TRUE(connection.open(platform::fromSystemPath(file.string())));
  const VLSchemaCheck check = checkSchema(connection, domainObjects());
  EXPECT_EQ(check.readable, c.readable);
  EXPECT_EQ(check.foreign, c.foreign);
  EXPECT_EQ(check.usable(), c.usable);
  if (!c.foreign) {
    EXPECT_EQ(check.missing, c.missing);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SchemaCheck, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST_F(SchemaFile, LeavesTheConnectionItsOwnCacheSize) {
  // A file whose header suggests a cache of a million pages.
  const std::string file = platform::fromSystemPath((folder / "EventDatabase.db").string());
  ASSERT_TRUE(connection.open(file));
  ASSERT_EQ(sqlite3_exec(connection.handle(), "PRAGMA default_cache_size = 1000000", nullptr, nullptr, nullptr),
            SQLITE_OK);
  connection.close();
  ASSERT_TRUE(connection.open(file));
  checkSchema(connection, domainObjects());
  VLEventHandler handler;
  handler.executeStatements(connection, {"PRAGMA cache_size"});
  EXPECT_EQ(handler.lineResults(), std::vector<std::string>{"cache_size=-2000"});
}

TEST(SchemaObjects, AreTheStatementsAsTheCatalogueKeepsThem) {
  ASSERT_EQ(domainObjects().size(), domainStatements().size());
  ASSERT_EQ(privilegedObjects().size(), privilegedStatements().size());
  EXPECT_EQ(domainObjects()[6].sql,
            "CREATE UNIQUE INDEX WebDriveFilesUniqueIndex On WebDriveFiles ('LocalDir', 'Filename')");
  EXPECT_EQ(privilegedObjects()[3].sql,
            "CREATE TABLE CrossSiteSite ('DomainName', 'CrossDomain', 'Permission', 'PathWild')");
  EXPECT_TRUE(domainObjects()[9].isIndex());
  EXPECT_EQ(domainObjects()[9].table, "ServerEvent");
  EXPECT_FALSE(domainObjects()[8].isIndex());
}

}  // namespace
