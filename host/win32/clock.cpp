#include "clock.h"

enum { TICKS_PER_SECOND = 10000000 };
static const int64_t k_epoch_1601_to_1970_s = 11644473600LL;

/* SYSTEMTIME covers the years 1601 to 30827; stay well inside them. */
static const int64_t k_utc_min = -11644473600LL + 366LL * 86400;
static const int64_t k_utc_max = 910000000000LL;

int64_t mjw_filetime_to_utc(const FILETIME *ft) {
  uint64_t ticks = ((uint64_t)ft->dwHighDateTime << 32) | ft->dwLowDateTime;
  return (int64_t)(ticks / TICKS_PER_SECOND) - k_epoch_1601_to_1970_s;
}

FILETIME mjw_utc_to_filetime(int64_t utc) {
  FILETIME ft;
  uint64_t ticks;
  if (utc < k_utc_min) utc = k_utc_min;
  if (utc > k_utc_max) utc = k_utc_max;
  ticks = (uint64_t)(utc + k_epoch_1601_to_1970_s) * TICKS_PER_SECOND;
  ft.dwLowDateTime = (DWORD)ticks;
  ft.dwHighDateTime = (DWORD)(ticks >> 32);
  return ft;
}

int64_t mjw_now_utc(void) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return mjw_filetime_to_utc(&ft);
}

void mjw_clock_refresh(mjw_clock *c) {
  DWORD id;
  LONG bias;
  ZeroMemory(&c->zone_info, sizeof c->zone_info);
  id = GetDynamicTimeZoneInformation(&c->zone_info);
  bias = c->zone_info.Bias;
  if (id == TIME_ZONE_ID_DAYLIGHT)
    bias += c->zone_info.DaylightBias;
  else if (id == TIME_ZONE_ID_STANDARD)
    bias += c->zone_info.StandardBias;
  c->fallback_offset = id == TIME_ZONE_ID_INVALID ? 0 : -(int32_t)bias * 60;
}

typedef BOOL(WINAPI *to_local_ex_fn)(const DYNAMIC_TIME_ZONE_INFORMATION *, const SYSTEMTIME *, SYSTEMTIME *);
typedef BOOL(WINAPI *rule_for_year_fn)(USHORT, PDYNAMIC_TIME_ZONE_INFORMATION, LPTIME_ZONE_INFORMATION);

/* The instant's local time under the zone's rule for the instant's year.
 * Some systems lack the Ex form (Wine 8 among them): then the rule of that
 * year, then the zone's current rule. */
static BOOL to_local(const mjw_clock *c, const SYSTEMTIME *universal, SYSTEMTIME *local) {
  static to_local_ex_fn to_local_ex;
  static rule_for_year_fn rule_for_year;
  static volatile LONG looked_up;
  TIME_ZONE_INFORMATION rule;
  if (!looked_up) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32) {
      to_local_ex = (to_local_ex_fn)(void (*)(void))GetProcAddress(kernel32, "SystemTimeToTzSpecificLocalTimeEx");
      rule_for_year = (rule_for_year_fn)(void (*)(void))GetProcAddress(kernel32, "GetTimeZoneInformationForYear");
    }
    InterlockedExchange(&looked_up, 1);
  }
  if (to_local_ex) return to_local_ex(&c->zone_info, universal, local);
  if (!rule_for_year || !rule_for_year(universal->wYear, (PDYNAMIC_TIME_ZONE_INFORMATION)&c->zone_info, &rule)) {
    ZeroMemory(&rule, sizeof rule);
    rule.Bias = c->zone_info.Bias;
    rule.StandardBias = c->zone_info.StandardBias;
    rule.DaylightBias = c->zone_info.DaylightBias;
    rule.StandardDate = c->zone_info.StandardDate;
    rule.DaylightDate = c->zone_info.DaylightDate;
  }
  return SystemTimeToTzSpecificLocalTime(&rule, universal, local);
}

int32_t mjw_clock_utc_offset(const mjw_clock *c, int64_t utc) {
  FILETIME universal_ft = mjw_utc_to_filetime(utc), local_ft;
  SYSTEMTIME universal, local;
  if (!FileTimeToSystemTime(&universal_ft, &universal) || !to_local(c, &universal, &local) ||
      !SystemTimeToFileTime(&local, &local_ft))
    return c->fallback_offset;
  return (int32_t)(mjw_filetime_to_utc(&local_ft) - mjw_filetime_to_utc(&universal_ft));
}

static int32_t zone_offset(void *context, int64_t utc) {
  return mjw_clock_utc_offset(static_cast<const mjw_clock *>(context), utc);
}

mjh_zone mjw_clock_zone(mjw_clock *c) {
  mjh_zone zone;
  zone.utc_offset = zone_offset;
  zone.context = c;
  return zone;
}
