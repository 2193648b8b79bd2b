#include "varlume/request_record.h"

#include <atomic>

#include "platform/clock.h"

namespace {
std::atomic<std::int64_t> clockAdvance{0};
}  // namespace

std::int64_t vlRecordClock() { return platform::monotonicMilliseconds() / 1000 + clockAdvance.load(); }

void vlAdvanceRecordClock(std::int64_t seconds) { clockAdvance += seconds; }

VLRequestRecord::VLRequestRecord() : timeStamp_(vlRecordClock()) {}

VLRequestRecord::VLRequestRecord(int id) : id_(id), timeStamp_(vlRecordClock()) {}

void VLRequestRecord::clear() { *this = VLRequestRecord(); }

void VLRequestRecord::setFromCache(bool fromCache) {
  fromCache_ = fromCache;
  if (fromCache) {
    ready_ = true;
    noResponse_ = false;
  }
}
