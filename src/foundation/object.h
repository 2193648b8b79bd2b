// VLObject: the base of every thread-bearing class of the programs. It adds
// no fields to VLThread and offers the pause that those classes use.
#pragma once
#include "foundation/thread.h"

class VLObject : public VLThread {
 public:
  VLObject();
  ~VLObject() override;

  // The calling thread waits seconds plus microseconds; an interrupted wait
  // starts again with the full time, any other failure ends it early.
  static void sleepFor(int seconds, int microseconds);
};
