// Every setting a person, a script, the agent's store or an organization
// names, one row each, in the way a database keeps its pragmas: the options
// of a run, the keys of a start's schedule and the conditions of its run,
// and the agent's own. A row gives the setting's name (in a start's
// "options", in replies and as the stored value's name), its type, range and
// default, mjctl's flag with its lines of --help, the policy that limits it
// and where its value lives. Reading a start's options (the pipe, mjctl
// --options), reading mjctl's flags, writing them back, merging a start's
// keys into the saved settings, the store, the policies' ranges and
// mjctl --help all walk this table: a new setting is one row here plus what
// it does. Plain C++ without system headers, tested natively.
#ifndef MJH_SETTING_TABLE_H
#define MJH_SETTING_TABLE_H

#include <stddef.h>

#include "conditions.h"
#include "mouse_jiggler.h"
#include "options.h"
#include "policy.h"
#include "schedule.h"
#include "schedule_text.h"
#include "settings.h"
#include "text.h"

enum mjh_setting_kind : unsigned char {
  MJH_SETTING_OPTION,     // an option of a run (mjh_options): its bit is an MJH_KEY_*
  MJH_SETTING_SCHEDULE,   // a key of a start's schedule: an MJH_SCHED_KEY_*
  MJH_SETTING_CONDITION,  // a condition of the agent's run: an MJH_SCHED_KEY_*
  MJH_SETTING_AGENT       // the agent's own, only stored
};

enum mjh_setting_type : unsigned char {
  MJH_TYPE_MODE,      // "zen" or "move"; stored as that text
  MJH_TYPE_WHOLE,     // a whole number from min to max; stored as a DWORD
  MJH_TYPE_SWITCH,    // true or false; stored as 1 or 0
  MJH_TYPE_LEVEL,     // 0 (off), or a whole number from min to max
  MJH_TYPE_HOURS,     // working hours' spans, a text (mjh_hours_parse)
  MJH_TYPE_DAYS,      // the days they start on, a text (mjh_days_parse)
  MJH_TYPE_DURATION,  // whole seconds from min to max, or a text such as "1h30m"
  MJH_TYPE_UNTIL,     // a time of day, or "end": the end of today's working hours
  MJH_TYPE_PROGRAMS   // at most max program names, a text (mjh_programs_parse)
};

// The mjctl commands a flag applies to.
enum { MJH_FOR_RUN = 1, MJH_FOR_NUDGE = 2, MJH_FOR_START = 4, MJH_FOR_STATUS = 8, MJH_FOR_QUIT = 16 };

// A flag of mjctl: its name, the word for its value in --help (null: it
// takes none), its text in --help (lines joined by '\n', in which {min},
// {max} and {default} stand for its setting's; none: it shares the line of
// the flag before it, "--dx N, --dy N") and the commands it applies to.
struct mjh_flag {
  const char *name;
  const char *value;
  const char *help;
  unsigned commands;
};

// --always: only_when_idle's flag that turns it off.
inline constexpr mjh_flag mjh_always_flag = {
    "--always", nullptr,
    "nudge even while the user is active (default: only after\na whole interval without user input)",
    MJH_FOR_RUN | MJH_FOR_START};

struct mjh_setting {
  const char *name;                      // in a start's "options", in replies and as the stored value's name
  mjh_setting_kind kind;                 //
  unsigned char bit;                     // MJH_KEY_* or MJH_SCHED_KEY_*; 0 for the agent's own
  mjh_setting_type type;                 //
  int min, max;                          // a number's range (a level's besides 0); a list's most names
  int fallback;                          // the default of a number, a switch or the mode
  const char *words;                     // in messages: what a number counts, or what a text must be
  bool stored;                           // the agent keeps it
  signed char policy;                    // the mjh_policy_id that limits it, or -1
  mjh_flag flag;                         // mjctl's flag (none: a null name); a switch's turns it on
  const mjh_flag *flag_off;              // a switch's flag that turns it off, or null
  int mjh_options::*option;              // an option's field (the mode has a type of its own)
  int mjh_schedule_request::*requested;  // a number or switch of a start's schedule or conditions
  int mjh_settings::*saved;              // a condition's or the agent's own field in the saved settings
};

// The table. The options come first, in the order of the DLL's options text
// (keep_awake last); their bits are 1 << their place. Each row: the name,
// kind, bit and type; the range, default and words; whether it is stored
// and the policy that limits it; mjctl's flag(s); the fields it lives in.
// clang-format off
inline constexpr mjh_setting mjh_setting_rows[] = {
    {"mode", MJH_SETTING_OPTION, MJH_KEY_MODE, MJH_TYPE_MODE,
     0, 0, MJ_MODE_ZEN, nullptr,
     true, -1,
     {"--mode", "zen|move", "zen: a move of 0,0 (default); move: dx,dy, back and forth",
      MJH_FOR_RUN | MJH_FOR_NUDGE | MJH_FOR_START}, nullptr,
     nullptr, nullptr, nullptr},
    {"interval_s", MJH_SETTING_OPTION, MJH_KEY_INTERVAL_S, MJH_TYPE_WHOLE,
     MJ_INTERVAL_S_MIN, MJ_INTERVAL_S_MAX, 60, "seconds",
     true, MJH_POLICY_MAX_INTERVAL,
     {"--interval", "S", "seconds between nudges, {min} to {max} (default {default})",
      MJH_FOR_RUN | MJH_FOR_START}, nullptr,
     &mjh_options::interval_s, nullptr, nullptr},
    {"dx", MJH_SETTING_OPTION, MJH_KEY_DX, MJH_TYPE_WHOLE,
     MJ_MOVE_MIN, MJ_MOVE_MAX, 1, "pixels",
     true, -1,
     {"--dx", "N", "pixels of a move nudge, {min} to {max} (default {default})",
      MJH_FOR_RUN | MJH_FOR_NUDGE | MJH_FOR_START}, nullptr,
     &mjh_options::dx, nullptr, nullptr},
    {"dy", MJH_SETTING_OPTION, MJH_KEY_DY, MJH_TYPE_WHOLE,
     MJ_MOVE_MIN, MJ_MOVE_MAX, 1, "pixels",
     true, -1,
     {"--dy", "N", nullptr,  // on the line of --dx
      MJH_FOR_RUN | MJH_FOR_NUDGE | MJH_FOR_START}, nullptr,
     &mjh_options::dy, nullptr, nullptr},
    {"only_when_idle", MJH_SETTING_OPTION, MJH_KEY_ONLY_WHEN_IDLE, MJH_TYPE_SWITCH,
     0, 1, 1, nullptr,
     true, -1,
     {"--idle-only", nullptr, "nudge only after a whole interval without user input",
      MJH_FOR_START}, &mjh_always_flag,
     &mjh_options::only_when_idle, nullptr, nullptr},
    {"dry_run", MJH_SETTING_OPTION, MJH_KEY_DRY_RUN, MJH_TYPE_SWITCH,
     0, 1, 0, nullptr,
     true, -1,
     {"--dry-run", nullptr, "go through the motions, inject nothing",
      MJH_FOR_RUN | MJH_FOR_NUDGE | MJH_FOR_START}, nullptr,
     &mjh_options::dry_run, nullptr, nullptr},
    {"keep_awake", MJH_SETTING_OPTION, MJH_KEY_KEEP_AWAKE, MJH_TYPE_SWITCH,
     0, 1, 0, nullptr,
     true, MJH_POLICY_KEEP_AWAKE,
     {"--keep-awake", nullptr, "keep the system and display on while the run is active",
      MJH_FOR_RUN | MJH_FOR_START}, nullptr,
     &mjh_options::keep_awake, nullptr, nullptr},
    {"hours", MJH_SETTING_SCHEDULE, MJH_SCHED_KEY_HOURS, MJH_TYPE_HOURS,
     0, 0, 0, "a text such as \"08:30-12:00,13:00-17:30\" or \"any\"",
     true, MJH_POLICY_WORKING_HOURS,
     {"--hours", "SPANS", "working hours the agent keeps, e.g. 08:30-12:00,13:00-17:30\n"
                          "(it runs inside them, waits outside); any clears them",
      MJH_FOR_START}, nullptr,
     nullptr, nullptr, nullptr},
    {"days", MJH_SETTING_SCHEDULE, MJH_SCHED_KEY_DAYS, MJH_TYPE_DAYS,
     0, 0, 0, "a text such as \"mon-fri\"",
     true, MJH_POLICY_WORKING_DAYS,
     {"--days", "DAYS", "the days they start on, e.g. mon-fri, sat,sun, all",
      MJH_FOR_START}, nullptr,
     nullptr, nullptr, nullptr},
    {"for", MJH_SETTING_SCHEDULE, MJH_SCHED_KEY_FOR, MJH_TYPE_DURATION,
     1, static_cast<int>(MJH_DURATION_MAX_S), 0, "whole seconds or a text such as \"1h30m\"",
     false, -1,
     {"--for", "TIME", "stop after a while: 90 (seconds), 90s, 45m, 2h or 1h30m,\n"
                       "up to {max} s (default: until Ctrl+C, or stop)",
      MJH_FOR_RUN | MJH_FOR_START}, nullptr,
     nullptr, nullptr, nullptr},
    {"until", MJH_SETTING_SCHEDULE, MJH_SCHED_KEY_UNTIL, MJH_TYPE_UNTIL,
     0, 0, 0, "a time of day such as \"17:30\", or \"end\"",
     false, -1,
     {"--until", "HH:MM", "stop at that time of day, tomorrow's if it has passed\n"
                          "today (start also takes end: the end of today's hours)",
      MJH_FOR_RUN | MJH_FOR_START}, nullptr,
     nullptr, &mjh_schedule_request::until_minute, nullptr},
    {"while_running", MJH_SETTING_CONDITION, MJH_SCHED_KEY_WHILE_RUNNING, MJH_TYPE_PROGRAMS,
     0, MJH_PROGRAMS_MAX, 0, "a text such as \"obs64.exe,mstsc.exe\" or \"any\"",
     true, -1,
     {"--while-running", "NAMES", "run only while one of these programs runs in this\n"
                                  "session, e.g. obs64.exe,mstsc.exe (at most {max}); any\n"
                                  "clears the list",
      MJH_FOR_START}, nullptr,
     nullptr, nullptr, nullptr},
    {"foreground", MJH_SETTING_CONDITION, MJH_SCHED_KEY_FOREGROUND, MJH_TYPE_SWITCH,
     0, 1, 0, nullptr,
     true, -1,
     {"--foreground", nullptr, "with --while-running: only while one of them is in the\nforeground",
      MJH_FOR_START}, nullptr,
     nullptr, &mjh_schedule_request::foreground, &mjh_settings::foreground},
    {"ac_only", MJH_SETTING_CONDITION, MJH_SCHED_KEY_AC_ONLY, MJH_TYPE_SWITCH,
     0, 1, 0, nullptr,
     true, -1,
     {"--on-ac-only", nullptr, "pause the run on battery, resume it when plugged in",
      MJH_FOR_START}, nullptr,
     nullptr, &mjh_schedule_request::ac_only, &mjh_settings::ac_only},
    {"battery_floor", MJH_SETTING_CONDITION, MJH_SCHED_KEY_BATTERY_FLOOR, MJH_TYPE_LEVEL,
     MJH_BATTERY_STOP_MIN, MJH_BATTERY_STOP_MAX, 0, "percent",
     true, -1,
     {"--battery-floor", "N", "stop below N % battery ({min} to {max}) until charged above\n"
                              "N + 5 % or plugged in; 0 turns it off",
      MJH_FOR_START}, nullptr,
     nullptr, &mjh_schedule_request::battery_floor, &mjh_settings::battery_floor},
    {"run_on", MJH_SETTING_AGENT, 0, MJH_TYPE_SWITCH,
     0, 1, 1, nullptr,
     true, -1,
     {}, nullptr,
     nullptr, nullptr, &mjh_settings::run_on},
    {"notifications", MJH_SETTING_AGENT, 0, MJH_TYPE_SWITCH,
     0, 1, 1, nullptr,
     true, -1,
     {}, nullptr,
     nullptr, nullptr, &mjh_settings::notifications},
};
// clang-format on

inline constexpr int mjh_setting_row_count = sizeof mjh_setting_rows / sizeof mjh_setting_rows[0];

// How many rows are stored (mjh_setting_count, settings.h).
constexpr int mjh_stored_row_count() {
  int n = 0;
  for (const mjh_setting &row : mjh_setting_rows) n += row.stored;
  return n;
}

// The row of an option (an MJH_KEY_*), or of a schedule key or a condition
// (an MJH_SCHED_KEY_*).
constexpr const mjh_setting &mjh_option_row(unsigned key) {
  for (const mjh_setting &row : mjh_setting_rows)
    if (row.kind == MJH_SETTING_OPTION && row.bit == key) return row;
  return mjh_setting_rows[0];
}
constexpr const mjh_setting &mjh_schedule_row(unsigned key) {
  for (const mjh_setting &row : mjh_setting_rows)
    if ((row.kind == MJH_SETTING_SCHEDULE || row.kind == MJH_SETTING_CONDITION) && row.bit == key) return row;
  return mjh_setting_rows[0];
}

// Whether value is in the range of a number's row (a level's 0 included).
constexpr bool mjh_setting_in_range(const mjh_setting &row, long long value) {
  return (value >= row.min && value <= row.max) || (row.type == MJH_TYPE_LEVEL && value == 0);
}

// ---- What a start names -------------------------------------------------------
//
// A start names options (into an mjh_options, with the option keys named)
// and schedule and condition keys (into an mjh_schedule_request, which holds
// the keys it names).

struct mjh_jtok;  // json.h, inside the core

// Reads the members of object token obj, strictly: the option keys
// `options` into *o and the schedule and condition keys `schedule` into *r
// (bits), each of its type and range; the keys read are added to *given (may
// be null) and to r->given. Any other key of the table is refused as "not an
// option here" (an option) or as unknown (the rest), and so is a key the
// table does not have, unless pass_over (the reply of a newer agent) passes
// over both. Returns false with a message for the first fault in the text (a
// value of the wrong type or range, text that does not read, a duplicate),
// or for "for" with "until"; nothing is changed then. r may be null when
// schedule is 0.
bool mjh_settings_from_json(const char *text, const mjh_jtok *t, int count, int obj, unsigned options,
                            unsigned schedule, bool pass_over, mjh_options *o, unsigned *given, mjh_schedule_request *r,
                            mjh_text *err);

// The same over text (len bytes, at most 4096, one JSON object).
bool mjh_settings_parse(const char *text, size_t len, unsigned options, unsigned schedule, mjh_options *o,
                        unsigned *given, mjh_schedule_request *r, mjh_text *err);

// Appends the members that the keys name (`options` of *o, the keys r names
// of *r; either may be null), in the table's order, to a JSON object being
// written: each after a comma unless out is empty or ends in '{'. The caller
// checks out.ok().
void mjh_settings_put(const mjh_options *o, unsigned options, const mjh_schedule_request *r, mjh_text &out);

// Reads mjctl's flag of row (off: its flag_off) into *o (an option, added
// to *given) or *r (the rest): value is the text after the flag (null for a
// flag that takes none). Returns false with a message that names the flag,
// e.g. `--interval needs a whole number of seconds from 1 to 3600, not "0"`
// or `--hours: <why>`.
bool mjh_setting_read_flag(const mjh_setting &row, bool off, const char *value, mjh_options *o, unsigned *given,
                           mjh_schedule_request *r, mjh_text *err);

// Takes the schedule and condition keys that `from` names into *to (the
// keys named are added).
void mjh_schedule_request_take(mjh_schedule_request *to, const mjh_schedule_request &from);

// Takes what a start's schedule and conditions name into what the agent
// keeps (each may be null: not taken): the conditions' numbers and switches
// into *saved, working hours and days into *hours (no longer damaged), the
// programs into *programs. A session ("for", "until") is not kept.
void mjh_schedule_request_keep(const mjh_schedule_request &from, mjh_settings *saved, mjh_hours *hours,
                               mjh_programs *programs);

// ---- mjctl --help -----------------------------------------------------------------

// Appends the lines of --help for one flag of mjctl's own: "  --json
// print raw JSON lines ...", the help under the title when the title is long.
void mjh_flag_help(const mjh_flag &flag, mjh_text &out);

// Appends the lines of --help for the table's flags that apply to exactly
// the commands given (MJH_FOR_* bits), in the table's order.
void mjh_setting_flags_help(unsigned commands, mjh_text &out);

#endif
