#include "desktop_watch.h"

#include <versionhelpers.h>
#include <wtsapi32.h>

#include "handle.h"
#include "token.h"
#include "wide.h"

static_assert(MJH_DESKTOP_CONSOLE_CONNECT == WTS_CONSOLE_CONNECT &&
                  MJH_DESKTOP_CONSOLE_DISCONNECT == WTS_CONSOLE_DISCONNECT &&
                  MJH_DESKTOP_REMOTE_CONNECT == WTS_REMOTE_CONNECT &&
                  MJH_DESKTOP_REMOTE_DISCONNECT == WTS_REMOTE_DISCONNECT && MJH_DESKTOP_LOCK == WTS_SESSION_LOCK &&
                  MJH_DESKTOP_UNLOCK == WTS_SESSION_UNLOCK,
              "the core's changes are Windows' numbers");

namespace {

// WTSSessionInfoEx's answer, as far as it is read here; MinGW's headers lack
// it. Its union holds 64-bit times, so the level's data begins 8 bytes in.
const WTS_INFO_CLASS k_wts_info_ex = static_cast<WTS_INFO_CLASS>(25);
struct wts_info_ex {
  DWORD level;
  alignas(8) ULONG session_id;
  INT connect_state;
  LONG flags;  // 0 locked, 1 unlocked, -1 unknown; Windows 7 swapped the first two
};
const LONG k_wts_locked = 0;

// One piece of information of this session, of type T; false when it cannot
// be read.
template <typename T>
bool wts_info(WTS_INFO_CLASS what, T *out) {
  LPWSTR data = nullptr;
  DWORD size = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &data, &size) || !data)
    return false;
  const bool whole = size >= sizeof(T);
  if (whole) *out = *reinterpret_cast<const T *>(data);
  WTSFreeMemory(data);
  return whole;
}

}  // namespace

mjh_desktop mjw_desktop_read() {
  mjh_desktop d = mjh_desktop_here;
  d.remote = GetSystemMetrics(SM_REMOTESESSION) != 0;
  INT state = 0;
  if (wts_info(WTSConnectState, &state)) d.connected = state == WTSActive || state == WTSConnected;
  wts_info_ex info;
  if (IsWindows8OrGreater() && wts_info(k_wts_info_ex, &info) && info.level == 1) d.locked = info.flags == k_wts_locked;
  return d;
}

bool mjw_desktop_watch(HWND window) { return WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION) != FALSE; }

void mjw_desktop_unwatch(HWND window) { WTSUnRegisterSessionNotification(window); }

mjh_front_window mjw_front_window_read() {
  mjh_front_window w = {false, MJH_LEVEL_UNKNOWN, ""};
  HWND window = GetForegroundWindow();
  DWORD pid = 0;
  w.exists = window != nullptr;
  if (!window || !GetWindowThreadProcessId(window, &pid) || pid == 0) return w;
  mjw_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return w;
  w.level = mjw_process_level(process.get());
  wchar_t path[MAX_PATH * 2];
  DWORD size = sizeof path / sizeof path[0];
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return w;
  mjh_text_buffer<MAX_PATH * 6> utf8;
  mjw_narrow(path, size, utf8);
  mjh_text image(w.image);
  image.add(mjh_image_name(utf8.view()));
  return w;
}
