// The agent's saved settings and how each one is stored as a named value
// (in the registry on Windows: HKCU\Software\Veltrano\Mouse Jiggler), as the
// settings' table names them. Reading never fails: a missing, mistyped or
// out-of-range value gives its default.
// Plain C++ without system headers, tested natively.
#ifndef MJH_SETTINGS_H
#define MJH_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

#include "options.h"
#include "text.h"

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

struct mjh_hours;     // schedule.h
struct mjh_programs;  // conditions.h

// The stored values, in the order of the settings' table (setting_table.h):
// how many, and their names.
int mjh_setting_count(void);
const char *mjh_setting_name(int i);  // e.g. "interval_s"; "" past the last

// Applies stored value i of a number, a switch or the mode to *s: a value of
// the right type and range replaces the field; anything else leaves it as it
// was (the default, when *s started as mjh_settings_default). Returns true
// when the value was used; false also for the values of texts below.
bool mjh_settings_apply(mjh_settings *s, int i, const mjh_value *v);

// Everything the agent keeps, from the stored values (values[i] named
// mjh_setting_name(i); MJH_VALUE_MISSING where none is stored): the settings
// (mjh_settings_apply over the defaults), the working hours (as
// mjh_hours_from_stored reads them, damaged as a whole), and the programs of
// the program condition: none when none is stored, *programs_damaged when
// one is stored that does not read (the run then waits). Never fails.
void mjh_settings_read(const mjh_value *values, mjh_settings *s, mjh_hours *h, mjh_programs *p, bool *programs_damaged);

// The value to store as mjh_setting_name(i): the mode and the texts as
// MJH_VALUE_TEXT (appended to text, which v->text points into until text
// changes), the others as MJH_VALUE_NUMBER; MJH_VALUE_MISSING for what
// stays as it is stored (damaged working hours, programs p null: a damaged
// list) and for no such value. Returns false when text was too small.
bool mjh_settings_value(const mjh_settings &s, const mjh_hours &h, const mjh_programs *p, int i, mjh_value *v,
                        mjh_text &text);

#endif
