#include "support/tree_snapshot.h"

#include <filesystem>
#include <system_error>

#include "support/sandbox.h"

namespace sandbox {

namespace {

namespace fs = std::filesystem;

// FNV-1a over the bytes: enough to tell a changed file from an unchanged one.
std::string hashOf(const std::string& bytes) {
  unsigned long long hash = 1469598103934665603ULL;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return std::to_string(hash);
}

void walk(const fs::path& root, const fs::path& folder, const std::function<bool(const std::string&)>& skip,
          VLTreeSnapshot& out) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const fs::path path = it->path();
    const std::string relative = fs::relative(path, root, error).generic_string();
    if (skip && skip(relative)) continue;
    const fs::file_status status = fs::symlink_status(path, error);
    if (fs::is_symlink(status)) {
      out[relative] = "link " + fs::read_symlink(path, error).string();
    } else if (fs::is_directory(status)) {
      out[relative] = "folder";
      walk(root, path, skip, out);
    } else {
      const std::string bytes = readFile(path.string()).value_or(std::string());
      out[relative] = "file " + std::to_string(bytes.size()) + " " + hashOf(bytes);
    }
  }
}

}  // namespace

VLTreeSnapshot snapshotTree(const std::string& root, const std::function<bool(const std::string&)>& skip) {
  VLTreeSnapshot out;
  walk(root, root, skip, out);
  return out;
}

std::string treeDifferences(const VLTreeSnapshot& before, const VLTreeSnapshot& after) {
  std::string lines;
  for (const auto& [path, entry] : before) {
    const auto found = after.find(path);
    if (found == after.end()) {
      lines += "gone: " + path + "\n";
    } else if (found->second != entry) {
      lines += "changed: " + path + " (" + entry + " -> " + found->second + ")\n";
    }
  }
  for (const auto& [path, entry] : after) {
    if (!before.count(path)) lines += "new: " + path + " (" + entry + ")\n";
  }
  return lines;
}

}  // namespace sandbox
