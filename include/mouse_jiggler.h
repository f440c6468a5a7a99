/* veltrano-mouse-jiggler.dll: keeps an interactive desktop from being treated
 * as idle.
 *
 * While a run is active, a worker thread of the library injects one tiny
 * synthetic mouse event at a fixed interval: in "zen" mode a relative move of
 * 0,0, in "move" mode a relative move of dx,dy whose direction flips every
 * time. Optionally it nudges only while the user has been idle a whole
 * interval. After each nudge it checks that the desktop's idle time went back
 * to near zero.
 *
 * Options text: a JSON object with any of the keys
 *   "mode": "zen" | "move"       (default "zen")
 *   "interval_s": 1..3600        (default 60; out-of-range values are clamped)
 *   "dx", "dy": -200..200        (default 1, 1)
 *   "only_when_idle": true|false (default true)
 *   "dry_run": true|false        (default false)
 * NULL or "" keeps every default.
 *
 * Returned texts are NUL-terminated, owned by the library and never freed or
 * written by the host.
 *
 * Limits the host respects:
 *   - calls of mj_start and mj_stop never overlap one another;
 *   - the status text is one shared buffer: it stays valid until the next
 *     mj_status call from any thread;
 *   - a run is stopped with mj_stop before the library is unloaded.
 * Every other call may come from any thread at any time.
 */
#ifndef MOUSE_JIGGLER_H
#define MOUSE_JIGGLER_H

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

/* Starts a run with the given options, ending any earlier run first.
 * Returns 1 when the run started; 0 when it did not, with the reason in
 * mj_last_error(). A rejected options text leaves an active run untouched.
 * Blocks until an earlier worker has finished its current pass. */
MJ_API int mj_start(const char *options_json);

/* Ends the active run, if any, and waits for its worker. Always returns 1.
 * The options, counters and texts of the ended run stay readable. */
MJ_API int mj_stop(void);

/* One line of JSON describing the current or last run. Never NULL. The text
 * is rewritten by the next mj_status call from any thread. */
MJ_API const char *mj_status(void);

/* Makes one nudge now, on the calling thread, with its own options (NULL or
 * "" for a zen nudge with the defaults). Returns 1 when the event went in (or
 * on a dry run); 0 when the options text was rejected or the injection failed,
 * with the reason in mj_last_error(). Does not touch a run's counters. */
MJ_API int mj_nudge_now(const char *options_json);

/* Milliseconds since the last user input, at most 2147483647, or -1 when the
 * platform cannot tell. */
MJ_API int mj_idle_ms(void);

/* The last error text; empty when none was recorded since the library was
 * loaded or since the last accepted mj_start. Never NULL. Valid until the
 * next failure or accepted mj_start. */
MJ_API const char *mj_last_error(void);

/* The version text "1.0.0". Never NULL; valid while the library is loaded. */
MJ_API const char *mj_version(void);

#ifdef __cplusplus
}
#endif

#endif
