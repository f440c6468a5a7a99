// Civil time: the calendar and local times in zones the test sets.
#include "civil_time.h"

#include <stdint.h>

#include "gtest/gtest.h"
#include "schedule_zones.h"

namespace {

using namespace schedule_zones;

TEST(ScheduleCalendar, LocalSecondsAndBackAgree) {
  EXPECT_EQ(0, utc(1970, 1, 1, 0, 0));
  EXPECT_EQ(-1, utc(1969, 12, 31, 23, 59, 59));
  EXPECT_EQ(951825600, utc(2000, 2, 29, 12, 0));
  EXPECT_EQ(1796866578, utc(2026, 12, 10, 1, 36, 18));
  // Every 7 hours and 13 s from 1960 to 2040: the broken-down time reads back.
  for (int64_t t = utc(1960, 1, 1, 0, 0); t < utc(2040, 1, 1, 0, 0); t += 7 * kHour + 13) {
    mjh_local_time l;
    mjh_to_local(&kFixed, t, &l);
    ASSERT_EQ(t + plus_0530, mjh_local_seconds(l.year, l.month, l.day, l.hour, l.minute, l.second)) << t;
    ASSERT_EQ(plus_0530, l.offset);
    ASSERT_EQ(mjh_local_day(&kFixed, t), l.day_number) << t;
    ASSERT_EQ(mjh_weekday(l.day_number), l.weekday) << t;
  }
  mjh_local_time l;
  mjh_to_local(&kEurope, utc(2026, 12, 10, 1, 36, 18), &l);
  EXPECT_EQ(3, l.weekday);  // a Thursday
  EXPECT_EQ(2, l.hour);
  EXPECT_EQ(3, mjh_weekday(0)) << "1970-01-01 was a Thursday";
  EXPECT_EQ(2, mjh_weekday(-1));
  EXPECT_EQ(6, mjh_weekday(-4)) << "a Sunday";
  EXPECT_EQ(5, mjh_weekday(-5));
}

TEST(ScheduleCalendar, LocalTimesMapToZeroOneOrTwoInstants) {
  struct Case {
    const mjh_zone *zone;
    int64_t local;
    int count;
    int64_t first, second;
  } cases[] = {
      // Spring forward: 02:00-02:59 does not exist; the gap ends at 01:00 UTC.
      {&kEurope, utc(2026, 3, 29, 2, 30), 0, utc(2026, 3, 29, 1, 0), 0},
      {&kEurope, utc(2026, 3, 29, 2, 0), 0, utc(2026, 3, 29, 1, 0), 0},
      {&kEurope, utc(2026, 3, 29, 1, 59), 1, utc(2026, 3, 29, 0, 59), 0},
      {&kEurope, utc(2026, 3, 29, 3, 0), 1, utc(2026, 3, 29, 1, 0), 0},
      // Fall back: 02:00-02:59 occurs twice.
      {&kEurope, utc(2026, 10, 25, 2, 30), 2, utc(2026, 10, 25, 0, 30), utc(2026, 10, 25, 1, 30)},
      {&kEurope, utc(2026, 10, 25, 3, 0), 1, utc(2026, 10, 25, 2, 0), 0},
      {&kEurope, utc(2026, 7, 1, 12, 0), 1, utc(2026, 7, 1, 10, 0), 0},
      {&kUs, utc(2026, 3, 8, 2, 30), 0, utc(2026, 3, 8, 7, 0), 0},
      {&kUs, utc(2026, 11, 1, 1, 30), 2, utc(2026, 11, 1, 5, 30), utc(2026, 11, 1, 6, 30)},
      {&kUs, utc(2026, 1, 15, 9, 0), 1, utc(2026, 1, 15, 14, 0), 0},
      {&kFixed, utc(2026, 3, 29, 2, 30), 1, utc(2026, 3, 29, 2, 30) - plus_0530, 0},
  };
  for (const Case &c : cases) {
    int64_t out[2] = {0, 0};
    ASSERT_EQ(c.count, mjh_local_to_utc(c.zone, c.local, out)) << c.local;
    EXPECT_EQ(c.first, out[0]) << c.local;
    if (c.count == 2) {
      EXPECT_EQ(c.second, out[1]) << c.local;
    }
    // A schedule's instant: the first occurrence, or the end of the gap.
    EXPECT_EQ(c.first, mjh_instant_of(c.zone, c.local)) << c.local;
  }
}

}  // namespace
