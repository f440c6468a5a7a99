// The policies an organization sets for the hosts (Group Policy, or any tool
// that writes the registry): one table of value name, type and range, read
// from two sets of stored values, the machine's and the user's, under
//   HKLM\Software\Policies\Veltrano\Mouse Jiggler
//   HKCU\Software\Policies\Veltrano\Mouse Jiggler
// The machine's value wins where both set one. A damaged value (of the wrong
// type, out of range, or text that does not read) is ignored as if it were
// not set in its scope, and named; the other scope's value, if valid, then
// applies. WorkingHours and WorkingDays go together: a scope that sets
// WorkingHours gives the days too (every day without WorkingDays, or with an
// empty one), and a
// damaged one of the pair drops the pair of that scope.
// Plain C++ without system headers, tested natively.
#ifndef MJH_POLICY_H
#define MJH_POLICY_H

#include <stdint.h>

#include "options.h"
#include "schedule.h"
#include "schedule_text.h"
#include "settings.h"
#include "text.h"

#define MJH_POLICY_KEY "Software\\Policies\\Veltrano\\Mouse Jiggler"

enum mjh_policy_id {
  MJH_POLICY_ALLOWED,             // DWORD 0 or 1: 0 forbids every run and nudge of the hosts
  MJH_POLICY_MAX_INTERVAL,        // DWORD in the interval's range: the longest interval between nudges
  MJH_POLICY_KEEP_AWAKE,          // DWORD 0 or 1: 0 forbids keep-awake, 1 forces it on
  MJH_POLICY_WORKING_HOURS,       // REG_SZ, as mjctl start --hours takes it
  MJH_POLICY_WORKING_DAYS,        // REG_SZ, as mjctl start --days takes it
  MJH_POLICY_START_WITH_WINDOWS,  // DWORD 0 or 1: 1 the agent starts at every log-on, 0 never
  MJH_POLICY_COUNT
};

struct mjh_policy_def {
  const char *name;     // the registry value's name, e.g. "MaxIntervalSeconds"
  mjh_value_type type;  // MJH_VALUE_NUMBER (REG_DWORD) or MJH_VALUE_TEXT (REG_SZ)
  uint32_t min, max;    // numbers: the range
  size_t max_length;    // texts: the longest text that can be valid, in bytes
};

// The table, indexed by mjh_policy_id.
const mjh_policy_def &mjh_policy_table(int id);

enum mjh_policy_scope { MJH_SCOPE_NONE, MJH_SCOPE_MACHINE, MJH_SCOPE_USER };

// "machine" or "user", as the status and the sentences name a scope.
const char *mjh_policy_scope_name(mjh_policy_scope scope);

enum { MJH_POLICY_DAMAGE_MAX = 2 * MJH_POLICY_COUNT, MJH_POLICY_PROBLEM_MAX = 112 };

struct mjh_policy_damage {
  int id;                                // mjh_policy_id
  mjh_policy_scope scope;                // where the value is
  char problem[MJH_POLICY_PROBLEM_MAX];  // e.g. "out of range 1 to 3600: 0"
};

struct mjh_policy {
  mjh_policy_scope from[MJH_POLICY_COUNT];  // where each value in force comes from; NONE: not set
  bool allowed;                             // Allowed (true when not set)
  int max_interval_s;                       // MaxIntervalSeconds, 0 when not set
  int keep_awake;                           // KeepAwake: -1 not set (the user decides), 0 forbidden, 1 forced
  mjh_hours hours;                          // WorkingHours and WorkingDays, when from[MJH_POLICY_WORKING_HOURS] is set
  int start_with_windows;                   // StartWithWindows: -1 not set, 0 never, 1 always
  int damage_count;
  mjh_policy_damage damage[MJH_POLICY_DAMAGE_MAX];
};

// No policy set: everything is the user's to decide.
void mjh_policy_none(mjh_policy *p);

// Reads the stored values: machine[id] and user[id] as the store found them
// (MJH_VALUE_MISSING where not set; a null array: that scope has no key).
// Never fails.
void mjh_policy_read(const mjh_value *machine, const mjh_value *user, mjh_policy *p);

// Whether any policy is in force or damaged (the status says so only then).
bool mjh_policy_any(const mjh_policy &p);

// ---- The effective settings ---------------------------------------------------

// The options the agent runs with: a saved interval above MaxIntervalSeconds
// is used as that maximum; KeepAwake forces keep-awake on or off.
void mjh_policy_apply(const mjh_policy &p, mjh_options *o);

// The working hours the agent keeps: the policy's when set, else *h as it is.
void mjh_policy_apply_hours(const mjh_policy &p, mjh_hours *h);

// Whether the agent starts with Windows: StartWithWindows when set, else the user's choice.
bool mjh_policy_start_with_windows(const mjh_policy &p, bool users_choice);

// ---- What a user or a request asks for ---------------------------------------------

// Each returns true when allowed; otherwise false with a message that names
// the policy in *err (may be null).
// Any run or nudge: "turned off by your organization (policy Allowed)".
bool mjh_policy_check_allowed(const mjh_policy &p, mjh_text *err);
// "the interval is limited to 300 s by your organization's policy MaxIntervalSeconds".
bool mjh_policy_check_interval(const mjh_policy &p, int interval_s, mjh_text *err);
// "keep-awake is turned off (on) by your organization's policy KeepAwake".
bool mjh_policy_check_keep_awake(const mjh_policy &p, bool keep_awake, mjh_text *err);
// "working hours are set by your organization's policy WorkingHours".
bool mjh_policy_check_hours(const mjh_policy &p, mjh_text *err);
// "start with Windows is set by your organization's policy StartWithWindows".
bool mjh_policy_check_start_with_windows(const mjh_policy &p, mjh_text *err);

// A start (or run) request: Allowed, then the keys it names (MJH_KEY_* in
// keys; MJH_SCHED_KEY_HOURS/DAYS in sched_keys), in that order; the first
// refusal is the message.
bool mjh_policy_check_request(const mjh_policy &p, const mjh_options &o, unsigned keys, unsigned sched_keys,
                              mjh_text *err);

// What a host's command line asks for: mjctl run, nudge or start.
enum mjh_policy_command { MJH_POLICY_FOR_RUN, MJH_POLICY_FOR_NUDGE, MJH_POLICY_FOR_START };

// Allowed for all three; for run and start also the keys the command line
// names (MJH_KEY_* in keys, MJH_SCHED_KEY_* in sched_keys), as
// mjh_policy_check_request checks them. A run's options then become what it
// runs with (mjh_policy_apply: an interval it does not name capped at
// MaxIntervalSeconds, keep-awake as KeepAwake forces it); a start's are left
// to the agent, which applies the policies itself. Returns false with the
// first refusal in *err (may be null), *o unchanged.
bool mjh_policy_check_command(const mjh_policy &p, mjh_policy_command c, mjh_options *o, unsigned keys,
                              unsigned sched_keys, mjh_text *err);

// ---- Texts ------------------------------------------------------------------------

// The status reply's "policy" member:
//   {"in_force":{"MaxIntervalSeconds":{"value":300,"scope":"machine"},
//                "WorkingHours":{"value":"08:30-17:00","scope":"user"},...},
//    "damaged":[{"name":"KeepAwake","scope":"user","problem":"not a DWORD"}]}
// Values as stored (numbers for DWORD, texts for REG_SZ; working hours as the
// schedule writes them back), in the table's order; {"in_force":{},"damaged":[]}
// when none. Check out.ok() for a whole object.
void mjh_policy_json(const mjh_policy &p, mjh_text &out);

struct mjh_jtok;  // json.h

// Reads back the "policy" object that mjh_policy_json wrote (object token obj
// of a parsed reply): the values in force as their scopes gave them, and the
// damaged ones as named. Members this version does not know are passed over.
// Returns false, *p as none, for an object of another form.
bool mjh_policy_from_json(const char *text, const mjh_jtok *t, int count, int obj, mjh_policy *p);

// For people (mjctl status): "set by your organization: at most 300 s between
// nudges, keep-awake on, working hours mon-fri 08:30-17:00" ("" when nothing
// is set), and "policy values ignored as damaged: KeepAwake (user): not a
// DWORD; ..." ("" when none).
void mjh_policy_sentence(const mjh_policy &p, mjh_text &out);
void mjh_policy_damage_sentence(const mjh_policy &p, mjh_text &out);

// A menu item's label, with " (set by your organization)" when the policy
// id is in force, e.g. "Start with Windows (set by your organization)".
void mjh_policy_menu_label(const mjh_policy &p, int id, const char *label, mjh_text &out);

#endif
