// VLCrossSiteTable: the cross-site records of the proxy, at most one per
// (page host, site) pair compared trimmed and ignoring case. Bounded in
// records and in pattern bytes: past either bound the records that expire
// first give way (a missing record only refuses until the next fetch).
// Records are copied in and out. Not locked: its owner serialises the calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "varlume/cross_site_record.h"

class VLCrossSiteTable {
 public:
  static constexpr std::size_t kMaxRecords = 10000;
  static constexpr std::size_t kMaxPatternBytes = 64u * 1024u * 1024u;

  explicit VLCrossSiteTable(std::size_t maxRecords = kMaxRecords,
                            std::size_t maxPatternBytes = kMaxPatternBytes);

  // Stores a copy, replacing the record of the same pair.
  void store(const VLCrossSiteRecord& record);
  // Copies the record of the pair into `out` (expired or not); false and
  // `out` reset when there is none.
  bool find(VLCrossSiteRecord& out, const std::string& pageHost, const std::string& domain) const;

  std::size_t size() const { return records_.size(); }
  std::size_t patternBytes() const { return patternBytes_; }

 private:
  using Key = std::pair<std::string, std::string>;
  static Key keyOf(const std::string& pageHost, const std::string& domain);
  void erase(std::map<Key, VLCrossSiteRecord>::iterator at);

  std::size_t maxRecords_;
  std::size_t maxPatternBytes_;
  std::map<Key, VLCrossSiteRecord> records_;
  std::set<std::pair<std::int64_t, Key>> byExpiry_;
  std::size_t patternBytes_ = 0;
};
