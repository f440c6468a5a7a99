/* The yardstick for mjtray's memory and processor time: the smallest Win32
 * program with a hidden window and a message loop, linked like mjtray
 * (statically, GUI subsystem). It waits for messages until it is ended. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  WNDCLASSW wc = {0};
  MSG msg;
  (void)previous;
  (void)command_line;
  (void)show;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = L"MinimalWindow";
  if (!RegisterClassW(&wc) ||
      !CreateWindowExW(WS_EX_TOOLWINDOW, L"MinimalWindow", L"", WS_POPUP, 0, 0, 0, 0, NULL, NULL, instance, NULL))
    return 1;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
