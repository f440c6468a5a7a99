/* veltrano-mouse-jiggler.dll 1.0.0: keeps an interactive desktop from being
 * treated as idle. This header is the whole contract for hosts, in C (C99 or
 * later) and C++.
 *
 * While a run is active, a worker thread of the library injects one tiny
 * synthetic mouse event at a fixed interval: in "zen" mode a relative move of
 * 0,0, in "move" mode a relative move of dx,dy whose direction flips every
 * time, so the pointer is back where it was after every second nudge.
 * Optionally it nudges only once the user has been idle a whole interval.
 * After each nudge it checks that the desktop's idle time went back to near
 * zero. A failed injection (desktop locked, no interactive desktop) is
 * counted and its text kept; the run goes on.
 *
 * Linking: veltrano-mouse-jiggler.dll.a (MinGW) or veltrano-mouse-jiggler.lib
 * (MSVC-style linkers), or LoadLibrary and GetProcAddress with the names
 * below (also ordinals 1 to 7 in alphabetical order of the names). Define
 * MJ_STATIC to declare the functions without __declspec(dllimport).
 *
 * Options text: a NUL-terminated JSON object with any of the keys
 *   "mode": "zen" | "move"       (default "zen")
 *   "interval_s": 1..3600        (default 60; out-of-range values are clamped)
 *   "dx", "dy": -200..200        (default 1, 1; clamped; move with 0,0 moves 1,0)
 * (the ranges are MJ_INTERVAL_S_MIN..MJ_INTERVAL_S_MAX and
 * MJ_MOVE_MIN..MJ_MOVE_MAX below)
 *   "only_when_idle": true|false (default true; 1|0 also work)
 *   "dry_run": true|false        (default false: schedule and count, inject nothing)
 * NULL or "" keeps every default; keys the text lacks keep theirs. A text
 * whose first non-blank byte is not '{', or whose mode is another string, is
 * rejected whole. The library only reads the text during the call.
 *
 * Returned texts are NUL-terminated ASCII in the library's own storage: never
 * NULL, never freed or written by the host. Each stays valid as its function
 * says; copy it to keep it longer.
 *
 * Limits the host respects:
 *   - calls of mj_start and mj_stop never overlap one another (a host that
 *     drives runs from several threads serialises these two itself);
 *   - the status text is one shared buffer: the next mj_status call from any
 *     thread rewrites it, so a host calling mj_status from several threads
 *     serialises those calls or copies the text at once;
 *   - a run is stopped with mj_stop before the library is unloaded: unloading
 *     does no work of the library's own. A run left active keeps the library
 *     loaded (its worker holds a reference) and goes on nudging; loading the
 *     library again reaches it, and mj_stop ends it.
 * Every other call may come from any thread at any time, also while mj_start
 * or mj_stop runs on another thread.
 */
#ifndef MOUSE_JIGGLER_H
#define MOUSE_JIGGLER_H

/* The version of the library this header describes; mj_version() returns
 * MJ_VERSION_STRING. */
#define MJ_VERSION_MAJOR 1
#define MJ_VERSION_MINOR 0
#define MJ_VERSION_PATCH 0
#define MJ_VERSION_STRING "1.0.0"

/* The ranges of the options text's numbers, for a host that checks a value
 * before the library clamps it: interval_s in seconds, dx and dy in pixels. */
#define MJ_INTERVAL_S_MIN 1
#define MJ_INTERVAL_S_MAX 3600
#define MJ_MOVE_MIN (-200)
#define MJ_MOVE_MAX 200

#if defined(_WIN32) && defined(MJ_BUILDING_DLL)
#define MJ_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(MJ_STATIC)
#define MJ_API __declspec(dllimport)
#else
#define MJ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Starts a run with the options text (may be NULL), ending any earlier run
 * first. Returns 1 when the run started; 0 when it did not, with the reason in
 * mj_last_error(): the rejection message, or "CreateEvent failed" /
 * "CreateThread failed". A rejected options text leaves an active run
 * untouched. An accepted one empties the error text and zeroes the counters.
 * Blocks, without a time limit, until an earlier worker has finished its
 * current pass. */
MJ_API int mj_start(const char *options_json);

/* Ends the active run, if any, and waits for its worker. Always returns 1.
 * The options, counters and texts of the ended run stay readable through
 * mj_status until the next accepted mj_start. */
MJ_API int mj_stop(void);

/* One line of JSON, without spaces or line end, describing the current run or
 * the last one, with 19 members in this order: active, mode, interval_s, dx,
 * dy, only_when_idle, dry_run, nudges, skipped, failed, idle_s,
 * since_last_nudge_s, next_nudge_in_s, running_s, last_reset_idle,
 * last_method, platform, mechanism, version. Never NULL; always the same
 * address. The text stays valid until the next mj_status call from any
 * thread, which rewrites it in place. */
MJ_API const char *mj_status(void);

/* Makes one nudge now, on the calling thread, with its own options (NULL or
 * "" for a zen nudge with the defaults; a run's options are not inherited).
 * Returns 1 when the event went in (or on a dry run); 0 when the options text
 * was rejected or the injection failed, with the reason in mj_last_error().
 * Does not touch a run's counters or schedule; shows in mj_status as the last
 * method and reset verdict. */
MJ_API int mj_nudge_now(const char *options_json);

/* Milliseconds since the last user input on this desktop, at most 2147483647,
 * or -1 when the platform cannot tell. Takes no lock; any rate, any time. */
MJ_API int mj_idle_ms(void);

/* The last error text; empty when none was recorded since the library was
 * loaded or since the last accepted mj_start. Never NULL; always the same
 * address. Valid until the next failure of any call (a failing nudge of a
 * running worker included, which may rewrite it while the host reads) or the
 * next accepted mj_start. */
MJ_API const char *mj_last_error(void);

/* The version text "1.0.0". Never NULL; valid while the library is loaded. */
MJ_API const char *mj_version(void);

/* The exports' types, for hosts that load the library with LoadLibrary and
 * take each function with GetProcAddress, e.g.
 *   mj_start_fn start = (mj_start_fn)(void (*)(void))GetProcAddress(dll, "mj_start"); */
typedef int (*mj_start_fn)(const char *options_json);
typedef int (*mj_stop_fn)(void);
typedef const char *(*mj_status_fn)(void);
typedef int (*mj_nudge_now_fn)(const char *options_json);
typedef int (*mj_idle_ms_fn)(void);
typedef const char *(*mj_last_error_fn)(void);
typedef const char *(*mj_version_fn)(void);

#ifdef __cplusplus
}
#endif

#endif
