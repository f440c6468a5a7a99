#include "civil_time.h"

#include <utility>

namespace {

int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// era-of-400-years method: exact for every int64 day that fits an int year).
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = floor_div(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int *year, int *month, int *day) {
  z += 719468;
  const int64_t era = floor_div(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

int32_t offset_at(const mjh_zone *zone, int64_t utc) { return zone->utc_offset(zone->context, utc); }

}  // namespace

int64_t mjh_local_seconds(int year, int month, int day, int hour, int minute, int second) {
  return days_from_civil(year, month, day) * MJH_DAY_S + hour * 3600 + minute * 60 + second;
}

int mjh_weekday(int64_t day_number) { return static_cast<int>(((day_number + 3) % 7 + 7) % 7); }

void mjh_to_local(const mjh_zone *zone, int64_t utc, mjh_local_time *out) {
  const int32_t offset = offset_at(zone, utc);
  const int64_t local = utc + offset;
  const int64_t day = floor_div(local, MJH_DAY_S);
  const int64_t second_of_day = local - day * MJH_DAY_S;
  civil_from_days(day, &out->year, &out->month, &out->day);
  out->hour = static_cast<int>(second_of_day / 3600);
  out->minute = static_cast<int>(second_of_day / 60 % 60);
  out->second = static_cast<int>(second_of_day % 60);
  out->weekday = mjh_weekday(day);
  out->day_number = day;
  out->offset = offset;
}

int64_t mjh_local_day(const mjh_zone *zone, int64_t utc) { return floor_div(utc + offset_at(zone, utc), MJH_DAY_S); }

int mjh_local_to_utc(const mjh_zone *zone, int64_t local_s, int64_t out[2]) {
  // The offsets a day before and after bracket any change near local_s: each
  // gives one candidate, kept when the zone agrees with it.
  const int32_t before = offset_at(zone, local_s - MJH_DAY_S);
  const int32_t after = offset_at(zone, local_s + MJH_DAY_S);
  int n = 0;
  for (const int64_t u : {local_s - before, local_s - after}) {
    if (u + offset_at(zone, u) != local_s) continue;
    if (n == 1 && out[0] == u) continue;
    out[n++] = u;
  }
  if (n == 2 && out[0] > out[1]) std::swap(out[0], out[1]);
  if (n > 0) return n;
  // A skipped time: local clocks jump over it between lo and hi; find the
  // first instant whose local time is at or past it.
  int64_t lo = local_s - (before > after ? before : after);
  int64_t hi = local_s - (before > after ? after : before);
  if (hi + offset_at(zone, hi) < local_s) {
    out[0] = local_s - before;  // not a single change within a day: best effort
    return 0;
  }
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (mid + offset_at(zone, mid) >= local_s)
      hi = mid;
    else
      lo = mid + 1;
  }
  out[0] = lo;
  return 0;
}

int64_t mjh_instant_of(const mjh_zone *zone, int64_t local_s) {
  int64_t out[2];
  mjh_local_to_utc(zone, local_s, out);
  return out[0];
}
