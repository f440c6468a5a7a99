// The platform services on Windows: thin calls into kernel32 and user32.
#include "platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static_assert(sizeof(mjp_once) >= sizeof(INIT_ONCE), "once storage too small");
static_assert(sizeof(mjp_lock) >= sizeof(CRITICAL_SECTION), "lock storage too small");
static_assert(sizeof(INPUT) == 40, "SendInput record size");
static_assert(sizeof(LASTINPUTINFO) == 8, "LASTINPUTINFO size");

int64_t mjp_tick64(void) { return (int64_t)GetTickCount64(); }

uint32_t mjp_tick32(void) { return (uint32_t)GetTickCount(); }

int mjp_last_input_tick(uint32_t *tick) {
  LASTINPUTINFO info;
  info.cbSize = 8;
  info.dwTime = 0;
  if (!GetLastInputInfo(&info)) return 0;
  *tick = (uint32_t)info.dwTime;
  return 1;
}

int mjp_inject_move(int32_t dx, int32_t dy, uint32_t *err) {
  INPUT in;
  ZeroMemory(&in, sizeof in);
  in.type = INPUT_MOUSE;
  in.mi.dx = dx;
  in.mi.dy = dy;
  in.mi.dwFlags = MOUSEEVENTF_MOVE;
  SetLastError(0);
  if (SendInput(1, &in, 40) == 1) return 1;
  *err = (uint32_t)GetLastError();
  return 0;
}

// INIT_ONCE runs a callback of its own shape; the caller's init() travels in
// the parameter.
static BOOL CALLBACK once_trampoline(PINIT_ONCE, PVOID param, PVOID *) {
  void (*init)(void);
  CopyMemory(&init, &param, sizeof init);
  init();
  return TRUE;
}

void mjp_once_run(mjp_once *once, void (*init)(void)) {
  PVOID param;
  CopyMemory(&param, &init, sizeof param);
  InitOnceExecuteOnce((PINIT_ONCE)once, once_trampoline, param, NULL);
}

void mjp_lock_init(mjp_lock *lock) { InitializeCriticalSection((CRITICAL_SECTION *)lock); }
void mjp_lock_enter(mjp_lock *lock) { EnterCriticalSection((CRITICAL_SECTION *)lock); }
void mjp_lock_leave(mjp_lock *lock) { LeaveCriticalSection((CRITICAL_SECTION *)lock); }

mjp_event *mjp_event_create(void) { return (mjp_event *)CreateEventA(NULL, TRUE, FALSE, NULL); }

void mjp_event_set(mjp_event *event) { SetEvent((HANDLE)event); }

int mjp_event_wait(mjp_event *event, uint32_t timeout_ms) {
  return WaitForSingleObject((HANDLE)event, timeout_ms) == WAIT_OBJECT_0;
}

void mjp_event_close(mjp_event *event) { CloseHandle((HANDLE)event); }

// A thread of the library holds a reference on the library's module for its
// whole life and drops it as it exits. A host that unloads the library while a
// run is active so leaves the module mapped under the running worker instead
// of pulling the code out from under it; loading it again reaches the same run.
static HMODULE this_module(DWORD flags) {
  HMODULE module = NULL;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags, (LPCWSTR)(void *)&this_module, &module);
  return module;
}

int mjp_module_reference(void) { return this_module(0) != NULL; }

void mjp_module_release(void) { FreeLibrary(this_module(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)); }

static DWORD WINAPI holding_trampoline(LPVOID param) {
  void (*entry)(void);
  CopyMemory(&entry, &param, sizeof entry);
  entry();
  FreeLibraryAndExitThread(this_module(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT), 0);
}

static DWORD WINAPI plain_trampoline(LPVOID param) {
  void (*entry)(void);
  CopyMemory(&entry, &param, sizeof entry);
  entry();
  return 0;
}

mjp_thread *mjp_thread_start(void (*entry)(void), int holds_module) {
  LPVOID param;
  CopyMemory(&param, &entry, sizeof param);
  return (mjp_thread *)CreateThread(NULL, 0, holds_module ? holding_trampoline : plain_trampoline, param, 0, NULL);
}

void mjp_thread_join(mjp_thread *thread) {
  WaitForSingleObject((HANDLE)thread, INFINITE);
  CloseHandle((HANDLE)thread);
}
