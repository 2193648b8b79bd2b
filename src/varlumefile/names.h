// The name rules of the file service. A client-supplied name is %XX-decoded
// exactly once (refused when a "%" is left or an escape stood for NUL), then
// cleaned by the command's rule, then joined to its root; a path with a ".."
// part is refused as well, so no name reaches outside its root however it
// was encoded. Messages show the cleaned raw text.
#pragma once
#include <cstddef>
#include <string>

// Cuts every "..", then every "//", until a whole pass changes nothing.
std::string& cleanName(std::string& name);
// Cuts every ":", then "..", then "//", likewise.
std::string& sanitizeName(std::string& name);

enum class VLNameRule { Clean, Sanitize };
// Whether a name's last part may be a link: only for the commands that act
// on an entry itself and never through it (removing or renaming it).
enum class VLLinkRule { NoLinks, LastMayBeLink };
std::string& applyNameRule(VLNameRule rule, std::string& name);

// No file name of the system is longer than this, even with every byte
// escaped: a longer name is refused before any work is done on it.
inline constexpr std::size_t kMaxNameBytes = 3 * 4096;

// The name decoded once into `decoded`; false when the result still holds
// "%" or the raw name held an escape that decodes to NUL.
bool decodeNameOnce(const std::string& raw, std::string& decoded);
// True when a part of `path`, split at "/" and "\", is "..".
bool hasParentPart(const std::string& path);
// `root` + `name` without one leading "/".
std::string joinUnderRoot(const std::string& root, const std::string& name);
// The reason of a refused name or home.
std::string refusedNameText(const std::string& text);
