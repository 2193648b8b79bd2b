#include "varlumefile/names.h"

#include <cstring>
#include <vector>

#include "foundation/strings.h"
#include "foundation/url_escape.h"

namespace {

// Cuts every occurrence of `piece` as a search from the start after each cut
// would, in one pass: each character is appended and a piece that the
// appended text now ends with is taken off again (for ":", ".." and "//" the
// two give the same text). True when something was cut.
bool cutAll(std::string& name, const char* piece) {
  const std::size_t length = std::strlen(piece);
  std::string kept;
  kept.reserve(name.size());
  bool changed = false;
  for (char c : name) {
    kept.push_back(c);
    if (kept.size() >= length && kept.compare(kept.size() - length, length, piece) == 0) {
      kept.resize(kept.size() - length);
      changed = true;
    }
  }
  if (changed) name.swap(kept);
  return changed;
}

}  // namespace

std::string& cleanName(std::string& name) {
  for (;;) {
    bool changed = cutAll(name, "..");
    changed = cutAll(name, "//") || changed;
    if (!changed) return name;
  }
}

std::string& sanitizeName(std::string& name) {
  for (;;) {
    bool changed = cutAll(name, ":");
    changed = cutAll(name, "..") || changed;
    changed = cutAll(name, "//") || changed;
    if (!changed) return name;
  }
}

std::string& applyNameRule(VLNameRule rule, std::string& name) {
  return rule == VLNameRule::Clean ? cleanName(name) : sanitizeName(name);
}

bool decodeNameOnce(const std::string& raw, std::string& decoded) {
  if (raw.size() > kMaxNameBytes) return false;
  std::vector<char> buffer(raw.size() + 10, '\0');
  const std::size_t written = urlDecodeInto(raw.c_str(), buffer.data(), buffer.size());
  decoded.assign(buffer.data());
  // urlDecode stops at a decoded NUL without a word: the name would be cut.
  if (decoded.size() != written) return false;
  return decoded.find('%') == std::string::npos;
}

bool hasParentPart(const std::string& path) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find_first_of("/\\", start);
    std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..") return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

std::string joinUnderRoot(const std::string& root, const std::string& name) {
  if (name.empty()) return root;
  return root + (name.front() == '/' ? name.substr(1) : name);
}

std::string refusedNameText(const std::string& text) { return text + " is not an allowed name."; }
