#include "platform/registry.h"

#include <vector>

#include "platform/files.h"
#include "platform/paths.h"

namespace platform {

namespace {

constexpr int kUserFile = 0;
constexpr int kMachineFile = 1;
constexpr int kBusyTimeoutMs = 10000;

struct RootRow {
  RegistryRoot root;
  int file;
  std::int64_t id;
  const char* name;
};
constexpr RootRow kRoots[] = {
    {RegistryRoot::CurrentUser, kUserFile, 1, "HKEY_CURRENT_USER"},
    {RegistryRoot::LocalMachine, kMachineFile, 2, "HKEY_LOCAL_MACHINE"},
    {RegistryRoot::Users, kMachineFile, 3, "HKEY_USERS"},
    {RegistryRoot::CurrentConfig, kMachineFile, 4, "HKEY_CURRENT_CONFIG"},
    {RegistryRoot::ClassesRoot, kMachineFile, 5, "HKEY_CLASSES_ROOT"},
};

bool isRootId(std::int64_t id) { return id >= 1 && id <= 5; }

// Keys are rows below their parent (roots have parent 0); names compare
// without case in both tables.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS \"values\"("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, name));";

// One prepared statement, finalised by its destructor. Every name and datum
// is bound, never put into the SQL text.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, std::int64_t value) {
    if (statement_ != nullptr) sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& bindText(int index, const std::string& text) {
    if (statement_ != nullptr) {
      sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
    }
    return *this;
  }
  Statement& bindBlob(int index, const std::string& data) {
    if (statement_ != nullptr) {
      // A zero-length blob still binds as a blob, never as NULL.
      sqlite3_bind_blob(statement_, index, data.empty() ? "" : data.data(),
                        static_cast<int>(data.size()), SQLITE_TRANSIENT);
    }
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return statement_ == nullptr ? SQLITE_ERROR : sqlite3_step(statement_); }
  std::int64_t columnInt(int column) { return sqlite3_column_int64(statement_, column); }
  std::string columnBytes(int column) {
    const void* data = sqlite3_column_blob(statement_, column);
    int size = sqlite3_column_bytes(statement_, column);
    return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size);
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

bool execute(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool keyExists(sqlite3* db, std::int64_t id) {
  Statement statement(db, "SELECT 1 FROM keys WHERE id = ?");
  statement.bind(1, id);
  return statement.step() == SQLITE_ROW;
}

// 1: found (id set), 0: missing, -1: error.
int findChild(sqlite3* db, std::int64_t parent, const std::string& name, std::int64_t& id) {
  Statement statement(db, "SELECT id FROM keys WHERE parent = ? AND name = ?");
  statement.bind(1, parent).bindText(2, name);
  int result = statement.step();
  if (result == SQLITE_ROW) {
    id = statement.columnInt(0);
    return 1;
  }
  return result == SQLITE_DONE ? 0 : -1;
}

// Runs `body` inside one write transaction; false (and nothing kept) when the
// body or the commit fails.
template <typename Body>
bool inTransaction(sqlite3* db, Body body) {
  if (db == nullptr || !execute(db, "BEGIN IMMEDIATE")) return false;
  if (body() && execute(db, "COMMIT")) return true;
  execute(db, "ROLLBACK");
  return false;
}

std::vector<std::string> pathParts(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool validKeyName(const std::string& name) {
  return name.size() <= kMaxKeyNameBytes && name.find('\\') == std::string::npos;
}

}  // namespace

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    file_ = other.file_;
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

RegistryStore::RegistryStore(std::string userStorePath, std::string machineStorePath)
    : paths_{std::move(userStorePath), std::move(machineStorePath)} {}

RegistryStore::~RegistryStore() {
  for (sqlite3* db : connections_) sqlite3_close(db);
}

sqlite3* RegistryStore::connection(int file, bool forChange) {
  if (connections_[file] != nullptr && (writable_[file] || !forChange)) return connections_[file];
  const std::string path = toSystemPath(paths_[file]);
  FileStatus status;
  const bool exists = statPath(path, status);
  // Only a regular file is a store: anything else could block or be shared.
  if (exists && !status.isRegular) return nullptr;
  if (!exists && !forChange) return nullptr;  // reads as empty roots

  if (connections_[file] != nullptr) {  // opened for reading; writing needs a new one
    sqlite3_close(connections_[file]);
    connections_[file] = nullptr;
  }
  if (!exists) {
    // Made here, so a store in the shared all-users folder takes that
    // folder's modes (file_modes.h) like every other file made there.
    File made;
    made.open(path, File::CreateNew);
  }
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | (forChange ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK ||
      (forChange && sqlite3_db_readonly(db, "main") != 0)) {
    sqlite3_close(db);
    if (forChange) return nullptr;
    db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return nullptr;
    }
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (forChange) {
    // One commit per change: the write-ahead log keeps each one cheap.
    execute(db, "PRAGMA journal_mode=WAL");
    execute(db, "PRAGMA synchronous=NORMAL");
    bool ready = inTransaction(db, [&] {
      if (!execute(db, kSchema)) return false;
      for (const RootRow& row : kRoots) {
        if (row.file != file) continue;
        Statement insert(db, "INSERT OR IGNORE INTO keys(id, parent, name) VALUES (?, 0, ?)");
        insert.bind(1, row.id).bindText(2, row.name);
        if (insert.step() != SQLITE_DONE) return false;
      }
      return true;
    });
    if (!ready) {
      sqlite3_close(db);
      return nullptr;
    }
    writable_[file] = true;
  }
  connections_[file] = db;
  return db;
}

RegistryKey RegistryStore::root(RegistryRoot which) const {
  RegistryKey key;
  for (const RootRow& row : kRoots) {
    if (row.root == which) {
      key.file_ = row.file;
      key.id_ = row.id;
    }
  }
  return key;
}

bool RegistryStore::openKey(const RegistryKey& parent, const std::string& path, RegistryKey& key) {
  // `key` may be `parent` itself.
  const int file = parent.file_;
  std::int64_t id = parent.id_;
  key.close();
  if (id <= 0) return false;
  const std::vector<std::string> parts = pathParts(path);
  for (const std::string& part : parts) {
    if (part.size() > kMaxKeyNameBytes) return false;
  }
  sqlite3* db = connection(file, false);
  if (db == nullptr) {
    // No store file: only a root itself exists.
    if (!parts.empty() || !isRootId(id)) return false;
  } else {
    if (!isRootId(id) && !keyExists(db, id)) return false;
    for (const std::string& part : parts) {
      if (findChild(db, id, part, id) != 1) return false;
    }
  }
  key.file_ = file;
  key.id_ = id;
  return true;
}

bool RegistryStore::createKey(const RegistryKey& parent, const std::string& name,
                              RegistryKey& key) {
  if (name.empty()) return openKey(parent, name, key);
  const int file = parent.file_;
  const std::int64_t parentId = parent.id_;
  key.close();
  if (parentId <= 0 || !validKeyName(name)) return false;
  sqlite3* db = connection(file, true);
  std::int64_t id = 0;
  bool made = inTransaction(db, [&] {
    if (!keyExists(db, parentId)) return false;
    int found = findChild(db, parentId, name, id);
    if (found != 0) return found == 1;
    Statement insert(db, "INSERT INTO keys(parent, name) VALUES (?, ?)");
    insert.bind(1, parentId).bindText(2, name);
    if (insert.step() != SQLITE_DONE) return false;
    id = sqlite3_last_insert_rowid(db);
    return true;
  });
  if (!made) return false;
  key.file_ = file;
  key.id_ = id;
  return true;
}

bool RegistryStore::setValue(const RegistryKey& key, const std::string& name, std::uint32_t type,
                             const std::string& data) {
  if (!key.isOpen() || name.size() > kMaxValueNameBytes) return false;
  sqlite3* db = connection(key.file_, true);
  return inTransaction(db, [&] {
    if (!keyExists(db, key.id_)) return false;
    // A value of the same name keeps its first spelling and takes the new
    // type and data.
    Statement upsert(db,
                     "INSERT INTO \"values\"(key, name, type, data) VALUES (?, ?, ?, ?) "
                     "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, "
                     "data = excluded.data");
    upsert.bind(1, key.id_).bindText(2, name).bind(3, type).bindBlob(4, data);
    return upsert.step() == SQLITE_DONE;
  });
}

bool RegistryStore::setDword(const RegistryKey& key, const std::string& name,
                             std::uint32_t number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return setValue(key, name, kRegDword, bytes);
}

bool RegistryStore::queryValue(const RegistryKey& key, const std::string& name,
                               std::uint32_t& type, std::string& data) {
  if (!key.isOpen() || name.size() > kMaxValueNameBytes) return false;
  sqlite3* db = connection(key.file_, false);
  if (db == nullptr) return false;
  Statement select(db, "SELECT type, data FROM \"values\" WHERE key = ? AND name = ?");
  select.bind(1, key.id_).bindText(2, name);
  if (select.step() != SQLITE_ROW) return false;
  type = static_cast<std::uint32_t>(select.columnInt(0));
  data = select.columnBytes(1);
  return true;
}

bool RegistryStore::deleteValue(const RegistryKey& key, const std::string& name) {
  if (!key.isOpen() || name.size() > kMaxValueNameBytes) return false;
  if (connection(key.file_, false) == nullptr) return false;  // nothing to delete
  sqlite3* db = connection(key.file_, true);
  return inTransaction(db, [&] {
    Statement remove(db, "DELETE FROM \"values\" WHERE key = ? AND name = ?");
    remove.bind(1, key.id_).bindText(2, name);
    return remove.step() == SQLITE_DONE && sqlite3_changes(db) > 0;
  });
}

bool RegistryStore::deleteKey(const RegistryKey& parent, const std::string& name) {
  if (!parent.isOpen() || name.empty() || !validKeyName(name)) return false;
  if (connection(parent.file_, false) == nullptr) return false;  // nothing to delete
  sqlite3* db = connection(parent.file_, true);
  return inTransaction(db, [&] {
    std::int64_t id = 0;
    if (findChild(db, parent.id_, name, id) != 1) return false;
    Statement child(db, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
    child.bind(1, id);
    int hasChild = child.step();
    if (hasChild != SQLITE_DONE) return false;  // a sub-key (or an error) keeps it
    Statement values(db, "DELETE FROM \"values\" WHERE key = ?");
    values.bind(1, id);
    Statement remove(db, "DELETE FROM keys WHERE id = ?");
    remove.bind(1, id);
    return values.step() == SQLITE_DONE && remove.step() == SQLITE_DONE;
  });
}

}  // namespace platform
