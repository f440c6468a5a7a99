// Whether a run's interval keeps ahead of the screen lock, the screen saver
// or the display turning off, and the warning when it does not. The Windows
// side reads the timeouts (host/win32/lock_timeout.h). Plain C++ without
// system headers, tested natively.
#ifndef MJH_LOCK_RULE_H
#define MJH_LOCK_RULE_H

#include "text.h"

constexpr int MJH_LOCK_MARGIN_S = 10;  // timer lateness and the lock's own granularity

// The inactivity after which the screen may lock: the smaller of the screen
// saver's timeout (when it is active) and the display-off timeout (0 when
// unknown); 0 when neither applies.
int mjh_lock_timeout(bool saver_active, int saver_timeout_s, int display_off_s);

// Always mode nudges every interval, so the idle time stays below it:
// interval <= lock - MJH_LOCK_MARGIN_S. Only-when-idle mode records a skip
// while the user is active and then waits a whole interval from it, so a
// nudge may come almost twice the interval after the last input:
// 2 * interval <= lock - MJH_LOCK_MARGIN_S. lock_s 0: always safe.
bool mjh_interval_safe(int interval_s, bool only_when_idle, int lock_s);

// The largest safe interval, clamped to the interval's range (its least
// when none is safe).
int mjh_largest_safe_interval(bool only_when_idle, int lock_s);

// What happens after the inactivity, for the warnings' wording.
enum mjh_lock_kind {
  MJH_LOCK_SCREEN_LOCK,   // "the screen locks"
  MJH_LOCK_SCREEN_SAVER,  // "the screen saver starts" (one that does not lock, or not known to)
  MJH_LOCK_DISPLAY_OFF    // "the display turns off"
};

// Nothing when safe; otherwise e.g. "the display turns off after 600 s of
// inactivity; in only-when-idle mode a nudge can come up to 800 s (twice
// 400 s) after your last input: choose 295 s or less".
void mjh_interval_warning_of(int interval_s, bool only_when_idle, int lock_s, mjh_lock_kind kind, mjh_text &out);

// The same, short for the tooltip and menu: "display off after 600 s: use
// 295 s or less" ("screen saver after ...", "locks after ...").
void mjh_interval_warning_short_of(int interval_s, bool only_when_idle, int lock_s, mjh_lock_kind kind, mjh_text &out);

#endif
