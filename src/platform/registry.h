// The registry store: five roots, each a tree of keys with typed values, kept
// in SQLite files. HKEY_CURRENT_USER lives in the user's store file, the other
// four roots in the machine's. Names compare without case (ASCII letters) and
// keep their first spelling; every change is a transaction of its own.
#pragma once
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace platform {

enum class RegistryRoot { CurrentUser, LocalMachine, Users, CurrentConfig, ClassesRoot };

// Value types as the registry numbers them.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;

// Longest names accepted; a longer one fails the call.
inline constexpr std::size_t kMaxKeyNameBytes = 255;
inline constexpr std::size_t kMaxValueNameBytes = 16383;

class RegistryStore;

// An opened key of one store, move-only; closed by close() or destruction.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&& other) noexcept { *this = std::move(other); }
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  ~RegistryKey() { close(); }

  bool isOpen() const { return id_ > 0; }
  void close() { id_ = 0; }

 private:
  friend class RegistryStore;
  int file_ = 0;         // 0: the user's store, 1: the machine's
  std::int64_t id_ = 0;  // row of the key; 0: closed
};

// The two store files, given by the caller. A missing file reads as empty
// roots and is made on the first change; a file that cannot be written fails
// every change. Several stores (and processes) may use the same files: a busy
// file is waited for.
class RegistryStore {
 public:
  RegistryStore(std::string userStorePath, std::string machineStorePath);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // The root itself, always open.
  RegistryKey root(RegistryRoot which) const;
  // Opens an existing key below `parent` by a "\"-separated path (empty parts
  // skipped; an empty path is `parent` itself). False when a part is missing.
  bool openKey(const RegistryKey& parent, const std::string& path, RegistryKey& key);
  // Creates or opens the one key `name` below `parent` ("" is `parent` itself).
  bool createKey(const RegistryKey& parent, const std::string& name, RegistryKey& key);
  // Sets the value `name` ("" is the key's default value), replacing one of
  // the same name whatever its type; the data is kept as given.
  bool setValue(const RegistryKey& key, const std::string& name, std::uint32_t type,
                const std::string& data);
  bool setDword(const RegistryKey& key, const std::string& name, std::uint32_t number);
  // Reads a value's type and data; false when it is missing.
  bool queryValue(const RegistryKey& key, const std::string& name, std::uint32_t& type,
                  std::string& data);
  // False when the value is missing.
  bool deleteValue(const RegistryKey& key, const std::string& name);
  // Deletes the direct sub-key `name` with its values, only when it has no
  // sub-keys of its own. An empty name deletes nothing; roots stay.
  bool deleteKey(const RegistryKey& parent, const std::string& name);
  void closeKey(RegistryKey& key) { key.close(); }

 private:
  sqlite3* connection(int file, bool forChange);

  std::string paths_[2];
  sqlite3* connections_[2] = {nullptr, nullptr};
  bool writable_[2] = {false, false};
};

// The store file name in the user folder and the all-users folder.
inline constexpr char kRegistryStoreName[] = "registry.db";

}  // namespace platform
