#include "varlume/startup_folders.h"

#include "foundation/directory_texts.h"
#include "foundation/privileged_host.h"
#include "platform/file_modes.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/paths.h"

namespace {

std::string shellFolderText(platform::ShellFolder which) {
  return platform::fromSystemPath(platform::shellFolder(which));
}

}  // namespace

VLStartupFolders workOutFolders() {
  VLStartupFolders folders;
  folders.documents = shellFolderText(platform::ShellFolder::Documents);
  folders.userFolder = varlumeFolderIn(shellFolderText(platform::ShellFolder::LocalAppData));
  folders.allUsersFolder = varlumeFolderIn(shellFolderText(platform::ShellFolder::CommonAppData));
  folders.programFolder = varlumeFolderIn(shellFolderText(platform::ShellFolder::ProgramFiles));
  folders.dataRoot = varlumeFolderIn(folders.documents);
  folders.privilegedFolder = folders.dataRoot + kPrivilegedHost + "\\";
  // The all-users folder may be shared by the users of one port-set
  // sequence: what is made there keeps the modes the program started with.
  platform::shareNewFilesUnder(folders.allUsersFolder);
  // New folders are private; one that an earlier start made wider is
  // made private again.
  for (const std::string& own : {folders.userFolder, folders.userFolder + "Temp\\", folders.dataRoot}) {
    platform::makeFolderPrivate(own);
  }
  return folders;
}

bool makeFolderPath(const std::string& path) {
  std::string ignored;
  return makeFolderPath(path, ignored);
}

bool makeFolderPath(const std::string& path, std::string& message) {
  if (path.empty()) return false;
  if (platform::isDirectory(path)) return true;
  // Another process may make the same folder at the same moment.
  auto make = [&](const std::string& folder) {
    if (platform::makeDirectory(folder)) return true;
    const platform::FileError error = platform::lastFileError();
    if (platform::isDirectory(folder)) return true;
    message += folderCreationText(error, folder.substr(folder.rfind('\\') + 1));
    return false;
  };
  // Every prefix that ends before a "\" is a parent, from the top down; a
  // leading "\" is the root, which exists.
  for (std::size_t end = path.find('\\', 1); end != std::string::npos;
       end = path.find('\\', end + 1)) {
    std::string parent = path.substr(0, end);
    if (parent.empty() || parent.back() == '\\' || platform::isDirectory(parent)) continue;
    if (!make(parent)) return false;
  }
  return make(path);
}
