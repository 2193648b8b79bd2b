// Open-file limits of the programs under test: a process's soft and hard
// limit read from /proc and set from outside (prlimit), its open
// descriptors and the processor time it used, and a scope that lowers this
// test process's own soft limit so that a program started in it inherits one
// below the hard limit.
#pragma once
#include <sys/types.h>

namespace limits {

struct VLDescriptorLimit {
  long soft = -1;  // -1: could not be read
  long hard = -1;
};

VLDescriptorLimit descriptorLimit(pid_t pid);
// Sets both limits of a running process; false when refused.
bool setDescriptorLimit(pid_t pid, long soft, long hard);
// Descriptors the process has open (-1 when its folder cannot be read).
int openDescriptors(pid_t pid);
// User and system processor time the process used, in milliseconds.
long processorMilliseconds(pid_t pid);

// While it lives, this process's soft limit is `soft` (at most the hard limit).
class VLLoweredSoftLimit {
 public:
  explicit VLLoweredSoftLimit(long soft);
  ~VLLoweredSoftLimit();
  VLLoweredSoftLimit(const VLLoweredSoftLimit&) = delete;
  VLLoweredSoftLimit& operator=(const VLLoweredSoftLimit&) = delete;
  long soft() const { return lowered_; }

 private:
  long saved_ = -1;
  long lowered_ = -1;
};

}  // namespace limits
