// The agent's control protocol over its named pipe: one request per line, a
// JSON object of at most MJH_REQUEST_MAX bytes ending in '\n'; one reply per
// request, a JSON object on one line ending in '\n'. Requests:
//   {"cmd":"status"}
//   {"cmd":"start","options":{...}}  options optional: the keys of mjh_options
//                                    and of a schedule (schedule.h: hours,
//                                    days, for, until)
//   {"cmd":"stop"} {"cmd":"nudge"} {"cmd":"quit"}
// Replies carry "ok":true, or "ok":false with "error". The status reply
// carries the DLL's status line as the object "run", beside the agent's own
// fields. Plain C++ without system headers: the pipe itself is in host/win32.
// Tested natively.
#ifndef MJH_PROTOCOL_H
#define MJH_PROTOCOL_H

#include <stddef.h>

#include "options.h"
#include "policy.h"
#include "report.h"
#include "schedule_text.h"
#include "text.h"

enum {
  MJH_REQUEST_MAX = 4096,  // bytes of one request, its '\n' included
  MJH_REPLY_MAX = 8192     // bytes of one reply, its '\n' included
};

// ---- Reading requests, byte by byte as they arrive ---------------------------

struct mjh_line_reader {
  char line[MJH_REQUEST_MAX + 1];
  size_t len;     // of the line, without its "\n" or "\r\n"; it may hold NUL bytes
  bool overflow;  // more than MJH_REQUEST_MAX bytes before a '\n'
  bool ready;     // line holds a complete line until mjh_line_reader_next
};

enum mjh_line_result {
  MJH_LINE_MORE,     // no complete line yet
  MJH_LINE_READY,    // reader->line holds one line (reader->len bytes), NUL-terminated, without its '\n' or "\r\n"
  MJH_LINE_TOO_LONG  // the limit was passed: reply with an error and drop the client
};

void mjh_line_reader_init(mjh_line_reader *r);

// Takes up to n bytes; *used receives how many were consumed (the rest belong
// to the next line). After MJH_LINE_READY, call mjh_line_reader_next before
// feeding more (until then feeding consumes nothing and says READY again).
// MJH_LINE_TOO_LONG comes as soon as the line can no longer fit; from then on
// the reader consumes and drops everything (mjh_line_reader_init resets it).
mjh_line_result mjh_line_reader_feed(mjh_line_reader *r, const char *bytes, size_t n, size_t *used);
void mjh_line_reader_next(mjh_line_reader *r);

// ---- Requests ----------------------------------------------------------------

// "show": the agent shows where it is (a notification beside its icon), as
// a second launch of mjtray asks it to.
enum mjh_command { MJH_CMD_STATUS, MJH_CMD_START, MJH_CMD_STOP, MJH_CMD_NUDGE, MJH_CMD_QUIT, MJH_CMD_SHOW };

// The command's name in requests, e.g. "status"; null for no command.
const char *mjh_command_name(mjh_command cmd);

struct mjh_request {
  mjh_command cmd;
  mjh_options options;            // start: `saved` with the keys of "options" applied
  unsigned given;                 // start: the keys "options" named (0: none, use the saved settings)
  mjh_schedule_request schedule;  // start: the schedule keys "options" named (schedule.given 0: none)
};

// Reads one request line (without its '\n'). saved (may be null: the
// defaults): the settings a start's options apply to. Returns true, or false
// with a message for the error reply appended to err (may be null), e.g.
// "not JSON", "unknown command \"go\"", "\"dx\" must be a whole number from
// -200 to 200, not 300"; *out is then untouched. Unknown members, "options"
// on another command and NUL bytes are refused.
bool mjh_request_parse(const char *line, size_t len, const mjh_options *saved, mjh_request *out, mjh_text *err);

// Appends the request line for a command, with '\n', e.g.
// {"cmd":"start","options":{"interval_s":60,"hours":"08:30-17:00"}}. Only a
// start carries options: those of `keys` (options null or keys 0: none) and
// the schedule's keys (schedule null or given 0: none). Returns false,
// nothing written, for a command that is not one; the caller checks out.ok().
bool mjh_request_format(mjh_command cmd, const mjh_options *options, unsigned keys,
                        const mjh_schedule_request *schedule, mjh_text &out);

// ---- Replies ------------------------------------------------------------------
//
// The writers append one reply line; the caller checks out.ok() once.

// What the agent says of itself beside the DLL's status line.
struct mjh_agent_state {
  mjh_options settings;    // the saved settings
  bool run_on;             // the user wants the run on
  bool keep_awake_held;    // the system is being kept awake now
  bool keep_display_held;  // and the display on
  bool failing;            // the run's recent nudges fail
  const char *last_error;  // the DLL's last error text, "" when none
  unsigned long pid;       // the agent's process id
  const char *version;     // the agent's version
  // Optional (null: left out, as an older agent does):
  const char *schedule_json;    // mjh_schedule_json's object, sent as "schedule" when it is one
  const char *stopped_because;  // why the run is not on now, e.g. "session ended after 2 h"
  const char *state;            // "active", "waiting" or "stopped"
  const char *reason;           // the one thing that holds the run back, or what a session does
  bool elevated;                // the agent runs as administrator
  const char *conditions_json;  // {"while_running":...,"foreground":...,"ac_only":...,"battery_floor":...}
  const char *policy_json;      // mjh_policy_json's object, sent as "policy" when it is one
};

// {"ok":true}\n
void mjh_reply_ok(mjh_text &out);
// The error of every request an agent gets once it has begun to end: its
// process ends soon, and a client may then start another agent.
extern const char mjh_shutting_down[];
// {"ok":false,"error":"..."}\n with the message escaped (and shortened past
// 511 bytes).
void mjh_reply_error(const char *message, mjh_text &out);
// {"ok":true,"run":<run_line>,"agent":{"pid":1234,"version":"1.0.0",
// "run_on":true,"keep_awake":false,"keep_display":false,"failing":false,
// "last_error":"","settings":{<mjh_options_json>}}}\n
// run_line is the DLL's status line, inserted as it is ("run":null when it is
// not one JSON object). agent.keep_awake: the system held awake now;
// agent.keep_display: the display too (while the desktop is locked, the
// system alone is); settings.keep_awake: what the user wants. Later versions
// may add members anywhere, in "agent" too: readers pass over members they
// do not know. "agent" also carries, when
// given: "schedule":{<mjh_schedule_json>}, "stopped_because":"...",
// "state":"waiting", "reason":"on battery", "elevated":false,
// "conditions":{...} and "policy":{<mjh_policy_json>}.
void mjh_reply_status(const mjh_agent_state *agent, const char *run_line, mjh_text &out);

// A reply as a client reads it.
struct mjh_reply {
  bool ok;
  char error[256];  // when !ok
  bool has_run;     // a status reply: the fields below are filled
  mjh_status run;   // the "run" object (all zero when the agent sent "run":null)
  mjh_options settings;
  bool run_on, keep_awake_held, failing;
  bool keep_display_held;  // as keep_awake_held where the agent does not say (it held both together)
  char last_error[256];
  unsigned long pid;
  char version[32];
  // The agent's schedule, when its reply has one that reads whole (else
  // has_schedule false and the fields empty):
  bool has_schedule;
  char hours[MJH_HOURS_TEXT_MAX];  // "" when no working hours are set
  char days[MJH_DAYS_TEXT_MAX];    // "" likewise
  bool inside;                     // now is within the working hours
  int64_t session_end;             // when the session ends, or MJH_NO_TIME
  int64_t next_start;              // when a waiting run starts again, or MJH_NO_TIME
  char warning[256];               // the interval cannot keep ahead of the lock: why; "" when it can
  char stopped_because[128];       // "" when the agent says nothing of it
  // What the run does now, in the agent's words (has_state false: an older
  // agent that does not say):
  bool has_state;
  char state[16];    // "active", "waiting", "stopped"
  char reason[256];  // e.g. "on battery", "outside working hours, next start 08:30"
  bool elevated;
  // The conditions set (has_conditions false when the agent does not say):
  bool has_conditions;
  char while_running[MJH_PROGRAMS_TEXT_MAX];  // "" for none
  bool foreground, ac_only;
  int battery_floor;
  // The organization's policies the agent follows (none when it does not say).
  mjh_policy policy;
};

// Reads one reply line (with or without its '\n'). Returns true, or false
// when it is not a reply of this protocol (then *out is untouched). "ok" is
// required; a status reply ("agent" present) needs every member named above,
// and members not named here are passed over. Texts too long for their field
// are cut. "schedule" and "stopped_because" are optional: a schedule of
// another form is passed over as a newer agent's member would be.
bool mjh_reply_read(const char *line, size_t len, mjh_reply *out);

#endif
