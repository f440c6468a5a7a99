// What mjctl says about a run, from pairs of status lines: the reading of a
// line, the event lines, and the start, countdown and count texts.
#include "report.h"

#include <string.h>

#include <map>
#include <string>

#include "gtest/gtest.h"
#include "status_util.h"

namespace {

// A status line as the DLL writes it, with some members replaced.
std::string line(const std::map<std::string, std::string> &with = {}) {
  std::map<std::string, std::string> v = {{"active", "1"},
                                          {"mode", "\"zen\""},
                                          {"interval_s", "30"},
                                          {"dx", "1"},
                                          {"dy", "1"},
                                          {"only_when_idle", "1"},
                                          {"dry_run", "0"},
                                          {"nudges", "0"},
                                          {"skipped", "0"},
                                          {"failed", "0"},
                                          {"idle_s", "4"},
                                          {"since_last_nudge_s", "-1"},
                                          {"next_nudge_in_s", "26"},
                                          {"running_s", "4"},
                                          {"last_reset_idle", "-1"},
                                          {"last_method", "\"\""},
                                          {"platform", "\"windows\""},
                                          {"mechanism", "\"SendInput\""},
                                          {"version", "\"1.0.0\""}};
  for (const auto &kv : with) v[kv.first] = kv.second;
  std::string out = "{";
  for (const char *key : k_status_keys) out += std::string(out.size() > 1 ? "," : "") + "\"" + key + "\":" + v[key];
  return out + "}";
}

mjh_status read(const std::string &text) {
  mjh_status s;
  EXPECT_TRUE(mjh_status_read(text.c_str(), &s)) << text;
  return s;
}

TEST(StatusRead, TakesEveryMemberOfTheWorkedExample) {
  mjh_status s = read(
      "{\"active\":1,\"mode\":\"move\",\"interval_s\":30,\"dx\":2,\"dy\":0,\"only_when_idle\":1,\"dry_run\":0,"
      "\"nudges\":2,\"skipped\":1,\"failed\":0,\"idle_s\":4,\"since_last_nudge_s\":9,\"next_nudge_in_s\":26,"
      "\"running_s\":100,\"last_reset_idle\":1,\"last_method\":\"SendInput move\",\"platform\":\"windows\","
      "\"mechanism\":\"SendInput\",\"version\":\"1.0.0\"}");
  EXPECT_EQ(s.active, 1);
  EXPECT_EQ(s.mode, MJ_MODE_MOVE);
  EXPECT_EQ(s.interval_s, 30);
  EXPECT_EQ(s.dx, 2);
  EXPECT_EQ(s.dy, 0);
  EXPECT_EQ(s.only_when_idle, 1);
  EXPECT_EQ(s.dry_run, 0);
  EXPECT_EQ(s.nudges, 2);
  EXPECT_EQ(s.skipped, 1);
  EXPECT_EQ(s.failed, 0);
  EXPECT_EQ(s.idle_s, 4);
  EXPECT_EQ(s.since_last_nudge_s, 9);
  EXPECT_EQ(s.next_nudge_in_s, 26);
  EXPECT_EQ(s.running_s, 100);
  EXPECT_EQ(s.last_reset_idle, 1);
  EXPECT_STREQ(s.last_method, "SendInput move");
}

TEST(StatusRead, TakesTheWidestNumbers) {
  mjh_status s = read(line({{"nudges", "9223372036854775807"}, {"idle_s", "-1"}, {"dx", "-200"}}));
  EXPECT_EQ(s.nudges, 9223372036854775807LL);
  EXPECT_EQ(s.idle_s, -1);
  EXPECT_EQ(s.dx, -200);
}

TEST(StatusRead, RefusesLinesItCannotRead) {
  const std::string refused[] = {
      "",
      "{}",
      line().substr(0, line().size() / 2),
      line({{"nudges", "\"3\""}}),
      line({{"nudges", "3x"}}),
      line({{"failed", ""}}),
      line({{"mode", "zen"}}),
      line({{"mode", "\"zenzenzenzen\""}}),
      line({{"mode", "\"jump\""}}),
      line({{"mode", "\"Zen\""}}),
      line({{"last_method", "\"" + std::string(60, 'm') + "\""}}),
  };
  for (const std::string &text : refused) {
    mjh_status s;
    EXPECT_FALSE(mjh_status_read(text.c_str(), &s)) << text;
  }
  mjh_status s;
  EXPECT_FALSE(mjh_status_read(nullptr, &s));
  EXPECT_EQ(read(line()).mode, MJ_MODE_ZEN);
}

// ---- Events between two lines --------------------------------------------------

struct event_case {
  std::map<std::string, std::string> before, after;
  const char *error_text;
  const char *said;  // what mjctl prints
};

const event_case k_event_cases[] = {
    {{}, {{"idle_s", "9"}, {"running_s", "9"}}, "", ""},
    {{},
     {{"nudges", "1"}, {"last_method", "\"SendInput move\""}, {"last_reset_idle", "1"}},
     "",
     "12:00:05 nudge 1: SendInput move, idle time reset\n"},
    {{{"nudges", "4"}},
     {{"nudges", "5"}, {"last_method", "\"SendInput zen\""}, {"last_reset_idle", "0"}},
     "",
     "12:00:05 nudge 5: SendInput zen, idle time NOT reset\n"},
    {{},
     {{"nudges", "1"}, {"last_method", "\"SendInput zen\""}, {"last_reset_idle", "-1"}},
     "",
     "12:00:05 nudge 1: SendInput zen, idle time unknown\n"},
    {{}, {{"nudges", "1"}, {"last_method", "\"dry-run\""}}, "", "12:00:05 nudge 1: dry-run, nothing injected\n"},
    {{{"nudges", "1"}},
     {{"nudges", "3"}, {"last_method", "\"dry-run\""}},
     "",
     "12:00:05 nudges 2 to 3: dry-run, nothing injected\n"},
    {{}, {{"skipped", "1"}}, "", "12:00:05 skip 1: the user was active in the last 30 s\n"},
    {{{"skipped", "1"}}, {{"skipped", "3"}}, "", "12:00:05 skips 2 to 3: the user was active in the last 30 s\n"},
    {{{"failed", "2"}},
     {{"failed", "3"}, {"last_method", "\"SendInput zen\""}},
     "SendInput failed (err 5) - desktop locked or not an interactive session",
     "12:00:05 failure 3: SendInput failed (err 5) - desktop locked or not an interactive session\n"},
    {{}, {{"failed", "1"}}, "", "12:00:05 failure 1: (no error text)\n"},
    {{},
     {{"nudges", "1"},
      {"failed", "1"},
      {"skipped", "1"},
      {"last_method", "\"SendInput move\""},
      {"last_reset_idle", "1"}},
     "SendInput failed (err 5) - desktop locked or not an interactive session",
     "12:00:05 nudge 1: SendInput move, idle time reset\n"
     "12:00:05 skip 1: the user was active in the last 30 s\n"
     "12:00:05 failure 1: SendInput failed (err 5) - desktop locked or not an interactive session\n"},
    // Counters of a new run start again from 0: nothing happened.
    {{{"nudges", "7"}, {"skipped", "2"}, {"failed", "1"}}, {}, "old", ""},
};

class Events : public ::testing::TestWithParam<event_case> {};

TEST_P(Events, OneLinePerKind) {
  const event_case &c = GetParam();
  mjh_status before = read(line(c.before)), after = read(line(c.after));
  mjh_text_buffer<1024> buf;
  buf.add("before|");
  int lines = mjh_describe_events(&before, &after, c.error_text, "12:00:05", buf);
  EXPECT_EQ(std::string(buf.c_str()), std::string("before|") + c.said) << "appended";
  int newlines = 0;
  for (const char *p = c.said; *p; p++) newlines += *p == '\n';
  EXPECT_EQ(lines, newlines);
}

INSTANTIATE_TEST_SUITE_P(Table, Events, ::testing::ValuesIn(k_event_cases));

TEST(Events, AreCutToTheBufferAndTerminated) {
  mjh_status before = read(line()), after = read(line({{"failed", "1"}}));
  char buf[24];
  memset(buf, 'x', sizeof buf);
  mjh_text out(buf);
  mjh_describe_events(&before, &after, std::string(200, 'e').c_str(), "12:00:05", out);
  EXPECT_EQ(std::string(buf), "12:00:05 failure 1: eee");
  EXPECT_FALSE(out.ok());
}

// ---- Start, countdown and counts --------------------------------------------------

struct text_case {
  std::map<std::string, std::string> with;
  const char *run, *countdown, *counts;
};

const text_case k_text_cases[] = {
    {{},
     "zen nudges every 30 s, only after 30 s without user input",
     "next nudge in 26 s, user idle 4 s",
     "0 nudges, 0 skipped, 0 failed"},
    {{{"mode", "\"move\""}, {"dx", "2"}, {"dy", "-3"}, {"only_when_idle", "0"}, {"nudges", "1"}},
     "move nudges of 2,-3 px every 30 s, also while the user is active",
     "next nudge in 26 s",
     "1 nudge, 0 skipped, 0 failed"},
    {{{"dry_run", "1"}, {"interval_s", "1"}, {"next_nudge_in_s", "0"}, {"idle_s", "-1"}, {"skipped", "2"}},
     "zen nudges every 1 s, only after 1 s without user input, dry run (nothing injected)",
     "next nudge in 0 s",
     "0 nudges, 2 skipped, 0 failed"},
    {{{"active", "0"}, {"next_nudge_in_s", "-1"}, {"nudges", "12"}, {"failed", "3"}},
     "zen nudges every 30 s, only after 30 s without user input",
     "",
     "12 nudges, 0 skipped, 3 failed"},
};

class Texts : public ::testing::TestWithParam<text_case> {};

TEST_P(Texts, SayTheRunInWords) {
  const text_case &c = GetParam();
  mjh_status s = read(line(c.with));
  mjh_text_buffer<256> run, countdown, counts;
  mjh_describe_run(&s, run);
  EXPECT_STREQ(run.c_str(), c.run);
  mjh_describe_countdown(&s, countdown);
  EXPECT_STREQ(countdown.c_str(), c.countdown);
  mjh_describe_counts(&s, counts);
  EXPECT_STREQ(counts.c_str(), c.counts);
}

INSTANTIATE_TEST_SUITE_P(Table, Texts, ::testing::ValuesIn(k_text_cases));

}  // namespace
