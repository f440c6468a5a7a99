// veltrano-mouse-jiggler: the whole library in one unit.
//
// Read top to bottom: shared state, bounded formatting and the lock, the
// options reader, idle time, the nudge, run control and the worker, the
// status line, and the small exports. Plain procedures over static state: no
// classes, no heap. Every operating-system service comes from platform.h.
#include "mouse_jiggler.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "mouse_jiggler_internal.h"
#include "platform/platform.h"

// ---- Shared state -----------------------------------------------------------
//
// One process-wide state, zero at load but for g_last_reset. Everything from
// g_opts down is written under g_mu, and the library reads it under g_mu too;
// the host alone reads two texts without the lock, as the header allows: the
// error text (mj_last_error) and the status line mj_status returned, each
// valid until the next call that rewrites it. The run-control values are
// written by mj_start and stop_worker alone, which the host never calls at the
// same time; g_stop and g_active are also read elsewhere without the lock.
//
// A name ending in _locked is a procedure its caller calls with g_mu held.

const mj_opts k_default_opts = {MJ_MODE_ZEN, 60, 1, 1, 1, 0};

static const char k_version[] = MJ_VERSION_STRING;
static const char k_msg_not_object[] = "options must be a JSON object";
static const char k_msg_bad_mode[] = "mode must be \"zen\" or \"move\"";

enum { METHOD_SIZE = 48, KEY_SIZE = 64, ERR_SIZE = 512, STATUS_SIZE = 1024 };
static const int64_t k_max_i32 = 2147483647;

static mjp_once g_once;
static mjp_lock g_mu;

static mjp_event *g_stop_evt;
static mjp_thread *g_thread;
static std::atomic<int32_t> g_stop;
static std::atomic<int32_t> g_active;

static mj_opts g_opts;
static int64_t g_started_ms;
static int64_t g_last_nudge_ms;
static int64_t g_last_skip_ms;
static int64_t g_nudges;
static int64_t g_skipped;
static int64_t g_failed;
static int32_t g_flip;
static int32_t g_last_reset = -1;
static char g_last_method[METHOD_SIZE];
static char g_err[ERR_SIZE];
static char g_status[STATUS_SIZE];

// ---- Bounded formatting and the lock ----------------------------------------

// Format checks where the compiler knows the attribute.
#if defined(__MINGW_PRINTF_FORMAT)
#define MJ_PRINTF(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define MJ_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define MJ_PRINTF(f, a)
#endif

// Writes at most size - 1 bytes and always a NUL; the rest is dropped.
static void fmt(char *buf, size_t size, const char *format, ...) MJ_PRINTF(3, 4);
static void fmt(char *buf, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buf, size, format, args);
  va_end(args);
  if (n < 0) buf[0] = '\0';
}

static void mj_once_cb(void) { mjp_lock_init(&g_mu); }

static void init_once(void) { mjp_once_run(&g_once, mj_once_cb); }

static void lock(void) { mjp_lock_enter(&g_mu); }

static void unlock(void) { mjp_lock_leave(&g_mu); }

// Takes the lock itself.
static void set_error(const char *text) {
  lock();
  fmt(g_err, sizeof g_err, "%s", text);
  unlock();
}

// ---- Options reader ---------------------------------------------------------
//
// Not a JSON parser: the text must open with a brace, and each key is found by
// a flat byte search for the quoted key followed by a colon. Nesting, commas
// and escapes play no part; the first qualifying occurrence wins.

static int is_space(char c) { return isspace((unsigned char)c) != 0; }

static const char *skip_space(const char *p) {
  while (is_space(*p)) p++;
  return p;
}

const char *json_find(const char *text, const char *key) {
  size_t n = strlen(key);
  if (text == nullptr || n + 3 > KEY_SIZE) return nullptr;
  char quoted[KEY_SIZE];
  fmt(quoted, sizeof quoted, "\"%s\"", key);
  const char *from = text;
  for (;;) {
    const char *hit = strstr(from, quoted);
    if (hit == nullptr) return nullptr;
    const char *p = skip_space(hit + n + 2);
    if (*p == '\0') return nullptr;
    if (*p == ':') return skip_space(p + 1);
    from = p;
  }
}

// Truncates toward zero without undefined behaviour: values beyond the 32-bit
// range and infinities saturate; a NaN gives the fallback.
static int32_t truncate_i32(double v, int32_t nan_value) {
  if (v != v) return nan_value;
  if (v >= 2147483648.0) return INT32_MAX;
  if (v <= -2147483649.0) return INT32_MIN;
  return (int32_t)v;
}

int32_t json_int(const char *text, const char *key, int32_t def) {
  const char *v = json_find(text, key);
  if (v == nullptr) return def;
  if (strncmp(v, "true", 4) == 0) return 1;
  if (strncmp(v, "false", 5) == 0) return 0;
  if (*v == '+' || *v == '-' || (*v >= '0' && *v <= '9')) return truncate_i32(strtod(v, nullptr), def);
  return def;
}

static int32_t clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

int opts_parse(const char *text, mj_opts *opts, char *msg) {
  if (*skip_space(text) != '{') {
    fmt(msg, MJ_MSG_SIZE, "%s", k_msg_not_object);
    return 0;
  }

  mj_mode mode = static_cast<mj_mode>(opts->mode);
  const char *v = json_find(text, "mode");
  if (v != nullptr && *v == '"') {
    // At most 15 bytes up to the closing quote: longer is no mode either.
    v++;
    size_t n = 0;
    while (n < 15 && v[n] != '\0' && v[n] != '"') n++;
    if (!mj_mode_read(v, n, &mode)) {
      fmt(msg, MJ_MSG_SIZE, "%s", k_msg_bad_mode);
      return 0;
    }
  }

  opts->mode = mode;
  int32_t interval = json_int(text, "interval_s", opts->interval_s);
  opts->interval_s = interval > MJ_INTERVAL_S_MAX   ? MJ_INTERVAL_S_MAX
                     : interval < MJ_INTERVAL_S_MIN ? MJ_INTERVAL_S_MIN
                                                    : interval;
  opts->dx = clamp(json_int(text, "dx", opts->dx), MJ_MOVE_MIN, MJ_MOVE_MAX);
  opts->dy = clamp(json_int(text, "dy", opts->dy), MJ_MOVE_MIN, MJ_MOVE_MAX);
  opts->only_when_idle = json_int(text, "only_when_idle", opts->only_when_idle) != 0;
  opts->dry_run = json_int(text, "dry_run", opts->dry_run) != 0;
  if (opts->mode == MJ_MODE_MOVE && opts->dx == 0 && opts->dy == 0) opts->dx = 1;
  return 1;
}

// Fills *opts from an options text of a host: null or empty keeps the
// defaults. A rejection lands in g_err and returns 0.
static int read_options(const char *text, mj_opts *opts) {
  *opts = k_default_opts;
  if (text == nullptr || text[0] == '\0') return 1;
  char msg[MJ_MSG_SIZE] = {0};
  if (opts_parse(text, opts, msg)) return 1;
  set_error(msg);
  return 0;
}

// ---- Idle time --------------------------------------------------------------

// The difference is taken as unsigned 32 bits, so a wrap of the 32-bit tick
// between the last input and now is harmless.
int64_t idle_ms_now(void) {
  uint32_t last;
  if (!mjp_last_input_tick(&last)) return -1;
  return (int64_t)(uint32_t)(mjp_tick32() - last);
}

extern "C" int mj_idle_ms(void) {
  int64_t idle = idle_ms_now();
  return idle > k_max_i32 ? (int)k_max_i32 : (int)idle;
}

// ---- Nudge ------------------------------------------------------------------

// One nudge attempt with the caller's options. counted is 1 for the worker's
// nudges, which enter the run's counters and schedule, and 0 for one-shot
// nudges. Returns 1 when the event went in or on a dry run, 0 on failure.
static int do_nudge(const mj_opts *opts, int counted) {
  int32_t dx = opts->dx;
  int32_t dy = opts->dy;
  if (opts->mode == MJ_MODE_MOVE) {
    lock();
    if (g_flip) {
      dx = -dx;
      dy = -dy;
    }
    g_flip = !g_flip;
    unlock();
  }

  int64_t idle_before = idle_ms_now();
  const char *method;
  if (opts->dry_run) {
    method = "dry-run";
  } else {
    uint32_t code = 0;
    int ok;
    if (opts->mode != MJ_MODE_MOVE) {
      method = "SendInput zen";
      ok = mjp_inject_move(0, 0, &code);
    } else {
      method = "SendInput move";
      ok = mjp_inject_move(dx, dy, &code);
    }
    if (!ok) {
      char msg[MJ_MSG_SIZE];
      fmt(msg, sizeof msg, "SendInput failed (err %lu) - desktop locked or not an interactive session",
          (unsigned long)code);
      lock();
      fmt(g_last_method, sizeof g_last_method, "%s", method);
      if (counted) {
        g_failed++;
        g_last_nudge_ms = mjp_tick64();
      }
      fmt(g_err, sizeof g_err, "%s", msg);
      unlock();
      return 0;
    }
  }

  int64_t idle_after = idle_ms_now();
  int32_t verdict;
  if (opts->dry_run || idle_before == -1 || idle_after == -1)
    verdict = -1;
  else
    verdict = (idle_after < idle_before || idle_after <= 999) ? 1 : 0;

  lock();
  fmt(g_last_method, sizeof g_last_method, "%s", method);
  g_last_reset = verdict;
  if (counted) {
    g_nudges++;
    g_last_nudge_ms = mjp_tick64();
  }
  unlock();
  return 1;
}

extern "C" int mj_nudge_now(const char *options_json) {
  init_once();
  mj_opts opts;
  if (!read_options(options_json, &opts)) return 0;
  return do_nudge(&opts, 0);
}

// ---- Run control and the worker ---------------------------------------------

enum { PASS_WAIT_MS = 250 };

// The latest of the run's start, last counted nudge attempt and last skip.
static int64_t reference_time_locked(void) {
  int64_t t = g_started_ms;
  if (g_last_nudge_ms > t) t = g_last_nudge_ms;
  if (g_last_skip_ms > t) t = g_last_skip_ms;
  return t;
}

static void worker_main(void) {
  lock();
  mj_opts opts = g_opts;
  unlock();
  const int64_t interval_ms = (int64_t)opts.interval_s * 1000;

  while (!g_stop.load()) {
    int64_t now = mjp_tick64();
    lock();
    int64_t ref = reference_time_locked();
    unlock();

    if (now - ref >= interval_ms) {
      int64_t idle = opts.only_when_idle ? idle_ms_now() : -1;
      if (idle != -1 && idle < interval_ms) {
        lock();
        g_skipped++;
        g_last_skip_ms = mjp_tick64();
        unlock();
      } else {
        do_nudge(&opts, 1);
      }
    }

    if (mjp_event_wait(g_stop_evt, PASS_WAIT_MS)) return;
  }
}

// Ends the worker, if any, and releases the run's handles. Never called with
// g_mu held: the worker may need the lock to finish its pass.
static void stop_worker(void) {
  if (g_thread != nullptr) {
    g_stop.store(1);
    mjp_event_set(g_stop_evt);
    mjp_thread_join(g_thread);
    g_thread = nullptr;
  }
  if (g_stop_evt != nullptr) {
    mjp_event_close(g_stop_evt);
    g_stop_evt = nullptr;
  }
  g_active.store(0);
}

extern "C" int mj_start(const char *options_json) {
  init_once();
  mj_opts opts;
  if (!read_options(options_json, &opts)) return 0;

  stop_worker();

  lock();
  g_stop.store(0);
  g_opts = opts;
  g_started_ms = mjp_tick64();
  g_last_nudge_ms = 0;
  g_last_skip_ms = 0;
  g_failed = 0;
  g_skipped = 0;
  g_nudges = 0;
  g_last_reset = -1;
  g_flip = 0;
  g_last_method[0] = '\0';
  g_err[0] = '\0';
  unlock();

  g_stop_evt = mjp_event_create();
  if (g_stop_evt == nullptr) {
    set_error("CreateEvent failed");
    return 0;
  }
  // The worker's module reference guards against an unload during the run;
  // without it the worker still runs, as a plain thread.
  int holds_module = mjp_module_reference();
  g_thread = mjp_thread_start(worker_main, holds_module);
  if (g_thread == nullptr) {
    if (holds_module) mjp_module_release();
    mjp_event_close(g_stop_evt);
    g_stop_evt = nullptr;
    set_error("CreateThread failed");
    return 0;
  }
  g_active.store(1);
  return 1;
}

extern "C" int mj_stop(void) {
  init_once();
  stop_worker();
  return 1;
}

// ---- Status line ------------------------------------------------------------

extern "C" const char *mj_status(void) {
  init_once();
  int64_t idle = idle_ms_now();

  lock();
  const mj_opts o = g_opts;
  int64_t now = mjp_tick64();
  int32_t active = g_active.load() != 0;
  int64_t next_s = -1;
  int64_t running_s = 0;
  if (active) {
    int64_t interval_ms = (int64_t)o.interval_s * 1000;
    running_s = (now - g_started_ms) / 1000;
    int64_t remaining = interval_ms - (now - reference_time_locked());
    if (remaining < 0) remaining = 0;
    if (o.only_when_idle && idle != -1 && interval_ms - idle > remaining) remaining = interval_ms - idle;
    next_s = (remaining + 999) / 1000;
  }
  int64_t since_s = -1;
  if (g_last_nudge_ms != 0 && g_nudges + g_failed > 0) since_s = (now - g_last_nudge_ms) / 1000;
  int64_t idle_s = idle == -1 ? -1 : idle / 1000;

  fmt(g_status, sizeof g_status,
      "{\"active\":%d,\"mode\":\"%s\",\"interval_s\":%d,\"dx\":%d,\"dy\":%d,\"only_when_idle\":%d,"
      "\"dry_run\":%d,\"nudges\":%lld,\"skipped\":%lld,\"failed\":%lld,\"idle_s\":%lld,"
      "\"since_last_nudge_s\":%lld,\"next_nudge_in_s\":%lld,\"running_s\":%lld,\"last_reset_idle\":%d,"
      "\"last_method\":\"%s\",\"platform\":\"%s\",\"mechanism\":\"%s\",\"version\":\"%s\"}",
      (int)active, mj_mode_name(static_cast<mj_mode>(o.mode)), (int)o.interval_s, (int)o.dx, (int)o.dy,
      (int)o.only_when_idle, (int)o.dry_run, (long long)g_nudges, (long long)g_skipped, (long long)g_failed,
      (long long)idle_s, (long long)since_s, (long long)next_s, (long long)running_s, (int)g_last_reset, g_last_method,
      "windows", "SendInput", k_version);
  unlock();
  return g_status;
}

// ---- Small exports ----------------------------------------------------------

extern "C" const char *mj_last_error(void) { return g_err; }

extern "C" const char *mj_version(void) { return k_version; }
