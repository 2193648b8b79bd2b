#include "foundation/directory.h"

#include <unordered_set>
#include <vector>

#include "foundation/directory_texts.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

const char kFilterOutOfBounds[] = "Oops - Directory Entry index out of bounds";
constexpr std::size_t kLongestPath = 4096;  // with its zero byte

std::string normalised(const std::string& path) {
  std::string result(path);
  return replaceAll("/", "\\", result);
}

std::string decoded(const std::string& path) { return urlDecode(normalised(path)); }

// An existing folder that may be entered.
bool canEnter(const std::string& folder) { return platform::canSearch(folder); }

}  // namespace

void VLDirectory::clearLists() {
  filterNames_.clear();
  directoryStack_.clear();
  entries_.clear();
}

std::string VLDirectory::currentDirectory() { return platform::workingFolder(); }

bool VLDirectory::changeDirectory(const std::string& path) {
  return platform::setWorkingFolder(normalised(path));
}

void VLDirectory::pushDirectory() {
  std::string folder = currentDirectory();
  if (!folder.empty()) directoryStack_.push_back(folder);
}

bool VLDirectory::popDirectory() {
  if (directoryStack_.empty()) return false;
  std::string folder = directoryStack_.back();
  directoryStack_.pop_back();
  return changeDirectory(folder);
}

bool VLDirectory::statPath(const std::string& path, VLStatRecord* record) {
  if (record == nullptr) return false;
  *record = VLStatRecord{};
  std::string p = normalised(path);
  // One trailing separator goes, but the root stays the root.
  if (p.size() > 1 && p.back() == '\\') p.pop_back();
  platform::FileStatus status;
  if (!platform::statPath(p, status)) return false;
  if (status.isDirectory) {
    record->mode = kDirectoryBit;
  } else {
    if (status.isRegular) record->mode = kRegularBit;
    record->size = static_cast<std::uint32_t>(status.size);
    record->fullSize = status.size;
  }
  record->modificationTime = status.modificationTime;
  return true;
}

bool VLDirectory::setPermissions(const std::string& path, int mode) {
  return platform::setWritable(decoded(path), (mode & 0x80) != 0);
}

bool VLDirectory::directoryExists(const std::string& path) { return directoryExistsUndecoded(decoded(path)); }

bool VLDirectory::fileExists(const std::string& path) { return fileExistsUndecoded(decoded(path)); }

bool VLDirectory::directoryExistsUndecoded(const std::string& path) {
  VLStatRecord record;
  return statPath(path, &record) && (record.mode & kDirectoryBit) != 0;
}

bool VLDirectory::fileExistsUndecoded(const std::string& path) {
  VLStatRecord record;
  return statPath(path, &record) && (record.mode & kRegularBit) != 0;
}

bool VLDirectory::fileModificationTime(const std::string& path, int& time) {
  time = -1;
  VLStatRecord record;
  if (!statPath(decoded(path), &record) || (record.mode & kDirectoryBit) != 0) return false;
  time = static_cast<int>(static_cast<std::uint32_t>(record.modificationTime));
  return true;
}

bool VLDirectory::touchFile(const std::string& path) { return platform::touchFile(path); }

bool VLDirectory::deleteFile(const std::string& path, std::string& message) {
  const std::string d = decoded(path);
  if (directoryExists(d)) {
    message += notAFileText(d);
    return false;
  }
  return platform::removeFile(d);
}

bool VLDirectory::deleteFileUndecoded(const std::string& path, std::string& message) {
  const std::string p = normalised(path);
  if (directoryExistsUndecoded(p)) {
    message += notAFileText(p);
    return false;
  }
  return platform::removeFile(p);
}

bool VLDirectory::renamePath(const std::string& oldPath, const std::string& newPath,
                             std::string& message) {
  return renamePathUndecoded(decoded(oldPath), decoded(newPath), message);
}

bool VLDirectory::renamePathUndecoded(const std::string& oldPath, const std::string& newPath,
                                      std::string& message) {
  const std::string o = normalised(oldPath);
  const std::string n = normalised(newPath);
  if (platform::renameNoReplace(o, n)) return true;
  message += renameFailureText(platform::lastFileError(), o, n);
  return false;
}

bool VLDirectory::createDirectory(const std::string& path, int mode, std::string& message) {
  const std::string p = normalised(path);
  if (!platform::makeDirectory(p)) {
    message += folderCreationText(platform::lastFileError(), p);
    return false;
  }
  if (!setPermissions(p, mode)) {
    message += "Failed to set permissions on directory " + p;
    return false;
  }
  return true;
}

bool VLDirectory::makePath(const std::string& path, int mode, std::string& message) {
  return makeAnyPath(path, mode, true, message);
}

bool VLDirectory::makePathUndecoded(const std::string& path, int mode, std::string& message) {
  return makeAnyPath(path, mode, false, message);
}

bool VLDirectory::makeAnyPath(const std::string& path, int mode, bool decode, std::string& message) {
  std::string absolute = normalised(path);
  if (absolute.empty() || absolute.front() != '\\') {
    // A relative path is taken against the working folder, read once here.
    const std::string folder = currentDirectory();
    if (folder.empty()) return false;
    absolute = folder + (folder.back() == '\\' ? "" : "\\") + absolute;
  }
  if (absolute.size() >= kLongestPath) {
    // The system takes no longer path, so nothing of it is created; this also
    // bounds the depth of the walk over the parents.
    if (absolute.back() == '\\') absolute.pop_back();
    message += folderCreationText(platform::FileError::NameTooLong, absolute.substr(absolute.rfind('\\') + 1));
    return false;
  }
  return makeAbsolutePath(absolute, mode, decode, message);
}

// Creates by full path what the working-folder walk would create: the leaf is
// created as the caller spelled it and tested decoded, the parent is used as
// spelled, and the texts name the leaf (creation) or D (everything else).
// Without `decode`, D and the tested leaf are the path as spelled.
bool VLDirectory::makeAbsolutePath(const std::string& path, int mode, bool decode, std::string& message) {
  std::string p = normalised(path);
  const std::string d = decode ? decoded(path) : p;
  if (!p.empty() && p.back() == '\\') p.pop_back();
  const std::size_t cut = p.rfind('\\');
  std::string parent = cut == std::string::npos ? std::string() : p.substr(0, cut);
  const std::string leaf = cut == std::string::npos ? p : p.substr(cut + 1);
  if (parent.empty()) parent.assign(1, '\\');
  const std::string inParent = parent + (parent.back() == '\\' ? "" : "\\");

  if (!canEnter(parent)) {
    // Missing parents first, from the top down; then this folder, once. A
    // parent that still cannot be entered ends it without a further text.
    if (parent.size() >= p.size()) return false;  // the root itself
    if (!makeAbsolutePath(parent, mode, decode, message)) return false;
    if (!canEnter(parent)) return false;
  }

  const std::string leafTested = inParent + (decode ? urlDecode(leaf) : leaf);
  VLStatRecord record;
  auto leafIsFolder = [&] {
    return statPath(leafTested, &record) && (record.mode & kDirectoryBit) != 0;
  };
  if (!leafIsFolder()) {
    if (platform::makeDirectory(inParent + leaf)) {
      if (platform::setWritable(leafTested, (mode & 0x80) != 0)) return true;
      message += "Failed to set permissions on directory " + leaf;
      return false;
    }
    const platform::FileError error = platform::lastFileError();
    // Another thread or process may have made it just now: that is success.
    if (error != platform::FileError::Exists || !leafIsFolder()) {
      message += folderCreationText(error, leaf);
      return false;
    }
  }

  if (!statPath(d, &record)) {
    message += "Failed to stat " + d;
    return false;
  }
  if ((record.mode & kDirectoryBit) == 0) {
    message += d + " is not a directory.";
    return false;
  }
  const bool permitted = decode ? setPermissions(d, mode) : platform::setWritable(d, (mode & 0x80) != 0);
  if (!permitted) {
    message += "Failed to set permissions on directory " + d;
    return false;
  }
  return true;
}

bool VLDirectory::listDirectory(const std::string& dir) {
  std::string folder = normalised(dir);
  entries_.clear();
  if (folder.empty()) folder = currentDirectory();  // the bare pattern "*"
  std::vector<platform::ListedEntry> listed;
  lastListingRead_ = platform::listFolder(folder, listed);
  if (!lastListingRead_) return true;
  // A long filter list costs one pass, not one pass per entry.
  const std::unordered_set<std::string> wanted(filterNames_.begin(), filterNames_.end());
  for (const platform::ListedEntry& item : listed) {
    if (item.name == "." || item.name == "..") continue;
    if (!wanted.empty() && wanted.count(item.name) == 0) continue;
    VLStatRecord record;
    record.mode = item.isDirectory ? kDirectoryBit : 0;
    record.fullSize = item.isDirectory ? 0 : item.size;
    record.size = static_cast<std::uint32_t>(record.fullSize);
    record.modificationTime = item.modificationTime;
    VLDirEntry entry;
    entry.setName(item.name);
    entry.setStat(record);
    entries_.push_back(entry);
  }
  return true;
}

int VLDirectory::entryCount() const { return static_cast<int>(entries_.size()); }

const VLDirEntry& VLDirectory::entryAt(int i) const {
  static const VLDirEntry kEmpty;
  if (i < 0 || static_cast<std::size_t>(i) >= entries_.size()) return kEmpty;
  return entries_[static_cast<std::size_t>(i)];
}

std::string VLDirectory::filterAt(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= filterNames_.size()) return kFilterOutOfBounds;
  return filterNames_[static_cast<std::size_t>(i)];
}

void VLDirectory::addFilterName(const std::string& name) { filterNames_.push_back(name); }

int VLDirectory::filterCount() const { return static_cast<int>(filterNames_.size()); }
