#include "foundation/directory_texts.h"

// What a failed rename appends, chosen by the error met.
std::string renameFailureText(platform::FileError error, const std::string& o, const std::string& n) {
  using platform::FileError;
  switch (error) {
    case FileError::Permission:
      return "The directory containing " + o +
             " has the sticky bit (S_ISVTX) set and the process's effective user ID is neither "
             "the user ID of the file to be deleted nor that of the directory containing it, and "
             "the process is not privileged (Linux: does not have the CAP_FOWNER capability); or " +
             n +
             " is an existing file and the directory containing it has the sticky bit set and the "
             "process's effective user ID is neither the user ID of the file to be replaced nor "
             "that of the directory containing it, and the  process is not privileged (Linux: "
             "does not have the CAP_FOWNER capability); or the filesystem containing pathname "
             "does not support renaming of the type requested.";
    case FileError::NoEntry:
      return "A  directory component in " + o + " or " + n +
             " does not exist or is a dangling symbolic link.";
    case FileError::NoMemory:
      return "Insufficient kernel memory was available.";
    case FileError::Access:
      return "Write permission is denied for the directory containing " + o + " or " + n +
             ", or, search permission  is denied for one of the directories in the path prefix "
             "of " +
             o + " or " + n + ", or " + o +
             " is a directory and does not allow write permission (needed to update the ..  "
             "entry).";
    case FileError::Fault:
      return o + " or " + n + " points outside your accessible address space.";
    case FileError::Busy:
      return "The  rename  fails because " + o + " or " + n +
             " is a directory that is in use by some process (perhaps as current working "
             "directory, or as root directory, or because it was open for reading) or is in use "
             "by the system (for example as mount point), while the system considers this an "
             "error.";
    case FileError::CrossDevice:
      return o + " and " + n + " are not on the same filesystem.";
    case FileError::NotDirectory:
      return "A component used as a directory in " + o + " or " + n +
             " is not, in fact, a directory. Or, " + o + " is a directory, and " + n +
             " exists but is not a directory.";
    case FileError::IsDirectory:
      return n + " is an existing directory, but " + o + " is not a directory.";
    case FileError::Invalid:
      return "The new pathname contained a path prefix of the old, or, more generally, an "
             "attempt       was made to make a directory a subdirectory of itself.";
    case FileError::NoSpace:
      return "The device containing the file has no room for the new directory entry.";
    case FileError::ReadOnly:
      return "The file is on a read-only filesystem.";
    case FileError::TooManyLinks:
      return o + " already has the maximum number of links to it, or it was a directory and the "
                 "directory containing " +
             n + " has the maximum number of links.";
    case FileError::NameTooLong:
      return o + " or " + n + " was too long.";
    case FileError::NotEmpty:
      return n + " is a non-empty directory, i.e., contains entries other than (.) and (..).";
    default:
      return std::string();
  }
}

// What a failed folder creation appends, naming `p`.
std::string folderCreationText(platform::FileError error, const std::string& p) {
  using platform::FileError;
  switch (error) {
    case FileError::Permission:
      return "The filesystem containing " + p + " does not support the creation of directories.";
    case FileError::NoEntry:
      return "A directory component in " + p + " does not exist or is a dangling symbolic link.";
    case FileError::NoMemory:
      return "Insufficient kernel memory was available to create directory " + p + ".";
    case FileError::Access:
      return "The parent directory does not allow write permission to the process, or one of the "
             "directories in " +
             p + " did not allow search(execute) permission.";
    case FileError::Fault:
      return p + " points outside your accessible address space.";
    case FileError::Exists:
      return p + " already exists (not necessarily as a directory).";
    case FileError::NotDirectory:
      return "A component used as a directory in " + p + " is not, in fact, a directory.";
    case FileError::NoSpace:
      return "The device containing " + p + " has no room for the new directory.";
    case FileError::ReadOnly:
      return p + " refers to a file on a read-only filesystem.";
    case FileError::NameTooLong:
      return p + " pathname was too long.";
    default:
      return std::string();
  }
}

std::string notAFileText(const std::string& path) {
  return path + " is a directory, not a file. Cannot delete it.";
}
