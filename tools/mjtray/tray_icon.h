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
bool tray_icon_start(HWND window, UINT callback_message);

// The icon (the icon thread's from now on) and its tooltip. An empty icon
// keeps the current one.
void tray_icon_set(mjw_icon icon, const wchar_t *tooltip);

// A balloon notification beside the icon.
void tray_icon_notify(const wchar_t *title, const wchar_t *text);

// The notification area was created anew (Explorer restarted): the icon is
// added again.
void tray_icon_readd();

// Removes the icon and ends the thread; waits at most wait_ms for it, and
// returns whether it ended (a hung Explorer keeps it until the process ends).
bool tray_icon_stop(DWORD wait_ms);

#endif
