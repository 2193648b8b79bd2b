#include "varlume/service_keywords.h"

#include "foundation/strings.h"

namespace {

struct ServiceKeyword {
  const char* name;
  int offset;
};

constexpr ServiceKeyword kServices[] = {
    {"DB", 1}, {"FILE", 0}, {"IMAGE", 2}, {"EVENT", 3}, {"SECURITY", 4}, {"PLUGIN", 5},
};

}  // namespace

int serviceKeywordOffset(const std::string& host) {
  const std::string upper = toUpper(trim(host, true));
  for (const ServiceKeyword& keyword : kServices) {
    if (upper == keyword.name) return keyword.offset;
  }
  return -1;
}
