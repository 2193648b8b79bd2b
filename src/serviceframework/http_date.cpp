#include "serviceframework/http_date.h"

#include <cstdio>

#include "platform/clock.h"

namespace {

constexpr const char* kDayNames[7] = {"Sun, ", "Mon, ", "Tue, ", "Wed, ", "Thu, ", "Fri, ", "Sat, "};
constexpr const char* kMonthNames[12] = {" Jan ", " Feb ", " Mar ", " Apr ", " May ", " Jun ",
                                         " Jul ", " Aug ", " Sep ", " Oct ", " Nov ", " Dec "};

}  // namespace

std::string httpDateLine(std::int64_t seconds) {
  platform::CalendarTime time = platform::utcCalendar(seconds);
  int weekday = (time.weekday >= 0 && time.weekday < 7) ? time.weekday : 0;
  int month = (time.month >= 0 && time.month < 12) ? time.month : 0;
  char line[96];
  std::snprintf(line, sizeof line, "Date: %s%02d%s%04d %02d:%02d:%02d GMT\r\n", kDayNames[weekday],
                time.day, kMonthNames[month], time.year, time.hour, time.minute, time.second);
  return line;
}
