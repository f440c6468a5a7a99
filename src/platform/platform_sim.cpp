// The platform services simulated for native builds: clocks and desktop under
// test control, real locks, events and threads. See sim_control.h.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

#include "platform.h"
#include "sim_control.h"

namespace {

struct scripted_result {
  int ok;
  uint32_t err;
};

struct sim_state {
  int64_t tick64;
  uint32_t tick32;
  int last_input_ok;
  uint32_t last_input;
  int64_t idle_after_injection;  // or SIM_INPUT_UNCHANGED / SIM_INPUT_UNAVAILABLE
  std::deque<scripted_result> script;
  std::vector<sim_injection> log;
  int hold;
  int blocked;
  int fail_event;
  int fail_thread;
  int refuse_module;
  int module_refs;
  int open_handles;
  uint64_t wait_seq;  // number of timed waits begun
  uint64_t kick_seq;  // waits up to this number end as a time-out
  int waiting;        // threads blocked in a timed wait
  int manual_waits;   // timed waits end only by the event or a test
};

const int64_t k_start_tick = 10000000;
const auto k_test_limit = std::chrono::seconds(5);

std::mutex mu;  // guards st and every event's flag
std::condition_variable cv;
sim_state st = {
    k_start_tick, (uint32_t)k_start_tick, 1, (uint32_t)k_start_tick, 0, {}, {}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

thread_local int t_holds_lock = 0;

void require_lock_free(const char *what) {
  if (t_holds_lock) {
    fprintf(stderr, "platform_sim: %s while holding the lock\n", what);
    abort();
  }
}

}  // namespace

struct mjp_event {
  bool signalled;
};

struct mjp_thread {
  std::thread thread;
};

// ---- Test controls ----------------------------------------------------------

void sim_reset(void) {
  std::lock_guard<std::mutex> g(mu);
  st.tick64 = k_start_tick;
  st.tick32 = (uint32_t)k_start_tick;
  st.last_input_ok = 1;
  st.last_input = st.tick32;
  st.idle_after_injection = 0;
  st.script.clear();
  st.log.clear();
  st.hold = 0;
  st.manual_waits = 0;
  st.fail_event = 0;
  st.fail_thread = 0;
  st.refuse_module = 0;
  cv.notify_all();
}

void sim_set_tick64(int64_t ms) {
  std::lock_guard<std::mutex> g(mu);
  st.tick64 = ms;
}

void sim_set_tick32(uint32_t ms) {
  std::lock_guard<std::mutex> g(mu);
  st.tick32 = ms;
}

void sim_advance_ms(int64_t ms) {
  std::lock_guard<std::mutex> g(mu);
  st.tick64 += ms;
  st.tick32 += (uint32_t)ms;
}

int64_t sim_tick64(void) {
  std::lock_guard<std::mutex> g(mu);
  return st.tick64;
}

void sim_set_last_input(uint32_t tick32) {
  std::lock_guard<std::mutex> g(mu);
  st.last_input_ok = 1;
  st.last_input = tick32;
}

void sim_set_idle_ms(uint32_t idle_ms) {
  std::lock_guard<std::mutex> g(mu);
  st.last_input_ok = 1;
  st.last_input = st.tick32 - idle_ms;
}

void sim_set_last_input_unavailable(void) {
  std::lock_guard<std::mutex> g(mu);
  st.last_input_ok = 0;
}

void sim_script_injection(int ok, uint32_t err) {
  std::lock_guard<std::mutex> g(mu);
  st.script.push_back({ok, err});
}

void sim_set_idle_after_injection(int64_t idle_ms) {
  std::lock_guard<std::mutex> g(mu);
  st.idle_after_injection = idle_ms;
}

std::vector<sim_injection> sim_injections(void) {
  std::lock_guard<std::mutex> g(mu);
  return st.log;
}

void sim_hold_injections(void) {
  std::lock_guard<std::mutex> g(mu);
  st.hold = 1;
}

int sim_wait_injection_blocked(void) {
  std::unique_lock<std::mutex> g(mu);
  return cv.wait_for(g, k_test_limit, [] { return st.blocked > 0; });
}

void sim_release_injections(void) {
  std::lock_guard<std::mutex> g(mu);
  st.hold = 0;
  cv.notify_all();
}

void sim_fail_next_event_create(void) {
  std::lock_guard<std::mutex> g(mu);
  st.fail_event = 1;
}

void sim_fail_next_thread_start(void) {
  std::lock_guard<std::mutex> g(mu);
  st.fail_thread = 1;
}

void sim_refuse_module_reference(int on) {
  std::lock_guard<std::mutex> g(mu);
  st.refuse_module = on;
}

int sim_module_references(void) {
  std::lock_guard<std::mutex> g(mu);
  return st.module_refs;
}

int sim_open_handles(void) {
  std::lock_guard<std::mutex> g(mu);
  return st.open_handles;
}

int sim_wait_for_waiter(void) {
  std::unique_lock<std::mutex> g(mu);
  return cv.wait_for(g, k_test_limit, [] { return st.waiting > 0; });
}

void sim_set_manual_waits(int on) {
  std::lock_guard<std::mutex> g(mu);
  st.manual_waits = on;
  cv.notify_all();
}

static int end_wait(std::unique_lock<std::mutex> &g, uint64_t *seq) {
  if (!cv.wait_for(g, k_test_limit, [] { return st.waiting > 0; })) return 0;
  *seq = st.wait_seq;
  st.kick_seq = *seq;
  cv.notify_all();
  return 1;
}

int sim_end_wait(void) {
  std::unique_lock<std::mutex> g(mu);
  uint64_t seq;
  return end_wait(g, &seq);
}

int sim_run_pass(void) {
  std::unique_lock<std::mutex> g(mu);
  uint64_t seq;
  if (!end_wait(g, &seq)) return 0;
  return cv.wait_for(g, k_test_limit, [seq] { return st.wait_seq > seq && st.waiting > 0; });
}

void sim_kick_waits(void) {
  std::lock_guard<std::mutex> g(mu);
  st.kick_seq = st.wait_seq;
  cv.notify_all();
}

// ---- Platform services ------------------------------------------------------

int64_t mjp_tick64(void) {
  std::lock_guard<std::mutex> g(mu);
  return st.tick64;
}

uint32_t mjp_tick32(void) {
  std::lock_guard<std::mutex> g(mu);
  return st.tick32;
}

int mjp_last_input_tick(uint32_t *tick) {
  require_lock_free("idle query");
  std::lock_guard<std::mutex> g(mu);
  if (!st.last_input_ok) return 0;
  *tick = st.last_input;
  return 1;
}

int mjp_inject_move(int32_t dx, int32_t dy, uint32_t *err) {
  require_lock_free("injection");
  std::unique_lock<std::mutex> g(mu);
  if (st.hold) {
    st.blocked++;
    cv.notify_all();
    cv.wait(g, [] { return !st.hold; });
    st.blocked--;
  }
  int ok = 1;
  uint32_t code = 0;
  if (!st.script.empty()) {
    ok = st.script.front().ok;
    code = st.script.front().err;
    st.script.pop_front();
  }
  st.log.push_back({dx, dy, ok});
  if (!ok) {
    *err = code;
    return 0;
  }
  if (st.idle_after_injection == SIM_INPUT_UNAVAILABLE) {
    st.last_input_ok = 0;
  } else if (st.idle_after_injection != SIM_INPUT_UNCHANGED) {
    st.last_input_ok = 1;
    st.last_input = st.tick32 - (uint32_t)st.idle_after_injection;
  }
  return 1;
}

static std::mutex once_mu;

void mjp_once_run(mjp_once *once, void (*init)(void)) {
  std::lock_guard<std::mutex> g(once_mu);
  if (once->opaque[0] == nullptr) {
    init();
    once->opaque[0] = once;
  }
}

static_assert(sizeof(std::mutex) <= sizeof(mjp_lock), "lock storage too small");
static_assert(alignof(std::mutex) <= alignof(mjp_lock), "lock storage misaligned");

void mjp_lock_init(mjp_lock *lock) { new (lock->opaque) std::mutex(); }

void mjp_lock_enter(mjp_lock *lock) {
  if (t_holds_lock) {
    fprintf(stderr, "platform_sim: lock re-entered\n");
    abort();
  }
  std::launder(reinterpret_cast<std::mutex *>(lock->opaque))->lock();
  t_holds_lock = 1;
}

void mjp_lock_leave(mjp_lock *lock) {
  t_holds_lock = 0;
  std::launder(reinterpret_cast<std::mutex *>(lock->opaque))->unlock();
}

mjp_event *mjp_event_create(void) {
  std::lock_guard<std::mutex> g(mu);
  if (st.fail_event) {
    st.fail_event = 0;
    return nullptr;
  }
  st.open_handles++;
  return new mjp_event{false};
}

void mjp_event_set(mjp_event *event) {
  std::lock_guard<std::mutex> g(mu);
  event->signalled = true;
  cv.notify_all();
}

int mjp_event_wait(mjp_event *event, uint32_t timeout_ms) {
  require_lock_free("event wait");
  std::unique_lock<std::mutex> g(mu);
  uint64_t seq = ++st.wait_seq;
  st.waiting++;
  cv.notify_all();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  auto done = [event, seq] { return event->signalled || st.kick_seq >= seq; };
  while (!done()) {
    if (st.manual_waits)
      cv.wait(g);
    else if (cv.wait_until(g, deadline) == std::cv_status::timeout)
      break;
  }
  st.waiting--;
  return event->signalled ? 1 : 0;
}

void mjp_event_close(mjp_event *event) {
  std::lock_guard<std::mutex> g(mu);
  st.open_handles--;
  delete event;
}

int mjp_module_reference(void) {
  std::lock_guard<std::mutex> g(mu);
  if (st.refuse_module) return 0;
  st.module_refs++;
  return 1;
}

void mjp_module_release(void) {
  std::lock_guard<std::mutex> g(mu);
  if (st.module_refs <= 0) {
    fprintf(stderr, "platform_sim: module reference released that was never taken\n");
    abort();
  }
  st.module_refs--;
}

mjp_thread *mjp_thread_start(void (*entry)(void), int holds_module) {
  {
    std::lock_guard<std::mutex> g(mu);
    if (st.fail_thread) {
      st.fail_thread = 0;
      return nullptr;
    }
    st.open_handles++;
  }
  return new mjp_thread{std::thread([entry, holds_module] {
    entry();
    if (holds_module) mjp_module_release();
  })};
}

void mjp_thread_join(mjp_thread *thread) {
  require_lock_free("thread join");
  thread->thread.join();
  delete thread;
  std::lock_guard<std::mutex> g(mu);
  st.open_handles--;
}
