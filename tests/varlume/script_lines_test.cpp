// The script language without side effects: the text that runs, lines and
// their kinds, the parts of a line by position, the order of replacements,
// registry targets and arguments, and the REG_DWORD number.
#include "varlume/script_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

TEST(ScriptLines, TheTextEndsAtTheLimitOrTheFirstZeroByte) {
  EXPECT_EQ(scriptText("ab\0cd"s), "ab");
  EXPECT_EQ(scriptText(""), "");
  const std::string big(kScriptTextLimit + 10, 'x');
  EXPECT_EQ(scriptText(big), std::string(kScriptTextLimit, 'x'));
  EXPECT_EQ(scriptText(std::string(kScriptTextLimit, 'x') + "\0"s), std::string(kScriptTextLimit, 'x'));
}

TEST(ScriptLines, CutAtCrLfTrimmedAndEmptiesDropped) {
  const struct {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\n\r\n \t \r\n  b \t\r\n", {"a", "b"}},
      {"one\nline\nonly\n", {"one\nline\nonly"}},       // LF alone cuts nothing
      {"a\rb\r\nc", {"a\rb", "c"}},                      // nor CR alone
      {"\r\r\n\n\r\nx\r\r\n", {"x"}},                    // lone CR and LF at the ends trim away
      {"a\r\n\r\nb\r\n", {"a", "b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(scriptLines(c.text), c.lines);
  }
}

TEST(ScriptLines, Kinds) {
  const struct {
    const char* line;
    VLLineKind kind;
  } cases[] = {
      {"# FILE(x)WRITE(y)", VLLineKind::Comment},
      {"#", VLLineKind::Comment},
      {"FILE(x)WRITE(y)", VLLineKind::File},
      {"file(x)write(y)", VLLineKind::File},
      {"FiLe(", VLLineKind::Ignored},  // five characters only
      {"FILE(x", VLLineKind::File},
      {"REGISTRY(x", VLLineKind::Registry},
      {"registry(", VLLineKind::Ignored},
      {"Registry(a)SETVALUE(REG_SZ(x))", VLLineKind::Registry},
      {"FILE (x)WRITE(y)", VLLineKind::Ignored},
      {"WRITE(y)", VLLineKind::Ignored},
      {"x # FILE(", VLLineKind::Ignored},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(lineKind(c.line), c.kind);
  }
}

TEST(ScriptLines, PartsByPosition) {
  const struct {
    const char* line;
    bool found;
    const char* target;
    const char* action;
    const char* argument;
  } cases[] = {
      {"FILE( t )write( a b )", true, "t", "WRITE", "a b"},
      {"FILE(t) Append \t(xy)", true, "t", "APPEND", "xy"},
      {"FILE(t)WRITE(x)", true, "t", "WRITE", ""},          // one character reads as empty
      {"FILE(t)WRITE(xy)", true, "t", "WRITE", "xy"},
      {"FILE(t)WRITE()", true, "t", "WRITE", ""},
      {"FILE(t)WRITE( x )", true, "t", "WRITE", "x"},
      {"FILE(t)WRITE(f(a)(b))tail", true, "t", "WRITE", "f(a)(b)"},  // to the last ")"
      {"FILE(t)WRITE(a) and (b) end)", true, "t", "WRITE", "a) and (b) end"},
      {"FILE()WRITE(ab)", true, "", "WRITE", "ab"},
      {"FILE(t)ABCD(ab)", true, "t", "ABCD", "ab"},          // four between: distance 5
      {"FILE(t)ABC(ab)", false, "", "", ""},                  // distance 4
      {"FILE(t)(WRITE(ab)", false, "", "", ""},               // the first "(" after ")" counts
      {"FILE(t WRITE ab", false, "", "", ""},                 // no ")"
      {"FILE(t)WRITE ab", false, "", "", ""},                 // no "(" after it
      {"FILE(t)WRITE(ab", false, "", "", ""},                 // the last ")" is the target's
      {"REGISTRY(HKEY_CURRENT_USER\\K)SETVALUE(REG_SZ(v))", true, "HKEY_CURRENT_USER\\K",
       "SETVALUE", "REG_SZ(v)"},
      {"REGISTRY(k)ab(REG_SZ(v))", true, "k", "AB", "REG_SZ(v)"},   // distance 3
      {"REGISTRY(k)a(REG_SZ(v))", false, "", "", ""},
      {"REGISTRY(k)SETVALUE(x)", true, "k", "SETVALUE", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    VLLineParts parts;
    ASSERT_EQ(lineParts(c.line, lineKind(c.line), parts), c.found);
    if (!c.found) continue;
    EXPECT_EQ(parts.target, c.target);
    EXPECT_EQ(parts.action, c.action);
    EXPECT_EQ(parts.argument, c.argument);
  }
}

TEST(ScriptLines, ReplacementsInTheirOrder) {
  const VLScriptFolders folders{"/common", "/local", "/roam", "/docs"};
  // A folder bringing "\n" with it keeps it; one written out becomes LF.
  const VLScriptFolders tricky{"/c\\n", "/l", "/r\\r", "/d"};
  const struct {
    const char* label;
    std::string result;
    std::string expected;
  } cases[] = {
      {"target folders", replaceInFileTarget("CSIDL_COMMON_APPDATA|CSIDL_LOCAL_APPDATA|CSIDL_APPDATA|CSIDL_PERSONAL", folders),
       "/common|/local|/roam|/docs"},
      {"target keeps escapes and port", replaceInFileTarget("CSIDL_APPDATA\\a\\n\\REPLACE_VARLUME_PROXY_PORT", folders),
       "/roam\\a\\n\\REPLACE_VARLUME_PROXY_PORT"},
      {"placeholders exactly", replaceInFileTarget("csidl_appdata CSIDL_APPDATAX", folders), "csidl_appdata /roamX"},
      {"argument escapes", replaceInFileArgument("a\\nb\\r\\n", 1, folders), "a\nb\r\n"},
      {"argument port", replaceInFileArgument("p=REPLACE_VARLUME_PROXY_PORT;REPLACE_VARLUME_PROXY_PORT", 8080, folders),
       "p=8080;8080"},
      {"argument folders", replaceInFileArgument("CSIDL_PERSONAL/CSIDL_COMMON_APPDATA", 1, folders), "/docs//common"},
      {"folder escapes stay", replaceInFileArgument("CSIDL_COMMON_APPDATA CSIDL_APPDATA", 1, tricky), "/c\\n /r\\r"},
      {"written-out escapes go", replaceInFileArgument("\\home\\new", 1, folders), "\\home\new"},
      {"escape made of a folder and text", replaceInFileArgument("CSIDL_APPDATA\\n", 1, tricky), "/r\\r\n"},
      {"registry port only", replaceInRegistryArgument("REG_SZ(a\\n CSIDL_APPDATA REPLACE_VARLUME_PROXY_PORT)", 99),
       "REG_SZ(a\\n CSIDL_APPDATA 99)"},
      {"lower-case port stays", replaceInRegistryArgument("replace_varlume_proxy_port", 99), "replace_varlume_proxy_port"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.result, c.expected);
  }
}

TEST(ScriptLines, RegistryTargets) {
  using platform::RegistryRoot;
  const struct {
    const char* target;
    bool valid;
    RegistryRoot root;
    const char* keyPath;
  } cases[] = {
      {"HKEY_CURRENT_USER\\Software", true, RegistryRoot::CurrentUser, "Software"},
      {" hkey_local_machine \\A\\B", true, RegistryRoot::LocalMachine, "A\\B"},
      {"HKEY_USERS\\x", true, RegistryRoot::Users, "x"},
      {"HKEY_CURRENT_CONFIG\\\\x\\", true, RegistryRoot::CurrentConfig, "\\x\\"},
      {"Hkey_Classes_Root\\x", true, RegistryRoot::ClassesRoot, "x"},
      {"HKEY_CURRENT_USER", false, RegistryRoot::CurrentUser, ""},
      {"HKEY_CURRENT_USER\\", false, RegistryRoot::CurrentUser, ""},
      {"HKEY_FOO\\x", false, RegistryRoot::CurrentUser, ""},
      {"HKCU\\x", false, RegistryRoot::CurrentUser, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    RegistryRoot root = RegistryRoot::CurrentUser;
    std::string keyPath;
    ASSERT_EQ(splitRegistryTarget(c.target, root, keyPath), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(root, c.root);
    EXPECT_EQ(keyPath, c.keyPath);
  }
}

TEST(ScriptLines, RegistryArgumentsAndValueNames) {
  const struct {
    const char* argument;
    bool valid;
    const char* type;
    const char* value;
  } arguments[] = {
      {"REG_SZ(text)", true, "REG_SZ", "text"},
      {" reg_dword ( 0x10 ) ", true, "REG_DWORD", "0x10"},
      {"REG_SZ()", true, "REG_SZ", ""},
      {"REG_SZ(a(b)c)", true, "REG_SZ", "a(b)c"},
      {"REG_SZ(a) x", true, "REG_SZ", "a"},
      {"REG_SZ", false, "", ""},
      {"REG_SZ(", false, "", ""},
      {")REG_SZ(", false, "", ""},
      {"", false, "", ""},
  };
  for (const auto& c : arguments) {
    SCOPED_TRACE(c.argument);
    std::string type;
    std::string value;
    ASSERT_EQ(splitRegistryArgument(c.argument, type, value), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(value, c.value);
  }

  const struct {
    const char* keyPath;
    bool valid;
    const char* key;
    const char* name;
  } names[] = {
      {"A\\B\\Name", true, "A\\B", "Name"},
      {"A\\default", true, "A", ""},
      {"A\\DeFaUlT", true, "A", ""},
      {"A\\defaults", true, "A", "defaults"},
      {"\\Name", true, "", "Name"},
      {"Name", false, "", ""},
      {"A\\", false, "", ""},
  };
  for (const auto& c : names) {
    SCOPED_TRACE(c.keyPath);
    std::string key;
    std::string name;
    ASSERT_EQ(splitValueName(c.keyPath, key, name), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(key, c.key);
    EXPECT_EQ(name, c.name);
  }
}

TEST(ScriptLines, KeyPathComponents) {
  const struct {
    const char* keyPath;
    Lines components;
  } cases[] = {
      {"A", {"A"}},
      {"A\\B\\C", {"A", "B", "C"}},
      {"A\\\\B", {"A", "", "B"}},
      {"A\\B\\", {"A", "B"}},
      {"\\A", {"", "A"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyPath);
    EXPECT_EQ(keyPathComponents(c.keyPath), c.components);
  }
}

TEST(ScriptLines, DwordNumbers) {
  const struct {
    const char* text;
    std::uint32_t value;
  } cases[] = {
      {"0x10", 16},       {"16", 16},          {"0x", 0},           {"0X1a", 26},
      {"-1", 0xFFFFFFFF}, {"0x1G", 1},         {"0xG", 0},          {"0xffffffff", 0xFFFFFFFF},
      {"0x123456789", 0x23456789},             {"  42abc", 42},     {"abc", 0},
      {"", 0},            {"+7", 7},           {"99999999999", 0x7FFFFFFF},
      {" 0x10", 0},       {"0x 10", 0},        {"x10", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(dwordValue(c.text), c.value);
  }
}

}  // namespace
