// Working hours, sessions and the safe interval, over a clock and time zones
// the test sets: a fixed offset, a zone with European-style daylight saving
// (UTC+1, +2 from the last Sunday of March to the last Sunday of October, at
// 01:00 UTC) and one with US-style rules (UTC-5, -4 from the second Sunday of
// March 02:00 to the first Sunday of November 02:00 local).
#include "schedule.h"

#include <stdint.h>
#include <string.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace {

const int64_t kHour = 3600, kDay = 86400;

// UTC instants written as dates: the same arithmetic as local seconds at offset 0.
int64_t utc(int y, int mo, int d, int h, int mi, int s = 0) { return mjh_local_seconds(y, mo, d, h, mi, s); }

int64_t day_number(int y, int mo, int d) { return utc(y, mo, d, 0, 0) / kDay; }

// The day number of the last Sunday of a month with 31 days, or the n-th Sunday.
int64_t last_sunday(int y, int mo) {
  int64_t d = day_number(y, mo, 31);
  return d - ((d + 3) % 7 + 1) % 7;
}
int64_t nth_sunday(int y, int mo, int n) {
  int64_t d = day_number(y, mo, 1);
  return d + (6 - (d + 3) % 7) + 7 * (n - 1);
}

int year_of(int64_t t) {
  int y = 1970;
  while (utc(y + 1, 1, 1, 0, 0) <= t) y++;
  while (utc(y, 1, 1, 0, 0) > t) y--;
  return y;
}

int32_t fixed_offset(void *context, int64_t) { return *static_cast<int32_t *>(context); }

int32_t europe_offset(void *, int64_t t) {
  int y = year_of(t);
  int64_t on = last_sunday(y, 3) * kDay + kHour, off = last_sunday(y, 10) * kDay + kHour;
  return t >= on && t < off ? 7200 : 3600;
}

int32_t us_offset(void *, int64_t t) {
  int y = year_of(t);
  int64_t on = nth_sunday(y, 3, 2) * kDay + 7 * kHour, off = nth_sunday(y, 11, 1) * kDay + 6 * kHour;
  return t >= on && t < off ? -4 * 3600 : -5 * 3600;
}

int32_t plus_0530 = 5 * 3600 + 1800;
const mjh_zone kFixed = {fixed_offset, &plus_0530};
const mjh_zone kEurope = {europe_offset, nullptr};
const mjh_zone kUs = {us_offset, nullptr};

// A local wall-clock time in the fixed zone.
int64_t fixed(int y, int mo, int d, int h, int mi) { return utc(y, mo, d, h, mi) - plus_0530; }

mjh_hours hours(const char *spans, const char *days = "all") {
  mjh_hours h;
  char err[200];
  mjh_hours_none(&h);
  EXPECT_TRUE(mjh_hours_parse(spans, &h, err, sizeof err)) << spans << ": " << err;
  EXPECT_TRUE(mjh_days_parse(days, &h.days, err, sizeof err)) << days << ": " << err;
  return h;
}

std::string when(const mjh_zone &z, int64_t now, int64_t t) {
  char buf[64];
  mjh_when_text(&z, now, t, buf, sizeof buf);
  return buf;
}

// ---- Calendar and zones -----------------------------------------------------------

TEST(ScheduleCalendar, LocalSecondsAndBackAgree) {
  EXPECT_EQ(0, utc(1970, 1, 1, 0, 0));
  EXPECT_EQ(-1, utc(1969, 12, 31, 23, 59, 59));
  EXPECT_EQ(951825600, utc(2000, 2, 29, 12, 0));
  EXPECT_EQ(1796866578, utc(2026, 12, 10, 1, 36, 18));
  // Every 7 hours and 13 s from 1960 to 2040: the broken-down time reads back.
  for (int64_t t = utc(1960, 1, 1, 0, 0); t < utc(2040, 1, 1, 0, 0); t += 7 * kHour + 13) {
    mjh_local_time l;
    mjh_to_local(&kFixed, t, &l);
    ASSERT_EQ(t + plus_0530, mjh_local_seconds(l.year, l.month, l.day, l.hour, l.minute, l.second)) << t;
    ASSERT_EQ(plus_0530, l.offset);
  }
  mjh_local_time l;
  mjh_to_local(&kEurope, utc(2026, 12, 10, 1, 36, 18), &l);
  EXPECT_EQ(3, l.weekday);  // a Thursday
  EXPECT_EQ(2, l.hour);
}

TEST(ScheduleCalendar, LocalTimesMapToZeroOneOrTwoInstants) {
  struct Case {
    const mjh_zone *zone;
    int64_t local;
    int count;
    int64_t first, second;
  } cases[] = {
      // Spring forward: 02:00-02:59 does not exist; the gap ends at 01:00 UTC.
      {&kEurope, utc(2026, 3, 29, 2, 30), 0, utc(2026, 3, 29, 1, 0), 0},
      {&kEurope, utc(2026, 3, 29, 2, 0), 0, utc(2026, 3, 29, 1, 0), 0},
      {&kEurope, utc(2026, 3, 29, 1, 59), 1, utc(2026, 3, 29, 0, 59), 0},
      {&kEurope, utc(2026, 3, 29, 3, 0), 1, utc(2026, 3, 29, 1, 0), 0},
      // Fall back: 02:00-02:59 occurs twice.
      {&kEurope, utc(2026, 10, 25, 2, 30), 2, utc(2026, 10, 25, 0, 30), utc(2026, 10, 25, 1, 30)},
      {&kEurope, utc(2026, 10, 25, 3, 0), 1, utc(2026, 10, 25, 2, 0), 0},
      {&kEurope, utc(2026, 7, 1, 12, 0), 1, utc(2026, 7, 1, 10, 0), 0},
      {&kUs, utc(2026, 3, 8, 2, 30), 0, utc(2026, 3, 8, 7, 0), 0},
      {&kUs, utc(2026, 11, 1, 1, 30), 2, utc(2026, 11, 1, 5, 30), utc(2026, 11, 1, 6, 30)},
      {&kUs, utc(2026, 1, 15, 9, 0), 1, utc(2026, 1, 15, 14, 0), 0},
      {&kFixed, utc(2026, 3, 29, 2, 30), 1, utc(2026, 3, 29, 2, 30) - plus_0530, 0},
  };
  for (const Case &c : cases) {
    int64_t out[2] = {0, 0};
    ASSERT_EQ(c.count, mjh_local_to_utc(c.zone, c.local, out)) << c.local;
    EXPECT_EQ(c.first, out[0]) << c.local;
    if (c.count == 2) {
      EXPECT_EQ(c.second, out[1]) << c.local;
    }
  }
}

// ---- Reading and writing ---------------------------------------------------------------

TEST(ScheduleParse, HoursAcceptedAndWrittenBack) {
  const std::pair<const char *, const char *> cases[] = {
      {"08:30-12:00,13:00-17:30", "08:30-12:00,13:00-17:30"},
      {" 13:00 - 17:30 , 8:30-12 ", "08:30-12:00,13:00-17:30"},  // sorted, spaces and short forms
      {"22:00-06:00", "22:00-06:00"},                            // crosses midnight
      {"22:00-00:00", "22:00-24:00"},                            // 00:00 as an end is midnight
      {"00:00-24:00", "00:00-24:00"},
      {"08:00-12:00,12:00-17:00", "08:00-12:00,12:00-17:00"},  // touching spans are kept
      {"22:00-06:00,06:00-08:00", "06:00-08:00,22:00-06:00"},
      {"ANY", "any"},
      {"1-2,3-4,5-6,7-8,9-10,11-12,13-14,15-16",
       "01:00-02:00,03:00-04:00,05:00-06:00,07:00-08:00,09:00-10:00,"
       "11:00-12:00,13:00-14:00,15:00-16:00"},
  };
  for (const auto &c : cases) {
    mjh_hours h;
    char err[200] = "", text[200];
    ASSERT_TRUE(mjh_hours_parse(c.first, &h, err, sizeof err)) << c.first << ": " << err;
    ASSERT_GT(mjh_hours_text(&h, text, sizeof text), 0u);
    EXPECT_STREQ(c.second, text) << c.first;
    mjh_hours again;
    ASSERT_TRUE(mjh_hours_parse(text, &again, err, sizeof err)) << text;
    EXPECT_EQ(0, memcmp(&h.spans, &again.spans, sizeof h.spans[0] * h.span_count));
  }
}

TEST(ScheduleParse, HoursRefusedWithTheReason) {
  const std::pair<const char *, const char *> cases[] = {
      {"", "no working hours given: write e.g. 08:30-12:00,13:00-17:30, or any"},
      {"   ", "no working hours given: write e.g. 08:30-12:00,13:00-17:30, or any"},
      {"08:30", "\"08:30\" is not a span: write START-END, e.g. 08:30-12:00"},
      {"08:30-12:00,", "\"\" is not a span: write START-END, e.g. 08:30-12:00"},
      {",08:30-12:00", "\"\" is not a span: write START-END, e.g. 08:30-12:00"},
      {"08:30-12:00,,13:00-17:30", "\"\" is not a span: write START-END, e.g. 08:30-12:00"},
      {"8:3-12:00", "\"8:3\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"08:30-25:00", "\"25:00\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"08:60-09:00", "\"08:60\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"24:30-01:00", "\"24:30\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"-12:00", "\"\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"8am-5pm", "\"8am\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"24:00-06:00", "a span cannot start at 24:00: write 00:00"},
      {"09:00-09:00", "the span 09:00-09:00 is empty; for a whole day write 00:00-24:00"},
      {"00:00-00:00", "the span 00:00-00:00 is empty; for a whole day write 00:00-24:00"},
      {"08:30-12:00,11:00-17:30", "the spans 08:30-12:00 and 11:00-17:30 overlap"},
      {"22:00-06:00,05:00-08:00", "the spans 22:00-06:00 and 05:00-08:00 overlap"},  // across midnight
      {"00:00-24:00,10:00-11:00", "the spans 00:00-24:00 and 10:00-11:00 overlap"},
      {"1-2,3-4,5-6,7-8,9-10,11-12,13-14,15-16,17-18", "too many spans: at most 8"},
  };
  for (const auto &c : cases) {
    mjh_hours h = hours("10:00-11:00", "mon");
    const mjh_hours before = h;
    char err[200] = "";
    EXPECT_FALSE(mjh_hours_parse(c.first, &h, err, sizeof err)) << c.first;
    EXPECT_STREQ(c.second, err) << c.first;
    EXPECT_EQ(0, memcmp(&before, &h, sizeof h)) << "a refused text changed the hours: " << c.first;
  }
}

TEST(ScheduleParse, DaysAcceptedAndWrittenBack) {
  const std::pair<const char *, const char *> cases[] = {
      {"mon-fri", "mon-fri"},
      {"sat,sun", "sat,sun"},
      {"mon,wed-fri", "mon,wed-fri"},
      {"all", "all"},
      {"every day", "all"},
      {"Daily", "all"},
      {"mon-sun", "all"},
      {"weekdays", "mon-fri"},
      {"weekend", "sat,sun"},
      {"fri-mon", "mon,fri-sun"},
      {"Monday, Tuesday", "mon,tue"},
      {"sun", "sun"},
      {"mon,mon,tue", "mon,tue"},
      {"wed-wed", "wed"},
      {"mon,wed,fri", "mon,wed,fri"},
  };
  for (const auto &c : cases) {
    unsigned days = 0;
    char err[200] = "", text[64];
    ASSERT_TRUE(mjh_days_parse(c.first, &days, err, sizeof err)) << c.first << ": " << err;
    ASSERT_GT(mjh_days_text(days, text, sizeof text), 0u);
    EXPECT_STREQ(c.second, text) << c.first;
    unsigned again = 0;
    ASSERT_TRUE(mjh_days_parse(text, &again, err, sizeof err));
    EXPECT_EQ(days, again);
  }
}

TEST(ScheduleParse, DaysRefusedWithTheReason) {
  const char *const k_use = " is not a day: use mon, tue, wed, thu, fri, sat, sun, a range such as mon-fri, or all";
  const std::pair<const char *, std::string> cases[] = {
      {"", "no days given: write e.g. mon-fri, sat,sun or all"},
      {"mon-xyz", std::string("\"xyz\"") + k_use},
      {"mon,", std::string("\"\"") + k_use},
      {"mon,,fri", std::string("\"\"") + k_use},
      {"mon--fri", std::string("\"mon-\"") + k_use},
      {"mo-fr", std::string("\"mo\"") + k_use},
      {"1-5", std::string("\"1\"") + k_use},
      {"mon-fri-sat", std::string("\"mon-fri\"") + k_use},
  };
  for (const auto &c : cases) {
    unsigned days = 0x15;
    char err[200] = "";
    EXPECT_FALSE(mjh_days_parse(c.first, &days, err, sizeof err)) << c.first;
    EXPECT_EQ(c.second, err) << c.first;
    EXPECT_EQ(0x15u, days);
  }
}

TEST(ScheduleParse, DurationsAsPeopleTypeThem) {
  const std::pair<const char *, int64_t> accepted[] = {
      {"90", 90},           {"90s", 90},       {"45m", 2700}, {"45min", 2700},    {"2h", 7200},        {"1h30m", 5400},
      {"1h30", 5400},       {"1h 30m", 5400},  {"1m30", 90},  {"2H", 7200},       {" 90 s ", 90},      {"1h0m1s", 3601},
      {"2000000", 2000000}, {"555h", 1998000}, {"0m1s", 1},   {"3 hours", 10800}, {"10 minutes", 600},
  };
  for (const auto &c : accepted) {
    int64_t s = -1;
    char err[200] = "";
    EXPECT_TRUE(mjh_duration_parse(c.first, &s, err, sizeof err)) << c.first << ": " << err;
    EXPECT_EQ(c.second, s) << c.first;
  }
  const char *const k_form = " is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m";
  const std::pair<const char *, std::string> refused[] = {
      {"", "no duration given: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m"},
      {"abc", std::string("\"abc\"") + k_form},
      {"1.5h", std::string("\"1.5h\"") + k_form},
      {"30m1h", std::string("\"30m1h\"") + k_form},
      {"1h1h", std::string("\"1h1h\"") + k_form},
      {"-5", std::string("\"-5\"") + k_form},
      {"5d", std::string("\"5d\"") + k_form},
      {"1h30m15s5", std::string("\"1h30m15s5\"") + k_form},
      {"1 30", std::string("\"1 30\"") + k_form},
      {"h", std::string("\"h\"") + k_form},
      {"0", "\"0\" is too short: at least 1 s"},
      {"0h0m", "\"0h0m\" is too short: at least 1 s"},
      {"2000001", "\"2000001\" is too long: at most 2000000 s (23 days)"},
      {"556h", "\"556h\" is too long: at most 2000000 s (23 days)"},
      {"99999999999999999999999", "\"99999999999999999999999\" is too long: at most 2000000 s (23 days)"},
  };
  for (const auto &c : refused) {
    int64_t s = 77;
    char err[200] = "";
    EXPECT_FALSE(mjh_duration_parse(c.first, &s, err, sizeof err)) << c.first;
    EXPECT_EQ(c.second, err) << c.first;
    EXPECT_EQ(77, s);
  }
}

TEST(ScheduleParse, TimesOfDay) {
  const std::pair<const char *, int> accepted[] = {{"17:30", 1050}, {"7:05", 425},   {"17", 1020},
                                                   {"00:00", 0},    {"24:00", 1440}, {" 09:15 ", 555}};
  for (const auto &c : accepted) {
    int m = -1;
    char err[200] = "";
    EXPECT_TRUE(mjh_time_of_day_parse(c.first, &m, err, sizeof err)) << c.first << ": " << err;
    EXPECT_EQ(c.second, m) << c.first;
  }
  const std::pair<const char *, const char *> refused[] = {
      {"", "no time of day given: write HH:MM, e.g. 17:30"},
      {"25:00", "\"25:00\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"17:5", "\"17:5\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"1730", "\"1730\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"5pm", "\"5pm\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"2h", "\"2h\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
  };
  for (const auto &c : refused) {
    int m = 9;
    char err[200] = "";
    EXPECT_FALSE(mjh_time_of_day_parse(c.first, &m, err, sizeof err)) << c.first;
    EXPECT_STREQ(c.second, err) << c.first;
    EXPECT_EQ(9, m);
  }
}

TEST(ScheduleParse, HostileInputKeepsMessagesShortAndBuffersTerminated) {
  std::string huge(100000, '9');
  int64_t s;
  char err[200];
  EXPECT_FALSE(mjh_duration_parse(huge.c_str(), &s, err, sizeof err));
  EXPECT_EQ("\"" + std::string(40, '9') + "...\" is too long: at most 2000000 s (23 days)", err);
  std::string many;
  for (int i = 0; i < 5000; i++) many += "x,";
  mjh_hours h;
  EXPECT_FALSE(mjh_hours_parse(many.c_str(), &h, err, sizeof err));
  EXPECT_STREQ("\"x\" is not a span: write START-END, e.g. 08:30-12:00", err);
  char tiny[6];
  unsigned days;
  EXPECT_FALSE(mjh_days_parse("nope", &days, tiny, sizeof tiny));
  EXPECT_STREQ("\"nope", tiny);
  char text[5];
  EXPECT_EQ(0u, mjh_hours_text(&(h = hours("08:30-12:00")), text, sizeof text));
  EXPECT_STREQ("", text);
}

// ---- Working hours over a week -------------------------------------------------------------

// Whether a local minute is inside, by the plain reading of the rules: a span
// belongs to the day it starts on.
struct Plain {
  std::vector<std::pair<int, int>> spans;  // minutes; end < start crosses midnight
  unsigned days;
  bool inside(int64_t local_minute) const {
    int64_t day = local_minute / 1440, minute = local_minute % 1440;
    for (int back = 0; back <= 1; back++) {
      int64_t d = day - back;
      if (!(days & (1u << ((d + 3) % 7)))) continue;
      for (const auto &s : spans) {
        int64_t start = s.first, end = s.second < s.first ? s.second + 1440 : s.second;
        int64_t m = minute + back * 1440;
        if (m >= start && m < end) return true;
      }
    }
    return false;
  }
};

struct WeekCase {
  const char *spans, *days;
  Plain plain;
};

void PrintTo(const WeekCase &c, std::ostream *os) { *os << c.days << " " << c.spans; }

class ScheduleWeek : public ::testing::TestWithParam<WeekCase> {};

// Every minute of two weeks in a fixed zone: inside, the end of the stretch
// and the next start agree with the plain reading.
TEST_P(ScheduleWeek, DecideAgreesWithThePlainReadingEveryMinute) {
  const WeekCase &c = GetParam();
  const mjh_hours h = hours(c.spans, c.days);
  const int64_t begin = fixed(2026, 3, 2, 0, 0);  // a Monday
  const int minutes = 14 * 1440, horizon = 21 * 1440;
  std::vector<bool> plain(horizon);
  for (int m = 0; m < horizon; m++) plain[m] = c.plain.inside((begin + plus_0530) / 60 + m);
  int starts = 0;
  bool running = false;
  for (int m = 0; m < minutes; m++) {
    const int64_t now = begin + m * 60;
    int flip = m + 1;
    while (flip < horizon && plain[flip] == plain[m]) flip++;
    const int64_t expected_change = flip == horizon ? MJH_NO_TIME : begin + flip * 60;
    mjh_decision d;
    mjh_decide(&h, nullptr, &kFixed, now, &d);
    ASSERT_EQ(plain[m], d.action == MJH_SCHED_RUN) << when(kFixed, begin, now);
    ASSERT_EQ(plain[m], d.inside != 0);
    if (plain[m]) {
      ASSERT_EQ(MJH_REASON_INSIDE_HOURS, d.reason);
      ASSERT_EQ(expected_change, d.run_until) << when(kFixed, begin, now);
    } else {
      ASSERT_EQ(MJH_REASON_OUTSIDE_HOURS, d.reason);
      ASSERT_EQ(expected_change, d.next_start) << when(kFixed, begin, now);
    }
    ASSERT_EQ(expected_change, d.next_change);
    // Half a minute later nothing has changed.
    mjh_decision half;
    mjh_decide(&h, nullptr, &kFixed, now + 30, &half);
    ASSERT_EQ(d.action, half.action);
    ASSERT_EQ(d.next_change, half.next_change);
    if (d.action == MJH_SCHED_RUN && !running) starts++;
    running = d.action == MJH_SCHED_RUN;
  }
  int plain_starts = 0;
  for (int m = 0; m < minutes; m++) plain_starts += plain[m] && (m == 0 || !plain[m - 1]);
  EXPECT_EQ(plain_starts, starts);
}

INSTANTIATE_TEST_SUITE_P(
    Spans, ScheduleWeek,
    ::testing::Values(WeekCase{"08:30-12:00,13:00-17:30", "mon-fri", {{{510, 720}, {780, 1050}}, 0x1f}},
                      WeekCase{"22:00-06:00", "mon-fri", {{{1320, 360}}, 0x1f}},
                      WeekCase{"00:00-24:00", "sat,sun", {{{0, 1440}}, 0x60}},
                      WeekCase{"20:00-24:00,00:00-02:00", "mon,wed-fri", {{{1200, 1440}, {0, 120}}, 0x1d}},
                      WeekCase{"09:00-17:00,23:00-01:00", "all", {{{540, 1020}, {1380, 60}}, 0x7f}},
                      WeekCase{"07:15-07:16", "sun", {{{435, 436}}, 0x40}}));

TEST(ScheduleHours, AFridayNightSpanEndsOnSaturdayAndSundaysDoesNotRun) {
  const mjh_hours h = hours("22:00-06:00", "mon-fri");
  int64_t end;
  const int64_t friday_night = fixed(2026, 3, 6, 23, 0);
  ASSERT_TRUE(mjh_hours_inside(&h, &kFixed, friday_night, &end));
  EXPECT_EQ(fixed(2026, 3, 7, 6, 0), end);
  EXPECT_TRUE(mjh_hours_inside(&h, &kFixed, fixed(2026, 3, 7, 5, 59), nullptr));
  EXPECT_FALSE(mjh_hours_inside(&h, &kFixed, fixed(2026, 3, 7, 23, 0), nullptr));  // Saturday night
  EXPECT_FALSE(mjh_hours_inside(&h, &kFixed, fixed(2026, 3, 9, 3, 0), nullptr));   // Monday morning
  EXPECT_EQ(fixed(2026, 3, 9, 22, 0), mjh_hours_next_start(&h, &kFixed, fixed(2026, 3, 7, 6, 0)));
  EXPECT_EQ("Mon 22:00", when(kFixed, fixed(2026, 3, 7, 6, 0), fixed(2026, 3, 9, 22, 0)));
}

TEST(ScheduleHours, TouchingSpansAndDaysFormOneStretch) {
  mjh_hours h = hours("00:00-24:00", "mon-fri");
  int64_t end;
  ASSERT_TRUE(mjh_hours_inside(&h, &kFixed, fixed(2026, 3, 3, 12, 0), &end));
  EXPECT_EQ(fixed(2026, 3, 7, 0, 0), end);
  EXPECT_EQ(fixed(2026, 3, 9, 0, 0), mjh_hours_next_start(&h, &kFixed, fixed(2026, 3, 3, 12, 0)));
  h = hours("00:00-24:00", "all");  // never ends
  ASSERT_TRUE(mjh_hours_inside(&h, &kFixed, fixed(2026, 3, 3, 12, 0), &end));
  EXPECT_EQ(MJH_NO_TIME, end);
  EXPECT_EQ(MJH_NO_TIME, mjh_hours_next_start(&h, &kFixed, fixed(2026, 3, 3, 12, 0)));
  mjh_decision d;
  mjh_decide(&h, nullptr, &kFixed, fixed(2026, 3, 3, 12, 0), &d);
  EXPECT_EQ(MJH_SCHED_RUN, d.action);
  EXPECT_EQ(MJH_RECHECK_MAX_S, d.recheck_s);
}

// ---- Daylight saving ------------------------------------------------------------------

// The agent over a stretch of clock time: decides, acts on a change, sleeps
// until its timer; jumps set the clock (and wake it, as WM_TIMECHANGE does).
struct AgentRun {
  std::vector<int64_t> starts, stops;
  int decisions = 0;
};

struct Jump {
  int64_t at, to;  // clock times
};

AgentRun simulate(const mjh_hours &h, const mjh_zone &zone, int64_t from, int64_t to, std::vector<Jump> jumps = {},
                  mjh_session *session = nullptr) {
  AgentRun r;
  bool running = false;
  int64_t now = from;
  size_t next_jump = 0;
  while (now < to && r.decisions < 100000) {
    mjh_decision d;
    mjh_decide(&h, session, &zone, now, &d);
    r.decisions++;
    const bool run = d.action == MJH_SCHED_RUN;
    if (run && !running) r.starts.push_back(now);
    if (!run && running) r.stops.push_back(now);
    running = run;
    int64_t wake = d.recheck_s ? now + d.recheck_s : INT64_MAX;
    if (next_jump < jumps.size() && jumps[next_jump].at <= wake) {
      const int64_t expected = jumps[next_jump].at;
      now = jumps[next_jump++].to;
      if (session) mjh_session_clock_changed(session, now - expected);
    } else {
      now = wake;
    }
  }
  return r;
}

TEST(ScheduleDaylightSaving, ASpanInTheSkippedHourDoesNotRunThatDay) {
  const mjh_hours h = hours("02:00-03:00");
  const AgentRun r = simulate(h, kEurope, utc(2026, 3, 27, 0, 0), utc(2026, 3, 31, 0, 0));
  // Friday and Saturday at 02:00 CET, nothing on Sunday, Monday at 02:00 CEST.
  const std::vector<int64_t> starts = {utc(2026, 3, 27, 1, 0), utc(2026, 3, 28, 1, 0), utc(2026, 3, 30, 0, 0)};
  EXPECT_EQ(starts, r.starts);
  EXPECT_EQ(3u, r.stops.size());
  EXPECT_EQ(utc(2026, 3, 30, 0, 0), mjh_hours_next_start(&h, &kEurope, utc(2026, 3, 29, 0, 30)));
}

TEST(ScheduleDaylightSaving, ASpanPartlyInTheSkippedHourStartsAfterTheGap) {
  const mjh_hours h = hours("02:30-04:00");
  const AgentRun r = simulate(h, kEurope, utc(2026, 3, 29, 0, 0), utc(2026, 3, 29, 12, 0));
  EXPECT_EQ(std::vector<int64_t>{utc(2026, 3, 29, 1, 0)}, r.starts);  // 03:00 CEST
  EXPECT_EQ(std::vector<int64_t>{utc(2026, 3, 29, 2, 0)}, r.stops);   // 04:00 CEST
}

TEST(ScheduleDaylightSaving, ARepeatedHourStartsOnce) {
  struct Case {
    const char *spans;
    int64_t start, stop;
  } cases[] = {
      {"02:30-04:00", utc(2026, 10, 25, 0, 30), utc(2026, 10, 25, 3, 0)},
      {"02:15-02:45", utc(2026, 10, 25, 0, 15), utc(2026, 10, 25, 0, 45)},  // the first pass only
      {"01:00-02:30", utc(2026, 10, 24, 23, 0), utc(2026, 10, 25, 0, 30)},
      {"22:00-02:30", utc(2026, 10, 24, 20, 0), utc(2026, 10, 25, 0, 30)},
  };
  for (const Case &c : cases) {
    const mjh_hours h = hours(c.spans);
    const AgentRun r = simulate(h, kEurope, utc(2026, 10, 24, 12, 0), utc(2026, 10, 25, 12, 0));
    EXPECT_EQ(std::vector<int64_t>{c.start}, r.starts) << c.spans;
    EXPECT_EQ(std::vector<int64_t>{c.stop}, r.stops) << c.spans;
  }
  // The same in the US-style zone, whose repeated hour is 01:00-01:59.
  const AgentRun us = simulate(hours("01:30-01:45"), kUs, utc(2026, 10, 31, 12, 0), utc(2026, 11, 1, 12, 0));
  EXPECT_EQ(std::vector<int64_t>{utc(2026, 11, 1, 5, 30)}, us.starts);
}

TEST(ScheduleDaylightSaving, AWorkingWeekAcrossBothChangesKeepsLocalTimes) {
  const mjh_hours h = hours("08:30-17:30", "mon-fri");
  for (const mjh_zone *zone : {&kEurope, &kUs}) {
    for (int64_t monday :
         {day_number(2026, 3, 23), day_number(2026, 10, 19), day_number(2026, 3, 2), day_number(2026, 10, 26)}) {
      const AgentRun r = simulate(h, *zone, monday * kDay - 2 * kDay, monday * kDay + 7 * kDay);
      ASSERT_EQ(5u, r.starts.size());
      for (int64_t s : r.starts) {
        mjh_local_time l;
        mjh_to_local(zone, s, &l);
        EXPECT_EQ(8 * 60 + 30, l.hour * 60 + l.minute);
      }
      for (int64_t s : r.stops) {
        mjh_local_time l;
        mjh_to_local(zone, s, &l);
        EXPECT_EQ(17 * 60 + 30, l.hour * 60 + l.minute);
      }
    }
  }
}

// ---- The clock set back and forward ------------------------------------------------------

TEST(ScheduleClock, JumpsGiveOneStartPerEntryIntoWorkingHours) {
  const mjh_hours h = hours("08:30-12:00", "mon-fri");
  const int64_t monday = fixed(2026, 3, 2, 0, 0);
  auto at = [&](int day, int hour, int minute) { return monday + day * kDay + hour * kHour + minute * 60; };
  struct Case {
    const char *what;
    std::vector<Jump> jumps;
    std::vector<int64_t> starts;
  } cases[] = {
      {"no jump", {}, {at(0, 8, 30), at(1, 8, 30)}},
      {"forward into the span", {{at(0, 8, 0), at(0, 9, 0)}}, {at(0, 9, 0), at(1, 8, 30)}},
      {"back within the span", {{at(0, 10, 0), at(0, 9, 30)}}, {at(0, 8, 30), at(1, 8, 30)}},
      {"forward within the span", {{at(0, 9, 0), at(0, 11, 0)}}, {at(0, 8, 30), at(1, 8, 30)}},
      {"forward over the whole span", {{at(0, 7, 0), at(0, 13, 0)}}, {at(1, 8, 30)}},
      {"back before the start, from outside", {{at(0, 7, 0), at(0, 6, 0)}}, {at(0, 8, 30), at(1, 8, 30)}},
      // The clock shows working hours again: the run goes on again, once.
      {"back into the span after it ended",
       {{at(0, 12, 30), at(0, 11, 30)}},
       {at(0, 8, 30), at(0, 11, 30), at(1, 8, 30)}},
      {"forward a day", {{at(0, 7, 0), at(1, 7, 0)}}, {at(1, 8, 30), at(2, 8, 30)}},
      // Tuesday is lived again: its span starts again.
      {"back a day while running", {{at(1, 9, 0), at(0, 9, 0)}}, {at(0, 8, 30), at(1, 8, 30), at(1, 8, 30)}},
      {"a zone change of +3 h at night", {{at(0, 6, 0), at(0, 9, 0)}}, {at(0, 9, 0), at(1, 8, 30)}},
  };
  for (const Case &c : cases) {
    const int64_t end = c.what == std::string("forward a day") ? at(2, 13, 0) : at(1, 13, 0);
    const AgentRun r = simulate(h, kFixed, at(0, 5, 0), end, c.jumps);
    EXPECT_EQ(c.starts, r.starts) << c.what;
    EXPECT_LT(r.decisions, 200) << c.what;
  }
}

TEST(ScheduleClock, AForSessionKeepsItsLengthAndAnUntilSessionItsEnd) {
  mjh_session s;
  mjh_session_for(&s, 1000, 7200);
  mjh_session_clock_changed(&s, -3600);
  EXPECT_EQ(-2600, s.start);
  EXPECT_EQ(4600, s.end);
  mjh_session_until(&s, &kFixed, fixed(2026, 3, 2, 10, 0), 17 * 60 + 30, nullptr);
  mjh_session_clock_changed(&s, -3600);
  EXPECT_EQ(fixed(2026, 3, 2, 17, 30), s.end);
}

// ---- Sessions -------------------------------------------------------------------------------

TEST(ScheduleSession, UntilATimeOfDayIsTodayOrTomorrow) {
  struct Case {
    const mjh_zone *zone;
    int64_t now;
    int minute;
    int64_t end;
    int tomorrow;
  } cases[] = {
      {&kFixed, fixed(2026, 3, 2, 10, 0), 1050, fixed(2026, 3, 2, 17, 30), 0},
      {&kFixed, fixed(2026, 3, 2, 17, 30), 1050, fixed(2026, 3, 3, 17, 30), 1},  // exactly now is past
      {&kFixed, fixed(2026, 3, 2, 18, 0), 1050, fixed(2026, 3, 3, 17, 30), 1},
      {&kFixed, fixed(2026, 3, 2, 18, 0), 1440, fixed(2026, 3, 3, 0, 0), 0},  // 24:00: tonight
      {&kFixed, fixed(2026, 3, 2, 18, 0), 0, fixed(2026, 3, 3, 0, 0), 1},
      // The skipped hour: the first instant after the gap.
      {&kEurope, utc(2026, 3, 28, 23, 0), 150, utc(2026, 3, 29, 1, 0), 0},
      // The repeated hour: its first occurrence, or the second when only that one is ahead.
      {&kEurope, utc(2026, 10, 24, 23, 0), 150, utc(2026, 10, 25, 0, 30), 0},
      {&kEurope, utc(2026, 10, 25, 1, 10), 150, utc(2026, 10, 25, 1, 30), 0},
      {&kEurope, utc(2026, 10, 25, 1, 40), 150, utc(2026, 10, 26, 1, 30), 1},
  };
  for (const Case &c : cases) {
    mjh_session s;
    int tomorrow = -1;
    mjh_session_until(&s, c.zone, c.now, c.minute, &tomorrow);
    EXPECT_EQ(MJH_SESSION_UNTIL, s.kind);
    EXPECT_EQ(c.now, s.start);
    EXPECT_EQ(c.end, s.end) << c.now << " " << c.minute;
    EXPECT_EQ(c.tomorrow, tomorrow) << c.now << " " << c.minute;
  }
}

TEST(ScheduleSession, UntilTheEndOfTodaysWorkingHours) {
  const mjh_hours h = hours("08:30-12:00,13:00-17:30", "mon-fri");
  const mjh_hours night = hours("22:00-06:00", "mon-fri");
  struct Case {
    const mjh_hours *hours;
    int64_t now;
    int64_t end;  // 0: refused
    const char *error;
  } cases[] = {
      {&h, fixed(2026, 3, 2, 7, 0), fixed(2026, 3, 2, 17, 30), ""},
      {&h, fixed(2026, 3, 2, 10, 0), fixed(2026, 3, 2, 17, 30), ""},
      {&h, fixed(2026, 3, 2, 12, 30), fixed(2026, 3, 2, 17, 30), ""},
      {&h, fixed(2026, 3, 2, 17, 30), 0, "no working hours are left today"},
      {&h, fixed(2026, 3, 7, 10, 0), 0, "no working hours are left today"},  // Saturday
      {&night, fixed(2026, 3, 7, 1, 0), fixed(2026, 3, 7, 6, 0), ""},        // Friday's night, on Saturday
      {&night, fixed(2026, 3, 3, 1, 0), fixed(2026, 3, 4, 6, 0), ""},        // and tonight's
  };
  for (const Case &c : cases) {
    mjh_session s = {MJH_SESSION_NONE, 0, MJH_NO_TIME};
    char err[100] = "";
    EXPECT_EQ(c.end != 0, mjh_session_until_end_of_hours(&s, c.hours, &kFixed, c.now, err, sizeof err)) << c.now;
    EXPECT_STREQ(c.error, err);
    if (c.end) {
      EXPECT_EQ(c.end, s.end);
    }
  }
  mjh_hours none;
  mjh_hours_none(&none);
  mjh_session s;
  char err[100];
  EXPECT_FALSE(mjh_session_until_end_of_hours(&s, &none, &kFixed, 0, err, sizeof err));
  EXPECT_STREQ("no working hours are set", err);
}

TEST(ScheduleSession, ASessionRunsWhateverTheHoursThenWaitsForTheNextSpan) {
  const mjh_hours h = hours("08:30-12:00,13:00-17:30", "mon-fri");
  auto at = [](int day, int hour, int minute) { return fixed(2026, 3, 2 + day, hour, minute); };
  struct Case {
    const char *what;
    int64_t start, length;
    std::vector<int64_t> starts, stops;
  } cases[] = {
      {"started outside the hours", at(0, 20, 0), 2 * kHour, {at(0, 20, 0), at(1, 8, 30)}, {at(0, 22, 0)}},
      {"inside, shorter than the span",
       at(0, 10, 0),
       1800,
       {at(0, 10, 0), at(0, 13, 0), at(1, 8, 30)},
       {at(0, 10, 30), at(0, 17, 30)}},
      {"running past the span's end and through the break",
       at(0, 11, 30),
       2 * kHour,
       {at(0, 11, 30), at(1, 8, 30)},
       {at(0, 13, 30)}},
      {"longer than the day's hours", at(0, 8, 0), 12 * kHour, {at(0, 8, 0), at(1, 8, 30)}, {at(0, 20, 0)}},
      {"ending as a span starts", at(0, 12, 30), 1800, {at(0, 12, 30), at(1, 8, 30)}, {at(0, 17, 30)}},
  };
  for (const Case &c : cases) {
    mjh_session s;
    mjh_session_for(&s, c.start, c.length);
    const AgentRun r = simulate(h, kFixed, c.start, at(1, 9, 0), {}, &s);
    EXPECT_EQ(c.starts, r.starts) << c.what;
    EXPECT_EQ(c.stops, r.stops) << c.what;
  }
}

TEST(ScheduleSession, DecisionsAndTheirWords) {
  const mjh_hours h = hours("08:30-12:00,13:00-17:30", "mon-fri");
  mjh_hours none;
  mjh_hours_none(&none);
  const int64_t now = fixed(2026, 3, 6, 16, 0);  // a Friday
  mjh_session two_hours, stopped = {MJH_SESSION_UNTIL_STOPPED, now, MJH_NO_TIME}, until;
  mjh_session_for(&two_hours, now - 3 * kHour, 2 * kHour);
  mjh_session_until(&until, &kFixed, now - 3 * kHour, 14 * 60, nullptr);
  struct Case {
    const mjh_hours *hours;
    const mjh_session *session;
    mjh_sched_action action;
    mjh_sched_reason reason;
    int64_t next_change, recheck_s;
    const char *reason_text, *waiting_text;
  } cases[] = {
      {&h, nullptr, MJH_SCHED_RUN, MJH_REASON_INSIDE_HOURS, fixed(2026, 3, 6, 17, 30), 3600, "inside working hours",
       "inside working hours"},
      {&none, nullptr, MJH_SCHED_RUN, MJH_REASON_NO_HOURS, MJH_NO_TIME, 3600, "no working hours", "no working hours"},
      {&none, &two_hours, MJH_SCHED_STOP, MJH_REASON_SESSION_ENDED, MJH_NO_TIME, 0, "session ended after 2 h",
       "session ended after 2 h"},
      {&h, &two_hours, MJH_SCHED_WAIT, MJH_REASON_SESSION_ENDED, fixed(2026, 3, 9, 8, 30), 3600,
       "session ended after 2 h", "session ended after 2 h, next start Mon 08:30"},
      {&h, &until, MJH_SCHED_WAIT, MJH_REASON_SESSION_ENDED, fixed(2026, 3, 9, 8, 30), 3600, "session ended at 14:00",
       "session ended at 14:00, next start Mon 08:30"},
      {&h, &stopped, MJH_SCHED_RUN, MJH_REASON_SESSION, MJH_NO_TIME, 3600, "session until stopped",
       "session until stopped"},
  };
  for (const Case &c : cases) {
    mjh_decision d;
    mjh_decide(c.hours, c.session, &kFixed, now, &d);
    EXPECT_EQ(c.action, d.action) << c.reason_text;
    EXPECT_EQ(c.reason, d.reason) << c.reason_text;
    EXPECT_EQ(c.next_change, d.next_change) << c.reason_text;
    EXPECT_EQ(c.recheck_s, d.recheck_s) << c.reason_text;
    char text[200];
    mjh_reason_text(&d, c.session, &kFixed, now, text, sizeof text);
    EXPECT_STREQ(c.reason_text, text);
    mjh_waiting_text(&d, c.session, &kFixed, now, text, sizeof text);
    EXPECT_STREQ(c.waiting_text, text);
  }
  mjh_decision d;
  mjh_decide(&h, nullptr, &kFixed, fixed(2026, 3, 6, 18, 0), &d);
  char text[200];
  mjh_waiting_text(&d, nullptr, &kFixed, fixed(2026, 3, 6, 18, 0), text, sizeof text);
  EXPECT_STREQ("outside working hours, next start Mon 08:30", text);
  mjh_decide(&h, nullptr, &kFixed, fixed(2026, 3, 6, 12, 10), &d);
  mjh_waiting_text(&d, nullptr, &kFixed, fixed(2026, 3, 6, 12, 10), text, sizeof text);
  EXPECT_STREQ("outside working hours, next start 13:00", text);
  EXPECT_EQ(50 * 60, d.recheck_s);
  mjh_session soon;
  mjh_session_for(&soon, fixed(2026, 3, 6, 12, 10), 90);
  mjh_decide(&h, &soon, &kFixed, fixed(2026, 3, 6, 12, 10), &d);
  mjh_reason_text(&d, &soon, &kFixed, fixed(2026, 3, 6, 12, 10), text, sizeof text);
  EXPECT_STREQ("session until 12:11", text);
}

// ---- Status texts -----------------------------------------------------------------------

TEST(ScheduleText, DurationsAndInstants) {
  const std::pair<int64_t, const char *> durations[] = {{90, "1 min 30 s"}, {7200, "2 h"},     {5400, "1 h 30 min"},
                                                        {2700, "45 min"},   {3601, "1 h 1 s"}, {0, "0 s"}};
  for (const auto &c : durations) {
    char text[40];
    mjh_duration_text(c.first, text, sizeof text);
    EXPECT_STREQ(c.second, text);
  }
  const int64_t now = fixed(2026, 3, 6, 16, 0);
  EXPECT_EQ("17:30", when(kFixed, now, fixed(2026, 3, 6, 17, 30)));
  EXPECT_EQ("tomorrow 08:30", when(kFixed, now, fixed(2026, 3, 7, 8, 30)));
  EXPECT_EQ("Mon 08:30", when(kFixed, now, fixed(2026, 3, 9, 8, 30)));
}

TEST(ScheduleText, TheStatusSentenceAndJson) {
  const mjh_hours h = hours("08:30-12:00,13:00-17:30", "mon-fri");
  mjh_hours none;
  mjh_hours_none(&none);
  const int64_t now = fixed(2026, 3, 6, 10, 0);
  mjh_session until;
  mjh_session_until(&until, &kFixed, now, 1050, nullptr);
  const char *warning = "locks after 300 s: use 145 s or less";
  mjh_decision d;
  char text[600];

  mjh_decide(&h, nullptr, &kFixed, now, &d);
  mjh_schedule_sentence(&h, nullptr, &d, "", &kFixed, now, text, sizeof text);
  EXPECT_STREQ("working hours mon-fri 08:30-12:00,13:00-17:30: inside, until 12:00", text);
  ASSERT_GT(mjh_schedule_json(&h, nullptr, &d, nullptr, text, sizeof text), 0u);
  EXPECT_STREQ(
      "{\"hours\":\"08:30-12:00,13:00-17:30\",\"days\":\"mon-fri\",\"inside\":true,\"session_end\":null,"
      "\"next_start\":null,\"warning\":null}",
      text);

  mjh_decide(&h, &until, &kFixed, now, &d);
  mjh_schedule_sentence(&h, &until, &d, warning, &kFixed, now, text, sizeof text);
  EXPECT_STREQ(
      "working hours mon-fri 08:30-12:00,13:00-17:30: inside; session ends 17:30; warning: locks after 300 s: use "
      "145 s or less",
      text);
  ASSERT_GT(mjh_schedule_json(&h, &until, &d, warning, text, sizeof text), 0u);
  EXPECT_EQ(std::string("{\"hours\":\"08:30-12:00,13:00-17:30\",\"days\":\"mon-fri\",\"inside\":true,"
                        "\"session_end\":") +
                std::to_string(fixed(2026, 3, 6, 17, 30)) +
                ",\"next_start\":null,\"warning\":\"locks after 300 s: use 145 s or less\"}",
            text);

  const int64_t evening = fixed(2026, 3, 6, 19, 0);
  mjh_decide(&h, nullptr, &kFixed, evening, &d);
  mjh_schedule_sentence(&h, nullptr, &d, nullptr, &kFixed, evening, text, sizeof text);
  EXPECT_STREQ("working hours mon-fri 08:30-12:00,13:00-17:30: outside, next start Mon 08:30", text);
  ASSERT_GT(mjh_schedule_json(&h, nullptr, &d, "say \"hi\"\\\n", text, sizeof text), 0u);
  EXPECT_EQ(std::string("{\"hours\":\"08:30-12:00,13:00-17:30\",\"days\":\"mon-fri\",\"inside\":false,"
                        "\"session_end\":null,\"next_start\":") +
                std::to_string(fixed(2026, 3, 9, 8, 30)) + ",\"warning\":\"say \\\"hi\\\"\\\\\\u000a\"}",
            text);

  mjh_session stopped = {MJH_SESSION_UNTIL_STOPPED, now, MJH_NO_TIME};
  mjh_decide(&none, &stopped, &kFixed, now, &d);
  mjh_schedule_sentence(&none, &stopped, &d, nullptr, &kFixed, now, text, sizeof text);
  EXPECT_STREQ("no working hours; session until stopped", text);
  ASSERT_GT(mjh_schedule_json(&none, &stopped, &d, nullptr, text, sizeof text), 0u);
  EXPECT_STREQ(
      "{\"hours\":null,\"days\":null,\"inside\":true,\"session_end\":null,\"next_start\":null,\"warning\":null}", text);
  char small[40];
  EXPECT_EQ(0u, mjh_schedule_json(&h, nullptr, &d, nullptr, small, sizeof small));
  EXPECT_STREQ("", small);
}

// ---- The interval and the screen lock -------------------------------------------------------------

TEST(ScheduleInterval, TheSafeRuleInBothModes) {
  struct Case {
    int lock, only_when_idle, interval, safe;
  } cases[] = {
      {300, 1, 145, 1}, {300, 1, 146, 0}, {300, 1, 240, 0}, {300, 0, 290, 1},   {300, 0, 291, 0},
      {300, 0, 60, 1},  {0, 1, 3600, 1},  {0, 0, 3600, 1},  {60, 1, 25, 1},     {60, 1, 26, 0},
      {11, 1, 1, 0},    {11, 0, 1, 1},    {10, 0, 1, 0},    {7200, 1, 3595, 1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.safe, mjh_interval_safe(c.interval, c.only_when_idle, c.lock))
        << c.lock << " " << c.only_when_idle << " " << c.interval;
  struct Largest {
    int lock, only_when_idle, largest;
  } largest[] = {{300, 1, 145}, {300, 0, 290}, {0, 1, 3600}, {60, 1, 25}, {100000, 0, 3600}, {5, 1, 1}, {12, 1, 1}};
  for (const Largest &c : largest) {
    const int got = mjh_largest_safe_interval(c.only_when_idle, c.lock);
    EXPECT_EQ(c.largest, got) << c.lock << " " << c.only_when_idle;
    if (mjh_interval_safe(got, c.only_when_idle, c.lock) && got < 3600) {
      EXPECT_FALSE(mjh_interval_safe(got + 1, c.only_when_idle, c.lock));  // it is the largest
    }
  }
  EXPECT_EQ(300, mjh_lock_timeout(1, 300, 0));
  EXPECT_EQ(0, mjh_lock_timeout(0, 300, 0));  // the screen saver is off
  EXPECT_EQ(600, mjh_lock_timeout(0, 300, 600));
  EXPECT_EQ(240, mjh_lock_timeout(1, 300, 240));
  EXPECT_EQ(300, mjh_lock_timeout(1, 300, 600));
  EXPECT_EQ(0, mjh_lock_timeout(1, 0, 0));
}

TEST(ScheduleInterval, WarningsSayWhatToChoose) {
  char text[300];
  mjh_interval_warning(240, 1, 300, text, sizeof text);
  EXPECT_STREQ(
      "the screen locks after 300 s of inactivity; in only-when-idle mode a nudge can come up to 480 s (twice 240 s) "
      "after your last input: choose 145 s or less",
      text);
  mjh_interval_warning(600, 0, 300, text, sizeof text);
  EXPECT_STREQ("the screen locks after 300 s of inactivity; nudges every 600 s come too late: choose 290 s or less",
               text);
  mjh_interval_warning(5, 1, 8, text, sizeof text);
  EXPECT_STREQ(
      "the screen locks after 8 s of inactivity; in only-when-idle mode a nudge can come up to 10 s (twice 5 s) "
      "after your last input: no interval is short enough",
      text);
  mjh_interval_warning(145, 1, 300, text, sizeof text);
  EXPECT_STREQ("", text);
  mjh_interval_warning(3600, 1, 0, text, sizeof text);
  EXPECT_STREQ("", text);
  mjh_interval_warning_short(240, 1, 300, text, sizeof text);
  EXPECT_STREQ("locks after 300 s: use 145 s or less", text);
  mjh_interval_warning_short(60, 0, 300, text, sizeof text);
  EXPECT_STREQ("", text);
}

TEST(ScheduleInterval, WarningsNameWhatHappensAfterTheInactivity) {
  struct Case {
    mjh_lock_kind kind;
    const char *long_start, *short_text;
  } cases[] = {
      {MJH_LOCK_SCREEN_LOCK, "the screen locks after 600 s of inactivity; ", "locks after 600 s: use 295 s or less"},
      {MJH_LOCK_SCREEN_SAVER, "the screen saver starts after 600 s of inactivity; ",
       "screen saver after 600 s: use 295 s or less"},
      {MJH_LOCK_DISPLAY_OFF, "the display turns off after 600 s of inactivity; ",
       "display off after 600 s: use 295 s or less"},
  };
  for (const Case &c : cases) {
    char text[300];
    mjh_interval_warning_of(400, 1, 600, c.kind, text, sizeof text);
    EXPECT_EQ(0u, std::string(text).find(c.long_start)) << text;
    EXPECT_NE(std::string::npos, std::string(text).find("choose 295 s or less")) << text;
    mjh_interval_warning_short_of(400, 1, 600, c.kind, text, sizeof text);
    EXPECT_STREQ(c.short_text, text);
    mjh_interval_warning_of(295, 1, 600, c.kind, text, sizeof text);
    EXPECT_STREQ("", text) << "safe: no warning";
  }
}

// ---- Stored working hours ----------------------------------------------------------------------

mjh_value text_value(const char *text) { return mjh_value{MJH_VALUE_TEXT, 0, text}; }

TEST(ScheduleStored, ReadBackOrDroppedAsAWhole) {
  const mjh_value missing{MJH_VALUE_MISSING, 0, nullptr}, number{MJH_VALUE_NUMBER, 5, nullptr},
      other{MJH_VALUE_OTHER, 0, nullptr}, null_text{MJH_VALUE_TEXT, 0, nullptr};
  const std::string long_text(10000, '8'), spans_then_junk = "08:00-12:00," + std::string(5000, ',');
  struct Case {
    mjh_value hours, days;
    int used;
    const char *hours_text, *days_text;
  } cases[] = {
      {missing, missing, 1, "any", "all"},
      {text_value("08:30-12:00, 13:00-17:30"), text_value("Mon-Fri"), 1, "08:30-12:00,13:00-17:30", "mon-fri"},
      {text_value("22:00-06:00"), missing, 1, "22:00-06:00", "all"},
      {text_value("any"), text_value("sat,sun"), 1, "any", "sat,sun"},
      {missing, text_value("weekdays"), 1, "any", "mon-fri"},
      {text_value("8-17"), text_value("funday"), 0, "any", "all"},
      {text_value("08:00-12:00,11:00-13:00"), text_value("mon-fri"), 0, "any", "all"},
      {text_value(""), text_value("mon"), 0, "any", "all"},
      {number, text_value("mon"), 0, "any", "all"},
      {text_value("8-17"), other, 0, "any", "all"},
      {null_text, missing, 0, "any", "all"},
      {text_value(long_text.c_str()), text_value(long_text.c_str()), 0, "any", "all"},
      {text_value(spans_then_junk.c_str()), missing, 0, "any", "all"},
      {text_value("08:00-\xff\xfe"), text_value("mon\xc3"), 0, "any", "all"},
  };
  for (const Case &c : cases) {
    mjh_hours h;
    h.span_count = 3;  // whatever was there before
    h.days = 1;
    EXPECT_EQ(c.used, mjh_hours_from_stored(&c.hours, &c.days, &h))
        << (c.hours.text ? std::string(c.hours.text).substr(0, 40) : "(none)");
    char hours[MJH_HOURS_TEXT_MAX], days[MJH_DAYS_TEXT_MAX];
    mjh_hours_to_stored(&h, hours, days);
    EXPECT_STREQ(c.hours_text, hours);
    EXPECT_STREQ(c.days_text, days);
  }
  mjh_hours h;
  EXPECT_EQ(1, mjh_hours_from_stored(nullptr, nullptr, &h)) << "nothing stored yet";
  EXPECT_EQ(0, h.span_count);
  EXPECT_EQ(unsigned{MJH_DAYS_ALL}, h.days);
}

TEST(ScheduleStored, TheLongestTextsFitAndReadBack) {
  mjh_hours h;
  mjh_hours_none(&h);
  ASSERT_TRUE(
      mjh_hours_parse("00:00-01:00,02:00-03:00,04:00-05:00,06:00-07:00,08:00-09:00,10:00-11:00,12:00-13:00,"
                      "14:00-24:00",
                      &h, nullptr, 0));
  for (unsigned days = 1; days <= MJH_DAYS_ALL; days++) {
    h.days = days;
    char hours_text[MJH_HOURS_TEXT_MAX], days_text[MJH_DAYS_TEXT_MAX];
    mjh_hours_to_stored(&h, hours_text, days_text);
    mjh_value hv = text_value(hours_text), dv = text_value(days_text);
    mjh_hours back;
    ASSERT_EQ(1, mjh_hours_from_stored(&hv, &dv, &back)) << hours_text << " " << days_text;
    EXPECT_EQ(days, back.days) << days_text;
    EXPECT_EQ(8, back.span_count);
  }
}

// ---- A start request's schedule -------------------------------------------------------------------

struct StartOptions {
  int ok;
  mjh_options options;
  unsigned given;
  mjh_schedule_request schedule;
  std::string error;
};

StartOptions read_start_options(const std::string &text) {
  StartOptions r;
  mjh_options_default(&r.options);
  r.given = 0xdead;
  mjh_schedule_request_none(&r.schedule);
  char err[256] = "";
  r.ok = mjh_start_options_parse(text.data(), text.size(), &r.options, &r.given, &r.schedule, err, sizeof err);
  r.error = err;
  return r;
}

// The members a request names, written back.
std::string members(const mjh_schedule_request &r) {
  char buf[512] = "{";
  size_t used = 1;
  EXPECT_TRUE(mjh_schedule_request_put(&r, buf, sizeof buf, &used));
  return std::string(buf) + "}";
}

TEST(ScheduleRequest, AcceptedBesideTheOptionsAndWrittenBack) {
  struct Case {
    const char *text, *written;
    unsigned option_keys;
  } cases[] = {
      {R"({})", "{}", 0},
      {R"({"hours":"8:30-12, 13-17:30","days":"Mon-Fri"})", R"({"hours":"08:30-12:00,13:00-17:30","days":"mon-fri"})",
       0},
      {R"({"interval_s":30,"for":5400,"dx":2})", R"({"for":5400})", MJH_KEY_INTERVAL_S | MJH_KEY_DX},
      {R"({"for":"1h30m"})", R"({"for":5400})", 0},
      {R"({"until":"17:30","mode":"move"})", R"({"until":"17:30"})", MJH_KEY_MODE},
      {R"({"until":"END"})", R"({"until":"end"})", 0},
      {R"({"until":"24:00"})", R"({"until":"24:00"})", 0},
      {R"({"hours":"any","days":"all","keep_awake":true})", R"({"hours":"any","days":"all"})", MJH_KEY_KEEP_AWAKE},
      {R"({"da\u0079s":"sat,sun"})", R"({"days":"sat,sun"})", 0},
  };
  for (const Case &c : cases) {
    StartOptions r = read_start_options(c.text);
    ASSERT_EQ(1, r.ok) << c.text << ": " << r.error;
    EXPECT_EQ(c.option_keys, r.given) << c.text;
    EXPECT_EQ(c.written, members(r.schedule)) << c.text;
    // What is written reads back the same.
    StartOptions again = read_start_options(members(r.schedule));
    ASSERT_EQ(1, again.ok) << again.error;
    EXPECT_EQ(c.written, members(again.schedule));
  }
  StartOptions r = read_start_options(R"({"interval_s":30,"dx":-3,"hours":"9-17"})");
  EXPECT_EQ(30, r.options.interval_s);
  EXPECT_EQ(-3, r.options.dx);
  EXPECT_EQ(1, r.options.dy) << "untouched";
}

TEST(ScheduleRequest, RefusedWithTheReasonAndNothingChanged) {
  struct Case {
    const char *text, *error;
  } cases[] = {
      {R"({"hours":5})", R"("hours" must be a text such as "08:30-12:00,13:00-17:30" or "any", not 5)"},
      {R"({"hours":"9-17,16-18"})", R"("hours": the spans 09:00-17:00 and 16:00-18:00 overlap)"},
      {R"({"hours":"nine to five"})", nullptr},
      {R"({"days":["mon"]})", R"("days" must be a text such as "mon-fri", not ["mon"])"},
      {R"({"days":"funday"})", nullptr},
      {R"({"for":0})", R"("for" must be whole seconds from 1 to 2000000 or a text such as "1h30m", not 0)"},
      {R"({"for":2000001})", nullptr},
      {R"({"for":1.5})", nullptr},
      {R"({"for":true})", nullptr},
      {R"({"for":"forever"})", nullptr},
      {R"({"for":null})", nullptr},
      {R"({"until":"25:00"})", nullptr},
      {R"({"until":1730})", nullptr},
      {R"({"until":"17:30\u0000x"})", nullptr},
      {R"({"for":60,"until":"17:00"})", R"("for" and "until" cannot both be given)"},
      {R"({"hours":"9-17","hours":"9-17"})", R"(duplicate key "hours")"},
      {R"({"hours":"9-17","speed":3})", R"(unknown key "speed")"},
      {R"({"for":60,"dx":300})", R"("dx" must be a whole number from -200 to 200, not 300)"},
      {R"({"dx":2,"dx":3,"for":60})", R"(duplicate key "dx")"},
      {"[1]", nullptr},
      {R"({"for":60)", nullptr},
  };
  for (const Case &c : cases) {
    StartOptions r = read_start_options(c.text);
    EXPECT_EQ(0, r.ok) << c.text;
    EXPECT_FALSE(r.error.empty()) << c.text;
    if (c.error) {
      EXPECT_EQ(c.error, r.error) << c.text;
    }
    EXPECT_EQ(0u, r.schedule.given) << c.text;
    EXPECT_EQ(60, r.options.interval_s) << c.text;
    EXPECT_EQ(1, r.options.dx) << c.text;
  }
  StartOptions long_hours = read_start_options("{\"hours\":\"" + std::string(300, '9') + "\"}");
  EXPECT_EQ(0, long_hours.ok);
  EXPECT_LT(long_hours.error.size(), 200u) << long_hours.error;
}

TEST(ScheduleRequest, WritingThatDoesNotFitLeavesTheBufferAsItWas) {
  StartOptions r = read_start_options(R"({"hours":"08:30-12:00,13:00-17:30","days":"mon-fri","for":5400})");
  ASSERT_EQ(1, r.ok);
  const std::string whole = members(r.schedule);
  for (size_t size = 2; size < whole.size(); size++) {
    std::vector<char> buf(size, 'x');
    buf[0] = '{';
    buf[1] = '\0';
    size_t used = 1;
    int ok = mjh_schedule_request_put(&r.schedule, buf.data(), size, &used);
    if (ok) {
      EXPECT_EQ(whole, std::string(buf.data()) + "}");
    } else {
      EXPECT_EQ(1u, used) << size;
      EXPECT_STREQ("{", buf.data()) << size;
    }
  }
  char buf[128] = R"({"dx":2)";
  size_t used = strlen(buf);
  ASSERT_TRUE(mjh_schedule_request_put(&r.schedule, buf, sizeof buf, &used));
  EXPECT_STREQ(R"({"dx":2,"hours":"08:30-12:00,13:00-17:30","days":"mon-fri","for":5400)", buf);
  EXPECT_EQ(strlen(buf), used);
}

TEST(ScheduleRequest, AppliedToTheAgentsHoursAndSession) {
  const int64_t now = utc(2026, 3, 4, 12, 0) - plus_0530;  // Wednesday 12:00 local in the +05:30 zone
  mjh_hours saved;
  mjh_hours_none(&saved);
  ASSERT_TRUE(mjh_hours_parse("09:00-17:00", &saved, nullptr, 0));
  ASSERT_TRUE(mjh_days_parse("mon-fri", &saved.days, nullptr, 0));
  struct Case {
    const char *text;
    int ok;
    const char *hours, *days;
    mjh_session_kind kind;
    int64_t end;
  } cases[] = {
      {R"({})", 1, "09:00-17:00", "mon-fri", MJH_SESSION_NONE, MJH_NO_TIME},
      {R"({"days":"all"})", 1, "09:00-17:00", "all", MJH_SESSION_NONE, MJH_NO_TIME},
      {R"({"hours":"any","for":90})", 1, "any", "mon-fri", MJH_SESSION_FOR, now + 90},
      {R"({"until":"13:15"})", 1, "09:00-17:00", "mon-fri", MJH_SESSION_UNTIL, now + 75 * 60},
      {R"({"until":"11:00"})", 1, "09:00-17:00", "mon-fri", MJH_SESSION_UNTIL, now + 23 * kHour},
      {R"({"until":"end"})", 1, "09:00-17:00", "mon-fri", MJH_SESSION_UNTIL, now + 5 * kHour},
      {R"({"hours":"10-20","until":"end"})", 1, "10:00-20:00", "mon-fri", MJH_SESSION_UNTIL, now + 8 * kHour},
      {R"({"hours":"any","until":"end"})", 0, "09:00-17:00", "mon-fri", MJH_SESSION_NONE, MJH_NO_TIME},
      {R"({"hours":"6-11","until":"end"})", 0, "09:00-17:00", "mon-fri", MJH_SESSION_NONE, MJH_NO_TIME},
  };
  for (const Case &c : cases) {
    StartOptions r = read_start_options(c.text);
    ASSERT_EQ(1, r.ok) << c.text << ": " << r.error;
    mjh_hours h = saved;
    mjh_session s{MJH_SESSION_NONE, 0, MJH_NO_TIME};
    char err[128] = "";
    EXPECT_EQ(c.ok, mjh_schedule_request_apply(&r.schedule, &h, &s, &kFixed, now, err, sizeof err)) << c.text;
    EXPECT_EQ(c.ok == 0, err[0] != '\0') << c.text << ": " << err;
    char hours[MJH_HOURS_TEXT_MAX], days[MJH_DAYS_TEXT_MAX];
    mjh_hours_to_stored(&h, hours, days);
    EXPECT_STREQ(c.hours, hours) << c.text;
    EXPECT_STREQ(c.days, days) << c.text;
    EXPECT_EQ(c.kind, s.kind) << c.text;
    EXPECT_EQ(c.end, s.end) << c.text;
  }
}

}  // namespace
