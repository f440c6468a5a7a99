// The library's behaviour over the simulated platform: exports, idle time,
// nudges, the worker's schedule, run control and the status line.
//
// ctest runs every test in a process of its own, so each starts from the
// state the library has at load.
#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "mouse_jiggler.h"
#include "mouse_jiggler_internal.h"
#include "platform/sim_control.h"
#include "status_util.h"

namespace {

const char *const k_fail_text = "SendInput failed (err 5) - desktop locked or not an interactive session";

class Lib : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_reset();
    sim_set_manual_waits(1);
  }
  void TearDown() override {
    mj_stop();
    EXPECT_EQ(sim_open_handles(), 0);
    EXPECT_EQ(sim_module_references(), 0);
  }

  // Starts a run; returns once its worker has made its first pass.
  static void start(const char *options) {
    ASSERT_EQ(mj_start(options), 1) << mj_last_error();
    ASSERT_TRUE(sim_wait_for_waiter());
  }

  // Moves the clocks to tick64 t (tick32 follows), makes the user idle for
  // idle_ms there (when given) and lets the worker make one pass.
  static void pass_at(int64_t t, int64_t idle_ms = -1) {
    sim_advance_ms(t - sim_tick64());
    if (idle_ms >= 0) sim_set_idle_ms((uint32_t)idle_ms);
    ASSERT_TRUE(sim_run_pass());
  }

  static std::string status() { return mj_status(); }
  static size_t injections() { return sim_injections().size(); }
};

// ---- The frame --------------------------------------------------------------

TEST_F(Lib, FirstCallsAnswerBeforeAnythingElse) {
  const char *err = mj_last_error();
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err, "");
  EXPECT_STREQ(mj_version(), "1.0.0");
  EXPECT_EQ(mj_idle_ms(), 0);
  EXPECT_EQ(mj_last_error(), err);
  EXPECT_EQ(mj_version(), mj_version());
}

TEST_F(Lib, StopAsFirstCallAndTwice) {
  EXPECT_EQ(mj_stop(), 1);
  EXPECT_EQ(mj_stop(), 1);
  std::string line = status();
  EXPECT_EQ(status_member(line, "active"), "0");
  EXPECT_EQ(status_member(line, "interval_s"), "0");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "-1");
}

TEST_F(Lib, StatusBufferIsOneAddress) { EXPECT_EQ(mj_status(), mj_status()); }

// ---- Idle time --------------------------------------------------------------

TEST_F(Lib, IdleSurvivesThe32BitWrap) {
  sim_set_last_input(0xFFFFFFFFu - 299);  // 300 ms before the wrap
  sim_set_tick32(200);                    // 200 ms after it
  EXPECT_EQ(mj_idle_ms(), 500);
  EXPECT_EQ(idle_ms_now(), 500);
}

TEST_F(Lib, IdleOf2To31IsCappedOnlyByTheExport) {
  sim_set_tick32(0x90000000u);
  sim_set_last_input(0x10000000u);
  EXPECT_EQ(mj_idle_ms(), 2147483647);
  EXPECT_EQ(idle_ms_now(), 0x80000000LL);
  EXPECT_EQ(status_member(status(), "idle_s"), std::to_string(0x80000000LL / 1000));
}

TEST_F(Lib, IdleUnavailable) {
  sim_set_last_input_unavailable();
  EXPECT_EQ(mj_idle_ms(), -1);
  EXPECT_EQ(idle_ms_now(), -1);
  EXPECT_EQ(status_member(status(), "idle_s"), "-1");
}

// ---- One-shot nudges --------------------------------------------------------

TEST_F(Lib, NudgeNowWithDefaultsIsZen) {
  for (const char *text : {(const char *)nullptr, ""}) {
    EXPECT_EQ(mj_nudge_now(text), 1);
  }
  auto log = sim_injections();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].dx, 0);
  EXPECT_EQ(log[0].dy, 0);
  std::string line = status();
  EXPECT_EQ(status_member(line, "last_method"), "\"SendInput zen\"");
  EXPECT_EQ(status_member(line, "nudges"), "0");
  EXPECT_EQ(status_member(line, "since_last_nudge_s"), "-1");
}

TEST_F(Lib, NudgeNowRejectsTextAndChangesNothing) {
  ASSERT_EQ(mj_nudge_now("{\"mode\":\"move\",\"dx\":4}"), 1);
  std::string before = status();
  EXPECT_EQ(mj_nudge_now("   "), 0);
  EXPECT_STREQ(mj_last_error(), "options must be a JSON object");
  EXPECT_EQ(mj_nudge_now("{\"mode\":\"jump\"}"), 0);
  EXPECT_STREQ(mj_last_error(), "mode must be \"zen\" or \"move\"");
  EXPECT_EQ(injections(), 1u);
  EXPECT_EQ(status(), before);
  // The direction did not take a turn either.
  ASSERT_EQ(mj_nudge_now("{\"mode\":\"move\",\"dx\":4}"), 1);
  EXPECT_EQ(sim_injections()[1].dx, -4);
}

struct verdict_case {
  int64_t before;  // idle before the injection; -1: no answer
  int64_t after;   // idle after it; SIM_INPUT_UNAVAILABLE: no answer
  int verdict;
};

void PrintTo(const verdict_case &c, std::ostream *os) { *os << c.before << "->" << c.after; }

class Verdict : public Lib, public ::testing::WithParamInterface<verdict_case> {};

TEST_P(Verdict, FollowsTheTwoIdleReadings) {
  const verdict_case &c = GetParam();
  if (c.before < 0)
    sim_set_last_input_unavailable();
  else
    sim_set_idle_ms((uint32_t)c.before);
  sim_set_idle_after_injection(c.after);
  ASSERT_EQ(mj_nudge_now(nullptr), 1);
  EXPECT_EQ(status_num(status(), "last_reset_idle"), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(Rules, Verdict,
                         ::testing::Values(verdict_case{40000, 15, 1}, verdict_case{1200, 1500, 0},
                                           verdict_case{5000, 999, 1}, verdict_case{500, 999, 1},
                                           verdict_case{1000, 1000, 0}, verdict_case{2000, 1500, 1},
                                           verdict_case{-1, 10, -1}, verdict_case{500, SIM_INPUT_UNAVAILABLE, -1}));

TEST_F(Lib, DryRunInjectsNothingButTakesItsTurn) {
  ASSERT_EQ(mj_nudge_now("{\"mode\":\"move\",\"dx\":3,\"dy\":-2,\"dry_run\":true}"), 1);
  EXPECT_EQ(injections(), 0u);
  std::string line = status();
  EXPECT_EQ(status_member(line, "last_method"), "\"dry-run\"");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "-1");
  ASSERT_EQ(mj_nudge_now("{\"mode\":\"move\",\"dx\":3,\"dy\":-2}"), 1);
  auto log = sim_injections();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].dx, -3);
  EXPECT_EQ(log[0].dy, 2);
}

TEST_F(Lib, FailedOneShotKeepsVerdictAndSetsError) {
  ASSERT_EQ(mj_nudge_now(nullptr), 1);
  sim_script_injection(0, 5);
  EXPECT_EQ(mj_nudge_now("{\"mode\":\"move\"}"), 0);
  EXPECT_STREQ(mj_last_error(), k_fail_text);
  std::string line = status();
  EXPECT_EQ(status_member(line, "last_method"), "\"SendInput move\"");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "1");
  EXPECT_EQ(status_member(line, "failed"), "0");
  // A later success leaves the error text readable.
  ASSERT_EQ(mj_nudge_now(nullptr), 1);
  EXPECT_STREQ(mj_last_error(), k_fail_text);
}

TEST_F(Lib, FailureWithoutErrorCodeReportsZero) {
  sim_script_injection(0, 0);
  EXPECT_EQ(mj_nudge_now(nullptr), 0);
  EXPECT_STREQ(mj_last_error(), "SendInput failed (err 0) - desktop locked or not an interactive session");
}

// ---- The worker's schedule --------------------------------------------------

const int64_t T0 = 10000000;  // the simulated clock at the start of each test

TEST_F(Lib, FirstNudgeComesAWholeIntervalAfterTheStart) {
  sim_set_idle_ms(3600000);
  start("{\"interval_s\":10}");
  EXPECT_EQ(injections(), 0u);
  pass_at(T0 + 9999);
  EXPECT_EQ(injections(), 0u);
  pass_at(T0 + 10000);  // due at equality
  EXPECT_EQ(injections(), 1u);
  std::string line = status();
  EXPECT_EQ(status_member(line, "nudges"), "1");
  EXPECT_EQ(status_member(line, "last_method"), "\"SendInput zen\"");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "1");
  // The next one counts from the recorded attempt.
  pass_at(T0 + 19999, 3600000);
  EXPECT_EQ(injections(), 1u);
  pass_at(T0 + 20000);
  EXPECT_EQ(injections(), 2u);
}

TEST_F(Lib, IdleEqualToTheIntervalDoesNotSkip) {
  start("{\"interval_s\":10}");
  sim_advance_ms(10000);
  sim_set_idle_ms(9999);
  ASSERT_TRUE(sim_run_pass());
  EXPECT_EQ(status_num(status(), "skipped"), 1);
  EXPECT_EQ(injections(), 0u);
  sim_advance_ms(10000);
  sim_set_idle_ms(10000);
  ASSERT_TRUE(sim_run_pass());
  EXPECT_EQ(injections(), 1u);
  EXPECT_EQ(status_num(status(), "nudges"), 1);
}

TEST_F(Lib, BusyUserIsSkippedOncePerInterval) {
  start("{\"interval_s\":5}");
  for (int i = 1; i <= 3; i++) {
    pass_at(T0 + i * 5000 - 1, 100);
    EXPECT_EQ(status_num(status(), "skipped"), i - 1);
    pass_at(T0 + i * 5000);
    EXPECT_EQ(status_num(status(), "skipped"), i);
  }
  std::string line = status();
  EXPECT_EQ(status_member(line, "nudges"), "0");
  EXPECT_EQ(status_member(line, "since_last_nudge_s"), "-1");
  EXPECT_EQ(injections(), 0u);
  // A user who goes idle right after a skip still waits out the interval.
  pass_at(T0 + 3 * 5000 + 4999, 100000);
  EXPECT_EQ(injections(), 0u);
  pass_at(T0 + 4 * 5000);
  EXPECT_EQ(injections(), 1u);
}

TEST_F(Lib, AlwaysModeNudgesABusyUser) {
  start("{\"interval_s\":5,\"only_when_idle\":false}");
  for (int i = 1; i <= 3; i++) {
    pass_at(T0 + i * 5000, 0);
  }
  std::string line = status();
  EXPECT_EQ(status_member(line, "nudges"), "3");
  EXPECT_EQ(status_member(line, "skipped"), "0");
}

TEST_F(Lib, UnknownIdleTimeNeverSkips) {
  sim_set_last_input_unavailable();
  sim_set_idle_after_injection(SIM_INPUT_UNAVAILABLE);
  start("{\"interval_s\":5}");
  pass_at(T0 + 5000);
  pass_at(T0 + 10000);
  std::string line = status();
  EXPECT_EQ(status_member(line, "nudges"), "2");
  EXPECT_EQ(status_member(line, "skipped"), "0");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "-1");
}

TEST_F(Lib, FailedRunNudgeIsCountedAndTheRunGoesOn) {
  sim_set_idle_ms(100000);
  start("{\"interval_s\":5}");
  sim_script_injection(0, 5);
  pass_at(T0 + 5000);
  std::string line = status();
  EXPECT_EQ(status_member(line, "failed"), "1");
  EXPECT_EQ(status_member(line, "nudges"), "0");
  EXPECT_EQ(status_member(line, "active"), "1");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "-1");
  EXPECT_EQ(status_member(line, "last_method"), "\"SendInput zen\"");
  EXPECT_EQ(status_member(line, "since_last_nudge_s"), "0");
  EXPECT_STREQ(mj_last_error(), k_fail_text);
  // The next attempt is a whole interval after the failed one.
  pass_at(T0 + 9999, 100000);
  EXPECT_EQ(injections(), 1u);
  pass_at(T0 + 10000);
  line = status();
  EXPECT_EQ(status_member(line, "nudges"), "1");
  EXPECT_EQ(status_member(line, "failed"), "1");
  EXPECT_STREQ(mj_last_error(), k_fail_text);
}

TEST_F(Lib, MoveNudgesAlternateAcrossWorkerAndOneShots) {
  sim_set_idle_after_injection(100000);
  sim_set_idle_ms(100000);
  start("{\"mode\":\"move\",\"interval_s\":5,\"dx\":3,\"dy\":-2}");
  pass_at(T0 + 5000);                                                    // (3,-2)
  ASSERT_EQ(mj_nudge_now("{\"mode\":\"move\",\"dx\":3,\"dy\":-2}"), 1);  // (-3,2)
  ASSERT_EQ(mj_nudge_now(nullptr), 1);                                   // zen: no turn
  pass_at(T0 + 10000);                                                   // (3,-2)
  sim_script_injection(0, 5);
  pass_at(T0 + 15000);  // fails, but takes its turn: (-3,2)
  pass_at(T0 + 20000);  // (3,-2)
  auto log = sim_injections();
  ASSERT_EQ(log.size(), 6u);
  const int want[6][2] = {{3, -2}, {-3, 2}, {0, 0}, {3, -2}, {-3, 2}, {3, -2}};
  for (size_t i = 0; i < 6; i++) {
    EXPECT_EQ(log[i].dx, want[i][0]) << i;
    EXPECT_EQ(log[i].dy, want[i][1]) << i;
  }
  // One-shot nudges left the run's counters alone.
  std::string line = status();
  EXPECT_EQ(status_member(line, "nudges"), "3");
  EXPECT_EQ(status_member(line, "failed"), "1");
}

TEST_F(Lib, OneShotDuringRunKeepsTheSchedule) {
  sim_set_idle_ms(100000);
  start("{\"interval_s\":5,\"only_when_idle\":0}");
  sim_advance_ms(4000);
  ASSERT_EQ(mj_nudge_now(nullptr), 1);
  pass_at(T0 + 5000);
  EXPECT_EQ(injections(), 2u);
  EXPECT_EQ(status_num(status(), "nudges"), 1);
}

TEST_F(Lib, DryRunOfTheWorkerIsCounted) {
  sim_set_idle_ms(100000);
  start("{\"mode\":\"move\",\"interval_s\":5,\"dry_run\":1}");
  pass_at(T0 + 5000);
  pass_at(T0 + 10000);  // the user is still idle: nothing was injected
  std::string line = status();
  EXPECT_EQ(injections(), 0u);
  EXPECT_EQ(status_member(line, "nudges"), "2");
  EXPECT_EQ(status_member(line, "last_method"), "\"dry-run\"");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "-1");
  EXPECT_EQ(status_member(line, "since_last_nudge_s"), "0");
}

// ---- Run control ------------------------------------------------------------

TEST_F(Lib, StartWithNullOrEmptyTextUsesDefaults) {
  for (const char *text : {(const char *)nullptr, ""}) {
    ASSERT_EQ(mj_start(text), 1);
    std::string line = status();
    EXPECT_EQ(status_member(line, "mode"), "\"zen\"");
    EXPECT_EQ(status_member(line, "interval_s"), "60");
    EXPECT_EQ(status_member(line, "only_when_idle"), "1");
    EXPECT_EQ(status_member(line, "next_nudge_in_s"), "60");
  }
  EXPECT_EQ(mj_start("  "), 0);
  EXPECT_STREQ(mj_last_error(), "options must be a JSON object");
}

TEST_F(Lib, RestartResetsTheRun) {
  sim_set_idle_ms(100000);
  start("{\"interval_s\":5}");
  pass_at(T0 + 5000);
  sim_script_injection(0, 5);
  pass_at(T0 + 10000);
  ASSERT_EQ(status_num(status(), "failed"), 1);
  sim_advance_ms(4999);  // the old run is about to nudge again

  start("{\"mode\":\"move\",\"interval_s\":7}");
  const int64_t t1 = T0 + 14999;
  std::string line = status();
  EXPECT_EQ(status_member(line, "mode"), "\"move\"");
  EXPECT_EQ(status_member(line, "nudges"), "0");
  EXPECT_EQ(status_member(line, "failed"), "0");
  EXPECT_EQ(status_member(line, "last_method"), "\"\"");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "-1");
  EXPECT_EQ(status_member(line, "running_s"), "0");
  EXPECT_STREQ(mj_last_error(), "");
  pass_at(t1 + 1, 100000);
  pass_at(t1 + 6999);
  EXPECT_EQ(injections(), 2u);
  pass_at(t1 + 7000);
  auto log = sim_injections();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2].dx, 1);  // the direction starts afresh
  EXPECT_EQ(sim_open_handles(), 2);
}

TEST_F(Lib, RejectedStartLeavesTheRunAlone) {
  sim_set_idle_ms(100000);
  start("{\"interval_s\":5}");
  pass_at(T0 + 5000);
  std::string before = status();
  EXPECT_EQ(mj_start("{\"mode\":\"sideways\"}"), 0);
  EXPECT_STREQ(mj_last_error(), "mode must be \"zen\" or \"move\"");
  EXPECT_EQ(status(), before);
  pass_at(T0 + 10000, 100000);
  EXPECT_EQ(status_num(status(), "nudges"), 2);
  // A later accepted start empties the error text.
  start(nullptr);
  EXPECT_STREQ(mj_last_error(), "");
}

TEST_F(Lib, EventCreationFailureLeavesNoRun) {
  sim_set_idle_ms(100000);
  start("{\"interval_s\":5}");
  pass_at(T0 + 5000);
  sim_fail_next_event_create();
  EXPECT_EQ(mj_start("{\"mode\":\"move\",\"interval_s\":9}"), 0);
  EXPECT_STREQ(mj_last_error(), "CreateEvent failed");
  std::string line = status();
  EXPECT_EQ(status_member(line, "active"), "0");
  EXPECT_EQ(status_member(line, "mode"), "\"move\"");
  EXPECT_EQ(status_member(line, "interval_s"), "9");
  EXPECT_EQ(status_member(line, "nudges"), "0");
  EXPECT_EQ(status_member(line, "next_nudge_in_s"), "-1");
  EXPECT_EQ(sim_open_handles(), 0);
  EXPECT_EQ(mj_stop(), 1);
}

TEST_F(Lib, ThreadCreationFailureClosesTheEvent) {
  sim_fail_next_thread_start();
  EXPECT_EQ(mj_start("{\"interval_s\":9}"), 0);
  EXPECT_STREQ(mj_last_error(), "CreateThread failed");
  std::string line = status();
  EXPECT_EQ(status_member(line, "active"), "0");
  EXPECT_EQ(status_member(line, "interval_s"), "9");
  EXPECT_EQ(sim_open_handles(), 0);
  EXPECT_EQ(sim_module_references(), 0);  // the worker's reference went back
  // The library is usable again at once.
  start(nullptr);
  EXPECT_EQ(status_member(status(), "active"), "1");
}

// The worker holds one module reference for the run's whole life.
TEST_F(Lib, WorkerHoldsTheModuleWhileTheRunLasts) {
  start(nullptr);
  EXPECT_EQ(sim_module_references(), 1);
  start("{\"interval_s\":5}");  // a restart hands the reference on
  EXPECT_EQ(sim_module_references(), 1);
  mj_stop();
  EXPECT_EQ(sim_module_references(), 0);
}

// The module reference is a safeguard: refused, the run starts anyway and
// its worker nudges and stops as usual.
TEST_F(Lib, RefusedModuleReferenceStillStartsTheRun) {
  sim_refuse_module_reference(1);
  start("{\"interval_s\":5,\"only_when_idle\":false}");
  EXPECT_STREQ(mj_last_error(), "");
  EXPECT_EQ(status_member(status(), "active"), "1");
  EXPECT_EQ(sim_module_references(), 0);
  pass_at(T0 + 5000);
  EXPECT_EQ(status_member(status(), "nudges"), "1");
  EXPECT_EQ(injections(), 1u);
  EXPECT_EQ(mj_stop(), 1);
  EXPECT_EQ(status_member(status(), "active"), "0");
  EXPECT_EQ(sim_open_handles(), 0);
  // Given again, the next run holds it as before.
  sim_refuse_module_reference(0);
  start(nullptr);
  EXPECT_EQ(sim_module_references(), 1);
}

TEST_F(Lib, StopDuringANudgeWaitsForItsRecord) {
  sim_set_idle_ms(100000);
  start("{\"interval_s\":5}");
  sim_hold_injections();
  sim_advance_ms(5000);
  ASSERT_TRUE(sim_end_wait());
  ASSERT_TRUE(sim_wait_injection_blocked());

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    mj_stop();
    stopped = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(stopped);
  sim_advance_ms(100000);  // a further check would be due at once
  sim_release_injections();
  stopper.join();

  std::string line = status();
  EXPECT_EQ(status_member(line, "active"), "0");
  EXPECT_EQ(status_member(line, "nudges"), "1");
  EXPECT_EQ(injections(), 1u);
  EXPECT_EQ(sim_open_handles(), 0);
}

TEST_F(Lib, StopWakesTheWorkerAtOnce) {
  sim_set_manual_waits(0);  // real 250 ms waits
  start(nullptr);
  auto t = std::chrono::steady_clock::now();
  mj_stop();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count();
  EXPECT_LT(ms, 200);
}

// ---- Status line ------------------------------------------------------------

TEST_F(Lib, StatusBeforeTheFirstRun) {
  sim_set_idle_ms(12345);
  EXPECT_STREQ(mj_status(),
               "{\"active\":0,\"mode\":\"move\",\"interval_s\":0,\"dx\":0,\"dy\":0,\"only_when_idle\":0,"
               "\"dry_run\":0,\"nudges\":0,\"skipped\":0,\"failed\":0,\"idle_s\":12,\"since_last_nudge_s\":-1,"
               "\"next_nudge_in_s\":-1,\"running_s\":0,\"last_reset_idle\":-1,\"last_method\":\"\","
               "\"platform\":\"windows\",\"mechanism\":\"SendInput\",\"version\":\"1.0.0\"}");
}

TEST_F(Lib, StatusWorkedExampleDuringAndAfterARun) {
  sim_set_tick64(5000000);
  start("{\"mode\":\"move\",\"interval_s\":30,\"dx\":2,\"dy\":0}");
  pass_at(5030000, 1000);    // skip
  pass_at(5060000, 100000);  // nudge
  pass_at(5090020, 100000);  // nudge
  sim_set_tick64(5100000);
  sim_set_idle_ms(4000);
  EXPECT_STREQ(mj_status(),
               "{\"active\":1,\"mode\":\"move\",\"interval_s\":30,\"dx\":2,\"dy\":0,\"only_when_idle\":1,"
               "\"dry_run\":0,\"nudges\":2,\"skipped\":1,\"failed\":0,\"idle_s\":4,\"since_last_nudge_s\":9,"
               "\"next_nudge_in_s\":26,\"running_s\":100,\"last_reset_idle\":1,\"last_method\":\"SendInput move\","
               "\"platform\":\"windows\",\"mechanism\":\"SendInput\",\"version\":\"1.0.0\"}");
  // Nobody touched the input since the last nudge: both terms are 20,020 ms.
  sim_set_idle_ms(9980);
  EXPECT_EQ(status_member(status(), "next_nudge_in_s"), "21");

  mj_stop();
  sim_set_tick64(5160000);
  sim_set_idle_ms(64000);
  EXPECT_STREQ(mj_status(),
               "{\"active\":0,\"mode\":\"move\",\"interval_s\":30,\"dx\":2,\"dy\":0,\"only_when_idle\":1,"
               "\"dry_run\":0,\"nudges\":2,\"skipped\":1,\"failed\":0,\"idle_s\":64,\"since_last_nudge_s\":69,"
               "\"next_nudge_in_s\":-1,\"running_s\":0,\"last_reset_idle\":1,\"last_method\":\"SendInput move\","
               "\"platform\":\"windows\",\"mechanism\":\"SendInput\",\"version\":\"1.0.0\"}");
}

TEST_F(Lib, StatusEstimateOfTheNextNudge) {
  start("{\"interval_s\":30}");
  sim_set_idle_ms(100000);
  EXPECT_EQ(status_num(status(), "next_nudge_in_s"), 30);
  sim_advance_ms(29000);
  EXPECT_EQ(status_num(status(), "next_nudge_in_s"), 1);
  sim_advance_ms(999);
  EXPECT_EQ(status_num(status(), "next_nudge_in_s"), 1);  // 1 ms rounds up
  sim_advance_ms(2000);
  EXPECT_EQ(status_num(status(), "next_nudge_in_s"), 0);  // over, worker not there yet
  sim_set_idle_ms(999);
  EXPECT_EQ(status_num(status(), "next_nudge_in_s"), 30);  // the idle term: 29,001 ms
  EXPECT_EQ(status_num(status(), "idle_s"), 0);
  sim_set_last_input_unavailable();
  EXPECT_EQ(status_num(status(), "next_nudge_in_s"), 0);  // no idle term
  EXPECT_EQ(status_num(status(), "running_s"), 31);
}

TEST_F(Lib, StatusEstimateFollowsTheLastSkip) {
  start("{\"interval_s\":10}");
  pass_at(T0 + 10000, 0);
  sim_advance_ms(3000);
  sim_set_idle_ms(100000);
  std::string line = status();
  EXPECT_EQ(status_member(line, "skipped"), "1");
  EXPECT_EQ(status_member(line, "next_nudge_in_s"), "7");
  EXPECT_EQ(status_member(line, "since_last_nudge_s"), "-1");
}

TEST_F(Lib, StatusLineHas19MembersInOrder) {
  start(nullptr);
  std::string line = status();
  size_t at = 0;
  for (const char *key : k_status_keys) {
    size_t p = line.find(std::string("\"") + key + "\":", at);
    ASSERT_NE(p, std::string::npos) << key;
    at = p + 1;
  }
  EXPECT_EQ(std::count(line.begin(), line.end(), ':'), 19);
  EXPECT_EQ(line.front(), '{');
  EXPECT_EQ(line.back(), '}');
}

}  // namespace
