// One file part of a multipart request, as the framework stored it: the form
// field and the file name the client sent (raw, neither cleaned nor decoded)
// and the temporary file the framework itself created for the part's bytes.
// Only `tempPath` ever names a file on disk.
#pragma once
#include <string>

struct VLUploadedFile {
  std::string fieldName;
  std::string clientName;
  std::string tempPath;
  // False when the part's bytes could not all be written to `tempPath`: such
  // a part is never stored as if it were whole.
  bool complete = true;
};
