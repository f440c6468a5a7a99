// The Windows side of schedules: the current UTC time and the time zone of
// this computer as the interface of schedule.h asks for it (the UTC offset in
// force at an instant, with the zone's historical rules). Windows tells a
// running program of a zone change with WM_TIMECHANGE (and WM_SETTINGCHANGE):
// call mjw_clock_refresh then, before deciding again.
#ifndef MJW_CLOCK_H
#define MJW_CLOCK_H

#include <windows.h>

#include "schedule.h"

struct mjw_clock {
  DYNAMIC_TIME_ZONE_INFORMATION zone_info;  // as read by the last refresh
  int32_t fallback_offset;                  // seconds east of UTC now, when a conversion fails
};

// Reads the current zone (again).
void mjw_clock_refresh(mjw_clock *c);

// The zone of c for schedule.h; c must outlive it.
mjh_zone mjw_clock_zone(mjw_clock *c);

// Seconds east of UTC in force at utc in the zone last read.
int32_t mjw_clock_utc_offset(const mjw_clock *c, int64_t utc);

// Now, in UTC seconds since 1970.
int64_t mjw_now_utc();

// Converts between UTC seconds since 1970 and FILETIME's 100 ns units since
// 1601.
int64_t mjw_filetime_to_utc(const FILETIME *ft);
FILETIME mjw_utc_to_filetime(int64_t utc);

#endif
