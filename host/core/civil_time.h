// Civil time for schedules: time zones, local wall-clock time and the
// calendar. Plain C++ without system headers, tested natively with zones the
// test sets.
//
// Time is UTC seconds since 1970 (int64). A time zone answers one question:
// the UTC offset in force at an instant. Everything else (local wall-clock
// time to 0, 1 or 2 instants, weekdays, dates) is derived here, so the
// Windows side is one small function.
#ifndef MJH_CIVIL_TIME_H
#define MJH_CIVIL_TIME_H

#include <stdint.h>

constexpr int64_t MJH_DAY_S = 86400;

struct mjh_zone {
  // Seconds east of UTC in force at the instant utc (local = utc + offset).
  int32_t (*utc_offset)(void *context, int64_t utc);
  void *context;
};

// The local seconds since 1970 of a wall-clock time (proleptic Gregorian).
int64_t mjh_local_seconds(int year, int month, int day, int hour, int minute, int second);

struct mjh_local_time {
  int year, month, day;  // month 1-12, day 1-31
  int hour, minute, second;
  int weekday;         // 0 Monday ... 6 Sunday
  int64_t day_number;  // local days since 1970-01-01
  int32_t offset;      // the UTC offset in force
};

void mjh_to_local(const mjh_zone *zone, int64_t utc, mjh_local_time *out);

// The weekday of a day number: 0 Monday ... 6 Sunday.
int mjh_weekday(int64_t day_number);

// The local day number (days since 1970-01-01) of the instant utc.
int64_t mjh_local_day(const mjh_zone *zone, int64_t utc);

// The instants at which local clocks show local_s: returns 1 or 2 (a repeated
// time; out[0] < out[1]), or 0 for a time in a skipped hour, with out[0] the
// first instant after the gap. Assumes at most one offset change within a day
// of local_s, as in every real zone.
int mjh_local_to_utc(const mjh_zone *zone, int64_t local_s, int64_t out[2]);

// The instant a wall-clock time stands for in a schedule: its first
// occurrence (a repeated time), or the first instant after the gap (a
// skipped one).
int64_t mjh_instant_of(const mjh_zone *zone, int64_t local_s);

#endif
