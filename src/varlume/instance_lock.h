// One running proxy per user: a lock on a file in the user folder, held for
// the life of the process. A start that finds it held by another process
// ends at once, before it touches the log, the services or the temporary
// folder of the instance that runs.
#pragma once
#include <string>

#include "platform/files.h"

inline constexpr char kInstanceLockName[] = "varlume.lock";

enum class VLInstanceClaim {
  NotTried,       // not asked yet
  Taken,          // this process now holds the lock
  HeldByAnother,  // another process of this user holds it
  Unavailable,    // the lock file cannot be made: the start goes on unguarded
};

// True when `lock` now holds the user's lock; false when another process holds
// it or the lock file cannot be made.
inline bool takeInstanceLock(platform::FileLock& lock, const std::string& userFolder) {
  return lock.tryLock(userFolder + kInstanceLockName);
}

// Takes the user's lock into `lock` and says how that went. A lock file that
// exists but cannot be taken is held by another instance.
inline VLInstanceClaim claimInstance(platform::FileLock& lock, const std::string& userFolder) {
  if (takeInstanceLock(lock, userFolder)) return VLInstanceClaim::Taken;
  return platform::isRegularFile(userFolder + kInstanceLockName) ? VLInstanceClaim::HeldByAnother
                                                                 : VLInstanceClaim::Unavailable;
}
