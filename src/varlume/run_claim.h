// VLRunClaim: the running flag of an object whose one thread its owner starts
// on demand. Every call is made under the owner's mutex. A start claims the
// flag before the thread exists, so the thread can be made outside the mutex
// and no second start slips in meanwhile; a body that runs without a start
// (called directly) takes the flag itself.
#pragma once

class VLRunClaim {
 public:
  // Before a start: false when a thread runs or is claimed already.
  bool claim() {
    if (running_) return false;
    running_ = true;
    startClaimed_ = true;
    return true;
  }
  // The claimed thread could not be made.
  void release() {
    running_ = false;
    startClaimed_ = false;
  }
  // The claimed thread was stopped before its body began: the claim goes,
  // unless a body took it meanwhile.
  void cancel() {
    if (startClaimed_) release();
  }
  // A body begins: true when it may run (its start's claim, or none running).
  bool enter() {
    if (startClaimed_) {
      startClaimed_ = false;
      return true;
    }
    if (running_) return false;
    running_ = true;
    return true;
  }
  // The body ends; a new start may follow at once.
  void leave() { running_ = false; }
  bool running() const { return running_; }

 private:
  bool running_ = false;
  bool startClaimed_ = false;
};
