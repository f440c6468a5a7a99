// The texts of schedules: working hours, days, durations and times of day as
// people type them, the words shown, the status reply's "schedule", the
// stored working hours and a start request's schedule keys.
#include "schedule_text.h"

#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "schedule_zones.h"
#include "setting_table.h"

namespace {

using namespace schedule_zones;

// A reader's answer and its message.
struct Read {
  bool ok;
  std::string err;
};

template <typename Parse>
Read read_with(Parse parse) {
  mjh_text_buffer<200> err;
  const bool ok = parse(&err);
  EXPECT_TRUE(err.ok()) << "a message longer than 200 bytes: " << err.c_str();
  return {ok, err.c_str()};
}

// Each text of cases is refused with its message (UTF-8, without control
// characters), and what it was read into is left as it was.
template <typename T, typename Cases, typename Parse>
void expect_refused(const Cases &cases, const T &before, Parse parse) {
  for (const auto &c : cases) {
    T value = before;
    const Read r = read_with([&](mjh_text *err) { return parse(c.first, &value, err); });
    EXPECT_FALSE(r.ok) << c.first;
    EXPECT_EQ(std::string(c.second), r.err) << c.first;
    EXPECT_EQ(0, memcmp(&before, &value, sizeof value)) << "a refused text changed what it was read into: " << c.first;
    EXPECT_TRUE(mjh_utf8_valid(r.err.data(), r.err.size())) << r.err;
    for (char ch : r.err) EXPECT_GE(static_cast<unsigned char>(ch), 0x20u) << "a control character in " << r.err;
  }
}

// Each text is read, into the value expected.
template <typename T, typename Cases, typename Parse>
void expect_accepted(const Cases &cases, Parse parse) {
  for (const auto &c : cases) {
    T value = -1;
    const Read r = read_with([&](mjh_text *err) { return parse(c.first, &value, err); });
    EXPECT_TRUE(r.ok) << c.first << ": " << r.err;
    EXPECT_EQ(c.second, value) << c.first;
  }
}

bool parse_hours(const char *text, mjh_hours *h, mjh_text *err) { return mjh_hours_parse(text, h, err); }

std::string hours_text(const mjh_hours &h) {
  mjh_text_buffer<MJH_HOURS_TEXT_MAX> text;
  mjh_hours_text(&h, text);
  EXPECT_TRUE(text.ok());
  return text.c_str();
}

std::string days_text(unsigned days) {
  mjh_text_buffer<MJH_DAYS_TEXT_MAX> text;
  mjh_days_text(days, text);
  EXPECT_TRUE(text.ok());
  return text.c_str();
}

// ---- Reading and writing ----------------------------------------------------

TEST(ScheduleParse, HoursAcceptedAndWrittenBack) {
  const std::pair<const char *, const char *> cases[] = {
      {"08:30-12:00,13:00-17:30", "08:30-12:00,13:00-17:30"},
      {" 13:00 - 17:30 , 8:30-12 ", "08:30-12:00,13:00-17:30"},  // sorted, spaces and short forms
      {"22:00-06:00", "22:00-06:00"},                            // crosses midnight
      {"22:00-00:00", "22:00-24:00"},                            // 00:00 as an end is midnight
      {"22-0", "22:00-24:00"},                                   // in bare hours too: not a night
      {"22-24", "22:00-24:00"},
      {"21:00-5:00", "21:00-05:00"},  // a night written with minutes
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
    const Read r = read_with([&](mjh_text *err) { return mjh_hours_parse(c.first, &h, err); });
    ASSERT_TRUE(r.ok) << c.first << ": " << r.err;
    EXPECT_EQ("", r.err) << c.first;
    EXPECT_EQ(c.second, hours_text(h)) << c.first;
    mjh_hours again;
    ASSERT_TRUE(mjh_hours_parse(hours_text(h).c_str(), &again, nullptr)) << hours_text(h);
    EXPECT_EQ(h.span_count, again.span_count);
    EXPECT_EQ(0, memcmp(&h.spans, &again.spans, sizeof h.spans[0] * h.span_count));
  }
  // Reading new spans makes damaged hours whole again.
  mjh_hours h;
  mjh_hours_none(&h);
  h.damaged = true;
  ASSERT_TRUE(mjh_hours_parse("9-17", &h, nullptr));
  EXPECT_FALSE(h.damaged);
  h.damaged = true;
  ASSERT_TRUE(mjh_hours_parse("any", &h, nullptr));
  EXPECT_FALSE(h.damaged);
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
  expect_refused(cases, hours("10:00-11:00", "mon"), parse_hours);
}

// Bare hours that end before they start are most likely a day in
// twelve-hour style: refused with the day and the night they may mean,
// never read as a night of many hours. A night needs its minutes written.
TEST(ScheduleParse, BareHoursEndingBeforeTheyStartAreRefusedWithAHint) {
  const std::pair<const char *, const char *> cases[] = {
      {"9-5", "\"9-5\" ends before it starts: write 09:00-17:00, or 21:00-05:00 for a night"},
      {" 8 - 4 ", "\"8 - 4\" ends before it starts: write 08:00-16:00, or 20:00-04:00 for a night"},
      {"22-6", "\"22-6\" ends before it starts: write 22:00-06:00 for a night"},
      {"12-1", "\"12-1\" ends before it starts: write 12:00-13:00, or 12:00-01:00 for a night"},
      {"18-2", "\"18-2\" ends before it starts: write 18:00-02:00 for a night"},
      {"21:00-5", "\"21:00-5\" ends before it starts: write 21:00-05:00 for a night"},
      {"9-5:30", "\"9-5:30\" ends before it starts: write 09:00-17:30, or 21:00-05:30 for a night"},
      {"08:00-12:00,13-1", "\"13-1\" ends before it starts: write 13:00-01:00 for a night"},
  };
  expect_refused(cases, hours("10:00-11:00", "mon"), parse_hours);
  // Each hint reads as what it says.
  for (const auto &c : cases) {
    mjh_hours h;
    const Read r = read_with([&](mjh_text *err) { return mjh_hours_parse(c.first, &h, err); });
    const std::string hint = r.err.substr(r.err.find("write ") + 6);
    for (size_t at = 0; (at = hint.find(':', at)) != std::string::npos; at += 8) {
      const std::string span = hint.substr(at - 2, 11);
      EXPECT_TRUE(mjh_hours_parse(span.c_str(), &h, nullptr)) << span;
    }
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
    const Read r = read_with([&](mjh_text *err) { return mjh_days_parse(c.first, &days, err); });
    ASSERT_TRUE(r.ok) << c.first << ": " << r.err;
    EXPECT_EQ(c.second, days_text(days)) << c.first;
    unsigned again = 0;
    ASSERT_TRUE(mjh_days_parse(days_text(days).c_str(), &again, nullptr));
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
  expect_refused(cases, 0x15u, mjh_days_parse);
}

TEST(ScheduleParse, DurationsAsPeopleTypeThem) {
  const std::pair<const char *, int64_t> accepted[] = {
      {"90", 90},           {"90s", 90},       {"45m", 2700}, {"45min", 2700},    {"2h", 7200},        {"1h30m", 5400},
      {"1h30", 5400},       {"1h 30m", 5400},  {"1m30", 90},  {"2H", 7200},       {" 90 s ", 90},      {"1h0m1s", 3601},
      {"2000000", 2000000}, {"555h", 1998000}, {"0m1s", 1},   {"3 hours", 10800}, {"10 minutes", 600},
  };
  expect_accepted<int64_t>(accepted, mjh_duration_parse);
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
  expect_refused(refused, int64_t{77}, mjh_duration_parse);
}

TEST(ScheduleParse, TimesOfDay) {
  const std::pair<const char *, int> accepted[] = {{"17:30", 1050}, {"7:05", 425},   {"17", 1020},
                                                   {"00:00", 0},    {"24:00", 1440}, {" 09:15 ", 555}};
  expect_accepted<int>(accepted, mjh_time_of_day_parse);
  const std::pair<const char *, const char *> refused[] = {
      {"", "no time of day given: write HH:MM, e.g. 17:30"},
      {"25:00", "\"25:00\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"17:5", "\"17:5\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"1730", "\"1730\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"5pm", "\"5pm\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
      {"2h", "\"2h\" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30"},
  };
  expect_refused(refused, 9, mjh_time_of_day_parse);
}

// A person's input shows in a message as a JSON string: control characters
// escaped, never raw, and bytes that are not UTF-8 as '?'.
TEST(ScheduleParse, MessagesShowTheInputEscaped) {
  const std::string k_time = " is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30";
  const std::pair<const char *, std::string> spans[] = {
      {"09:00-17:00\n", "\"17:00\\n\"" + k_time},
      {"9\r-17", "\"9\\r\"" + k_time},
      {"\t\x01-9", "\"\\u0001\"" + k_time},
  };
  expect_refused(spans, hours("10:00-11:00"), parse_hours);
  const std::pair<const char *, const char *> days[] = {
      {"\x1b[2J",
       "\"\\u001b[2J\" is not a day: use mon, tue, wed, thu, fri, sat, sun, a range such as mon-fri, or all"}};
  expect_refused(days, 0u, mjh_days_parse);
  const std::pair<const char *, const char *> durations[] = {
      {"say \"1h\"", "\"say \\\"1h\\\"\" is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m"}};
  expect_refused(durations, int64_t{0}, mjh_duration_parse);
  const std::pair<const char *, std::string> times[] = {
      {"17\\30", "\"17\\\\30\"" + k_time},
      {"17:3\xff", "\"17:3?\"" + k_time},
  };
  expect_refused(times, 0, mjh_time_of_day_parse);
}

TEST(ScheduleParse, HostileInputKeepsMessagesShortAndTextsWhole) {
  std::string huge(100000, '9');
  int64_t s;
  Read r = read_with([&](mjh_text *err) { return mjh_duration_parse(huge.c_str(), &s, err); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ("\"" + std::string(40, '9') + "...\" is too long: at most 2000000 s (23 days)", r.err);
  // A long piece is cut at a character, never inside one.
  const std::string accented = std::string(39, 'a') + "\xc3\xa9\nbcd";
  r = read_with([&](mjh_text *err) { return mjh_duration_parse(accented.c_str(), &s, err); });
  EXPECT_EQ("\"" + std::string(39, 'a') + "...\" is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m",
            r.err);
  std::string many;
  for (int i = 0; i < 5000; i++) many += "x,";
  mjh_hours h;
  r = read_with([&](mjh_text *err) { return mjh_hours_parse(many.c_str(), &h, err); });
  EXPECT_EQ("\"x\" is not a span: write START-END, e.g. 08:30-12:00", r.err);
  // A small message buffer keeps what fits and says it was cut.
  mjh_text_buffer<6> tiny;
  unsigned days;
  EXPECT_FALSE(mjh_days_parse("nope", &days, &tiny));
  EXPECT_STREQ("\"nope", tiny.c_str());
  EXPECT_FALSE(tiny.ok());
  // Null texts read as empty ones.
  EXPECT_FALSE(mjh_hours_parse(nullptr, &h, nullptr));
  EXPECT_FALSE(mjh_days_parse(nullptr, &days, nullptr));
  EXPECT_FALSE(mjh_duration_parse(nullptr, &s, nullptr));
  // A text that does not fit is cut and says so.
  mjh_text_buffer<5> text;
  mjh_hours_text(&(h = hours("08:30-12:00")), text);
  EXPECT_FALSE(text.ok());
  EXPECT_STREQ("08:3", text.c_str());
}

// ---- Words for people --------------------------------------------------------

TEST(ScheduleText, DurationsAndInstants) {
  const std::pair<int64_t, const char *> durations[] = {{90, "1 min 30 s"}, {7200, "2 h"},     {5400, "1 h 30 min"},
                                                        {2700, "45 min"},   {3601, "1 h 1 s"}, {0, "0 s"},
                                                        {-5, "0 s"}};
  for (const auto &c : durations) {
    mjh_text_buffer<40> text;
    mjh_duration_text(c.first, text);
    EXPECT_STREQ(c.second, text.c_str());
  }
  const int64_t now = fixed(2026, 3, 6, 16, 0);
  EXPECT_EQ("17:30", when(kFixed, now, fixed(2026, 3, 6, 17, 30)));
  EXPECT_EQ("tomorrow 08:30", when(kFixed, now, fixed(2026, 3, 7, 8, 30)));
  EXPECT_EQ("Mon 08:30", when(kFixed, now, fixed(2026, 3, 9, 8, 30)));
}

// ---- The status reply's "schedule" ------------------------------------------

std::string schedule_json(const mjh_hours &h, const mjh_session *session, const mjh_decision &d, const char *warning) {
  mjh_text_buffer<600> text;
  mjh_schedule_json(&h, session, &d, warning, text);
  EXPECT_TRUE(text.ok());
  return text.c_str();
}

TEST(ScheduleText, TheStatusJson) {
  const mjh_hours h = hours("08:30-12:00,13:00-17:30", "mon-fri");
  mjh_hours none;
  mjh_hours_none(&none);
  const int64_t now = fixed(2026, 3, 6, 10, 0);
  mjh_session until;
  mjh_session_until(&until, &kFixed, now, 1050, nullptr);
  const char *warning = "locks after 300 s: use 145 s or less";
  mjh_decision d;

  mjh_decide(&h, nullptr, &kFixed, now, &d);
  EXPECT_EQ(
      "{\"hours\":\"08:30-12:00,13:00-17:30\",\"days\":\"mon-fri\",\"inside\":true,\"session_end\":null,"
      "\"next_start\":null,\"warning\":null}",
      schedule_json(h, nullptr, d, nullptr));

  mjh_decide(&h, &until, &kFixed, now, &d);
  EXPECT_EQ(std::string("{\"hours\":\"08:30-12:00,13:00-17:30\",\"days\":\"mon-fri\",\"inside\":true,"
                        "\"session_end\":") +
                std::to_string(fixed(2026, 3, 6, 17, 30)) +
                ",\"next_start\":null,\"warning\":\"locks after 300 s: use 145 s or less\"}",
            schedule_json(h, &until, d, warning));

  // The warning as a JSON string, by the core's one escaper.
  const int64_t evening = fixed(2026, 3, 6, 19, 0);
  mjh_decide(&h, nullptr, &kFixed, evening, &d);
  EXPECT_EQ(std::string("{\"hours\":\"08:30-12:00,13:00-17:30\",\"days\":\"mon-fri\",\"inside\":false,"
                        "\"session_end\":null,\"next_start\":") +
                std::to_string(fixed(2026, 3, 9, 8, 30)) + ",\"warning\":\"say \\\"hi\\\"\\\\\\n\\u0001\"}",
            schedule_json(h, nullptr, d, "say \"hi\"\\\n\x01"));

  mjh_session stopped = {MJH_SESSION_UNTIL_STOPPED, now, MJH_NO_TIME};
  mjh_decide(&none, &stopped, &kFixed, now, &d);
  EXPECT_EQ("{\"hours\":null,\"days\":null,\"inside\":true,\"session_end\":null,\"next_start\":null,\"warning\":null}",
            schedule_json(none, &stopped, d, ""));

  // Damaged hours: none to show, outside, and no next start.
  mjh_hours damaged;
  mjh_hours_none(&damaged);
  damaged.damaged = true;
  mjh_decide(&damaged, nullptr, &kFixed, now, &d);
  EXPECT_EQ("{\"hours\":null,\"days\":null,\"inside\":false,\"session_end\":null,\"next_start\":null,\"warning\":null}",
            schedule_json(damaged, nullptr, d, nullptr));

  mjh_text_buffer<40> small;
  mjh_schedule_json(&h, nullptr, &d, nullptr, small);
  EXPECT_FALSE(small.ok()) << "too small: the writer of the reply sees it was cut";
}

// ---- Stored working hours ----------------------------------------------------

mjh_value text_value(const char *text) { return mjh_value{MJH_VALUE_TEXT, 0, text}; }

TEST(ScheduleStored, ReadBackOrDamagedAsAWhole) {
  const mjh_value missing{MJH_VALUE_MISSING, 0, nullptr}, number{MJH_VALUE_NUMBER, 5, nullptr},
      other{MJH_VALUE_OTHER, 0, nullptr}, null_text{MJH_VALUE_TEXT, 0, nullptr};
  const std::string long_text(10000, '8'), spans_then_junk = "08:00-12:00," + std::string(5000, ',');
  struct Case {
    mjh_value hours, days;
    mjh_stored_hours result;
    const char *hours_text, *days_text;  // what is stored back; nullptr: nothing (damaged)
  } cases[] = {
      {missing, missing, MJH_STORED_NONE, "any", "all"},
      {text_value("08:30-12:00, 13:00-17:30"), text_value("Mon-Fri"), MJH_STORED_AS_STORED, "08:30-12:00,13:00-17:30",
       "mon-fri"},
      {text_value("22:00-06:00"), missing, MJH_STORED_AS_STORED, "22:00-06:00", "all"},
      {text_value("any"), text_value("sat,sun"), MJH_STORED_NONE, "any", "sat,sun"},
      {missing, text_value("weekdays"), MJH_STORED_NONE, "any", "mon-fri"},
      {text_value("8-17"), text_value("funday"), MJH_STORED_DAMAGED, nullptr, nullptr},
      {text_value("08:00-12:00,11:00-13:00"), text_value("mon-fri"), MJH_STORED_DAMAGED, nullptr, nullptr},
      {text_value("9-5"), text_value("mon-fri"), MJH_STORED_DAMAGED, nullptr, nullptr},
      {text_value(""), text_value("mon"), MJH_STORED_DAMAGED, nullptr, nullptr},
      {number, text_value("mon"), MJH_STORED_DAMAGED, nullptr, nullptr},
      {text_value("8-17"), other, MJH_STORED_DAMAGED, nullptr, nullptr},
      {null_text, missing, MJH_STORED_DAMAGED, nullptr, nullptr},
      {text_value(long_text.c_str()), text_value(long_text.c_str()), MJH_STORED_DAMAGED, nullptr, nullptr},
      {text_value(spans_then_junk.c_str()), missing, MJH_STORED_DAMAGED, nullptr, nullptr},
      {text_value("08:00-\xff\xfe"), text_value("mon\xc3"), MJH_STORED_DAMAGED, nullptr, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.hours.text ? std::string(c.hours.text).substr(0, 40) : "(none)");
    mjh_hours h;
    h.span_count = 3;  // whatever was there before
    h.days = 1;
    EXPECT_EQ(c.result, mjh_hours_from_stored(&c.hours, &c.days, &h));
    mjh_text_buffer<MJH_HOURS_TEXT_MAX> hours;
    mjh_text_buffer<MJH_DAYS_TEXT_MAX> days;
    hours.add("kept");
    days.add("kept");
    const bool stored = mjh_hours_to_stored(&h, hours, days);
    EXPECT_EQ(c.hours_text != nullptr, stored);
    EXPECT_EQ(c.result == MJH_STORED_DAMAGED, h.damaged);
    if (c.hours_text) {
      EXPECT_EQ(std::string("kept") + c.hours_text, hours.c_str());
      EXPECT_EQ(std::string("kept") + c.days_text, days.c_str());
    } else {
      // Damaged: no spans, every day, and nothing to store over the values.
      EXPECT_EQ(0, h.span_count);
      EXPECT_EQ(MJH_DAYS_ALL, h.days);
      EXPECT_STREQ("kept", hours.c_str());
      EXPECT_STREQ("kept", days.c_str());
      mjh_decision d;
      mjh_decide(&h, nullptr, &kFixed, fixed(2026, 3, 3, 10, 0), &d);
      EXPECT_EQ(MJH_SCHED_WAIT, d.action) << "a damaged schedule never runs around the clock";
      EXPECT_EQ(MJH_REASON_HOURS_DAMAGED, d.reason);
    }
  }
  mjh_hours h;
  EXPECT_EQ(MJH_STORED_NONE, mjh_hours_from_stored(nullptr, nullptr, &h)) << "nothing stored yet";
  EXPECT_EQ(0, h.span_count);
  EXPECT_EQ(MJH_DAYS_ALL, h.days);
  EXPECT_FALSE(h.damaged);
}

TEST(ScheduleStored, TheLongestTextsFitAndReadBack) {
  mjh_hours h;
  mjh_hours_none(&h);
  ASSERT_TRUE(
      mjh_hours_parse("00:00-01:00,02:00-03:00,04:00-05:00,06:00-07:00,08:00-09:00,10:00-11:00,12:00-13:00,"
                      "14:00-24:00",
                      &h, nullptr));
  for (unsigned days = 1; days <= MJH_DAYS_ALL; days++) {
    h.days = days;
    mjh_text_buffer<MJH_HOURS_TEXT_MAX> hours_text;
    mjh_text_buffer<MJH_DAYS_TEXT_MAX> days_text;
    ASSERT_TRUE(mjh_hours_to_stored(&h, hours_text, days_text));
    mjh_value hv = text_value(hours_text.c_str()), dv = text_value(days_text.c_str());
    mjh_hours back;
    ASSERT_EQ(MJH_STORED_AS_STORED, mjh_hours_from_stored(&hv, &dv, &back))
        << hours_text.c_str() << " " << days_text.c_str();
    EXPECT_EQ(days, back.days) << days_text.c_str();
    EXPECT_EQ(8, back.span_count);
  }
}

// ---- A start request's schedule ----------------------------------------------

struct StartOptions {
  bool ok;
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
  mjh_text_buffer<256> err;
  unsigned given = 0;
  r.ok = mjh_settings_parse(text.data(), text.size(), MJH_KEYS_ALL, MJH_SCHED_KEYS_ALL, &r.options, &given, &r.schedule,
                            &err);
  if (r.ok) r.given = given;
  r.error = err.c_str();
  return r;
}

// The members a request names, written back.
std::string members(const mjh_schedule_request &r) {
  mjh_text_buffer<512> text;
  text.add('{');
  mjh_schedule_request_put(&r, text);
  text.add('}');
  EXPECT_TRUE(text.ok());
  return text.c_str();
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
    ASSERT_TRUE(r.ok) << c.text << ": " << r.error;
    EXPECT_EQ(c.option_keys, r.given) << c.text;
    EXPECT_EQ(c.written, members(r.schedule)) << c.text;
    // What is written reads back the same.
    StartOptions again = read_start_options(members(r.schedule));
    ASSERT_TRUE(again.ok) << again.error;
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
      {R"({"hours":"nine to five"})", R"("hours": "nine to five" is not a span: write START-END, e.g. 08:30-12:00)"},
      {R"({"hours":"9-5"})", R"("hours": "9-5" ends before it starts: write 09:00-17:00, or 21:00-05:00 for a night)"},
      {R"({"hours":"9-17\n"})", R"("hours": "17\n" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30)"},
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
      {R"({"until":"9:00","until":"9:00"})", R"(duplicate key "until")"},
      {R"({"hours":"9-17","speed":3})", R"(unknown key "speed")"},
      {R"({"for":60,"dx":300})", R"("dx" must be a whole number from -200 to 200, not 300)"},
      {R"({"dx":2,"dx":3,"for":60})", R"(duplicate key "dx")"},
      {"[1]", nullptr},
      {R"({"for":60)", nullptr},
  };
  for (const Case &c : cases) {
    StartOptions r = read_start_options(c.text);
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_FALSE(r.error.empty()) << c.text;
    if (c.error) {
      EXPECT_EQ(c.error, r.error) << c.text;
    }
    EXPECT_EQ(0u, r.schedule.given) << c.text;
    EXPECT_EQ(60, r.options.interval_s) << c.text;
    EXPECT_EQ(1, r.options.dx) << c.text;
  }
  StartOptions long_hours = read_start_options("{\"hours\":\"" + std::string(300, '9') + "\"}");
  EXPECT_FALSE(long_hours.ok);
  EXPECT_LT(long_hours.error.size(), 200u) << long_hours.error;
}

// A text that does not fit is cut, and says so: the writer of the request
// sees it and sends nothing; what was written is never anything but the
// beginning of the whole.
TEST(ScheduleRequest, WritingThatDoesNotFitIsCutAndSaysSo) {
  StartOptions r = read_start_options(R"({"hours":"08:30-12:00,13:00-17:30","days":"mon-fri","for":5400})");
  ASSERT_TRUE(r.ok);
  const std::string whole = members(r.schedule);
  for (size_t size = 2; size <= whole.size(); size++) {
    std::vector<char> buf(size, 'x');
    mjh_text text(buf.data(), size);
    text.add('{');
    mjh_schedule_request_put(&r.schedule, text);
    const std::string written = text.c_str();
    if (text.ok()) {
      EXPECT_EQ(whole, written + "}") << size;
    } else {
      EXPECT_EQ(size - 1, written.size()) << size;
      EXPECT_EQ(0u, whole.find(written)) << size << ": " << written;
    }
    EXPECT_EQ(size == whole.size(), text.ok()) << size;
  }
  mjh_text_buffer<128> text;
  text.add(R"({"dx":2)");
  mjh_schedule_request_put(&r.schedule, text);
  ASSERT_TRUE(text.ok());
  EXPECT_STREQ(R"({"dx":2,"hours":"08:30-12:00,13:00-17:30","days":"mon-fri","for":5400)", text.c_str());
  // An empty text, or one just opened, takes no comma first.
  mjh_text_buffer<128> empty;
  mjh_schedule_request_put(&r.schedule, empty);
  EXPECT_STREQ(R"("hours":"08:30-12:00,13:00-17:30","days":"mon-fri","for":5400)", empty.c_str());
}

TEST(ScheduleRequest, AppliedToTheAgentsHoursAndSession) {
  const int64_t now = utc(2026, 3, 4, 12, 0) - plus_0530;  // Wednesday 12:00 local in the +05:30 zone
  mjh_hours saved;
  mjh_hours_none(&saved);
  ASSERT_TRUE(mjh_hours_parse("09:00-17:00", &saved, nullptr));
  ASSERT_TRUE(mjh_days_parse("mon-fri", &saved.days, nullptr));
  mjh_hours damaged;
  mjh_hours_none(&damaged);
  damaged.damaged = true;
  struct Case {
    const char *text;
    const mjh_hours *before;
    bool ok;
    const char *hours, *days;  // nullptr: still damaged
    mjh_session_kind kind;
    int64_t end;
  } cases[] = {
      {R"({})", &saved, true, "09:00-17:00", "mon-fri", MJH_SESSION_NONE, MJH_NO_TIME},
      {R"({"days":"all"})", &saved, true, "09:00-17:00", "all", MJH_SESSION_NONE, MJH_NO_TIME},
      {R"({"hours":"any","for":90})", &saved, true, "any", "mon-fri", MJH_SESSION_FOR, now + 90},
      {R"({"until":"13:15"})", &saved, true, "09:00-17:00", "mon-fri", MJH_SESSION_UNTIL, now + 75 * 60},
      {R"({"until":"11:00"})", &saved, true, "09:00-17:00", "mon-fri", MJH_SESSION_UNTIL, now + 23 * kHour},
      {R"({"until":"end"})", &saved, true, "09:00-17:00", "mon-fri", MJH_SESSION_UNTIL, now + 5 * kHour},
      {R"({"hours":"10-20","until":"end"})", &saved, true, "10:00-20:00", "mon-fri", MJH_SESSION_UNTIL,
       now + 8 * kHour},
      {R"({"hours":"any","until":"end"})", &saved, false, "09:00-17:00", "mon-fri", MJH_SESSION_NONE, MJH_NO_TIME},
      {R"({"hours":"6-11","until":"end"})", &saved, false, "09:00-17:00", "mon-fri", MJH_SESSION_NONE, MJH_NO_TIME},
      // Damaged hours are mended by new "hours" alone.
      {R"({"hours":"9-17"})", &damaged, true, "09:00-17:00", "all", MJH_SESSION_NONE, MJH_NO_TIME},
      {R"({"hours":"any"})", &damaged, true, "any", "all", MJH_SESSION_NONE, MJH_NO_TIME},
      {R"({"days":"mon-fri","for":60})", &damaged, true, nullptr, nullptr, MJH_SESSION_FOR, now + 60},
      {R"({"until":"end"})", &damaged, false, nullptr, nullptr, MJH_SESSION_NONE, MJH_NO_TIME},
  };
  for (const Case &c : cases) {
    StartOptions r = read_start_options(c.text);
    ASSERT_TRUE(r.ok) << c.text << ": " << r.error;
    mjh_hours h = *c.before;
    mjh_session s{MJH_SESSION_NONE, 0, MJH_NO_TIME};
    mjh_text_buffer<128> err;
    EXPECT_EQ(c.ok, mjh_schedule_request_apply(&r.schedule, &h, &s, &kFixed, now, &err)) << c.text;
    EXPECT_EQ(!c.ok, err.size() > 0) << c.text << ": " << err.c_str();
    mjh_text_buffer<MJH_HOURS_TEXT_MAX> hours;
    mjh_text_buffer<MJH_DAYS_TEXT_MAX> days;
    EXPECT_EQ(c.hours != nullptr, mjh_hours_to_stored(&h, hours, days)) << c.text;
    EXPECT_EQ(c.hours == nullptr, h.damaged) << c.text;
    if (c.hours) {
      EXPECT_STREQ(c.hours, hours.c_str()) << c.text;
      EXPECT_STREQ(c.days, days.c_str()) << c.text;
    }
    EXPECT_EQ(c.kind, s.kind) << c.text;
    EXPECT_EQ(c.end, s.end) << c.text;
  }
}

}  // namespace
