// The directory commands on the site's home and on the cache folder.
#include <string>

#include "foundation/strings.h"
#include "platform/files.h"
#include "serviceframework/reply_envelope.h"
#include "varlumefile/event_database_names.h"
#include "varlumefile/file_server.h"

void VLFileHandler::makeDirectory(const std::string& name) {
  std::string home;
  ResolvedName resolved;
  if (!homeRoot(home) || !nameUnderRoot(home, name, VLNameRule::Clean, resolved)) return;
  if (refusesEventDatabase(resolved)) return;
  std::string message;
  if (directory.makePathUndecoded(resolved.path, 0777, message)) {
    replySuccess();
  } else {
    replyError(kCannotCreate, message);
  }
}

void VLFileHandler::isDirectory(const std::string& name) {
  std::string home;
  ResolvedName resolved;
  if (!homeRoot(home) || !nameUnderRoot(home, name, VLNameRule::Clean, resolved)) return;
  if (directory.directoryExistsUndecoded(resolved.path)) {
    replySuccess();
  } else {
    replyError(kNotDirectory, resolved.shown + " is not a directory.");
  }
}

void VLFileHandler::isFile(const std::string& name) {
  std::string home;
  ResolvedName resolved;
  if (!homeRoot(home) || !nameUnderRoot(home, name, VLNameRule::Sanitize, resolved)) return;
  if (directory.fileExistsUndecoded(resolved.path)) {
    replySuccess();
  } else {
    replyError(kNotFile, resolved.shown + " is not a file.");
  }
}

void VLFileHandler::scanDirectory(const std::string& name, const std::string& filter) {
  std::string home;
  if (homeRoot(home)) scanUnder(home, name, filter);
}

void VLFileHandler::scanCacheDirectory(const std::string& name, const std::string& filter) {
  scanUnder(cacheDirectory(), name, filter);
}

void VLFileHandler::scanUnder(const std::string& root, const std::string& name, const std::string& filter) {
  ResolvedName resolved;
  if (!nameUnderRoot(root, name, VLNameRule::Sanitize, resolved)) return;
  if (!directory.directoryExistsUndecoded(resolved.path)) {
    // A listing only reads: a root nobody made yet lists as an empty
    // folder would, and nothing is created for it.
    platform::FileStatus status;
    const bool absentRoot = resolved.path == root && !platform::linkStatusOf(root, status);
    if (absentRoot && filter.empty()) {
      replySuccess("<DirEntryCount> 0</DirEntryCount>");
    } else if (absentRoot) {
      replyError(kScanFailed, "Failed to scan directory " + resolved.path);
    } else {
      replyError(kNotDirectory, resolved.shown + " is not a directory.");
    }
    return;
  }
  bool listed = false;
  if (!filter.empty()) {
    listed = directory.listFilteredUndecoded(resolved.path, filter);
  } else {
    // A folder that exists but cannot be read is a failed scan, not an empty one.
    listed = directory.listDirectory(resolved.path) && directory.lastListingRead();
  }
  if (!listed) {
    replyError(kScanFailed, "Failed to scan directory " + resolved.path);
    return;
  }
  std::string payload = "<DirEntryCount> " + intToString(directory.entryCount()) + "</DirEntryCount>";
  for (int i = 0; i < directory.entryCount(); ++i) {
    const VLDirEntry& entry = directory.entryAt(i);
    const VLStatRecord& record = entry.statRecord();
    payload += "<DirEntry><Name>" + xmlEscape(entry.name()) + "</Name><Type>" +
               (entry.isDir() ? "Directory" : "File") + "</Type><Size>" +
               std::to_string(record.fullSize) + "</Size><Modified>" +
               unsignedToString(static_cast<std::uint32_t>(record.modificationTime)) +
               "</Modified></DirEntry>";
  }
  replySuccess(payload);
}

void VLFileHandler::removeUnder(const std::string& root, const std::string& name, bool folder, bool home) {
  ResolvedName resolved;
  // A link itself may go (it is unlinked, never followed); nothing through one.
  if (!nameUnderRoot(root, name, VLNameRule::Clean, resolved, VLLinkRule::LastMayBeLink)) return;
  if (home && refusesEventDatabase(resolved)) return;
  std::string message;
  if (folder && home && holdsEventDatabase(resolved.path)) {
    // Nothing of such a folder is removed: the database would go with it.
    replyError(kCannotRemoveFolder, holdsEventDatabaseText(resolved.path, "delete"));
  } else if (folder) {
    if (directory.removeTreeUndecoded(resolved.path, message)) {
      replySuccess();
    } else {
      replyError(kCannotRemoveFolder, message);
    }
  } else if (directory.deleteFileUndecoded(resolved.path, message)) {
    replySuccess();
  } else {
    replyError(kCannotRemoveFile, message);
  }
}

void VLFileHandler::removeDirectory(const std::string& name) {
  std::string home;
  if (homeRoot(home)) removeUnder(home, name, true, true);
}

void VLFileHandler::removeFile(const std::string& name) {
  std::string home;
  if (homeRoot(home)) removeUnder(home, name, false, true);
}

void VLFileHandler::removeCacheDirectory(const std::string& name) { removeUnder(cacheDirectory(), name, true, false); }

void VLFileHandler::removeCacheFile(const std::string& name) { removeUnder(cacheDirectory(), name, false, false); }

void VLFileHandler::renameFile(const std::string& name, const std::string& newName) {
  std::string home;
  if (!homeRoot(home)) return;
  for (const std::string* raw : {&name, &newName}) {
    if (raw->size() > kMaxNameBytes) {
      replyError(kNameRefused, refusedNameText(*raw));
      return;
    }
  }
  std::string oldShown = name;
  std::string newShown = newName;
  cleanName(oldShown);
  cleanName(newShown);
  const std::string oldPath = joinUnderRoot(home, oldShown);
  if (oldShown.empty() || oldShown == "/") {
    replyError(kCannotRename, oldPath + " cannot be renamed.");
    return;
  }
  if (newShown.empty() || newShown == "/") {
    replyError(kCannotRename, oldPath + " cannot be renamed to " + newShown);
    return;
  }
  std::string message;
  ResolvedName from;
  ResolvedName to;
  if (!resolveName(home, name, VLNameRule::Clean, from, message, VLLinkRule::LastMayBeLink) ||
      !resolveName(home, newName, VLNameRule::Clean, to, message)) {
    replyError(kNameRefused, message);
    return;
  }
  // A name that only its escapes made empty would name the home itself.
  if (from.cleaned.empty() || from.cleaned == "/") {
    replyError(kCannotRename, oldPath + " cannot be renamed.");
    return;
  }
  if (to.cleaned.empty() || to.cleaned == "/") {
    replyError(kCannotRename, oldPath + " cannot be renamed to " + newShown);
    return;
  }
  if (refusesEventDatabase(from) || refusesEventDatabase(to)) return;
  if (holdsEventDatabase(from.path)) {
    replyError(kRenameFailed, holdsEventDatabaseText(from.path, "rename"));
    return;
  }
  if (directory.renamePathUndecoded(from.path, to.path, message)) {
    replySuccess();
  } else {
    replyError(kRenameFailed, message);
  }
}
