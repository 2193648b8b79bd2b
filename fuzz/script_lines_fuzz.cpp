// The browser-script language: the text that runs, its lines, their kinds
// and parts, the placeholder replacements and the registry pieces.
#include <cstddef>
#include <cstdint>
#include <string>

#include "varlume/script_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const VLScriptFolders folders{"/common", "/local", "/roaming", "/documents"};
  for (const std::string& line : scriptLines(scriptText(bytes))) {
    VLLineKind kind = lineKind(line);
    VLLineParts parts;
    if (kind == VLLineKind::Comment || kind == VLLineKind::Ignored) continue;
    if (!lineParts(line, kind, parts)) continue;
    if (kind == VLLineKind::File) {
      (void)replaceInFileTarget(parts.target, folders);
      (void)replaceInFileArgument(parts.argument, 8080, folders);
      continue;
    }
    (void)replaceInRegistryArgument(parts.argument, 8080);
    platform::RegistryRoot root;
    std::string keyPath, key, valueName, type, value;
    if (splitRegistryTarget(parts.target, root, keyPath)) {
      (void)keyPathComponents(keyPath);
      (void)splitValueName(keyPath, key, valueName);
    }
    if (splitRegistryArgument(parts.argument, type, value)) (void)dwordValue(value);
  }
  return 0;
}
