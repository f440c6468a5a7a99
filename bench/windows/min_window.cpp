// The yardstick for mjtray's memory: the smallest Win32 program with a hidden
// window and a message loop, linked like mjtray (statically, GUI subsystem).
// It waits for messages until it is ended.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = L"MinimalWindow";
  if (!RegisterClassW(&wc) || !CreateWindowExW(WS_EX_TOOLWINDOW, L"MinimalWindow", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                               nullptr, instance, nullptr))
    return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
