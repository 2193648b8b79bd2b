// Waits for a condition in the foundation tests: polls it every millisecond
// for at most about ten seconds; its last value is the result.
#pragma once
#include "foundation/object.h"

template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 10000; ++i) {
    if (condition()) return true;
    VLObject::sleepFor(0, 1000);
  }
  return condition();
}
