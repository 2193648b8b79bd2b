// One running proxy per user: a lock on a file in the user folder, held for
// the life of the process. Only its holder starts the service programs and
// empties the temporary folder, so a second instance leaves the running one
// alone.
#pragma once
#include <string>

#include "platform/files.h"

inline constexpr char kInstanceLockName[] = "varlume.lock";

// True when `lock` now holds the user's lock; false when another process holds
// it or the lock file cannot be made.
inline bool takeInstanceLock(platform::FileLock& lock, const std::string& userFolder) {
  return lock.tryLock(userFolder + kInstanceLockName);
}
