// The power source and battery charge for the battery rule (conditions.h):
// read now with GetSystemPowerStatus, and told by the system when they change
// through the window messages that RegisterPowerSettingNotification asks
// for. Nothing here polls.
//
// How the agent drives it: at start it reads mjw_power_read() and registers
// its window with mjw_power_notify::start. Its window procedure hands every
// WM_POWERBROADCAST to mjw_power_event_of: on MJW_POWER_CHANGED or
// MJW_POWER_RESUMED it reads mjw_power_read() again and feeds the battery
// gate; on MJW_POWER_RESUMED it also decides its schedule again (the clock
// went on during sleep). Registering sends one PBT_POWERSETTINGCHANGE per
// setting at once, with the values in force.
#ifndef MJW_POWER_H
#define MJW_POWER_H

#include <windows.h>

#include "conditions.h"
#include "handle.h"

// The power now; everything unknown (no battery known) when the system cannot
// say.
mjh_power_reading mjw_power_read();

// The reading a SYSTEM_POWER_STATUS gives: ACLineStatus 0 offline, 1 online,
// else unknown; BatteryLifePercent 0 to 100, else unknown; a battery unless
// BatteryFlag says there is none (128), or says nothing (255) without a percent.
mjh_power_reading mjw_power_reading_of(const SYSTEM_POWER_STATUS &s);

enum mjw_power_event {
  MJW_POWER_NONE,        // not a power message, or one about another setting
  MJW_POWER_CHANGED,     // the power source or the battery charge may have changed
  MJW_POWER_RESUMED,     // the computer woke from sleep or hibernation
  MJW_POWER_SUSPENDING,  // the computer is about to sleep
};

// What a window message says of the power: WM_POWERBROADCAST with
// PBT_POWERSETTINGCHANGE for GUID_ACDC_POWER_SOURCE or
// GUID_BATTERY_PERCENTAGE_REMAINING, or PBT_APMPOWERSTATUSCHANGE: changed;
// PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND: resumed; PBT_APMSUSPEND:
// suspending. The window procedure returns TRUE for WM_POWERBROADCAST.
mjw_power_event mjw_power_event_of(UINT message, WPARAM wparam, LPARAM lparam);

// The window's registration for the two power settings; unregistered by
// stop() or when the owner goes.
struct mjw_power_notify {
  mjw_power_notify_handle source, percent;

  // Registers window (again) for both settings. Returns false, with the
  // system's error in GetLastError and nothing registered, when either
  // registration fails; PBT_APMPOWERSTATUSCHANGE, which every top-level
  // window gets without asking, then still tells of changes.
  bool start(HWND window);
  void stop();
  bool registered() const { return static_cast<bool>(source) && static_cast<bool>(percent); }
};

#endif
