// After how much inactivity this session's screen locks, its screen saver
// starts or its display turns off: the screen saver's settings
// (SystemParametersInfo) and the display-off timeout of the active power plan
// for the current power source (powrprof.dll, loaded when present; where it
// or a function of it is missing, that timeout is unknown). Read again when
// deciding whether an interval is safe: the user may change them any time.
#ifndef MJW_LOCK_TIMEOUT_H
#define MJW_LOCK_TIMEOUT_H

#include "lock_rule.h"

enum mjw_lock_source {
  MJW_LOCK_NONE,          // nothing happens after inactivity, or nothing is known
  MJW_LOCK_SCREEN_SAVER,  // the screen saver starts (and, when secure, locks)
  MJW_LOCK_DISPLAY_OFF    // the power plan turns the display off
};

struct mjw_lock_timeout {
  int seconds;             // the smaller positive timeout, 0 when none
  mjw_lock_source source;  // which one it is
  mjh_lock_kind kind;      // the same for the warning text (mjh_interval_warning_of)
  bool saver_active;       // the screen saver is on
  int saver_timeout_s;     // its timeout, 0 when unknown
  int saver_secure;        // it locks the session: 1, 0, or -1 when unknown
  int display_off_s;       // the display-off timeout: 0 never, -1 unknown
  bool on_battery;         // the DC value was read, not the AC one
};

void mjw_lock_timeout_read(mjw_lock_timeout *out);

#endif
