// What Windows tells of the desktop the agent runs on: the session's state as
// it is (locked, on a screen, remote), its announcements of changes, and the
// window in front when nudges fail. The decisions over them are the core's
// (host/core/desktop.h).
#ifndef MJW_DESKTOP_WATCH_H
#define MJW_DESKTOP_WATCH_H

#include <windows.h>

#include "desktop.h"

// The state of this process's session now. What cannot be read is taken as
// mjh_desktop_here has it: unlocked, on a screen, not remote (so under Wine,
// which answers none of it, the run never waits for the desktop).
mjh_desktop mjw_desktop_read();

// Has window told of this session's changes (WM_WTSSESSION_CHANGE, whose
// wParam is the change for mjh_desktop_apply), and no longer.
bool mjw_desktop_watch(HWND window);
void mjw_desktop_unwatch(HWND window);

// The window in front and its process: the integrity level of its token and
// its program's file name, each where it can be read
// (PROCESS_QUERY_LIMITED_INFORMATION, which elevated processes grant).
mjh_front_window mjw_front_window_read();

#endif
