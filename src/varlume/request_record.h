// VLRequestRecord: the record of one request whose answer is still due. The
// same plain value fills the queue of an outgoing connection (VLClient) and
// the queue of a browser connection's VLResponder. An id of 0 or less marks a
// free slot. The time stamp is in seconds of a clock that never jumps, so the
// waits measured from it are not moved by changes of the wall clock.
#pragma once
#include <cstdint>
#include <string>

// Seconds of the monotonic clock that time stamps use.
std::int64_t vlRecordClock();
// Moves that clock forward by `seconds` for the whole process; lets tests
// reach the long waits measured from time stamps without sleeping.
void vlAdvanceRecordClock(std::int64_t seconds);

class VLRequestRecord {
 public:
  // A fresh record: every number and flag 0, every text empty, stamped now.
  VLRequestRecord();
  explicit VLRequestRecord(int id);

  // Back to a fresh record with a new time stamp.
  void clear();
  // True for a free slot (id 0 or less).
  bool isFree() const { return id_ <= 0; }

  int getId() const { return id_; }
  void setId(int id) { id_ = id; }
  bool getReady() const { return ready_; }
  void setReady(bool ready) { ready_ = ready; }
  bool getNoResponse() const { return noResponse_; }
  void setNoResponse(bool noResponse) { noResponse_ = noResponse; }
  int getPartsSent() const { return partsSent_; }
  void setPartsSent(int parts) { partsSent_ = parts; }
  int getPartsWritten() const { return partsWritten_; }
  void setPartsWritten(int parts) { partsWritten_ = parts; }
  bool getMirror() const { return mirror_; }
  void setMirror(bool mirror) { mirror_ = mirror; }
  const std::string& getHost() const { return host_; }
  void setHost(const std::string& host) { host_ = host; }
  const std::string& getUrl() const { return url_; }
  void setUrl(const std::string& url) { url_ = url; }
  const std::string& getCachePath() const { return cachePath_; }
  void setCachePath(const std::string& path) { cachePath_ = path; }
  bool getFromCache() const { return fromCache_; }
  // Setting it also makes the record ready with a response.
  void setFromCache(bool fromCache);
  bool getToCache() const { return toCache_; }
  void setToCache(bool toCache) { toCache_ = toCache; }
  std::int64_t getTimeStamp() const { return timeStamp_; }
  void setTimeStamp(std::int64_t seconds) { timeStamp_ = seconds; }
  void touch() { timeStamp_ = vlRecordClock(); }

 private:
  int id_ = 0;
  bool ready_ = false;
  bool noResponse_ = false;
  int partsSent_ = 0;
  int partsWritten_ = 0;
  bool mirror_ = false;
  std::string host_;
  std::string url_;
  std::string cachePath_;
  bool fromCache_ = false;
  bool toCache_ = false;
  std::int64_t timeStamp_ = 0;
};
