// The directory helper's members that only the file service uses: the
// directory stack's size and elements, filter names from a "/"-separated
// text, copying a helper, removing a folder tree and a filtered listing.
#include <string>

#include "foundation/directory.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "platform/files.h"

namespace {

const char kStackOutOfBounds[] = "Oops - Directory Stack index out of bounds";

// Empties `folder` depth first by the exact listed names; false at the first
// removal that fails. Listings never follow links, so a link is unlinked and
// never descended into.
bool emptyFolder(const std::string& folder) {
  VLDirectory level;
  level.listDirectory(folder);
  if (!level.lastListingRead()) return false;
  for (int i = 0; i < level.entryCount(); ++i) {
    const VLDirEntry& entry = level.entryAt(i);
    const std::string path = folder + "\\" + entry.name();
    platform::FileStatus status;
    // Checked again by lstat: a folder swapped for a link since the listing is unlinked.
    if (entry.isDir() && platform::linkStatusOf(path, status) && status.isDirectory) {
      if (!emptyFolder(path) || !platform::removeDirectory(path)) return false;
    } else if (!platform::removeFile(path)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int VLDirectory::directoryStackSize() const { return static_cast<int>(directoryStack_.size()); }

std::string VLDirectory::directoryStackAt(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= directoryStack_.size()) return kStackOutOfBounds;
  return directoryStack_[static_cast<std::size_t>(i)];
}

void VLDirectory::setFilterNames(const std::string& text) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('/', start);
    std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!piece.empty()) filterNames_.push_back(piece);
    if (end == std::string::npos) return;
    start = end + 1;
  }
}

VLDirectory& VLDirectory::copyFrom(const VLDirectory& other) {
  if (this == &other) return *this;
  clearLists();
  for (const std::string& name : other.filterNames_) setFilterNames(name);
  directoryStack_ = other.directoryStack_;
  for (const VLDirEntry& entry : other.entries_) {
    VLDirEntry copy;
    copy.assignEntry(entry);
    entries_.push_back(copy);
  }
  return *this;
}

bool VLDirectory::removeTree(const std::string& path, std::string& message) {
  std::string d = path;
  replaceAll("/", "\\", d);
  d = urlDecode(d);
  // Its folder test decodes once more, as every decoding operation does.
  if (!directoryExists(d)) {
    message += d + " is not a directory. Cannot delete it.";
    return false;
  }
  return removeTreeAt(d, message);
}

bool VLDirectory::removeTreeUndecoded(const std::string& path, std::string& message) {
  std::string d = path;
  replaceAll("/", "\\", d);
  return removeTreeAt(d, message);
}

bool VLDirectory::removeTreeAt(const std::string& d, std::string& message) {
  // The folder itself, not what a link names: trailing separators would make
  // the status call follow a link.
  std::string folder = d;
  while (folder.size() > 1 && folder.back() == '\\') folder.pop_back();
  platform::FileStatus status;
  if (!platform::linkStatusOf(folder, status) || !status.isDirectory) {
    message += d + " is not a directory. Cannot delete it.";
    return false;
  }
  if (!emptyFolder(folder)) return false;
  return platform::removeDirectory(folder);
}

bool VLDirectory::listFiltered(const std::string& dir, const std::string& filterText) {
  std::string folder = dir;
  replaceAll("/", "\\", folder);
  return listFilteredAt(urlDecode(folder), filterText);
}

bool VLDirectory::listFilteredUndecoded(const std::string& dir, const std::string& filterText) {
  std::string folder = dir;
  replaceAll("/", "\\", folder);
  return listFilteredAt(folder, filterText);
}

bool VLDirectory::listFilteredAt(const std::string& folder, const std::string& filterText) {
  VLDirectory temporary;
  temporary.copyFrom(*this);
  temporary.filterNames_.clear();
  temporary.setFilterNames(urlDecode(filterText));
  temporary.listDirectory(folder);
  entries_ = temporary.entries_;
  return !entries_.empty();
}
