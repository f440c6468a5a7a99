#include "lock_rule.h"

#include <stdint.h>

#include "setting_table.h"

int mjh_lock_timeout(bool saver_active, int saver_timeout_s, int display_off_s) {
  int lock = saver_active && saver_timeout_s > 0 ? saver_timeout_s : 0;
  if (display_off_s > 0 && (lock == 0 || display_off_s < lock)) lock = display_off_s;
  return lock;
}

bool mjh_interval_safe(int interval_s, bool only_when_idle, int lock_s) {
  if (lock_s <= 0) return true;
  return int64_t{interval_s} * (only_when_idle ? 2 : 1) <= int64_t{lock_s} - MJH_LOCK_MARGIN_S;
}

int mjh_largest_safe_interval(bool only_when_idle, int lock_s) {
  const mjh_setting &interval = mjh_option_row(MJH_KEY_INTERVAL_S);
  if (lock_s <= 0) return interval.max;
  const int64_t largest = (int64_t{lock_s} - MJH_LOCK_MARGIN_S) / (only_when_idle ? 2 : 1);
  return largest < interval.min ? interval.min : largest > interval.max ? interval.max : static_cast<int>(largest);
}

void mjh_interval_warning_of(int interval_s, bool only_when_idle, int lock_s, mjh_lock_kind kind, mjh_text &out) {
  if (mjh_interval_safe(interval_s, only_when_idle, lock_s)) return;
  const int largest = mjh_largest_safe_interval(only_when_idle, lock_s);
  out.add(kind == MJH_LOCK_DISPLAY_OFF    ? "the display turns off after "
          : kind == MJH_LOCK_SCREEN_SAVER ? "the screen saver starts after "
                                          : "the screen locks after ",
          lock_s, " s of inactivity; ");
  if (only_when_idle)
    out.add("in only-when-idle mode a nudge can come up to ", 2 * int64_t{interval_s}, " s (twice ", interval_s,
            " s) after your last input");
  else
    out.add("nudges every ", interval_s, " s come too late");
  if (mjh_interval_safe(largest, only_when_idle, lock_s))
    out.add(": choose ", largest, " s or less");
  else
    out.add(": no interval is short enough");
}

void mjh_interval_warning_short_of(int interval_s, bool only_when_idle, int lock_s, mjh_lock_kind kind, mjh_text &out) {
  if (mjh_interval_safe(interval_s, only_when_idle, lock_s)) return;
  out.add(kind == MJH_LOCK_DISPLAY_OFF    ? "display off after "
          : kind == MJH_LOCK_SCREEN_SAVER ? "screen saver after "
                                          : "locks after ",
          lock_s, " s: use ", mjh_largest_safe_interval(only_when_idle, lock_s), " s or less");
}
