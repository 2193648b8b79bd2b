#include "foundation/object.h"

#include "platform/clock.h"

VLObject::VLObject() = default;

VLObject::~VLObject() = default;

void VLObject::sleepFor(int seconds, int microseconds) {
  platform::pause(seconds, microseconds);
}
