// The options of a run as a person or a script gives them to a host: the
// DLL's six keys plus keep_awake, read strictly. The DLL's own reader is
// lenient by contract; the hosts refuse what a person most likely mistyped
// (not one JSON object, an unknown key, a value of the wrong type or out of
// range) with a message that names the problem. Plain C++ without system
// headers, tested natively.
#ifndef MJH_OPTIONS_H
#define MJH_OPTIONS_H

#include <stddef.h>

#include "nudge_mode.h"
#include "text.h"

// The truth values are ints (0 or 1) so that the record has no padding:
// records are compared whole.
struct mjh_options {
  mj_mode mode;
  int interval_s;      // seconds; the ranges are the settings' table's
  int dx, dy;          // pixels
  int only_when_idle;  // 0 or 1
  int dry_run;         // 0 or 1
  int keep_awake;      // 0 or 1: the host also keeps the system and display on
};

// One bit per key, for the keys a text names and the keys a command accepts.
enum mjh_option_key {
  MJH_KEY_MODE = 1 << 0,
  MJH_KEY_INTERVAL_S = 1 << 1,
  MJH_KEY_DX = 1 << 2,
  MJH_KEY_DY = 1 << 3,
  MJH_KEY_ONLY_WHEN_IDLE = 1 << 4,
  MJH_KEY_DRY_RUN = 1 << 5,
  MJH_KEY_KEEP_AWAKE = 1 << 6,
  MJH_KEYS_DLL = (1 << 6) - 1,  // the six keys of the DLL's options text
  MJH_KEYS_ALL = (1 << 7) - 1
};

// zen, 60 s, dx 1, dy 1, only when idle, no dry run, no keep-awake.
void mjh_options_default(mjh_options *o);

// Reads text (len bytes, at most 4096, need not be NUL-terminated) as one
// JSON object whose keys are among `allowed`, and writes the keys it names
// into *o, leaving the others as they are. *given (may be null) receives the
// keys named. On failure returns false, leaves *o and *given unchanged, and
// appends a message for a person to err (may be null), e.g.
// `"dry_run" must be true or false, not "yes"`, `unknown key "speed"`,
// `duplicate key "dx"`, "not JSON", "not a JSON object", "not UTF-8".
// Numbers must be whole (not 1.5, not 1e3); booleans true or false; mode
// "zen" or "move".
bool mjh_options_parse(const char *text, size_t len, unsigned allowed, mjh_options *o, unsigned *given, mjh_text *err);

// The DLL's options text for o: all six keys, e.g.
// {"mode":"zen","interval_s":60,"dx":1,"dy":1,"only_when_idle":true,"dry_run":false}
void mjh_options_dll_text(const mjh_options *o, mjh_text &out);

// The same with keep_awake after the six: the "settings" object of replies.
void mjh_options_json(const mjh_options *o, mjh_text &out);

// The members of o that `keys` names, in the order above, for an object being
// written in out: each after a comma unless out is empty or ends in '{'.
void mjh_options_members(const mjh_options *o, unsigned keys, mjh_text &out);

// The options that `keys` names, taken from `from` into *to; the others stay.
void mjh_options_take(mjh_options *to, const mjh_options &from, unsigned keys);

#endif
