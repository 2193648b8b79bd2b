// The real varlume running browser-configuration scripts in a sandbox: the
// configured port, done copies, the tamper line, which names run, the line
// language read back from the files it writes, "*" targets, stop and mark,
// RENAME, registry lines read back from the store, and the shipped scripts.
#include <gtest/gtest.h>
#include <openssl/rsa.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <ostream>

#include "platform/registry.h"
#include "support/build_signature.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/startup_log_text.h"

namespace {

using namespace std::string_literals;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryStore;
using sandbox::VLChildProgram;
using testsupport::signWithBuildKey;

const std::string kProgram = VARLUME_PROGRAM_DIR "/varlume";
constexpr int kStartLimitMs = 20000;
// The listening port of the configuration; every start listens elsewhere (-p).
constexpr int kConfiguredPort = 7311;

struct Start {
  bool ended = false;  // ended by itself (else it served and was stopped)
  int status = -1;
  int port = 0;        // the -p port
  std::string log;
};

class BrowserScripts : public ::testing::Test {
 protected:
  BrowserScripts() : work(box.makeFolder("work")) {}

  const sandbox::VLSandboxUser& user(int index = 0) { return box.user(index); }
  std::string userFolder(int index = 0) { return user(index).localAppData + "/Varlume/"; }
  std::string allUsers() { return box.commonAppData() + "/Varlume/"; }
  std::string documents(int index = 0) { return user(index).documents + "/"; }

  // A script with its .sig in the all-users folder.
  void install(const std::string& name, const std::string& text) {
    ASSERT_TRUE(sandbox::writeFile(allUsers() + name, text));
    const std::string signature = signWithBuildKey(text);
    ASSERT_FALSE(signature.empty());
    ASSERT_TRUE(sandbox::writeFile(allUsers() + name + ".sig", signature));
  }

  // Writes the configuration of user `index` unless it has one: configured
  // port kConfiguredPort + index, notification ports that are free now.
  void configure(int index) {
    const std::string configuration = userFolder(index) + "varlume.config";
    if (sandbox::isFile(configuration)) return;
    const int internal = sandbox::freeLoopbackPorts(1).at(0);
    sandbox::writeFile(configuration,
                       "varlume=" + std::to_string(kConfiguredPort + index) +
                           "&proxyport=0&proxyhost=&varlumeservices=45000&varlumeinternal=" +
                           std::to_string(internal) + "&range=500\r\n");
  }

  std::string logPath(int index) { return user(index).documents + "/VarlumeStartupLog.txt"; }

  // Starts varlume for user `index` listening on `port` (-p).
  bool start(VLChildProgram& child, int index, int port, const std::string& workingFolder) {
    configure(index);
    return child.start(kProgram, {"-p", std::to_string(port)},
                       workingFolder.empty() ? work : workingFolder, box.environment(index),
                       box.root() + "/output" + std::to_string(port) + ".txt");
  }

  // Starts varlume for user `index` on a free port and waits until it ended
  // or serves; a program that serves is stopped.
  Start run(int index = 0, const std::string& workingFolder = "") {
    Start result;
    result.port = sandbox::freeLoopbackPorts(1).at(0);
    const std::string log = logPath(index);
    std::filesystem::remove(log);
    VLChildProgram child;
    if (!start(child, index, result.port, workingFolder)) {
      ADD_FAILURE() << "cannot start " << kProgram;
      return result;
    }
    sandbox::waitUntil([&] {
      if (!child.running()) return true;
      auto text = sandbox::readFile(log);
      return text && text->find("\n  Temp Path:") != std::string::npos && text->back() == '\n';
    }, kStartLimitMs);
    result.ended = child.waitForExit(0, &result.status);
    if (!result.ended) child.stop();
    // The bare sandbox lacks the portal page, rule files and services.
    result.log = startuplog::withoutWarnings(sandbox::readFile(log).value_or("<no log>"));
    return result;
  }

  // A start that served: the usual eleven log lines, with the -p port.
  void expectServed(const Start& start) {
    EXPECT_FALSE(start.ended) << start.log;
    EXPECT_EQ(std::count(start.log.begin(), start.log.end(), '\n'), 11) << start.log;
    EXPECT_NE(start.log.find("  Listening Port:     " + std::to_string(start.port) + "\n"),
              std::string::npos)
        << start.log;
  }

  bool isDone(const std::string& name, int index = 0) {
    return sandbox::isFile(userFolder(index) + name);
  }

  // The store as the user's start leaves it.
  std::unique_ptr<RegistryStore> store(int index = 0) {
    return std::make_unique<RegistryStore>(userFolder(index) + "registry.db",
                                           allUsers() + "registry.db");
  }
  // Type and data of HKEY_CURRENT_USER\<keyPath>\<name>, or "missing".
  std::string value(const std::string& keyPath, const std::string& name, int index = 0) {
    auto registry = store(index);
    RegistryKey key;
    if (!registry->openKey(registry->root(RegistryRoot::CurrentUser), keyPath, key)) {
      return "no key";
    }
    std::uint32_t type = 0;
    std::string data;
    if (!registry->queryValue(key, name, type, data)) return "missing";
    return std::to_string(type) + ":" + data;
  }
  bool keyExists(const std::string& keyPath, int index = 0) {
    auto registry = store(index);
    RegistryKey key;
    return registry->openKey(registry->root(RegistryRoot::CurrentUser), keyPath, key);
  }

  sandbox::VLSandbox box;
  std::string work;
};

// A line that writes `text` into the documents folder's file `name`.
std::string writeLine(const std::string& name, const std::string& text) {
  return "FILE(CSIDL_PERSONAL\\" + name + ")WRITE(" + text + ")\r\n";
}

TEST_F(BrowserScripts, AScriptRunsOnceWithTheConfiguredPort) {
  const std::string script = writeLine("port.txt", "port=REPLACE_VARLUME_PROXY_PORT\\r\\n");
  install("Port.browser", script);

  Start first = run();
  expectServed(first);
  EXPECT_EQ(sandbox::readFile(documents() + "port.txt"),
            "port=" + std::to_string(kConfiguredPort) + "\r\n");
  EXPECT_EQ(sandbox::readFile(userFolder() + "Port.browser"), script);

  std::filesystem::remove(documents() + "port.txt");
  expectServed(run());
  EXPECT_FALSE(sandbox::isFile(documents() + "port.txt"));
}

enum class Tamper { OtherBytes, ChangedByte, NoSignature, EmptySignature, OtherKey, Folder, Fifo };

class TamperedScript : public BrowserScripts, public ::testing::WithParamInterface<Tamper> {};

TEST_P(TamperedScript, EndsTheStartWithTheTamperLine) {
  install("a.browser", writeLine("a.txt", "earlier"));
  const std::string script = writeLine("t.txt", "tampered");
  const std::string path = allUsers() + "t.browser";
  switch (GetParam()) {
    case Tamper::OtherBytes:
      sandbox::writeFile(path, script);
      sandbox::writeFile(path + ".sig", signWithBuildKey(script + " "));
      break;
    case Tamper::ChangedByte:  // still a line that would run
      sandbox::writeFile(path, "f" + script.substr(1));
      sandbox::writeFile(path + ".sig", signWithBuildKey(script));
      break;
    case Tamper::NoSignature:
      sandbox::writeFile(path, script);
      break;
    case Tamper::EmptySignature:
      sandbox::writeFile(path, script);
      sandbox::writeFile(path + ".sig", "");
      break;
    case Tamper::OtherKey: {
      EVP_PKEY* otherKey = EVP_RSA_gen(1024);
      ASSERT_NE(otherKey, nullptr);
      const std::string signature = testsupport::signWithKey(script, otherKey);
      EVP_PKEY_free(otherKey);
      ASSERT_FALSE(signature.empty());
      sandbox::writeFile(path, script);
      sandbox::writeFile(path + ".sig", signature);
      break;
    }
    case Tamper::Folder:
      std::filesystem::create_directories(path);
      sandbox::writeFile(path + ".sig", signWithBuildKey(""));
      break;
    case Tamper::Fifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      sandbox::writeFile(path + ".sig", signWithBuildKey(""));
      break;
  }

  Start start = run();
  EXPECT_TRUE(start.ended);
  EXPECT_EQ(start.status, 1);
  EXPECT_EQ(start.log, "Varlume startup log.\n"
                       "The anti-tamper security signature for file [" +
                           sandbox::programsForm(allUsers()) +
                           "t.browser] indicates that the file has been tampered with. "
                           "Varlume aborting.\n");
  EXPECT_EQ(proxytest::connectLoopback(start.port), -1);
  EXPECT_FALSE(isDone("t.browser"));
  EXPECT_FALSE(sandbox::isFile(documents() + "t.txt"));
  // The script before it in name order ran and is done.
  EXPECT_EQ(sandbox::readFile(documents() + "a.txt"), "earlier");
  EXPECT_TRUE(isDone("a.browser"));
}

std::string tamperName(const ::testing::TestParamInfo<Tamper>& info) {
  static const char* const names[] = {"OtherBytes", "ChangedByte", "NoSignature", "EmptySignature",
                                      "OtherKey",   "Folder",      "Fifo"};
  return names[static_cast<int>(info.param)];
}

void PrintTo(Tamper tamper, std::ostream* os) {
  *os << tamperName(::testing::TestParamInfo<Tamper>(tamper, 0));
}

INSTANTIATE_TEST_SUITE_P(Cases, TamperedScript,
                         ::testing::Values(Tamper::OtherBytes, Tamper::ChangedByte,
                                           Tamper::NoSignature, Tamper::EmptySignature,
                                           Tamper::OtherKey, Tamper::Folder, Tamper::Fifo),
                         tamperName);

TEST_F(BrowserScripts, WhichNamesRun) {
  install("y.browser.sig", writeLine("y.txt", "ran"));
  // A done copy blocks the all-users script, even a changed, unsigned one.
  sandbox::writeFile(userFolder() + "d.browser", "the copy that ran before");
  sandbox::writeFile(allUsers() + "d.browser", writeLine("d.txt", "ran"));
  // A name holding "\" would reach outside both folders.
  install("..\\outside.browser", writeLine("outside.txt", "ran"));
  // Done copies match exactly, with case.
  install("Case.browser", writeLine("case.txt", "ran"));
  sandbox::writeFile(userFolder() + "case.browser", "another name");

  expectServed(run());
  EXPECT_FALSE(sandbox::isFile(documents() + "y.txt"));
  EXPECT_FALSE(isDone("y.browser.sig"));
  EXPECT_FALSE(sandbox::isFile(documents() + "d.txt"));
  EXPECT_EQ(sandbox::readFile(userFolder() + "d.browser"), "the copy that ran before");
  EXPECT_FALSE(sandbox::isFile(documents() + "outside.txt"));
  EXPECT_FALSE(sandbox::isFile(user().localAppData + "/outside.browser"));
  EXPECT_EQ(sandbox::readFile(documents() + "case.txt"), "ran");
}

TEST_F(BrowserScripts, ANameHoldingDotBrowserAnywhereRuns) {
  install("x.browser.txt", writeLine("x.txt", "ran"));
  Start start = run();
  EXPECT_EQ(sandbox::readFile(documents() + "x.txt"), "ran");
  EXPECT_TRUE(isDone("x.browser.txt"));
  // Its ".sig" is such a name too, and nothing signs it: the start ends there.
  EXPECT_TRUE(start.ended);
  EXPECT_EQ(start.status, 1);
  EXPECT_NE(start.log.find("[" + sandbox::programsForm(allUsers()) +
                           "x.browser.txt.sig] indicates that the file has been tampered with."),
            std::string::npos)
      << start.log;
  EXPECT_FALSE(isDone("x.browser.txt.sig"));
}

TEST_F(BrowserScripts, TheTextRunsUpToItsFirstZeroByteAndItsFirst64KiB) {
  const std::string beforeZero = writeLine("z1.txt", "before");
  install("zero.browser", beforeZero + "\0"s + writeLine("z2.txt", "after"));
  // A comment fills the first 65,536 bytes; the line after it is never read.
  const std::string first = writeLine("early.txt", "early");
  const std::string padding = "#" + std::string(65536 - first.size() - 3, 'p') + "\r\n";
  const std::string big = first + padding + writeLine("late.txt", "late");
  install("big.browser", big);

  expectServed(run());
  EXPECT_EQ(sandbox::readFile(documents() + "z1.txt"), "before");
  EXPECT_FALSE(sandbox::isFile(documents() + "z2.txt"));
  EXPECT_EQ(sandbox::readFile(userFolder() + "zero.browser"), beforeZero);
  EXPECT_EQ(sandbox::readFile(documents() + "early.txt"), "early");
  EXPECT_FALSE(sandbox::isFile(documents() + "late.txt"));
  EXPECT_TRUE(sandbox::readFile(userFolder() + "big.browser") == first + padding);
}

TEST_F(BrowserScripts, TheLineLanguageReadBackFromTheFiles) {
  const std::string docs = user().documents;
  const struct {
    const char* label;
    std::string script;
    std::optional<std::string> written;  // out<row>.txt; empty: absent
  } rows[] = {
      {"escapes", "FILE(CSIDL_PERSONAL\\out0.txt)WRITE(a\\nb\\r\\nc\\t)\r\n", "a\nb\r\nc\\t"},
      {"one character", "FILE(CSIDL_PERSONAL\\out1.txt)WRITE(x)\r\n", ""},
      {"trims", " \t FILE( CSIDL_PERSONAL\\out2.txt \t) WRITE \t( \t a b \t) \t\r\n", "a b"},
      {"any case", "file(CSIDL_PERSONAL\\out3.txt)wRiTe(ab)\r\nFiLe(CSIDL_PERSONAL\\out3.txt)aPpEnD(cd)\r\n",
       "abcd"},
      {"comment", "#FILE(CSIDL_PERSONAL\\out4.txt)WRITE(comment)\r\n", std::nullopt},
      {"parentheses", "FILE(CSIDL_PERSONAL\\out5.txt)WRITE(f(a) (b))tail\r\n", "f(a) (b)"},
      {"LF only", "FILE(CSIDL_PERSONAL\\out6.txt)WRITE(one)\nFILE(CSIDL_PERSONAL\\other.txt)WRITE(two)\n",
       "one)\nFILE(" + docs + "\\other.txt)WRITE(two"},
      {"folders", "FILE(CSIDL_PERSONAL\\out7.txt)WRITE(CSIDL_COMMON_APPDATA|CSIDL_LOCAL_APPDATA|"
                  "CSIDL_APPDATA|CSIDL_PERSONAL)\r\n",
       box.commonAppData() + "|" + user().localAppData + "|" + user().appData + "|" + docs},
      {"ignored lines", "hello\r\nREGISTRY(\r\nFILE(CSIDL_PERSONAL\\out8.txt)WRITE(kept)\r\n", "kept"},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    install("row" + std::to_string(i) + ".browser", rows[i].script);
  }
  expectServed(run());
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].label);
    EXPECT_EQ(sandbox::readFile(documents() + "out" + std::to_string(i) + ".txt"), rows[i].written);
    EXPECT_TRUE(isDone("row" + std::to_string(i) + ".browser"));
  }
  EXPECT_FALSE(sandbox::isFile(documents() + "other.txt"));
}

TEST_F(BrowserScripts, StarTargetsReachEverySubFolder) {
  const std::string profiles = user().appData + "/prof/";
  std::filesystem::create_directories(profiles + "p1");
  const std::string linked = box.makeFolder("elsewhere");
  std::filesystem::create_directory_symlink(linked, profiles + "p2");
  sandbox::writeFile(profiles + "f", "a file");
  std::filesystem::create_directories(profiles + "x\\y");
  install("star.browser",
          "FILE(CSIDL_APPDATA\\prof\\*\\user.js)APPEND(\\nline\\n)\r\n"
          "FILE(CSIDL_APPDATA\\missing\\*\\user.js)APPEND(never)\r\n"
          "FILE(CSIDL_APPDATA\\prof\\*\\*.js)WRITE(star)\r\n");

  expectServed(run());
  EXPECT_EQ(sandbox::readFile(profiles + "p1/user.js"), "\nline\n");
  EXPECT_EQ(sandbox::readFile(linked + "/user.js"), "\nline\n");
  EXPECT_EQ(sandbox::readFile(linked + "/*.js"), "star");  // a second "*" is plain text
  EXPECT_FALSE(sandbox::isFile(profiles + "f/user.js"));
  EXPECT_EQ(sandbox::folderNames(profiles + "x\\y"), std::vector<std::string>{});
  EXPECT_FALSE(sandbox::isFolder(user().appData + "/missing"));
  EXPECT_TRUE(isDone("star.browser"));

  expectServed(run());
  EXPECT_EQ(sandbox::readFile(profiles + "p1/user.js"), "\nline\n");
  EXPECT_EQ(sandbox::readFile(linked + "/user.js"), "\nline\n");
}

TEST_F(BrowserScripts, LinesThatStopTheScriptAndLinesThatMarkIt) {
  install("a_delete.browser",
          "FILE(CSIDL_PERSONAL\\missing)DELETE()\r\n" + writeLine("a.txt", "later"));
  install("b_mark.browser",
          writeLine("no folder\\x.txt", "never") + writeLine("b.txt", "after the mark"));
  install("c_createkey.browser",
          writeLine("no folder\\x.txt", "never") +
              "REGISTRY(HKEY_CURRENT_USER\\Made\\Here)CREATEKEY(REG_SZ())\r\n" +
              writeLine("c.txt", "never"));
  install("d1_keys.browser", "REGISTRY(HKEY_CURRENT_USER\\D\\E)CREATEKEY(REG_SZ())\r\n");
  install("d2_deletekey.browser",
          writeLine("no folder\\x.txt", "never") + "REGISTRY(HKEY_CURRENT_USER\\D\\E)DELETEKEY()\r\n" +
              writeLine("d.txt", "never"));

  expectServed(run());
  EXPECT_FALSE(sandbox::isFile(documents() + "a.txt"));
  EXPECT_FALSE(isDone("a_delete.browser"));
  EXPECT_EQ(sandbox::readFile(documents() + "b.txt"), "after the mark");
  EXPECT_FALSE(isDone("b_mark.browser"));
  EXPECT_TRUE(keyExists("Made\\Here"));
  EXPECT_FALSE(sandbox::isFile(documents() + "c.txt"));
  EXPECT_FALSE(isDone("c_createkey.browser"));
  EXPECT_TRUE(isDone("d1_keys.browser"));
  EXPECT_TRUE(keyExists("D\\E"));
  EXPECT_FALSE(sandbox::isFile(documents() + "d.txt"));
  EXPECT_FALSE(isDone("d2_deletekey.browser"));
  EXPECT_FALSE(sandbox::isFile(documents() + "no folder"));

  // A script that stopped runs again: now its file is there to delete.
  sandbox::writeFile(documents() + "missing", "x");
  expectServed(run());
  EXPECT_FALSE(sandbox::isFile(documents() + "missing"));
  EXPECT_EQ(sandbox::readFile(documents() + "a.txt"), "later");
  EXPECT_TRUE(isDone("a_delete.browser"));
}

TEST_F(BrowserScripts, RenameNeverReplaces) {
  sandbox::writeFile(documents() + "a", "A");
  sandbox::writeFile(documents() + "b", "B");
  sandbox::writeFile(documents() + "c", "C");
  install("1_taken.browser",
          "FILE(CSIDL_PERSONAL\\a)RENAME(" + documents() + "b)\r\n" + writeLine("1.txt", "never"));
  install("2_free.browser",
          "FILE(CSIDL_PERSONAL\\c)RENAME(" + documents() + "d)\r\n" + writeLine("2.txt", "after"));
  install("3_missing.browser",
          "FILE(CSIDL_PERSONAL\\none)RENAME(" + documents() + "e)\r\n" + writeLine("3.txt", "never"));

  expectServed(run());
  EXPECT_EQ(sandbox::readFile(documents() + "a"), "A");
  EXPECT_EQ(sandbox::readFile(documents() + "b"), "B");
  EXPECT_FALSE(sandbox::isFile(documents() + "1.txt"));
  EXPECT_FALSE(isDone("1_taken.browser"));
  EXPECT_FALSE(sandbox::isFile(documents() + "c"));
  EXPECT_EQ(sandbox::readFile(documents() + "d"), "C");
  EXPECT_EQ(sandbox::readFile(documents() + "2.txt"), "after");
  EXPECT_TRUE(isDone("2_free.browser"));
  EXPECT_FALSE(sandbox::isFile(documents() + "3.txt"));
  EXPECT_FALSE(isDone("3_missing.browser"));
}

TEST_F(BrowserScripts, RegistryLinesReadBackFromTheStore) {
  install("values.browser",
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed)CREATEKEY(REG_SZ())\r\n"
          "REGISTRY(hkey_current_user\\SOFTWARE\\mixed\\Text)setvalue(REG_SZ( a (b) REPLACE_VARLUME_PROXY_PORT ))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\Path)SETVALUE(reg_expand_sz(%HOME%))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\DEFAULT)SETVALUE(REG_SZ(d))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\h10)SETVALUE(REG_DWORD(0x10))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\d16)SETVALUE(REG_DWORD(16))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\h)SETVALUE(REG_DWORD(0x))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\h1a)SETVALUE(REG_DWORD(0X1a))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\minus)SETVALUE(REG_DWORD(-1))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\h1g)SETVALUE(REG_DWORD(0x1G))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\binary)SETVALUE(REG_BINARY(00))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\gone)SETVALUE(REG_SZ(x))\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\gone)DELETEVALUE()\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\never there)DELETEVALUE()\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\it's \"quoted\"\\v)CREATEKEY(REG_SZ())\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\it's \"quoted\"\\v\\n)SETVALUE(REG_SZ(q'))\r\n"
          "REGISTRY(HKEY_LOCAL_MACHINE\\Machine)CREATEKEY(REG_SZ())\r\n");
  const struct {
    const char* label;
    const char* script;
  } stops[] = {
      {"single part", "REGISTRY(HKEY_CURRENT_USER\\Name)SETVALUE(REG_SZ(x))\r\n"},
      {"missing key", "REGISTRY(HKEY_CURRENT_USER\\Missing\\Name)SETVALUE(REG_SZ(x))\r\n"},
      {"empty createkey", "REGISTRY(HKEY_CURRENT_USER\\Software\\E)CREATEKEY()\r\n"},
      {"unknown root", "REGISTRY(HKEY_FOO\\Software\\E)CREATEKEY(REG_SZ())\r\n"},
      {"trailing backslash", "REGISTRY(HKEY_CURRENT_USER\\Software\\)SETVALUE(REG_SZ(x))\r\n"},
      {"no type", "REGISTRY(HKEY_CURRENT_USER\\Software\\Mixed\\t)SETVALUE(text)\r\n"},
      {"unknown action", "REGISTRY(HKEY_CURRENT_USER\\Software)RENAME(REG_SZ(x))\r\n"},
  };
  for (std::size_t i = 0; i < std::size(stops); ++i) {
    install("stop" + std::to_string(i) + ".browser",
            std::string(stops[i].script) + writeLine("stop" + std::to_string(i) + ".txt", "never"));
  }
  install("tree.browser",
          "REGISTRY(HKEY_CURRENT_USER\\T\\Leaf)CREATEKEY(REG_SZ())\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\T\\Branch\\Twig)CREATEKEY(REG_SZ())\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Single)CREATEKEY(REG_SZ())\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\T\\Leaf)DELETEKEY()\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\T\\Branch)DELETEKEY()\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\Single)DELETEKEY()\r\n"
          "REGISTRY(HKEY_CURRENT_USER\\T\\Absent)DELETEKEY()\r\n");

  expectServed(run());
  const std::string key = "Software\\Mixed";
  EXPECT_TRUE(isDone("values.browser"));
  EXPECT_EQ(value(key, "text"), "1:a (b) " + std::to_string(kConfiguredPort) + "\0"s);
  EXPECT_EQ(value(key, "Path"), "2:%HOME%\0"s);
  EXPECT_EQ(value(key, ""), "1:d\0"s);
  EXPECT_EQ(value(key, "h10"), "4:\x10\0\0\0"s);
  EXPECT_EQ(value(key, "d16"), "4:\x10\0\0\0"s);
  EXPECT_EQ(value(key, "h"), "4:\0\0\0\0"s);
  EXPECT_EQ(value(key, "h1a"), "4:\x1a\0\0\0"s);
  EXPECT_EQ(value(key, "minus"), "4:\xff\xff\xff\xff"s);
  EXPECT_EQ(value(key, "h1g"), "4:\x01\0\0\0"s);
  EXPECT_EQ(value(key, "binary"), "missing");
  EXPECT_EQ(value(key, "gone"), "missing");
  EXPECT_EQ(value("it's \"quoted\"\\v", "n"), "1:q'\0"s);
  auto registry = store();
  RegistryKey machine;
  EXPECT_TRUE(registry->openKey(registry->root(RegistryRoot::LocalMachine), "machine", machine));
  EXPECT_TRUE(sandbox::isFile(allUsers() + "registry.db"));

  // The key keeps the spelling it was made with.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((userFolder() + "registry.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT name FROM keys WHERE name = 'MIXED'", -1, &statement,
                               nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))), "Mixed");
  sqlite3_finalize(statement);
  sqlite3_close(db);

  for (std::size_t i = 0; i < std::size(stops); ++i) {
    SCOPED_TRACE(stops[i].label);
    EXPECT_FALSE(sandbox::isFile(documents() + "stop" + std::to_string(i) + ".txt"));
    EXPECT_FALSE(isDone("stop" + std::to_string(i) + ".browser"));
  }
  EXPECT_FALSE(keyExists("Software\\E"));

  EXPECT_TRUE(isDone("tree.browser"));
  EXPECT_FALSE(keyExists("T\\Leaf"));
  EXPECT_TRUE(keyExists("T\\Branch\\Twig"));
  EXPECT_TRUE(keyExists("Single"));
}

// The preferences Firefox.browser appends to each profile's user.js.
std::string firefoxPreferences(int port) {
  return "\nuser_pref(\"network.proxy.type\", 1);\n"
         "user_pref(\"network.proxy.http\", \"127.0.0.1\");\n"
         "user_pref(\"network.proxy.http_port\", " + std::to_string(port) + ");\n"
         "user_pref(\"network.proxy.share_proxy_settings\", false);\n"
         "user_pref(\"network.proxy.no_proxies_on\", \"\");\n";
}

const std::string kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

class ShippedScripts : public BrowserScripts {
 protected:
  std::string profile(const std::string& root, const std::string& name, int index = 0) {
    const std::string path = user(index).appData + "/" + root + "/" + name + "/";
    std::filesystem::create_directories(path);
    return path;
  }

  // Everything the shipped scripts change for user `index`.
  std::string effects(const std::vector<std::string>& userFiles, int index = 0) {
    std::string all;
    for (const std::string& file : userFiles) all += sandbox::readFile(file).value_or("-") + "|";
    for (const char* name : {"ProxyEnable", "ProxyServer", "ProxyOverride"}) {
      all += value(kInternetSettings, name, index) + "|";
    }
    return all + sandbox::readFile(userFolder(index) + "proxy.pac").value_or("-");
  }
};

TEST_F(ShippedScripts, AFirstStartPointsTheBrowsersAtTheConfiguredPort) {
  const std::string first = profile(".mozilla/firefox", "a1.default");
  const std::string second = profile(".mozilla/firefox", "b2.work");
  const std::string snap = profile("snap/firefox/common/.mozilla/firefox", "c3.snap");
  // Where Debian's Firefox ESR keeps its profiles today.
  const std::string xdg = profile(".config/mozilla/firefox", "d4.default-esr");
  // A user.js whose last line has no line end stays valid.
  sandbox::writeFile(second + "user.js", "user_pref(\"browser.startup.page\", 3);");

  expectServed(run(0, VARLUME_PROGRAM_DIR));
  const std::string preferences = firefoxPreferences(kConfiguredPort);
  EXPECT_EQ(sandbox::readFile(first + "user.js"), preferences);
  EXPECT_EQ(sandbox::readFile(second + "user.js"),
            "user_pref(\"browser.startup.page\", 3);" + preferences);
  EXPECT_EQ(sandbox::readFile(snap + "user.js"), preferences);
  EXPECT_EQ(sandbox::readFile(xdg + "user.js"), preferences);
  EXPECT_FALSE(sandbox::isFolder(user().appData + "/.var"));

  EXPECT_EQ(value(kInternetSettings, "ProxyEnable"), "4:\x01\0\0\0"s);
  EXPECT_EQ(value(kInternetSettings, "ProxyServer"),
            "1:http=127.0.0.1:" + std::to_string(kConfiguredPort) + "\0"s);
  EXPECT_EQ(value(kInternetSettings, "ProxyOverride"), "1:<local>\0"s);

  const std::string pac = sandbox::readFile(userFolder() + "proxy.pac").value_or("");
  EXPECT_EQ(pac.rfind("function FindProxyForURL(url, host) {\n", 0), 0u) << pac;
  EXPECT_NE(pac.find("\n    return \"PROXY 127.0.0.1:" + std::to_string(kConfiguredPort) + "\";\n"),
            std::string::npos)
      << pac;
  EXPECT_NE(pac.find("return \"DIRECT\";"), std::string::npos) << pac;
  EXPECT_EQ(pac.find('\\'), std::string::npos) << pac;

  for (const char* name : {"IE.browser", "Firefox.browser"}) {
    EXPECT_EQ(sandbox::readFile(userFolder() + name),
              sandbox::readFile(std::string(VARLUME_SOURCE_DIR "/data/") + name))
        << name;
  }

  const std::vector<std::string> files = {first + "user.js", second + "user.js", snap + "user.js",
                                          xdg + "user.js"};
  const std::string before = effects(files);
  expectServed(run(0, VARLUME_PROGRAM_DIR));
  EXPECT_EQ(effects(files), before);
}

TEST_F(ShippedScripts, UsersSharingTheAllUsersFolderEachRunThemOnce) {
  const std::string first = profile(".mozilla/firefox", "p.default", 0);
  const std::string second = profile(".var/app/org.mozilla.firefox/.mozilla/firefox", "q.default", 1);
  expectServed(run(0, VARLUME_PROGRAM_DIR));
  expectServed(run(1, VARLUME_PROGRAM_DIR));
  expectServed(run(0, VARLUME_PROGRAM_DIR));
  expectServed(run(1, VARLUME_PROGRAM_DIR));
  EXPECT_EQ(sandbox::readFile(first + "user.js"), firefoxPreferences(kConfiguredPort));
  EXPECT_EQ(sandbox::readFile(second + "user.js"), firefoxPreferences(kConfiguredPort + 1));
  EXPECT_EQ(value(kInternetSettings, "ProxyServer", 1),
            "1:http=127.0.0.1:" + std::to_string(kConfiguredPort + 1) + "\0"s);
  for (int index : {0, 1}) {
    EXPECT_TRUE(isDone("IE.browser", index));
    EXPECT_TRUE(isDone("Firefox.browser", index));
  }
}

TEST_F(ShippedScripts, TwoStartsOfOneUserAtOnceAppendOnce) {
  const std::string path = profile(".mozilla/firefox", "p.default");
  const std::vector<int> ports = sandbox::freeLoopbackPorts(2);
  configure(0);
  VLChildProgram one;
  VLChildProgram two;
  ASSERT_TRUE(start(one, 0, ports[0], VARLUME_PROGRAM_DIR));
  ASSERT_TRUE(start(two, 0, ports[1], VARLUME_PROGRAM_DIR));
  auto serves = [](int port) {
    int socket = proxytest::connectLoopback(port);
    if (socket < 0) return false;
    proxytest::closeConnection(socket);
    return true;
  };
  // One of them serves; the other finds the user's instance running and ends.
  EXPECT_TRUE(sandbox::waitUntil([&] { return serves(ports[0]) || serves(ports[1]); },
                                 kStartLimitMs));
  int status = -1;
  VLChildProgram& second = serves(ports[0]) ? two : one;
  EXPECT_TRUE(second.waitForExit(kStartLimitMs, &status));
  EXPECT_EQ(status, 1);
  one.stop();
  two.stop();
  EXPECT_EQ(sandbox::readFile(path + "user.js"), firefoxPreferences(kConfiguredPort));
  EXPECT_TRUE(isDone("Firefox.browser"));
}

}  // namespace
