#include "foundation/dir_entry.h"

VLDirEntry::VLDirEntry() = default;

VLDirEntry::VLDirEntry(const VLDirEntry& other) { assignEntry(other); }

VLDirEntry& VLDirEntry::operator=(const VLDirEntry& other) {
  assignEntry(other);
  return *this;
}

void VLDirEntry::clearEntry() {
  name_.clear();
  stat_ = VLStatRecord{};
  valid_ = 0;
}

void VLDirEntry::assignEntry(const VLDirEntry& other) {
  if (this != &other) {
    name_ = other.name_;
    stat_ = other.stat_;
  }
  valid_ = 1;
}

void VLDirEntry::setName(const std::string& text) { name_ = text; }

void VLDirEntry::setStat(const VLStatRecord& record) {
  stat_ = record;
  valid_ = 1;
}

bool VLDirEntry::isDir() const { return valid_ != 0 && (stat_.mode & kDirectoryBit) != 0; }
