#include "power.h"

namespace {

// The two power settings followed, as the SDK names them. Defined here
// rather than taken from libuuid, whose one object holding them brings
// hundreds of other GUIDs into the program.
const GUID k_acdc_power_source = {0x5d3e9a59, 0xe9d5, 0x4b00, {0xa6, 0xbd, 0xff, 0x34, 0xff, 0x51, 0x65, 0x48}};
const GUID k_battery_percentage_remaining = {
    0xa7ad8041, 0xb45a, 0x4cae, {0x87, 0xa3, 0xee, 0xcb, 0xb4, 0x68, 0xa9, 0xe1}};

}  // namespace

mjh_power_reading mjw_power_reading_of(const SYSTEM_POWER_STATUS &s) {
  mjh_power_reading r;
  r.ac = s.ACLineStatus == 0 ? MJH_AC_OFFLINE : s.ACLineStatus == 1 ? MJH_AC_ONLINE : MJH_AC_UNKNOWN;
  r.percent = s.BatteryLifePercent <= 100 ? s.BatteryLifePercent : -1;
  if (s.BatteryFlag == 255)
    r.has_battery = r.percent >= 0;
  else
    r.has_battery = (s.BatteryFlag & 128) == 0;
  if (!r.has_battery) r.percent = -1;
  return r;
}

mjh_power_reading mjw_power_read() {
  SYSTEM_POWER_STATUS s = {};
  if (!GetSystemPowerStatus(&s)) return {MJH_AC_UNKNOWN, -1, false};
  return mjw_power_reading_of(s);
}

mjw_power_event mjw_power_event_of(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_POWERBROADCAST) return MJW_POWER_NONE;
  switch (wparam) {
    case PBT_POWERSETTINGCHANGE: {
      const POWERBROADCAST_SETTING *setting = reinterpret_cast<const POWERBROADCAST_SETTING *>(lparam);
      if (!setting) return MJW_POWER_NONE;
      if (IsEqualGUID(setting->PowerSetting, k_acdc_power_source) ||
          IsEqualGUID(setting->PowerSetting, k_battery_percentage_remaining))
        return MJW_POWER_CHANGED;
      return MJW_POWER_NONE;
    }
    case PBT_APMPOWERSTATUSCHANGE:
      return MJW_POWER_CHANGED;
    case PBT_APMRESUMEAUTOMATIC:
    case PBT_APMRESUMESUSPEND:
      return MJW_POWER_RESUMED;
    case PBT_APMSUSPEND:
      return MJW_POWER_SUSPENDING;
    default:
      return MJW_POWER_NONE;
  }
}

bool mjw_power_notify::start(HWND window) {
  stop();
  source.reset(RegisterPowerSettingNotification(window, &k_acdc_power_source, DEVICE_NOTIFY_WINDOW_HANDLE));
  if (source)
    percent.reset(
        RegisterPowerSettingNotification(window, &k_battery_percentage_remaining, DEVICE_NOTIFY_WINDOW_HANDLE));
  if (registered()) return true;
  stop();  // keeps the failed call's error
  return false;
}

void mjw_power_notify::stop() {
  percent.reset();
  source.reset();
}
