#include "varlume/cross_site_record.h"

#include "foundation/strings.h"
#include "platform/clock.h"

namespace {

// The reading states of a declaration.
enum class Section { Read, Skip };
enum class From { Unset, Closed, Open };

bool beginsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The value after the first "=", trimmed; empty when there is none.
std::string valueOf(const std::string& line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return std::string();
  return trim(line.substr(equals + 1), true);
}

// A from or path value counts only with at least two characters (after
// trimming, so "path= /" declares nothing).
std::string shortValueOf(const std::string& line) {
  std::string value = valueOf(line);
  return value.size() >= 2 ? value : std::string();
}

// Splits the stream into lines: CR and LF end a line, a full run of
// kLineBytes is a line of its own (also at the end of the stream), and text
// after the last line end is dropped.
template <typename Visit>
void forEachLine(std::istream& stream, Visit visit) {
  std::string line;
  std::streambuf* buffer = stream.rdbuf();
  if (buffer == nullptr) return;
  for (;;) {
    const int next = buffer->sbumpc();
    if (next == std::char_traits<char>::eof()) return;
    const char byte = static_cast<char>(next);
    if (byte == '\r' || byte == '\n') {
      if (!visit(line)) return;
      line.clear();
      continue;
    }
    line.push_back(byte);
    if (line.size() == VLCrossSiteRecord::kLineBytes) {
      if (!visit(line)) return;
      line.clear();
    }
  }
}

}  // namespace

VLCrossSiteRecord::VLCrossSiteRecord() { reset(); }

void VLCrossSiteRecord::reset() {
  pageHost_.clear();
  declaredDomain_.clear();
  denyPaths_.clear();
  allowPaths_.clear();
  listMode_ = 0;
  expiry_ = platform::unixTime();
  fromAnswer_ = false;
}

void VLCrossSiteRecord::setExpiry(std::int64_t seconds) { expiry_ = platform::unixTime() + seconds; }

bool VLCrossSiteRecord::isExpired() const { return platform::unixTime() >= expiry_; }

bool VLCrossSiteRecord::matches(const std::string& pageHost, const std::string& domain) const {
  return toLower(trim(pageHost, true)) == toLower(trim(pageHost_, true)) &&
         toLower(trim(domain, true)) == toLower(trim(declaredDomain_, true));
}

void VLCrossSiteRecord::addDeny(const std::string& pattern) {
  if (!pattern.empty()) denyPaths_.push_back(pattern);
}

void VLCrossSiteRecord::addAllow(const std::string& pattern) {
  if (!pattern.empty()) allowPaths_.push_back(pattern);
}

std::string VLCrossSiteRecord::denyAt(int index) const {
  if (index < 0 || index >= denyCount()) return std::string();
  return denyPaths_[static_cast<std::size_t>(index)];
}

std::string VLCrossSiteRecord::allowAt(int index) const {
  if (index < 0 || index >= allowCount()) return std::string();
  return allowPaths_[static_cast<std::size_t>(index)];
}

namespace {

// What an allocation of `bytes` takes from the heap: rounded up to 16 bytes
// with 16 more for the allocator's own bookkeeping.
std::size_t heapBytes(std::size_t bytes) {
  if (bytes == 0) return 0;
  return (bytes + 15) / 16 * 16 + 16;
}

std::size_t listBytes(const std::vector<std::string>& list) {
  static const std::size_t kInlineCapacity = std::string().capacity();
  std::size_t bytes = heapBytes(list.capacity() * sizeof(std::string));
  for (const std::string& pattern : list) {
    // A short pattern lives inside its string object; a longer one has an
    // allocation of its own, with room for the terminating zero.
    if (pattern.capacity() > kInlineCapacity) bytes += heapBytes(pattern.capacity() + 1);
  }
  return bytes;
}

}  // namespace

std::size_t VLCrossSiteRecord::patternBytes() const { return listBytes(denyPaths_) + listBytes(allowPaths_); }

void VLCrossSiteRecord::assign(const VLCrossSiteRecord& other) {
  if (&other == this) return;
  reset();
  pageHost_ = other.pageHost_;
  declaredDomain_ = other.declaredDomain_;
  denyPaths_.shrink_to_fit();
  allowPaths_.shrink_to_fit();
  denyPaths_.reserve(other.denyPaths_.size());
  allowPaths_.reserve(other.allowPaths_.size());
  for (const std::string& pattern : other.denyPaths_) addDeny(pattern);
  for (const std::string& pattern : other.allowPaths_) addAllow(pattern);
  expiry_ = other.expiry_;
  fromAnswer_ = other.fromAnswer_;
}

void VLCrossSiteRecord::parseDeclarations(std::istream& stream) {
  listMode_ = 0;
  if (!stream.good()) return;
  const std::string site = toLower(trim(declaredDomain_, true));
  const std::string page = toLower(pageHost_);
  Section section = Section::Read;  // lines before any domain line apply to every site
  From from = From::Unset;
  bool afterOpeningDomain = false;  // the last directive opened this site's section

  forEachLine(stream, [&](const std::string& raw) {
    const std::string line = toLower(trim(raw, true));
    if (line.empty() || line[0] == '#') return true;
    if (beginsWith(line, "domain") && line.size() > 6) {
      if (section == Section::Read && afterOpeningDomain) return true;  // shares the section
      const bool mine = valueOf(line) == site;
      section = mine ? Section::Read : Section::Skip;
      afterOpeningDomain = mine;
      return true;
    }
    afterOpeningDomain = false;
    if (section == Section::Skip) return true;
    if (line == "deny" || line == "allow") {
      listMode_ = line == "deny" ? 0 : 1;
      from = From::Unset;
      return true;
    }
    if (beginsWith(line, "from") && line.size() > 4) {
      if (from == From::Unset) from = From::Closed;
      const std::string value = shortValueOf(line);
      if (value.empty() || value == page) from = From::Open;
      return true;
    }
    if (beginsWith(line, "path") && line.size() > 4) {
      if (from == From::Closed) return false;
      const std::string value = shortValueOf(line);
      if (listMode_ == 0) {
        addDeny(value);
      } else {
        addAllow(value);
      }
      return true;
    }
    return false;  // not a directive: the declaration ends here
  });
  listMode_ = 0;
}

bool VLCrossSiteRecord::allows(const std::string& domain, const std::string& path) const {
  if (toLower(trim(domain, true)) != toLower(trim(declaredDomain_, true))) return false;
  const std::string p = toLower(trim(path, true));
  for (const std::string& deny : denyPaths_) {
    if (!matchesPath(deny, p)) continue;
    for (const std::string& allow : allowPaths_) {
      if (matchesPath(allow, p)) return true;
    }
    return false;
  }
  return true;
}

bool VLCrossSiteRecord::matchesPath(const std::string& pattern, const std::string& path) {
  const std::size_t firstStar = pattern.find('*');
  if (firstStar == std::string::npos) return pattern == path;
  const std::size_t lastStar = pattern.rfind('*');
  const std::string head = pattern.substr(0, firstStar);
  const std::string tail = pattern.substr(lastStar + 1);
  if (path.size() < head.size() + tail.size()) return false;
  if (path.compare(0, head.size(), head) != 0) return false;
  if (path.compare(path.size() - tail.size(), tail.size(), tail) != 0) return false;
  // The pieces between the stars, each found leftmost after the one before:
  // with "*" as the only wildcard the leftmost place is never worse.
  std::size_t from = head.size();
  const std::size_t end = path.size() - tail.size();
  std::size_t start = firstStar + 1;
  while (start <= lastStar) {
    const std::size_t star = pattern.find('*', start);
    const std::string piece = pattern.substr(start, star - start);
    start = star + 1;
    if (piece.empty()) continue;
    const std::size_t at = path.find(piece, from);
    if (at == std::string::npos || at + piece.size() > end) return false;
    from = at + piece.size();
  }
  return true;
}
