// The operating-system services the library needs, and nothing more.
//
// The library's logic (mouse_jiggler.cpp) includes no system header: every
// clock read, input query, injection, lock, event and thread goes through the
// functions below. platform_win32.cpp implements them with Win32 for the real
// DLL; platform_sim.cpp implements them for native builds, where tests drive
// the clocks, the desktop and the failures (see sim_control.h).
//
// Every function may be called from any thread.
#ifndef MJ_PLATFORM_H
#define MJ_PLATFORM_H

#include <stdint.h>

// ---- Clocks -----------------------------------------------------------------

// Milliseconds since system start, 64-bit, never decreasing (GetTickCount64).
// The one clock of the schedule.
int64_t mjp_tick64(void);

// The same count as 32 bits, wrapping at 2^32 (GetTickCount). The time base of
// mjp_last_input_tick; used only for idle arithmetic.
uint32_t mjp_tick32(void);

// ---- Desktop input ----------------------------------------------------------

// The 32-bit tick of the last user input to the desktop (GetLastInputInfo with
// cbSize 8). Returns 1 and stores the tick, or returns 0 when the platform
// gives no answer.
int mjp_last_input_tick(uint32_t *tick);

// Injects one relative mouse move of dx, dy pixels (0, 0 for a move that
// leaves the pointer where it is): the thread's last-error value is set to 0,
// then SendInput is called with one INPUT record of size 40. Returns 1 when
// the event went in; else 0, with the platform's error code (0 when it set
// none) stored in *err.
int mjp_inject_move(int32_t dx, int32_t dy, uint32_t *err);

// ---- One-time initialisation and the lock -----------------------------------

// Storage for a once-record and a lock, kept by the caller in static storage.
// Zeroed storage is a once-record that has not run yet.
typedef struct mjp_once {
  void *opaque[1];
} mjp_once;
typedef struct mjp_lock {
  void *opaque[8];
} mjp_lock;

// Runs init() exactly once per once-record and process; callers that arrive
// while it runs wait until it has finished.
void mjp_once_run(mjp_once *once, void (*init)(void));

// The lock admits one thread at a time. It must be initialised (once) before
// use and is never destroyed. A thread never takes it while holding it.
void mjp_lock_init(mjp_lock *lock);
void mjp_lock_enter(mjp_lock *lock);
void mjp_lock_leave(mjp_lock *lock);

// ---- Events and threads -----------------------------------------------------

typedef struct mjp_event mjp_event;
typedef struct mjp_thread mjp_thread;

// A manual-reset event, created unsignalled (CreateEventA). Null on failure.
mjp_event *mjp_event_create(void);
// Signals the event; it stays signalled.
void mjp_event_set(mjp_event *event);
// Waits at most timeout_ms for the event. Returns 1 when it is signalled, 0 on
// time-out or failure of the wait.
int mjp_event_wait(mjp_event *event, uint32_t timeout_ms);
void mjp_event_close(mjp_event *event);

// Takes a reference on the library's own module (GetModuleHandleExW) for a
// thread to hold, so that a host unloading the library while the thread runs
// leaves its code mapped. Returns 1 when taken, 0 when the platform refuses.
int mjp_module_reference(void);
// Drops a reference taken by mjp_module_reference (FreeLibrary).
void mjp_module_release(void);

// Starts a thread that runs entry() at once (CreateThread). With holds_module
// 1 the thread owns one module reference of the caller's and drops it as it
// exits (FreeLibraryAndExitThread); with 0 it ends as a plain thread. Null on
// failure, and the reference then stays the caller's.
mjp_thread *mjp_thread_start(void (*entry)(void), int holds_module);
// Waits without a time limit for the thread to end, then releases its handle.
void mjp_thread_join(mjp_thread *thread);

#endif
