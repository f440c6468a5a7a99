#include "lock_timeout.h"

#include <windows.h>

#include "handle.h"

namespace {

using get_active_scheme_fn = DWORD(WINAPI *)(HKEY, GUID **);
using read_value_index_fn = DWORD(WINAPI *)(HKEY, const GUID *, const GUID *, const GUID *, LPDWORD);

// The display subgroup and its "turn off the display after" setting.
const GUID k_video_subgroup = {0x7516b95f, 0xf776, 0x4464, {0x8c, 0x53, 0x06, 0x16, 0x7f, 0x40, 0xcc, 0x99}};
const GUID k_video_powerdown_timeout = {0x3c0bc021, 0xc8a8, 0x4e07, {0xa9, 0x73, 0x6b, 0x14, 0xcb, 0xcb, 0x2b, 0x7e}};

// Not mjw_power_read (power.h): that would link the power notifications
// code into mjctl, 6.5 KiB of its 96.
bool on_battery() {
  SYSTEM_POWER_STATUS status;
  return GetSystemPowerStatus(&status) && status.ACLineStatus == 0;
}

// Seconds, 0 for never, -1 when the plan cannot be read.
int display_off_seconds(bool battery) {
  mjw_module powrprof(LoadLibraryW(L"powrprof.dll"));
  if (!powrprof) return -1;
  auto get_active_scheme = mjw_function<get_active_scheme_fn>(powrprof.get(), "PowerGetActiveScheme");
  auto read_value_index =
      mjw_function<read_value_index_fn>(powrprof.get(), battery ? "PowerReadDCValueIndex" : "PowerReadACValueIndex");
  GUID *scheme = nullptr;
  if (!get_active_scheme || !read_value_index || get_active_scheme(nullptr, &scheme) != ERROR_SUCCESS || !scheme)
    return -1;
  mjw_local scheme_memory(scheme);  // the scheme's GUID is the caller's to free
  DWORD value = 0;
  if (read_value_index(nullptr, scheme, &k_video_subgroup, &k_video_powerdown_timeout, &value) != ERROR_SUCCESS)
    return -1;
  return value > 0x7fffffff ? 0x7fffffff : static_cast<int>(value);
}

}  // namespace

void mjw_lock_timeout_read(mjw_lock_timeout *out) {
  BOOL active = FALSE, secure = FALSE;
  UINT timeout = 0;
  out->saver_active = SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &active, 0) && active;
  out->saver_timeout_s = SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeout, 0) && timeout <= 0x7fffffff
                             ? static_cast<int>(timeout)
                             : 0;
  out->saver_secure = SystemParametersInfoW(SPI_GETSCREENSAVESECURE, 0, &secure, 0) ? secure != FALSE : -1;
  out->on_battery = on_battery();
  out->display_off_s = display_off_seconds(out->on_battery);
  out->seconds = mjh_lock_timeout(out->saver_active, out->saver_timeout_s, out->display_off_s);
  if (out->seconds == 0) {
    out->source = MJW_LOCK_NONE;
    out->kind = MJH_LOCK_SCREEN_LOCK;
  } else if (out->display_off_s > 0 && out->seconds == out->display_off_s &&
             !(out->saver_active && out->saver_timeout_s == out->seconds)) {
    out->source = MJW_LOCK_DISPLAY_OFF;
    out->kind = MJH_LOCK_DISPLAY_OFF;
  } else {
    out->source = MJW_LOCK_SCREEN_SAVER;
    out->kind = out->saver_secure == 1 ? MJH_LOCK_SCREEN_LOCK : MJH_LOCK_SCREEN_SAVER;
  }
}
