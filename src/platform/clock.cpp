// Pauses, the monotonic clock and UTC calendar time.
#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace platform {

bool pause(int seconds, int microseconds) {
  if (seconds < 0 || microseconds < 0) return false;
  struct timespec wait;
  wait.tv_sec = seconds + microseconds / 1000000;
  wait.tv_nsec = static_cast<long>(microseconds % 1000000) * 1000L;
  for (;;) {
    int result = ::clock_nanosleep(CLOCK_MONOTONIC, 0, &wait, nullptr);
    if (result == 0) return true;
    if (result != EINTR) return false;
    // Interrupted: the full time again.
  }
}

std::int64_t monotonicMilliseconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::int64_t unixTime() {
  return static_cast<std::int64_t>(::time(nullptr));
}

CalendarTime utcCalendar(std::int64_t seconds) {
  time_t value = static_cast<time_t>(seconds);
  struct tm parts = {};
  ::gmtime_r(&value, &parts);
  CalendarTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon;
  result.day = parts.tm_mday;
  result.weekday = parts.tm_wday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  return result;
}

}  // namespace platform
