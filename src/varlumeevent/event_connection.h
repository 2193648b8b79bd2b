// VLEventConnection: one SQLite connection of a handler, opened for one
// request and closed by its destructor at the latest. Every connection is
// opened hardened against a database file that a page may have replaced:
// defensive mode, no trusted schema, no attached databases, no extensions,
// never a file that is a link; and it waits up to kBusyMilliseconds for
// another handler's lock.
#pragma once
#include <sqlite3.h>

#include <string>

class VLEventConnection {
 public:
  static constexpr int kBusyMilliseconds = 5000;

  VLEventConnection() = default;
  ~VLEventConnection() { close(); }
  VLEventConnection(const VLEventConnection&) = delete;
  VLEventConnection& operator=(const VLEventConnection&) = delete;

  // Opens (creating when absent) the database at `path` ("\" form); false
  // when it cannot be opened, nothing then stays open.
  bool open(const std::string& path);
  void close();
  bool isOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};
