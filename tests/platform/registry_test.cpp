// The registry store: names without case, nesting, set, replace and read,
// the delete rules, the two files of the five roots, two stores on the same
// files, and names that hold quotes or other bytes.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "temp_folder.h"

namespace {

using namespace std::string_literals;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryStore;

class Registry : public ::testing::Test {
 protected:
  std::string userPath() const { return temp.programPath("user.db"); }
  std::string machinePath() const { return temp.programPath("machine.db"); }

  // Type and data of a value, or "missing".
  static std::string read(RegistryStore& store, const RegistryKey& key, const std::string& name) {
    std::uint32_t type = 0;
    std::string data;
    if (!store.queryValue(key, name, type, data)) return "missing";
    return std::to_string(type) + ":" + data;
  }

  TempFolder temp;
};

TEST_F(Registry, KeysNestAndCompareWithoutCaseKeepingTheirFirstSpelling) {
  RegistryStore store(userPath(), machinePath());
  RegistryKey software;
  RegistryKey vendor;
  ASSERT_TRUE(store.createKey(store.root(RegistryRoot::CurrentUser), "Software", software));
  ASSERT_TRUE(store.createKey(software, "Vendor", vendor));
  ASSERT_TRUE(store.setValue(vendor, "Name", platform::kRegSz, std::string("v\0", 2)));

  RegistryKey again;
  ASSERT_TRUE(store.createKey(store.root(RegistryRoot::CurrentUser), "SOFTWARE", again));
  RegistryKey opened;
  ASSERT_TRUE(store.openKey(store.root(RegistryRoot::CurrentUser), "software\\\\VENDOR\\", opened));
  EXPECT_EQ(read(store, opened, "NAME"), std::string("1:v\0", 4));
  ASSERT_TRUE(store.openKey(again, "vendor", opened));
  EXPECT_EQ(read(store, opened, "name"), std::string("1:v\0", 4));

  // An empty path is the key itself; a missing part fails.
  ASSERT_TRUE(store.openKey(vendor, "", opened));
  EXPECT_EQ(read(store, opened, "Name"), std::string("1:v\0", 4));
  EXPECT_FALSE(store.openKey(store.root(RegistryRoot::CurrentUser), "Software\\Other", opened));
  EXPECT_FALSE(opened.isOpen());
  EXPECT_FALSE(store.openKey(store.root(RegistryRoot::LocalMachine), "Software", opened));

  // The spelling first written stays, as a reader of the file sees it.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(temp.path("user.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM keys WHERE parent <> 0 ORDER BY id", -1, &statement,
                     nullptr);
  std::string names;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    names += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    names += ";";
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  EXPECT_EQ(names, "Software;Vendor;");
}

TEST_F(Registry, ValuesAreSetReplacedWhateverTheirTypeAndRead) {
  RegistryStore store(userPath(), machinePath());
  RegistryKey key;
  ASSERT_TRUE(store.createKey(store.root(RegistryRoot::CurrentUser), "K", key));
  EXPECT_EQ(read(store, key, "v"), "missing");

  ASSERT_TRUE(store.setValue(key, "Value", platform::kRegSz, std::string("text\0", 5)));
  EXPECT_EQ(read(store, key, "value"), std::string("1:text\0", 7));
  ASSERT_TRUE(store.setDword(key, "VALUE", 0x01020304));
  EXPECT_EQ(read(store, key, "Value"), "4:\x04\x03\x02\x01");
  ASSERT_TRUE(store.setDword(key, "Value", 0xFFFFFFFF));
  EXPECT_EQ(read(store, key, "Value"), "4:\xff\xff\xff\xff");
  ASSERT_TRUE(store.setValue(key, "Value", platform::kRegExpandSz, ""));
  EXPECT_EQ(read(store, key, "Value"), "2:");

  // The empty name is the default value, a value of its own.
  ASSERT_TRUE(store.setValue(key, "", platform::kRegSz, std::string("d\0", 2)));
  EXPECT_EQ(read(store, key, ""), std::string("1:d\0", 4));
  EXPECT_EQ(read(store, key, "Value"), "2:");

  // A value name at the limit is kept; one byte more fails.
  const std::string longest(platform::kMaxValueNameBytes, 'n');
  EXPECT_TRUE(store.setDword(key, longest, 1));
  EXPECT_FALSE(store.setDword(key, longest + "n", 1));
  EXPECT_EQ(read(store, key, longest + "n"), "missing");
}

TEST_F(Registry, KeyNamesWithinTheLimitAndWithoutABackslash) {
  RegistryStore store(userPath(), machinePath());
  const RegistryKey root = store.root(RegistryRoot::CurrentUser);
  RegistryKey key;
  const std::string longest(platform::kMaxKeyNameBytes, 'k');
  EXPECT_TRUE(store.createKey(root, longest, key));
  EXPECT_TRUE(store.openKey(root, longest, key));
  EXPECT_FALSE(store.createKey(root, longest + "k", key));
  EXPECT_FALSE(store.openKey(root, longest + "k", key));
  EXPECT_FALSE(store.createKey(root, "a\\b", key));
  EXPECT_FALSE(store.openKey(root, "a", key));
  // An empty name is the key itself.
  ASSERT_TRUE(store.createKey(root, "", key));
  EXPECT_TRUE(store.openKey(key, longest, key));
}

TEST_F(Registry, DeleteRules) {
  RegistryStore store(userPath(), machinePath());
  const RegistryKey root = store.root(RegistryRoot::CurrentUser);
  RegistryKey a;
  RegistryKey b;
  RegistryKey c;
  ASSERT_TRUE(store.createKey(root, "A", a));
  ASSERT_TRUE(store.createKey(a, "B", b));
  ASSERT_TRUE(store.createKey(b, "C", c));
  ASSERT_TRUE(store.setDword(c, "x", 1));
  ASSERT_TRUE(store.setDword(a, "kept", 2));

  EXPECT_FALSE(store.deleteValue(c, "y"));  // missing
  EXPECT_TRUE(store.deleteValue(c, "X"));
  EXPECT_EQ(read(store, c, "x"), "missing");
  EXPECT_FALSE(store.deleteValue(c, "x"));
  ASSERT_TRUE(store.setDword(c, "x", 1));

  EXPECT_FALSE(store.deleteKey(a, "B"));     // has a sub-key
  EXPECT_FALSE(store.deleteKey(root, "A\\B"));  // not a direct sub-key
  EXPECT_FALSE(store.deleteKey(a, ""));      // an empty name deletes nothing
  EXPECT_FALSE(store.deleteKey(b, "missing"));
  EXPECT_TRUE(store.openKey(root, "A\\B\\C", c));

  EXPECT_TRUE(store.deleteKey(b, "c"));
  EXPECT_FALSE(store.openKey(root, "A\\B\\C", c));
  // Its values went with it: a key made again under that name starts empty.
  ASSERT_TRUE(store.createKey(b, "C", c));
  EXPECT_EQ(read(store, c, "x"), "missing");
  ASSERT_TRUE(store.deleteKey(b, "C"));
  EXPECT_TRUE(store.deleteKey(a, "B"));
  EXPECT_EQ(read(store, a, "kept"), "4:\x02\x00\x00\x00"s);

  // A handle of a deleted key reaches nothing.
  EXPECT_FALSE(store.setDword(b, "x", 1));
  EXPECT_FALSE(store.createKey(b, "D", c));
}

TEST_F(Registry, CurrentUserLivesInTheUserFileAndTheOtherRootsInTheMachineFile) {
  const RegistryRoot machineRoots[] = {RegistryRoot::LocalMachine, RegistryRoot::Users,
                                       RegistryRoot::CurrentConfig, RegistryRoot::ClassesRoot};
  {
    RegistryStore store(userPath(), machinePath());
    // Reading makes no file.
    RegistryKey key;
    EXPECT_FALSE(store.openKey(store.root(RegistryRoot::CurrentUser), "S", key));
    EXPECT_TRUE(store.openKey(store.root(RegistryRoot::CurrentUser), "", key));
    EXPECT_EQ(read(store, key, "v"), "missing");
    EXPECT_FALSE(store.deleteKey(key, "S"));
    EXPECT_FALSE(std::filesystem::exists(temp.path("user.db")));
    EXPECT_FALSE(std::filesystem::exists(temp.path("machine.db")));

    ASSERT_TRUE(store.createKey(store.root(RegistryRoot::CurrentUser), "S", key));
    EXPECT_TRUE(std::filesystem::exists(temp.path("user.db")));
    EXPECT_FALSE(std::filesystem::exists(temp.path("machine.db")));
    for (RegistryRoot root : machineRoots) {
      EXPECT_FALSE(store.openKey(store.root(root), "S", key));
      ASSERT_TRUE(store.createKey(store.root(root), "S", key));
      ASSERT_TRUE(store.setDword(key, "root", static_cast<std::uint32_t>(root)));
    }
  }
  // Each root is its own tree, and a new store on the files reads them all.
  RegistryStore store(userPath(), machinePath());
  RegistryKey key;
  ASSERT_TRUE(store.openKey(store.root(RegistryRoot::CurrentUser), "S", key));
  EXPECT_EQ(read(store, key, "root"), "missing");
  for (RegistryRoot root : machineRoots) {
    ASSERT_TRUE(store.openKey(store.root(root), "S", key));
    std::uint32_t type = 0;
    std::string data;
    ASSERT_TRUE(store.queryValue(key, "root", type, data));
    EXPECT_EQ(data[0], static_cast<char>(root));
  }
  // A user store elsewhere sees none of the user's keys, all of the machine's.
  RegistryStore other(temp.programPath("other.db"), machinePath());
  EXPECT_FALSE(other.openKey(other.root(RegistryRoot::CurrentUser), "S", key));
  EXPECT_TRUE(other.openKey(other.root(RegistryRoot::LocalMachine), "S", key));
}

TEST_F(Registry, APathThatIsNoStoreFileFailsEveryCall) {
  // A store path that is a folder is no store.
  std::filesystem::create_directory(temp.path("folder.db"));
  RegistryStore folder(temp.programPath("folder.db"), machinePath());
  RegistryKey made;
  EXPECT_FALSE(folder.createKey(folder.root(RegistryRoot::CurrentUser), "S", made));
  EXPECT_FALSE(folder.openKey(folder.root(RegistryRoot::CurrentUser), "S", made));
  // Nor is one that cannot be made.
  RegistryStore nowhere(temp.programPath("missing/user.db"), machinePath());
  EXPECT_FALSE(nowhere.createKey(nowhere.root(RegistryRoot::CurrentUser), "S", made));
  EXPECT_FALSE(std::filesystem::exists(temp.path("missing")));
}

TEST_F(Registry, AStoreThatCannotBeWrittenFailsEveryChange) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes any file";
  {
    RegistryStore store(userPath(), machinePath());
    RegistryKey key;
    ASSERT_TRUE(store.createKey(store.root(RegistryRoot::LocalMachine), "S", key));
    ASSERT_TRUE(store.setDword(key, "v", 7));
  }
  ::chmod(temp.path("machine.db").c_str(), 0444);
  RegistryStore store(userPath(), machinePath());
  RegistryKey key;
  ASSERT_TRUE(store.openKey(store.root(RegistryRoot::LocalMachine), "S", key));
  EXPECT_EQ(read(store, key, "v"), "4:\x07\x00\x00\x00"s);
  RegistryKey made;
  EXPECT_FALSE(store.createKey(key, "T", made));
  EXPECT_FALSE(store.setDword(key, "v", 8));
  EXPECT_FALSE(store.deleteValue(key, "v"));
  EXPECT_EQ(read(store, key, "v"), "4:\x07\x00\x00\x00"s);
  // The user's own store is unaffected.
  EXPECT_TRUE(store.createKey(store.root(RegistryRoot::CurrentUser), "S", made));
}

TEST_F(Registry, NamesWithQuotesAndOtherBytesAreStoredAsGiven) {
  RegistryStore store(userPath(), machinePath());
  const std::string names[] = {
      "it's", "\"values\"", "a'); DROP TABLE keys; --", "%s%n", "\x01\x7f\xff", "tab\there",
  };
  const RegistryKey root = store.root(RegistryRoot::CurrentUser);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    RegistryKey key;
    ASSERT_TRUE(store.createKey(root, name, key));
    ASSERT_TRUE(store.setValue(key, name, platform::kRegSz, name));
  }
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    RegistryKey key;
    ASSERT_TRUE(store.openKey(root, name, key));
    EXPECT_EQ(read(store, key, name), "1:" + name);
  }
}

TEST_F(Registry, TwoStoresOnTheSameFilesTakeTurns) {
  RegistryStore first(userPath(), machinePath());
  RegistryStore second(userPath(), machinePath());
  RegistryKey key;
  ASSERT_TRUE(first.createKey(first.root(RegistryRoot::CurrentUser), "Shared", key));
  RegistryKey seen;
  ASSERT_TRUE(second.openKey(second.root(RegistryRoot::CurrentUser), "shared", seen));
  ASSERT_TRUE(second.setDword(seen, "v", 2));
  EXPECT_EQ(read(first, key, "v"), "4:\x02\x00\x00\x00"s);

  // Threads with stores of their own write at once; every change lands.
  constexpr int kWriters = 4;
  constexpr int kValues = 50;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([this, w] {
      RegistryStore store(userPath(), machinePath());
      RegistryKey mine;
      if (!store.createKey(store.root(RegistryRoot::CurrentUser), "Shared", mine)) return;
      for (int i = 0; i < kValues; ++i) {
        store.setDword(mine, "w" + std::to_string(w) + "_" + std::to_string(i), i);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValues; ++i) {
      std::uint32_t type = 0;
      std::string data;
      EXPECT_TRUE(first.queryValue(key, "w" + std::to_string(w) + "_" + std::to_string(i), type,
                                   data));
    }
  }
}

}  // namespace
