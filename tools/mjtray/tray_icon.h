// The agent's icon in the notification area, kept by a thread of its own.
// Every call into the notification area waits for Explorer, which may be
// slow or hung; the UI thread only says what the icon should be and never
// waits. The icon thread brings the notification area there, one call at a
// time, and always to the latest state asked for.
#ifndef MJTRAY_TRAY_ICON_H
#define MJTRAY_TRAY_ICON_H

#include <windows.h>

#include "handle.h"

// Starts the thread. The icon's messages (uCallbackMessage) go to window.
// The shell knows the icon by a GUID of the program's path (mjh_icon_guid of
// program_path), so that its place and the user's choice to show or hide it
// stay with this copy of the program; by the window alone where the shell
// takes no GUID, or program_path is empty.
bool tray_icon_start(HWND window, UINT callback_message, const wchar_t *program_path);

// The icon (the icon thread's from now on) and its tooltip. An empty icon
// keeps the current one.
void tray_icon_set(mjw_icon icon, const wchar_t *tooltip);

// A balloon notification beside the icon; not shown (nor kept for later)
// while the user does not welcome them: away, busy with a full-screen program
// or a presentation, in quiet time (mjh_notification_shown), and the shell
// keeps quiet time too (NIIF_RESPECT_QUIET_TIME).
void tray_icon_notify(const wchar_t *title, const wchar_t *text);

// The notification area was created anew (Explorer restarted): the icon is
// added again.
void tray_icon_readd();

// Removes the icon and ends the thread; waits at most wait_ms for it, and
// returns whether it ended (a hung Explorer keeps it until the process ends).
bool tray_icon_stop(DWORD wait_ms);

#endif
