// The texts of schedules: working hours, days, durations and times of day as
// people type them, the words the hosts show (durations, instants, reasons,
// the waiting tooltip), and the wire formats: the status reply's "schedule"
// object, the stored working hours, and a start request's schedule keys.
// Plain C++ without system headers, tested natively.
//
// Messages quote a person's input as a JSON string (control characters
// escaped), shortened to stay readable.
#ifndef MJH_SCHEDULE_TEXT_H
#define MJH_SCHEDULE_TEXT_H

#include <stddef.h>
#include <stdint.h>

#include "conditions.h"
#include "options.h"
#include "schedule.h"
#include "settings.h"
#include "text.h"

// ---- Reading and writing working hours --------------------------------------

// Reads spans "08:30-12:00,13:00-17:30" into h->spans (h->days untouched; h
// is no longer damaged). Times are H:MM, HH:MM or a bare hour; 24:00 may end
// a span; 00:00 as an end means 24:00. A span crosses midnight only when both
// its times are written with minutes (21:00-05:00): one in bare hours whose
// end comes before its start (9-5) is refused with a hint. "any" means no
// working hours. Refuses (returning false, h unchanged, a message appended
// to err): empty or malformed spans, a zero-length span, spans that overlap
// (also across midnight, whatever the days), more than MJH_SPANS_MAX.
bool mjh_hours_parse(const char *text, mjh_hours *h, mjh_text *err);

// Reads days "mon-fri", "sat,sun", "mon,wed-fri" (names of three letters or
// in full, any case; a range may wrap: fri-mon), "all", "daily" or "every
// day", "weekdays", "weekend".
bool mjh_days_parse(const char *text, unsigned *days, mjh_text *err);

// The texts read back by the parsers: "08:30-12:00,13:00-17:30" ("any" for
// none, and for damaged hours, which have no spans) and "mon-fri", "sat,sun",
// "mon,wed-fri", "all".
void mjh_hours_text(const mjh_hours *h, mjh_text &out);
void mjh_days_text(unsigned days, mjh_text &out);

// ---- Sessions as people type them -------------------------------------------

// A duration: "90" (a bare number is seconds, as for mjctl run --for), "90s",
// "45m", "45min", "2h", "1h30m", "1h30" (minutes after hours), from 1 s to
// MJH_DURATION_MAX_S.
bool mjh_duration_parse(const char *text, int64_t *seconds, mjh_text *err);

// A time of day "17:30", "7:05" or "17", into minutes 0 to 1440 (24:00 is
// the coming midnight).
bool mjh_time_of_day_parse(const char *text, int *minute, mjh_text *err);

// ---- Words for people --------------------------------------------------------

// "1 h 30 min", "45 min", "90 s" -> "1 min 30 s", "2 h".
void mjh_duration_text(int64_t seconds, mjh_text &out);

// An instant as seen from now: "17:30" today, "tomorrow 08:30", else
// "Mon 08:30".
void mjh_when_text(const mjh_zone *zone, int64_t now, int64_t t, mjh_text &out);

// Why the decision is what it is: "inside working hours", "outside working
// hours", "no working hours", "session until 17:30", "session until
// stopped", "session ended after 2 h", "session ended at 17:30", "saved
// working hours damaged".
void mjh_reason_text(const mjh_decision *d, const mjh_session *session, const mjh_zone *zone, int64_t now,
                     mjh_text &out);

// The waiting tooltip's words: "outside working hours, next start Mon 08:30",
// "saved working hours damaged: set them again".
void mjh_waiting_text(const mjh_decision *d, const mjh_session *session, const mjh_zone *zone, int64_t now,
                      mjh_text &out);

// ---- The status reply's "schedule" ------------------------------------------

// {"hours":"08:30-12:00,13:00-17:30","days":"mon-fri","inside":true,
// "session_end":<unix s or null>,"next_start":<unix s or null>,
// "warning":"..." or null}. hours and days are null when no working hours
// are set (or they are damaged). warning may be null or "". The caller
// checks out.ok().
void mjh_schedule_json(const mjh_hours *h, const mjh_session *session, const mjh_decision *d, const char *warning,
                       mjh_text &out);

// ---- Stored working hours ----------------------------------------------------

// Working hours are stored as two texts (REG_SZ): "hours" as mjh_hours_text
// writes it ("any" for none) and "days" as mjh_days_text writes it. A session
// is never stored: it ends with the agent.

constexpr size_t MJH_HOURS_TEXT_MAX = MJH_SPANS_MAX * 12;  // "HH:MM-HH:MM" and a comma per span, with the NUL
constexpr size_t MJH_DAYS_TEXT_MAX = 32;

enum mjh_stored_hours {
  MJH_STORED_NONE,       // no working hours: nothing stored, or "any"
  MJH_STORED_AS_STORED,  // working hours, as stored
  MJH_STORED_DAMAGED     // stored, but they do not read: *out is damaged, and the run waits
};

// Working hours from the stored values (null or MJH_VALUE_MISSING: not
// stored). Hours missing or "any" give none; days missing give every day. A
// value of another type, or text that does not read, gives damaged hours as
// a whole (no spans, every day, h->damaged), so that a damaged schedule
// never half-applies and never turns into "any time".
mjh_stored_hours mjh_hours_from_stored(const mjh_value *hours, const mjh_value *days, mjh_hours *out);

// Appends the texts to store for h; false when one was cut. Damaged hours
// have none (false, nothing appended): the stored values stay as they are
// until new hours are set.
bool mjh_hours_to_stored(const mjh_hours *h, mjh_text &hours, mjh_text &days);

// ---- A start request's schedule ----------------------------------------------

// The keys of a start request's "options" beside mjh_options' keys (the
// settings' table, setting_table.h, reads and writes them): when the run
// goes on, and while what:
//   "hours": "08:30-12:00,13:00-17:30" or "any"    the working hours to keep
//   "days":  "mon-fri"                             the days they start on
//   "for":   5400 (seconds) or "1h30m"             a session of that length
//   "until": "17:30", or "end" for the end of today's working hours
//   "while_running": "obs64.exe,mstsc.exe" or "any"  programs the run is on while
//   "foreground": true                             only while one of them owns the foreground window
//   "ac_only": true                                only on mains power
//   "battery_floor": 20                            stop below 20 % battery (0: off)
// "for" and "until" exclude each other.
enum {
  MJH_SCHED_KEY_HOURS = 1 << 0,
  MJH_SCHED_KEY_DAYS = 1 << 1,
  MJH_SCHED_KEY_FOR = 1 << 2,
  MJH_SCHED_KEY_UNTIL = 1 << 3,
  MJH_SCHED_KEY_WHILE_RUNNING = 1 << 4,
  MJH_SCHED_KEY_FOREGROUND = 1 << 5,
  MJH_SCHED_KEY_AC_ONLY = 1 << 6,
  MJH_SCHED_KEY_BATTERY_FLOOR = 1 << 7,
  MJH_SCHED_KEYS_CONDITIONS = 0xf0,
  MJH_SCHED_KEYS_ALL = 0xff
};
constexpr int MJH_UNTIL_END_OF_HOURS = -1;

struct mjh_schedule_request {
  unsigned given;         // MJH_SCHED_KEY_* named
  mjh_hours hours;        // "hours": span_count and spans; "days": days
  int64_t for_s;          // "for"
  int until_minute;       // "until": 0 to 1440, or MJH_UNTIL_END_OF_HOURS
  mjh_programs programs;  // "while_running"
  int foreground;         // "foreground": 0 or 1
  int ac_only;            // "ac_only": 0 or 1
  int battery_floor;      // "battery_floor": 0, or 5 to 95
};

// Nothing given.
void mjh_schedule_request_none(mjh_schedule_request *r);

// Appends the members r names to a JSON object being written, each after a
// comma unless the text is empty or ends in '{': e.g.
// "hours":"08:30-17:00","for":5400. The caller checks out.ok().
void mjh_schedule_request_put(const mjh_schedule_request *r, mjh_text &out);

// Applies r to the agent's working hours *h and session *s at now: "hours"
// and "days" replace those of *h; "for" and "until" start a session (an
// "until" of "end" ends with the new working hours); without them *s is left
// as it is. Returns false with a message, *h and *s unchanged, when
// "until":"end" finds no working hours left today.
bool mjh_schedule_request_apply(const mjh_schedule_request *r, mjh_hours *h, mjh_session *s, const mjh_zone *zone,
                                int64_t now, mjh_text *err);

#endif
