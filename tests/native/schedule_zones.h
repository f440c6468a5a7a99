// The clock and the time zones the schedule tests set: a fixed offset
// (+05:30), a zone with European-style daylight saving (UTC+1, +2 from the
// last Sunday of March to the last Sunday of October, at 01:00 UTC) and one
// with US-style rules (UTC-5, -4 from the second Sunday of March 02:00 to the
// first Sunday of November 02:00 local).
#ifndef MJ_TESTS_SCHEDULE_ZONES_H
#define MJ_TESTS_SCHEDULE_ZONES_H

#include <stdint.h>

#include <string>

#include "gtest/gtest.h"
#include "schedule.h"
#include "schedule_text.h"

namespace schedule_zones {

inline constexpr int64_t kHour = 3600, kDay = 86400;

// UTC instants written as dates: the same arithmetic as local seconds at offset 0.
inline int64_t utc(int y, int mo, int d, int h, int mi, int s = 0) { return mjh_local_seconds(y, mo, d, h, mi, s); }

inline int64_t day_number(int y, int mo, int d) { return utc(y, mo, d, 0, 0) / kDay; }

// The day number of the last Sunday of a month with 31 days, or the n-th Sunday.
inline int64_t last_sunday(int y, int mo) {
  int64_t d = day_number(y, mo, 31);
  return d - ((d + 3) % 7 + 1) % 7;
}
inline int64_t nth_sunday(int y, int mo, int n) {
  int64_t d = day_number(y, mo, 1);
  return d + (6 - (d + 3) % 7) + 7 * (n - 1);
}

inline int year_of(int64_t t) {
  int y = 1970;
  while (utc(y + 1, 1, 1, 0, 0) <= t) y++;
  while (utc(y, 1, 1, 0, 0) > t) y--;
  return y;
}

inline int32_t fixed_offset(void *context, int64_t) { return *static_cast<int32_t *>(context); }

inline int32_t europe_offset(void *, int64_t t) {
  int y = year_of(t);
  int64_t on = last_sunday(y, 3) * kDay + kHour, off = last_sunday(y, 10) * kDay + kHour;
  return t >= on && t < off ? 7200 : 3600;
}

inline int32_t us_offset(void *, int64_t t) {
  int y = year_of(t);
  int64_t on = nth_sunday(y, 3, 2) * kDay + 7 * kHour, off = nth_sunday(y, 11, 1) * kDay + 6 * kHour;
  return t >= on && t < off ? -4 * 3600 : -5 * 3600;
}

inline int32_t plus_0530 = 5 * 3600 + 1800;
inline const mjh_zone kFixed = {fixed_offset, &plus_0530};
inline const mjh_zone kEurope = {europe_offset, nullptr};
inline const mjh_zone kUs = {us_offset, nullptr};

// A local wall-clock time in the fixed zone.
inline int64_t fixed(int y, int mo, int d, int h, int mi) { return utc(y, mo, d, h, mi) - plus_0530; }

inline mjh_hours hours(const char *spans, const char *days = "all") {
  mjh_hours h;
  mjh_hours_none(&h);
  mjh_text_buffer<200> err;
  EXPECT_TRUE(mjh_hours_parse(spans, &h, &err)) << spans << ": " << err.c_str();
  EXPECT_TRUE(mjh_days_parse(days, &h.days, &err)) << days << ": " << err.c_str();
  return h;
}

inline std::string when(const mjh_zone &z, int64_t now, int64_t t) {
  mjh_text_buffer<64> text;
  mjh_when_text(&z, now, t, text);
  return text.c_str();
}

}  // namespace schedule_zones

#endif
