// Who may read what the programs make. Every program makes its files and
// folders private to its user (owner only) from its entry on; a folder
// named as shared (the all-users folder) gives what is made below it the
// modes the program was started with. Programs' path form ("\").
#pragma once
#include <string>

namespace platform {

// From now on new files are 0600 and new folders 0700 (the process's file
// creation mask becomes 077); the mask the process was started with is
// kept for shared folders. Called once, at program entry, before threads.
void makeNewFilesPrivate();

// What is made below `folder` from now on takes the started-with mask
// (0644 files and 0755 folders under the usual mask 022). Replaces
// any folder named before.
void shareNewFilesUnder(const std::string& folder);

// The mode to give a file or folder just made at `systemPath` (system
// form), or -1 to leave it as made.
int sharedModeFor(const std::string& systemPath, bool folder);

// Takes every group and other bit off an existing folder of this user
// (an earlier start may have made it wider). True when it is private
// afterwards; false when it is missing or its mode cannot be changed.
bool makeFolderPrivate(const std::string& path);

// True when a user other than this one and root may change what `path`
// names: it, or a folder above it, belongs to another user or may be
// written by its group or by others (a folder with the sticky bit above it
// only lets others change their own entries). Links are followed; the
// folders of the path as given and of its target are both checked. True
// when any of them cannot be examined (a missing file included).
bool othersMayChange(const std::string& path);

}  // namespace platform
