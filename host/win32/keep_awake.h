/* Keeps the system and the display on while a run is active: a thread that
 * holds SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED |
 * ES_DISPLAY_REQUIRED) from its start until it is told to stop, then clears
 * it. Used by both hosts; the DLL knows nothing of it. */
#ifndef MJW_KEEP_AWAKE_H
#define MJW_KEEP_AWAKE_H

#include <windows.h>


typedef struct mjw_keep_awake {
  HANDLE thread; /* NULL while not held */
  HANDLE stop;
} mjw_keep_awake;

/* Starts holding; does nothing when already held. Returns 1 when held. */
int mjw_keep_awake_start(mjw_keep_awake *k);
/* Stops holding and waits for the thread; does nothing when not held. */
void mjw_keep_awake_stop(mjw_keep_awake *k);
int mjw_keep_awake_held(const mjw_keep_awake *k);


#endif
