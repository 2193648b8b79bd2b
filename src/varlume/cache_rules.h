// The rule containers of "CacheDomains.txt": class rules (how long one class
// of resource is kept), class domains (a named group of class rules) and the
// rule set that maps host patterns to class domains. Filled once at start-up
// on the main thread; afterwards only read, without locks, so no look-up
// ever changes them.
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <vector>

class VLClassRule {
 public:
  VLClassRule() = default;
  void reset() { *this = VLClassRule(); }

  void setClass(const std::string& text);
  std::string getClass() const { return className; }
  void setClearOnPost(bool flag) { clearOnPost = flag; }
  bool getClearOnPost() const { return clearOnPost; }
  void setExpiry(int seconds) { expirySeconds = seconds; }
  int getExpiry() const { return expirySeconds; }
  bool isCached() const { return expirySeconds != 0; }

  // Names are trimmed and upper-cased; an empty name, one holding "&" or one
  // already listed is left out.
  void addSpecialMember(const std::string& name);
  void addIgnoreMember(const std::string& name);
  int specialMemberCount() const;
  int ignoreMemberCount() const;
  // Item n (from 0); empty outside the list.
  std::string specialMemberAt(int n) const;
  std::string ignoreMemberAt(int n) const;

 private:
  std::string className;
  std::string specialMembers;  // upper-case names joined by "&"
  std::string ignoreMembers;
  bool clearOnPost = true;
  int expirySeconds = 180;
};

class VLDomainRule {
 public:
  void clear();
  void setClass(const std::string& text);  // the name, trimmed and upper-cased
  std::string getClass() const { return name; }
  // Overwrites the rule of the same class in place, else appends a copy;
  // a rule without a class is left out.
  void addClassRule(const VLClassRule& rule);
  int classRuleCount() const { return static_cast<int>(classRules.size()); }
  // Null outside 0 .. count - 1.
  const VLClassRule* classRuleAt(int index) const;

 private:
  std::string name;
  std::vector<VLClassRule> classRules;
};

class VLCacheRules {
 public:
  void clear();
  // Reads "CacheDomains.txt" and adds its class domains and host mappings
  // (nothing is cleared first); false when the file cannot be read.
  bool parseCacheDomains(const std::string& path);
  // The same for the file's text.
  void parseCacheDomainsText(const std::string& text);

  // The lifetime the rules give the URL (origin form, query included) on
  // `host`: a rule's seconds, 0, or -2 when no rule applies. `key` gets the
  // cache key: the path before the first "?" and, when a rule matched, the
  // query's items sorted ("_Q_" name "_EQ_" value, joined by "_AMP_").
  int lookupCacheRule(const std::string& host, const std::string& url, std::string& key) const;

  // The class domain a host pattern maps to; null when none.
  const VLDomainRule* domainFor(const std::string& pattern) const;

  // The class domains in the order the reader closed them.
  std::vector<VLDomainRule> classDomains;
  // Upper-case host pattern -> index into classDomains (stable as it grows).
  std::map<std::string, std::size_t> hostMap;
};
