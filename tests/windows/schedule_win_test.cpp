// The Windows side of schedules under Wine: the clock and this computer's
// zone against the system's own conversions, and the timeout after which the
// screen saver starts (set by the test, restored after).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "civil_time.h"
#include "clock.h"
#include "gtest/gtest.h"
#include "lock_rule.h"
#include "lock_timeout.h"

namespace {

// ---- The clock and the zone --------------------------------------------------------

int64_t system_time_to_utc(const SYSTEMTIME &st) {
  FILETIME ft;
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return mjw_filetime_to_utc(&ft);
}

TEST(Clock, FileTimeRoundTripsAndNowIsTheSystemTime) {
  for (int64_t utc : {INT64_C(0), INT64_C(1), INT64_C(1700000000), INT64_C(-86400), INT64_C(4102444800)}) {
    FILETIME ft = mjw_utc_to_filetime(utc);
    EXPECT_EQ(mjw_filetime_to_utc(&ft), utc);
  }
  SYSTEMTIME st;
  GetSystemTime(&st);
  int64_t before = system_time_to_utc(st), now = mjw_now_utc();
  GetSystemTime(&st);
  int64_t after = system_time_to_utc(st);
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
  EXPECT_EQ(system_time_to_utc(SYSTEMTIME{1970, 1, 4, 1, 0, 0, 0, 0}), 0);
}

TEST(Clock, OffsetNowIsTheZonesBias) {
  TIME_ZONE_INFORMATION tzi;
  DWORD id = GetTimeZoneInformation(&tzi);
  ASSERT_NE(id, TIME_ZONE_ID_INVALID);
  LONG bias = tzi.Bias + (id == TIME_ZONE_ID_DAYLIGHT ? tzi.DaylightBias : tzi.StandardBias);
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  EXPECT_EQ(mjw_clock_utc_offset(&clock, mjw_now_utc()), -bias * 60);
  EXPECT_EQ(clock.fallback_offset, -bias * 60);
  std::printf("zone %ls: bias %ld min, offset now %d s\n", clock.zone_info.TimeZoneKeyName, bias,
              (int)mjw_clock_utc_offset(&clock, mjw_now_utc()));
}

TEST(Clock, LocalTimeFromTheZoneIsGetLocalTime) {
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  // A second may tick between the two readings: try again until it does not.
  for (int attempt = 0; attempt < 5; attempt++) {
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    int64_t now = mjw_now_utc();
    GetLocalTime(&after);
    if (before.wSecond != after.wSecond) continue;
    mjh_local_time local;
    mjh_to_local(&zone, now, &local);
    EXPECT_EQ(local.year, before.wYear);
    EXPECT_EQ(local.month, before.wMonth);
    EXPECT_EQ(local.day, before.wDay);
    EXPECT_EQ(local.hour, before.wHour);
    EXPECT_EQ(local.minute, before.wMinute);
    EXPECT_EQ(local.second, before.wSecond);
    EXPECT_EQ(local.weekday, (before.wDayOfWeek + 6) % 7) << "Monday first";
    EXPECT_EQ(mjh_local_seconds(local.year, local.month, local.day, local.hour, local.minute, local.second),
              now + local.offset);
    return;
  }
  FAIL() << "the second kept changing";
}

// Every six hours over two years: the offset is what the system converts to,
// and local times read back to the instant (once, or as one of a repeated
// hour's two).
TEST(Clock, OffsetsOverTwoYearsAgreeWithTheSystemsConversion) {
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  SYSTEMTIME st;
  GetSystemTime(&st);
  int64_t from = system_time_to_utc(SYSTEMTIME{st.wYear, 1, 0, 1, 0, 0, 0, 0});
  int changes = 0;
  int32_t last = mjw_clock_utc_offset(&clock, from);
  for (int64_t utc = from; utc < from + 2 * 366 * 86400; utc += 6 * 3600) {
    FILETIME universal_ft = mjw_utc_to_filetime(utc);
    SYSTEMTIME universal, local;
    ASSERT_TRUE(FileTimeToSystemTime(&universal_ft, &universal));
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local));
    int32_t offset = mjw_clock_utc_offset(&clock, utc);
    ASSERT_EQ(offset, system_time_to_utc(local) - utc) << "at " << utc;
    changes += offset != last;
    last = offset;
    int64_t instants[2];
    int n = mjh_local_to_utc(&zone, utc + offset, instants);
    ASSERT_TRUE((n >= 1 && instants[0] == utc) || (n == 2 && instants[1] == utc)) << "at " << utc;
  }
  std::printf("%d offset changes over two years\n", changes);
}

// Run with TZ=Europe/Berlin by the test list: the zone's historical rule.
TEST(Clock, CentralEuropeanRulesWhenThatIsTheZone) {
  const char *tz = std::getenv("TZ");
  if (!tz || std::string(tz) != "Europe/Berlin") GTEST_SKIP() << "not run in Europe/Berlin";
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  EXPECT_EQ(mjw_clock_utc_offset(&clock, 1767225600), 3600) << "2026-01-01";
  EXPECT_EQ(mjw_clock_utc_offset(&clock, 1782864000), 7200) << "2026-07-01";
  int64_t out[2];
  EXPECT_EQ(mjh_local_to_utc(&zone, mjh_local_seconds(2026, 3, 29, 2, 30, 0), out), 0) << "the skipped hour";
  EXPECT_EQ(out[0], 1774746000) << "01:00 UTC, when clocks jump to 03:00";
  EXPECT_EQ(mjh_local_to_utc(&zone, mjh_local_seconds(2026, 10, 25, 2, 30, 0), out), 2) << "the repeated hour";
  EXPECT_EQ(out[1] - out[0], 3600);
}

// A zone change reaches the schedule on the next refresh, not before: the
// agent refreshes on WM_TIMECHANGE.
TEST(Clock, AZoneChangeIsSeenAfterARefresh) {
  TIME_ZONE_INFORMATION saved{}, tokyo{}, now_set{};
  ASSERT_NE(GetTimeZoneInformation(&saved), TIME_ZONE_ID_INVALID);
  tokyo.Bias = -540;
  wcscpy(tokyo.StandardName, L"Tokyo Standard Time");
  wcscpy(tokyo.DaylightName, L"Tokyo Daylight Time");
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  const int64_t now = mjw_now_utc();
  const int32_t before = mjw_clock_utc_offset(&clock, now);
  if (before == 9 * 3600) GTEST_SKIP() << "already in that zone";
  if (!SetTimeZoneInformation(&tokyo) || GetTimeZoneInformation(&now_set) == TIME_ZONE_ID_INVALID ||
      now_set.Bias != -540) {
    SetTimeZoneInformation(&saved);
    GTEST_SKIP() << "the zone cannot be set here";
  }
  EXPECT_EQ(mjw_clock_utc_offset(&clock, now), before) << "no refresh yet";
  mjw_clock_refresh(&clock);
  EXPECT_EQ(mjw_clock_utc_offset(&clock, now), 9 * 3600);
  EXPECT_TRUE(SetTimeZoneInformation(&saved));
  mjw_clock_refresh(&clock);
  EXPECT_EQ(mjw_clock_utc_offset(&clock, now), before);
}

// ---- The screen saver's timeout ------------------------------------------------------

class LockTimeout : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &saved_active_, 0));
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &saved_timeout_, 0));
  }
  void TearDown() override {
    SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, saved_timeout_, nullptr, 0);
    SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, saved_active_, nullptr, 0);
  }
  static void set_saver(BOOL active, UINT timeout) {
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, timeout, nullptr, 0));
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, active, nullptr, 0));
  }
  BOOL saved_active_ = FALSE;
  UINT saved_timeout_ = 0;
};

TEST_F(LockTimeout, ReadsTheSystemsSettings) {
  mjw_lock_timeout lock;
  mjw_lock_timeout_read(&lock);
  EXPECT_EQ(lock.saver_timeout_s, (int)saved_timeout_);
  EXPECT_EQ(lock.saver_active, saved_active_ != FALSE);
  EXPECT_EQ(lock.seconds, mjh_lock_timeout(lock.saver_active, lock.saver_timeout_s, lock.display_off_s));
  std::printf("screen saver %s after %d s (secure %d), display off %d s on %s\n", lock.saver_active ? "on" : "off",
              lock.saver_timeout_s, lock.saver_secure, lock.display_off_s, lock.on_battery ? "battery" : "mains");
}

TEST_F(LockTimeout, FollowsTheScreenSaversSettings) {
  struct Case {
    BOOL active;
    UINT timeout;
  };
  for (const Case &c : {Case{TRUE, 120}, Case{TRUE, 900}, Case{FALSE, 120}, Case{TRUE, 45}}) {
    set_saver(c.active, c.timeout);
    mjw_lock_timeout lock;
    mjw_lock_timeout_read(&lock);
    SCOPED_TRACE(testing::Message() << "active " << c.active << ", timeout " << c.timeout);
    EXPECT_EQ(lock.saver_active, c.active != FALSE);
    EXPECT_EQ(lock.saver_timeout_s, (int)c.timeout);
    int display = lock.display_off_s > 0 ? lock.display_off_s : 0;
    if (c.active && (display == 0 || (int)c.timeout <= display)) {
      EXPECT_EQ(lock.seconds, (int)c.timeout);
      EXPECT_EQ(lock.source, MJW_LOCK_SCREEN_SAVER);
      EXPECT_EQ(lock.kind, lock.saver_secure == 1 ? MJH_LOCK_SCREEN_LOCK : MJH_LOCK_SCREEN_SAVER);
    } else if (display > 0) {
      EXPECT_EQ(lock.seconds, display);
      EXPECT_EQ(lock.source, MJW_LOCK_DISPLAY_OFF);
      EXPECT_EQ(lock.kind, MJH_LOCK_DISPLAY_OFF);
    } else {
      EXPECT_EQ(lock.seconds, 0);
      EXPECT_EQ(lock.source, MJW_LOCK_NONE);
    }
  }
}

TEST_F(LockTimeout, TheWarningNamesWhatHappens) {
  set_saver(TRUE, 300);
  mjw_lock_timeout lock;
  mjw_lock_timeout_read(&lock);
  if (lock.source != MJW_LOCK_SCREEN_SAVER) GTEST_SKIP() << "the display turns off first here";
  mjh_text_buffer<256> text;
  mjh_interval_warning_short_of(240, true, lock.seconds, lock.kind, text);
  EXPECT_STREQ(text.c_str(), lock.kind == MJH_LOCK_SCREEN_LOCK ? "locks after 300 s: use 145 s or less"
                                                               : "screen saver after 300 s: use 145 s or less");
}

}  // namespace
