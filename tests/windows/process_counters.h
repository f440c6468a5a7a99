// What a host process holds, counted in ways that Wine answers honestly:
//   handles  entries of this process in NtQuerySystemInformation's
//            SystemHandleInformation (Wine answers 0 to GetProcessHandleCount
//            and to ProcessHandleCount);
//   threads  a toolhelp snapshot of the threads whose owner is this process;
//   private  committed private memory, summed over VirtualQuery's regions
//            (Wine leaves PrivateUsage of GetProcessMemoryInfo unset);
//   pagefile PagefileUsage of GetProcessMemoryInfo, which Wine fills from the
//            anonymous memory that the process has touched;
//   working  WorkingSetSize of GetProcessMemoryInfo.
#ifndef MJ_PROCESS_COUNTERS_H
#define MJ_PROCESS_COUNTERS_H

#include <windows.h>
// The two headers below need windows.h first.
#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

#include "handle.h"

struct process_counters {
  long handles;  // -1 when the system would not tell
  long threads;
  size_t private_bytes;
  size_t pagefile_bytes;
  size_t working_set_bytes;
};

// SystemHandleInformation (16): a count, then one entry per open handle of
// every process.
struct mj_handle_entry {
  ULONG pid;
  BYTE type;
  BYTE flags;
  USHORT value;
  PVOID object;
  ACCESS_MASK access;
};

inline long count_handles(void) {
  typedef LONG(NTAPI * query_fn)(ULONG, PVOID, ULONG, PULONG);
  FARPROC p = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
  if (p == nullptr) return -1;
  query_fn query;
  memcpy(&query, &p, sizeof p);
  const LONG k_length_mismatch = (LONG)0xC0000004L;
  std::vector<char> buf(1 << 20);
  for (;;) {
    ULONG needed = 0;
    LONG status = query(16, buf.data(), (ULONG)buf.size(), &needed);
    if (status == k_length_mismatch) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (status != 0) return -1;
    break;
  }
  ULONG n;
  memcpy(&n, buf.data(), sizeof n);
  const mj_handle_entry *e = (const mj_handle_entry *)(buf.data() + sizeof(ULONG_PTR));
  long mine = 0;
  for (ULONG i = 0; i < n; i++)
    if (e[i].pid == GetCurrentProcessId()) mine++;
  return mine;
}

inline long count_threads(void) {
  mjw_file snap(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snap) return -1;
  THREADENTRY32 te;
  te.dwSize = sizeof te;
  long n = 0;
  for (BOOL ok = Thread32First(snap.get(), &te); ok; ok = Thread32Next(snap.get(), &te))
    if (te.th32OwnerProcessID == GetCurrentProcessId()) n++;
  return n;
}

inline size_t committed_private_bytes(void) {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION mbi;
  for (const char *p = nullptr; VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi;
       p = (const char *)mbi.BaseAddress + mbi.RegionSize) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
  }
  return total;
}

// The handle count is taken first: the snapshot of the thread count holds a
// handle while it is taken.
inline process_counters take_process_counters(void) {
  process_counters c;
  c.handles = count_handles();
  c.threads = count_threads();
  c.private_bytes = committed_private_bytes();
  PROCESS_MEMORY_COUNTERS pm;
  pm.cb = sizeof pm;
  c.pagefile_bytes = K32GetProcessMemoryInfo(GetCurrentProcess(), &pm, sizeof pm) ? pm.PagefileUsage : 0;
  c.working_set_bytes = K32GetProcessMemoryInfo(GetCurrentProcess(), &pm, sizeof pm) ? pm.WorkingSetSize : 0;
  return c;
}

#endif
