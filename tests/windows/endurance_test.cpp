// The real DLL under Wine over a long stream of calls: a thousand runs
// started and stopped while another host thread streams status, one-shot,
// idle and error calls. Afterwards the process holds the handles and threads
// it held before, and its memory is where it was, within a small tolerance.
// process_counters.h says how each is counted under Wine.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "../native/status_util.h"
#include "gtest/gtest.h"
#include "jiggler_dll.h"
#include "json_check.h"
#include "process_counters.h"

namespace {

// Heap and loader bookkeeping may settle by a few pages; a leak of one
// thread stack or one status buffer per run would be far beyond this.
const size_t k_memory_tolerance = 256 * 1024;

struct stream_tally {
  long status = 0, one_shots = 0, bad_lines = 0, failed_one_shots = 0;
};

// cycles runs started and stopped on this thread; the stream on another
// until the runs are over and at least min_calls status calls were made.
void cycle_and_stream(const jiggler_dll &mj, int cycles, long min_calls, stream_tally *tally) {
  std::atomic<bool> cycles_done{false};
  std::thread stream([&] {
    for (long n = 0; !cycles_done || tally->status < min_calls; n++) {
      std::string line = mj.status();  // the only thread that asks for it
      tally->status++;
      if (!json_is_flat_object(line)) tally->bad_lines++;
      if (n % 8 == 0) {
        const char *text = n % 16 == 0 ? "{\"mode\":\"move\",\"dx\":3,\"dry_run\":true}" : nullptr;
        if (!mj.nudge_now(text)) tally->failed_one_shots++;
        tally->one_shots++;
      }
      if (mj.idle_ms() < -1 || mj.last_error() == nullptr || mj.version() == nullptr) tally->bad_lines++;
    }
  });
  const char *texts[] = {nullptr, "{\"mode\":\"move\",\"interval_s\":1,\"only_when_idle\":false,\"dry_run\":true}",
                         "{\"interval_s\":1,\"only_when_idle\":false}", "{\"mode\":\"move\",\"dx\":-2,\"dy\":2}"};
  int refused = 0;
  for (int n = 0; n < cycles; n++) {
    if (!mj.start(texts[n % 4])) refused++;
    if (n % 10 == 0 && mj.start("{\"mode\":\"sideways\"}")) refused++;  // rejected, the run goes on
    if (n % 100 == 99) Sleep(1100);                                     // long enough for the worker to nudge
    mj.stop();
  }
  cycles_done = true;
  stream.join();
  EXPECT_EQ(refused, 0) << mj.last_error();
}

TEST(Endurance, ThousandRunsAndAStreamOfCallsLeaveNothingBehind) {
  jiggler_dll mj;
  ASSERT_TRUE(jiggler_load(&mj)) << "cannot load " << k_jiggler_dll_name << ": " << GetLastError();

  // A first round, so that what is made once per process (the library's
  // lock, the loader's and the heap's first growth) is made before counting.
  stream_tally warm;
  cycle_and_stream(mj, 30, 2000, &warm);
  take_process_counters();
  const process_counters before = take_process_counters();
  ASSERT_GT(before.handles, 0) << "the system gave no handle count";
  // The counts see a run: its worker thread, and its stop event and thread
  // handle.
  ASSERT_EQ(mj.start(nullptr), 1);
  const process_counters during = take_process_counters();
  mj.stop();
  EXPECT_EQ(during.threads, before.threads + 1);
  EXPECT_EQ(during.handles, before.handles + 2);

  stream_tally tally;
  cycle_and_stream(mj, 1000, 200000, &tally);
  const process_counters after = take_process_counters();

  EXPECT_EQ(tally.bad_lines, 0);
  EXPECT_EQ(tally.failed_one_shots, 0) << mj.last_error();
  EXPECT_GE(tally.status, 200000);
  std::string line = mj.status();
  EXPECT_EQ(status_member(line, "active"), "0") << line;

  EXPECT_EQ(after.handles, before.handles);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_LE(after.private_bytes, before.private_bytes + k_memory_tolerance)
      << "committed private bytes " << before.private_bytes << " -> " << after.private_bytes;
  EXPECT_LE(after.pagefile_bytes, before.pagefile_bytes + k_memory_tolerance)
      << "pagefile bytes " << before.pagefile_bytes << " -> " << after.pagefile_bytes;
  printf("endurance: %ld status and %ld one-shot calls over 1000 runs\n", tally.status, tally.one_shots);
  printf("handles %ld -> %ld, threads %ld -> %ld, committed private %zu -> %zu, pagefile %zu -> %zu\n", before.handles,
         after.handles, before.threads, after.threads, before.private_bytes, after.private_bytes, before.pagefile_bytes,
         after.pagefile_bytes);

  mj.module.reset();
}

}  // namespace
