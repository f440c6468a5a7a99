// Many host threads calling into the library while another starts and stops
// runs with real 250 ms waits, with failing injections and failing event and
// thread creation mixed in. Every status line seen is checked on its own and
// against the lines before it. Built with ThreadSanitizer by the native-tsan
// preset; under any build it must finish without a deadlock.
#include <stdio.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../windows/json_check.h"
#include "gtest/gtest.h"
#include "mouse_jiggler.h"
#include "platform/sim_control.h"
#include "status_util.h"

namespace {

// Checks the status lines of one host in the order it saw them. Each start
// of the stress gets its own dx, so a line's dx tells the run it belongs to;
// within one run the counters and running_s never go back, and active goes
// 0 (before the worker exists), 1, then 0 for good.
class line_checker {
 public:
  long long lines = 0, bad = 0, runs = 0, runs_nudged = 0, runs_failed = 0, runs_skipped = 0;
  std::string first_bad;

  void check(const std::string &line) {
    lines++;
    std::string why = fault(line);
    if (!why.empty() && bad++ == 0) first_bad = why + ": " + line;
  }

 private:
  long long tag_ = -1000, nudges_ = 0, skipped_ = 0, failed_ = 0, running_ = 0;
  bool was_active_ = false, ended_ = false;

  std::string fault(const std::string &line) {
    std::vector<std::string> keys;
    if (!json_is_flat_object(line, &keys) || keys.size() != 19) return "not 19 members";
    if (line.size() >= 500) return "500 bytes or more";
    long long active = status_num(line, "active"), next = status_num(line, "next_nudge_in_s");
    long long running = status_num(line, "running_s"), interval = status_num(line, "interval_s");
    long long nudges = status_num(line, "nudges"), skipped = status_num(line, "skipped");
    long long failed = status_num(line, "failed"), since = status_num(line, "since_last_nudge_s");
    long long reset = status_num(line, "last_reset_idle");
    std::string method = status_member(line, "last_method");
    if (active == 1 && (next < 0 || next > interval || running < 0)) return "active run's times";
    if (active == 0 && (next != -1 || running != 0)) return "inactive run's times";
    if (active != 0 && active != 1) return "active";
    if (nudges < 0 || skipped < 0 || failed < 0) return "negative counter";
    if ((since == -1) != (nudges + failed == 0) || since < -1) return "since_last_nudge_s";
    if (reset < -1 || reset > 1) return "last_reset_idle";
    if (method != "\"\"" && method != "\"SendInput zen\"" && method != "\"SendInput move\"" && method != "\"dry-run\"")
      return "last_method";
    if (status_num(line, "idle_s") < -1) return "idle_s";

    long long tag = status_num(line, "dx");
    if (tag != tag_) {
      tag_ = tag;
      runs++;
      nudges_ = skipped_ = failed_ = running_ = 0;
      was_active_ = ended_ = false;
    }
    if (nudges < nudges_ || skipped < skipped_ || failed < failed_) return "counter went back";
    if (active && running < running_) return "running_s went back";
    if (active && ended_) return "run active again";
    if (nudges > 0 && nudges_ == 0) runs_nudged++;
    if (failed > 0 && failed_ == 0) runs_failed++;
    if (skipped > 0 && skipped_ == 0) runs_skipped++;
    nudges_ = nudges;
    skipped_ = skipped;
    failed_ = failed;
    if (active) running_ = running;
    if (!active && was_active_) ended_ = true;
    was_active_ = was_active_ || active;
    return "";
  }
};

// mj_status shares one buffer: hosts calling from several threads serialise
// their calls, as the header tells them to, and copy the line.
std::mutex status_mu;
line_checker checker;

std::string checked_status() {
  std::lock_guard<std::mutex> g(status_mu);
  std::string line = mj_status();
  checker.check(line);
  return line;
}

TEST(Stress, CallsUnderFireWhileRunsStartAndStop) {
  sim_reset();
  sim_set_idle_ms(1000000);
  std::atomic<bool> done{false};
  std::atomic<long> calls{0};
  std::atomic<int> scripted_failures{0};
  std::vector<std::thread> hosts;

  hosts.emplace_back([&] {  // the clock moves on so that runs nudge or skip
    for (int n = 0; !done; n++) {
      sim_advance_ms(700);
      sim_kick_waits();  // the worker passes about once a millisecond
      if (n % 5 == 0) sim_set_idle_ms(n % 10 == 0 ? 100 : 100000);
      if (n % 20 == 0) {  // a burst of failures, most of them taken by one-shots
        for (int k = 0; k < 300; k++) sim_script_injection(0, 5);
        scripted_failures += 300;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (int i = 0; i < 3; i++) {
    hosts.emplace_back([&, i] {
      const char *texts[] = {nullptr, "{\"mode\":\"move\",\"dx\":2}", "{\"dry_run\":1}", "nope"};
      for (int n = 0; !done; n++) {
        switch ((n + i) % 4) {
          case 0:
            checked_status();
            break;
          case 1: {
            int k = (n / 4) % 4;
            int ok = mj_nudge_now(texts[k]);
            if (k == 2) {
              EXPECT_EQ(ok, 1);  // a dry run cannot fail
            } else if (k == 3) {
              EXPECT_EQ(ok, 0);
            }
            break;
          }
          case 2:
            EXPECT_GE(mj_idle_ms(), -1);
            break;
          case 3:
            EXPECT_NE(mj_last_error(), nullptr);
            break;
        }
        calls++;
      }
    });
  }

  // Each start has its own dx (n + 1), the tag of its run in the status lines.
  int failed_starts = 0;
  for (int n = 0; n < 60; n++) {
    char text[160];
    snprintf(text, sizeof text,
             "{\"mode\":\"%s\",\"interval_s\":1,\"dx\":%d,\"dy\":-1,\"only_when_idle\":%d,\"dry_run\":%d}",
             n % 2 ? "move" : "zen", n + 1, n % 3 != 0, n % 4 == 3);
    int want = 1;
    if (n % 5 == 4) {
      snprintf(text, sizeof text, "%s", n % 10 == 4 ? "bad" : "{\"mode\":\"sideways\",\"dx\":-9}");
      want = 0;
    } else if (n % 11 == 5) {
      sim_fail_next_event_create();
      want = 0;
    } else if (n % 11 == 8) {
      sim_fail_next_thread_start();
      want = 0;
    }
    EXPECT_EQ(mj_start(text), want) << text;
    if (want == 0 && n % 5 != 4) {
      failed_starts++;
      std::string line = checked_status();
      EXPECT_EQ(status_member(line, "active"), "0") << line;
      EXPECT_EQ(status_num(line, "dx"), n + 1) << line;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(n % 7 == 0 ? 300 : 5));
    if (n % 3 == 0) mj_stop();
  }
  mj_stop();
  done = true;
  for (auto &t : hosts) t.join();

  EXPECT_GT(calls.load(), 1000) << calls.load();
  EXPECT_EQ(sim_open_handles(), 0);
  EXPECT_GT(sim_injections().size(), 10u);
  EXPECT_EQ(failed_starts, 8);
  EXPECT_EQ(checker.bad, 0) << checker.bad << " bad lines; the first: " << checker.first_bad;
  // The stress reached what it is for: many lines over many runs, and runs
  // that nudged, failed and skipped.
  EXPECT_GT(checker.lines, 300);
  EXPECT_GT(checker.runs, 20);
  EXPECT_GT(checker.runs_nudged, 5) << checker.runs;
  EXPECT_GT(checker.runs_failed, 0) << checker.runs;
  EXPECT_GT(checker.runs_skipped, 0) << checker.runs;
  EXPECT_GT(scripted_failures.load(), 0);
}

}  // namespace
