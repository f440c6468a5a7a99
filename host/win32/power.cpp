#include "power.h"

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
      if (IsEqualGUID(setting->PowerSetting, GUID_ACDC_POWER_SOURCE) ||
          IsEqualGUID(setting->PowerSetting, GUID_BATTERY_PERCENTAGE_REMAINING))
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
  source.reset(RegisterPowerSettingNotification(window, &GUID_ACDC_POWER_SOURCE, DEVICE_NOTIFY_WINDOW_HANDLE));
  if (source)
    percent.reset(
        RegisterPowerSettingNotification(window, &GUID_BATTERY_PERCENTAGE_REMAINING, DEVICE_NOTIFY_WINDOW_HANDLE));
  if (registered()) return true;
  stop();  // keeps the failed call's error
  return false;
}

void mjw_power_notify::stop() {
  percent.reset();
  source.reset();
}
