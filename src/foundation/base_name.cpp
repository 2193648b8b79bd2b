#include "foundation/base_name.h"

std::string_view baseName(std::string_view path) {
  // Down to index 1: a "\" at index 0 does not count.
  for (std::size_t i = path.size(); i > 1; --i) {
    if (path[i - 1] == '\\') return path.substr(i);
  }
  return path;
}

const char* baseName(const char* path) {
  if (path == nullptr) return nullptr;
  return baseName(std::string_view(path)).data();
}
