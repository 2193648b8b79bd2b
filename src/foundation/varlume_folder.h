// The programs' own folder inside a well-known folder: the folder joined with
// exactly one "\" to "Varlume\", in the programs' "\" form.
#pragma once
#include <string>

// `folder` (a well-known folder in either form) joined to "Varlume\". An
// empty folder (one the system cannot give) leaves the path relative.
std::string varlumeFolderIn(const std::string& folder);
