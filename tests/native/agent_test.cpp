// The agent core, driven as the Windows shell drives it, over a fake world: a
// DLL that runs and nudges when told, a settings store, a clock that the test
// moves, the icon and the timer. Orderings that raced in the shell of old
// (a request answered inside a menu or dialog handler) are replayed here as
// the one order events now have.
#include "agent.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "json.h"
#include "protocol.h"
#include "schedule_text.h"

namespace {

int32_t utc_offset(void *, int64_t) { return 0; }
const mjh_zone kUtc = {utc_offset, nullptr};

// 2026-03-03 (a Tuesday) 10:00 UTC.
const int64_t kTuesday10 = 1772532000;

// The value of "key" in an options text, or def.
long option(const std::string &text, const char *key, long def) {
  std::string needle = std::string("\"") + key + "\":";
  size_t p = text.find(needle);
  if (p == std::string::npos) return def;
  std::string v = text.substr(p + needle.size());
  if (v.compare(0, 4, "true") == 0) return 1;
  if (v.compare(0, 5, "false") == 0) return 0;
  if (v.compare(0, 6, "\"move\"") == 0) return 0;
  if (v.compare(0, 5, "\"zen\"") == 0) return 1;
  return strtol(v.c_str(), nullptr, 10);
}

class FakeWorld : public mjh_agent_effects {
 public:
  // ---- The DLL ----
  bool run_start(const char *options_text) override {
    calls.push_back("start");
    if (refuse_start) {
      error = "CreateThread failed (err 8)";
      active = false;  // the earlier run is stopped first, as the DLL does
      return false;
    }
    options = options_text;
    active = true;
    started_tick = tick;
    nudges = failed = 0;
    return true;
  }
  void run_stop() override {
    calls.push_back("stop");
    active = false;
  }
  const char *run_status() override {
    long interval = option(options, "interval_s", 60);
    long long next = -1, running = 0;
    if (active) {
      running = (tick - started_tick) / 1000;
      next = interval - running % interval;
    }
    snprintf(line, sizeof line,
             "{\"active\":%d,\"mode\":\"%s\",\"interval_s\":%ld,\"dx\":1,\"dy\":1,\"only_when_idle\":%ld,"
             "\"dry_run\":%ld,\"nudges\":%lld,\"skipped\":0,\"failed\":%lld,\"idle_s\":3,\"since_last_nudge_s\":-1,"
             "\"next_nudge_in_s\":%lld,\"running_s\":%lld,\"last_reset_idle\":%d,\"last_method\":\"%s\","
             "\"platform\":\"windows\",\"mechanism\":\"SendInput\",\"version\":\"1.0.0\"}",
             active ? 1 : 0, option(options, "mode", 1) ? "zen" : "move", interval,
             option(options, "only_when_idle", 1), option(options, "dry_run", 0), nudges, failed, next, running,
             last_reset, nudges + failed ? "SendInput zen" : "");
    return line;
  }
  bool nudge(const char *options_text) override {
    calls.push_back(std::string("nudge ") + options_text);
    return !refuse_nudge;
  }
  const char *last_error() override { return error.c_str(); }

  mjh_awake keep_awake(mjh_awake level) override {
    held = level != MJH_AWAKE_NONE;
    held_display = level == MJH_AWAKE_DISPLAY;
    awake_calls++;
    return level;
  }
  mjh_front_window front_window() override {
    front_reads++;
    return front;
  }
  bool save(const mjh_settings &s, const mjh_hours &h, const mjh_programs *p, mjh_text &why) override {
    saves++;
    if (refuse_save) {
      why.add("the registry refused it (error 5)");
      return false;
    }
    saved = s;
    if (!h.damaged) saved_hours = h;
    if (p) saved_programs = *p;
    return true;
  }
  int64_t now_utc() override { return now; }
  int64_t tick_ms() override { return tick; }
  const mjh_zone *zone() override { return &kUtc; }
  mjh_lock_setting lock_setting() override { return lock; }
  void show(mjh_icon_state i, const char *tip) override {
    icon = i;
    tooltip = tip;
    shows++;
  }
  void notify(const char *title, const char *text) override { notes.push_back(std::string(title) + ": " + text); }
  mjh_program_state watch_programs(const mjh_programs &p, bool fg) override {
    watched = p;
    watch_foreground = fg;
    watches++;
    return programs_now();
  }
  void set_timer(int64_t ms) override { timer_ms = ms; }
  bool autostart() override { return autostart_on; }
  bool set_autostart(bool on) override {
    autostart_on = on;
    return true;
  }
  void quit() override { quit_called = true; }

  // ---- The test's hands ----
  void pass(int64_t seconds) {
    now += seconds;
    tick += seconds * 1000;
  }
  void nudge_happens(bool reset) {
    nudges++;
    last_reset = reset ? 1 : 0;
  }
  void nudge_fails() { failed++; }

  // The DLL
  bool active = false;
  bool refuse_start = false, refuse_nudge = false;
  std::string options, error;
  long long nudges = 0, failed = 0;
  int last_reset = -1;
  int64_t started_tick = 0;
  std::vector<std::string> calls;
  char line[1024];
  // The rest of the world
  bool held = false, held_display = false;  // the system, and the display with it
  int awake_calls = 0;
  mjh_front_window front = {true, MJH_LEVEL_UNKNOWN, ""};  // a window, unread
  int front_reads = 0;
  bool refuse_save = false;
  int saves = 0;
  mjh_settings saved = {};
  mjh_hours saved_hours = {};
  mjh_programs saved_programs = {};
  // The programs that run, by name, and the one in the foreground.
  std::vector<std::string> running_programs;
  std::string foreground_program;
  mjh_programs watched = {};
  bool watch_foreground = false;
  int watches = 0;
  mjh_program_state programs_now() const {
    mjh_program_state st = {0, -1};
    for (int i = 0; i < watched.count; i++) {
      for (const std::string &r : running_programs)
        if (mjh_program_name_equal(r, watched.names[i])) st.running |= 1u << i;
      if (!foreground_program.empty() && mjh_program_name_equal(foreground_program, watched.names[i]))
        st.foreground = i;
    }
    return st;
  }
  int64_t now = kTuesday10, tick = 1000000;
  mjh_lock_setting lock = {0, MJH_LOCK_SCREEN_LOCK};
  mjh_icon_state icon = MJH_ICON_STOPPED;
  std::string tooltip;
  int shows = 0;
  std::vector<std::string> notes;
  int64_t timer_ms = -2;  // never set
  bool autostart_on = false;
  bool quit_called = false;
};

// What the shell's pipe server would hand over for this request line.
mjh_request parse(const std::string &line) {
  mjh_request r;
  mjh_text_buffer<256> err;
  EXPECT_TRUE(mjh_request_parse(line.data(), line.size(), nullptr, &r, &err)) << line << ": " << err.c_str();
  return r;
}

// A launch with nothing stored: the defaults, no hours, no programs, no
// policy, on mains power, not elevated, not the first.
mjh_agent_start default_start() {
  mjh_agent_start start;
  mjh_settings_default(&start.settings);
  mjh_hours_none(&start.hours);
  mjh_programs_none(&start.programs);
  start.programs_damaged = false;
  mjh_policy_none(&start.policy);
  start.power = {MJH_AC_ONLINE, -1, false};
  start.elevated = false;
  start.first_launch = false;
  return start;
}

class AgentCore : public ::testing::Test {
 protected:
  AgentCore() : agent(world, "1.0.0", 4242) {}

  void launch(bool first = false, const char *hours = nullptr, const char *days = nullptr) {
    mjh_agent_start start = default_start();
    if (hours) {
      ASSERT_TRUE(mjh_hours_parse(hours, &start.hours, nullptr));
    }
    if (days) {
      ASSERT_TRUE(mjh_days_parse(days, &start.hours.days, nullptr));
    }
    start.first_launch = first;
    agent.launch(start);
  }

  // The reply line of a request, as its client reads it.
  std::string ask(const std::string &line, mjh_reply *out = nullptr) {
    mjh_text_buffer<MJH_REPLY_MAX> reply;
    agent.request(parse(line), reply);
    EXPECT_TRUE(reply.ok());
    EXPECT_EQ(reply.last(), '\n');
    mjh_reply r;
    EXPECT_TRUE(mjh_reply_read(reply.c_str(), reply.size(), &r)) << reply.c_str();
    if (out) *out = r;
    return reply.c_str();
  }
  bool ok(const std::string &line) {
    mjh_reply r;
    ask(line, &r);
    return r.ok;
  }
  mjh_reply status() {
    mjh_reply r;
    ask("{\"cmd\":\"status\"}", &r);
    return r;
  }

  FakeWorld world;
  mjh_agent agent;
};

TEST_F(AgentCore, TheFirstLaunchEverSavesTheDefaultsAndStartsARun) {
  launch(true);
  EXPECT_EQ(world.saves, 1);
  EXPECT_EQ(world.saved.run_on, 1);
  EXPECT_TRUE(world.active);
  EXPECT_EQ(world.options,
            "{\"mode\":\"zen\",\"interval_s\":60,\"dx\":1,\"dy\":1,\"only_when_idle\":true,"
            "\"dry_run\":false}");
  EXPECT_EQ(world.icon, MJH_ICON_ACTIVE);
  EXPECT_EQ(world.tooltip.rfind("Active: zen every 60 s, ", 0), 0u) << world.tooltip;
  // The run is looked at again just after its first nudge is due.
  EXPECT_EQ(world.timer_ms, 61000);
}

TEST_F(AgentCore, ALaterLaunchSavesNothingAndAStoppedRunHasNoTimer) {
  mjh_agent_start start = default_start();
  start.settings.run_on = 0;
  agent.launch(start);
  EXPECT_EQ(world.saves, 0);
  EXPECT_FALSE(world.active);
  EXPECT_EQ(world.icon, MJH_ICON_STOPPED);
  EXPECT_EQ(world.timer_ms, -1) << "stopped without working hours: nothing to wake for";
}

// The shell of old merged a start's options into a copy of the settings taken
// on the pipe thread: a menu change made before the request was answered was
// lost when the copy was written back.
TEST_F(AgentCore, AStartChangesOnlyTheKeysItNamesOnTheSettingsAsTheyAreNow) {
  launch();
  agent.action(MJH_ACTION_MODE_MOVE);
  agent.action(MJH_ACTION_KEEP_AWAKE);
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"interval_s\":30}}"));
  EXPECT_EQ(world.saved.options.mode, MJ_MODE_MOVE);
  EXPECT_EQ(world.saved.options.keep_awake, 1);
  EXPECT_EQ(world.saved.options.interval_s, 30);
  EXPECT_EQ(option(world.options, "interval_s", 0), 30);
  EXPECT_EQ(option(world.options, "mode", 1), 0) << "move";
  EXPECT_TRUE(world.held);
}

// The working hours dialog of old wrote back the hours it took when it
// opened, undoing a start --hours answered while it was open.
TEST_F(AgentCore, TheHoursDialogChangesOnlyWhatTheUserChangedInIt) {
  launch(false, "09:00-17:00", "mon-fri");
  mjh_hours_fields shown;
  mjh_hours_fields_of(agent.hours(), &shown);
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"hours\":\"07:00-19:00\"}}"));

  mjh_hours_fields closed = shown;
  closed.days = 0x3f;  // Monday to Saturday, the spans as shown
  mjh_hours_edit edit;
  ASSERT_TRUE(mjh_hours_edit_between(shown, closed, &edit, nullptr));
  EXPECT_TRUE(edit.set_days);
  EXPECT_FALSE(edit.set_spans);
  ASSERT_TRUE(agent.edit_hours(edit, nullptr));

  mjh_text_buffer<64> spans;
  mjh_hours_text(&world.saved_hours, spans);
  EXPECT_STREQ(spans.c_str(), "07:00-19:00") << "the request's spans stay";
  EXPECT_EQ(world.saved_hours.days, 0x3fu) << "the dialog's days apply";
}

TEST_F(AgentCore, TheHoursDialogRefusesWhatDoesNotReadAndKeepsTheHours) {
  launch(false, "09:00-17:00", "mon-fri");
  mjh_hours_fields shown;
  mjh_hours_fields_of(agent.hours(), &shown);
  struct Case {
    const char *spans;
    unsigned days;
  } cases[] = {{"09:00-12:00,11:00-13:00", 0x1f}, {"25:00-26:00", 0x1f}, {"09:00-17:00", 0}, {"", 0x1f}};
  for (const Case &c : cases) {
    mjh_hours_fields closed = shown;
    snprintf(closed.spans, sizeof closed.spans, "%s", c.spans);
    closed.days = c.days;
    mjh_hours_edit edit;
    mjh_text_buffer<256> err;
    EXPECT_FALSE(mjh_hours_edit_between(shown, closed, &edit, &err)) << c.spans;
    EXPECT_GT(err.size(), 0u) << c.spans;
  }
  mjh_text_buffer<64> spans;
  mjh_hours_text(&agent.hours(), spans);
  EXPECT_STREQ(spans.c_str(), "09:00-17:00");
}

// The programs dialog's edit: only what differs from what it showed; an empty
// list clears the condition; a name that does not read is refused.
TEST(ProgramsDialog, TheEditIsWhatTheUserChanged) {
  struct Case {
    const char *closed;
    bool foreground;
    bool ok, set_programs, set_foreground;
    int count;
  } cases[] = {
      {"obs64.exe,mstsc.exe", false, true, false, false, 2},
      {"obs64.exe,mstsc.exe", true, true, false, true, 2},
      {"mstsc.exe,obs64.exe", false, true, true, false, 2},
      {"obs64", false, true, true, false, 1},
      {"", false, true, true, false, 0},
      {"obs64.exe,,mstsc.exe", true, false, false, false, 0},
  };
  mjh_programs shown;
  ASSERT_TRUE(mjh_programs_parse("obs64.exe,mstsc.exe", &shown, nullptr));
  for (const Case &c : cases) {
    mjh_programs_edit edit;
    mjh_text_buffer<256> err;
    ASSERT_EQ(mjh_programs_edit_between(shown, false, c.closed, c.foreground, &edit, &err), c.ok) << c.closed;
    if (!c.ok) {
      EXPECT_GT(err.size(), 0u) << c.closed;
      continue;
    }
    EXPECT_EQ(edit.set_programs, c.set_programs) << c.closed;
    EXPECT_EQ(edit.programs.count, c.count) << c.closed;
    EXPECT_EQ(edit.set_foreground, c.set_foreground) << c.closed;
    EXPECT_EQ(edit.foreground, c.foreground) << c.closed;
  }
}

// In the shell of old, a start answered while the stop path of a decision
// waited on the notification area left the DLL's run going with run_on=0
// saved. Now a session's end and a start are two events, one after the
// other, and the world agrees with the saved choice after each.
TEST_F(AgentCore, ASessionEndingAndAStartInEitherOrderLeaveTheRunAsSaved) {
  launch();
  agent.action(MJH_ACTION_RUN_FOR, 60);
  world.pass(61);
  agent.timer();
  EXPECT_FALSE(world.active);
  EXPECT_EQ(world.saved.run_on, 0) << "without working hours the session's end is a stop";
  EXPECT_EQ(status().stopped_because, std::string("session ended after 1 min"));
  EXPECT_TRUE(ok("{\"cmd\":\"start\"}"));
  EXPECT_TRUE(world.active);
  EXPECT_EQ(world.saved.run_on, 1);
  EXPECT_EQ(status().stopped_because, std::string(""));

  agent.action(MJH_ACTION_RUN_FOR, 60);
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"for\":120}}"));
  world.pass(61);
  agent.timer();
  EXPECT_TRUE(world.active) << "the later session of the request holds";
  world.pass(60);
  agent.timer();
  EXPECT_FALSE(world.active);
}

// Random orders of everything the shell may deliver: after each event the
// DLL's run, keep-awake and the saved choice agree with what the agent says.
TEST_F(AgentCore, AnyOrderOfEventsKeepsTheWorldAndTheSavedChoiceInStep) {
  launch(true);
  std::mt19937 random(12345);
  const char *requests[] = {
      "{\"cmd\":\"start\"}",
      "{\"cmd\":\"stop\"}",
      "{\"cmd\":\"status\"}",
      "{\"cmd\":\"nudge\"}",
      "{\"cmd\":\"start\",\"options\":{\"keep_awake\":true,\"interval_s\":5}}",
      "{\"cmd\":\"start\",\"options\":{\"keep_awake\":false,\"for\":30}}",
      "{\"cmd\":\"start\",\"options\":{\"hours\":\"10:00-10:01\",\"days\":\"all\"}}",
      "{\"cmd\":\"start\",\"options\":{\"hours\":\"any\"}}",
  };
  const mjh_user_action actions[] = {MJH_ACTION_TOGGLE,     MJH_ACTION_START,     MJH_ACTION_STOP,
                                     MJH_ACTION_KEEP_AWAKE, MJH_ACTION_MODE_MOVE, MJH_ACTION_RUN_UNTIL_STOPPED,
                                     MJH_ACTION_NUDGE,      MJH_ACTION_INTERVAL};
  for (int step = 0; step < 3000; ++step) {
    switch (random() % 5) {
      case 0:
      case 1:
        ask(requests[random() % (sizeof requests / sizeof requests[0])]);
        break;
      case 2: {
        mjh_user_action a = actions[random() % (sizeof actions / sizeof actions[0])];
        agent.action(a, a == MJH_ACTION_INTERVAL ? 30 : 0);
        break;
      }
      case 3:
        world.pass(random() % 90);
        agent.timer();
        break;
      case 4:
        world.refuse_start = random() % 10 == 0;
        agent.action(MJH_ACTION_RUN_FOR, 1800);
        world.refuse_start = false;
        break;
    }
    mjh_reply r = status();
    ASSERT_EQ(world.active, r.run.active != 0) << "step " << step;
    ASSERT_EQ(world.held, world.active && r.settings.keep_awake) << "step " << step;
    ASSERT_EQ(world.saved.run_on, r.run_on) << "step " << step;
    if (world.active) {
      ASSERT_TRUE(r.run_on) << "step " << step;
    }
    ASSERT_EQ(world.icon == MJH_ICON_ACTIVE || world.icon == MJH_ICON_FAILING, world.active) << "step " << step;
  }
}

TEST_F(AgentCore, AStartTheDllRefusesChangesNothing) {
  launch();
  EXPECT_TRUE(ok("{\"cmd\":\"stop\"}"));
  int saves = world.saves;
  world.refuse_start = true;
  mjh_reply r;
  ask("{\"cmd\":\"start\",\"options\":{\"interval_s\":30,\"hours\":\"08:00-18:00\"}}", &r);
  EXPECT_FALSE(r.ok);
  EXPECT_STREQ(r.error, "CreateThread failed (err 8)");
  EXPECT_EQ(world.saves, saves);
  EXPECT_EQ(world.saved.options.interval_s, 60);
  EXPECT_EQ(world.saved.run_on, 0);
  EXPECT_EQ(agent.hours().span_count, 0);
  EXPECT_FALSE(world.active);
}

TEST_F(AgentCore, AStartFromTheMenuThatFailsSaysWhyAndLeavesTheRunOff) {
  launch();
  agent.action(MJH_ACTION_STOP);
  world.refuse_start = true;
  agent.action(MJH_ACTION_START);
  EXPECT_FALSE(world.active);
  EXPECT_EQ(world.saved.run_on, 0);
  ASSERT_EQ(world.notes.size(), 1u);
  EXPECT_EQ(world.notes[0], "The run did not start: CreateThread failed (err 8)");
  EXPECT_EQ(world.icon, MJH_ICON_STOPPED);
}

// A store that refuses: each change still takes effect, and each failed save
// is told where it came from (the reply of its request, or a notification
// for the menu, a dialog or the first launch); the tooltip says so until a
// save works again.
TEST_F(AgentCore, AFailedSaveIsToldWhereTheChangeCameFromAndInTheTooltip) {
  const std::string unsaved =
      "{\"ok\":false,\"error\":\"the change took effect but the settings could not be saved: the registry "
      "refused it (error 5); it lasts until the agent ends\"}\n";
  const std::string note =
      "Settings not saved: the registry refused it (error 5); the change lasts until the agent ends";
  world.refuse_save = true;
  launch(true);
  ASSERT_EQ(world.notes.size(), 2u);
  EXPECT_EQ(world.notes[0], note) << "the first launch saves the defaults";
  EXPECT_EQ(world.tooltip.rfind("Settings not saved! Active: zen every 60 s", 0), 0u) << world.tooltip;
  world.notes.clear();

  const struct {
    const char *request;
    const char *reply;  // with a store that takes it
    bool saves;
  } requests[] = {
      {"{\"cmd\":\"start\",\"options\":{\"interval_s\":120}}", "{\"ok\":true}\n", true},
      {"{\"cmd\":\"stop\"}", "{\"ok\":true}\n", true},
      {"{\"cmd\":\"start\"}", "{\"ok\":true}\n", true},
      {"{\"cmd\":\"nudge\"}", "{\"ok\":true}\n", false},
      {"{\"cmd\":\"show\"}", "{\"ok\":true}\n", false},
  };
  for (const auto &r : requests) EXPECT_EQ(ask(r.request), r.saves ? unsaved : r.reply) << r.request;
  EXPECT_EQ(status().ok, true) << "a status saves nothing";
  EXPECT_EQ(world.notes.size(), 1u) << "only the nudge's own note: replies tell the rest";
  mjh_reply now = status();
  EXPECT_EQ(now.run.interval_s, 120) << "the start took effect";
  EXPECT_TRUE(now.run.active);

  world.notes.clear();
  agent.action(MJH_ACTION_MODE_MOVE);
  EXPECT_EQ(world.notes, std::vector<std::string>{note}) << "a change from the menu";
  EXPECT_EQ(status().run.mode, MJ_MODE_MOVE);
  world.notes.clear();
  mjh_hours_edit none = {};
  none.clear = true;
  EXPECT_TRUE(agent.edit_hours(none, nullptr));
  EXPECT_EQ(world.notes, std::vector<std::string>{note}) << "a change from a dialog";

  // The store takes it again: the reply is ok, the tooltip plain once more.
  world.refuse_save = false;
  world.notes.clear();
  EXPECT_EQ(ask("{\"cmd\":\"start\",\"options\":{\"interval_s\":30}}"), "{\"ok\":true}\n");
  EXPECT_EQ(world.saved.options.interval_s, 30);
  EXPECT_EQ(world.saved.options.mode, MJ_MODE_MOVE) << "what was not saved before is saved now";
  EXPECT_EQ(world.tooltip.find("not saved"), std::string::npos) << world.tooltip;
  EXPECT_TRUE(world.notes.empty());
}

TEST_F(AgentCore, QuitRepliesStopsTheRunLetsKeepAwakeGoAndKeepsTheUsersChoice) {
  launch();
  agent.action(MJH_ACTION_KEEP_AWAKE);
  ASSERT_TRUE(world.held);
  int saves = world.saves;
  EXPECT_EQ(ask("{\"cmd\":\"quit\"}"), "{\"ok\":true}\n");
  EXPECT_TRUE(world.quit_called);
  EXPECT_FALSE(world.active);
  EXPECT_FALSE(world.held);
  EXPECT_EQ(world.saves, saves) << "the run comes back on the next launch";
  EXPECT_EQ(world.timer_ms, -1);
}

TEST_F(AgentCore, AfterShutDownEveryRequestIsRefusedAndEveryEventDoesNothing) {
  launch();
  agent.shut_down();
  agent.shut_down();
  EXPECT_FALSE(world.active);
  EXPECT_EQ(ask("{\"cmd\":\"start\"}"), "{\"ok\":false,\"error\":\"the agent is shutting down\"}\n");
  EXPECT_EQ(ask("{\"cmd\":\"status\"}"), "{\"ok\":false,\"error\":\"the agent is shutting down\"}\n");
  size_t calls = world.calls.size();
  int shows = world.shows, saves = world.saves;
  agent.action(MJH_ACTION_START);
  agent.timer();
  agent.clock_changed();
  agent.settings_changed();
  agent.resumed();
  agent.pointer_on_icon();
  mjh_hours_edit edit = {};
  edit.clear = true;
  EXPECT_FALSE(agent.edit_hours(edit, nullptr));
  EXPECT_EQ(world.calls.size(), calls);
  EXPECT_EQ(world.shows, shows);
  EXPECT_EQ(world.saves, saves);
  EXPECT_FALSE(world.active);
}

TEST_F(AgentCore, NudgesThatStopResettingTheIdleTimeMakeTheIconAmberUntilOneDoes) {
  launch();
  world.pass(61);
  world.nudge_happens(true);
  agent.timer();
  EXPECT_EQ(world.icon, MJH_ICON_ACTIVE);
  world.pass(60);
  world.nudge_fails();
  world.error = "SendInput failed (err 5)";
  agent.timer();
  EXPECT_EQ(world.icon, MJH_ICON_FAILING);
  EXPECT_EQ(world.tooltip.rfind("Failing: SendInput failed (err 5)", 0), 0u) << world.tooltip;
  EXPECT_TRUE(status().failing);
  world.pass(60);
  world.nudge_happens(true);
  agent.timer();
  EXPECT_EQ(world.icon, MJH_ICON_ACTIVE);
}

TEST_F(AgentCore, ThePointerOnTheIconMakesTheCountdownFresh) {
  launch();
  EXPECT_NE(world.tooltip.find("next nudge in 60 s"), std::string::npos) << world.tooltip;
  world.pass(17);
  agent.pointer_on_icon();
  EXPECT_NE(world.tooltip.find("next nudge in 43 s"), std::string::npos) << world.tooltip;
  int shows = world.shows;
  agent.pointer_on_icon();
  EXPECT_EQ(world.shows, shows) << "nothing changed, nothing shown again";
}

TEST_F(AgentCore, OutsideWorkingHoursTheRunWaitsAndStartsByItselfAtTheNextSpan) {
  launch(false, "11:00-12:00", "all");  // it is 10:00
  EXPECT_FALSE(world.active);
  EXPECT_EQ(world.icon, MJH_ICON_WAITING);
  EXPECT_EQ(world.timer_ms, 3600 * 1000);
  mjh_reply r = status();
  EXPECT_TRUE(r.run_on);
  EXPECT_EQ(r.next_start, kTuesday10 + 3600);
  world.pass(3600);
  agent.timer();
  EXPECT_TRUE(world.active);
  EXPECT_EQ(world.icon, MJH_ICON_ACTIVE);
}

TEST_F(AgentCore, AClockSetForwardMovesAForSessionWithIt) {
  launch();
  agent.action(MJH_ACTION_RUN_FOR, 3600);
  int64_t end = status().session_end;
  world.now += 7200;  // the clock is set two hours ahead; no time passed
  agent.clock_changed();
  EXPECT_TRUE(world.active);
  EXPECT_EQ(status().session_end, end + 7200);
}

TEST_F(AgentCore, TheMenuShowsTheSettingsTheSessionAndTheLockWarning) {
  world.lock = {300, MJH_LOCK_SCREEN_SAVER};
  launch();
  agent.action(MJH_ACTION_INTERVAL, 240);
  agent.action(MJH_ACTION_RUN_FOR, 2 * 3600);
  mjh_menu_model m;
  agent.menu(&m);
  EXPECT_TRUE(m.run_on);
  EXPECT_EQ(m.interval_s, 240);
  EXPECT_EQ(m.session, MJH_ACTION_RUN_FOR);
  EXPECT_EQ(m.session_seconds, 2 * 3600);
  EXPECT_FALSE(m.until_end_of_hours_possible);
  EXPECT_TRUE(m.interval_unsafe);
  EXPECT_EQ(m.safe_interval_s, 145);
  EXPECT_STREQ(m.interval_label, "&Interval (too long for the 5 min screen saver)");
  EXPECT_EQ(world.tooltip.rfind("Warning: ", 0), 0u) << world.tooltip;
  agent.action(MJH_ACTION_INTERVAL_SAFE);
  agent.menu(&m);
  EXPECT_EQ(m.interval_s, 145);
  EXPECT_FALSE(m.interval_unsafe);
}

TEST_F(AgentCore, NudgeFollowsTheSavedSettingsDryRunIncluded) {
  launch();
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"dry_run\":true,\"mode\":\"move\"}}"));
  EXPECT_TRUE(ok("{\"cmd\":\"nudge\"}"));
  ASSERT_FALSE(world.calls.empty());
  const std::string &nudge = world.calls.back();
  EXPECT_NE(nudge.find("\"dry_run\":true"), std::string::npos) << nudge;
  EXPECT_NE(nudge.find("\"mode\":\"move\""), std::string::npos) << nudge;
  world.refuse_nudge = true;
  world.error = "SendInput failed (err 5)";
  mjh_reply r;
  ask("{\"cmd\":\"nudge\"}", &r);
  EXPECT_FALSE(r.ok);
  EXPECT_STREQ(r.error, "SendInput failed (err 5)");
}

}  // namespace

// ---- Conditions, power, sleep, policies, notifications ---------------------------------

namespace {

mjh_policy policy_of(std::initializer_list<std::pair<const char *, mjh_value>> values) {
  mjh_value machine[MJH_POLICY_COUNT] = {};
  for (const auto &v : values)
    for (int id = 0; id < MJH_POLICY_COUNT; id++)
      if (std::string(mjh_policy_table(id).name) == v.first) machine[id] = v.second;
  mjh_policy p;
  mjh_policy_read(machine, nullptr, &p);
  return p;
}

mjh_value dword(uint32_t n) { return {MJH_VALUE_NUMBER, n, nullptr}; }
mjh_value sz(const char *t) { return {MJH_VALUE_TEXT, 0, t}; }

struct CombinationCase {
  const char *name;
  bool run_on;
  const char *hours;   // nullptr: none; it is Tuesday 10:00
  int64_t session_s;   // a "for" session started now, 0: none
  const char *policy;  // nullptr, or "off" (Allowed 0)
  bool ac_only;
  int battery_floor;
  mjh_power_reading power;
  const char *programs;  // nullptr: none
  bool foreground;
  const char *running;   // a program that runs, or nullptr
  const char *in_front;  // the program in the foreground, or nullptr
  const char *state, *reason;
};

const mjh_power_reading kMains = {MJH_AC_ONLINE, 90, true};
const mjh_power_reading kBattery50 = {MJH_AC_OFFLINE, 50, true};
const mjh_power_reading kBattery15 = {MJH_AC_OFFLINE, 15, true};

const CombinationCase kCombinations[] = {
    {"on, nothing set", true, nullptr, 0, nullptr, false, 0, kMains, nullptr, false, nullptr, nullptr, "active", ""},
    {"off", false, nullptr, 0, nullptr, false, 0, kMains, nullptr, false, nullptr, nullptr, "stopped", ""},
    {"outside hours", true, "08:00-09:00", 0, nullptr, false, 0, kMains, nullptr, false, nullptr, nullptr, "waiting",
     "outside working hours, next start tomorrow 08:00"},
    {"a session overrides hours", true, "08:00-09:00", 3600, nullptr, false, 0, kMains, nullptr, false, nullptr,
     nullptr, "active", "until 11:00, overriding working hours"},
    {"a session inside hours", true, "08:00-18:00", 3600, nullptr, false, 0, kMains, nullptr, false, nullptr, nullptr,
     "active", "until 11:00"},
    {"a session does not override a condition", true, "08:00-09:00", 3600, nullptr, true, 0, kBattery50, nullptr, false,
     nullptr, nullptr, "waiting", "on battery"},
    {"mains only, on mains", true, nullptr, 0, nullptr, true, 0, kMains, nullptr, false, nullptr, nullptr, "active",
     ""},
    {"mains only, on battery", true, nullptr, 0, nullptr, true, 0, kBattery50, nullptr, false, nullptr, nullptr,
     "waiting", "on battery"},
    {"battery floor, above", true, nullptr, 0, nullptr, false, 20, kBattery50, nullptr, false, nullptr, nullptr,
     "active", ""},
    {"battery floor, below", true, nullptr, 0, nullptr, false, 20, kBattery15, nullptr, false, nullptr, nullptr,
     "waiting", "battery below 20 %"},
    {"programs, none runs", true, nullptr, 0, nullptr, false, 0, kMains, "obs64.exe,mstsc.exe", false, nullptr, nullptr,
     "waiting", "for obs64.exe or mstsc.exe"},
    {"programs, one runs", true, nullptr, 0, nullptr, false, 0, kMains, "obs64.exe,mstsc.exe", false, "MSTSC.EXE",
     nullptr, "active", ""},
    {"foreground, not in front", true, nullptr, 0, nullptr, false, 0, kMains, "obs64.exe", true, "obs64.exe",
     "notepad.exe", "waiting", "obs64.exe is not in the foreground"},
    {"foreground, in front", true, nullptr, 0, nullptr, false, 0, kMains, "obs64.exe", true, "obs64.exe", "obs64.exe",
     "active", ""},
    {"hours hold before conditions", true, "08:00-09:00", 0, nullptr, true, 0, kBattery50, "obs64.exe", false, nullptr,
     nullptr, "waiting", "outside working hours, next start tomorrow 08:00"},
    {"a policy overrides all", true, nullptr, 3600, "off", false, 0, kMains, nullptr, false, nullptr, nullptr,
     "stopped", "turned off by your organization"},
};

// A table case's test name: its own name, with '_' for what is not a letter
// or digit.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case> &param) const {
    std::string name;
    for (const char *p = param.param.name; *p; p++) name += (isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
    return name;
  }
};

class Combination : public ::testing::TestWithParam<CombinationCase> {};

// One rule, said once: the user wants it on, and inside working hours (if
// set), and the conditions hold (if set); a session overrides working hours
// but not conditions; a policy overrides all. The one thing that holds the
// run back is named.
TEST_P(Combination, DecidesTheStateAndNamesWhatHoldsTheRunBack) {
  const CombinationCase &c = GetParam();
  FakeWorld world;
  mjh_agent agent(world, "1.0.0", 1);
  mjh_agent_start start = default_start();
  start.settings.run_on = c.run_on;
  start.settings.ac_only = c.ac_only;
  start.settings.battery_floor = c.battery_floor;
  start.settings.foreground = c.foreground;
  if (c.hours) {
    ASSERT_TRUE(mjh_hours_parse(c.hours, &start.hours, nullptr));
  }
  if (c.programs) {
    ASSERT_TRUE(mjh_programs_parse(c.programs, &start.programs, nullptr));
  }
  start.policy = c.policy ? policy_of({{"Allowed", dword(0)}}) : policy_of({});
  start.power = c.power;
  if (c.running) world.running_programs.push_back(c.running);
  if (c.in_front) world.foreground_program = c.in_front;
  agent.launch(start);
  if (c.session_s) agent.action(MJH_ACTION_RUN_FOR, c.session_s);

  mjh_text_buffer<MJH_REPLY_MAX> reply;
  agent.request(parse("{\"cmd\":\"status\"}"), reply);
  mjh_reply r;
  ASSERT_TRUE(mjh_reply_read(reply.c_str(), reply.size(), &r)) << reply.c_str();
  ASSERT_TRUE(r.has_state);
  EXPECT_STREQ(r.state, c.state);
  EXPECT_STREQ(r.reason, c.reason);
  EXPECT_EQ(world.active, std::string(c.state) == "active");
  const mjh_icon_state icon = std::string(c.state) == "active"    ? MJH_ICON_ACTIVE
                              : std::string(c.state) == "waiting" ? MJH_ICON_WAITING
                                                                  : MJH_ICON_STOPPED;
  EXPECT_EQ(world.icon, icon);
  // The tooltip says the same in short.
  if (c.reason[0]) {
    EXPECT_NE(world.tooltip.find(c.reason), std::string::npos) << world.tooltip;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Combination, ::testing::ValuesIn(kCombinations), CaseName());

}  // namespace

TEST_F(AgentCore, ABatteryBelowTheFloorStopsTheRunUntilChargedPastItOrPluggedIn) {
  launch();
  agent.power_changed({MJH_AC_OFFLINE, 50, true});
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"battery_floor\":20,\"keep_awake\":true}}"));
  EXPECT_TRUE(world.active);
  EXPECT_TRUE(world.held);
  struct Step {
    mjh_power_reading power;
    bool active;
  } steps[] = {
      {{MJH_AC_OFFLINE, 21, true}, true},  {{MJH_AC_OFFLINE, 19, true}, false},  // below 20 %: keep-awake ends too
      {{MJH_AC_OFFLINE, 24, true}, false}, {{MJH_AC_OFFLINE, 25, true}, false},  // not above 25 % yet
      {{MJH_AC_OFFLINE, 26, true}, true},  {{MJH_AC_OFFLINE, 10, true}, false},
      {{MJH_AC_ONLINE, 10, true}, true},    // plugged in
      {{MJH_AC_OFFLINE, 11, true}, false},  // unplugged while still below
      {{MJH_AC_OFFLINE, -1, true}, false},  // an unknown charge changes nothing
      {{MJH_AC_ONLINE, -1, true}, true},    // plugged in again
      {{MJH_AC_OFFLINE, -1, true}, true},
  };
  int i = 0;
  for (const Step &s : steps) {
    agent.power_changed(s.power);
    EXPECT_EQ(world.active, s.active) << "step " << i;
    EXPECT_EQ(world.held, s.active) << "step " << i;
    i++;
  }
}

TEST_F(AgentCore, AProgramsExitAndRestartStopAndStartTheRun) {
  launch();
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"while_running\":\"obs64.exe,mstsc.exe\"}}"));
  EXPECT_EQ(world.watched.count, 2);
  EXPECT_FALSE(world.active);
  EXPECT_EQ(world.tooltip, "Waiting for obs64.exe or mstsc.exe");
  agent.programs_changed({2u, -1});  // mstsc.exe starts
  EXPECT_TRUE(world.active);
  agent.programs_changed({0u, -1});  // and ends
  EXPECT_FALSE(world.active);
  agent.programs_changed({1u, -1});  // obs64.exe starts
  EXPECT_TRUE(world.active);
  EXPECT_EQ(world.saved_programs.count, 2);
  // "any" clears the list: the run no longer waits for a program.
  agent.programs_changed({0u, -1});
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"while_running\":\"any\"}}"));
  EXPECT_EQ(world.watched.count, 0);
  EXPECT_TRUE(world.active);
}

// The computer slept across the end of a session: on waking, the session has
// ended, and says so; it is told once.
TEST_F(AgentCore, ASleepAcrossASessionsEndEndsItOnWaking) {
  launch();
  agent.action(MJH_ACTION_RUN_FOR, 3600);
  world.pass(600);
  agent.timer();
  EXPECT_TRUE(world.active);
  world.pass(7200);  // asleep: no timer fired
  agent.resumed();
  EXPECT_FALSE(world.active);
  EXPECT_EQ(world.saved.run_on, 0);
  mjh_reply r = status();
  EXPECT_STREQ(r.state, "stopped");
  EXPECT_STREQ(r.reason, "session ended while the computer slept");
  EXPECT_EQ(world.tooltip, "Stopped: session ended while the computer slept; click to start");
  agent.timer();
  agent.resumed();
  int ended = 0;
  for (const std::string &n : world.notes) ended += n.rfind("Session ended: ", 0) == 0;
  EXPECT_EQ(ended, 1);
}

TEST_F(AgentCore, AResumeAssertsKeepAwakeAgain) {
  launch();
  agent.action(MJH_ACTION_KEEP_AWAKE);
  ASSERT_TRUE(world.held);
  world.pass(3600);
  world.held = false;  // as if the system had let it go while asleep
  agent.resumed();
  EXPECT_TRUE(world.held);
  EXPECT_TRUE(world.active);
}

TEST_F(AgentCore, APolicyThatTurnsTheAgentOffStopsEverythingAndRefusesStartsAndNudges) {
  launch();
  agent.action(MJH_ACTION_KEEP_AWAKE);
  agent.policy_changed(policy_of({{"Allowed", dword(0)}}));
  EXPECT_FALSE(world.active);
  EXPECT_FALSE(world.held);
  EXPECT_EQ(world.icon, MJH_ICON_STOPPED);
  EXPECT_EQ(world.tooltip, "Stopped: turned off by your organization");
  mjh_reply r;
  ask("{\"cmd\":\"start\"}", &r);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(std::string(r.error).find("turned off by your organization"), std::string::npos) << r.error;
  ask("{\"cmd\":\"nudge\"}", &r);
  EXPECT_FALSE(r.ok);
  size_t nudges = 0;
  for (const std::string &c : world.calls) nudges += c.rfind("nudge", 0) == 0;
  EXPECT_EQ(nudges, 0u);
  agent.action(MJH_ACTION_TOGGLE);
  EXPECT_FALSE(world.active);
  EXPECT_EQ(world.saved.run_on, 1) << "the user's choice is kept for when the policy goes";
  mjh_menu_model m;
  agent.menu(&m);
  EXPECT_FALSE(m.start_allowed);
  agent.policy_changed(policy_of({}));
  EXPECT_TRUE(world.active);
}

TEST_F(AgentCore, PolicyLimitsAreUsedAndRefusedBeyond) {
  launch();
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"interval_s\":600}}"));
  agent.policy_changed(policy_of({{"MaxIntervalSeconds", dword(120)},
                                  {"KeepAwake", dword(1)},
                                  {"WorkingHours", sz("00:00-24:00")},
                                  {"StartWithWindows", dword(1)}}));
  EXPECT_EQ(option(world.options, "interval_s", 0), 120) << "a saved interval is used as the maximum";
  EXPECT_EQ(world.saved.options.interval_s, 600) << "and stays saved as the user set it";
  EXPECT_TRUE(world.held) << "KeepAwake 1 forces it on";
  EXPECT_TRUE(world.autostart_on) << "StartWithWindows 1";
  const char *refused[] = {
      "{\"cmd\":\"start\",\"options\":{\"interval_s\":300}}",
      "{\"cmd\":\"start\",\"options\":{\"keep_awake\":false}}",
      "{\"cmd\":\"start\",\"options\":{\"hours\":\"09:00-17:00\"}}",
  };
  for (const char *line : refused) {
    mjh_reply r;
    ask(line, &r);
    EXPECT_FALSE(r.ok) << line;
    EXPECT_NE(std::string(r.error).find("policy"), std::string::npos) << r.error;
  }
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"interval_s\":90}}"));
  agent.action(MJH_ACTION_AUTOSTART);
  EXPECT_TRUE(world.autostart_on) << "the menu cannot change it";
  mjh_hours_edit edit = {};
  edit.clear = true;
  EXPECT_FALSE(agent.edit_hours(edit, nullptr));
  mjh_menu_model m;
  agent.menu(&m);
  EXPECT_TRUE(m.keep_awake_fixed);
  EXPECT_TRUE(m.autostart_fixed);
  EXPECT_TRUE(m.hours_fixed);
  EXPECT_STREQ(m.autostart_label, "Start with &Windows (set by your organization)");
  EXPECT_EQ(m.max_interval_s, 120);
  // The status reply carries the policies, read back whole.
  mjh_reply r = status();
  EXPECT_EQ(r.policy.max_interval_s, 120);
  EXPECT_EQ(r.policy.keep_awake, 1);
  EXPECT_EQ(r.policy.start_with_windows, 1);
  EXPECT_EQ(r.policy.from[MJH_POLICY_WORKING_HOURS], MJH_SCOPE_MACHINE);
}

TEST_F(AgentCore, ADamagedPolicyIsNamedAndNeverLoosensAnything) {
  launch();
  agent.policy_changed(policy_of({{"MaxIntervalSeconds", dword(0)}, {"Allowed", sz("no")}}));
  EXPECT_TRUE(world.active) << "damaged values count as not set";
  mjh_reply r = status();
  EXPECT_EQ(r.policy.damage_count, 2);
}

TEST_F(AgentCore, TheAgentTellsWhereItIsOnItsFirstLaunchAndWhenAskedAgain) {
  launch(true);
  ASSERT_EQ(world.notes.size(), 1u);
  EXPECT_EQ(world.notes[0],
            "Veltrano Mouse Jiggler is running: It is the mouse in the notification area; right-click it for its "
            "menu.");
  agent.action(MJH_ACTION_NOTIFICATIONS);  // off: asked, it still tells
  EXPECT_TRUE(ok("{\"cmd\":\"show\"}"));
  EXPECT_EQ(world.notes.size(), 2u);
}

TEST_F(AgentCore, FailingNudgesAndASessionsEndAreToldOnceAndNotAtAllWhenTurnedOff) {
  launch();
  for (bool on : {true, false}) {
    world.notes.clear();
    if (!on) agent.action(MJH_ACTION_NOTIFICATIONS);
    agent.action(MJH_ACTION_RUN_FOR, 600);
    for (int i = 0; i < 3; i++) {
      world.pass(61);
      world.nudge_fails();
      world.error = "SendInput failed (err 5)";
      agent.timer();
    }
    world.pass(600);
    agent.timer();
    agent.timer();
    std::vector<std::string> want;
    if (on) want = {"Nudges are failing: SendInput failed (err 5)", "Session ended: session ended after 10 min"};
    EXPECT_EQ(world.notes, want);
  }
}

TEST_F(AgentCore, NudgeNowFromTheMenuSaysThatItNudged) {
  launch();
  world.last_reset = 1;
  agent.action(MJH_ACTION_NUDGE);
  ASSERT_EQ(world.notes.size(), 1u);
  EXPECT_EQ(world.notes[0].rfind("Nudged: ", 0), 0u) << world.notes[0];
}

TEST_F(AgentCore, AnElevatedAgentSaysSoInItsTooltipAndStatus) {
  mjh_agent_start start = default_start();
  start.elevated = true;
  agent.launch(start);
  EXPECT_EQ(world.tooltip.rfind("As administrator: Active", 0), 0u) << world.tooltip;
  EXPECT_TRUE(status().elevated);
}

TEST_F(AgentCore, ADamagedStoredProgramListKeepsTheRunWaitingUntilSetAgain) {
  mjh_agent_start start = default_start();
  start.programs_damaged = true;
  agent.launch(start);
  EXPECT_FALSE(world.active);
  EXPECT_STREQ(status().reason, "saved program list damaged: set it again");
  int saves = world.saves;
  agent.action(MJH_ACTION_MODE_MOVE);
  EXPECT_GT(world.saves, saves);
  EXPECT_EQ(world.saved_programs.count, 0) << "the damaged list is not written over";
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"while_running\":\"any\"}}"));
  EXPECT_TRUE(world.active);
}

// With several conditions holding the run back, the first is named alone.
TEST_F(AgentCore, OnlyTheFirstThingThatHoldsTheRunBackIsNamed) {
  launch();
  agent.power_changed({MJH_AC_OFFLINE, 50, true});
  EXPECT_TRUE(ok("{\"cmd\":\"start\",\"options\":{\"ac_only\":true,\"while_running\":\"obs64.exe\"}}"));
  EXPECT_STREQ(status().reason, "on battery");
  EXPECT_EQ(world.tooltip, "Waiting: on battery");
  agent.power_changed({MJH_AC_ONLINE, 50, true});
  EXPECT_STREQ(status().reason, "for obs64.exe");
}

// The README's second example: a session past the end of working hours.
TEST_F(AgentCore, ASessionOverridesWorkingHoursAndSaysSoThenWaitsForThem) {
  world.now = kTuesday10 + 8 * 3600;  // Tuesday 18:00
  launch(false, "08:30-17:30", "mon-fri");
  EXPECT_EQ(world.tooltip, "Waiting: outside working hours, next start tomorrow 08:30");
  agent.action(MJH_ACTION_RUN_FOR, 2 * 3600);
  EXPECT_TRUE(world.active);
  EXPECT_EQ(world.tooltip.rfind("Active until 20:00, overriding working hours: zen every 60 s", 0), 0u)
      << world.tooltip;
  world.pass(2 * 3600);
  agent.timer();
  EXPECT_FALSE(world.active);
  EXPECT_EQ(world.tooltip, "Waiting: session ended after 2 h, next start tomorrow 08:30");
}

// ---- The desktop: locked, switched away, remote; a window above the agent in front ----

namespace {

mjh_reply status_of(mjh_agent &agent) {
  mjh_text_buffer<MJH_REPLY_MAX> reply;
  agent.request(parse("{\"cmd\":\"status\"}"), reply);
  mjh_reply r;
  EXPECT_TRUE(mjh_reply_read(reply.c_str(), reply.size(), &r)) << reply.c_str();
  return r;
}

struct DesktopCase {
  const char *name;
  mjh_desktop desktop;
  bool run_on;
  const char *hours;      // nullptr: none; it is Tuesday 10:00
  int64_t session_s;      // a "for" session started after launch, 0: none
  const char *condition;  // nullptr, "battery" (mains only, on battery), "program" (one listed runs) or "policy off"
  bool keep_awake;
  bool resume;  // the computer sleeps an hour and wakes after launch
  const char *state, *reason;
  mjh_awake awake;
  const char *tooltip;  // how it begins
};

const mjh_desktop kHere = {false, true, false};
const mjh_desktop kLocked = {true, true, false};
const mjh_desktop kSwitchedAway = {false, false, false};
const mjh_desktop kSwitchedAwayLocked = {true, false, false};
const mjh_desktop kRemote = {false, true, true};
const mjh_desktop kRemoteLocked = {true, true, true};
const mjh_desktop kRemoteGone = {false, false, true};

const DesktopCase kDesktopCases[] = {
    {"here", kHere, true, nullptr, 0, nullptr, true, false, "active", "", MJH_AWAKE_DISPLAY, "Active: zen every 60 s"},
    {"locked, keep-awake", kLocked, true, nullptr, 0, nullptr, true, false, "waiting", "the computer is locked",
     MJH_AWAKE_SYSTEM, "Waiting: the computer is locked, keeping awake"},
    {"locked", kLocked, true, nullptr, 0, nullptr, false, false, "waiting", "the computer is locked", MJH_AWAKE_NONE,
     "Waiting: the computer is locked"},
    {"switched away", kSwitchedAway, true, nullptr, 0, nullptr, true, false, "waiting", "the desktop is switched away",
     MJH_AWAKE_SYSTEM, "Waiting: the desktop is switched away"},
    {"switched away and locked", kSwitchedAwayLocked, true, nullptr, 0, nullptr, false, false, "waiting",
     "the desktop is switched away", MJH_AWAKE_NONE, "Waiting: the desktop is switched away"},
    {"remote", kRemote, true, nullptr, 0, nullptr, true, false, "active", "", MJH_AWAKE_DISPLAY,
     "Active in a remote session: zen every 60 s"},
    {"remote, locked", kRemoteLocked, true, nullptr, 0, nullptr, false, false, "waiting", "the computer is locked",
     MJH_AWAKE_NONE, "Waiting: the computer is locked"},
    {"remote, disconnected", kRemoteGone, true, nullptr, 0, nullptr, true, false, "waiting",
     "the remote desktop is disconnected", MJH_AWAKE_SYSTEM, "Waiting: the remote desktop is disconnected"},
    {"locked, off", kLocked, false, nullptr, 0, nullptr, true, false, "stopped", "", MJH_AWAKE_NONE,
     "Stopped: click to start"},
    {"locked, outside hours", kLocked, true, "08:00-09:00", 0, nullptr, true, false, "waiting",
     "outside working hours, next start tomorrow 08:00", MJH_AWAKE_NONE, "Waiting: outside working hours"},
    {"locked, inside hours", kLocked, true, "08:00-18:00", 0, nullptr, true, false, "waiting", "the computer is locked",
     MJH_AWAKE_SYSTEM, "Waiting: the computer is locked"},
    {"locked, a session over the hours", kLocked, true, "08:00-09:00", 3600, nullptr, true, false, "waiting",
     "the computer is locked", MJH_AWAKE_SYSTEM, "Waiting: the computer is locked"},
    {"locked, on battery", kLocked, true, nullptr, 0, "battery", true, false, "waiting", "on battery", MJH_AWAKE_NONE,
     "Waiting: on battery"},
    {"locked, the program runs", kLocked, true, nullptr, 0, "program", true, false, "waiting", "the computer is locked",
     MJH_AWAKE_SYSTEM, "Waiting: the computer is locked"},
    {"locked, turned off by policy", kLocked, true, nullptr, 0, "policy off", true, false, "stopped",
     "turned off by your organization", MJH_AWAKE_NONE, "Stopped: turned off by your organization"},
    {"locked, after a sleep", kLocked, true, nullptr, 0, nullptr, true, true, "waiting", "the computer is locked",
     MJH_AWAKE_SYSTEM, "Waiting: the computer is locked"},
    {"locked, a session ended asleep", kLocked, true, nullptr, 1800, nullptr, true, true, "stopped",
     "session ended while the computer slept", MJH_AWAKE_NONE, "Stopped: session ended while the computer slept"},
    {"here, after a sleep", kHere, true, nullptr, 0, nullptr, true, true, "active", "", MJH_AWAKE_DISPLAY,
     "Active: zen every 60 s"},
};

class DesktopTable : public ::testing::TestWithParam<DesktopCase> {};

// The desktop is part of the one decision: while it is locked or has no
// screen the run waits (no nudges, the display let go, the system held only
// for keep-awake) and says why, unless something said before it holds the run
// back already; nothing is told.
TEST_P(DesktopTable, TheRunWaitsForTheDesktopAndSaysWhy) {
  const DesktopCase &c = GetParam();
  FakeWorld world;
  mjh_agent agent(world, "1.0.0", 1);
  mjh_agent_start start = default_start();
  start.settings.run_on = c.run_on;
  start.settings.options.keep_awake = c.keep_awake;
  start.desktop = c.desktop;
  if (c.hours) {
    ASSERT_TRUE(mjh_hours_parse(c.hours, &start.hours, nullptr));
  }
  const std::string condition = c.condition ? c.condition : "";
  if (condition == "battery") {
    start.settings.ac_only = 1;
    start.power = {MJH_AC_OFFLINE, 50, true};
  } else if (condition == "program") {
    ASSERT_TRUE(mjh_programs_parse("obs64.exe", &start.programs, nullptr));
    world.running_programs.push_back("obs64.exe");
  } else if (condition == "policy off") {
    start.policy = policy_of({{"Allowed", dword(0)}});
  }
  agent.launch(start);
  if (c.session_s) agent.action(MJH_ACTION_RUN_FOR, c.session_s);
  if (c.resume) {
    world.pass(3600);
    agent.resumed();
  }

  const mjh_reply r = status_of(agent);
  EXPECT_STREQ(r.state, c.state);
  EXPECT_STREQ(r.reason, c.reason);
  EXPECT_EQ(world.active, std::string(c.state) == "active");
  EXPECT_EQ(world.held, c.awake != MJH_AWAKE_NONE);
  EXPECT_EQ(world.held_display, c.awake == MJH_AWAKE_DISPLAY);
  EXPECT_EQ(r.keep_awake_held, c.awake != MJH_AWAKE_NONE);
  EXPECT_EQ(r.keep_display_held, c.awake == MJH_AWAKE_DISPLAY);
  EXPECT_EQ(world.tooltip.rfind(c.tooltip, 0), 0u) << world.tooltip;
  int ended = 0;
  for (const std::string &n : world.notes) ended += n.rfind("Session ended: ", 0) == 0;
  EXPECT_EQ(world.notes.size(), static_cast<size_t>(ended)) << "only a session's end is told";
}

INSTANTIATE_TEST_SUITE_P(Table, DesktopTable, ::testing::ValuesIn(kDesktopCases), CaseName());

// The desktop going away and coming back, against everything else that may
// happen meanwhile: an agent that sees it beside one that does not, fed the
// same events in every order. While the desktop is away the first waits
// where the second runs; once it is back the two agree, the next nudge one
// interval away; neither tells anything the other does not.
struct Away {
  long away, back;
  const char *reason;
};
const Away kAways[] = {
    {MJH_DESKTOP_LOCK, MJH_DESKTOP_UNLOCK, "the computer is locked"},
    {MJH_DESKTOP_CONSOLE_DISCONNECT, MJH_DESKTOP_CONSOLE_CONNECT, "the desktop is switched away"},
    {MJH_DESKTOP_REMOTE_DISCONNECT, MJH_DESKTOP_REMOTE_CONNECT, "the remote desktop is disconnected"},
};

using WorldStep = void (*)(FakeWorld &, mjh_agent &);

struct Ordering {
  const char *name;
  const char *hours;    // at launch, all days; nullptr: none
  const char *request;  // a start request after launch, or nullptr
  int64_t session_s;    // a "for" session chosen after launch, 0: none
  const char *running;  // a program that runs at launch, or nullptr
  std::vector<WorldStep> steps;
};

const Ordering kOrderings[] = {
    {"a session's end",
     nullptr,
     nullptr,
     600,
     nullptr,
     {[](FakeWorld &w, mjh_agent &a) { w.pass(300), a.timer(); },
      [](FakeWorld &w, mjh_agent &a) { w.pass(400), a.timer(); },
      [](FakeWorld &w, mjh_agent &a) { w.pass(60), a.timer(); }}},
    {"a session's end inside working hours",
     "08:00-18:00",
     nullptr,
     600,
     nullptr,
     {[](FakeWorld &w, mjh_agent &a) { w.pass(700), a.timer(); },
      [](FakeWorld &w, mjh_agent &a) { w.pass(60), a.timer(); }}},
    {"the hours' start",
     "10:30-11:00",
     nullptr,
     0,
     nullptr,
     {[](FakeWorld &w, mjh_agent &a) { w.pass(1800), a.timer(); },
      [](FakeWorld &w, mjh_agent &a) { w.pass(60), a.timer(); }}},
    {"the hours' end",
     "09:00-10:30",
     nullptr,
     0,
     nullptr,
     {[](FakeWorld &w, mjh_agent &a) { w.pass(1800), a.timer(); },
      [](FakeWorld &w, mjh_agent &a) { w.pass(60), a.timer(); }}},
    {"unplugged and plugged in with mains only",
     nullptr,
     "{\"cmd\":\"start\",\"options\":{\"ac_only\":true}}",
     0,
     nullptr,
     {[](FakeWorld &, mjh_agent &a) {
        a.power_changed({MJH_AC_OFFLINE, 50, true});
      },
      [](FakeWorld &, mjh_agent &a) {
        a.power_changed({MJH_AC_ONLINE, 50, true});
      }}},
    {"the program ends and starts again",
     nullptr,
     "{\"cmd\":\"start\",\"options\":{\"while_running\":\"obs64.exe\"}}",
     0,
     "obs64.exe",
     {[](FakeWorld &, mjh_agent &a) {
        a.programs_changed({0u, -1});
      },
      [](FakeWorld &, mjh_agent &a) {
        a.programs_changed({1u, -1});
      }}},
    {"a sleep across a session's end",
     nullptr,
     nullptr,
     1800,
     nullptr,
     {[](FakeWorld &w, mjh_agent &a) { w.pass(600), a.timer(); },
      [](FakeWorld &w, mjh_agent &a) { w.pass(3600), a.resumed(); },
      [](FakeWorld &w, mjh_agent &a) { w.pass(60), a.timer(); }}},
    {"a sleep within a session",
     nullptr,
     nullptr,
     7200,
     nullptr,
     {[](FakeWorld &w, mjh_agent &a) { w.pass(600), a.resumed(); },
      [](FakeWorld &w, mjh_agent &a) { w.pass(60), a.timer(); }}},
};

// One agent and its world.
struct Side {
  FakeWorld world;
  mjh_agent agent{world, "1.0.0", 1};

  void begin(const Ordering &o, bool keep_awake) {
    mjh_agent_start start = default_start();
    start.settings.options.keep_awake = keep_awake;
    if (o.hours) {
      EXPECT_TRUE(mjh_hours_parse(o.hours, &start.hours, nullptr));
    }
    if (o.running) world.running_programs.push_back(o.running);
    agent.launch(start);
    if (o.request) {
      mjh_text_buffer<MJH_REPLY_MAX> reply;
      agent.request(parse(o.request), reply);
    }
    if (o.session_s) agent.action(MJH_ACTION_RUN_FOR, o.session_s);
  }
};

// Compares the agent that sees the desktop with the one that does not.
void expect_in_step(Side &seeing, Side &blind, bool away, const Away &how, bool just_back, const std::string &at) {
  const mjh_reply r = status_of(seeing.agent), want = status_of(blind.agent);
  const bool blind_active = std::string(want.state) == "active";
  const FakeWorld &w = seeing.world;
  EXPECT_EQ(w.saved.run_on, blind.world.saved.run_on) << at;
  EXPECT_EQ(w.notes, blind.world.notes) << at;
  EXPECT_EQ(r.session_end, want.session_end) << at << ": a session keeps counting";
  if (away && blind_active) {
    EXPECT_STREQ(r.state, "waiting") << at;
    EXPECT_STREQ(r.reason, how.reason) << at;
    EXPECT_FALSE(w.active) << at << ": no nudges while away";
    EXPECT_FALSE(w.held_display) << at << ": the display let go";
    EXPECT_EQ(w.held, blind.world.held) << at << ": the system held for keep-awake alone";
    EXPECT_EQ(w.icon, MJH_ICON_WAITING) << at;
    return;
  }
  EXPECT_STREQ(r.state, want.state) << at;
  EXPECT_STREQ(r.reason, want.reason) << at;
  EXPECT_EQ(w.active, blind.world.active) << at;
  EXPECT_EQ(w.held, blind.world.held) << at;
  EXPECT_EQ(w.held_display, blind.world.held_display) << at;
  EXPECT_EQ(w.icon, blind.world.icon) << at;
  if (!blind_active) {
    EXPECT_EQ(w.tooltip, blind.world.tooltip) << at;
  } else if (just_back) {
    EXPECT_EQ(w.started_tick, w.tick) << at << ": the run goes on at once";
    EXPECT_EQ(r.run.next_nudge_in_s, 60) << at << ": the next nudge one interval later";
  }
}

TEST(DesktopOrderings, GoingAwayAndComingBackInEveryOrderAgainstEverythingElse) {
  int runs = 0;
  for (const Ordering &o : kOrderings)
    for (const Away &how : kAways)
      for (bool keep_awake : {false, true}) {
        const size_t n = o.steps.size();
        for (size_t away_at = 0; away_at <= n; away_at++)
          for (size_t back_at = away_at; back_at <= n; back_at++) {
            Side seeing, blind;
            seeing.begin(o, keep_awake);
            blind.begin(o, keep_awake);
            bool away = false;
            for (size_t i = 0; i <= n; i++) {
              std::string at = std::string(o.name) + ", " + how.reason + (keep_awake ? ", keep-awake" : "") +
                               ", away before step " + std::to_string(away_at) + ", back before step " +
                               std::to_string(back_at) + ", at step " + std::to_string(i);
              if (i == away_at) {
                seeing.agent.desktop_changed(how.away);
                away = true;
                expect_in_step(seeing, blind, away, how, false, at + " (gone)");
              }
              if (i == back_at) {
                seeing.agent.desktop_changed(how.back);
                away = false;
                expect_in_step(seeing, blind, away, how, true, at + " (back)");
              }
              if (i == n) break;
              o.steps[i](seeing.world, seeing.agent);
              o.steps[i](blind.world, blind.agent);
              expect_in_step(seeing, blind, away, how, false, at);
            }
            runs++;
            if (::testing::Test::HasFailure()) return;  // one ordering's failures are enough to read
          }
      }
  EXPECT_GT(runs, 100);
}

TEST_F(AgentCore, ALaunchOnALockedDesktopStartsNoRunUntilItIsUnlocked) {
  mjh_agent_start start = default_start();
  start.desktop = kLocked;
  agent.launch(start);
  for (const std::string &call : world.calls) EXPECT_NE(call, "start");
  EXPECT_EQ(world.tooltip, "Waiting: the computer is locked");
  world.pass(30);
  agent.desktop_changed(MJH_DESKTOP_UNLOCK);
  EXPECT_TRUE(world.active);
  EXPECT_EQ(status().run.next_nudge_in_s, 60);
  EXPECT_TRUE(world.notes.empty());
}

// Changes that are not the desktop's (a log-on, a log-off, remote control)
// and a change to the state it has already decide nothing again.
TEST_F(AgentCore, DesktopMessagesThatChangeNothingDoNothing) {
  launch();
  const size_t calls = world.calls.size();
  const int shows = world.shows;
  for (long change :
       {5L, 6L, 9L, 10L, 11L, 0L, -1L, 1000L, long{MJH_DESKTOP_UNLOCK}, long{MJH_DESKTOP_CONSOLE_CONNECT}})
    agent.desktop_changed(change);
  EXPECT_EQ(world.calls.size(), calls);
  EXPECT_EQ(world.shows, shows);
  EXPECT_TRUE(world.active);
}

// A nudge fails at the lock screen just before the lock is told: nothing is
// said of it, and the streak is forgotten once unlocked.
TEST_F(AgentCore, AFailureStreakBegunWhileLockedIsForgottenAtUnlockAndNeverTold) {
  launch();
  world.error = "SendInput failed (err 5)";
  world.pass(61);
  world.nudge_fails();
  agent.desktop_changed(MJH_DESKTOP_LOCK);
  EXPECT_FALSE(world.active);
  EXPECT_FALSE(status().failing);
  world.pass(600);
  agent.timer();
  agent.desktop_changed(MJH_DESKTOP_UNLOCK);
  EXPECT_TRUE(world.active);
  EXPECT_EQ(world.icon, MJH_ICON_ACTIVE);
  EXPECT_EQ(world.tooltip.rfind("Active: ", 0), 0u) << world.tooltip;
  EXPECT_FALSE(status().failing);
  EXPECT_TRUE(world.notes.empty());
  // Nudges that fail after the unlock are a streak of their own, and told.
  world.pass(61);
  world.nudge_fails();
  agent.timer();
  EXPECT_EQ(world.notes, std::vector<std::string>{"Nudges are failing: SendInput failed (err 5)"});
}

// Windows tells of a lock a moment after the lock screen took the input: a
// nudge that fails meanwhile, with no window in front, is not told, and the
// lock then ends the streak. Had no lock come, the next failure with a window
// in front is told.
TEST_F(AgentCore, ANudgeFailingWithNoWindowInFrontIsNotToldBeforeTheLockComes) {
  launch();
  world.error = "SendInput failed (err 5)";
  world.front = {false, MJH_LEVEL_UNKNOWN, ""};
  world.pass(61);
  world.nudge_fails();
  agent.timer();
  EXPECT_TRUE(status().failing);
  agent.desktop_changed(MJH_DESKTOP_LOCK);
  agent.desktop_changed(MJH_DESKTOP_UNLOCK);
  EXPECT_TRUE(world.notes.empty()) << world.notes[0];

  world.pass(61);
  world.nudge_fails();
  agent.timer();
  EXPECT_TRUE(world.notes.empty()) << world.notes[0];
  world.front = {true, MJH_LEVEL_MEDIUM, "notepad.exe"};
  world.pass(60);
  world.nudge_fails();
  agent.timer();
  EXPECT_EQ(world.notes, std::vector<std::string>{"Nudges are failing: SendInput failed (err 5)"});
}

TEST_F(AgentCore, LockingSwitchingAndReconnectingNeverTellAnything) {
  launch();
  agent.action(MJH_ACTION_KEEP_AWAKE);
  for (long change :
       {MJH_DESKTOP_LOCK, MJH_DESKTOP_UNLOCK, MJH_DESKTOP_CONSOLE_DISCONNECT, MJH_DESKTOP_REMOTE_CONNECT,
        MJH_DESKTOP_LOCK, MJH_DESKTOP_REMOTE_DISCONNECT, MJH_DESKTOP_CONSOLE_CONNECT, MJH_DESKTOP_UNLOCK}) {
    world.pass(61);
    world.nudge_fails();
    agent.desktop_changed(change);
    agent.timer();
  }
  EXPECT_TRUE(world.notes.empty()) << world.notes[0];
  EXPECT_TRUE(world.active);
  EXPECT_TRUE(world.held_display);
}

// What is in front when the nudges fail, and what the agent says then.
struct FrontCase {
  const char *name;
  int own_level;
  mjh_front_window front;
  bool failed;  // the nudge failed; else it did not reset the idle time
  const char *reason;
  const char *tooltip;  // how it begins
  const char *note;     // nullptr: none
};

const FrontCase kFrontCases[] = {
    {"task manager in front",
     MJH_LEVEL_MEDIUM,
     {true, MJH_LEVEL_HIGH, "taskmgr.exe"},
     true,
     "blocked: an administrator window is in front (taskmgr.exe)",
     "Blocked: an administrator window is in front (taskmgr.exe)",
     nullptr},
    {"idle time not reset under an elevated console",
     MJH_LEVEL_MEDIUM,
     {true, MJH_LEVEL_HIGH, "cmd.exe"},
     false,
     "blocked: an administrator window is in front (cmd.exe)",
     "Blocked: an administrator window is in front (cmd.exe)",
     nullptr},
    {"a system window",
     MJH_LEVEL_MEDIUM,
     {true, MJH_LEVEL_SYSTEM, "setup.exe"},
     true,
     "blocked: a system window is in front (setup.exe)",
     "Blocked: a system window is in front (setup.exe)",
     nullptr},
    {"a higher window without a name",
     MJH_LEVEL_MEDIUM,
     {true, MJH_LEVEL_HIGH, ""},
     true,
     "blocked: an administrator window is in front",
     "Blocked: an administrator window is in front",
     nullptr},
    {"the same level",
     MJH_LEVEL_MEDIUM,
     {true, MJH_LEVEL_MEDIUM, "notepad.exe"},
     true,
     "",
     "Failing: SendInput failed (err 5)",
     "Nudges are failing: SendInput failed (err 5)"},
    {"a lower level",
     MJH_LEVEL_HIGH,
     {true, MJH_LEVEL_MEDIUM, "notepad.exe"},
     true,
     "",
     "Failing: SendInput failed (err 5)",
     "Nudges are failing: SendInput failed (err 5)"},
    {"an elevated agent, an elevated window",
     MJH_LEVEL_HIGH,
     {true, MJH_LEVEL_HIGH, "taskmgr.exe"},
     true,
     "",
     "As administrator: Failing: SendInput failed (err 5)",
     "Nudges are failing: SendInput failed (err 5)"},
    {"the window's level unread",
     MJH_LEVEL_MEDIUM,
     {true, MJH_LEVEL_UNKNOWN, "taskmgr.exe"},
     true,
     "",
     "Failing: SendInput failed (err 5)",
     "Nudges are failing: SendInput failed (err 5)"},
    {"the agent's level unread",
     MJH_LEVEL_UNKNOWN,
     {true, MJH_LEVEL_HIGH, "taskmgr.exe"},
     true,
     "",
     "Failing: SendInput failed (err 5)",
     "Nudges are failing: SendInput failed (err 5)"},
    {"not reset, nothing above",
     MJH_LEVEL_MEDIUM,
     {true, MJH_LEVEL_MEDIUM, "notepad.exe"},
     false,
     "",
     "Failing: SendInput failed (err 5)",
     "Nudges are failing: SendInput failed (err 5)"},
};

class FrontTable : public ::testing::TestWithParam<FrontCase> {};

// Failing nudges with a window above the agent's level in front are blocked,
// and say by what, instead of counting as failures without a cause (which
// alone are told).
TEST_P(FrontTable, NamesWhatBlocksTheNudgesAndTellsOnlyFailuresWithoutACause) {
  const FrontCase &c = GetParam();
  FakeWorld world;
  mjh_agent agent(world, "1.0.0", 1);
  mjh_agent_start start = default_start();
  start.level = c.own_level;
  start.elevated = c.own_level == MJH_LEVEL_HIGH && c.front.level == MJH_LEVEL_HIGH;
  agent.launch(start);
  world.front = c.front;
  world.error = "SendInput failed (err 5)";
  world.pass(61);
  if (c.failed)
    world.nudge_fails();
  else
    world.nudge_happens(false);
  agent.timer();
  const mjh_reply r = status_of(agent);
  EXPECT_STREQ(r.state, "active");
  EXPECT_STREQ(r.reason, c.reason);
  EXPECT_TRUE(r.failing);
  EXPECT_EQ(world.icon, MJH_ICON_FAILING);
  EXPECT_EQ(world.tooltip.rfind(c.tooltip, 0), 0u) << world.tooltip;
  EXPECT_GE(world.front_reads, 1);
  std::vector<std::string> want;
  if (c.note) want.push_back(c.note);
  EXPECT_EQ(world.notes, want);
}

INSTANTIATE_TEST_SUITE_P(Table, FrontTable, ::testing::ValuesIn(kFrontCases), CaseName());

// The window in front is looked at with every failing nudge: blocked, then a
// failure without a cause (told now), then nudges that work again.
TEST_F(AgentCore, TheWindowInFrontIsReadAgainAtEveryFailingNudge) {
  mjh_agent_start start = default_start();
  start.level = MJH_LEVEL_MEDIUM;
  agent.launch(start);
  EXPECT_EQ(world.front_reads, 0) << "read only when nudges fail";
  world.error = "SendInput failed (err 5)";
  world.front = {true, MJH_LEVEL_HIGH, "taskmgr.exe"};
  world.pass(61);
  world.nudge_fails();
  agent.timer();
  EXPECT_STREQ(status().reason, "blocked: an administrator window is in front (taskmgr.exe)");
  world.front = {true, MJH_LEVEL_MEDIUM, "notepad.exe"};
  world.pass(60);
  world.nudge_fails();
  agent.timer();
  EXPECT_STREQ(status().reason, "");
  EXPECT_EQ(world.tooltip.rfind("Failing: SendInput failed (err 5)", 0), 0u) << world.tooltip;
  EXPECT_EQ(world.notes, std::vector<std::string>{"Nudges are failing: SendInput failed (err 5)"});
  world.pass(60);
  world.nudge_happens(true);
  agent.timer();
  EXPECT_FALSE(status().failing);
  EXPECT_EQ(world.icon, MJH_ICON_ACTIVE);
}

// In a remote session the tooltip says where the run is, and the first
// failure there names the remote session.
TEST_F(AgentCore, ARunInARemoteSessionSaysSoAndItsFirstFailureNamesIt) {
  mjh_agent_start start = default_start();
  start.desktop = kRemote;
  agent.launch(start);
  EXPECT_EQ(world.tooltip.rfind("Active in a remote session: zen every 60 s", 0), 0u) << world.tooltip;
  world.pass(61);
  world.nudge_happens(false);
  agent.timer();
  EXPECT_EQ(world.tooltip, "Failing in a remote session: nudges do not reset the idle time");
  EXPECT_EQ(world.notes, std::vector<std::string>{"Nudges are failing: the nudges do not reset the idle time. This is "
                                                  "a remote session: whether nudges reach it depends on its client."});
}

// Keep-awake while the desktop is away: the system alone, and the display
// again once it is back; a resume asserts the system alone anew.
TEST_F(AgentCore, KeepAwakeHoldsTheSystemAloneWhileTheDesktopIsAway) {
  launch();
  agent.action(MJH_ACTION_KEEP_AWAKE);
  EXPECT_TRUE(world.held_display);
  agent.desktop_changed(MJH_DESKTOP_LOCK);
  EXPECT_TRUE(world.held);
  EXPECT_FALSE(world.held_display);
  const int calls = world.awake_calls;
  world.held = false;  // as if the system had let it go while asleep
  agent.resumed();
  EXPECT_TRUE(world.held);
  EXPECT_FALSE(world.held_display);
  EXPECT_GT(world.awake_calls, calls);
  agent.action(MJH_ACTION_KEEP_AWAKE);  // off, from a script while locked
  EXPECT_FALSE(world.held);
  agent.action(MJH_ACTION_KEEP_AWAKE);
  agent.desktop_changed(MJH_DESKTOP_UNLOCK);
  EXPECT_TRUE(world.held_display);
  EXPECT_TRUE(world.active);
}

}  // namespace
