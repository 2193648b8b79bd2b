#include "varlumeevent/schema_check.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>

namespace {

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Statement prepared(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return nullptr;
  }
  return Statement(raw);
}

std::string columnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

const VLSchemaObject* ownObject(const std::string& name) {
  for (const auto* schema : {&domainObjects(), &privilegedObjects()}) {
    for (const VLSchemaObject& object : *schema) {
      if (object.name == name) return &object;
    }
  }
  return nullptr;
}

bool tableHoldsRows(sqlite3* db, const std::string& table) {
  Statement statement = prepared(db, "SELECT 1 FROM \"" + table + "\" LIMIT 1");
  return statement == nullptr || sqlite3_step(statement.get()) != SQLITE_DONE;
}

// One read transaction over the whole check: the catalogue and the rows
// looked at after it are of one moment, even while other connections make
// the objects and store rows.
class ReadSnapshot {
 public:
  explicit ReadSnapshot(sqlite3* db)
      : db_(db), begun_(sqlite3_get_autocommit(db) != 0 && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) {}
  ~ReadSnapshot() {
    if (begun_) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;

 private:
  sqlite3* db_;
  bool begun_;
};

}  // namespace

bool VLSchemaCheck::holds(const std::string& name) const {
  return readable && std::find(missing.begin(), missing.end(), name) == missing.end();
}

VLSchemaCheck checkSchema(const VLEventConnection& connection, const std::vector<VLSchemaObject>& schema) {
  VLSchemaCheck check;
  if (!connection.isOpen()) return check;
  sqlite3* db = connection.handle();
  sqlite3_exec(db, "PRAGMA cache_size = -2000", nullptr, nullptr, nullptr);
  const ReadSnapshot snapshot(db);
  Statement catalogue = prepared(db, "SELECT type, name, sql FROM sqlite_master");
  if (catalogue == nullptr) return check;
  const std::size_t ownCount = domainObjects().size() + privilegedObjects().size();
  std::vector<std::string> present;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(catalogue.get())) == SQLITE_ROW) {
    const std::string type = columnText(catalogue.get(), 0);
    const std::string name = columnText(catalogue.get(), 1);
    const VLSchemaObject* own = ownObject(name);
    const bool sameForm = own != nullptr && type == (own->isIndex() ? "index" : "table") &&
                          sqlite3_column_type(catalogue.get(), 2) == SQLITE_TEXT &&
                          columnText(catalogue.get(), 2) == own->sql;
    if (!sameForm || present.size() >= ownCount) {
      check.readable = true;
      check.foreign = true;
      return check;
    }
    present.push_back(name);
  }
  if (step != SQLITE_DONE) return check;
  check.readable = true;
  auto isPresent = [&](const std::string& name) {
    return std::find(present.begin(), present.end(), name) != present.end();
  };
  for (const VLSchemaObject& object : schema) {
    if (isPresent(object.name)) continue;
    check.missing.push_back(object.name);
    if (object.isIndex() && isPresent(object.table) && tableHoldsRows(db, object.table)) {
      check.indexMissingOverRows = true;
    }
  }
  return check;
}
