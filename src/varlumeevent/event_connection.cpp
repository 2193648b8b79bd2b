#include "varlumeevent/event_connection.h"

#include <memory>

#include "platform/paths.h"

namespace {

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

}  // namespace

bool VLEventConnection::open(const std::string& path) {
  close();
  const std::string systemPath = platform::toSystemPath(path);
  sqlite3* db = nullptr;
  const int result = sqlite3_open_v2(systemPath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (result != SQLITE_OK) {
    sqlite3_close(db);  // a failed open may still hand back a handle
    return false;
  }
  db_ = db;
  sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_busy_timeout(db_, kBusyMilliseconds);
  return true;
}

void VLEventConnection::close() {
  if (db_ == nullptr) return;
  sqlite3_close(db_);
  db_ = nullptr;
}

bool VLEventConnection::holdsObjects(const char* const* names, int count) const {
  if (db_ == nullptr) return false;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master WHERE name = ?1", -1, &raw, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(raw);
    return false;
  }
  Statement statement(raw);
  for (int i = 0; i < count; ++i) {
    sqlite3_reset(statement.get());
    sqlite3_bind_text(statement.get(), 1, names[i], -1, SQLITE_STATIC);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return false;
    if (sqlite3_column_int(statement.get(), 0) < 1) return false;
  }
  return true;
}
