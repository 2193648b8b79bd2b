// Time: real pauses, a monotonic clock for time-outs, and calendar time.
#pragma once
#include <cstdint>

namespace platform {

// Waits the given time; an interrupted wait starts again with the full time.
// False when the wait failed for another reason (it then ended early), and
// at once for a negative time.
bool pause(int seconds, int microseconds);

// Milliseconds of a clock that never jumps; only differences are meaningful.
std::int64_t monotonicMilliseconds();

// Seconds since 1970-01-01 UTC.
std::int64_t unixTime();

struct CalendarTime {
  int year;     // e.g. 2026
  int month;    // 0 to 11
  int day;      // 1 to 31
  int weekday;  // 0 Sunday to 6
  int hour, minute, second;
};

// The UTC calendar time of `seconds` since 1970 (thread-safe).
CalendarTime utcCalendar(std::int64_t seconds);

}  // namespace platform
