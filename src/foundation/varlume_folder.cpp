#include "foundation/varlume_folder.h"

#include "platform/paths.h"

std::string varlumeFolderIn(const std::string& folder) {
  std::string path = platform::fromSystemPath(folder);
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path + "Varlume\\";
}
