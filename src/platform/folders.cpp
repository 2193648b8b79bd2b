// The well-known folders from their variables and defaults.
#include "platform/folders.h"

#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string withoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// $HOME + suffix, or empty without a home.
std::string underHome(const char* suffix) {
  std::string home = variable("HOME");
  if (home.empty()) return std::string();
  return withoutTrailingSeparator(home) + suffix;
}

std::string parentOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string programFilesDefault() {
  std::string exe;
  char buffer[4096];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return std::string();
  exe.assign(buffer, static_cast<std::size_t>(length));
  return parentOf(parentOf(exe));
}

std::string firstOf(const char* own, const char* xdg, const char* homeSuffix) {
  std::string value = variable(own);
  if (value.empty() && xdg != nullptr) value = variable(xdg);
  if (value.empty() && homeSuffix != nullptr) value = underHome(homeSuffix);
  return withoutTrailingSeparator(value);
}

}  // namespace

std::string shellFolder(ShellFolder which) {
  switch (which) {
    case ShellFolder::Documents:
      return firstOf("VARLUME_DOCUMENTS_DIR", "XDG_DOCUMENTS_DIR", "/Documents");
    case ShellFolder::RoamingAppData:
      return firstOf("VARLUME_APPDATA_DIR", nullptr, "");
    case ShellFolder::LocalAppData:
      return firstOf("VARLUME_LOCAL_APPDATA_DIR", "XDG_DATA_HOME", "/.local/share");
    case ShellFolder::CommonAppData:
      return firstOf("VARLUME_COMMON_APPDATA_DIR", "XDG_CONFIG_HOME", "/.config");
    case ShellFolder::ProgramFiles: {
      std::string value = withoutTrailingSeparator(variable("VARLUME_PROGRAM_FILES_DIR"));
      return value.empty() ? programFilesDefault() : value;
    }
  }
  return std::string();
}

}  // namespace platform
