#include "varlume/cache_rules.h"

#include <algorithm>

#include "foundation/decimal.h"
#include "foundation/query_string.h"
#include "foundation/strings.h"
#include "varlume/rule_file_text.h"

namespace {

bool beginsWith(const std::string& text, const char* word) {
  return text.compare(0, std::char_traits<char>::length(word), word) == 0;
}

// A keyword that ends in "=" counts only when the text is longer than it.
bool hasKeyword(const std::string& text, const char* keyword) {
  return text.size() > std::char_traits<char>::length(keyword) && beginsWith(text, keyword);
}

std::string afterKeyword(const std::string& text, const char* keyword) {
  return text.substr(std::char_traits<char>::length(keyword));
}

// The text up to the first "&" (or the end), trimmed.
std::string upToAmpersand(const std::string& text) {
  return trim(text.substr(0, text.find('&')), true);
}

// The text after the first "&" as it stands; empty when there is none.
std::string afterAmpersand(const std::string& text) {
  const std::size_t amp = text.find('&');
  return amp == std::string::npos ? std::string() : text.substr(amp + 1);
}

// Adds `name` to a member list joined by "&".
void addMember(std::string& list, const std::string& text) {
  const std::string name = toUpper(trim(text, true));
  if (name.empty() || name.find('&') != std::string::npos) return;
  std::size_t start = 0;
  while (!list.empty() && start <= list.size()) {
    std::size_t end = list.find('&', start);
    if (end == std::string::npos) end = list.size();
    if (list.compare(start, end - start, name) == 0 && end - start == name.size()) return;
    start = end + 1;
  }
  list = list.empty() ? name : list + "&" + name;
}

int memberCount(const std::string& list) {
  if (list.empty()) return 0;
  return static_cast<int>(std::count(list.begin(), list.end(), '&')) + 1;
}

std::string memberAt(const std::string& list, int n) {
  if (n < 0 || n >= memberCount(list)) return std::string();
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) start = list.find('&', start) + 1;
  const std::size_t end = list.find('&', start);
  return list.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Reads the items of a rule line into `rule`; members only when `members`.
void readItems(const std::string& items, VLClassRule& rule, bool members) {
  std::string rest = items;
  while (!rest.empty()) {
    const std::string value = hasKeyword(rest, "SPECIALMEMBER=")   ? afterKeyword(rest, "SPECIALMEMBER=")
                              : hasKeyword(rest, "IGNOREMEMBER=")  ? afterKeyword(rest, "IGNOREMEMBER=")
                              : hasKeyword(rest, "CLEARONPOST=")   ? afterKeyword(rest, "CLEARONPOST=")
                              : hasKeyword(rest, "EXPIRYSECONDS=") ? afterKeyword(rest, "EXPIRYSECONDS=")
                                                                   : std::string();
    const std::string item = upToAmpersand(value);
    if (members && hasKeyword(rest, "SPECIALMEMBER=")) {
      rule.addSpecialMember(item);
    } else if (members && hasKeyword(rest, "IGNOREMEMBER=")) {
      rule.addIgnoreMember(item);
    } else if (hasKeyword(rest, "CLEARONPOST=")) {
      rule.setClearOnPost(item == "YES");
    } else if (hasKeyword(rest, "EXPIRYSECONDS=")) {
      rule.setExpiry(readDecimal(item));
    }
    // The item's own value never holds an "&", so the next item starts
    // after the first "&" of the remaining text in every case.
    const std::size_t amp = rest.find('&');
    rest = amp == std::string::npos ? std::string() : trim(rest.substr(amp + 1), true);
  }
}

}  // namespace

// VLClassRule

void VLClassRule::setClass(const std::string& text) { className = toUpper(trim(text, true)); }
void VLClassRule::addSpecialMember(const std::string& name) { addMember(specialMembers, name); }
void VLClassRule::addIgnoreMember(const std::string& name) { addMember(ignoreMembers, name); }
int VLClassRule::specialMemberCount() const { return memberCount(specialMembers); }
int VLClassRule::ignoreMemberCount() const { return memberCount(ignoreMembers); }
std::string VLClassRule::specialMemberAt(int n) const { return memberAt(specialMembers, n); }
std::string VLClassRule::ignoreMemberAt(int n) const { return memberAt(ignoreMembers, n); }

// VLDomainRule

void VLDomainRule::clear() {
  name.clear();
  classRules.clear();
}

void VLDomainRule::setClass(const std::string& text) { name = toUpper(trim(text, true)); }

void VLDomainRule::addClassRule(const VLClassRule& rule) {
  if (rule.getClass().empty()) return;
  for (VLClassRule& present : classRules) {
    if (present.getClass() == rule.getClass()) {
      present = rule;
      return;
    }
  }
  classRules.push_back(rule);
}

const VLClassRule* VLDomainRule::classRuleAt(int index) const {
  if (index < 0 || index >= classRuleCount()) return nullptr;
  return &classRules[static_cast<std::size_t>(index)];
}

// VLCacheRules

void VLCacheRules::clear() {
  hostMap.clear();
  classDomains.clear();
}

bool VLCacheRules::parseCacheDomains(const std::string& path) {
  std::string text;
  if (!readRuleFileText(path, text)) return false;
  parseCacheDomainsText(text);
  return true;
}

void VLCacheRules::parseCacheDomainsText(const std::string& text) {
  VLDomainRule pending;
  VLClassRule current;
  auto close = [&] {
    classDomains.push_back(pending);
    pending.clear();
  };
  for (const std::string& raw : ruleFileLines(text, false)) {
    const std::string line = toUpper(trim(raw, true));
    if (line.empty() || line[0] == '#') continue;
    const bool named = !pending.getClass().empty();
    if (hasKeyword(line, "CLASSDOMAIN=")) {
      if (named) {
        close();
        current.reset();
      }
      const std::string name = toUpper(trim(afterKeyword(line, "CLASSDOMAIN="), true));
      if (!name.empty()) pending.setClass(name);
    } else if (beginsWith(line, "CACHE=NO")) {
      if (!named) continue;
      current.setExpiry(0);
      current.setClass("*");
      pending.addClassRule(current);
      close();
      current.reset();
    } else if (named && hasKeyword(line, "CACHEFULLURL=")) {
      const std::string rest = afterKeyword(line, "CACHEFULLURL=");
      current.setClass(upToAmpersand(rest));
      readItems(afterAmpersand(rest), current, true);
      pending.addClassRule(current);
      current.reset();
    } else if (named && (hasKeyword(line, "CACHEHTML=") || hasKeyword(line, "CACHECSS=") ||
                         hasKeyword(line, "CACHEJS="))) {
      const char* keyword = hasKeyword(line, "CACHEHTML=")  ? "CACHEHTML="
                            : hasKeyword(line, "CACHECSS=") ? "CACHECSS="
                                                            : "CACHEJS=";
      const std::string rest = afterKeyword(line, keyword);
      const std::string kind = std::string(keyword + 5, std::char_traits<char>::length(keyword) - 6);
      current.setClass(upToAmpersand(rest) == "YES" ? kind : std::string());
      readItems(afterAmpersand(rest), current, false);
      if (!current.getClass().empty()) {
        pending.addClassRule(current);
        if (current.getClass() == "HTML") {
          for (const char* copy : {"HTM", "SHTML", "DHTML"}) {
            VLClassRule rule = current;
            rule.setClass(copy);
            pending.addClassRule(rule);
          }
        }
      }
      current.reset();
    } else if (hasKeyword(line, "DOMAIN=")) {
      if (named) close();
      const std::size_t amp = line.find('&');
      if (amp == std::string::npos) continue;
      const std::string host = trim(line.substr(7, amp - 7), true);
      const std::string rest = trim(line.substr(amp + 1), true);
      if (host.empty() || !hasKeyword(rest, "CLASSDOMAIN=")) continue;
      const std::string target = trim(afterKeyword(rest, "CLASSDOMAIN="), true);
      for (std::size_t i = 0; i < classDomains.size(); ++i) {
        if (classDomains[i].getClass() == target) {
          hostMap[host] = i;
          break;
        }
      }
    }
  }
}

const VLDomainRule* VLCacheRules::domainFor(const std::string& pattern) const {
  const auto found = hostMap.find(pattern);
  if (found == hostMap.end() || found->second >= classDomains.size()) return nullptr;
  return &classDomains[found->second];
}

int VLCacheRules::lookupCacheRule(const std::string& host, const std::string& url,
                                  std::string& key) const {
  const std::string h = toUpper(trim(host, true));
  key.clear();
  const std::size_t mark = url.find('?');
  std::string path = url;
  std::string query;
  if (mark != std::string::npos && mark + 1 < url.size()) {
    path = url.substr(0, mark);
    query = url.substr(mark + 1);
  }
  key = path;

  // h, "*." + h, then "*" + each shorter suffix that keeps two labels.
  const VLDomainRule* domain = domainFor(h);
  if (domain == nullptr) domain = domainFor("*." + h);
  for (std::string d = h; domain == nullptr;) {
    const std::size_t skip = !d.empty() && d[0] == '*' ? 2 : (!d.empty() && d[0] == '.' ? 1 : 0);
    const std::size_t p = d.find('.', skip);
    if (p == std::string::npos) return -2;
    d = d.substr(p);
    if (d == "." || d.find('.', 1) == std::string::npos) return -2;
    domain = domainFor("*" + d);
  }

  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot + 1 == path.size()) return -2;
  const std::string ext = toUpper(path.substr(dot + 1));
  const VLClassRule* rule = nullptr;
  for (int i = 0; i < domain->classRuleCount() && rule == nullptr; ++i) {
    if (domain->classRuleAt(i)->getClass() == ext) rule = domain->classRuleAt(i);
  }
  if (rule == nullptr) return -2;
  // A negative lifetime other than -1 keeps no copy; it is never taken for
  // "no rule" (-2), which would let the built-in policy keep one.
  if (rule->getExpiry() == 0 || (rule->getExpiry() < 0 && rule->getExpiry() != -1)) return 0;

  std::vector<std::string> items;
  const int pairs = countPairs(query);
  for (int n = 0; n < pairs; ++n) {
    std::string name;
    std::string value;
    queryPair(name, value, query, n);
    bool ignored = false;
    for (int m = 0; m < rule->ignoreMemberCount() && !ignored; ++m) {
      ignored = name == rule->ignoreMemberAt(m);
    }
    if (ignored) continue;
    const std::string item = name + "_EQ_" + value;
    items.insert(std::lower_bound(items.begin(), items.end(), item), item);
  }
  if (!items.empty()) {
    key += "_Q_";
    for (std::size_t i = 0; i < items.size(); ++i) key += (i > 0 ? "_AMP_" : "") + items[i];
  }
  return rule->getExpiry();
}
