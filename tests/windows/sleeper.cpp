// A stand-in for a program the agent waits for (a recorder, a render, a
// copy): copied under the names the tests list, it waits until the event
// named on its command line is set, at most two minutes, then exits with 0.
//
//   mj_sleeper EVENT [--window]
//
// With --window it first shows a window of its own, brings it to the
// foreground, and takes its messages while it waits. Windows tells the
// foreground's change to hooks of EVENT_SYSTEM_FOREGROUND; Wine does not, so
// the program tells it itself (on Windows the hooks hear it twice).
#include <windows.h>

#include <cstring>

#include "handle.h"

int main(int argc, char **argv) {
  mjw_handle done(argc > 1 ? OpenEventA(SYNCHRONIZE, FALSE, argv[1]) : nullptr);
  if (!done) return 2;
  HANDLE waited = done.get();
  if (argc > 2 && std::strcmp(argv[2], "--window") == 0) {
    HWND window = CreateWindowExA(0, "STATIC", "mj_sleeper", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    if (!window) return 3;
    SetForegroundWindow(window);
    NotifyWinEvent(EVENT_SYSTEM_FOREGROUND, window, OBJID_WINDOW, CHILDID_SELF);
  }
  ULONGLONG deadline = GetTickCount64() + 120000;
  for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
    DWORD r = MsgWaitForMultipleObjects(1, &waited, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) break;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  return 0;
}
