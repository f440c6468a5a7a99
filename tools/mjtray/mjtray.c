/* mjtray: the agent of a user's session in the notification area. It owns
 * the session's run of veltrano-mouse-jiggler.dll: every DLL call is made on
 * this (the UI) thread, from the menu, the icon, the timer or a request that
 * the pipe's server thread hands over. Settings persist in the registry.
 *
 *   mjtray                    the agent (exits at once, 0, when one runs)
 *   mjtray --autostart on|off adds or removes the log-on entry, then exits */
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include "agent_text.h"
#include "icon.h"
#include "keep_awake.h"
#include "mouse_jiggler.h"
#include "pipe_server.h"
#include "resource.h"
#include "settings_store.h"

#ifndef MJTRAY_VERSION
#define MJTRAY_VERSION "unknown"
#endif

#define AGENT_MUTEX L"Local\\veltrano-mouse-jiggler-agent"
#define WINDOW_CLASS L"VeltranoMouseJigglerAgent"
#define APP_TITLE L"Mouse Jiggler"

enum {
  WM_MJ_NOTIFY = WM_APP + 1, /* from the notification area */
  WM_MJ_REQUEST,             /* from the pipe's server thread: lParam is a pipe_call */
  WM_MJ_EXIT,                /* leave once the current message is done */
  TRAY_ICON_ID = 1,
  STATUS_TIMER_ID = 1,
  STATUS_TIMER_MS = 1000
};

static const int k_intervals[] = {30, 60, 120, 300, 600};
static const UINT k_interval_ids[] = {IDM_INTERVAL_30, IDM_INTERVAL_60, IDM_INTERVAL_120, IDM_INTERVAL_300,
                                      IDM_INTERVAL_600};
enum { INTERVAL_CHOICES = sizeof k_intervals / sizeof k_intervals[0] };

typedef struct app {
  HINSTANCE instance;
  HWND window;
  UINT taskbar_created; /* broadcast when the notification area is (re)created */
  wchar_t exe_path[MAX_PATH];

  mjh_settings settings; /* as saved in the registry */
  int running;           /* this agent's run is active */
  int failing;
  int have_status;
  mjh_status last_status;
  mjw_keep_awake keep_awake;
  pipe_server *server;

  int icon_added;
  int icon_px;
  mjh_icon_state icon_state;
  HICON icon;
  int icon_changed;                 /* not yet handed to the notification area */
  wchar_t tooltip[MJH_TOOLTIP_MAX]; /* as last handed over */

  int exiting;
} app;

/* ---- Icon and tooltip ------------------------------------------------------- */

static HICON make_icon(mjh_icon_state state, int px) {
  BITMAPV5HEADER header;
  void *bits = NULL;
  HBITMAP colour, mask;
  ICONINFO info;
  HICON icon = NULL;
  HDC screen;

  memset(&header, 0, sizeof header);
  header.bV5Size = sizeof header;
  header.bV5Width = px;
  header.bV5Height = -px; /* top-down rows, as the renderer writes them */
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  screen = GetDC(NULL);
  colour = CreateDIBSection(screen, (BITMAPINFO *)&header, DIB_RGB_COLORS, &bits, NULL, 0);
  ReleaseDC(NULL, screen);
  if (!colour) return NULL;
  if (!mjh_icon_render(state, px, bits)) {
    DeleteObject(colour);
    return NULL;
  }
  mask = CreateBitmap(px, px, 1, 1, NULL); /* unused beside an alpha channel, but required */
  if (mask) {
    memset(&info, 0, sizeof info);
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    icon = CreateIconIndirect(&info);
    DeleteObject(mask);
  }
  DeleteObject(colour);
  return icon;
}

/* The size the notification area draws at, for the DPI of the window. The
 * per-DPI calls exist from Windows 10 1607 on: looked up, not imported. */
static int icon_size(HWND window) {
  typedef UINT(WINAPI * dpi_for_window_fn)(HWND);
  typedef int(WINAPI * metrics_for_dpi_fn)(int, UINT);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  dpi_for_window_fn dpi_for_window =
      user32 ? (dpi_for_window_fn)(void (*)(void))GetProcAddress(user32, "GetDpiForWindow") : NULL;
  metrics_for_dpi_fn metrics_for_dpi =
      user32 ? (metrics_for_dpi_fn)(void (*)(void))GetProcAddress(user32, "GetSystemMetricsForDpi") : NULL;
  UINT dpi = dpi_for_window && metrics_for_dpi ? dpi_for_window(window) : 0;
  int px = dpi ? metrics_for_dpi(SM_CXSMICON, dpi) : GetSystemMetrics(SM_CXSMICON);
  if (px < MJH_ICON_MIN_PX) px = MJH_ICON_MIN_PX;
  if (px > MJH_ICON_MAX_PX) px = MJH_ICON_MAX_PX;
  return px;
}

static mjh_icon_state current_icon_state(const app *a) {
  mjh_status idle;
  if (a->running && a->have_status) return mjh_icon_for(&a->last_status, a->failing, 0);
  if (a->running) return MJH_ICON_ACTIVE;
  memset(&idle, 0, sizeof idle);
  return mjh_icon_for(&idle, 0, 0);
}

static void fill_notify_data(const app *a, NOTIFYICONDATAW *nid) {
  memset(nid, 0, sizeof *nid);
  nid->cbSize = sizeof *nid;
  nid->hWnd = a->window;
  nid->uID = TRAY_ICON_ID;
}

/* Adds the icon (again, after the notification area was re-created) or
 * updates it: the picture for the state at the current size, the tooltip. */
static void refresh_icon(app *a, int re_add) {
  NOTIFYICONDATAW nid;
  mjh_icon_state state = current_icon_state(a);
  int px = icon_size(a->window);
  char tip[MJH_TOOLTIP_MAX];
  wchar_t wide_tip[MJH_TOOLTIP_MAX];
  mjh_status shown;

  if (!a->icon || state != a->icon_state || px != a->icon_px) {
    HICON icon = make_icon(state, px);
    if (icon) {
      if (a->icon) DestroyIcon(a->icon);
      a->icon = icon;
      a->icon_state = state;
      a->icon_px = px;
      a->icon_changed = 1;
    }
  }
  if (a->have_status) {
    shown = a->last_status;
  } else {
    memset(&shown, 0, sizeof shown);
  }
  if (!a->running) shown.active = 0;
  mjh_tooltip(&shown, a->failing, mj_last_error(), mjw_keep_awake_held(&a->keep_awake), tip, sizeof tip);
  if (!MultiByteToWideChar(CP_UTF8, 0, tip, -1, wide_tip, MJH_TOOLTIP_MAX)) wcscpy(wide_tip, APP_TITLE);

  fill_notify_data(a, &nid);
  nid.uFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP | NIF_MESSAGE;
  nid.uCallbackMessage = WM_MJ_NOTIFY;
  nid.hIcon = a->icon;
  wcsncpy(nid.szTip, wide_tip, sizeof nid.szTip / sizeof nid.szTip[0] - 1);
  if (re_add || !a->icon_added) {
    a->icon_added = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
    if (a->icon_added) {
      nid.uVersion = NOTIFYICON_VERSION_4;
      Shell_NotifyIconW(NIM_SETVERSION, &nid);
    }
  } else {
    /* Each tick changes the tooltip's countdown at most: the icon's pixels
     * travel to the notification area only when they changed. */
    /* NIF_SHOWTIP goes with every change, or the shell may drop it. */
    nid.uFlags = NIF_TIP | NIF_SHOWTIP | (a->icon_changed ? NIF_ICON : 0);
    if (a->icon_changed || wcscmp(wide_tip, a->tooltip) != 0) Shell_NotifyIconW(NIM_MODIFY, &nid);
  }
  if (a->icon_added) a->icon_changed = 0;
  wcscpy(a->tooltip, wide_tip);
}

static void remove_icon(app *a) {
  NOTIFYICONDATAW nid;
  if (a->icon_added) {
    fill_notify_data(a, &nid);
    Shell_NotifyIconW(NIM_DELETE, &nid);
    a->icon_added = 0;
  }
  if (a->icon) DestroyIcon(a->icon);
  a->icon = NULL;
}

/* ---- The run ------------------------------------------------------------------ */

static void read_status(app *a) {
  mjh_status now;
  if (!mjh_status_read(mj_status(), &now)) return;
  a->failing = a->have_status ? mjh_failing_update(&a->last_status, &now, a->failing) : 0;
  a->last_status = now;
  a->have_status = 1;
}

static void save_settings(app *a) {
  settings_store_save(&a->settings);
  if (a->server) pipe_server_set_saved(a->server, &a->settings.options);
}

/* Starts (or restarts) the run with o. Returns 1, or 0 with the DLL's
 * reason, the run as it was before. */
static int run_start(app *a, const mjh_options *o) {
  char text[256];
  if (!mjh_options_dll_text(o, text, sizeof text) || !mj_start(text)) return 0;
  a->running = 1;
  a->failing = 0;
  a->have_status = 0;
  read_status(a);
  if (o->keep_awake)
    mjw_keep_awake_start(&a->keep_awake);
  else
    mjw_keep_awake_stop(&a->keep_awake);
  SetTimer(a->window, STATUS_TIMER_ID, STATUS_TIMER_MS, NULL);
  refresh_icon(a, 0);
  return 1;
}

static void run_stop(app *a) {
  mj_stop();
  mjw_keep_awake_stop(&a->keep_awake);
  KillTimer(a->window, STATUS_TIMER_ID);
  if (a->running) read_status(a);
  a->running = 0;
  a->failing = 0;
  if (a->window && !a->exiting) refresh_icon(a, 0);
}

static void show_error(app *a, const wchar_t *what, const char *reason) {
  wchar_t text[512];
  _snwprintf(text, sizeof text / sizeof text[0], L"%ls: %hs", what, reason);
  text[sizeof text / sizeof text[0] - 1] = L'\0';
  MessageBoxW(a->window, text, APP_TITLE, MB_OK | MB_ICONWARNING);
}

/* The user turns the run on or off (menu, click): remembered for next time. */
static void user_toggle(app *a) {
  if (a->running) {
    run_stop(a);
    a->settings.run_on = 0;
    save_settings(a);
  } else if (run_start(a, &a->settings.options)) {
    a->settings.run_on = 1;
    save_settings(a);
  } else {
    show_error(a, L"The run did not start", mj_last_error());
  }
}

/* A setting changed from the menu: saved, and applied to a run that is on. */
static void settings_changed(app *a) {
  save_settings(a);
  if (a->running && !run_start(a, &a->settings.options)) show_error(a, L"The run did not restart", mj_last_error());
  refresh_icon(a, 0);
}

/* One nudge with the saved mode and distances (a dry run when the settings
 * say so). Returns 1, or 0 with the DLL's reason in mj_last_error. */
static int nudge_once(const app *a) {
  char text[256];
  return mjh_options_dll_text(&a->settings.options, text, sizeof text) && mj_nudge_now(text);
}

static void nudge_now(app *a) {
  if (!nudge_once(a)) show_error(a, L"The nudge failed", mj_last_error());
}

/* ---- Pipe requests -------------------------------------------------------------- */

static void answer_request(app *a, pipe_call *call) {
  const mjh_request *req = &call->request;
  size_t size = sizeof call->reply;
  if (a->exiting) {
    call->reply_len = mjh_reply_error("the agent is exiting", call->reply, size);
    return;
  }
  switch (req->cmd) {
    case MJH_CMD_STATUS: {
      mjh_agent_state agent;
      const char *run_line;
      if (a->running) read_status(a); /* the failing state as of now */
      run_line = mj_status();
      memset(&agent, 0, sizeof agent);
      agent.settings = a->settings.options;
      agent.run_on = a->settings.run_on;
      agent.keep_awake_held = mjw_keep_awake_held(&a->keep_awake);
      agent.failing = a->failing;
      agent.last_error = mj_last_error();
      agent.pid = GetCurrentProcessId();
      agent.version = MJTRAY_VERSION;
      call->reply_len = mjh_reply_status(&agent, run_line, call->reply, size);
      break;
    }
    case MJH_CMD_START:
      if (!run_start(a, &req->options)) {
        call->reply_len = mjh_reply_error(mj_last_error(), call->reply, size);
        break;
      }
      if (req->given) a->settings.options = req->options;
      a->settings.run_on = 1;
      save_settings(a);
      call->reply_len = mjh_reply_ok(call->reply, size);
      break;
    case MJH_CMD_STOP:
      run_stop(a);
      a->settings.run_on = 0;
      save_settings(a);
      call->reply_len = mjh_reply_ok(call->reply, size);
      break;
    case MJH_CMD_NUDGE:
      if (nudge_once(a))
        call->reply_len = mjh_reply_ok(call->reply, size);
      else
        call->reply_len = mjh_reply_error(mj_last_error(), call->reply, size);
      break;
    case MJH_CMD_QUIT:
      call->reply_len = mjh_reply_ok(call->reply, size);
      PostMessageW(a->window, WM_MJ_EXIT, 0, 0);
      break;
  }
}

/* ---- Menu ------------------------------------------------------------------------ */

static void check(HMENU menu, UINT id, int on) { CheckMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_CHECKED : 0)); }

static HMENU find_submenu(HMENU menu, UINT item_id) {
  int i, n = GetMenuItemCount(menu);
  for (i = 0; i < n; ++i) {
    HMENU sub = GetSubMenu(menu, i);
    if (sub && GetMenuState(sub, item_id, MF_BYCOMMAND) != (UINT)-1) return sub;
  }
  return NULL;
}

static void prepare_menu(app *a, HMENU menu) {
  const mjh_options *o = &a->settings.options;
  HMENU intervals = find_submenu(menu, IDM_INTERVAL_60);
  int i, listed = 0;
  wchar_t text[64];

  ModifyMenuW(menu, IDM_TOGGLE, MF_BYCOMMAND | MF_STRING, IDM_TOGGLE, a->running ? L"&Stop" : L"&Start");
  SetMenuDefaultItem(menu, IDM_TOGGLE, FALSE); /* what a left click does */
  check(menu, IDM_MODE_ZEN, !o->move);
  check(menu, IDM_MODE_MOVE, o->move);
  for (i = 0; i < INTERVAL_CHOICES; ++i) {
    check(menu, k_interval_ids[i], o->interval_s == k_intervals[i]);
    if (o->interval_s == k_intervals[i]) listed = 1;
  }
  if (!listed && intervals) {
    int at = 0; /* in order among the others */
    while (at < INTERVAL_CHOICES && k_intervals[at] < o->interval_s) ++at;
    if (o->interval_s % 60 == 0)
      _snwprintf(text, 64, o->interval_s == 60 ? L"%d minute" : L"%d minutes", o->interval_s / 60);
    else
      _snwprintf(text, 64, o->interval_s == 1 ? L"%d second" : L"%d seconds", o->interval_s);
    text[63] = L'\0';
    InsertMenuW(intervals, (UINT)at, MF_BYPOSITION | MF_STRING | MF_CHECKED, IDM_INTERVAL_CUSTOM, text);
  }
  check(menu, IDM_ONLY_WHEN_IDLE, o->only_when_idle);
  check(menu, IDM_KEEP_AWAKE, o->keep_awake);
  check(menu, IDM_AUTOSTART, autostart_enabled(a->exe_path));
}

static void show_menu(app *a, int x, int y) {
  HMENU bar = LoadMenuW(a->instance, MAKEINTRESOURCEW(IDR_TRAY_MENU));
  HMENU menu = bar ? GetSubMenu(bar, 0) : NULL;
  if (!menu) return;
  POINT at;
  MONITORINFO monitor;
  TPMPARAMS params;
  UINT flags = TPM_RIGHTBUTTON | TPM_VERTICAL;
  int half = GetSystemMetrics(SM_CXSMICON) / 2 + 2;

  prepare_menu(a, menu);
  /* Open beside the icon, not over it: the menu goes to the side of the
   * click that faces the middle of the work area, and keeps out of a square
   * around the click. */
  at.x = x;
  at.y = y;
  memset(&monitor, 0, sizeof monitor);
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT *work = &monitor.rcWork;
    flags |= y >= (work->top + work->bottom) / 2 ? TPM_BOTTOMALIGN : TPM_TOPALIGN;
    flags |= x >= (work->left + work->right) / 2 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
  }
  memset(&params, 0, sizeof params);
  params.cbSize = sizeof params;
  SetRect(&params.rcExclude, x - half, y - half, x + half, y + half);
  /* Without these two the menu would not close when the user clicks
   * elsewhere. */
  SetForegroundWindow(a->window);
  TrackPopupMenuEx(menu, flags, x, (flags & TPM_BOTTOMALIGN) ? y - half : y + half, a->window, &params);
  PostMessageW(a->window, WM_NULL, 0, 0);
  DestroyMenu(bar);
}

static void show_about(app *a) {
  wchar_t text[512];
  MSGBOXPARAMSW box;
  _snwprintf(text, sizeof text / sizeof text[0],
             L"Mouse Jiggler keeps this desktop from being treated as idle.\n\n"
             L"mjtray %hs\nveltrano-mouse-jiggler.dll %hs\n\n"
             L"Copyright (c) the veltrano-mouse-jiggler authors\nMIT license",
             MJTRAY_VERSION, mj_version());
  text[sizeof text / sizeof text[0] - 1] = L'\0';
  memset(&box, 0, sizeof box);
  box.cbSize = sizeof box;
  box.hwndOwner = a->window;
  box.hInstance = a->instance;
  box.lpszText = text;
  box.lpszCaption = L"About Mouse Jiggler";
  box.dwStyle = MB_OK | MB_USERICON;
  box.lpszIcon = MAKEINTRESOURCEW(IDI_APP);
  MessageBoxIndirectW(&box);
}

static void exit_agent(app *a);

static void on_command(app *a, UINT id) {
  mjh_options *o = &a->settings.options;
  int i;
  switch (id) {
    case IDM_TOGGLE:
      user_toggle(a);
      return;
    case IDM_NUDGE:
      nudge_now(a);
      return;
    case IDM_MODE_ZEN:
    case IDM_MODE_MOVE:
      o->move = id == IDM_MODE_MOVE;
      settings_changed(a);
      return;
    case IDM_ONLY_WHEN_IDLE:
      o->only_when_idle = !o->only_when_idle;
      settings_changed(a);
      return;
    case IDM_KEEP_AWAKE:
      o->keep_awake = !o->keep_awake;
      settings_changed(a);
      return;
    case IDM_AUTOSTART:
      if (!autostart_set(a->exe_path, !autostart_enabled(a->exe_path)))
        show_error(a, L"Start with Windows", "the registry refused the change");
      return;
    case IDM_ABOUT:
      show_about(a);
      return;
    case IDM_EXIT:
      exit_agent(a);
      return;
  }
  for (i = 0; i < INTERVAL_CHOICES; ++i) {
    if (id == k_interval_ids[i]) {
      o->interval_s = k_intervals[i];
      settings_changed(a);
    }
  }
}

/* ---- Window ------------------------------------------------------------------------ */

/* Everything that ends the agent ends here: the run is stopped first. */
static void shut_down(app *a) {
  if (a->exiting) return;
  a->exiting = 1;
  run_stop(a);
  if (a->server) pipe_server_stop(a->server);
  a->server = NULL;
  remove_icon(a);
}

static void exit_agent(app *a) {
  shut_down(a);
  DestroyWindow(a->window);
}

static void on_notify(app *a, WPARAM wparam, LPARAM lparam) {
  switch (LOWORD(lparam)) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
      user_toggle(a);
      break;
    case WM_CONTEXTMENU:
      show_menu(a, (short)LOWORD(wparam), (short)HIWORD(wparam));
      break;
  }
}

static void on_timer(app *a) {
  if (!a->running) {
    KillTimer(a->window, STATUS_TIMER_ID);
    return;
  }
  read_status(a);
  refresh_icon(a, 0);
}

static LRESULT CALLBACK window_proc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  app *a = (app *)GetWindowLongPtrW(window, GWLP_USERDATA);
  if (msg == WM_NCCREATE) {
    CREATESTRUCTW *create = (CREATESTRUCTW *)lparam;
    SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)create->lpCreateParams);
    return DefWindowProcW(window, msg, wparam, lparam);
  }
  if (!a) return DefWindowProcW(window, msg, wparam, lparam);
  if (msg == a->taskbar_created && msg) {
    refresh_icon(a, 1);
    return 0;
  }
  switch (msg) {
    case WM_MJ_NOTIFY:
      on_notify(a, wparam, lparam);
      return 0;
    case WM_MJ_REQUEST:
      answer_request(a, (pipe_call *)lparam);
      return 0;
    case WM_MJ_EXIT:
    case WM_CLOSE:
      exit_agent(a);
      return 0;
    case WM_COMMAND:
      on_command(a, LOWORD(wparam));
      return 0;
    case WM_TIMER:
      if (wparam == STATUS_TIMER_ID) on_timer(a);
      return 0;
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
      if (!a->exiting) refresh_icon(a, 0); /* the icon's size may have changed */
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam) shut_down(a); /* the process may end as soon as this returns */
      return 0;
    case WM_DESTROY:
      shut_down(a);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, msg, wparam, lparam);
}

/* ---- Start ------------------------------------------------------------------------- */

static int command_line_autostart(const app *a, const wchar_t *value) {
  if (wcscmp(value, L"on") == 0) return autostart_set(a->exe_path, 1) ? 0 : 1;
  if (wcscmp(value, L"off") == 0) return autostart_set(a->exe_path, 0) ? 0 : 1;
  return 2;
}

static int run_agent(app *a) {
  WNDCLASSEXW wc;
  MSG msg;
  DWORD error = 0;
  int first_launch;

  memset(&wc, 0, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = window_proc;
  wc.hInstance = a->instance;
  wc.lpszClassName = WINDOW_CLASS;
  if (!RegisterClassExW(&wc)) return 1;
  /* A hidden top-level window rather than a message-only one: only
   * top-level windows receive broadcasts (TaskbarCreated), WM_ENDSESSION and
   * WM_DPICHANGED. */
  a->window =
      CreateWindowExW(WS_EX_TOOLWINDOW, WINDOW_CLASS, APP_TITLE, WS_POPUP, 0, 0, 0, 0, NULL, NULL, a->instance, a);
  if (!a->window) return 1;
  a->taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");

  first_launch = !settings_store_load(&a->settings);
  a->server = pipe_server_start(a->window, WM_MJ_REQUEST, &a->settings.options, &error);
  if (!a->server) {
    wchar_t text[256];
    int taken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
    _snwprintf(text, 256, L"Mouse Jiggler cannot start: its control pipe could not be created (error %lu)%ls",
               (unsigned long)error, taken ? L": another program holds its name." : L".");
    text[255] = L'\0';
    MessageBoxW(NULL, text, APP_TITLE, MB_OK | MB_ICONERROR);
    DestroyWindow(a->window);
    return 3;
  }
  if (first_launch) save_settings(a);
  /* The run starts before anything that may handle a pipe request (adding
   * the icon does: it waits on the notification area), so that no request
   * sees the agent half started. */
  if (!a->settings.run_on || !run_start(a, &a->settings.options)) refresh_icon(a, 0);

  while (GetMessageW(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  shut_down(a); /* WM_QUIT from elsewhere */
  return 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  static app a; /* zeroed: every field starts empty */
  HANDLE mutex;
  int argc = 0, result;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  (void)previous;
  (void)command_line;
  (void)show;

  a.instance = instance;
  if (!GetModuleFileNameW(NULL, a.exe_path, MAX_PATH)) a.exe_path[0] = L'\0';
  if (argv && argc == 3 && wcscmp(argv[1], L"--autostart") == 0) {
    result = command_line_autostart(&a, argv[2]);
    LocalFree(argv);
    return result;
  }
  if (argv && argc > 1) {
    LocalFree(argv);
    MessageBoxW(NULL,
                L"usage: mjtray              the agent in the notification area\n"
                L"       mjtray --autostart on|off   start with Windows, or not",
                APP_TITLE, MB_OK | MB_ICONINFORMATION);
    return 2;
  }
  if (argv) LocalFree(argv);

  /* One agent per session: a later one leaves the first alone. */
  mutex = CreateMutexW(NULL, FALSE, AGENT_MUTEX);
  if (!mutex) return 1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return 0;
  }
  result = run_agent(&a);
  CloseHandle(mutex);
  return result;
}
