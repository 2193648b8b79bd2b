#include "varlume/temp_folder.h"

#include <string>
#include <vector>

#include "foundation/strings.h"
#include "platform/files.h"
#include "varlume/settings.h"

void clearTempDirectory() {
  if (tempPath.empty()) return;
  std::string folder = tempPath;
  ensureTrailingSlash(folder);
  replaceAll("/", "\\", folder);
  std::vector<platform::ListedEntry> entries;
  platform::listFolder(folder, entries);
  for (const platform::ListedEntry& entry : entries) {
    // Files only, links included (the link goes, never its target).
    if (!entry.isDirectory) platform::removeFile(tempPath + entry.name);
  }
}
