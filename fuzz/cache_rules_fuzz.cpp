// The cache's rule files: the input up to its first zero byte is the text of
// "CacheDomains.txt" (also cut into lines as every rule file is), the rest a
// host and a URL (split at the first blank) that are looked up in the rules.
#include <cstddef>
#include <cstdint>
#include <string>

#include "varlume/cache_rules.h"
#include "varlume/rule_file_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string text = input.substr(0, split);
  const std::string rest = split == std::string::npos ? "site.example /index.html" : input.substr(split + 1);
  const std::size_t blank = rest.find(' ');
  const std::string host = rest.substr(0, blank);
  const std::string url = blank == std::string::npos ? "/" : rest.substr(blank + 1);

  (void)ruleFileLines(text, true);
  VLCacheRules rules;
  rules.parseCacheDomainsText(text);
  std::string key;
  const int seconds = rules.lookupCacheRule(host, url, key);
  if (seconds < -2) __builtin_trap();
  for (const auto& [pattern, index] : rules.hostMap) {
    if (index >= rules.classDomains.size() || rules.domainFor(pattern) == nullptr) __builtin_trap();
  }
  return 0;
}
