// The process's limit of open descriptors. A server raises its soft limit to
// the hard limit at start, so a desktop session's default (1,024) does not
// cap how many browsers and files it serves at once.
#pragma once

namespace platform {

// Raises the soft limit of open descriptors to the hard limit. False when the
// limit could not be read or set; the limit then stays as it was.
bool raiseDescriptorLimit();

}  // namespace platform
