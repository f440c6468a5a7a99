// What the agent shows: when a run counts as failing, the icon's state, the
// tooltip of each state within the notification area's limit, and the
// sentence of `mjctl status`.
#include <string.h>

#include <map>
#include <string>

#include "agent_text.h"
#include "gtest/gtest.h"
#include "json.h"
#include "status_util.h"
#include "text.h"

namespace {

// A status read from a DLL status line with some members replaced: an active
// zen run 100 s old, nudging every 60 s, user idle 18 s since a nudge 18 s ago.
mjh_status status(const std::map<std::string, std::string> &with = {}) {
  std::map<std::string, std::string> v = {{"active", "1"},
                                          {"mode", "\"zen\""},
                                          {"interval_s", "60"},
                                          {"dx", "1"},
                                          {"dy", "1"},
                                          {"only_when_idle", "1"},
                                          {"dry_run", "0"},
                                          {"nudges", "12"},
                                          {"skipped", "0"},
                                          {"failed", "0"},
                                          {"idle_s", "18"},
                                          {"since_last_nudge_s", "18"},
                                          {"next_nudge_in_s", "42"},
                                          {"running_s", "100"},
                                          {"last_reset_idle", "1"},
                                          {"last_method", "\"SendInput zen\""},
                                          {"platform", "\"windows\""},
                                          {"mechanism", "\"SendInput\""},
                                          {"version", "\"1.0.0\""}};
  for (const auto &kv : with) v[kv.first] = kv.second;
  std::string line = "{";
  for (const char *key : k_status_keys) line += std::string(line.size() > 1 ? "," : "") + "\"" + key + "\":" + v[key];
  line += "}";
  mjh_status s;
  EXPECT_TRUE(mjh_status_read(line.c_str(), &s)) << line;
  return s;
}

// ---- Failing -----------------------------------------------------------------------

struct failing_case {
  const char *what;
  std::map<std::string, std::string> prev, now;
  int was_failing, want;
};

const failing_case k_failing[] = {
    {"nothing new keeps it", {}, {}, 1, 1},
    {"nothing new keeps it off", {}, {}, 0, 0},
    {"a new failure", {}, {{"failed", "1"}}, 0, 1},
    {"a nudge that did not reset the idle time", {}, {{"nudges", "13"}, {"last_reset_idle", "0"}}, 0, 1},
    {"a nudge that reset it ends it", {{"failed", "1"}}, {{"failed", "1"}, {"nudges", "13"}}, 1, 0},
    {"a dry-run nudge leaves it", {}, {{"nudges", "13"}, {"last_reset_idle", "-1"}}, 1, 1},
    {"a skip leaves it", {}, {{"skipped", "1"}}, 1, 1},
    {"no run ends it", {}, {{"active", "0"}, {"failed", "5"}}, 1, 0},
    // A new run: counters back to 0, its own events decide.
    {"a new run starts clean", {{"nudges", "40"}, {"failed", "3"}}, {{"nudges", "0"}, {"failed", "0"}}, 1, 0},
    {"a new run's first failure", {{"active", "0"}, {"failed", "3"}}, {{"nudges", "0"}, {"failed", "1"}}, 0, 1},
    {"a new run's first good nudge", {{"active", "0"}}, {{"nudges", "1"}}, 1, 0},
};

TEST(Failing, FollowsTheEventsBetweenTwoLines) {
  for (const failing_case &c : k_failing) {
    mjh_status prev = status(c.prev), now = status(c.now);
    EXPECT_EQ(mjh_failing_update(&prev, &now, c.was_failing), c.want) << c.what;
  }
  mjh_status now = status({{"failed", "1"}});
  EXPECT_EQ(mjh_failing_update(nullptr, &now, 0), 1);
  EXPECT_EQ(mjh_failing_update(nullptr, nullptr, 1), 0);
}

TEST(Icon, ShowsTheRunsState) {
  EXPECT_EQ(mjh_icon_for(MJH_RUN_ACTIVE, false), MJH_ICON_ACTIVE);
  EXPECT_EQ(mjh_icon_for(MJH_RUN_ACTIVE, true), MJH_ICON_FAILING);
  EXPECT_EQ(mjh_icon_for(MJH_RUN_STOPPED, true), MJH_ICON_STOPPED);
  EXPECT_EQ(mjh_icon_for(MJH_RUN_WAITING, true), MJH_ICON_WAITING);
  EXPECT_EQ(mjh_icon_for(MJH_RUN_WAITING, false), MJH_ICON_WAITING);
  EXPECT_EQ(mjh_icon_for(MJH_RUN_STOPPED, false), MJH_ICON_STOPPED);
}

// ---- The tooltip -------------------------------------------------------------------------

struct tooltip_case {
  std::map<std::string, std::string> with;
  int failing;
  const char *error;
  int awake;
  const char *want;
};

const char k_error[] = "SendInput failed (err 5) - desktop locked or not an interactive session";

const tooltip_case k_tooltips[] = {
    {{{"active", "0"}}, 0, "", 0, "Stopped: click to start"},
    {{{"active", "0"}}, 1, k_error, 0, "Stopped: click to start"},
    {{}, 0, "", 0, "Active: zen every 60 s, next nudge in 42 s, 12 nudges, idle time reset"},
    {{}, 0, "", 1, "Active: zen every 60 s, next nudge in 42 s, 12 nudges, idle time reset, keeping awake"},
    // The user typed 4 s ago: the nudge waits for a whole minute of idle time.
    {{{"idle_s", "4"}, {"since_last_nudge_s", "30"}, {"next_nudge_in_s", "56"}},
     0,
     "",
     0,
     "Active: zen every 60 s, waiting for 60 s idle, 12 nudges, idle time reset"},
    // Just after a nudge the idle time and the schedule agree: the countdown.
    {{{"idle_s", "0"}, {"since_last_nudge_s", "0"}, {"next_nudge_in_s", "60"}},
     0,
     "",
     0,
     "Active: zen every 60 s, next nudge in 60 s, 12 nudges, idle time reset"},
    {{{"idle_s", "3"}, {"since_last_nudge_s", "-1"}, {"running_s", "10"}, {"next_nudge_in_s", "57"}, {"nudges", "0"}},
     0,
     "",
     0,
     "Active: zen every 60 s, waiting for 60 s idle, 0 nudges"},
    {{{"only_when_idle", "0"}, {"idle_s", "4"}, {"since_last_nudge_s", "30"}, {"next_nudge_in_s", "30"}},
     0,
     "",
     0,
     "Active: zen every 60 s, next nudge in 30 s, 12 nudges, idle time reset"},
    {{{"mode", "\"move\""},
      {"dx", "2"},
      {"dy", "-3"},
      {"interval_s", "5"},
      {"next_nudge_in_s", "3"},
      {"idle_s", "-1"},
      {"dry_run", "1"},
      {"nudges", "1"},
      {"last_method", "\"dry-run\""},
      {"last_reset_idle", "-1"}},
     0,
     "",
     0,
     "Active (dry run): move 2,-3 px every 5 s, next nudge in 3 s, 1 nudge"},
    {{{"last_reset_idle", "0"}},
     0,
     "",
     0,
     "Active: zen every 60 s, next nudge in 42 s, 12 nudges, idle time NOT reset"},
    {{}, 1, k_error, 0, "Failing: SendInput failed (err 5) - desktop locked or not an interactive session"},
    {{},
     1,
     k_error,
     1,
     "Failing: SendInput failed (err 5) - desktop locked or not an interactive session, keeping awake"},
    {{}, 1, "", 0, "Failing: nudges do not reset the idle time"},
    {{}, 1, nullptr, 0, "Failing: nudges do not reset the idle time"},
    {{}, 1, "bad \xff byte", 0, "Failing: bad ? byte"},
};

// The tooltip of a run as the agent gives it, without a reason or warning.
void mjh_tooltip(const mjh_status *run, bool failing, const char *error, bool awake, mjh_text &out) {
  mjh_tooltip_facts f = {};
  f.state = run->active ? MJH_RUN_ACTIVE : MJH_RUN_STOPPED;
  f.reason = "";
  f.run = run;
  f.failing = failing;
  f.last_error = error;
  f.keep_awake_held = awake;
  f.warning = "";
  mjh_agent_tooltip(f, out);
}

class Tooltips : public ::testing::TestWithParam<tooltip_case> {};

TEST_P(Tooltips, SayTheState) {
  const tooltip_case &c = GetParam();
  mjh_status s = status(c.with);
  char buf[MJH_TOOLTIP_MAX];
  memset(buf, 'x', sizeof buf);
  mjh_text out(buf);
  mjh_tooltip(&s, c.failing, c.error, c.awake, out);
  EXPECT_STREQ(buf, c.want);
  EXPECT_TRUE(out.ok());
}

INSTANTIATE_TEST_SUITE_P(Table, Tooltips, ::testing::ValuesIn(k_tooltips));

TEST(Tooltip, ALongErrorIsShortenedOnACharacterBoundary) {
  mjh_status s = status();
  std::string accented;
  for (int i = 0; i < 200; i++) accented += "\xc3\xa9";  // é
  for (const std::string &error : {std::string(500, 'e'), accented, std::string("x") + accented}) {
    for (int awake = 0; awake <= 1; awake++) {
      char buf[MJH_TOOLTIP_MAX + 16];
      memset(buf, 'x', sizeof buf);
      mjh_text out(buf);
      mjh_tooltip(&s, 1, error.c_str(), awake, out);
      EXPECT_TRUE(out.ok()) << "shortened by the tooltip, not cut by the buffer";
      std::string tip = buf;
      EXPECT_LE(tip.size(), (size_t)MJH_TOOLTIP_MAX - 1);
      EXPECT_GE(tip.size(), (size_t)MJH_TOOLTIP_MAX - 4);
      EXPECT_EQ(tip.rfind("Failing: ", 0), 0u);
      EXPECT_EQ(tip.substr(tip.size() - 3), "...");
      EXPECT_TRUE(mjh_utf8_valid(tip.data(), tip.size())) << tip;
    }
  }
}

TEST(Tooltip, TheLongestActiveTextFits) {
  mjh_status s = status({{"mode", "\"move\""},
                         {"dx", "-200"},
                         {"dy", "-200"},
                         {"interval_s", "3600"},
                         {"dry_run", "1"},
                         {"next_nudge_in_s", "3600"},
                         {"nudges", "9223372036854775807"},
                         {"last_reset_idle", "0"}});
  mjh_text_buffer<MJH_TOOLTIP_MAX> buf;
  mjh_tooltip(&s, 0, "", 1, buf);
  EXPECT_STREQ(buf.c_str(),
               "Active (dry run): move -200,-200 px every 3600 s, next nudge in 3600 s, 9223372036854775807 nudges, "
               "idle time NOT reset");
  // A smaller buffer gets a shorter text, still terminated, and says it was cut.
  char small[20];
  memset(small, 'x', sizeof small);
  mjh_text cut(small);
  mjh_tooltip(&s, 0, "", 1, cut);
  EXPECT_STREQ(small, "Active (dry run): m");
  EXPECT_FALSE(cut.ok());
}

// ---- mjctl status --------------------------------------------------------------------------

// The sentence of mjctl status, without a schedule's times.
std::string describe(const mjh_reply &r) {
  mjh_text_buffer<1024> out;
  mjh_describe_agent_at(&r, nullptr, 0, out);
  EXPECT_TRUE(out.ok());
  return out.c_str();
}

mjh_reply reply(const std::map<std::string, std::string> &with = {}) {
  mjh_reply r;
  memset(&r, 0, sizeof r);
  r.ok = 1;
  r.has_run = 1;
  r.run = status(with);
  mjh_options_default(&r.settings);
  r.run_on = 1;
  r.pid = 1234;
  strcpy(r.version, "1.0.0");
  return r;
}

TEST(DescribeAgent, SaysTheRunTheAgentAndKeepAwake) {
  mjh_reply r = reply();
  EXPECT_EQ(describe(r),
            "agent 1.0.0 (pid 1234): active, zen nudges every 60 s, only after 60 s without user input; next "
            "nudge in 42 s, user idle 18 s; 12 nudges, 0 skipped, 0 failed\n");

  r.keep_awake_held = 1;
  r.keep_display_held = 1;
  r.failing = 1;
  strcpy(r.last_error, k_error);
  EXPECT_EQ(describe(r),
            "agent 1.0.0 (pid 1234): active but failing, zen nudges every 60 s, only after 60 s without user "
            "input; next nudge in 42 s, user idle 18 s; 12 nudges, 0 skipped, 0 failed; last error: SendInput "
            "failed (err 5) - desktop locked or not an interactive session; keeping the computer awake\n");

  // Stopped: what a start would use is the saved settings, not the last run's.
  r = reply({{"active", "0"}, {"next_nudge_in_s", "-1"}});
  r.run_on = 0;
  r.settings.mode = MJ_MODE_MOVE;
  r.settings.dx = 3;
  r.settings.dy = 0;
  r.settings.interval_s = 10;
  r.settings.only_when_idle = 0;
  EXPECT_EQ(describe(r),
            "agent 1.0.0 (pid 1234): stopped; set to move nudges of 3,0 px every 10 s, also while the user is "
            "active\n");

  r.run_on = 1;
  strcpy(r.last_error, "CreateThread failed");
  EXPECT_EQ(describe(r),
            "agent 1.0.0 (pid 1234): stopped (CreateThread failed); set to move nudges of 3,0 px every 10 s, also "
            "while the user is active\n");
}

TEST(DescribeAgent, OtherRepliesAndSmallBuffers) {
  mjh_reply r = reply();
  r.ok = 0;
  strcpy(r.error, "unknown command \"go\"");
  EXPECT_EQ(describe(r), "agent error: unknown command \"go\"\n");

  r = reply();
  r.has_run = 0;
  EXPECT_EQ(describe(r), "agent: ok\n");

  // Cut to the buffer, on a character boundary, and still one line.
  r = reply();
  strcpy(r.version, "\xc3\xa9\xc3\xa9\xc3\xa9");
  char small[10];
  mjh_text small_out(small);
  mjh_describe_agent_at(&r, nullptr, 0, small_out);
  EXPECT_STREQ(small, "agent \xc3\xa9\n");
  char eight[8];  // "agent " and the line end: the cut character gives way
  mjh_text eight_out(eight);
  mjh_describe_agent_at(&r, nullptr, 0, eight_out);
  EXPECT_STREQ(eight, "agent \n");
  char tiny[1] = {'x'};
  mjh_text tiny_out(tiny);
  mjh_describe_agent_at(&r, nullptr, 0, tiny_out);
  EXPECT_EQ(tiny[0], '\0');
  // Appended after what out holds.
  mjh_text_buffer<1024> after;
  after.add("$ mjctl status\n");
  mjh_describe_agent_at(&r, nullptr, 0, after);
  EXPECT_EQ(std::string(after.c_str()), "$ mjctl status\n" + describe(r));
}

int32_t plus_one_hour(void *, int64_t) { return 3600; }

// The schedule in the sentence, its times as local clocks show them.
TEST(DescribeAgent, SaysTheSchedule) {
  const mjh_zone zone = {plus_one_hour, nullptr};
  const int64_t now = mjh_local_seconds(2025, 12, 10, 10, 0, 0) - 3600;  // Wednesday 10:00
  const std::string active =
      "agent 1.0.0 (pid 1234): active, zen nudges every 60 s, only after 60 s without user input; next nudge in 42 "
      "s, user idle 18 s; 12 nudges, 0 skipped, 0 failed";
  const std::string stopped = "agent 1.0.0 (pid 1234): stopped";
  const std::string set_to = "; set to zen nudges every 60 s, only after 60 s without user input";
  struct {
    bool running;
    const char *hours, *days;
    int inside;
    int64_t session_end, next_start;
    const char *warning, *stopped_because;
    std::string want;
  } cases[] = {
      {true, "08:30-12:00,13:00-17:30", "mon-fri", 1, MJH_NO_TIME, MJH_NO_TIME, "", "",
       active + "; working hours mon-fri 08:30-12:00,13:00-17:30: inside\n"},
      {true, "", "", 1, now + 7 * 3600 + 30 * 60, MJH_NO_TIME, "", "", active + "; session ends 17:30\n"},
      {true, "", "", 1, MJH_NO_TIME, MJH_NO_TIME, "the screen locks after 300 s of inactivity", "",
       active + "; warning: the screen locks after 300 s of inactivity\n"},
      {false, "08:30-09:30", "all", 0, MJH_NO_TIME, now + 22 * 3600 + 30 * 60, "", "outside working hours",
       stopped + " (outside working hours)" + set_to +
           "; working hours all 08:30-09:30: outside, next start tomorrow 08:30\n"},
      {false, "", "", 1, MJH_NO_TIME, MJH_NO_TIME, "", "session ended after 2 h",
       stopped + " (session ended after 2 h)" + set_to + "\n"},
  };
  for (const auto &c : cases) {
    mjh_reply r = reply(c.running ? std::map<std::string, std::string>{}
                                  : std::map<std::string, std::string>{{"active", "0"}, {"next_nudge_in_s", "-1"}});
    strcpy(r.last_error, "an older error the reason replaces");
    r.has_schedule = 1;
    strcpy(r.hours, c.hours);
    strcpy(r.days, c.days);
    r.inside = c.inside;
    r.session_end = c.session_end;
    r.next_start = c.next_start;
    strcpy(r.warning, c.warning);
    strcpy(r.stopped_because, c.stopped_because);
    mjh_text_buffer<1024> buf;
    mjh_describe_agent_at(&r, &zone, now, buf);
    EXPECT_EQ(std::string(buf.c_str()), c.want);
    // Without a schedule in the reply, the sentence is the one before schedules.
    r.has_schedule = 0;
    r.stopped_because[0] = '\0';
    buf.clear();
    mjh_describe_agent_at(&r, &zone, now, buf);
    EXPECT_EQ(std::string(buf.c_str()).find("working hours"), std::string::npos) << buf.c_str();
    EXPECT_EQ(std::string(buf.c_str()).find("session"), std::string::npos) << buf.c_str();
  }
}

}  // namespace

// ---- One vocabulary -------------------------------------------------------------------------

// The state and its reason, as the status sentence and the tooltip say them.
struct vocabulary_case {
  const char *state, *reason;
  bool active;
  const char *sentence;  // how mjctl status begins after "agent 1.0.0 (pid 1234): "
  const char *tooltip;
};

const vocabulary_case k_vocabulary[] = {
    {"active", "", true, "active, zen nudges every 60 s", "Active: zen every 60 s, next nudge in 42 s, 12 nudges"},
    {"active", "until 17:30, overriding working hours", true,
     "active until 17:30, overriding working hours, zen nudges every 60 s",
     "Active until 17:30, overriding working hours: zen every 60 s, next nudge in 42 s, 12 nudges"},
    {"waiting", "on battery", false, "waiting: on battery; set to zen nudges", "Waiting: on battery"},
    {"waiting", "for obs64.exe or mstsc.exe", false, "waiting for obs64.exe or mstsc.exe; set to zen nudges",
     "Waiting for obs64.exe or mstsc.exe"},
    {"waiting", "outside working hours, next start 08:30", false,
     "waiting: outside working hours, next start 08:30; set to zen nudges",
     "Waiting: outside working hours, next start 08:30"},
    {"waiting", "the computer is locked", false, "waiting: the computer is locked; set to zen nudges",
     "Waiting: the computer is locked"},
    {"waiting", "the desktop is switched away", false, "waiting: the desktop is switched away; set to zen nudges",
     "Waiting: the desktop is switched away"},
    {"waiting", "the remote desktop is disconnected", false,
     "waiting: the remote desktop is disconnected; set to zen nudges", "Waiting: the remote desktop is disconnected"},
    {"stopped", "", false, "stopped; set to zen nudges", "Stopped: click to start"},
    {"stopped", "session ended after 2 h", false, "stopped: session ended after 2 h; set to zen nudges",
     "Stopped: session ended after 2 h; click to start"},
};

class Vocabulary : public ::testing::TestWithParam<vocabulary_case> {};

TEST_P(Vocabulary, TheSentenceAndTheTooltipSayTheSame) {
  const vocabulary_case &c = GetParam();
  mjh_reply r = c.active ? reply() : reply({{"active", "0"}, {"next_nudge_in_s", "-1"}});
  r.has_state = true;
  strcpy(r.state, c.state);
  strcpy(r.reason, c.reason);
  const std::string said = describe(r);
  const std::string lead = "agent 1.0.0 (pid 1234): ";
  EXPECT_EQ(said.rfind(lead + c.sentence, 0), 0u) << said;

  mjh_tooltip_facts f = {};
  f.state = c.active ? MJH_RUN_ACTIVE : std::string(c.state) == "waiting" ? MJH_RUN_WAITING : MJH_RUN_STOPPED;
  f.reason = c.reason;
  f.run = &r.run;
  f.last_error = "";
  f.warning = "";
  mjh_text_buffer<MJH_TOOLTIP_MAX> tip;
  mjh_agent_tooltip(f, tip);
  EXPECT_EQ(std::string(tip.c_str()).rfind(c.tooltip, 0), 0u) << tip.c_str();
}

INSTANTIATE_TEST_SUITE_P(Table, Vocabulary, ::testing::ValuesIn(k_vocabulary));

TEST(Vocabulary, TheTooltipPutsAdministratorAndTheWarningFirstAndNeverPassesItsLimit) {
  mjh_status run = status({});
  mjh_tooltip_facts f = {};
  f.state = MJH_RUN_ACTIVE;
  f.reason = "until tomorrow 17:30, overriding working hours";
  f.run = &run;
  f.last_error = "";
  f.warning = "screen saver after 5 min: use 2 min 25 s or less";
  f.elevated = true;
  f.keep_awake_held = true;
  mjh_text_buffer<512> tip;
  mjh_agent_tooltip(f, tip);
  EXPECT_EQ(std::string(tip.c_str()).rfind("As administrator: Warning: screen saver after 5 min", 0), 0u)
      << tip.c_str();
  EXPECT_LE(tip.size(), static_cast<size_t>(MJH_TOOLTIP_MAX - 1));
  f.state = MJH_RUN_STOPPED;
  f.reason = "turned off by your organization";
  f.elevated = false;
  f.warning = "";
  f.policy_off = true;
  f.keep_awake_held = false;
  tip.clear();
  mjh_agent_tooltip(f, tip);
  EXPECT_STREQ(tip.c_str(), "Stopped: turned off by your organization") << "no click hint";
}

// Nudges that a window in front blocks say so in place of "failing"; a run in
// a remote session says where it is; the system kept awake without the
// display says that too.
TEST(Vocabulary, BlockedRemoteAndTheSystemAloneAreSaid) {
  const char blocked[] = "an administrator window is in front (taskmgr.exe)";
  mjh_reply r = reply();
  r.has_state = true;
  strcpy(r.state, "active");
  snprintf(r.reason, sizeof r.reason, "blocked: %s", blocked);
  r.failing = true;
  EXPECT_EQ(describe(r).rfind("agent 1.0.0 (pid 1234): active but blocked: an administrator window is in front "
                              "(taskmgr.exe), zen nudges every 60 s",
                              0),
            0u)
      << describe(r);

  mjh_status run = status({});
  mjh_tooltip_facts f = {};
  f.state = MJH_RUN_ACTIVE;
  f.reason = "";
  f.run = &run;
  f.failing = true;
  f.blocked = blocked;
  f.last_error = k_error;
  f.warning = "";
  f.remote = true;
  mjh_text_buffer<MJH_TOOLTIP_MAX> tip;
  mjh_agent_tooltip(f, tip);
  EXPECT_STREQ(tip.c_str(), "Blocked: an administrator window is in front (taskmgr.exe)");
  f.blocked = "";
  tip.clear();
  mjh_agent_tooltip(f, tip);
  EXPECT_EQ(std::string(tip.c_str()).rfind("Failing in a remote session: SendInput failed (err 5)", 0), 0u)
      << tip.c_str();
  f.failing = false;
  f.reason = "until 17:30";
  tip.clear();
  mjh_agent_tooltip(f, tip);
  EXPECT_EQ(std::string(tip.c_str()).rfind("Active until 17:30 in a remote session: zen every 60 s", 0), 0u)
      << tip.c_str();

  r = reply({{"active", "0"}, {"next_nudge_in_s", "-1"}});
  r.has_state = true;
  strcpy(r.state, "waiting");
  strcpy(r.reason, "the computer is locked");
  r.keep_awake_held = true;
  EXPECT_EQ(describe(r),
            "agent 1.0.0 (pid 1234): waiting: the computer is locked; set to zen nudges every 60 s, only after 60 s "
            "without user input; keeping the computer awake, not the display\n");
}
