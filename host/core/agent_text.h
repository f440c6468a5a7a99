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

mjh_icon_state mjh_icon_for(const mjh_status *run, bool failing, bool waiting);

enum { MJH_TOOLTIP_MAX = 128 };  // the notification area's limit, NUL included

// Appends the tooltip's one line, e.g. "Active: zen every 60 s, next nudge in
// 42 s, 12 nudges, idle time reset" ("waiting for 60 s idle" in place of the
// countdown while the user's input holds the nudge back), "Stopped", or
// "Failing: SendInput failed (err 5) - ..." with the DLL's error text
// shortened, then ", keeping awake" when it fits. At most
// MJH_TOOLTIP_MAX - 1 bytes, never cut inside a UTF-8 character.
void mjh_tooltip(const mjh_status *run, bool failing, const char *last_error, bool keep_awake_held, mjh_text &out);

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
