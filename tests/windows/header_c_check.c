/* The public header seen by a C host: the function-pointer types match the
 * declarations exactly (an assignment of a different type does not compile
 * with -Werror), and the version macros agree with one another. */
#include <stdio.h>

#include "mouse_jiggler.h"

typedef char
    mj_version_macros_are_1_0_0[(MJ_VERSION_MAJOR == 1 && MJ_VERSION_MINOR == 0 && MJ_VERSION_PATCH == 0) ? 1 : -1];
/* The options' ranges are constant expressions in C too. */
typedef char mj_ranges_are_constants
    [(MJ_INTERVAL_S_MIN == 1 && MJ_INTERVAL_S_MAX == 3600 && MJ_MOVE_MIN == -200 && MJ_MOVE_MAX == 200) ? 1 : -1];

/* The version through a pointer of the header's type, and the macros as one
 * text; the C++ test compares both with mj_version(). */
const char *header_c_version(char *macros, size_t size) {
  mj_start_fn start = mj_start;
  mj_stop_fn stop = mj_stop;
  mj_status_fn status = mj_status;
  mj_nudge_now_fn nudge_now = mj_nudge_now;
  mj_idle_ms_fn idle_ms = mj_idle_ms;
  mj_last_error_fn last_error = mj_last_error;
  mj_version_fn version = mj_version;
  (void)start;
  (void)stop;
  (void)status;
  (void)nudge_now;
  (void)idle_ms;
  (void)last_error;
  snprintf(macros, size, "%d.%d.%d|%s", MJ_VERSION_MAJOR, MJ_VERSION_MINOR, MJ_VERSION_PATCH, MJ_VERSION_STRING);
  return version();
}
