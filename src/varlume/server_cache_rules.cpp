// VLServer's cache rules: the two rule files and the lifetime of a request.
#include "foundation/strings.h"
#include "varlume/cache_forever_types.h"
#include "varlume/rule_file_text.h"
#include "varlume/server.h"

bool VLServer::loadCacheTypes(const std::string& path) {
  std::string text;
  if (!readRuleFileText(path, text)) return false;
  cacheTypes.clear();
  for (const std::string& raw : ruleFileLines(text, true)) {
    const std::string line = toUpper(trim(raw, true));
    if (line.empty()) continue;
    const std::size_t e = line.find('=');
    const std::string extension = trim(line.substr(0, e), true);
    const bool flag = e == std::string::npos || e + 1 == line.size() ||
                      toUpper(trim(line.substr(e + 1), true)) == "TRUE";
    cacheTypes[extension] = flag;
  }
  return true;
}

bool VLServer::loadCacheDomains(const std::string& path) {
  std::string p = path;
  return cacheRules.parseCacheDomains(replaceAll("/", "\\", p));
}

bool VLServer::isCacheForeverType(const std::string& extension) const {
  const auto entry = cacheTypes.find(extension);
  if (entry != cacheTypes.end()) return entry->second;
  return isBuiltInForeverType(extension);
}

int VLServer::cacheLifetime(const std::string& pageHost, const std::string& url,
                            std::string& key) const {
  const int ruled = cacheRules.lookupCacheRule(pageHost, url, key);
  if (ruled != -2) return ruled;
  const std::size_t dot = key.rfind('.');
  if (dot == std::string::npos || dot + 1 == key.size()) return 0;
  const std::string ext = toUpper(trim(key.substr(dot + 1), true));
  if (isCacheForeverType(ext)) return -1;
  const bool shortLived =
      ext == "HTML" || ext == "HTM" || ext == "SHTML" || ext == "DHTML" || ext == "CSS";
  if (url.find('?') == std::string::npos && shortLived) return 600;
  return 0;
}
