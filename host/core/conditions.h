// Conditions of the agent's run beside working hours: the programs it runs
// while (a recorder, a render, a copy, a remote-desktop client), the battery
// rule, and the words of what holds a run back. Plain C++ without system
// headers, tested natively.
//
// How the agent drives them:
// - The list of programs comes from `mjctl start --while-running`, the pipe's
//   start key "while_running" and the registry, all as one comma text
//   ("obs64.exe,mstsc.exe", "any" for none) read by mjh_programs_parse and
//   written by mjh_programs_text. The pipe carries the comma text as a JSON
//   string rather than an array: one reader serves all three, and the start's
//   other list keys ("hours", "days") are comma texts with "any" too.
// - The Windows side (process_watch.h) tells which listed programs run and
//   which owns the foreground window, as an mjh_program_state; the battery
//   gate turns power readings (power.h) into an mjh_power_hold.
// - mjh_conditions_hold says what holds the run back now (0: nothing), and
//   mjh_hold_text says it in words.
#ifndef MJH_CONDITIONS_H
#define MJH_CONDITIONS_H

#include <stdint.h>

#include <string_view>

#include "text.h"

// ---- The programs a run is on while --------------------------------------------

enum {
  MJH_PROGRAMS_MAX = 16,
  MJH_PROGRAM_NAME_MAX = 80,  // bytes of UTF-8, ".exe" included
  // The longest comma text mjh_programs_text writes.
  MJH_PROGRAMS_TEXT_MAX = MJH_PROGRAMS_MAX * (MJH_PROGRAM_NAME_MAX + 1)
};

struct mjh_programs {
  int count;                                               // 0: no program condition
  char names[MJH_PROGRAMS_MAX][MJH_PROGRAM_NAME_MAX + 1];  // NUL-terminated, in the case typed
};

// No programs.
void mjh_programs_none(mjh_programs *p);

// Reads "obs64.exe,mstsc.exe" (blanks around names are dropped; "any", in any
// case, means no programs). A name is a file name alone: no folder, no drive,
// no wildcard, no control character, none of < > " |, not ending in a dot. A
// name that does not end in ".exe" (in any case) gets ".exe" added, so "obs64"
// is "obs64.exe" (programs that run are .exe files; "foo.scr" becomes
// "foo.scr.exe", which matches nothing). A name given twice (in any case) is
// kept once. Refuses, leaving *out as it was and saying why in err (may be
// null): no names, an empty name between commas, a bad name (shown quoted
// with its control characters escaped), a name longer than
// MJH_PROGRAM_NAME_MAX, more than MJH_PROGRAMS_MAX names.
bool mjh_programs_parse(std::string_view text, mjh_programs *out, mjh_text *err);

// The comma text that mjh_programs_parse reads back: "obs64.exe,mstsc.exe",
// "any" for none.
void mjh_programs_text(const mjh_programs &p, mjh_text &out);

// The file name at the end of a path ("C:\\a\\obs64.exe", "\\Device\\...",
// "dir/x.exe") or the name itself.
std::string_view mjh_image_name(std::string_view path);

// Whether two program names are the same (ASCII letters in any case; other
// bytes as they are).
bool mjh_program_name_equal(std::string_view a, std::string_view b);

// The index of the listed program a process image is (a full path or a bare
// name), or -1.
int mjh_programs_find(const mjh_programs &p, std::string_view image);

// ---- The battery rule -------------------------------------------------------------

enum {
  MJH_BATTERY_STOP_MIN = 5,
  MJH_BATTERY_STOP_MAX = 95,
  MJH_BATTERY_RESUME_MARGIN = 5  // a stopped run resumes above the stop level plus this
};

enum mjh_ac { MJH_AC_UNKNOWN, MJH_AC_ONLINE, MJH_AC_OFFLINE };

// What the system says of its power now.
struct mjh_power_reading {
  mjh_ac ac;
  int percent;       // battery charge 0 to 100, or -1 when unknown
  bool has_battery;  // false: no system battery, or not known to have one
};

struct mjh_battery_rule {
  bool mains_only;  // "Only on mains power": the run pauses on battery
  int stop_below;   // "Stop below N % battery": N from 5 to 95, 0 off
};

// Whether stop_below is 0 or from MJH_BATTERY_STOP_MIN to MJH_BATTERY_STOP_MAX;
// if not, says so in err (may be null).
bool mjh_battery_stop_valid(int stop_below, mjh_text *err);

enum mjh_power_hold {
  MJH_POWER_FREE,        // the power lets the run go on
  MJH_POWER_ON_BATTERY,  // mains only, and the computer runs on battery
  MJH_POWER_LOW_BATTERY  // the battery fell below the stop level and is not charged past it yet
};

// The battery rule's memory: whether the battery fell below the stop level.
// It is left on mains power (AC online) or once the battery is above the stop
// level plus MJH_BATTERY_RESUME_MARGIN; an unknown percent changes nothing. A
// computer without a battery never pauses.
struct mjh_battery_gate {
  bool low;
};

void mjh_battery_gate_reset(mjh_battery_gate *g);

// Feeds a reading under the rule in force (which may have changed since the
// last one) and says whether the power holds the run back. With both rules,
// "on battery" is said before "battery low": mains power ends both.
mjh_power_hold mjh_battery_gate_feed(mjh_battery_gate *g, const mjh_battery_rule &rule, const mjh_power_reading &r);

// ---- What holds a run back, and its words -------------------------------------------

struct mjh_conditions {
  mjh_programs programs;     // none: no program condition
  bool foreground;           // with programs: only while one of them owns the foreground window
  mjh_battery_rule battery;  // {false, 0}: no battery condition
};

void mjh_conditions_none(mjh_conditions *c);

// The listed programs as the Windows side sees them (process_watch.h).
struct mjh_program_state {
  uint32_t running;  // bit i: a process named programs.names[i] runs in this session
  int foreground;    // the index of the listed program that owns the foreground window, or -1
};

enum {
  MJH_HOLD_ON_BATTERY = 1,     // "on battery"
  MJH_HOLD_LOW_BATTERY = 2,    // "battery below 20 %"
  MJH_HOLD_NO_PROGRAM = 4,     // "waiting for obs64.exe or mstsc.exe"
  MJH_HOLD_NOT_FOREGROUND = 8  // "obs64.exe is not in the foreground"
};

// What holds the run back now: MJH_HOLD_ bits, 0 when the conditions let it go
// on. Programs hold it back while none of them runs; with foreground, also
// while none of those running owns the foreground window.
unsigned mjh_conditions_hold(const mjh_conditions &c, const mjh_program_state &s, mjh_power_hold power);

// The names of the listed programs whose bit is set in which: "a.exe",
// "a.exe or b.exe", "a.exe, b.exe or c.exe", and beyond three
// "a.exe, b.exe or 3 more".
void mjh_program_names_text(const mjh_programs &p, uint32_t which, mjh_text &out);

// What holds the run back, as the reason of a waiting run (words joined by
// ", "): "on battery", "battery below 20 %", "for obs64.exe or mstsc.exe",
// "obs64.exe is not in the foreground" (with several running: "neither a.exe
// nor b.exe is in the foreground", "none of a.exe, b.exe or c.exe is in the
// foreground"). Nothing for 0.
void mjh_hold_text(const mjh_conditions &c, const mjh_program_state &s, unsigned hold, mjh_text &out);

#endif
