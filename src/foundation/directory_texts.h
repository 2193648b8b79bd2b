// The English texts the directory helper appends to a caller's message when
// a step fails, chosen by the error met; one source for every caller that
// reports such a step (the helper itself, the proxy's mirror files).
#pragma once
#include <string>

#include "platform/files.h"

// A failed rename of `o` to `n`.
std::string renameFailureText(platform::FileError error, const std::string& o, const std::string& n);
// A failed creation of the folder `p`.
std::string folderCreationText(platform::FileError error, const std::string& p);
// A file operation met the folder `path`.
std::string notAFileText(const std::string& path);
