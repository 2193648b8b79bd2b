#include "varlumefile/names.h"

#include <cstring>
#include <vector>

#include "foundation/strings.h"
#include "foundation/url_escape.h"

namespace {

// Cuts every occurrence of `piece`, searching again from the start each time;
// true when something was cut.
bool cutAll(std::string& name, const char* piece) {
  const std::size_t length = std::strlen(piece);
  bool changed = false;
  std::size_t from = 0;
  for (std::size_t at = name.find(piece, from); at != std::string::npos; at = name.find(piece, from)) {
    name.erase(at, length);
    changed = true;
    // Only text before the cut can join the text after it into a new
    // occurrence, and such an occurrence starts at most length - 1 earlier.
    from = at >= length - 1 ? at - (length - 1) : 0;
  }
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
