// What the agent shows a person, and what mjctl says of the agent: the state
// its icon draws, the tooltip's one line, and the sentence of `mjctl status`.
// Plain C++ without system headers, tested natively.
#ifndef MJH_AGENT_TEXT_H
#define MJH_AGENT_TEXT_H

#include <stddef.h>

#include "icon.h"
#include "protocol.h"
#include "report.h"
#include "schedule.h"
#include "text.h"

// Whether the run's nudges are failing, from two consecutive status lines:
// a new failure or a nudge whose idle time was not reset makes it so, a
// nudge that reset the idle time ends it, and no run ends it.
bool mjh_failing_update(const mjh_status *prev, const mjh_status *now, bool was_failing);

enum { MJH_TOOLTIP_MAX = 128 };  // the notification area's limit, NUL included

// The one vocabulary of what the agent's run does, used by the tooltip, the
// status reply and mjctl's sentence: active, waiting or stopped, with the
// reason. The run is on when the user wants it on, and inside working hours
// (if set), and the conditions hold (if set); a session overrides working
// hours but not the conditions; a policy overrides all. The reason names the
// one thing that holds the run back now ("on battery", "for obs64.exe or
// mstsc.exe", "outside working hours, next start 08:30", "turned off by your
// organization", "session ended after 2 h", "the computer is locked"), or for
// an active run what its session does ("until 17:30, overriding working
// hours") or what blocks its nudges ("blocked: an administrator window is in
// front (taskmgr.exe)").
enum mjh_run_state { MJH_RUN_ACTIVE, MJH_RUN_WAITING, MJH_RUN_STOPPED };

// The icon of the run's state: an active run whose nudges fail shows so.
mjh_icon_state mjh_icon_for(mjh_run_state s, bool failing);

const char *mjh_run_state_name(mjh_run_state s);  // "active", "waiting", "stopped"

// "waiting: on battery", "waiting for obs64.exe", "stopped: session ended
// after 2 h", "active until 17:30": the state and its reason as a sentence
// begins (capital: as a tooltip begins).
void mjh_state_text(const char *state, const char *reason, bool capital, mjh_text &out);

// What the tooltip says.
struct mjh_tooltip_facts {
  mjh_run_state state;
  const char *reason;     // as above; "" when none
  const mjh_status *run;  // the run's status line, read (active)
  bool failing;
  const char *blocked;  // why the failing nudges cannot work (mjh_blocked_text); "" or null when not known
  const char *last_error;
  bool keep_awake_held;
  const char *warning;  // the lock warning, short; "" when none
  bool elevated;        // the agent runs as administrator
  bool policy_off;      // a policy turned the agent off: a click does nothing
  bool remote;          // the desktop is a remote session's
  bool unsaved;         // the settings could not be saved: they last until the agent ends
};

// The tooltip: "Active: zen every 60 s, next nudge in 42 s, 12 nudges",
// "Active until 17:30: ...", "Active in a remote session: ...", "Waiting: on
// battery", "Waiting for obs64.exe", "Waiting: the computer is locked",
// "Stopped: click to start", "Stopped: session ended after 2 h; click to
// start", "Failing: SendInput failed (err 5) - ...", "Blocked: an
// administrator window is in front (taskmgr.exe)"; first
// "Warning: <warning>. ", "As administrator: " and "Settings not saved! "
// when they apply. At most
// MJH_TOOLTIP_MAX - 1 bytes, never cut inside a character.
void mjh_agent_tooltip(const mjh_tooltip_facts &f, mjh_text &out);

// Appends the sentence of `mjctl status` for a status reply, ending in '\n',
// e.g. "agent 1.0.0 (pid 1234): active, zen nudges every 60 s, only after 60 s
// without user input; next nudge in 42 s, user idle 18 s; 12 nudges, 0
// skipped, 0 failed; keeping the computer awake". Stopped, it names the saved
// settings a start would use. With the agent's schedule, its times as local
// clocks in zone show them seen from now (zone null: UTC), e.g. "...; working
// hours mon-fri 08:30-17:30: outside, next start tomorrow 08:30" or "...;
// session ends 17:30; warning: the screen locks after 300 s ...". A run
// stopped by the schedule says why: "stopped (session ended after 2 h)". A
// sentence longer than out holds is cut at a character and still ends in
// '\n'.
void mjh_describe_agent_at(const mjh_reply *reply, const mjh_zone *zone, int64_t now, mjh_text &out);

#endif
