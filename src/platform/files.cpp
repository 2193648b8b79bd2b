// File calls on "\"-form paths, with named errors.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/file_modes.h"
#include "platform/paths.h"

namespace platform {
namespace {

thread_local FileError lastError = FileError::None;

FileError errorFromErrno(int systemError) {
  switch (systemError) {
    case 0: return FileError::None;
    case EPERM: return FileError::Permission;
    case ENOENT: return FileError::NoEntry;
    case ENOMEM: return FileError::NoMemory;
    case EACCES: return FileError::Access;
    case EFAULT: return FileError::Fault;
    case EBUSY: return FileError::Busy;
    case EEXIST: return FileError::Exists;
    case EXDEV: return FileError::CrossDevice;
    case ENOTDIR: return FileError::NotDirectory;
    case EISDIR: return FileError::IsDirectory;
    case EINVAL: return FileError::Invalid;
    case ENOSPC: return FileError::NoSpace;
    case EROFS: return FileError::ReadOnly;
    case EMLINK: return FileError::TooManyLinks;
    case ENAMETOOLONG: return FileError::NameTooLong;
    case ENOTEMPTY: return FileError::NotEmpty;
    default: return FileError::Other;
  }
}

// Records errno as the thread's last error; always false for convenience.
bool failWithErrno() {
  lastError = errorFromErrno(errno);
  return false;
}

bool fail(FileError error) {
  lastError = error;
  return false;
}

void fillStatus(const struct stat& info, FileStatus& status) {
  status.isDirectory = S_ISDIR(info.st_mode);
  status.isRegular = S_ISREG(info.st_mode);
  status.size = static_cast<std::uint64_t>(info.st_size);
  status.modificationTime = static_cast<std::int64_t>(info.st_mtime);
}

void closeKeepingErrno(int descriptor) {
  int saved = errno;
  ::close(descriptor);
  errno = saved;
}

// Opens a regular file without ever blocking on a FIFO or device; the
// descriptor is blocking again when returned. -1 with lastError set otherwise.
int openRegular(const std::string& path, int flags, mode_t mode = 0666) {
  std::string system = toSystemPath(path);
  struct stat info;
  const bool existed = ::stat(system.c_str(), &info) == 0;
  if (existed && !S_ISREG(info.st_mode)) {
    fail(S_ISDIR(info.st_mode) ? FileError::IsDirectory : FileError::Invalid);
    return -1;
  }
  int descriptor;
  do {
    descriptor = ::open(system.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor >= 0 && !existed && (flags & O_CREAT) != 0) {
    const int shared = sharedModeFor(system, false);
    if (shared >= 0) ::fchmod(descriptor, static_cast<mode_t>(shared));
  }
  if (descriptor < 0) {
    failWithErrno();
    return -1;
  }
  if (::fstat(descriptor, &info) != 0) {
    failWithErrno();
    closeKeepingErrno(descriptor);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(descriptor);
    fail(S_ISDIR(info.st_mode) ? FileError::IsDirectory : FileError::Invalid);
    return -1;
  }
  int current = ::fcntl(descriptor, F_GETFL);
  if (current >= 0) ::fcntl(descriptor, F_SETFL, current & ~O_NONBLOCK);
  return descriptor;
}

bool writeAllTo(int descriptor, const char* data, std::size_t length) {
  while (length > 0) {
    ssize_t written = ::write(descriptor, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return failWithErrno();
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

// A new file beside `target` (same folder) under a name nobody else uses.
int createTemporaryBeside(const std::string& target, std::string& temporary) {
  static std::atomic<unsigned> counter{0};
  std::string system = toSystemPath(target);
  std::size_t slash = system.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string() : system.substr(0, slash + 1);
  // A replaced file keeps its permissions (its read-only attribute too).
  struct stat existing;
  bool keepMode = ::stat(system.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = folder + ".vltmp" + std::to_string(::getpid()) + "_" + std::to_string(counter.fetch_add(1));
    int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (descriptor >= 0) {
      if (keepMode) {
        ::fchmod(descriptor, existing.st_mode & 07777);
      } else if (const int shared = sharedModeFor(system, false); shared >= 0) {
        ::fchmod(descriptor, static_cast<mode_t>(shared));
      }
      return descriptor;
    }
    if (errno != EEXIST && errno != EINTR) {
      failWithErrno();
      return -1;
    }
  }
  fail(FileError::Exists);
  return -1;
}

// Finishes a temporary file: flush to disk, close, rename over `target`.
// The temporary file is gone afterwards whatever happened.
bool commitTemporary(int descriptor, const std::string& temporary, const std::string& target) {
  bool okay = ::fsync(descriptor) == 0 || failWithErrno();
  if (::close(descriptor) != 0 && okay) okay = failWithErrno();
  if (okay && ::rename(temporary.c_str(), toSystemPath(target).c_str()) != 0) okay = failWithErrno();
  if (!okay) ::unlink(temporary.c_str());
  return okay;
}

void discardTemporary(int descriptor, const std::string& temporary) {
  int saved = errno;
  ::close(descriptor);
  ::unlink(temporary.c_str());
  errno = saved;
}

// Copies what is left of `source` to `target`; false (lastError set) on a
// failed read or write.
bool copyAll(int source, int target) {
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(source, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return failWithErrno();
    if (got == 0) return true;
    if (!writeAllTo(target, buffer, static_cast<std::size_t>(got))) return false;
  }
}

// A temporary file beside `to` holding all of `from`, open for writing;
// -1 (lastError set, nothing left behind) on any failure.
int copyIntoTemporaryBeside(const std::string& from, const std::string& to, std::string& temporary) {
  int source = openRegular(from, O_RDONLY);
  if (source < 0) return -1;
  int target = createTemporaryBeside(to, temporary);
  if (target < 0) {
    closeKeepingErrno(source);
    return -1;
  }
  const bool copied = copyAll(source, target);
  closeKeepingErrno(source);
  if (!copied) {
    discardTemporary(target, temporary);
    return -1;
  }
  return target;
}

}  // namespace

FileError lastFileError() { return lastError; }

bool statPath(const std::string& path, FileStatus& status) {
  struct stat info;
  if (::stat(toSystemPath(path).c_str(), &info) != 0) return failWithErrno();
  fillStatus(info, status);
  return true;
}

bool linkStatusOf(const std::string& path, FileStatus& status) {
  struct stat info;
  if (::lstat(toSystemPath(path).c_str(), &info) != 0) return failWithErrno();
  fillStatus(info, status);
  return true;
}

bool isDirectory(const std::string& path) {
  FileStatus status;
  return statPath(path, status) && status.isDirectory;
}

bool isRegularFile(const std::string& path) {
  FileStatus status;
  return statPath(path, status) && status.isRegular;
}

bool canSearch(const std::string& path) {
  if (!isDirectory(path)) return false;
  if (::faccessat(AT_FDCWD, toSystemPath(path).c_str(), X_OK, AT_EACCESS) != 0) return failWithErrno();
  return true;
}

bool makeDirectory(const std::string& path) {
  const std::string system = toSystemPath(path);
  if (::mkdir(system.c_str(), 0755) != 0) return failWithErrno();
  if (const int shared = sharedModeFor(system, true); shared >= 0) ::chmod(system.c_str(), static_cast<mode_t>(shared));
  return true;
}

bool removeDirectory(const std::string& path) {
  if (::rmdir(toSystemPath(path).c_str()) != 0) {
    // Linux may answer EEXIST for a folder that is not empty.
    if (errno == EEXIST) errno = ENOTEMPTY;
    return failWithErrno();
  }
  return true;
}

bool removeFile(const std::string& path) {
  if (::unlink(toSystemPath(path).c_str()) != 0) return failWithErrno();
  return true;
}

bool renameNoReplace(const std::string& from, const std::string& to) {
  std::string source = toSystemPath(from);
  std::string target = toSystemPath(to);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return failWithErrno();

  // The file system may not know the flag (EINVAL also means "a folder into
  // itself", which the plain rename below reports again).
  struct stat info;
  if (::lstat(source.c_str(), &info) != 0) return failWithErrno();
  if (!S_ISDIR(info.st_mode)) {
    if (::link(source.c_str(), target.c_str()) == 0) {
      if (::unlink(source.c_str()) == 0) return true;
      int saved = errno;
      ::unlink(target.c_str());
      errno = saved;
      return failWithErrno();
    }
    if (errno == EEXIST) return failWithErrno();
  }
  if (::lstat(target.c_str(), &info) == 0) return fail(FileError::Exists);
  if (::rename(source.c_str(), target.c_str()) != 0) return failWithErrno();
  return true;
}

bool setWritable(const std::string& path, bool writable) {
  std::string system = toSystemPath(path);
  struct stat info;
  if (::stat(system.c_str(), &info) != 0) return failWithErrno();
  mode_t mode = info.st_mode & 07777;
  if (writable) {
    mode |= S_IWUSR;
  } else {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  }
  if (::chmod(system.c_str(), mode) != 0) return failWithErrno();
  return true;
}

bool touchFile(const std::string& path) {
  int descriptor = openRegular(path, O_WRONLY);
  if (descriptor < 0) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = 0;
  times[1].tv_nsec = UTIME_NOW;
  bool okay = ::futimens(descriptor, times) == 0 || failWithErrno();
  closeKeepingErrno(descriptor);
  return okay;
}

bool listFolder(const std::string& path, std::vector<ListedEntry>& entries) {
  entries.clear();
  std::string system = toSystemPath(path);
  int folder = ::open(system.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (folder < 0) return failWithErrno();
  DIR* stream = ::fdopendir(folder);
  if (stream == nullptr) {
    closeKeepingErrno(folder);
    return failWithErrno();
  }
  while (struct dirent* entry = ::readdir(stream)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat info;
    // An entry that vanished since readdir is left out.
    if (::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    ListedEntry listed;
    listed.name = entry->d_name;
    listed.isDirectory = S_ISDIR(info.st_mode);
    listed.size = listed.isDirectory ? 0 : static_cast<std::uint64_t>(info.st_size);
    listed.modificationTime = static_cast<std::int64_t>(info.st_mtime);
    listed.modificationNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    entries.push_back(std::move(listed));
  }
  ::closedir(stream);
  std::sort(entries.begin(), entries.end(),
            [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
  return true;
}

bool readFile(const std::string& path, std::string& contents, std::size_t maxBytes) {
  contents.clear();
  int descriptor = openRegular(path, O_RDONLY);
  if (descriptor < 0) return false;
  char buffer[65536];
  while (contents.size() < maxBytes) {
    std::size_t want = std::min(sizeof buffer, maxBytes - contents.size());
    ssize_t got = ::read(descriptor, buffer, want);
    if (got < 0) {
      if (errno == EINTR) continue;
      failWithErrno();
      closeKeepingErrno(descriptor);
      contents.clear();
      return false;
    }
    if (got == 0) break;
    contents.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(descriptor);
  return true;
}

bool writeFileAtomic(const std::string& path, const std::string& contents) {
  std::string temporary;
  int descriptor = createTemporaryBeside(path, temporary);
  if (descriptor < 0) return false;
  if (!writeAllTo(descriptor, contents.data(), contents.size())) {
    discardTemporary(descriptor, temporary);
    return false;
  }
  return commitTemporary(descriptor, temporary, path);
}

bool copyFileAtomic(const std::string& from, const std::string& to) {
  std::string temporary;
  int target = copyIntoTemporaryBeside(from, to, temporary);
  if (target < 0) return false;
  return commitTemporary(target, temporary, to);
}

bool moveFileNoReplace(const std::string& from, const std::string& to) {
  if (renameNoReplace(from, to)) return true;
  if (lastError != FileError::CrossDevice) return false;
  std::string temporary;
  int target = copyIntoTemporaryBeside(from, to, temporary);
  if (target < 0) return false;
  bool okay = ::fsync(target) == 0 || failWithErrno();
  if (::close(target) != 0 && okay) okay = failWithErrno();
  // The copy takes the name only when nothing has it, as a rename would.
  okay = okay && renameNoReplace(fromSystemPath(temporary), to);
  if (!okay) {
    const FileError error = lastError;
    ::unlink(temporary.c_str());
    return fail(error);
  }
  ::unlink(toSystemPath(from).c_str());
  return true;
}

bool isLinkFreeBelow(const std::string& root, const std::string& path, bool lastMayBeLink) {
  std::string base = toSystemPath(root);
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string full = toSystemPath(path);
  while (full.size() > base.size() && full.back() == '/') full.pop_back();
  if (full.compare(0, base.size(), base) != 0) return fail(FileError::Invalid);
  if (full.size() > base.size() && full[base.size()] != '/' && base != "/") return fail(FileError::Invalid);
  std::string current = base;
  std::size_t start = base.size();
  while (start < full.size()) {
    std::size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    const std::string part = full.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (part == "..") return fail(FileError::Invalid);
    if (part == ".") continue;  // the folder before it, checked already
    current += (current.back() == '/' ? "" : "/") + part;
    struct stat info;
    // What does not exist yet is no link; what cannot be looked at is left
    // to the call that uses the path.
    if (::lstat(current.c_str(), &info) != 0) return true;
    if (S_ISLNK(info.st_mode) && !(lastMayBeLink && start > full.size())) return fail(FileError::Invalid);
  }
  return true;
}

// ReplacingFile

ReplacingFile::~ReplacingFile() { discard(); }

bool ReplacingFile::open(const std::string& target) {
  discard();
  descriptor_ = createTemporaryBeside(target, temporary_);
  if (descriptor_ < 0) {
    temporary_.clear();
    return false;
  }
  target_ = target;
  return true;
}

bool ReplacingFile::write(const void* data, std::size_t length) {
  if (descriptor_ < 0) return fail(FileError::Invalid);
  return writeAllTo(descriptor_, static_cast<const char*>(data), length);
}

bool ReplacingFile::commit() {
  if (descriptor_ < 0) return fail(FileError::Invalid);
  const bool okay = commitTemporary(descriptor_, temporary_, target_);
  descriptor_ = -1;
  temporary_.clear();
  return okay;
}

void ReplacingFile::discard() {
  if (descriptor_ < 0) return;
  discardTemporary(descriptor_, temporary_);
  descriptor_ = -1;
  temporary_.clear();
}

// File

File::~File() { close(); }

File::File(File&& other) noexcept : descriptor_(other.descriptor_) { other.descriptor_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    descriptor_ = other.descriptor_;
    other.descriptor_ = -1;
  }
  return *this;
}

bool File::open(const std::string& path, Mode mode) {
  close();
  int flags = O_RDONLY;
  switch (mode) {
    case Read: flags = O_RDONLY; break;
    case Write: flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case Append: flags = O_WRONLY | O_CREAT | O_APPEND; break;
    case ReadWrite: flags = O_RDWR | O_CREAT; break;
    case CreateNew: flags = O_RDWR | O_CREAT | O_EXCL; break;
  }
  descriptor_ = openRegular(path, flags);
  return descriptor_ >= 0;
}

bool File::close() {
  if (descriptor_ < 0) return true;
  const int result = ::close(descriptor_);
  descriptor_ = -1;
  return result == 0 || errno == EINTR;
}

long File::read(void* buffer, std::size_t length) {
  if (descriptor_ < 0) {
    fail(FileError::Invalid);
    return -1;
  }
  for (;;) {
    ssize_t got = ::read(descriptor_, buffer, length);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) {
      failWithErrno();
      return -1;
    }
  }
}

bool File::write(const void* data, std::size_t length) {
  if (descriptor_ < 0) return fail(FileError::Invalid);
  return writeAllTo(descriptor_, static_cast<const char*>(data), length);
}

bool File::seek(std::int64_t offset) {
  if (descriptor_ < 0) return fail(FileError::Invalid);
  if (::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) < 0) return failWithErrno();
  return true;
}

std::int64_t File::size() const {
  struct stat info;
  if (descriptor_ < 0 || ::fstat(descriptor_, &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool File::flush() {
  if (descriptor_ < 0) return fail(FileError::Invalid);
  if (::fsync(descriptor_) != 0) return failWithErrno();
  return true;
}

// FileLock

namespace {

int lockDescriptor(const std::string& path, int operation) {
  const std::string system = toSystemPath(path);
  int descriptor = ::open(system.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
  if (descriptor >= 0) {
    if (const int shared = sharedModeFor(system, false); shared >= 0) ::fchmod(descriptor, static_cast<mode_t>(shared));
  } else if (errno == EEXIST) {
    descriptor = ::open(system.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  }
  // A lock file that another user made (a shared folder) may be read-only to
  // this one; flock needs no write access.
  if (descriptor < 0 && errno == EACCES) {
    descriptor = ::open(system.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  }
  if (descriptor < 0) {
    failWithErrno();
    return -1;
  }
  int result;
  do {
    result = ::flock(descriptor, operation);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    failWithErrno();
    closeKeepingErrno(descriptor);
    return -1;
  }
  return descriptor;
}

}  // namespace

FileLock::~FileLock() { unlock(); }

bool FileLock::lock(const std::string& path) {
  unlock();
  descriptor_ = lockDescriptor(path, LOCK_EX);
  return descriptor_ >= 0;
}

bool FileLock::tryLock(const std::string& path) {
  unlock();
  descriptor_ = lockDescriptor(path, LOCK_EX | LOCK_NB);
  return descriptor_ >= 0;
}

void FileLock::unlock() {
  if (descriptor_ >= 0) {
    ::flock(descriptor_, LOCK_UN);
    ::close(descriptor_);
    descriptor_ = -1;
  }
}

}  // namespace platform
