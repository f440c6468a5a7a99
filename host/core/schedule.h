/* Schedules of the agent's run: working hours (days of the week and spans of
 * local time), sessions that end by themselves ("for" a duration, "until" a
 * time of day), and the rule that says whether an interval keeps ahead of the
 * screen lock. Plain C++ without system headers, tested natively with a clock
 * and a time zone the test sets.
 *
 * Time is UTC seconds since 1970 (int64). Local time comes from a time zone
 * that answers one question: the UTC offset in force at an instant. Every
 * other conversion (local wall-clock time to 0, 1 or 2 instants, weekdays,
 * dates) is derived here, so the Windows side is one small function.
 *
 * Rules a person might not guess:
 * - A span belongs to the day it starts on: with days mon-fri, Friday's
 *   22:00-06:00 runs until Saturday 06:00, and Sunday's does not run.
 * - A local time that occurs twice (the repeated hour in autumn) means its
 *   first occurrence, for span starts and ends alike, so a span starts once.
 *   A local time that does not exist (the skipped hour in spring) means the
 *   first instant after the gap; a span lying wholly in the gap is empty that
 *   day and does not start.
 * - Spans that touch (12:00 end, 12:00 start, or 24:00 and the next day's
 *   00:00) form one stretch: the run goes on through them.
 * - A session is an explicit request: it runs from its start to its end
 *   whatever the working hours say (started outside them, running past a
 *   span's end, longer than the day's hours). When it ends, the run stops;
 *   with working hours set it waits for the next span that starts at or after
 *   the session's end (the span in progress does not restart it), without
 *   them it stays stopped.
 * - Everything is derived from the current time on each decision, never by
 *   counting: after a clock, zone or daylight-saving change, deciding again
 *   gives the right state without a missed or doubled start. */
#ifndef MJH_SCHEDULE_H
#define MJH_SCHEDULE_H

#include <stddef.h>
#include <stdint.h>

#include "options.h"
#include "settings.h"
#include "text.h"

#define MJH_NO_TIME INT64_MIN /* no such instant (no end, no next start) */

enum {
  MJH_SPANS_MAX = 8,
  MJH_DURATION_MAX_S = 2000000, /* the longest session, as mjctl run --for */
  MJH_RECHECK_MAX_S = 3600,     /* decide again at least this often */
  MJH_LOCK_MARGIN_S = 10        /* timer lateness and the lock's own granularity */
};

/* ---- Time zones and local time ------------------------------------------------ */

typedef struct mjh_zone {
  /* Seconds east of UTC in force at the instant utc (local = utc + offset). */
  int32_t (*utc_offset)(void *context, int64_t utc);
  void *context;
} mjh_zone;

/* The local seconds since 1970 of a wall-clock time (proleptic Gregorian). */
int64_t mjh_local_seconds(int year, int month, int day, int hour, int minute, int second);

typedef struct mjh_local_time {
  int year, month, day; /* month 1-12, day 1-31 */
  int hour, minute, second;
  int weekday;        /* 0 Monday ... 6 Sunday */
  int64_t day_number; /* local days since 1970-01-01 */
  int32_t offset;     /* the UTC offset in force */
} mjh_local_time;

void mjh_to_local(const mjh_zone *zone, int64_t utc, mjh_local_time *out);

/* The instants at which local clocks show local_s: returns 1 or 2 (a repeated
 * time; out[0] < out[1]), or 0 for a time in a skipped hour, with out[0] the
 * first instant after the gap. Assumes at most one offset change within a day
 * of local_s, as in every real zone. */
int mjh_local_to_utc(const mjh_zone *zone, int64_t local_s, int64_t out[2]);

/* ---- Working hours ------------------------------------------------------------ */

typedef struct mjh_span {
  int start; /* minute of the day, 0 to 1439 */
  int end;   /* 1 to 1440; end < start: the span crosses midnight */
} mjh_span;

enum {
  MJH_DAYS_ALL = 0x7f /* bit 0 Monday ... bit 6 Sunday */
};

typedef struct mjh_hours {
  int span_count;                /* 0: no working hours, a run may go on at any time */
  mjh_span spans[MJH_SPANS_MAX]; /* sorted by start, not overlapping */
  unsigned days;                 /* the days spans start on, never 0 */
} mjh_hours;

/* No working hours, every day. */
void mjh_hours_none(mjh_hours *h);

/* Reads spans "08:30-12:00,13:00-17:30" into h->spans (h->days untouched).
 * Times are H:MM, HH:MM or a bare hour; 24:00 may end a span; 00:00 as an end
 * means 24:00. "any" means no working hours. Refuses (returning 0, h
 * unchanged, a message in err): empty or malformed spans, a zero-length span,
 * spans that overlap (also across midnight, whatever the days), more than
 * MJH_SPANS_MAX. */
int mjh_hours_parse(const char *text, mjh_hours *h, char *err, size_t err_size);
bool mjh_hours_parse(const char *text, mjh_hours *h, mjh_text *err);

/* Reads days "mon-fri", "sat,sun", "mon,wed-fri" (names of three letters or
 * in full, any case; a range may wrap: fri-mon), "all", "daily" or "every
 * day", "weekdays", "weekend". */
int mjh_days_parse(const char *text, unsigned *days, char *err, size_t err_size);
bool mjh_days_parse(const char *text, unsigned *days, mjh_text *err);

/* The texts read back by the parsers: "08:30-12:00,13:00-17:30" ("any" for
 * none) and "mon-fri", "sat,sun", "mon,wed-fri", "all". Return the length,
 * or 0 when size is too small. */
size_t mjh_hours_text(const mjh_hours *h, char *buf, size_t size);
size_t mjh_days_text(unsigned days, char *buf, size_t size);

/* Whether now is within the working hours (always, when none are set);
 * *stretch_end (may be NULL) receives when the stretch in progress ends, or
 * MJH_NO_TIME when outside or when it does not end within a week. */
int mjh_hours_inside(const mjh_hours *h, const mjh_zone *zone, int64_t now, int64_t *stretch_end);

/* The start of the next stretch of working hours after now (after the
 * stretch in progress, when inside), or MJH_NO_TIME. */
int64_t mjh_hours_next_start(const mjh_hours *h, const mjh_zone *zone, int64_t now);

/* ---- Sessions ----------------------------------------------------------------- */

/* A duration as people type it: "90" (a bare number is seconds, as for mjctl
 * run --for), "90s", "45m", "45min", "2h", "1h30m", "1h30" (minutes after
 * hours), from 1 s to MJH_DURATION_MAX_S. */
int mjh_duration_parse(const char *text, int64_t *seconds, char *err, size_t err_size);

/* A time of day "17:30", "7:05" or "17", into minutes 0 to 1440 (24:00 is
 * the coming midnight). */
int mjh_time_of_day_parse(const char *text, int *minute, char *err, size_t err_size);

typedef enum mjh_session_kind {
  MJH_SESSION_NONE,         /* the working hours (if any) decide */
  MJH_SESSION_FOR,          /* for a duration */
  MJH_SESSION_UNTIL,        /* until a time of day, or the end of today's working hours */
  MJH_SESSION_UNTIL_STOPPED /* until the user stops it */
} mjh_session_kind;

typedef struct mjh_session {
  mjh_session_kind kind;
  int64_t start; /* when it began */
  int64_t end;   /* MJH_NO_TIME for MJH_SESSION_NONE and UNTIL_STOPPED */
} mjh_session;

void mjh_session_for(mjh_session *s, int64_t now, int64_t seconds);

/* Until the next time local clocks show `minute` (mjh_time_of_day_parse):
 * today's if still ahead (its first occurrence, or the second when only that
 * one is ahead), else tomorrow's. *tomorrow (may be NULL) tells which. */
void mjh_session_until(mjh_session *s, const mjh_zone *zone, int64_t now, int minute, int *tomorrow);

/* Until the end of today's working hours: the end of the stretch of the last
 * span starting today (or in progress now) that is still ahead. Returns 0
 * with a message when there is none ("no working hours are set", "no working
 * hours are left today"). */
int mjh_session_until_end_of_hours(mjh_session *s, const mjh_hours *h, const mjh_zone *zone, int64_t now, char *err,
                                   size_t err_size);

/* After the clock was set by `jump` seconds (actual minus expected, from a
 * monotonic tick): a "for" session keeps its length, so it moves with the
 * clock; an "until" session keeps its wall-clock end. */
void mjh_session_clock_changed(mjh_session *s, int64_t jump);

/* ---- Deciding ------------------------------------------------------------------ */

typedef enum mjh_sched_action {
  MJH_SCHED_RUN,  /* keep the run going, start it if it is not */
  MJH_SCHED_WAIT, /* stop the run; it starts again by itself at next_start */
  MJH_SCHED_STOP  /* stop the run; nothing starts it again */
} mjh_sched_action;

typedef enum mjh_sched_reason {
  MJH_REASON_NO_HOURS,      /* run: no working hours are set */
  MJH_REASON_INSIDE_HOURS,  /* run */
  MJH_REASON_SESSION,       /* run: a session is in progress */
  MJH_REASON_OUTSIDE_HOURS, /* wait */
  MJH_REASON_SESSION_ENDED  /* wait (working hours set) or stop */
} mjh_sched_reason;

typedef struct mjh_decision {
  mjh_sched_action action;
  mjh_sched_reason reason;
  int inside;          /* now is within the working hours (1 when none are set) */
  int64_t run_until;   /* run: when it stops next, or MJH_NO_TIME */
  int64_t next_start;  /* wait: when it starts again, or MJH_NO_TIME */
  int64_t next_change; /* the next instant the decision changes, or MJH_NO_TIME */
  int64_t recheck_s;   /* seconds until the agent decides again: 1 to MJH_RECHECK_MAX_S, 0 for never */
} mjh_decision;

/* The agent sets one timer for d->recheck_s and decides again when it fires,
 * on a clock or zone change and on resume; session may be NULL. */
void mjh_decide(const mjh_hours *h, const mjh_session *session, const mjh_zone *zone, int64_t now, mjh_decision *d);

/* ---- The interval and the screen lock ------------------------------------------- */

/* The inactivity after which the screen may lock: the smaller of the screen
 * saver's timeout (when it is active) and the display-off timeout (0 when
 * unknown); 0 when neither applies. */
int mjh_lock_timeout(int saver_active, int saver_timeout_s, int display_off_s);

/* Always mode nudges every interval, so the idle time stays below it:
 * interval <= lock - MJH_LOCK_MARGIN_S. Only-when-idle mode records a skip
 * while the user is active and then waits a whole interval from it, so a
 * nudge may come almost twice the interval after the last input:
 * 2 * interval <= lock - MJH_LOCK_MARGIN_S. lock_s 0: always safe. */
int mjh_interval_safe(int interval_s, int only_when_idle, int lock_s);

/* The largest safe interval, clamped to 1..3600 (1 when none is safe). */
int mjh_largest_safe_interval(int only_when_idle, int lock_s);

/* What happens after the inactivity, for the warnings' wording. */
typedef enum mjh_lock_kind {
  MJH_LOCK_SCREEN_LOCK,  /* "the screen locks" */
  MJH_LOCK_SCREEN_SAVER, /* "the screen saver starts" (one that does not lock, or not known to) */
  MJH_LOCK_DISPLAY_OFF   /* "the display turns off" */
} mjh_lock_kind;

/* "" when safe; otherwise e.g. "the screen locks after 300 s of inactivity;
 * in only-when-idle mode a nudge can come up to 480 s (twice 240 s) after
 * your last input: choose 145 s or less". */
void mjh_interval_warning(int interval_s, int only_when_idle, int lock_s, char *buf, size_t size);

/* The same, short for the tooltip and menu: "locks after 300 s: use 145 s or less". */
void mjh_interval_warning_short(int interval_s, int only_when_idle, int lock_s, char *buf, size_t size);

/* The same two naming what happens: "the display turns off after 600 s of
 * inactivity; ...", and short "display off after 600 s: use 295 s or less"
 * ("screen saver after ...", "locks after ..."). */
void mjh_interval_warning_of(int interval_s, int only_when_idle, int lock_s, mjh_lock_kind kind, char *buf,
                             size_t size);
void mjh_interval_warning_short_of(int interval_s, int only_when_idle, int lock_s, mjh_lock_kind kind, char *buf,
                                   size_t size);

/* ---- Texts --------------------------------------------------------------------- */

/* "1 h 30 min", "45 min", "90 s" -> "1 min 30 s", "2 h". */
void mjh_duration_text(int64_t seconds, char *buf, size_t size);

/* An instant as seen from now: "17:30" today, "tomorrow 08:30", else
 * "Mon 08:30". */
void mjh_when_text(const mjh_zone *zone, int64_t now, int64_t t, char *buf, size_t size);
void mjh_when_text(const mjh_zone *zone, int64_t now, int64_t t, mjh_text &out);

/* Why the decision is what it is: "inside working hours", "outside working
 * hours", "no working hours", "session until 17:30", "session until
 * stopped", "session ended after 2 h", "session ended at 17:30". */
void mjh_reason_text(const mjh_decision *d, const mjh_session *session, const mjh_zone *zone, int64_t now, char *buf,
                     size_t size);

/* The waiting tooltip's words: "outside working hours, next start Mon 08:30". */
void mjh_waiting_text(const mjh_decision *d, const mjh_session *session, const mjh_zone *zone, int64_t now, char *buf,
                      size_t size);

/* The schedule sentence of mjctl status, without line end, e.g. "working
 * hours mon-fri 08:30-12:00,13:00-17:30: inside, until 12:00; session ends
 * 17:30" or "no working hours; session until stopped". warning may be NULL
 * or "". */
void mjh_schedule_sentence(const mjh_hours *h, const mjh_session *session, const mjh_decision *d, const char *warning,
                           const mjh_zone *zone, int64_t now, char *buf, size_t size);

/* The status reply's "schedule" object: {"hours":"08:30-12:00,13:00-17:30",
 * "days":"mon-fri","inside":true,"session_end":<unix s or null>,
 * "next_start":<unix s or null>,"warning":"..." or null}. hours and days are
 * null when no working hours are set. Returns the length, or 0 when size is
 * too small. */
size_t mjh_schedule_json(const mjh_hours *h, const mjh_session *session, const mjh_decision *d, const char *warning,
                         char *buf, size_t size);

/* ---- Stored working hours ------------------------------------------------------ */

/* Working hours are stored as two texts (REG_SZ): "hours" as mjh_hours_text
 * writes it ("any" for none) and "days" as mjh_days_text writes it. A session
 * is never stored: it ends with the agent. */
#define MJH_STORED_HOURS "hours"
#define MJH_STORED_DAYS "days"

enum {
  MJH_HOURS_TEXT_MAX = MJH_SPANS_MAX * 12, /* "HH:MM-HH:MM" and a comma per span, with the NUL */
  MJH_DAYS_TEXT_MAX = 32
};

/* Working hours from the stored values (NULL or MJH_VALUE_MISSING: not
 * stored). Never fails: hours missing or "any" give none; days missing give
 * every day; a value of another type, or text that does not read, drops the
 * working hours as a whole (none, every day), so that a damaged schedule
 * never half-applies. Returns 1 when the values were used as stored, 0 when
 * something was dropped. */
int mjh_hours_from_stored(const mjh_value *hours, const mjh_value *days, mjh_hours *out);

/* The texts to store for h. */
void mjh_hours_to_stored(const mjh_hours *h, char hours[MJH_HOURS_TEXT_MAX], char days[MJH_DAYS_TEXT_MAX]);

/* ---- A start request's schedule --------------------------------------------------- */

/* The keys of a start request's "options" beside mjh_options' keys:
 *   "hours": "08:30-12:00,13:00-17:30" or "any"    the working hours to keep
 *   "days":  "mon-fri"                             the days they start on
 *   "for":   5400 (seconds) or "1h30m"             a session of that length
 *   "until": "17:30", or "end" for the end of today's working hours
 * "for" and "until" exclude each other. */
enum {
  MJH_SCHED_KEY_HOURS = 1 << 0,
  MJH_SCHED_KEY_DAYS = 1 << 1,
  MJH_SCHED_KEY_FOR = 1 << 2,
  MJH_SCHED_KEY_UNTIL = 1 << 3,
  MJH_UNTIL_END_OF_HOURS = -1
};

typedef struct mjh_schedule_request {
  unsigned given;   /* MJH_SCHED_KEY_* named */
  mjh_hours hours;  /* "hours": span_count and spans; "days": days */
  int64_t for_s;    /* "for" */
  int until_minute; /* "until": 0 to 1440, or MJH_UNTIL_END_OF_HOURS */
} mjh_schedule_request;

/* Nothing given. */
void mjh_schedule_request_none(mjh_schedule_request *r);

struct mjh_jtok; /* json.h, inside the core */

/* Whether key token `key` (json.h) names one of the keys above. */
int mjh_schedule_key(const char *text, const struct mjh_jtok *key);

/* Reads the keys above from object token obj into *r (which starts with
 * mjh_schedule_request_none). Other keys are passed over when ignore_unknown
 * (they belong to another reader), else refused. Returns 0 with a message,
 * *r unchanged, for a value of the wrong type or text that does not read, a
 * duplicate, or "for" with "until". */
int mjh_schedule_from_tokens(const char *text, const struct mjh_jtok *t, int count, int obj, int ignore_unknown,
                             mjh_schedule_request *r, char *err, size_t err_size);

/* A start request's whole "options" object: mjh_options' keys applied to *o
 * (*given receives them, as mjh_options_from_tokens does) and the schedule's
 * into *r; any other key is refused. Nothing changes on failure. */
bool mjh_start_options_from_tokens(const char *text, const struct mjh_jtok *t, int count, int obj, mjh_options *o,
                                   unsigned *given, mjh_schedule_request *r, mjh_text *err);

/* The same over a JSON text of len bytes (one object). */
int mjh_start_options_parse(const char *text, size_t len, mjh_options *o, unsigned *given, mjh_schedule_request *r,
                            char *err, size_t err_size);

/* Appends the members r names to a JSON object being written in buf (*used
 * bytes so far, NUL-terminated), each after a comma unless the text ends in
 * '{': e.g. "hours":"08:30-17:00","for":5400. Returns 0 and leaves buf as it
 * was when they do not fit. */
int mjh_schedule_request_put(const mjh_schedule_request *r, char *buf, size_t size, size_t *used);
void mjh_schedule_request_put(const mjh_schedule_request *r, mjh_text &out);

/* Applies r to the agent's working hours *h and session *s at now: "hours"
 * and "days" replace those of *h; "for" and "until" start a session (an
 * "until" of "end" ends with the new working hours); without them *s is left
 * as it is. Returns 0 with a message, *h and *s unchanged, when "until":"end"
 * finds no working hours left today. */
int mjh_schedule_request_apply(const mjh_schedule_request *r, mjh_hours *h, mjh_session *s, const mjh_zone *zone,
                               int64_t now, char *err, size_t err_size);


#endif
