// Keeps the system and the display on while a run is active, or the system
// alone (while the desktop is locked, say): a thread that holds
// SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED, with
// ES_DISPLAY_REQUIRED for the display) from its start until it is told to
// stop, then clears it. Used by both hosts; the DLL knows nothing of it.
#ifndef MJW_KEEP_AWAKE_H
#define MJW_KEEP_AWAKE_H

#include <windows.h>

#include "handle.h"

struct mjw_keep_awake;

// Starts holding the system, and the display with it when display is true;
// does nothing when held so already, and holds anew when held otherwise.
// Returns true when held.
bool mjw_keep_awake_start(mjw_keep_awake *k, bool display = true);
// Stops holding and waits for the thread; does nothing when not held.
void mjw_keep_awake_stop(mjw_keep_awake *k);
bool mjw_keep_awake_held(const mjw_keep_awake *k);
// Whether the display is held with the system.
bool mjw_keep_awake_display(const mjw_keep_awake *k);

struct mjw_keep_awake {
  mjw_handle thread;  // empty while not held
  mjw_handle stop;
  bool display = false;  // while held: the display too

  mjw_keep_awake() = default;
  mjw_keep_awake(const mjw_keep_awake &) = delete;
  mjw_keep_awake &operator=(const mjw_keep_awake &) = delete;
  // The thread must not outlive its stop event: going out of scope stops it.
  ~mjw_keep_awake() { mjw_keep_awake_stop(this); }
};

#endif
