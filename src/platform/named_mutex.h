// Named mutexes: process-local, found by name, recursive (the holder may lock
// again and needs one unlock per lock). An unlock by a thread that does not
// hold the mutex changes nothing and reports false. Mutexes live until the
// process ends. A thread that ends while holding a mutex abandons it: the
// next waiter takes it.
#pragma once
#include <string>

namespace platform {

class NamedMutex;

// Opens the mutex of that name, creating it the first time; never null.
NamedMutex* openNamedMutex(const std::string& name);
// Waits without time-out until the calling thread holds the mutex.
void lockMutex(NamedMutex* mutex);
// Releases one lock of the calling thread; false when it holds none.
bool unlockMutex(NamedMutex* mutex);

}  // namespace platform
