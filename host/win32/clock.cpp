#include "clock.h"

#include "handle.h"

namespace {

const int64_t k_ticks_per_second = 10000000;
const int64_t k_epoch_1601_to_1970_s = 11644473600LL;

// SYSTEMTIME covers the years 1601 to 30827; stay well inside them.
const int64_t k_utc_min = -11644473600LL + 366LL * 86400;
const int64_t k_utc_max = 910000000000LL;

using to_local_ex_fn = BOOL(WINAPI *)(const DYNAMIC_TIME_ZONE_INFORMATION *, const SYSTEMTIME *, SYSTEMTIME *);
using rule_for_year_fn = BOOL(WINAPI *)(USHORT, PDYNAMIC_TIME_ZONE_INFORMATION, LPTIME_ZONE_INFORMATION);

// kernel32's functions that some systems lack, looked up once.
struct zone_functions {
  to_local_ex_fn to_local_ex;
  rule_for_year_fn rule_for_year;
};

INIT_ONCE g_zone_functions_once = INIT_ONCE_STATIC_INIT;
zone_functions g_zone_functions;

BOOL CALLBACK look_up_zone_functions(INIT_ONCE *, void *, void **) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  g_zone_functions = {mjw_function<to_local_ex_fn>(kernel32, "SystemTimeToTzSpecificLocalTimeEx"),
                      mjw_function<rule_for_year_fn>(kernel32, "GetTimeZoneInformationForYear")};
  return TRUE;
}

// Whichever thread comes first looks them up; the others wait for it.
zone_functions zone_functions_of_this_system() {
  InitOnceExecuteOnce(&g_zone_functions_once, look_up_zone_functions, nullptr, nullptr);
  return g_zone_functions;
}

// The instant's local time under the zone's rule for the instant's year.
// Some systems lack the Ex form (Wine 8 among them): then the rule of that
// year, then the zone's current rule.
BOOL to_local(const mjw_clock *c, const SYSTEMTIME *universal, SYSTEMTIME *local) {
  zone_functions f = zone_functions_of_this_system();
  if (f.to_local_ex) return f.to_local_ex(&c->zone_info, universal, local);
  TIME_ZONE_INFORMATION rule;
  if (!f.rule_for_year ||
      !f.rule_for_year(universal->wYear, const_cast<PDYNAMIC_TIME_ZONE_INFORMATION>(&c->zone_info), &rule)) {
    rule = {};
    rule.Bias = c->zone_info.Bias;
    rule.StandardBias = c->zone_info.StandardBias;
    rule.DaylightBias = c->zone_info.DaylightBias;
    rule.StandardDate = c->zone_info.StandardDate;
    rule.DaylightDate = c->zone_info.DaylightDate;
  }
  return SystemTimeToTzSpecificLocalTime(&rule, universal, local);
}

int32_t zone_offset(void *context, int64_t utc) {
  return mjw_clock_utc_offset(static_cast<const mjw_clock *>(context), utc);
}

}  // namespace

int64_t mjw_filetime_to_utc(const FILETIME *ft) {
  uint64_t ticks = (static_cast<uint64_t>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
  return static_cast<int64_t>(ticks / k_ticks_per_second) - k_epoch_1601_to_1970_s;
}

FILETIME mjw_utc_to_filetime(int64_t utc) {
  if (utc < k_utc_min) utc = k_utc_min;
  if (utc > k_utc_max) utc = k_utc_max;
  uint64_t ticks = static_cast<uint64_t>(utc + k_epoch_1601_to_1970_s) * k_ticks_per_second;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

int64_t mjw_now_utc() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return mjw_filetime_to_utc(&ft);
}

void mjw_clock_refresh(mjw_clock *c) {
  c->zone_info = {};
  DWORD id = GetDynamicTimeZoneInformation(&c->zone_info);
  LONG bias = c->zone_info.Bias;
  if (id == TIME_ZONE_ID_DAYLIGHT)
    bias += c->zone_info.DaylightBias;
  else if (id == TIME_ZONE_ID_STANDARD)
    bias += c->zone_info.StandardBias;
  c->fallback_offset = id == TIME_ZONE_ID_INVALID ? 0 : -static_cast<int32_t>(bias) * 60;
}

int32_t mjw_clock_utc_offset(const mjw_clock *c, int64_t utc) {
  FILETIME universal_ft = mjw_utc_to_filetime(utc), local_ft;
  SYSTEMTIME universal, local;
  if (!FileTimeToSystemTime(&universal_ft, &universal) || !to_local(c, &universal, &local) ||
      !SystemTimeToFileTime(&local, &local_ft))
    return c->fallback_offset;
  return static_cast<int32_t>(mjw_filetime_to_utc(&local_ft) - mjw_filetime_to_utc(&universal_ft));
}

mjh_zone mjw_clock_zone(mjw_clock *c) {
  mjh_zone zone;
  zone.utc_offset = zone_offset;
  zone.context = c;
  return zone;
}
