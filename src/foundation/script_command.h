// The request line that only a page's own script can send: a navigation, a
// link, a form, an image or a frame sends no header line of its choosing,
// and another site's script would need a CORS preflight that no service
// grants. A command of the privileged host that changes anything runs only
// for a request that carries it (the portal's script sends it).
#pragma once
#include <string>

#include "foundation/strings.h"

inline constexpr char kScriptCommandHeader[] = "X-Varlume-Command";

// Whether a header line (its line end included or not) is that line: its
// name in any letter case, then ":".
inline bool isScriptCommandLine(const std::string& line) {
  const std::string name = std::string(kScriptCommandHeader) + ":";
  return line.size() >= name.size() && toUpper(line.substr(0, name.size())) == toUpper(name);
}
