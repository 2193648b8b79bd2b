// Threads: each start makes one detached thread; nothing ever joins.
#pragma once

namespace platform {

using ThreadEntry = void (*)(void* argument);

// Runs entry(argument) on a new detached thread; false when none could be made.
bool startThread(ThreadEntry entry, void* argument);

}  // namespace platform
