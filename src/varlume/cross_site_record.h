// VLCrossSiteRecord: what one site declared for one page host in its
// "/varlume.txt": the deny and allow path patterns that apply to that page,
// and when the record stops counting. A plain value: copied into and out of
// the server's table, never shared.
#pragma once
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

class VLCrossSiteRecord {
 public:
  // The longest line of a declaration; a longer run is read as several.
  static constexpr std::size_t kLineBytes = 4096;

  // An empty record that has already expired.
  VLCrossSiteRecord();

  // Empty texts and lists, list mode deny, expired now.
  void reset();

  void setPageHost(const std::string& text) { pageHost_ = text; }
  void setDomain(const std::string& text) { declaredDomain_ = text; }
  std::string getDomain() const { return declaredDomain_; }
  std::string getPageHost() const { return pageHost_; }

  // Expires `seconds` from now; isExpired once that time is reached.
  void setExpiry(std::int64_t seconds);
  bool isExpired() const;
  std::int64_t expiry() const { return expiry_; }

  // Whether the declaration was read from the site's 200 answer (a failed
  // fetch or an error page leaves it false).
  void setFromAnswer(bool fromAnswer) { fromAnswer_ = fromAnswer; }
  bool fromAnswer() const { return fromAnswer_; }

  // Both names compared trimmed (blanks, tabs, CR, LF) and ignoring case.
  bool matches(const std::string& pageHost, const std::string& domain) const;

  // Empty patterns are ignored.
  void addDeny(const std::string& pattern);
  void addAllow(const std::string& pattern);
  int denyCount() const { return static_cast<int>(denyPaths_.size()); }
  int allowCount() const { return static_cast<int>(allowPaths_.size()); }
  std::string denyAt(int index) const;
  std::string allowAt(int index) const;
  // Memory the patterns of both lists hold: the lists' storage and each
  // pattern's own allocation, each rounded and with an allocator's
  // overhead, so that many short patterns cost what they really take.
  std::size_t patternBytes() const;

  // reset, then the names, the non-empty patterns, the expiry and the
  // answer mark of `other`; the lists hold no room beyond their patterns.
  void assign(const VLCrossSiteRecord& other);

  // Reads a declaration for this record's page host and site (both set
  // beforehand) from `stream`. Every CR and LF ends a line; a run of 4096
  // bytes is a line of its own; text after the last line end is not read.
  // An unknown line ends the reading; what was read before it stays.
  void parseDeclarations(std::istream& stream);

  // Whether a request for `path` on `domain` may pass: false for another
  // domain; otherwise refused only when a deny pattern matches the
  // lower-cased path and no allow pattern does.
  bool allows(const std::string& domain, const std::string& path) const;

  // "*" stands for any run of characters (also none); everything else is
  // literal, and the pattern must cover the whole path.
  static bool matchesPath(const std::string& pattern, const std::string& path);

 private:
  std::string pageHost_;
  std::string declaredDomain_;
  std::vector<std::string> denyPaths_;
  std::vector<std::string> allowPaths_;
  unsigned char listMode_ = 0;  // 0 deny, 1 allow (while reading)
  std::int64_t expiry_ = 0;
  bool fromAnswer_ = false;
};
