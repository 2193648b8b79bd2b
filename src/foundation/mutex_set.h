// VLMutexSet: up to 8 named mutexes addressed by index. Mutex i is named by
// the application's name followed by i in decimal ("0", "1", "2" while the
// name is empty). lock waits without time-out and may be taken again by its
// holder (one unlock per lock); an unlock by a thread that does not hold it
// changes nothing.
#pragma once

namespace platform {
class NamedMutex;
}

class VLMutexSet {
 public:
  static constexpr int kMaxMutexes = 8;

  // A count above 8 is refused: the set then holds no mutexes (count 0).
  explicit VLMutexSet(int count);
  // The mutexes themselves live until the process ends.
  ~VLMutexSet();
  VLMutexSet(const VLMutexSet&) = delete;
  VLMutexSet& operator=(const VLMutexSet&) = delete;

  // 0 at once when the count is 0 or less; otherwise opens mutexes 0 to
  // count - 1 by name and returns 1.
  int createMutexes();
  // 1 after the wait / the release; 0 for an index outside 0..count-1 or a
  // mutex that was not created (nothing is done then).
  int lock(int index);
  int unlock(int index);

  int getCount() const { return count_; }
  // The mutex in slot `index`; null outside 0..count-1 or when not created.
  platform::NamedMutex* mutexAt(int index) const;

 private:
  int count_ = 0;
  platform::NamedMutex* mutexes_[kMaxMutexes] = {};
};
