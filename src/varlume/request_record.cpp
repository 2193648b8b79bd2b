#include "varlume/request_record.h"

#include "platform/clock.h"

std::int64_t vlRecordClock() { return platform::monotonicMilliseconds() / 1000; }

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
