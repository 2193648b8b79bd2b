#include "varlumeevent/command_path.h"

namespace {

// Removes the first occurrence of `pair` while one exists; true when any went.
bool removeEvery(const char* pair, std::string& text) {
  bool removed = false;
  for (std::size_t at = text.find(pair); at != std::string::npos; at = text.find(pair)) {
    text.erase(at, 2);
    removed = true;
  }
  return removed;
}

}  // namespace

std::string cleanCommandPath(const std::string& path) {
  std::string text = path;
  removeEvery("..", text);
  while (removeEvery("//", text) && removeEvery("..", text)) {
  }
  return text;
}
