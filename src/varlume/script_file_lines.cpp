// File lines of the browser-configuration scripts.
#include <string>
#include <vector>

#include "foundation/directory.h"
#include "platform/files.h"
#include "varlume/script_actions.h"
#include "varlume/script_lines.h"

namespace {

// Writes `data` into every target file in `mode`; a file that cannot be
// opened or written sets the failure mark and ends the list.
void writeTargets(const std::string& target, const std::string& data, platform::File::Mode mode,
                  VLScriptRun& run) {
  for (const std::string& path : scriptTargetFiles(target)) {
    platform::File file;
    if (!file.open(path, mode) || !file.write(data)) {
      run.failureMark = true;
      return;
    }
  }
}

}  // namespace

std::vector<std::string> scriptTargetFiles(const std::string& target) {
  const std::size_t star = target.find('*');
  if (star == std::string::npos) return {target};
  const std::string prefix = target.substr(0, star);
  const std::string rest = target.substr(star + 1);
  VLDirectory folder;
  folder.listDirectory(prefix);
  std::vector<std::string> files;
  for (int i = 0; i < folder.entryCount(); ++i) {
    const std::string& name = folder.entryAt(i).name();
    if (name.find('\\') != std::string::npos) continue;
    if (platform::isDirectory(prefix + name)) files.push_back(prefix + name + rest);
  }
  return files;
}

VLLineResult runFileLine(const std::string& line, VLScriptRun& run) {
  VLLineParts parts;
  if (!lineParts(line, VLLineKind::File, parts)) return VLLineResult::Stop;
  const VLScriptFolders folders = currentScriptFolders();
  const std::string target = replaceInFileTarget(parts.target, folders);
  VLDirectory directory;
  std::string message;

  if (parts.action == "RENAME") {
    // The argument is a path as written: no replacement.
    if (!directory.fileExists(target)) return VLLineResult::Stop;
    return directory.renamePath(target, parts.argument, message) ? VLLineResult::Next
                                                                 : VLLineResult::Stop;
  }
  const std::string argument = replaceInFileArgument(parts.argument, run.port, folders);
  if (parts.action == "DELETE") {
    if (!directory.fileExists(target)) return VLLineResult::Stop;
    directory.deleteFile(target, message);
    return VLLineResult::Next;
  }
  if (parts.action == "WRITE") {
    writeTargets(target, argument, platform::File::Write, run);
    return VLLineResult::Next;
  }
  if (parts.action == "APPEND") {
    writeTargets(target, argument, platform::File::Append, run);
    return VLLineResult::Next;
  }
  return VLLineResult::Stop;
}
