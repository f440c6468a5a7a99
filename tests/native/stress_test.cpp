// Many host threads calling into the library while another starts and stops
// runs with real 250 ms waits. Built with ThreadSanitizer by the native-tsan
// preset; under any build it must finish without a deadlock.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "mouse_jiggler.h"
#include "platform/sim_control.h"

namespace {

TEST(Stress, CallsUnderFireWhileRunsStartAndStop) {
  sim_reset();
  sim_set_idle_ms(1000000);
  std::atomic<bool> done{false};
  std::atomic<long> calls{0};
  std::vector<std::thread> hosts;

  hosts.emplace_back([&] {  // the clock moves on so that runs nudge
    while (!done) {
      sim_advance_ms(700);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (int i = 0; i < 3; i++) {
    hosts.emplace_back([&, i] {
      const char *texts[] = {nullptr, "{\"mode\":\"move\",\"dx\":2}", "{\"dry_run\":1}", "nope"};
      for (int n = 0; !done; n++) {
        switch ((n + i) % 4) {
          case 0: {
            // mj_status shares one buffer: copy under our own lock, as a
            // host calling from several threads is told to.
            static std::mutex status_mu;
            std::lock_guard<std::mutex> g(status_mu);
            std::string line = mj_status();
            EXPECT_EQ(line.front(), '{');
            break;
          }
          case 1:
            mj_nudge_now(texts[n % 4]);
            break;
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

  const char *runs[] = {"{\"interval_s\":1}", "{\"mode\":\"move\",\"interval_s\":1,\"only_when_idle\":0}", "bad",
                        nullptr};
  for (int n = 0; n < 60; n++) {
    mj_start(runs[n % 4]);
    std::this_thread::sleep_for(std::chrono::milliseconds(n % 7 == 0 ? 300 : 5));
    if (n % 3 == 0) mj_stop();
  }
  mj_stop();
  done = true;
  for (auto &t : hosts) t.join();

  EXPECT_GT(calls.load(), 1000);
  EXPECT_EQ(sim_open_handles(), 0);
  EXPECT_GT(sim_injections().size(), 10u);
}

}  // namespace
