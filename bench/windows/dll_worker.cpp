// The yardstick for mjtray's processor time while a run waits: a program that
// does nothing but hold a run of the DLL (interval 3600 s), so that all it
// costs is the DLL's worker. It waits until it is ended.
#include <windows.h>

#include "mouse_jiggler.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (!mj_start("{\"mode\":\"zen\",\"interval_s\":3600,\"only_when_idle\":true}")) return 1;
  Sleep(INFINITE);
  return 0;
}
