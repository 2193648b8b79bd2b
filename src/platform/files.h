// File calls on "\"-form paths (turned into "/" at each system call). Errors
// are named, not numbered: lastFileError() tells the calling thread what the
// last failing call met. Everything opened here is close-on-exec.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class FileError {
  None, Permission, NoEntry, NoMemory, Access, Fault, Busy, Exists, CrossDevice,
  NotDirectory, IsDirectory, Invalid, NoSpace, ReadOnly, TooManyLinks,
  NameTooLong, NotEmpty, Other
};
FileError lastFileError();

struct FileStatus {
  bool isDirectory = false;  // S_ISDIR
  bool isRegular = false;    // S_ISREG
  std::uint64_t size = 0;
  std::int64_t modificationTime = 0;  // seconds since 1970
};

// stat (follows links) and lstat (does not).
bool statPath(const std::string& path, FileStatus& status);
bool linkStatusOf(const std::string& path, FileStatus& status);
bool isDirectory(const std::string& path);     // an existing folder
bool isRegularFile(const std::string& path);   // an existing regular file
bool canSearch(const std::string& path);       // the folder may be entered

bool makeDirectory(const std::string& path);   // owner rwx, group/other r-x
bool removeDirectory(const std::string& path);
bool removeFile(const std::string& path);
// Never replaces an existing target (fails with FileError::Exists).
bool renameNoReplace(const std::string& from, const std::string& to);
// renameNoReplace of a regular file that may also cross file systems: there
// the bytes are copied into a temporary file beside `to`, which then takes
// the name (never replacing one) and `from` is removed. Nothing of the copy
// is left when it fails; `from` stays then.
bool moveFileNoReplace(const std::string& from, const std::string& to);
// True when no part of `path` after the folder `root` (a prefix of it, in
// either form) is a symbolic link: each existing part is checked without
// following it, up to the first that does not exist. With `lastMayBeLink`
// the very last part (trailing separators aside; a "." after a link counts
// as a part) may be one. False (FileError::Invalid) for a link, a ".." part
// or a path not below `root`; `root` itself may be a link.
bool isLinkFreeBelow(const std::string& root, const std::string& path, bool lastMayBeLink = false);
// The read-only attribute: writable adds the owner's write bit, otherwise all
// write bits are cleared. Nothing else changes.
bool setWritable(const std::string& path, bool writable);
// Sets the modification time of an existing regular file to now.
bool touchFile(const std::string& path);

struct ListedEntry {
  std::string name;
  bool isDirectory = false;
  std::uint64_t size = 0;             // bytes; 0 for folders
  std::int64_t modificationTime = 0;  // seconds since 1970
  std::int64_t modificationNanoseconds = 0;  // within that second
};
// The folder's entries sorted bytewise by name, without "." and "..", never
// following a link (a link is listed as what it is, not as its target).
// False when the folder cannot be read.
bool listFolder(const std::string& path, std::vector<ListedEntry>& entries);

// Every call here that takes a file means a regular file: a FIFO or device
// is refused (FileError::Invalid) without ever blocking, a folder with
// FileError::IsDirectory.
// Reads a regular file (at most `maxBytes`); false when it is not a readable
// regular file.
bool readFile(const std::string& path, std::string& contents,
              std::size_t maxBytes = static_cast<std::size_t>(-1));
// Writes `contents` to a temporary file in the same folder and renames it
// into place, so no half-written file is ever left; replaces an existing one
// and keeps its permissions.
bool writeFileAtomic(const std::string& path, const std::string& contents);
// Copies a regular file the same way (replace allowed).
bool copyFileAtomic(const std::string& from, const std::string& to);

// The streamed form of writeFileAtomic: bytes go to a temporary file in the
// target's own folder (so the rename never crosses file systems), and commit
// renames it over the target. Until then nobody sees a half-written target;
// a file never committed is removed by discard or the destructor.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Makes the temporary file beside `target` (whose folder must exist).
  bool open(const std::string& target);
  bool isOpen() const { return descriptor_ >= 0; }
  // True when all bytes were written; a failure keeps lastFileError().
  bool write(const void* data, std::size_t length);
  // Flushes, closes and renames over the target; the temporary file is gone
  // afterwards whatever happened.
  bool commit();
  void discard();
  // The temporary file's system path while open.
  const std::string& temporaryPath() const { return temporary_; }

 private:
  int descriptor_ = -1;
  std::string target_;
  std::string temporary_;
};

// An open file; closed by its destructor.
class File {
 public:
  enum Mode {
    Read,         // existing regular file
    Write,        // create or truncate
    Append,       // create or append
    ReadWrite,    // create, keep contents
    CreateNew,    // create, fail when it exists
  };
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  bool open(const std::string& path, Mode mode);
  bool isOpen() const { return descriptor_ >= 0; }
  // False when the system reported an error on closing (a write that could
  // not be completed); true when nothing was open.
  bool close();
  // Bytes read (0 at the end), or -1.
  long read(void* buffer, std::size_t length);
  // True when all bytes were written.
  bool write(const void* data, std::size_t length);
  bool write(const std::string& data) { return write(data.data(), data.size()); }
  bool seek(std::int64_t offset);  // from the start
  std::int64_t size() const;       // -1 on failure
  bool flush();                    // to the disk

 private:
  int descriptor_ = -1;
};

// An exclusive advisory lock on a file (created when missing; one this user
// may only read serves too), held until unlock or destruction. Used to keep
// processes of one user, or the users of a shared folder, apart.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // Waits until the lock is held; false when the file cannot be opened.
  bool lock(const std::string& path);
  // Takes the lock only when nobody holds it.
  bool tryLock(const std::string& path);
  void unlock();
  bool held() const { return descriptor_ >= 0; }

 private:
  int descriptor_ = -1;
};

}  // namespace platform
