// Statements run through a handler: rows collected as lines of raw values
// and as XML of encoded ones, failures reported with their code and the
// list run on, and the hardening of every connection.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "foundation/url_escape.h"
#include "platform/paths.h"
#include "varlumeevent/event_handler.h"

namespace {

namespace fs = std::filesystem;

class RowCollection : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder = fs::temp_directory_path() / ("vlev-" + std::to_string(random()));
    fs::create_directories(folder);
    ASSERT_TRUE(connection.open(platform::fromSystemPath((folder / "EventDatabase.db").string())));
  }
  void TearDown() override {
    connection.close();
    fs::remove_all(folder);
  }
  fs::path folder;
  VLEventConnection connection;
  VLEventHandler handler;
};

TEST_F(RowCollection, RowLinesKeepRawValuesAndTheXmlEncodesThem) {
  int failure = -1;
  const std::string xml =
      handler.executeStatements(connection, {"SELECT '/a' AS Path, 'x&y' AS Action, NULL AS Params"}, &failure);
  EXPECT_EQ(failure, SQLITE_OK);
  EXPECT_EQ(xml,
            "<Row><Column Name=Path>%2Fa</Column><Column Name=Action>x%26y</Column><Column Name=Params></Column></Row>");
  EXPECT_EQ(handler.lineResults(), std::vector<std::string>{"Path=/a&Action=x&y&Params="});
  EXPECT_EQ(handler.lastRowCount(), 1);
  EXPECT_EQ(VLEventHandler::rowField(" Action ", handler.lineResults()[0]), "x");
  EXPECT_EQ(VLEventHandler::rowField("Missing", handler.lineResults()[0]), "");
}

TEST_F(RowCollection, ColumnXmlIsCutWhereUrlEncodeCutsIt) {
  for (std::size_t length : {0u, 1u, 21844u, 21845u, 30000u}) {
    const std::string value(length, '/');
    const std::string xml = handler.executeStatements(connection, {"SELECT '" + value + "' AS v"});
    EXPECT_EQ(xml, "<Row><Column Name=v>" + urlEncode(value) + "</Column></Row>") << length;
  }
}

TEST_F(RowCollection, AFailureIsReportedAndTheListRunsOn) {
  int failure = 0;
  const std::string xml = handler.executeStatements(
      connection, {"CREATE TABLE t (v)", "", "INSERT INTO nothing VALUES (1)", "INSERT INTO t VALUES ('a')",
                   "SELECT v FROM t"},
      &failure);
  EXPECT_EQ(failure, SQLITE_ERROR);
  EXPECT_EQ(xml, "<Row><Column Name=v>a</Column></Row>");
  EXPECT_EQ(handler.lineResults(), std::vector<std::string>{"v=a"});
  // A query without rows leaves nothing of the list before it.
  EXPECT_EQ(handler.executeStatements(connection, {"SELECT v FROM t WHERE v = 'b'"}), "");
  EXPECT_TRUE(handler.lineResults().empty());
  EXPECT_EQ(handler.lastRowCount(), 0);
}

TEST_F(RowCollection, ConnectionsAttachNothingAndWaitForLocks) {
  int failure = 0;
  const std::string other = (folder / "other.db").string();
  handler.executeStatements(connection, {"ATTACH DATABASE '" + other + "' AS other"}, &failure);
  EXPECT_NE(failure, SQLITE_OK);
  EXPECT_FALSE(fs::exists(other));
  handler.executeStatements(connection, {"SELECT load_extension('x')"}, &failure);
  EXPECT_NE(failure, SQLITE_OK);
  // Defensive mode: the schema cannot be written directly.
  handler.executeStatements(connection, {"PRAGMA writable_schema = ON", "DELETE FROM sqlite_master"}, &failure);
  EXPECT_NE(failure, SQLITE_OK);
  handler.executeStatements(connection, {"PRAGMA busy_timeout"});
  EXPECT_EQ(handler.lineResults(), std::vector<std::string>{"timeout=5000"});
}

TEST_F(RowCollection, AVisitReadsOnlyTheRowsItAsksFor) {
  // An endless query: the reading stops where the visitor does.
  std::vector<std::string> lines;
  const int rows = handler.visitRows(
      connection, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i, 'x&y' AS v, NULL AS w FROM n",
      [&](const std::vector<std::string>& values, const std::string& line) {
        EXPECT_EQ(values.size(), 3u);
        lines.push_back(line);
        return lines.size() < 3;
      });
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(lines, (std::vector<std::string>{"i=1&v=x&y&w=", "i=2&v=x&y&w=", "i=3&v=x&y&w="}));
  // A failing query hands over nothing; nothing is kept in the handler.
  EXPECT_EQ(handler.visitRows(connection, "SELECT * FROM nothing", [](const auto&, const auto&) { return true; }), 0);
  EXPECT_TRUE(handler.lineResults().empty());
}

TEST(EventConnection, AFolderThatCannotHoldTheFileIsNoDatabase) {
  VLEventConnection connection;
  EXPECT_FALSE(connection.open("\\nonexistent-folder-of-varlume\\x\\EventDatabase.db"));
  EXPECT_FALSE(connection.isOpen());
}

}  // namespace
