#include "foundation/event_database_name.h"

#include <cctype>

namespace {

constexpr std::string_view kDatabase = "eventdatabase.db";

bool startsWithIgnoringCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != lowerPrefix[i]) return false;
  }
  return true;
}

}  // namespace

bool isEventDatabaseName(std::string_view leaf) {
  if (!startsWithIgnoringCase(leaf, kDatabase)) return false;
  return leaf.size() == kDatabase.size() || leaf[kDatabase.size()] == '-';
}
