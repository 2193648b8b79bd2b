// Process-local named mutexes that know their owner, so that re-entry by the
// holder counts and an unlock by anyone else is refused. A thread that ends
// while holding one abandons it: the next waiter takes it, as on Windows.
#include "platform/named_mutex.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

// The mutexes the calling thread holds; released when the thread ends.
class Holdings {
 public:
  ~Holdings();
  void add(NamedMutex* mutex) { held_.push_back(mutex); }
  void remove(NamedMutex* mutex) {
    auto found = std::find(held_.begin(), held_.end(), mutex);
    if (found != held_.end()) held_.erase(found);
  }

 private:
  std::vector<NamedMutex*> held_;
};

thread_local Holdings holdings;

}  // namespace

class NamedMutex {
 public:
  void lock() {
    std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(state_);
    if (count_ > 0 && owner_ == self) {
      ++count_;
      return;
    }
    free_.wait(guard, [this] { return count_ == 0; });
    owner_ = self;
    count_ = 1;
    holdings.add(this);
  }

  bool unlock() {
    std::unique_lock<std::mutex> guard(state_);
    if (count_ == 0 || owner_ != std::this_thread::get_id()) return false;
    if (--count_ == 0) {
      owner_ = std::thread::id();
      holdings.remove(this);
      guard.unlock();
      free_.notify_one();
    }
    return true;
  }

  // The holding thread is ending: every one of its locks goes at once.
  void abandon() {
    std::unique_lock<std::mutex> guard(state_);
    if (count_ == 0 || owner_ != std::this_thread::get_id()) return;
    count_ = 0;
    owner_ = std::thread::id();
    guard.unlock();
    free_.notify_one();
  }

 private:
  std::mutex state_;
  std::condition_variable free_;
  std::thread::id owner_;
  int count_ = 0;
};

namespace {

Holdings::~Holdings() {
  std::vector<NamedMutex*> held;
  held.swap(held_);
  for (NamedMutex* mutex : held) mutex->abandon();
}

// Never destroyed: detached threads may still hold mutexes at exit.
struct Registry {
  std::mutex guard;
  std::map<std::string, std::unique_ptr<NamedMutex>> byName;
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

}  // namespace

NamedMutex* openNamedMutex(const std::string& name) {
  Registry& all = registry();
  std::lock_guard<std::mutex> guard(all.guard);
  std::unique_ptr<NamedMutex>& slot = all.byName[name];
  if (!slot) slot = std::make_unique<NamedMutex>();
  return slot.get();
}

void lockMutex(NamedMutex* mutex) {
  if (mutex != nullptr) mutex->lock();
}

bool unlockMutex(NamedMutex* mutex) {
  return mutex != nullptr && mutex->unlock();
}

}  // namespace platform
