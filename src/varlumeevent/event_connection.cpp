#include "varlumeevent/event_connection.h"

#include "platform/paths.h"

bool VLEventConnection::open(const std::string& path) {
  close();
  const std::string systemPath = platform::toSystemPath(path);
  sqlite3* db = nullptr;
  const int result = sqlite3_open_v2(systemPath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                                   nullptr);
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
