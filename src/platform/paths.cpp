// Path forms and the working folder.
#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

std::string toSystemPath(std::string_view path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

std::string fromSystemPath(std::string_view path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

std::string workingFolder() {
  char buffer[4096];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  return fromSystemPath(buffer);
}

bool setWorkingFolder(const std::string& path) {
  return ::chdir(toSystemPath(path).c_str()) == 0;
}

namespace {

// The working folder of any length in "/" form; false when it cannot be read.
bool systemWorkingFolder(std::string& folder) {
  char* found = ::getcwd(nullptr, 0);
  if (found == nullptr) return false;
  folder = found;
  std::free(found);
  return true;
}

// Joins the components of `path` ("/" or "\" separated, absolute) into "\"
// form, dropping empty and "." components and letting ".." remove the one
// before it (".." at the root stays at the root).
std::string canonical(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  if (parts.empty()) return "\\";
  std::string result;
  for (const std::string& part : parts) {
    result += '\\';
    result += part;
  }
  // A name that ends with a separator keeps it, as the caller wrote it.
  if (!path.empty() && (path.back() == '\\' || path.back() == '/')) result += '\\';
  return result;
}

}  // namespace

std::size_t fullPathName(const char* name, char* buffer, std::size_t size) {
  if (name == nullptr) return 0;
  std::string text(name);
  std::string joined;
  if (!text.empty() && (text[0] == '\\' || text[0] == '/')) {
    joined = text;
  } else {
    std::string folder;
    if (!systemWorkingFolder(folder)) return 0;
    joined = folder + "/" + text;
  }
  std::string result = canonical(joined);
  if (buffer == nullptr || result.size() + 1 > size) return result.size() + 1;
  std::memcpy(buffer, result.c_str(), result.size() + 1);
  return result.size();
}

}  // namespace platform
