// Schedules of the agent's run: working hours (days of the week and spans of
// local time), sessions that end by themselves ("for" a duration, "until" a
// time of day or the end of today's working hours), and the decision whether
// the run goes on now. Plain C++ without system headers, tested natively with
// a clock and a time zone the test sets (civil_time.h). Their texts and wire
// formats are in schedule_text.h.
//
// Rules a person might not guess:
// - A span belongs to the day it starts on: with days mon-fri, Friday's
//   22:00-06:00 runs until Saturday 06:00, and Sunday's does not run.
// - A local time that occurs twice (the repeated hour in autumn) means its
//   first occurrence, for span starts and ends alike, so a span starts once.
//   A local time that does not exist (the skipped hour in spring) means the
//   first instant after the gap; a span lying wholly in the gap is empty that
//   day and does not start.
// - Spans that touch (12:00 end, 12:00 start, or 24:00 and the next day's
//   00:00) form one stretch: the run goes on through them, and only the
//   first span of a stretch starts the run.
// - A session is an explicit request: it runs from its start to its end
//   whatever the working hours say (started outside them, running past a
//   span's end, longer than the day's hours). When it ends, the run stops;
//   with working hours set it waits for the next start of a stretch at or
//   after the session's end, without them it stays stopped. The stretch in
//   progress when the session ends does not restart the run, nor do the
//   spans that touch it: with 00:00-24:00 on mon-fri, a session that ends on
//   Tuesday waits until Monday; with 00:00-24:00 every day (a stretch that
//   never ends) it never resumes.
// - Working hours stored damaged (mjh_hours::damaged) hold the run back: a
//   desktop that should lock at night must not be kept awake around the
//   clock because its schedule did not read. A session still runs.
// - Everything is derived from the current time on each decision, never by
//   counting: after a clock, zone or daylight-saving change, deciding again
//   gives the right state without a missed or doubled start.
#ifndef MJH_SCHEDULE_H
#define MJH_SCHEDULE_H

#include <stdint.h>

#include "civil_time.h"
#include "text.h"

constexpr int64_t MJH_NO_TIME = INT64_MIN;  // no such instant (no end, no next start)

constexpr int MJH_SPANS_MAX = 8;
constexpr int64_t MJH_DURATION_MAX_S = 2000000;  // the longest session, as mjctl run --for
constexpr int64_t MJH_RECHECK_MAX_S = 3600;      // decide again at least this often
constexpr unsigned MJH_DAYS_ALL = 0x7f;          // bit 0 Monday ... bit 6 Sunday

// ---- Working hours ----------------------------------------------------------

struct mjh_span {
  int start;  // minute of the day, 0 to 1439
  int end;    // 1 to 1440; end < start: the span crosses midnight
};

// The minute of its start day at which s ends: past 1440 when it crosses midnight.
inline int mjh_span_end_minute(const mjh_span &s) { return s.end < s.start ? s.end + 1440 : s.end; }

struct mjh_hours {
  int span_count;                 // 0: no working hours, a run may go on at any time
  mjh_span spans[MJH_SPANS_MAX];  // sorted by start, not overlapping
  unsigned days;                  // the days spans start on, never 0
  bool damaged;                   // the stored working hours did not read (span_count 0): hold the run back
};

// No working hours, every day, not damaged.
void mjh_hours_none(mjh_hours *h);

// Whether now is within the working hours (always, when none are set; never,
// when damaged); *stretch_end (may be null) receives when the stretch in
// progress ends, or MJH_NO_TIME when outside or when it does not end within a
// week.
bool mjh_hours_inside(const mjh_hours *h, const mjh_zone *zone, int64_t now, int64_t *stretch_end);

// The start of the next stretch of working hours after now (after the
// stretch in progress, when inside), or MJH_NO_TIME.
int64_t mjh_hours_next_start(const mjh_hours *h, const mjh_zone *zone, int64_t now);

// ---- Sessions ---------------------------------------------------------------

enum mjh_session_kind {
  MJH_SESSION_NONE,          // the working hours (if any) decide
  MJH_SESSION_FOR,           // for a duration
  MJH_SESSION_UNTIL,         // until a time of day, or the end of today's working hours
  MJH_SESSION_UNTIL_STOPPED  // until the user stops it
};

struct mjh_session {
  mjh_session_kind kind;
  int64_t start;  // when it began
  int64_t end;    // MJH_NO_TIME for MJH_SESSION_NONE and UNTIL_STOPPED
};

void mjh_session_for(mjh_session *s, int64_t now, int64_t seconds);

// Until the next time local clocks show `minute` (0 to 1440, 24:00 the coming
// midnight): today's if still ahead (its first occurrence, or the second when
// only that one is ahead), else tomorrow's. *tomorrow (may be null) tells
// which.
void mjh_session_until(mjh_session *s, const mjh_zone *zone, int64_t now, int minute, bool *tomorrow);

// Until the end of today's working hours. Today is the working day in
// progress: inside working hours, the day the stretch in progress began on
// (at 01:00 inside last night's 22:00-02:00, yesterday), else the calendar
// day. The session ends with the stretch of the last span that starts on
// that day and is still ahead, or with the stretch in progress. Returns false
// with a message when there is none ("no working hours are set", "no working
// hours are left today").
bool mjh_session_until_end_of_hours(mjh_session *s, const mjh_hours *h, const mjh_zone *zone, int64_t now,
                                    mjh_text *err);

// After the clock was set by `jump` seconds (actual minus expected, from a
// monotonic tick): a "for" session keeps its length, so it moves with the
// clock; an "until" session keeps its wall-clock end.
void mjh_session_clock_changed(mjh_session *s, int64_t jump);

// ---- Deciding ---------------------------------------------------------------

enum mjh_sched_action {
  MJH_SCHED_RUN,   // keep the run going, start it if it is not
  MJH_SCHED_WAIT,  // stop the run; it starts again by itself at next_start
  MJH_SCHED_STOP   // stop the run; nothing starts it again
};

enum mjh_sched_reason {
  MJH_REASON_NO_HOURS,       // run: no working hours are set
  MJH_REASON_INSIDE_HOURS,   // run
  MJH_REASON_SESSION,        // run: a session is in progress
  MJH_REASON_OUTSIDE_HOURS,  // wait
  MJH_REASON_SESSION_ENDED,  // wait (working hours set) or stop
  MJH_REASON_HOURS_DAMAGED   // wait, with no next start: the stored working hours did not read
};

struct mjh_decision {
  mjh_sched_action action;
  mjh_sched_reason reason;
  bool inside;          // now is within the working hours (true when none are set)
  int64_t run_until;    // run: when it stops next, or MJH_NO_TIME
  int64_t next_start;   // wait: when it starts again, or MJH_NO_TIME
  int64_t next_change;  // the next instant the decision changes, or MJH_NO_TIME
  int64_t recheck_s;    // seconds until the agent decides again: 1 to MJH_RECHECK_MAX_S, 0 for never
};

// The agent sets one timer for d->recheck_s and decides again when it fires,
// on a clock or zone change and on resume; session may be null. A session in
// progress runs; then damaged working hours wait (MJH_REASON_HOURS_DAMAGED,
// until they are set again), after a session that ended as well.
void mjh_decide(const mjh_hours *h, const mjh_session *session, const mjh_zone *zone, int64_t now, mjh_decision *d);

#endif
