// The agent's saved settings and how each one is stored as a named value
// (in the registry on Windows: HKCU\Software\Veltrano\Mouse Jiggler). Reading
// never fails: a missing, mistyped or out-of-range value gives its default.
// Plain C++ without system headers, tested natively.
#ifndef MJH_SETTINGS_H
#define MJH_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

#include "options.h"

struct mjh_settings {
  mjh_options options;
  int run_on;         // 0 or 1: the run was on when the user last left it
  int notifications;  // 0 or 1: the agent tells when a session ends and when nudges begin to fail
  // The conditions beside working hours (the programs are stored apart, as a
  // text: conditions.h):
  int foreground;     // 0 or 1: only while a listed program owns the foreground window
  int ac_only;        // 0 or 1: only on mains power
  int battery_floor;  // 0 (off), or 5 to 95: stop below this battery charge
};

// The defaults, which are also what the first launch ever starts: zen, 60 s,
// only when idle, keep-awake off, run on, notifications on, no conditions.
void mjh_settings_default(mjh_settings *s);

// How a value is stored.
enum mjh_value_type {
  MJH_VALUE_MISSING,  // no such value
  MJH_VALUE_NUMBER,   // a 32-bit number (REG_DWORD); signed settings read it as two's complement
  MJH_VALUE_TEXT,     // a string (REG_SZ), UTF-8 here
  MJH_VALUE_OTHER     // any other type, or a value too large to read
};

struct mjh_value {
  mjh_value_type type;
  uint32_t number;   // MJH_VALUE_NUMBER
  const char *text;  // MJH_VALUE_TEXT, NUL-terminated
};

// The stored settings, in a fixed order, and their value names.
int mjh_setting_count(void);
const char *mjh_setting_name(int i);  // e.g. "interval_s"

// Applies stored value i to *s: a value of the right type and range replaces
// the field; anything else leaves it as it was (the default, when *s started
// as mjh_settings_default). Returns true when the value was used.
bool mjh_settings_apply(mjh_settings *s, int i, const mjh_value *v);

// The value to store for setting i of *s: the mode as MJH_VALUE_TEXT (a
// constant, the mode's name), the others as MJH_VALUE_NUMBER;
// MJH_VALUE_MISSING for no such setting.
void mjh_settings_value(const mjh_settings *s, int i, mjh_value *v);

#endif
