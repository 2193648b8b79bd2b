#include "foundation/mutex_set.h"

#include <string>

#include "foundation/app.h"
#include "platform/named_mutex.h"

VLMutexSet::VLMutexSet(int count) {
  if (count > kMaxMutexes) return;  // refused: no mutexes
  count_ = count < 0 ? 0 : count;
  createMutexes();
}

VLMutexSet::~VLMutexSet() = default;

int VLMutexSet::createMutexes() {
  if (count_ <= 0) return 0;
  const std::string prefix = vlApp.getAppName();
  for (int i = 0; i < count_; ++i) {
    mutexes_[i] = platform::openNamedMutex(prefix + std::to_string(i));
  }
  return 1;
}

platform::NamedMutex* VLMutexSet::mutexAt(int index) const {
  if (index < 0 || index >= count_) return nullptr;
  return mutexes_[index];
}

int VLMutexSet::lock(int index) {
  platform::NamedMutex* mutex = mutexAt(index);
  if (mutex == nullptr) return 0;
  platform::lockMutex(mutex);
  return 1;
}

int VLMutexSet::unlock(int index) {
  platform::NamedMutex* mutex = mutexAt(index);
  if (mutex == nullptr) return 0;
  platform::unlockMutex(mutex);
  return 1;
}
