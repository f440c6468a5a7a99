// Timings of the real DLL, loaded by a host under Wine (or Windows): the
// cost of each call, a start/stop cycle, the latency of mj_stop during a run,
// how late a due nudge comes, the processor time of a waiting run, the file
// size and the memory the DLL adds to its host. Prints figures; judges
// nothing. Run by scripts/bench.sh.
//
//   bench_dll [quick]     (quick: fewer repetitions, for a smoke run)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../options_texts.h"
#include "jiggler_dll.h"
#include "process_counters.h"

namespace {

jiggler_dll mj;
double g_qpc_per_s;

double now_s(void) {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return (double)t.QuadPart / g_qpc_per_s;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = (size_t)(p / 100.0 * (double)(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

void print_spread(const char *what, const std::vector<double> &ms) {
  printf("%-44s median %8.3f ms   p99 %8.3f ms   max %8.3f ms   (n=%zu)\n", what, percentile(ms, 50),
         percentile(ms, 99), percentile(ms, 100), ms.size());
}

// Nanoseconds per call: the median of several batches of calls.
template <typename F>
void per_call(const char *what, int calls, F call) {
  std::vector<double> ns;
  for (int batch = 0; batch < 7; batch++) {
    double t0 = now_s();
    for (int i = 0; i < calls; i++) call();
    ns.push_back((now_s() - t0) * 1e9 / calls);
  }
  printf("%-44s %10.0f ns per call (median of 7 batches of %d)\n", what, percentile(ns, 50), calls);
}

double kib(size_t bytes) { return (double)bytes / 1024.0; }

void print_memory(const char *when, const process_counters &c, const process_counters &base) {
  printf("%-30s private %+9.0f KiB   pagefile %+9.0f KiB   working set %+9.0f KiB   threads %ld handles %ld\n", when,
         kib(c.private_bytes) - kib(base.private_bytes), kib(c.pagefile_bytes) - kib(base.pagefile_bytes),
         kib(c.working_set_bytes) - kib(base.working_set_bytes), c.threads, c.handles);
}

double filetime_s(const FILETIME &f) { return (double)(((ULONGLONG)f.dwHighDateTime << 32) | f.dwLowDateTime) / 1e7; }

double process_cpu_s(void) {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return filetime_s(kernel) + filetime_s(user);
}

double thread_cpu_s(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1;
  return filetime_s(kernel) + filetime_s(user);
}

std::vector<DWORD> thread_ids(void) {
  std::vector<DWORD> ids;
  mjw_file snap(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 te;
  te.dwSize = sizeof te;
  for (BOOL ok = Thread32First(snap.get(), &te); ok; ok = Thread32Next(snap.get(), &te))
    if (te.th32OwnerProcessID == GetCurrentProcessId()) ids.push_back(te.th32ThreadID);
  return ids;
}

// The status line's nudges member.
long long nudges(void) {
  const char *p = strstr(mj.status(), "\"nudges\":");
  return p ? atoll(p + 9) : -1;
}

void memory_of_the_dll(void) {
  printf("\n-- memory the DLL adds to its host: change from the start, before its imports were loaded\n");
  take_process_counters();  // the counters' own first allocations
  process_counters base = take_process_counters();
  // Most hosts have the DLL's imports loaded already; a console host has not.
  LoadLibraryA("user32.dll");
  LoadLibraryA("msvcrt.dll");
  print_memory("after loading user32, msvcrt", take_process_counters(), base);
  if (!jiggler_load(&mj)) {
    fprintf(stderr, "bench_dll: cannot load %s (error %lu)\n", k_jiggler_dll_name, GetLastError());
    exit(1);
  }
  print_memory("after LoadLibrary", take_process_counters(), base);
  mj.status();
  mj.nudge_now("{\"dry_run\":true}");
  print_memory("after the first calls", take_process_counters(), base);
  // For comparison, the least a run costs: one thread of the host's own that
  // only waits on an event.
  {
    mjw_handle evt(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    mjw_handle own(CreateThread(
        nullptr, 0, [](LPVOID e) -> DWORD { return WaitForSingleObject((HANDLE)e, INFINITE); }, evt.get(), 0, nullptr));
    Sleep(100);
    print_memory("a waiting thread of the host", take_process_counters(), base);
    SetEvent(evt.get());
    WaitForSingleObject(own.get(), INFINITE);
  }
  print_memory("after that thread", take_process_counters(), base);
  mj.start("{\"interval_s\":1,\"only_when_idle\":false,\"dry_run\":true}");
  Sleep(1300);
  print_memory("during a run", take_process_counters(), base);
  mj.stop();
  print_memory("after the run", take_process_counters(), base);
  mj.start("{\"interval_s\":1,\"only_when_idle\":false,\"dry_run\":true}");
  Sleep(1300);
  mj.stop();
  print_memory("after a second run", take_process_counters(), base);

  char path[MAX_PATH];
  WIN32_FILE_ATTRIBUTE_DATA data;
  GetModuleFileNameA(mj.module.get(), path, sizeof path);
  if (GetFileAttributesExA(path, GetFileExInfoStandard, &data))
    printf("DLL file size: %lu bytes (%.1f KiB)\n", data.nFileSizeLow, kib(data.nFileSizeLow));
}

void call_costs(void) {
  printf("\n-- cost of each call (no run active unless said)\n");
  const std::string adversarial = adversarial_options();
  const std::string adversarial_dry = "{\"dry_run\":true," + adversarial.substr(1);
  per_call("mj_version", 1000000, [] { mj.version(); });
  per_call("mj_last_error", 1000000, [] { mj.last_error(); });
  per_call("mj_idle_ms", 20000, [] { mj.idle_ms(); });
  per_call("mj_status", 20000, [] { mj.status(); });
  mj.start("{\"interval_s\":3600}");
  per_call("mj_status during a run", 20000, [] { mj.status(); });
  printf("  (its line has %zu bytes, in a buffer of 1024)\n", strlen(mj.status()));
  mj.stop();
  per_call("mj_nudge_now dry run, no options", 20000, [] { mj.nudge_now("{\"dry_run\":true}"); });
  per_call("mj_nudge_now dry run, typical options", 20000,
           [] { mj.nudge_now("{\"mode\":\"move\",\"interval_s\":30,\"dx\":1,\"dy\":1,\"dry_run\":true}"); });
  printf("  (the adversarial text has %zu bytes)\n", adversarial_dry.size());
  per_call("mj_nudge_now dry run, adversarial options", 2000, [&] { mj.nudge_now(adversarial_dry.c_str()); });
  // Its one mode, at the very end, made bad: the whole text is scanned before
  // the rejection.
  std::string rejected = adversarial;
  rejected.replace(rejected.rfind("\"move\""), 6, "\"walk\"");
  per_call("mj_start rejecting the adversarial text", 2000, [&] {
    if (mj.start(rejected.c_str())) printf("bench_dll: the adversarial text was not rejected\n");
  });
  per_call("mj_nudge_now zen, injected", 2000, [] { mj.nudge_now(nullptr); });
}

void start_stop_cycles(int runs) {
  printf("\n-- run control\n");
  std::vector<double> ms;
  for (int i = 0; i < runs; i++) {
    double t0 = now_s();
    mj.start(k_typical_options);
    mj.stop();
    ms.push_back((now_s() - t0) * 1e3);
  }
  print_spread("mj_start + mj_stop, back to back", ms);
}

// The stop is asked at a point spread over the worker's 250 ms wait.
void stop_latency(int runs) {
  std::vector<double> ms;
  for (int i = 0; i < runs; i++) {
    mj.start("{\"interval_s\":3600}");
    Sleep(5 + (DWORD)((i * 37) % 250));
    double t0 = now_s();
    mj.stop();
    ms.push_back((now_s() - t0) * 1e3);
  }
  print_spread("mj_stop during a run (worker waiting)", ms);
}

// From mj_start to the status line showing the first nudge, less the 1 s
// interval; the status is polled every millisecond or so.
void nudge_lateness(int runs) {
  std::vector<double> ms;
  for (int i = 0; i < runs; i++) {
    double t0 = now_s();
    mj.start("{\"interval_s\":1,\"only_when_idle\":false}");
    while (nudges() < 1 && now_s() - t0 < 3) Sleep(1);
    ms.push_back((now_s() - t0 - 1.0) * 1e3);
    mj.stop();
  }
  print_spread("first nudge after it is due (interval 1 s)", ms);
}

// Processor time of a run that only waits (interval an hour, nothing due):
// the worker's own thread times, and the whole process's less the same span
// without a run.
void waiting_cpu(double seconds) {
  printf("\n-- processor time of a waiting run, over %.0f s each, scaled to a minute\n", seconds);
  double c0 = process_cpu_s();
  Sleep((DWORD)(seconds * 1000));
  double baseline = process_cpu_s() - c0;

  std::vector<DWORD> before = thread_ids();
  mj.start("{\"interval_s\":3600}");
  std::vector<DWORD> after = thread_ids();
  mjw_handle worker;
  for (DWORD id : after)
    if (std::find(before.begin(), before.end(), id) == before.end())
      worker.reset(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id));
  double w0 = worker ? thread_cpu_s(worker.get()) : -1;
  c0 = process_cpu_s();
  Sleep((DWORD)(seconds * 1000));
  double with_run = process_cpu_s() - c0;
  double w1 = worker ? thread_cpu_s(worker.get()) : -1;
  mj.stop();

  double scale = 60.0 / seconds;
  printf("process, no run (baseline)        %8.1f ms per minute\n", baseline * scale * 1e3);
  printf("process, waiting run              %8.1f ms per minute\n", with_run * scale * 1e3);
  printf("difference                        %8.1f ms per minute\n", (with_run - baseline) * scale * 1e3);
  if (worker && w0 >= 0)
    printf("worker thread's own times         %8.1f ms per minute\n", (w1 - w0) * scale * 1e3);
  else
    printf("worker thread's own times         not available\n");
  printf("(the clock behind these times moves in steps of 10 ms: %.0f ms per minute here)\n", 10 * scale);

  // A waiting pass is one tick read, one short hold of the lock and one timed
  // wait on the stop event; the wait is timed here on an event of our own.
  mjw_handle evt(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::vector<double> us;
  for (int batch = 0; batch < 7; batch++) {
    double t0 = now_s();
    for (int i = 0; i < 2000; i++) WaitForSingleObject(evt.get(), 0);
    us.push_back((now_s() - t0) * 1e6 / 2000);
  }
  double wait_us = percentile(us, 50);
  printf("one timed wait on an unsignalled event: %.1f us; 240 passes a minute: about %.1f ms per minute\n", wait_us,
         240 * wait_us / 1e3);
}

}  // namespace

int main(int argc, char **argv) {
  bool quick = argc > 1 && strcmp(argv[1], "quick") == 0;
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  g_qpc_per_s = (double)f.QuadPart;
  setvbuf(stdout, nullptr, _IONBF, 0);

  memory_of_the_dll();
  printf("DLL version %s\n", mj.version());
  call_costs();
  start_stop_cycles(quick ? 20 : 200);
  stop_latency(quick ? 20 : 200);
  nudge_lateness(quick ? 2 : 10);
  waiting_cpu(quick ? 2 : 20);
  mj.stop();
  mj.module.reset();
  return 0;
}
