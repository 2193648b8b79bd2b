#include "varlume/script_lines.h"

#include "foundation/decimal.h"
#include "foundation/strings.h"
#include "platform/folders.h"

namespace {

constexpr char kPortPlaceholder[] = "REPLACE_VARLUME_PROXY_PORT";

// Where the target starts, and how far the action's "(" must lie from the
// target's ")".
struct LineLayout {
  std::size_t keywordLength;
  std::size_t actionDistance;
};

std::string& replaceFolders(std::string& text, const VLScriptFolders& folders) {
  // CSIDL_APPDATA is part of the two names before it, so it comes after them.
  replaceAll("CSIDL_COMMON_APPDATA", folders.commonAppData, text);
  replaceAll("CSIDL_LOCAL_APPDATA", folders.localAppData, text);
  replaceAll("CSIDL_APPDATA", folders.appData, text);
  replaceAll("CSIDL_PERSONAL", folders.personal, text);
  return text;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string scriptText(const std::string& bytes) {
  std::string text = bytes.substr(0, kScriptTextLimit);
  std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

std::vector<std::string> scriptLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = trim(text.substr(start, end - start), true);
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 2;
  }
  return lines;
}

VLLineKind lineKind(const std::string& line) {
  if (!line.empty() && line[0] == '#') return VLLineKind::Comment;
  if (line.size() > 5 && toUpper(line.substr(0, 5)) == "FILE(") return VLLineKind::File;
  if (line.size() > 9 && toUpper(line.substr(0, 9)) == "REGISTRY(") return VLLineKind::Registry;
  return VLLineKind::Ignored;
}

bool lineParts(const std::string& line, VLLineKind kind, VLLineParts& parts) {
  if (kind != VLLineKind::File && kind != VLLineKind::Registry) return false;
  const LineLayout layout = kind == VLLineKind::File ? LineLayout{5, 5} : LineLayout{9, 3};
  const std::size_t close = line.find(')');
  if (close == std::string::npos || close < layout.keywordLength) return false;
  const std::size_t open = line.find('(', close);
  if (open == std::string::npos || open - close < layout.actionDistance) return false;
  const std::size_t last = line.rfind(')');
  if (last == std::string::npos || last < open) return false;

  parts.target = trim(line.substr(layout.keywordLength, close - layout.keywordLength), true);
  parts.action = toUpper(trim(line.substr(close + 1, open - close - 1), true));
  parts.argument = last - open > 2 ? trim(line.substr(open + 1, last - open - 1), true) : "";
  return true;
}

VLScriptFolders currentScriptFolders() {
  using platform::ShellFolder;
  return {platform::shellFolder(ShellFolder::CommonAppData),
          platform::shellFolder(ShellFolder::LocalAppData),
          platform::shellFolder(ShellFolder::RoamingAppData),
          platform::shellFolder(ShellFolder::Documents)};
}

std::string replaceInFileTarget(std::string target, const VLScriptFolders& folders) {
  return replaceFolders(target, folders);
}

std::string replaceInFileArgument(std::string argument, int port, const VLScriptFolders& folders) {
  replaceAll("\\r", "\r", argument);
  replaceAll("\\n", "\n", argument);
  replaceAll(kPortPlaceholder, std::to_string(port), argument);
  return replaceFolders(argument, folders);
}

std::string replaceInRegistryArgument(std::string argument, int port) {
  return replaceAll(kPortPlaceholder, std::to_string(port), argument);
}

bool splitRegistryTarget(const std::string& target, platform::RegistryRoot& root,
                         std::string& keyPath) {
  using platform::RegistryRoot;
  static const struct {
    const char* name;
    RegistryRoot root;
  } kRoots[] = {
      {"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
      {"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
      {"HKEY_USERS", RegistryRoot::Users},
      {"HKEY_CURRENT_CONFIG", RegistryRoot::CurrentConfig},
      {"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
  };
  const std::size_t slash = target.find('\\');
  if (slash == std::string::npos) return false;
  const std::string name = toUpper(trim(target.substr(0, slash), true));
  keyPath = target.substr(slash + 1);
  if (keyPath.empty()) return false;
  for (const auto& entry : kRoots) {
    if (name == entry.name) {
      root = entry.root;
      return true;
    }
  }
  return false;
}

bool splitRegistryArgument(const std::string& argument, std::string& type, std::string& value) {
  const std::size_t open = argument.find('(');
  if (open == std::string::npos) return false;
  const std::size_t close = argument.rfind(')');
  if (close == std::string::npos || close < open) return false;
  type = toUpper(trim(argument.substr(0, open), true));
  value = trim(argument.substr(open + 1, close - open - 1), true);
  return true;
}

bool splitValueName(const std::string& keyPath, std::string& key, std::string& valueName) {
  const std::size_t slash = keyPath.rfind('\\');
  if (slash == std::string::npos || slash + 1 == keyPath.size()) return false;
  key = keyPath.substr(0, slash);
  valueName = keyPath.substr(slash + 1);
  if (equalsIgnoreCase(valueName, "default")) valueName.clear();
  return true;
}

std::vector<std::string> keyPathComponents(const std::string& keyPath) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start < keyPath.size()) {
    std::size_t end = keyPath.find('\\', start);
    if (end == std::string::npos) end = keyPath.size();
    components.push_back(keyPath.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

std::uint32_t dwordValue(const std::string& text) {
  if (text.size() > 2 && toUpper(text.substr(0, 2)) == "0X") {
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < text.size() && hexDigit(text[i]) >= 0; ++i) {
      value = (value << 4) | static_cast<std::uint32_t>(hexDigit(text[i]));
    }
    return value;
  }
  return static_cast<std::uint32_t>(readDecimal(text));
}
