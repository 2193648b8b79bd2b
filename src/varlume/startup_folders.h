// The main program's folders, each a well-known folder joined with exactly one
// "\" to "Varlume\", in the programs' "\" form and ending with "\". A folder
// the system cannot give leaves the path relative ("Varlume\").
#pragma once
#include <string>

#include "foundation/varlume_folder.h"

struct VLStartupFolders {
  std::string documents;         // the documents folder itself, no trailing "\"
  std::string userFolder;        // local application data + "Varlume\"
  std::string allUsersFolder;    // common application data + "Varlume\"
  std::string programFolder;     // program files + "Varlume\"
  std::string dataRoot;          // documents + "Varlume\"
  std::string privilegedFolder;  // dataRoot + the privileged host + "\"
};

// Also names the all-users folder as the one whose new files keep the
// modes the program started with, and takes the group and other bits off
// the user folder, its Temp and the data root where they exist.
VLStartupFolders workOutFolders();

// Creates `path` and its missing parents. The path is taken as built, never
// %XX-decoded. True when the folder exists afterwards.
bool makeFolderPath(const std::string& path);
// The same; a folder that cannot be made appends the directory helper's
// text for that step to `message`, naming the folder by its own name, as the
// helper names the folder it was asked to create within its parent.
bool makeFolderPath(const std::string& path, std::string& message);
