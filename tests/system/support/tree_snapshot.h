// A record of a folder tree for the system tests: every entry's path below
// the root with its kind, size and a hash of its bytes (links by their
// target, never followed), so that a later record shows what changed, what
// appeared and what went.
#pragma once
#include <functional>
#include <map>
#include <string>

namespace sandbox {

// Relative path ("a/b.txt") -> "file <size> <hash>", "folder" or "link <target>".
using VLTreeSnapshot = std::map<std::string, std::string>;

// The tree under `root`; entries for which `skip(relative)` holds (when
// given) are left out with everything below them.
VLTreeSnapshot snapshotTree(const std::string& root, const std::function<bool(const std::string&)>& skip = nullptr);

// One line per entry that differs ("changed", "new", "gone"); empty when equal.
std::string treeDifferences(const VLTreeSnapshot& before, const VLTreeSnapshot& after);

}  // namespace sandbox
