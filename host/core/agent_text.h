/* What the agent shows a person, and what mjctl says of the agent: the state
 * its icon draws, the tooltip's one line, and the sentence of `mjctl status`.
 * Plain C++ without system headers, tested natively. */
#ifndef MJH_AGENT_TEXT_H
#define MJH_AGENT_TEXT_H

#include <stddef.h>

#include "protocol.h"
#include "report.h"
#include "schedule.h"


typedef enum mjh_icon_state {
  MJH_ICON_STOPPED, /* no run */
  MJH_ICON_ACTIVE,  /* a run whose nudges work */
  MJH_ICON_FAILING, /* a run whose recent nudges fail (desktop locked, injection refused) */
  MJH_ICON_WAITING  /* no run now, one will start by itself (outside working hours) */
} mjh_icon_state;

/* Whether the run's nudges are failing, from two consecutive status lines:
 * a new failure or a nudge whose idle time was not reset makes it so, a
 * nudge that reset the idle time ends it, and no run ends it. */
int mjh_failing_update(const mjh_status *prev, const mjh_status *now, int was_failing);

mjh_icon_state mjh_icon_for(const mjh_status *run, int failing, int waiting);

enum { MJH_TOOLTIP_MAX = 128 }; /* the notification area's limit, NUL included */

/* The tooltip's one line, e.g. "Active: zen every 60 s, next nudge in 42 s,
 * 12 nudges, idle time reset" ("waiting for 60 s idle" in place of the
 * countdown while the user's input holds the nudge back), "Stopped", or
 * "Failing: SendInput failed (err 5) - ..." with the DLL's error text
 * shortened, then ", keeping awake" when it fits. At most MJH_TOOLTIP_MAX
 * bytes with its NUL (or size), never cut inside a UTF-8 character. */
void mjh_tooltip(const mjh_status *run, int failing, const char *last_error, int keep_awake_held, char *buf,
                 size_t size);

/* The sentence of `mjctl status` for a status reply, ending in '\n', e.g.
 * "agent 1.0.0 (pid 1234): active, zen nudges every 60 s, only after 60 s
 * without user input; next nudge in 42 s, user idle 18 s; 12 nudges, 0
 * skipped, 0 failed; keeping the computer awake". Stopped, it names the saved
 * settings a start would use. */
void mjh_describe_agent(const mjh_reply *reply, char *buf, size_t size);

/* The same with the agent's schedule, its times as local clocks in zone show
 * them seen from now (zone NULL: UTC), e.g. "...; working hours mon-fri
 * 08:30-17:30: outside, next start tomorrow 08:30" or "...; session ends
 * 17:30; warning: the screen locks after 300 s ...". A run stopped by the
 * schedule says why: "stopped (session ended after 2 h)". */
void mjh_describe_agent_at(const mjh_reply *reply, const mjh_zone *zone, int64_t now, char *buf, size_t size);


#endif
