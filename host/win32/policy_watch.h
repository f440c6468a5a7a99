// Watches the organization's two policy keys (policy_store.h), the machine's
// and the user's, and tells of a change by posting a message to a window: a
// script, a device-management tool or a policy delivered without a Group
// Policy refresh writes the values and nothing else.
//
// One thread of its own that only waits: RegNotifyChangeKeyValue on an event
// per root, no timer, so it costs nothing while nothing changes. What is
// watched is Software\Policies, keys and values of its whole tree, so that
// the policy key may be made, changed or removed (with its vendor's key or
// alone) at any time after the agent started. Where even Software\Policies
// does not exist (a fresh user profile), the deepest key above it that does
// is watched for keys made under it, and only its making is told.
//
// How the agent drives it: start(window, message) once, before it reads the
// policies for the first time, with its window and a message of its own
// (WM_APP + n); on the message it reads the policies again
// (mjw_policy_store_read), as for WM_SETTINGCHANGE "Policy". Another
// vendor's policies, written under the same tree, are told too; a burst of
// writes may be told more than once; a read after the message sees at least
// every change told. stop() or the owner's end ends the thread.
#ifndef MJW_POLICY_WATCH_H
#define MJW_POLICY_WATCH_H

#include <windows.h>

#include "handle.h"

class mjw_policy_watch {
 public:
  mjw_policy_watch() = default;
  ~mjw_policy_watch() { stop(); }
  mjw_policy_watch(const mjw_policy_watch &) = delete;
  mjw_policy_watch &operator=(const mjw_policy_watch &) = delete;

  // Starts watching both roots. Returns false, with GetLastError, when the
  // thread or its events cannot be made (nothing is watched then).
  bool start(HWND window, UINT message);
  void stop();

 private:
  static DWORD WINAPI thread_main(void *self);
  void run();

  HWND window_ = nullptr;
  UINT message_ = 0;
  mjw_handle stop_;        // manual-reset: the thread ends
  mjw_handle changed_[2];  // auto-reset, one per root
  mjw_handle thread_;
};

#endif
