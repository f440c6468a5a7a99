// mjtray.exe's costs while a run waits (interval 3600 s, so no nudge falls in
// the window): its file size, its processor time per minute and its memory,
// beside `mjctl run` in the same conditions and a minimal Win32 window
// program. All three run at once as separate processes; this program only
// watches them from outside (GetProcessTimes, GetProcessMemoryInfo,
// VirtualQueryEx); then how soon the agent follows a policy written to the
// registry. Prints figures; judges nothing. Run by scripts/bench.sh.
//
//   bench_agent [seconds]     (default 60: the span processor time is measured over)
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "handle.h"
#include "pipe.h"
#include "protocol.h"
#include "this_program.h"

namespace {

struct Child {
  Child(const char *name) : label(name) {}
  const char *label;
  mjw_process_information pi;
  bool started = false;
};

bool start(Child &c, const std::wstring &exe, const std::wstring &args) {
  std::wstring line = L"\"" + exe + L"\" " + args;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  mjw_file nul(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  SetHandleInformation(nul.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul.get();
  si.hStdOutput = nul.get();
  si.hStdError = nul.get();
  c.started = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                             &c.pi) != 0;
  if (!c.started) std::printf("%s: cannot start (error %lu)\n", c.label, GetLastError());
  return c.started;
}

DWORD WINAPI wait_for_event(void *event) { return WaitForSingleObject(event, INFINITE); }

SIZE_T working_set_of_this_process() {
  PROCESS_MEMORY_COUNTERS m = {};
  m.cb = sizeof m;
  GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
  return m.WorkingSetSize;
}

// What one idle thread adds to a process's working set: the agent's threads
// (its UI, its pipe, its icon and the DLL's worker) each cost this much.
double idle_thread_cost() {
  mjw_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SIZE_T before = working_set_of_this_process();
  mjw_handle thread(
      CreateThread(nullptr, 64 * 1024, wait_for_event, event.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  Sleep(500);
  SIZE_T after = working_set_of_this_process();
  SetEvent(event.get());
  WaitForSingleObject(thread.get(), INFINITE);
  return static_cast<double>(after) - static_cast<double>(before);
}

// Kernel plus user time in 100 ns units.
ULONGLONG cpu_time(const Child &c) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(c.pi.hProcess, &created, &exited, &kernel, &user)) return 0;
  ULARGE_INTEGER k, u;
  k.LowPart = kernel.dwLowDateTime;
  k.HighPart = kernel.dwHighDateTime;
  u.LowPart = user.dwLowDateTime;
  u.HighPart = user.dwHighDateTime;
  return k.QuadPart + u.QuadPart;
}

// Committed private memory, summed over the process's regions (Wine leaves
// PrivateUsage unset).
SIZE_T committed_private(HANDLE process) {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION mbi;
  for (const char *p = nullptr; VirtualQueryEx(process, p, &mbi, sizeof mbi) == sizeof mbi;
       p = static_cast<const char *>(mbi.BaseAddress) + mbi.RegionSize) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
    if (mbi.RegionSize == 0) break;
  }
  return total;
}

double kib(SIZE_T bytes) { return static_cast<double>(bytes) / 1024.0; }

// The agent's reply line to a request (the agent may still be starting: it
// is asked for up to 20 s), or "" when none came.
std::string pipe_request(const char *request) {
  char reply[MJH_REPLY_MAX + 1];
  for (int i = 0; i < 200; ++i) {
    if (mjw_pipe_call(request, reply, sizeof reply, 5000, nullptr, nullptr) == MJW_CALL_OK) return reply;
    Sleep(100);
  }
  return "";
}

double ms_since(LARGE_INTEGER start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// How soon the running agent follows a policy written to the registry and
// nothing else (no refresh broadcast): the user's Allowed 0 in a key made for
// it, then that key removed, five times each; the agent's state asked over
// the pipe until it says so. A user who has policies of their own keeps
// them: nothing is measured then.
void policy_follow_times() {
  const wchar_t key_name[] = L"Software\\Policies\\Veltrano\\Mouse Jiggler";
  mjw_key key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key_name, 0, KEY_READ, key.receive()) == ERROR_SUCCESS) {
    std::printf("a policy written to the registry: not measured, this user has policies\n");
    return;
  }
  double times[10];
  int count = 0;
  for (int i = 0; i < 10; ++i) {
    const bool off = i % 2 == 0;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (off) {
      const DWORD zero = 0;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, key_name, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(), nullptr) !=
          ERROR_SUCCESS)
        break;
      RegSetValueExW(key.get(), L"Allowed", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&zero), sizeof zero);
      key.reset();
    } else {
      RegDeleteTreeW(HKEY_CURRENT_USER, key_name);
      RegDeleteKeyW(HKEY_CURRENT_USER, key_name);
    }
    char reply[MJH_REPLY_MAX + 1];
    bool followed = false;
    while (!followed && ms_since(start) < 10000) {
      followed = mjw_pipe_call("{\"cmd\":\"status\"}\n", reply, sizeof reply, 5000, nullptr, nullptr) == MJW_CALL_OK &&
                 (std::strstr(reply, "\"state\":\"stopped\"") != nullptr) == off;
    }
    if (!followed) {
      std::printf("a policy written to the registry: not followed within 10 s\n");
      break;
    }
    times[count++] = ms_since(start);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, key_name);
  RegDeleteKeyW(HKEY_CURRENT_USER, key_name);
  if (count == 0) return;
  std::sort(times, times + count);
  std::printf("a policy written to the registry, followed after: min %.1f ms, median %.1f ms, max %.1f ms (n = %d)\n",
              times[0], times[count / 2], times[count - 1], count);
}

}  // namespace

int main(int argc, char **argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  if (seconds < 5) seconds = 5;

  static const struct {
    const wchar_t *name;
    int goal_kib;
  } k_hosts[] = {{L"mjtray.exe", 128}, {L"mjctl.exe", 96}};
  for (const auto &host : k_hosts) {
    WIN32_FILE_ATTRIBUTE_DATA file;
    if (GetFileAttributesExW(beside_this_program(host.name).c_str(), GetFileExInfoStandard, &file))
      std::printf("%ls (stripped): %lu bytes = %.1f KiB (goal at most %d KiB)\n", host.name, file.nFileSizeLow,
                  kib(file.nFileSizeLow), host.goal_kib);
  }

  enum { AGENT, MJCTL, MINIMAL, WORKER, CHILDREN };
  Child children[CHILDREN] = {
      {"mjtray (agent, run waiting)"}, {"mjctl run (waiting)"}, {"minimal window program"}, {"the DLL's worker alone"}};
  if (!start(children[0], beside_this_program(L"mjtray.exe"), L"")) return 1;
  std::string reply = pipe_request(
      "{\"cmd\":\"start\",\"options\":{\"mode\":\"zen\",\"interval_s\":3600,\"only_when_idle\":true,"
      "\"keep_awake\":false}}\n");
  if (reply.find("\"ok\":true") == std::string::npos) {
    std::printf("the agent did not start a run: %s\n", reply.c_str());
    return 1;
  }
  start(children[MJCTL], beside_this_program(L"mjctl.exe"), L"run --interval 3600");
  start(children[MINIMAL], beside_this_program(L"bench_min_window.exe"), L"");
  start(children[WORKER], beside_this_program(L"bench_dll_worker.exe"), L"");

  Sleep(5000);  // past the start-up work of all three
  ULONGLONG before[CHILDREN], after[CHILDREN];
  // The marker lines let scripts/bench.sh read the same span from the
  // Linux side (/proc), since Wine's GetProcessTimes hardly follows other
  // processes.
  for (int i = 0; i < CHILDREN; ++i) before[i] = cpu_time(children[i]);
  std::printf("measuring for %d s\n", seconds);
  std::fflush(stdout);
  ULONGLONG t0 = GetTickCount64();
  Sleep(static_cast<DWORD>(seconds) * 1000);
  double elapsed_min = static_cast<double>(GetTickCount64() - t0) / 60000.0;
  for (int i = 0; i < CHILDREN; ++i) after[i] = cpu_time(children[i]);
  std::printf("measured\n");
  std::fflush(stdout);

  std::printf("over %.1f s, a run waiting with interval 3600 s:\n", elapsed_min * 60.0);
  std::printf("%-30s %20s %14s %14s %14s\n", "", "cpu ms/min (Windows)", "working set", "pagefile", "private");
  SIZE_T working_set[CHILDREN] = {};
  for (int i = 0; i < CHILDREN; ++i) {
    PROCESS_MEMORY_COUNTERS_EX m = {};
    m.cb = sizeof m;
    GetProcessMemoryInfo(children[i].pi.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&m), sizeof m);
    std::printf("%-30s %20.2f %10.0f KiB %10.0f KiB %10.0f KiB\n", children[i].label,
                static_cast<double>(after[i] - before[i]) / 1e4 / elapsed_min, kib(m.WorkingSetSize),
                kib(m.PagefileUsage), kib(committed_private(children[i].pi.hProcess)));
    working_set[i] = m.WorkingSetSize;
  }
  std::printf("(a clock step of GetProcessTimes is 15.625 ms on Windows)\n");
  std::printf("the agent's working set beside the minimal program's: %+.0f KiB (goal at most +4096 KiB)\n",
              kib(working_set[AGENT]) - kib(working_set[MINIMAL]));

  std::printf("one more thread that only waits, in this process: %+.0f KiB of working set\n",
              idle_thread_cost() / 1024.0);

  policy_follow_times();

  pipe_request("{\"cmd\":\"quit\"}\n");
  WaitForSingleObject(children[0].pi.hProcess, 10000);
  for (int i = MJCTL; i < CHILDREN; ++i) TerminateProcess(children[i].pi.hProcess, 0);
  return 0;
}
