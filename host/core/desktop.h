// The desktop the agent's run works on, as Windows tells it: locked or not,
// on a screen or not (a session switched away, a remote one disconnected),
// remote or not; and, when nudges fail, the window in front of it. The
// decisions over what the Win32 side reads (host/win32/desktop.h). Plain C++
// without system headers, tested natively.
#ifndef MJH_DESKTOP_H
#define MJH_DESKTOP_H

#include "conditions.h"
#include "text.h"
#include "trust.h"

// ---- The desktop's state ------------------------------------------------------------

struct mjh_desktop {
  bool locked;     // the lock screen is in front: injected input reaches nothing of the user's
  bool connected;  // the session has a screen: the console's, or a remote client's
  bool remote;     // a remote session: its screen is a remote client's
};

// Unlocked, on the console's screen: what the agent takes when nothing can be
// read.
constexpr mjh_desktop mjh_desktop_here = {false, true, false};

// The changes Windows announces (the reasons of WM_WTSSESSION_CHANGE, with
// Windows' numbers).
enum {
  MJH_DESKTOP_CONSOLE_CONNECT = 1,
  MJH_DESKTOP_CONSOLE_DISCONNECT = 2,
  MJH_DESKTOP_REMOTE_CONNECT = 3,
  MJH_DESKTOP_REMOTE_DISCONNECT = 4,
  MJH_DESKTOP_LOCK = 7,
  MJH_DESKTOP_UNLOCK = 8
};

// Applies one change to d; the other reasons (log-on, log-off, remote
// control, ...) change nothing. Returns whether d changed.
bool mjh_desktop_apply(mjh_desktop *d, long change);

// Whether the desktop holds the run back: locked, or without a screen.
bool mjh_desktop_holds(const mjh_desktop &d);

// Why it holds the run back, as a waiting run's reason: "the desktop is
// switched away", "the remote desktop is disconnected" or "the computer is
// locked" (a desktop without a screen is said before its lock). Nothing when
// it does not.
void mjh_desktop_text(const mjh_desktop &d, mjh_text &out);

// ---- The window in front, when nudges fail ------------------------------------------

struct mjh_front_window {
  bool exists;                           // none is in front while the input goes to another desktop (the lock screen)
  int level;                             // of its process (MJH_LEVEL_*), MJH_LEVEL_UNKNOWN when unread
  char image[MJH_PROGRAM_NAME_MAX + 1];  // its program's file name ("taskmgr.exe"), "" when unread
};

// Whether Windows drops the input a process at own_level injects while w is
// in front: w's level is above it. What is unknown blocks nothing.
bool mjh_front_blocks(const mjh_front_window &w, int own_level);

// What blocks the nudges, as a reason after "blocked: ": "an administrator
// window is in front (taskmgr.exe)" ("a system window" from the system level
// up; without a name, no parentheses).
void mjh_blocked_text(const mjh_front_window &w, mjh_text &out);

#endif
