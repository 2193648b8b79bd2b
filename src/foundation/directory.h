// The directory and file helper: existence tests, file times, delete,
// rename, folder creation with parents, permissions, listings with optional
// exact-name filters and a stack of saved working folders. Paths use "\" or
// "/" and may hold %XX escapes (each operation says how it treats them);
// failures the caller is to see append an English text to `message`.
// Decoding operations decode the whole path, so a folder whose own name
// holds "%" (a data root, say) is not reached through them: callers that
// build their paths from such folders and names they decoded themselves use
// the undecoded forms, which take the path as given ("/" turned into "\").
// A helper belongs to one thread at a time and holds no handles between calls.
#pragma once
#include <string>
#include <vector>

#include "foundation/dir_entry.h"

class VLDirectory {
 public:
  VLDirectory() = default;

  void clearLists();  // filter names, directory stack and entries

  // The process's working folder ("\" form); empty when it cannot be read.
  std::string currentDirectory();
  bool changeDirectory(const std::string& path);  // normalised
  void pushDirectory();   // pushes currentDirectory() unless it is empty
  bool popDirectory();    // false on an empty stack, else changeDirectory(top)

  // Normalised, one trailing "\" removed. False when `record` is null or the
  // path cannot be stat'ed (links are followed); the record is zero-filled.
  bool statPath(const std::string& path, VLStatRecord* record);
  // Decoded. Mode with 0x80: the owner may write; without: no one may write.
  // Never makes anything group- or world-writable.
  bool setPermissions(const std::string& path, int mode);
  bool directoryExists(const std::string& path);  // decoded; an existing folder
  bool fileExists(const std::string& path);       // decoded; a regular file
  // Decoded. `time` := -1, then the low 32 bits of the modification time of a
  // path that exists and is not a folder (true); otherwise false.
  bool fileModificationTime(const std::string& path, int& time);
  // Used as given: sets an existing regular file's modification time to now.
  bool touchFile(const std::string& path);
  // Decoded. A folder appends "<path> is a directory, not a file. Cannot
  // delete it."; any other failure appends nothing.
  bool deleteFile(const std::string& path, std::string& message);
  // Both decoded; never replaces an existing name (fails without a text).
  bool renamePath(const std::string& oldPath, const std::string& newPath, std::string& message);

  // The undecoded forms: the same results and texts, each path normalised
  // only (the texts name the normalised paths).
  bool directoryExistsUndecoded(const std::string& path);
  bool fileExistsUndecoded(const std::string& path);
  bool deleteFileUndecoded(const std::string& path, std::string& message);
  bool renamePathUndecoded(const std::string& oldPath, const std::string& newPath, std::string& message);
  bool makePathUndecoded(const std::string& path, int mode, std::string& message);
  // Normalised only; then setPermissions(path, mode).
  bool createDirectory(const std::string& path, int mode, std::string& message);
  // Creates the folder and its missing parents and sets its permissions.
  // Relative paths are taken against the working folder, which it never
  // changes, so threads may call it at once.
  bool makePath(const std::string& path, int mode, std::string& message);

  // Normalised. Replaces the entries by the folder's listing sorted by name
  // ("." and ".." skipped, links not followed, folders of size 0), keeping
  // only names equal to a filter name when there are any. Always true; a
  // folder that cannot be read gives no entries.
  bool listDirectory(const std::string& dir);
  // Whether the last listDirectory could read its folder.
  bool lastListingRead() const { return lastListingRead_; }
  int entryCount() const;
  // Entry i; outside 0..count-1 a shared empty entry (not valid).
  const VLDirEntry& entryAt(int i) const;
  // Filter name i; outside the list "Oops - Directory Entry index out of bounds".
  std::string filterAt(int i) const;
  void addFilterName(const std::string& name);
  int filterCount() const;

  // File-service extensions: declared here because they belong to this
  // class; defined in the file service's own source, linked only there.
  int directoryStackSize() const;
  std::string directoryStackAt(int i) const;
  void setFilterNames(const std::string& text);
  VLDirectory& copyFrom(const VLDirectory& other);
  bool removeTree(const std::string& path, std::string& message);
  bool listFiltered(const std::string& dir, const std::string& filterText);
  // The same with the folder's path normalised only; the filter text is
  // still decoded once (it is a list of names, not a path).
  bool removeTreeUndecoded(const std::string& path, std::string& message);
  bool listFilteredUndecoded(const std::string& dir, const std::string& filterText);

 private:
  bool makeAnyPath(const std::string& path, int mode, bool decode, std::string& message);
  bool makeAbsolutePath(const std::string& path, int mode, bool decode, std::string& message);
  bool removeTreeAt(const std::string& d, std::string& message);
  bool listFilteredAt(const std::string& folder, const std::string& filterText);

  std::vector<std::string> filterNames_;
  std::vector<std::string> directoryStack_;
  std::vector<VLDirEntry> entries_;
  bool lastListingRead_ = true;
};
