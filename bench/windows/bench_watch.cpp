// The cost of watching programs (host/win32/process_watch.h) under Wine, and
// how fast it sees starts and exits. Prints figures; judges nothing. Run by
// scripts/bench.sh, which reads the processor time of each phase from the
// Linux side (/proc) between the marker lines this program prints.
//
//   bench_watch [seconds]      (default 60: the span of each phase)
//   bench_watch host [NAMES]   one watching process (started by the above)
//
// Phases, one after the other, so that the Wine server's time belongs to the
// one host running: a host whose watch has an empty list (as a process that
// does not watch), a host watching three names of which none runs, and one
// watching three names of which one runs. Then, in this process, the time
// from a start of a listed program to the watch's message, and from its exit.
#include <windows.h>
// after windows.h
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "process_watch.h"
#include "sleepers.h"
#include "this_program.h"

namespace {

const char k_quit_event[] = "mj-bench-watch-quit";
const UINT k_changed = WM_APP + 1;

int host(const char *names) {
  mjw_handle quit(OpenEventA(SYNCHRONIZE, FALSE, k_quit_event));
  if (!quit) return 2;
  mjh_programs list;
  mjh_programs_none(&list);
  if (names && !mjh_programs_parse(names, &list, nullptr)) return 3;
  mjw_process_watch watch;
  if (!watch.start(nullptr, 0)) return 4;
  watch.watch(list, false);
  WaitForSingleObject(quit.get(), 30 * 60 * 1000);
  watch.stop();
  return 0;
}

// Runs a host for one phase, between the marker lines.
void phase(const char *label, const char *names, int seconds, HANDLE quit) {
  ResetEvent(quit);
  std::string exe = this_program();
  std::string line = "\"" + exe + "\" host" + (names ? std::string(" ") + names : std::string());
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  mjw_process_information pi;
  if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    std::printf("%s: cannot start a host (error %lu)\n", label, GetLastError());
    return;
  }
  Sleep(3000);  // past its start-up
  std::printf("measuring %s\n", label);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  std::printf("measured %s\n", label);
  std::fflush(stdout);
  Sleep(2000);  // the script reads the host's figures before it ends
  SetEvent(quit);
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
}

// Takes this thread's messages until the watch tells of a change; the
// milliseconds it took, or -1 after 20 s.
double wait_change(LARGE_INTEGER since, LARGE_INTEGER frequency) {
  ULONGLONG deadline = GetTickCount64() + 20000;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == k_changed) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - since.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
      }
      DispatchMessageA(&msg);
    }
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return -1;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void print_spread(const char *what, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  std::printf("%-40s min %7.1f  median %7.1f  max %7.1f ms  (%zu times)\n", what, ms.front(), ms[ms.size() / 2],
              ms.back(), ms.size());
}

int driver(int seconds) {
  mjw_handle quit(CreateEventA(nullptr, TRUE, FALSE, k_quit_event));
  if (!quit) {
    std::printf("cannot make the quit event (error %lu)\n", GetLastError());
    return 1;
  }
  sleeper_folder folder;
  // The second copy is tried only after the first worked: the error is the failed copy's.
  std::string running = folder.copy("mjbench-running.exe");
  std::string noticed = running.empty() ? "" : folder.copy("mjbench-noticed.exe");
  if (noticed.empty()) {
    std::printf("cannot copy the sleeper (error %lu)\n", GetLastError());
    return 1;
  }
  DWORD pids[4096], bytes = 0;
  EnumProcesses(pids, sizeof pids, &bytes);
  std::printf("phases of %d s each; a look every %d ms (%d per minute) over %lu processes\n", seconds,
              MJW_PROCESS_POLL_MS, 60000 / MJW_PROCESS_POLL_MS, static_cast<unsigned long>(bytes / sizeof pids[0]));
  std::fflush(stdout);
  phase("empty", nullptr, seconds, quit.get());
  phase("none", "mjbench-a.exe,mjbench-b.exe,mjbench-c.exe", seconds, quit.get());
  {
    sleeper one(running);
    phase("one", "mjbench-a.exe,mjbench-b.exe,mjbench-running.exe", seconds, quit.get());
  }

  // Starts and exits seen by a watch in this process, at every point of its
  // looking period.
  HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  mjw_process_watch watch;
  mjh_programs list;
  if (!window || !watch.start(window, k_changed) ||
      !mjh_programs_parse("mjbench-a.exe,mjbench-b.exe,mjbench-noticed.exe", &list, nullptr))
    return 1;
  watch.watch(list, false);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> starts, exits;
  const int times = seconds >= 60 ? 12 : 4;
  for (int i = 0; i < times; i++) {
    Sleep(static_cast<DWORD>(MJW_PROCESS_POLL_MS * i / times));  // a different point of the period each time
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    sleeper program(noticed);
    double started = wait_change(t, frequency);
    if (started >= 0) starts.push_back(started);
    QueryPerformanceCounter(&t);
    program.end();
    double ended = wait_change(t, frequency);
    if (ended >= 0) exits.push_back(ended);
  }
  print_spread("a start seen (from CreateProcess)", starts);
  print_spread("an exit seen (from telling it to exit)", exits);
  watch.stop();
  DestroyWindow(window);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "host") == 0) return host(argc > 2 ? argv[2] : nullptr);
  int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  return driver(seconds < 5 ? 5 : seconds);
}
