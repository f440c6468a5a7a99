// The library's costs natively, over the simulated platform (whose clock and
// idle reads take a mutex of their own, so these are upper bounds of the
// logic's share). Run by scripts/bench.sh, not by the tests.
#include <benchmark/benchmark.h>

#include <string>

#include "../options_texts.h"
#include "mouse_jiggler.h"
#include "mouse_jiggler_internal.h"
#include "platform/sim_control.h"

namespace {

void BM_Status(benchmark::State &state) {
  sim_reset();
  for (auto _ : state) benchmark::DoNotOptimize(mj_status());
}
BENCHMARK(BM_Status);

// With an active run whose worker sleeps in a wait that only the test ends.
void BM_StatusDuringRun(benchmark::State &state) {
  sim_reset();
  sim_set_manual_waits(1);
  mj_start("{\"mode\":\"move\",\"interval_s\":30}");
  sim_wait_for_waiter();
  for (auto _ : state) benchmark::DoNotOptimize(mj_status());
  mj_stop();
}
BENCHMARK(BM_StatusDuringRun);

void BM_IdleMs(benchmark::State &state) {
  sim_reset();
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
  for (auto _ : state) {
    mj_opts opts = k_default_opts;
    char msg[MJ_MSG_SIZE] = {0};
    benchmark::DoNotOptimize(opts_parse(text.c_str(), &opts, msg));
    benchmark::DoNotOptimize(opts);
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
  for (auto _ : state) benchmark::DoNotOptimize(mj_nudge_now("{\"dry_run\":true}"));
}
BENCHMARK(BM_NudgeNowDryRun);

// A start and a stop: the stop event and worker thread are made and ended.
void BM_StartStopCycle(benchmark::State &state) {
  sim_reset();
  for (auto _ : state) {
    mj_start(k_typical_options);
    mj_stop();
  }
}
BENCHMARK(BM_StartStopCycle)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
