// The script language of the browser-configuration scripts, without side
// effects: the text that runs, its lines and their kinds, the three parts of
// a line found by position, the placeholder replacements, and the pieces of
// registry targets and arguments.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

// At most this much of a script runs.
inline constexpr std::size_t kScriptTextLimit = 65536;

// The text a script runs (and its done copy holds): the first 65,536 bytes,
// up to the first zero byte among them.
std::string scriptText(const std::string& bytes);

// The text cut at every CR LF pair; each piece trimmed of blanks, tabs, CR
// and LF, empty pieces dropped. A lone CR or LF stays inside its line.
std::vector<std::string> scriptLines(const std::string& text);

enum class VLLineKind { Comment, File, Registry, Ignored };
VLLineKind lineKind(const std::string& line);

struct VLLineParts {
  std::string target;    // trimmed
  std::string action;    // trimmed, upper-cased
  std::string argument;  // trimmed; empty when it spans a single character
};
// The parts of a file or registry line; false when a position rule is
// broken (the script then stops).
bool lineParts(const std::string& line, VLLineKind kind, VLLineParts& parts);

// The four folders the placeholders stand for (system form, no trailing
// separator; empty when the system cannot give one).
struct VLScriptFolders {
  std::string commonAppData;  // CSIDL_COMMON_APPDATA
  std::string localAppData;   // CSIDL_LOCAL_APPDATA
  std::string appData;        // CSIDL_APPDATA
  std::string personal;       // CSIDL_PERSONAL
};
VLScriptFolders currentScriptFolders();

std::string replaceInFileTarget(std::string target, const VLScriptFolders& folders);
// Escapes first, then the port, then the folders.
std::string replaceInFileArgument(std::string argument, int port, const VLScriptFolders& folders);
std::string replaceInRegistryArgument(std::string argument, int port);

// A registry target split into its root and its (non-empty) key path; false
// without a "\", with a root outside the five, or with an empty key path.
bool splitRegistryTarget(const std::string& target, platform::RegistryRoot& root,
                         std::string& keyPath);
// type "(" value ")": the type trimmed and upper-cased, the value trimmed;
// false when the argument lacks a "(" or a ")" after it.
bool splitRegistryArgument(const std::string& argument, std::string& type, std::string& value);
// The key path split at its last "\" into key and value name ("default" in
// any case is the default value, ""); false without a "\" or with a trailing one.
bool splitValueName(const std::string& keyPath, std::string& key, std::string& valueName);
// The components of a key path: cut at every "\" (adjacent ones give an
// empty component), a trailing "\" adds none.
std::vector<std::string> keyPathComponents(const std::string& keyPath);

// The number of a REG_DWORD value text: "0x..." (longer than two characters)
// is hexadecimal from the third character up to the first other one, low 32
// bits kept; anything else is decimal (readDecimal), cast to 32 bits.
std::uint32_t dwordValue(const std::string& text);
