// The library's costs natively, over the simulated platform (whose clock and
// idle reads take a mutex of their own, so these are upper bounds of the
// logic's share). Run by scripts/bench.sh, not by the tests.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <string>

#include "../options_texts.h"
#include "mouse_jiggler.h"
#include "mouse_jiggler_internal.h"
#include "platform/sim_control.h"

// Every malloc, calloc and realloc of the process is counted: the benchmarks
// report the allocations made per call inside their timed loops.
extern "C" {
void *__libc_malloc(size_t n);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t n);
}

static std::atomic<long> g_allocations{0};

extern "C" void *malloc(size_t n) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}

extern "C" void *calloc(size_t n, size_t size) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}

extern "C" void *realloc(void *p, size_t n) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}

namespace {

// Counts the allocations of the timed loop of one benchmark.
class allocations {
 public:
  explicit allocations(benchmark::State &state) : state_(state), start_(g_allocations.load()) {}
  ~allocations() {
    state_.counters["allocs_per_call"] = double(g_allocations.load() - start_) / double(state_.iterations());
  }

 private:
  benchmark::State &state_;
  long start_;
};

void BM_Status(benchmark::State &state) {
  sim_reset();
  allocations count(state);
  for (auto _ : state) benchmark::DoNotOptimize(mj_status());
}
BENCHMARK(BM_Status);

// With an active run whose worker sleeps in a wait that only the test ends.
void BM_StatusDuringRun(benchmark::State &state) {
  sim_reset();
  sim_set_manual_waits(1);
  mj_start("{\"mode\":\"move\",\"interval_s\":30}");
  sim_wait_for_waiter();
  {
    allocations count(state);
    for (auto _ : state) benchmark::DoNotOptimize(mj_status());
  }
  mj_stop();
}
BENCHMARK(BM_StatusDuringRun);

void BM_IdleMs(benchmark::State &state) {
  sim_reset();
  allocations count(state);
  for (auto _ : state) benchmark::DoNotOptimize(mj_idle_ms());
}
BENCHMARK(BM_IdleMs);

void BM_LastError(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(mj_last_error());
}
BENCHMARK(BM_LastError);

void BM_Version(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(mj_version());
}
BENCHMARK(BM_Version);

void read_options(benchmark::State &state, const std::string &text) {
  {
    allocations count(state);
    for (auto _ : state) {
      mj_opts opts = k_default_opts;
      char msg[MJ_MSG_SIZE] = {0};
      benchmark::DoNotOptimize(opts_parse(text.c_str(), &opts, msg));
      benchmark::DoNotOptimize(opts);
    }
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)text.size());
  state.counters["text_bytes"] = (double)text.size();
}

void BM_ReadOptionsTypical(benchmark::State &state) { read_options(state, k_typical_options); }
BENCHMARK(BM_ReadOptionsTypical);

void BM_ReadOptionsAdversarial(benchmark::State &state) { read_options(state, adversarial_options()); }
BENCHMARK(BM_ReadOptionsAdversarial);

void BM_NudgeNowDryRun(benchmark::State &state) {
  sim_reset();
  allocations count(state);
  for (auto _ : state) benchmark::DoNotOptimize(mj_nudge_now("{\"dry_run\":true}"));
}
BENCHMARK(BM_NudgeNowDryRun);

// One pass of the worker, stepped by the benchmark: the time is mostly the
// hand-over between threads; what counts is the allocations per pass. With
// nudging set, every pass makes a dry-run nudge.
void BM_WorkerPass(benchmark::State &state) {
  const bool nudging = state.range(0) != 0;
  sim_reset();
  sim_set_manual_waits(1);
  mj_start(nudging ? "{\"interval_s\":1,\"only_when_idle\":false,\"dry_run\":true}" : "{\"interval_s\":3600}");
  sim_wait_for_waiter();
  {
    allocations count(state);
    for (auto _ : state) {
      if (nudging) sim_advance_ms(1000);
      if (!sim_run_pass()) state.SkipWithError("the worker did not pass");
    }
  }
  mj_stop();
  state.SetLabel(nudging ? "nudging" : "waiting");
}
BENCHMARK(BM_WorkerPass)->Arg(0)->Arg(1)->UseRealTime();

// A start and a stop: the stop event and worker thread are made and ended.
// The simulated platform allocates both; on Windows they are kernel objects.
void BM_StartStopCycle(benchmark::State &state) {
  sim_reset();
  allocations count(state);
  for (auto _ : state) {
    mj_start(k_typical_options);
    mj_stop();
  }
}
BENCHMARK(BM_StartStopCycle)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
