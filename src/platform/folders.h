// The five well-known folders. Each is set by its own environment variable and
// otherwise takes a documented default; all programs use this one call, so
// they agree. Results are system paths without a trailing separator.
//   documents        VARLUME_DOCUMENTS_DIR      else $XDG_DOCUMENTS_DIR, else $HOME/Documents
//   roaming app data VARLUME_APPDATA_DIR        else $HOME
//   local app data   VARLUME_LOCAL_APPDATA_DIR  else $XDG_DATA_HOME, else $HOME/.local/share
//   common app data  VARLUME_COMMON_APPDATA_DIR else $XDG_CONFIG_HOME, else $HOME/.config
//   program files    VARLUME_PROGRAM_FILES_DIR  else the folder above the running program's folder
#pragma once
#include <string>

namespace platform {

enum class ShellFolder { Documents, RoamingAppData, LocalAppData, CommonAppData, ProgramFiles };

// Empty when the folder cannot be worked out (no variable, no home).
std::string shellFolder(ShellFolder which);

}  // namespace platform
