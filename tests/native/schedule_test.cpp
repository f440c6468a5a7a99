// Working hours, sessions and deciding, over a clock and time zones the test
// sets (schedule_zones.h).
#include "schedule.h"

#include <stdint.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "schedule_text.h"
#include "schedule_zones.h"

namespace {

using namespace schedule_zones;

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
    bool tomorrow = !c.tomorrow;
    mjh_session_until(&s, c.zone, c.now, c.minute, &tomorrow);
    EXPECT_EQ(MJH_SESSION_UNTIL, s.kind);
    EXPECT_EQ(c.now, s.start);
    EXPECT_EQ(c.end, s.end) << c.now << " " << c.minute;
    EXPECT_EQ(c.tomorrow != 0, tomorrow) << c.now << " " << c.minute;
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
      {&night, fixed(2026, 3, 3, 1, 0), fixed(2026, 3, 3, 6, 0), ""},        // Monday's, on Tuesday: not tonight's
      {&night, fixed(2026, 3, 3, 7, 0), fixed(2026, 3, 4, 6, 0), ""},        // tonight's
  };
  for (const Case &c : cases) {
    mjh_session s = {MJH_SESSION_NONE, 0, MJH_NO_TIME};
    mjh_text_buffer<100> err;
    EXPECT_EQ(c.end != 0, mjh_session_until_end_of_hours(&s, c.hours, &kFixed, c.now, &err)) << c.now;
    EXPECT_STREQ(c.error, err.c_str());
    if (c.end) {
      EXPECT_EQ(c.end, s.end);
      EXPECT_EQ(MJH_SESSION_UNTIL, s.kind);
      EXPECT_EQ(c.now, s.start);
    }
  }
  mjh_hours none;
  mjh_hours_none(&none);
  mjh_session s;
  mjh_text_buffer<100> err;
  EXPECT_FALSE(mjh_session_until_end_of_hours(&s, &none, &kFixed, 0, &err));
  EXPECT_STREQ("no working hours are set", err.c_str());
  EXPECT_FALSE(mjh_session_until_end_of_hours(&s, &none, &kFixed, 0, nullptr)) << "no message asked for";
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

std::string reason(const mjh_decision &d, const mjh_session *session, int64_t now) {
  mjh_text_buffer<200> text;
  mjh_reason_text(&d, session, &kFixed, now, text);
  return text.c_str();
}

std::string waiting(const mjh_decision &d, const mjh_session *session, int64_t now) {
  mjh_text_buffer<200> text;
  mjh_waiting_text(&d, session, &kFixed, now, text);
  return text.c_str();
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
    EXPECT_EQ(c.reason_text, reason(d, c.session, now));
    EXPECT_EQ(c.waiting_text, waiting(d, c.session, now));
  }
  mjh_decision d;
  mjh_decide(&h, nullptr, &kFixed, fixed(2026, 3, 6, 18, 0), &d);
  EXPECT_EQ("outside working hours, next start Mon 08:30", waiting(d, nullptr, fixed(2026, 3, 6, 18, 0)));
  mjh_decide(&h, nullptr, &kFixed, fixed(2026, 3, 6, 12, 10), &d);
  EXPECT_EQ("outside working hours, next start 13:00", waiting(d, nullptr, fixed(2026, 3, 6, 12, 10)));
  EXPECT_EQ(50 * 60, d.recheck_s);
  mjh_session soon;
  mjh_session_for(&soon, fixed(2026, 3, 6, 12, 10), 90);
  mjh_decide(&h, &soon, &kFixed, fixed(2026, 3, 6, 12, 10), &d);
  EXPECT_EQ("session until 12:11", reason(d, &soon, fixed(2026, 3, 6, 12, 10)));
}

// "until end" inside a night's span means the end of the night in progress,
// however the night is written; outside working hours, the end of today's.
TEST(ScheduleSession, UntilTheEndOfHoursIsTheWorkingDayInProgress) {
  struct Case {
    const char *spans, *days;
    const mjh_zone *zone;
    int64_t now;
    int64_t end;  // 0: refused with error
    const char *error;
  } cases[] = {
      {"22:00-02:00", "all", &kFixed, fixed(2026, 3, 3, 1, 0), fixed(2026, 3, 3, 2, 0), ""},
      {"22:00-02:00", "all", &kFixed, fixed(2026, 3, 3, 3, 0), fixed(2026, 3, 4, 2, 0), ""},
      {"22:00-02:00", "all", &kFixed, fixed(2026, 3, 3, 23, 0), fixed(2026, 3, 4, 2, 0), ""},
      {"20:00-24:00,00:00-02:00", "all", &kFixed, fixed(2026, 3, 3, 1, 0), fixed(2026, 3, 3, 2, 0), ""},
      {"20:00-24:00,00:00-02:00", "all", &kFixed, fixed(2026, 3, 3, 21, 0), fixed(2026, 3, 4, 2, 0), ""},
      {"09:00-17:00,22:00-02:00", "all", &kFixed, fixed(2026, 3, 3, 1, 0), fixed(2026, 3, 3, 2, 0), ""},
      {"09:00-17:00,22:00-02:00", "all", &kFixed, fixed(2026, 3, 3, 10, 0), fixed(2026, 3, 4, 2, 0), ""},
      {"22:00-02:00", "mon", &kFixed, fixed(2026, 3, 3, 1, 0), fixed(2026, 3, 3, 2, 0), ""},  // Monday's, on Tuesday
      {"22:00-02:00", "mon", &kFixed, fixed(2026, 3, 3, 3, 0), 0, "no working hours are left today"},
      {"00:00-24:00", "mon-fri", &kFixed, fixed(2026, 3, 3, 10, 0), fixed(2026, 3, 7, 0, 0), ""},
      {"00:00-24:00", "all", &kFixed, fixed(2026, 3, 3, 10, 0), 0, "today's working hours do not end within a week"},
      // The night the clocks go back: 02:00 is its first occurrence, 00:00 UTC.
      {"22:00-02:00", "all", &kEurope, utc(2026, 10, 24, 23, 0), utc(2026, 10, 25, 0, 0), ""},
  };
  for (const Case &c : cases) {
    const mjh_hours h = hours(c.spans, c.days);
    mjh_session s;
    mjh_text_buffer<100> err;
    SCOPED_TRACE(std::string(c.days) + " " + c.spans + " at " + when(*c.zone, c.now - 7 * kDay, c.now));
    EXPECT_EQ(c.end != 0, mjh_session_until_end_of_hours(&s, &h, c.zone, c.now, &err));
    EXPECT_STREQ(c.error, err.c_str());
    if (c.end) {
      EXPECT_EQ(c.end, s.end) << when(*c.zone, c.now, s.end);
    }
  }
}

// After a session, the run waits for the next start of a stretch at or after
// the session's end: the stretch in progress does not restart it, nor do the
// spans that touch it.
TEST(ScheduleSession, AfterASessionTheNextStretchStartsTheRun) {
  auto at = [](int day, int hour, int minute) { return fixed(2026, 3, 2 + day, hour, minute); };  // day 0: Monday
  struct Case {
    const char *what, *spans, *days;
    int64_t start, length;
    int64_t resume;  // MJH_NO_TIME: never
  } cases[] = {
      {"all day on weekdays, on a Tuesday", "00:00-24:00", "mon-fri", at(1, 10, 0), kHour, at(7, 0, 0)},
      {"all day every day: a stretch that never ends", "00:00-24:00", "all", at(1, 10, 0), kHour, MJH_NO_TIME},
      {"touching spans within a day", "08:00-12:00,12:00-17:00", "mon-fri", at(0, 9, 0), kHour, at(1, 8, 0)},
      {"a night in two touching spans", "22:00-24:00,00:00-06:00", "mon-fri", at(1, 23, 0), 1800, at(2, 22, 0)},
      {"ending in a break", "08:30-12:00,13:00-17:30", "mon-fri", at(0, 10, 0), 150 * 60, at(0, 13, 0)},
      {"ending as a stretch starts", "08:30-12:00,13:00-17:30", "mon-fri", at(0, 12, 0), kHour, at(0, 13, 0)},
      {"ending before the day's first span", "08:30-12:00", "mon-fri", at(0, 6, 0), kHour, at(0, 8, 30)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const mjh_hours h = hours(c.spans, c.days);
    mjh_session s;
    mjh_session_for(&s, c.start, c.length);
    const int64_t end = s.end;
    // From the session's end (when it does not resume right then) until three weeks later.
    for (int64_t now : {end, end + 1, end + kHour, end + 2 * kDay, end + 21 * kDay}) {
      mjh_decision d;
      mjh_decide(&h, &s, &kFixed, now, &d);
      if (c.resume != MJH_NO_TIME && now >= c.resume) {
        mjh_decision by_hours;  // the session is over: the working hours decide
        mjh_decide(&h, nullptr, &kFixed, now, &by_hours);
        EXPECT_EQ(by_hours.action, d.action) << when(kFixed, c.start, now);
        EXPECT_EQ(by_hours.reason, d.reason) << when(kFixed, c.start, now);
        continue;
      }
      EXPECT_EQ(MJH_SCHED_WAIT, d.action) << when(kFixed, c.start, now);
      EXPECT_EQ(MJH_REASON_SESSION_ENDED, d.reason);
      EXPECT_EQ(c.resume, d.next_start) << when(kFixed, c.start, d.next_start);
      EXPECT_EQ(c.resume, d.next_change);
      EXPECT_GT(d.recheck_s, 0);
    }
    // The agent over the weeks: it starts again once, at the resumption.
    const AgentRun r = simulate(h, kFixed, end, c.resume == MJH_NO_TIME ? end + 21 * kDay : c.resume + kHour, {}, &s);
    EXPECT_EQ(c.resume == MJH_NO_TIME ? std::vector<int64_t>{} : std::vector<int64_t>{c.resume}, r.starts);
  }
}

// ---- Damaged working hours ----------------------------------------------------

// Working hours that did not read hold the run back until they are set
// again; a session still runs, and after it the run waits again.
TEST(ScheduleDamaged, DamagedHoursHoldTheRunBack) {
  mjh_hours damaged;
  mjh_hours_none(&damaged);
  damaged.damaged = true;
  const int64_t now = fixed(2026, 3, 3, 10, 0);
  mjh_session running, ended, until_stopped = {MJH_SESSION_UNTIL_STOPPED, now, MJH_NO_TIME};
  mjh_session_for(&running, now - kHour, 2 * kHour);
  mjh_session_for(&ended, now - 2 * kHour, kHour);
  struct Case {
    const mjh_session *session;
    mjh_sched_action action;
    mjh_sched_reason reason;
    const char *waiting_text;
  } cases[] = {
      {nullptr, MJH_SCHED_WAIT, MJH_REASON_HOURS_DAMAGED, "saved working hours damaged: set them again"},
      {&ended, MJH_SCHED_WAIT, MJH_REASON_HOURS_DAMAGED, "saved working hours damaged: set them again"},
      {&running, MJH_SCHED_RUN, MJH_REASON_SESSION, "session until 11:00"},
      {&until_stopped, MJH_SCHED_RUN, MJH_REASON_SESSION, "session until stopped"},
  };
  for (const Case &c : cases) {
    mjh_decision d;
    mjh_decide(&damaged, c.session, &kFixed, now, &d);
    EXPECT_EQ(c.action, d.action) << c.waiting_text;
    EXPECT_EQ(c.reason, d.reason) << c.waiting_text;
    EXPECT_FALSE(d.inside);
    EXPECT_EQ(c.waiting_text, waiting(d, c.session, now));
    if (c.action == MJH_SCHED_WAIT) {
      EXPECT_EQ(MJH_NO_TIME, d.next_start);
      EXPECT_EQ(MJH_NO_TIME, d.next_change);
      EXPECT_EQ(MJH_RECHECK_MAX_S, d.recheck_s) << "decided again now and then, never stopped";
      EXPECT_EQ("saved working hours damaged", reason(d, c.session, now));
    }
  }
  EXPECT_FALSE(mjh_hours_inside(&damaged, &kFixed, now, nullptr));
  EXPECT_EQ(MJH_NO_TIME, mjh_hours_next_start(&damaged, &kFixed, now));
  mjh_session s = running;
  mjh_text_buffer<100> err;
  EXPECT_FALSE(mjh_session_until_end_of_hours(&s, &damaged, &kFixed, now, &err));
  EXPECT_STREQ("the working hours are damaged: set them again", err.c_str());
  EXPECT_EQ(running.end, s.end) << "unchanged";
  // A week of the agent: nothing starts.
  const AgentRun r = simulate(damaged, kFixed, now, now + 7 * kDay);
  EXPECT_TRUE(r.starts.empty());
  EXPECT_LE(r.decisions, 7 * 24 + 1);
}

}  // namespace
