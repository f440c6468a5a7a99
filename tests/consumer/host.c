/* A host of veltrano-mouse-jiggler.dll: one nudge now, then a run of zen
 * nudges every second for three seconds. */
#include <stdio.h>
#include <windows.h> /* Sleep */

#include "mouse_jiggler.h"

int main(void) {
  printf("veltrano-mouse-jiggler %s, user idle for %d ms\n", mj_version(), mj_idle_ms());

  if (!mj_nudge_now(NULL)) { /* NULL: a zen nudge with the defaults */
    fprintf(stderr, "nudge failed: %s\n", mj_last_error());
    return 1;
  }

  if (!mj_start("{\"mode\":\"sideways\"}")) /* rejected: the reason is in mj_last_error */
    printf("rejected: %s\n", mj_last_error());

  if (!mj_start("{\"mode\":\"zen\",\"interval_s\":1,\"only_when_idle\":false}")) {
    fprintf(stderr, "start failed: %s\n", mj_last_error());
    return 1;
  }
  Sleep(3000);
  printf("%s\n", mj_status()); /* valid until the next mj_status call */
  mj_stop();                   /* always before the DLL is unloaded */
  printf("%s\n", mj_status());
  return 0;
}
