// The calendar under date!: every day of years -9999 .. 9999 survives the
// trip day number -> date word -> day number, and consecutive day numbers
// are consecutive calendar days (29 February exactly in leap years).
#include <gtest/gtest.h>

#include "types/date.h"

namespace kez {
namespace {

TEST(DateCalendar, DayNumberRoundTripOverTwentyThousandYears) {
  int64_t first = date::to_day_number(-9999, 1, 1), last = date::to_day_number(9999, 12, 31);
  int32_t year = -9999, month = 1, day = 1;
  int64_t leap_days = 0;
  for (int64_t g = first; g <= last; g++) {
    uint32_t w = date::from_day_number(g, 0, false);
    ASSERT_EQ(date::year_of(w), year) << g;
    ASSERT_EQ(date::month_of(w), month) << g;
    ASSERT_EQ(date::day_of(w), day) << g;
    ASSERT_EQ(date::to_day_number(year, month, day), g);
    leap_days += month == 2 && day == 29;
    // The next calendar day, counted independently.
    if (++day > date::month_length(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        year++;
      }
    }
  }
  EXPECT_EQ(year, 10000);
  // 4,849 leap years between -9999 and 9999 (year 0 among them).
  EXPECT_EQ(leap_days, 4849);
  EXPECT_EQ(date::to_day_number(1970, 1, 1), date::EPOCH_DAY);
  EXPECT_EQ(date::to_day_number(0, 3, 1), 0);
}

}  // namespace
}  // namespace kez
