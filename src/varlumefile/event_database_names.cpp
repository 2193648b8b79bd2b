#include "varlumefile/event_database_names.h"

#include "foundation/directory.h"
#include "foundation/event_database_name.h"
#include "foundation/strings.h"
#include "platform/files.h"

namespace {

bool isEventDatabasePart(const std::string& part) { return isEventDatabaseName(part); }

}  // namespace

bool namesEventDatabase(const std::string& name) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find_first_of("/\\", start);
    if (isEventDatabasePart(name.substr(start, end == std::string::npos ? std::string::npos : end - start))) {
      return true;
    }
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

bool holdsEventDatabase(const std::string& folder) {
  std::string base = folder;
  while (base.size() > 1 && base.back() == '\\') base.pop_back();
  // A link is no folder of the home: what it names is not looked into.
  platform::FileStatus status;
  if (!platform::linkStatusOf(base, status) || !status.isDirectory) return false;
  VLDirectory level;
  level.listDirectory(base);
  for (int i = 0; i < level.entryCount(); ++i) {
    const VLDirEntry& entry = level.entryAt(i);
    if (isEventDatabasePart(entry.name())) return true;
    const std::string path = base + "\\" + entry.name();
    if (entry.isDir() && holdsEventDatabase(path)) return true;
  }
  return false;
}

std::string holdsEventDatabaseText(const std::string& folder, const std::string& verb) {
  return folder + " holds an event database. Cannot " + verb + " it.";
}
