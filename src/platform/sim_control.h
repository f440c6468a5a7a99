// Controls of the simulated platform (platform_sim.cpp), for native tests.
//
// The simulated desktop has two clocks that only move when a test moves them,
// a last-input tick that a test sets (or makes unanswerable), a script of
// injection results, and switches that make event or thread creation fail.
// Locks, once-records, events and threads are real; a timed wait waits real
// time unless a test ends it early with sim_run_pass().
//
// The simulation also checks the library's locking rules: it aborts the
// process when a thread re-enters the lock, or waits, joins, injects or asks
// for the idle time while it holds the lock.
#ifndef MJ_SIM_CONTROL_H
#define MJ_SIM_CONTROL_H

#include <stdint.h>

#include <vector>

struct sim_injection {
  int32_t dx, dy;
  int ok;  // 1 when the event went in
};

// Back to the start state: tick64 10,000,000 and tick32 the same, the user
// idle for 0 ms, every injection succeeds and counts as user input, nothing
// fails, no injection recorded, waits in real time, module references given.
void sim_reset(void);

// Clocks. sim_advance_ms moves both; tick32 wraps at 2^32.
void sim_set_tick64(int64_t ms);
void sim_set_tick32(uint32_t ms);
void sim_advance_ms(int64_t ms);
int64_t sim_tick64(void);

// Last input: an exact tick, an idle time relative to tick32, or no answer.
void sim_set_last_input(uint32_t tick32);
void sim_set_idle_ms(uint32_t idle_ms);
void sim_set_last_input_unavailable(void);

// Injections. Results are taken from the script first; once it is empty every
// injection succeeds. After a successful injection the idle time is
// idle_ms (0 at the start: the event counts as user input), or the last input
// is left as it was, or the idle query gives no answer.
enum { SIM_INPUT_UNCHANGED = -1, SIM_INPUT_UNAVAILABLE = -2 };
void sim_script_injection(int ok, uint32_t err);
void sim_set_idle_after_injection(int64_t idle_ms);
std::vector<sim_injection> sim_injections(void);

// While held, every injection blocks until released; a test can so catch the
// worker in the middle of a nudge.
void sim_hold_injections(void);
int sim_wait_injection_blocked(void);  // 1 once a thread is blocked, 0 after 5 s
void sim_release_injections(void);

// The next event creation or thread start fails.
void sim_fail_next_event_create(void);
void sim_fail_next_thread_start(void);

// Events and threads created and not yet closed or joined.
int sim_open_handles(void);

// The library's module references: while refused, mjp_module_reference
// fails. sim_module_references counts those taken and not yet dropped, by the
// library or by a holding thread as it ends.
void sim_refuse_module_reference(int on);
int sim_module_references(void);

// Worker stepping. With manual waits on, a timed wait ends only when its event
// is signalled or a test ends it, so the worker makes a pass exactly when a
// test says. sim_wait_for_waiter waits until a thread is blocked in a timed
// wait (1) or 5 s have passed (0). sim_end_wait ends that wait as a time-out.
// sim_run_pass does the same and returns 1 once the thread is blocked in its
// next wait, 0 if it does not get there within 5 s (it ended, for instance).
void sim_set_manual_waits(int on);
int sim_wait_for_waiter(void);
int sim_end_wait(void);
int sim_run_pass(void);
// Ends every timed wait under way as a time-out and returns at once, whether
// or not a thread was waiting: a stress test so makes the worker pass often.
void sim_kick_waits(void);

#endif
