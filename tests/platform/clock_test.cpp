#include "platform/clock.h"

#include <gtest/gtest.h>

namespace {

struct CalendarCase {
  std::int64_t seconds;
  platform::CalendarTime expected;
};

TEST(ClockTest, UtcCalendar) {
  const CalendarCase cases[] = {
      {0, {1970, 0, 1, 4, 0, 0, 0}},
      {951782400, {2000, 1, 29, 2, 0, 0, 0}},  // a leap day
      {1000000000, {2001, 8, 9, 0, 1, 46, 40}},
      {4102444799, {2099, 11, 31, 4, 23, 59, 59}},  // beyond 32-bit seconds
  };
  for (const CalendarCase& c : cases) {
    platform::CalendarTime t = platform::utcCalendar(c.seconds);
    EXPECT_EQ(t.year, c.expected.year) << c.seconds;
    EXPECT_EQ(t.month, c.expected.month) << c.seconds;
    EXPECT_EQ(t.day, c.expected.day) << c.seconds;
    EXPECT_EQ(t.weekday, c.expected.weekday) << c.seconds;
    EXPECT_EQ(t.hour, c.expected.hour) << c.seconds;
    EXPECT_EQ(t.minute, c.expected.minute) << c.seconds;
    EXPECT_EQ(t.second, c.expected.second) << c.seconds;
  }
}

TEST(ClockTest, PauseRefusesNegativeTimes) {
  EXPECT_TRUE(platform::pause(0, 1000));
  EXPECT_FALSE(platform::pause(-1, 0));
  EXPECT_FALSE(platform::pause(0, -1));
}

}  // namespace
