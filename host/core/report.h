// What the hosts tell a person about a run: the status line read into
// numbers, the events found by comparing two consecutive status lines, and the
// texts of the start, countdown and summary lines. Plain C++ without Windows
// headers, so that it is tested natively as well.
#ifndef MJH_REPORT_H
#define MJH_REPORT_H

#include <stddef.h>

#include "nudge_mode.h"
#include "text.h"

struct mjh_status {
  int active;
  mj_mode mode;
  long long interval_s, dx, dy, only_when_idle, dry_run;
  long long nudges, skipped, failed;
  long long idle_s, since_last_nudge_s, next_nudge_in_s, running_s;
  long long last_reset_idle;
  char last_method[48];
};

// Reads a status line of the DLL. Returns false when a member is missing or
// malformed, the mode included (then *out is unspecified).
bool mjh_status_read(const char *line, mjh_status *out);

// Appends one line ending in '\n' per kind of event between prev and next:
// counted nudges, skips and failures, in that order, each led by the clock
// text (e.g. "12:00:05"). error_text is the DLL's last error, used for
// failures. Returns the number of lines.
int mjh_describe_events(const mjh_status *prev, const mjh_status *next, const char *error_text, const char *clock,
                        mjh_text &out);

// The run's settings in words, e.g. "move nudges of 2,2 px every 5 s, also
// while the user is active". No line end.
void mjh_describe_run(const mjh_status *s, mjh_text &out);

// The countdown: "next nudge in 17 s", with ", user idle 4 s" in idle-only
// mode; nothing when no run is active. No line end.
void mjh_describe_countdown(const mjh_status *s, mjh_text &out);

// The outcome of a one-shot nudge in words, from the status line after it,
// e.g. "SendInput zen, idle time reset". No line end.
void mjh_describe_nudge(const mjh_status *s, mjh_text &out);

// "4 nudges, 1 skipped, 0 failed". No line end.
void mjh_describe_counts(const mjh_status *s, mjh_text &out);

#endif
