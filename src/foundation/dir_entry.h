// One entry of a folder listing: a name, a small status record and a valid
// flag. Copies are always valid.
#pragma once
#include <cstdint>
#include <string>

constexpr std::uint16_t kDirectoryBit = 0x4000;  // the mode's folder bit
constexpr std::uint16_t kRegularBit = 0x8000;    // the mode's regular-file bit

// A file-status record with a 32-bit size and 64-bit times. Listings fill
// only the mode (kDirectoryBit or nothing), the size and the modification
// time; VLDirectory::statPath also sets kRegularBit for a regular file.
struct VLStatRecord {
  std::uint32_t device = 0;
  std::uint16_t inode = 0;
  std::uint16_t mode = 0;
  std::int16_t linkCount = 0;
  std::int16_t user = 0;
  std::int16_t group = 0;
  std::uint32_t rdev = 0;
  std::uint32_t size = 0;              // bytes, low 32 bits; 0 for folders
  std::int64_t accessTime = 0;
  std::int64_t modificationTime = 0;   // seconds since 1970-01-01 UTC
  std::int64_t changeTime = 0;
  std::uint64_t fullSize = 0;          // bytes, all 64 bits; 0 for folders
};

class VLDirEntry {
 public:
  VLDirEntry();
  // Copies name and record; the copy is valid whatever `other` is.
  VLDirEntry(const VLDirEntry& other);
  VLDirEntry& operator=(const VLDirEntry& other);  // as assignEntry

  void clearEntry();                          // empty name, zero record, not valid
  void assignEntry(const VLDirEntry& other);  // copy; valid := 1
  void setName(const std::string& text);
  void setStat(const VLStatRecord& record);   // copy in; valid := 1
  bool isDir() const;                         // valid and kDirectoryBit set

  const std::string& name() const { return name_; }
  const VLStatRecord& statRecord() const { return stat_; }
  int valid() const { return valid_; }

 private:
  std::string name_;
  VLStatRecord stat_;
  int valid_ = 0;
};
