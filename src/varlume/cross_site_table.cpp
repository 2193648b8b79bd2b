#include "varlume/cross_site_table.h"

#include "foundation/strings.h"

VLCrossSiteTable::VLCrossSiteTable(std::size_t maxRecords, std::size_t maxPatternBytes)
    : maxRecords_(maxRecords == 0 ? 1 : maxRecords), maxPatternBytes_(maxPatternBytes) {}

VLCrossSiteTable::Key VLCrossSiteTable::keyOf(const std::string& pageHost, const std::string& domain) {
  return Key(toLower(trim(pageHost, true)), toLower(trim(domain, true)));
}

void VLCrossSiteTable::erase(std::map<Key, VLCrossSiteRecord>::iterator at) {
  byExpiry_.erase({at->second.expiry(), at->first});
  patternBytes_ -= at->second.patternBytes();
  records_.erase(at);
}

void VLCrossSiteTable::store(const VLCrossSiteRecord& record) {
  const Key key = keyOf(record.getPageHost(), record.getDomain());
  auto old = records_.find(key);
  if (old != records_.end()) erase(old);

  VLCrossSiteRecord copy;
  copy.assign(record);
  const std::size_t bytes = copy.patternBytes();
  // A record larger than the whole bound is not kept: its pair stays
  // refused until the next fetch.
  if (bytes > maxPatternBytes_) return;
  // Make room: the records that expire first go (expired ones among them).
  while (!byExpiry_.empty() &&
         (records_.size() >= maxRecords_ || patternBytes_ + bytes > maxPatternBytes_)) {
    erase(records_.find(byExpiry_.begin()->second));
  }
  byExpiry_.insert({copy.expiry(), key});
  patternBytes_ += bytes;
  records_.emplace(key, std::move(copy));
}

bool VLCrossSiteTable::find(VLCrossSiteRecord& out, const std::string& pageHost,
                            const std::string& domain) const {
  out.reset();
  auto at = records_.find(keyOf(pageHost, domain));
  if (at == records_.end()) return false;
  out.assign(at->second);
  return true;
}
