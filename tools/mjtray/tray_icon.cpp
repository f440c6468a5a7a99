#include "tray_icon.h"

#include <wchar.h>
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <utility>

#include "handle.h"
#include "locked.h"
#include "tray.h"
#include "wide.h"

namespace {

enum { ICON_ID = 1, TIP_CHARS = 128, TITLE_CHARS = 64, INFO_CHARS = 256 };

// What the UI thread asks for, under g_lock.
struct wanted {
  wchar_t tip[TIP_CHARS];
  bool tip_changed;
  bool readd;
  bool notify;
  wchar_t title[TITLE_CHARS];
  wchar_t info[INFO_CHARS];
  bool stop;
};

CRITICAL_SECTION g_lock;
wanted g_wanted;
mjw_icon g_wanted_icon;  // a new icon, not yet taken by the thread
HWND g_window;
UINT g_callback;
bool g_has_guid;  // the icon's GUID is known (the program's path is)
GUID g_guid;
mjw_handle g_wake;  // auto-reset
mjw_handle g_thread;

void copy(wchar_t *to, size_t count, const wchar_t *from) {
  size_t n = wcsnlen(from, count - 1);
  wmemcpy(to, from, n);
  to[n] = L'\0';
}

// Names the icon in nid as the shell knows it: by its GUID (NIF_GUID), or by
// its window and number alone. The window and number always go along: Wine
// takes the GUID and goes by them.
void identify(NOTIFYICONDATAW &nid, bool by_guid) {
  nid.hWnd = g_window;
  nid.uID = ICON_ID;
  if (!by_guid) return;
  nid.uFlags |= NIF_GUID;
  nid.guidItem = g_guid;
}

NOTIFYICONDATAW icon_data(bool by_guid) {
  NOTIFYICONDATAW nid = {sizeof nid};
  identify(nid, by_guid);
  return nid;
}

bool add_as(NOTIFYICONDATAW nid, bool by_guid) {
  identify(nid, by_guid);
  if (!Shell_NotifyIconW(NIM_ADD, &nid)) return false;
  nid.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &nid);
  return true;
}

// Adds the icon shown (its picture, tip and callback): by its GUID; failing
// that, once more after removing what an earlier run of this copy left under
// the GUID (it ended without removing its icon); failing that too (a shell
// that takes no GUID, or one that ties this GUID to another path), by its
// window and number. by_guid tells which it is known by from now on.
bool add_icon(const NOTIFYICONDATAW &shown, bool &by_guid) {
  by_guid = g_has_guid;
  if (by_guid && add_as(shown, true)) return true;
  if (by_guid) {
    NOTIFYICONDATAW stale = icon_data(true);
    Shell_NotifyIconW(NIM_DELETE, &stale);
    if (add_as(shown, true)) return true;
  }
  by_guid = false;
  return add_as(shown, false);
}

// Whether a notification is shown now, in the user's state as the shell
// tells it (SHQueryUserNotificationState, looked up: not every shell has it).
bool notification_welcome() {
  using query_fn = HRESULT(WINAPI *)(int *);
  auto query = mjw_function<query_fn>(GetModuleHandleW(L"shell32.dll"), "SHQueryUserNotificationState");
  int state = MJH_USER_STATE_UNKNOWN;
  if (!query || FAILED(query(&state))) state = MJH_USER_STATE_UNKNOWN;
  return mjh_notification_shown(state);
}

DWORD WINAPI icon_thread(void *) {
  mjw_icon current;  // the icon the notification area shows
  wchar_t tip[TIP_CHARS] = L"";
  bool added = false;
  bool by_guid = false;  // how the shell knows it, once added
  for (;;) {
    if (WaitForSingleObject(g_wake.get(), INFINITE) != WAIT_OBJECT_0) break;
    wanted now;
    mjw_icon fresh;
    {
      mjw_locked hold(g_lock);
      now = g_wanted;
      fresh = std::move(g_wanted_icon);
      g_wanted.tip_changed = g_wanted.readd = g_wanted.notify = false;
    }
    if (now.stop) {
      if (added) {
        NOTIFYICONDATAW nid = icon_data(by_guid);
        Shell_NotifyIconW(NIM_DELETE, &nid);
      }
      break;
    }
    if (now.tip_changed) copy(tip, TIP_CHARS, now.tip);
    if (!fresh && !current) continue;  // nothing to show yet

    NOTIFYICONDATAW nid = {sizeof nid};
    nid.uFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP | NIF_MESSAGE;
    nid.uCallbackMessage = g_callback;
    nid.hIcon = fresh ? fresh.get() : current.get();
    copy(nid.szTip, TIP_CHARS, tip);
    if (now.readd || !added) {
      added = add_icon(nid, by_guid);
    } else if (fresh || now.tip_changed) {
      // NIF_SHOWTIP goes with every change, or the shell may drop it.
      identify(nid, by_guid);
      Shell_NotifyIconW(NIM_MODIFY, &nid);
    }
    if (fresh) current = std::move(fresh);  // the old one is no longer shown
    if (added && now.notify && notification_welcome()) {
      NOTIFYICONDATAW info = icon_data(by_guid);
      info.uFlags |= NIF_INFO;
      info.dwInfoFlags = NIIF_INFO | NIIF_RESPECT_QUIET_TIME;
      copy(info.szInfoTitle, TITLE_CHARS, now.title);
      copy(info.szInfo, INFO_CHARS, now.info);
      Shell_NotifyIconW(NIM_MODIFY, &info);
    }
  }
  return 0;
}

void wake() { SetEvent(g_wake.get()); }

}  // namespace

bool tray_icon_start(HWND window, UINT callback_message, const wchar_t *program_path) {
  InitializeCriticalSection(&g_lock);
  g_window = window;
  g_callback = callback_message;
  g_has_guid = program_path && program_path[0];
  if (g_has_guid) {
    mjh_text_buffer<MJW_FOLD_MAX * 3> path;
    mjw_narrow_path_folded(program_path, path);
    const mjh_guid guid = mjh_icon_guid(path.view());
    g_guid = {guid.data1, guid.data2, guid.data3, {}};
    for (int i = 0; i < 8; i++) g_guid.Data4[i] = guid.data4[i];
  }
  g_wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!g_wake) return false;
  g_thread.reset(CreateThread(nullptr, 64 * 1024, icon_thread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  return static_cast<bool>(g_thread);
}

void tray_icon_set(mjw_icon icon, const wchar_t *tooltip) {
  {
    mjw_locked hold(g_lock);
    const bool fresh = static_cast<bool>(icon);
    if (fresh) g_wanted_icon = std::move(icon);  // one not yet taken was never shown
    if (wcsncmp(g_wanted.tip, tooltip, TIP_CHARS) != 0 || fresh) {
      copy(g_wanted.tip, TIP_CHARS, tooltip);
      g_wanted.tip_changed = true;
    }
  }
  wake();
}

void tray_icon_notify(const wchar_t *title, const wchar_t *text) {
  {
    mjw_locked hold(g_lock);
    copy(g_wanted.title, TITLE_CHARS, title);
    copy(g_wanted.info, INFO_CHARS, text);
    g_wanted.notify = true;
  }
  wake();
}

void tray_icon_readd() {
  {
    mjw_locked hold(g_lock);
    g_wanted.readd = true;
  }
  wake();
}

bool tray_icon_stop(DWORD wait_ms) {
  if (!g_thread) return true;
  {
    mjw_locked hold(g_lock);
    g_wanted.stop = true;
  }
  wake();
  if (WaitForSingleObject(g_thread.get(), wait_ms) != WAIT_OBJECT_0) return false;
  g_thread.reset();
  return true;
}
