// The power source and battery under Wine: the reading of GetSystemPowerStatus's
// values, the reading now, the power messages a window gets, and the
// registration for the two power settings and its end. Wine cannot show a
// change of power (it sends no power messages), so the messages are made
// here.
#include "power.h"

#include <windows.h>

#include <cstdio>

#include "gtest/gtest.h"
#include "process_counters.h"

namespace {

struct status_case {
  BYTE ac, flag, percent;
  mjh_power_reading reading;
  const char *what;
};

const status_case k_statuses[] = {
    {1, 8, 57, {MJH_AC_ONLINE, 57, true}, "charging"},
    {0, 1, 100, {MJH_AC_OFFLINE, 100, true}, "on battery, high"},
    {0, 2 | 4, 3, {MJH_AC_OFFLINE, 3, true}, "on battery, low and critical"},
    {0, 0, 50, {MJH_AC_OFFLINE, 50, true}, "on battery, between high and low"},
    {1, 128, 255, {MJH_AC_ONLINE, -1, false}, "a desktop: no system battery"},
    {1, 128, 100, {MJH_AC_ONLINE, -1, false}, "no system battery, whatever the percent"},
    {255, 255, 255, {MJH_AC_UNKNOWN, -1, false}, "nothing known"},
    {255, 255, 40, {MJH_AC_UNKNOWN, 40, true}, "status unknown, but a percent"},
    {0, 1, 255, {MJH_AC_OFFLINE, -1, true}, "a battery of unknown charge"},
    {2, 1, 101, {MJH_AC_UNKNOWN, -1, true}, "values Windows does not give"},
};

TEST(Power, ReadsTheSystemPowerStatus) {
  for (const status_case &c : k_statuses) {
    SYSTEM_POWER_STATUS s = {};
    s.ACLineStatus = c.ac;
    s.BatteryFlag = c.flag;
    s.BatteryLifePercent = c.percent;
    mjh_power_reading r = mjw_power_reading_of(s);
    EXPECT_EQ(r.ac, c.reading.ac) << c.what;
    EXPECT_EQ(r.percent, c.reading.percent) << c.what;
    EXPECT_EQ(r.has_battery, c.reading.has_battery) << c.what;
  }
}

TEST(Power, TheReadingNowIsTheSystems) {
  SYSTEM_POWER_STATUS s = {};
  ASSERT_TRUE(GetSystemPowerStatus(&s));
  mjh_power_reading now = mjw_power_read(), expected = mjw_power_reading_of(s);
  EXPECT_EQ(now.ac, expected.ac);
  EXPECT_EQ(now.has_battery, expected.has_battery);
  EXPECT_GE(now.percent, -1);
  EXPECT_LE(now.percent, 100);
  std::printf("power now: AC %s, %s, battery %d %%\n",
              now.ac == MJH_AC_ONLINE    ? "online"
              : now.ac == MJH_AC_OFFLINE ? "offline"
                                         : "unknown",
              now.has_battery ? "a battery" : "no battery", now.percent);
}

// A PBT_POWERSETTINGCHANGE as Windows sends it: the setting and a DWORD.
struct setting_message {
  POWERBROADCAST_SETTING head;
  BYTE rest[sizeof(DWORD)];
};

setting_message setting_of(const GUID &guid, DWORD value) {
  setting_message m = {};
  m.head.PowerSetting = guid;
  m.head.DataLength = sizeof value;
  memcpy(m.head.Data, &value, sizeof value);
  return m;
}

TEST(Power, TellsWhatAWindowMessageSays) {
  setting_message source = setting_of(GUID_ACDC_POWER_SOURCE, 1);
  setting_message percent = setting_of(GUID_BATTERY_PERCENTAGE_REMAINING, 42);
  setting_message other = setting_of(GUID_MONITOR_POWER_ON, 0);
  struct {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    mjw_power_event event;
  } cases[] = {
      {WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&source), MJW_POWER_CHANGED},
      {WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&percent), MJW_POWER_CHANGED},
      {WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, reinterpret_cast<LPARAM>(&other), MJW_POWER_NONE},
      {WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, 0, MJW_POWER_NONE},
      {WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0, MJW_POWER_CHANGED},
      {WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, MJW_POWER_RESUMED},
      {WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0, MJW_POWER_RESUMED},
      {WM_POWERBROADCAST, PBT_APMSUSPEND, 0, MJW_POWER_SUSPENDING},
      {WM_POWERBROADCAST, 0x1234, 0, MJW_POWER_NONE},
      {WM_TIMER, PBT_APMPOWERSTATUSCHANGE, 0, MJW_POWER_NONE},
  };
  for (const auto &c : cases)
    EXPECT_EQ(mjw_power_event_of(c.message, c.wparam, c.lparam), c.event) << c.message << " " << c.wparam;
}

// A window that counts the power messages it gets.
int g_power_messages = 0;
LRESULT CALLBACK counting_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_POWERBROADCAST) {
    g_power_messages++;
    return TRUE;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

HWND counting_window() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = counting_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"mj_power_test";
  RegisterClassExW(&wc);
  return CreateWindowExW(0, L"mj_power_test", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance,
                         nullptr);
}

TEST(Power, RegistersAWindowForBothSettingsAndLetsGo) {
  HWND window = counting_window();
  ASSERT_NE(window, nullptr);
  process_counters before = take_process_counters();
  {
    mjw_power_notify notify;
    EXPECT_FALSE(notify.registered());
    SetLastError(0);
    bool ok = notify.start(window);
    // Windows registers a window; should the system refuse, nothing stays
    // registered and the error is told.
    EXPECT_EQ(notify.registered(), ok);
    if (!ok) {
      EXPECT_NE(GetLastError(), 0u);
    }
    EXPECT_EQ(notify.start(window), ok) << "registered again";
    notify.stop();
    EXPECT_FALSE(notify.registered());
    notify.stop();  // twice is harmless
    EXPECT_EQ(notify.start(window), ok);

    // Windows sends the values in force at once; Wine sends nothing.
    MSG msg;
    ULONGLONG deadline = GetTickCount64() + 500;
    while (GetTickCount64() < deadline) {
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      Sleep(20);
    }
    std::printf("registration %s; %d power messages in 500 ms\n", ok ? "made" : "refused", g_power_messages);
  }  // the owner's end unregisters
  process_counters after = take_process_counters();
  if (before.handles >= 0) {
    EXPECT_EQ(after.handles, before.handles);
  }
  DestroyWindow(window);
}

}  // namespace
