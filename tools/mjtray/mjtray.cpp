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
#include "clock.h"
#include "icon.h"
#include "json.h"
#include "keep_awake.h"
#include "lock_timeout.h"
#include "mouse_jiggler.h"
#include "pipe_server.h"
#include "resource.h"
#include "settings_store.h"
#include "text.h"

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
  STATUS_TIMER_MS = 1000,
  SCHEDULE_TIMER_ID = 2 /* one timer to the next instant the schedule may change */
};

/* The "Run for" menu's sessions; a "until the end of today's working hours"
 * and "until stopped" are their own kinds. */
static const struct {
  UINT id;
  int64_t seconds;
} k_sessions[] = {
    {IDM_RUN_FOR_30M, 30 * 60}, {IDM_RUN_FOR_1H, 3600}, {IDM_RUN_FOR_2H, 2 * 3600}, {IDM_RUN_FOR_4H, 4 * 3600}};
enum { SESSION_CHOICES = sizeof k_sessions / sizeof k_sessions[0] };

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

  /* The schedule: decided again after every change (redecide). */
  mjw_clock clock;
  mjh_zone zone;
  mjh_hours hours; /* as saved */
  mjh_session session;
  int session_to_end_of_hours; /* the session was asked for as "until the end of today's working hours" */
  mjh_decision decision;       /* the last one */
  int waiting;                 /* run_on, but the schedule holds the run back */
  int64_t clock_utc;           /* the clock and the tick at the last decision: a clock change's jump */
  ULONGLONG clock_tick;
  char stopped_because[128]; /* why the run last stopped by itself */
  mjw_lock_timeout lock;
  char warning[256]; /* the interval cannot keep ahead of the lock: why, "" when it can */
  char warning_short[128];

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
  if (!mjh_icon_render(state, px, static_cast<unsigned char *>(bits))) {
    DeleteObject(colour);
    return NULL;
  }
  /* Icons take straight alpha, as icon files hold it. */
  mjh_icon_straight_alpha(static_cast<unsigned char *>(bits), px);
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
  return mjh_icon_for(&idle, 0, a->waiting);
}

/* The tooltip: the run's line, or why there is none (waiting, a session
 * that ended), and the lock warning first when there is one. */
static void make_tooltip(const app *a, mjh_text &tip) {
  mjh_status shown = {};
  if (a->warning_short[0]) tip.add("Warning: ", a->warning_short, ". ");
  if (a->running) {
    if (a->have_status) shown = a->last_status;
    mjh_tooltip(&shown, a->failing, mj_last_error(), mjw_keep_awake_held(&a->keep_awake), tip);
  } else if (a->waiting) {
    mjh_text_buffer<160> reason;
    mjh_waiting_text(&a->decision, &a->session, &a->zone, mjw_now_utc(), reason);
    tip.add("Waiting: ", reason.c_str());
  } else if (a->stopped_because[0]) {
    tip.add("Stopped: ", a->stopped_because);
  } else {
    mjh_tooltip(&shown, false, mj_last_error(), mjw_keep_awake_held(&a->keep_awake), tip);
  }
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
  mjh_text_buffer<MJH_TOOLTIP_MAX> tip; /* cut to the notification area's limit, never inside a character */
  wchar_t wide_tip[MJH_TOOLTIP_MAX];

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
  make_tooltip(a, tip);
  if (!MultiByteToWideChar(CP_UTF8, 0, tip.c_str(), -1, wide_tip, MJH_TOOLTIP_MAX)) wcscpy(wide_tip, APP_TITLE);

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
  settings_store_save_hours(&a->hours);
  if (a->server) pipe_server_set_saved(a->server, &a->settings.options);
}

/* Starts (or restarts) the run with o. Returns 1, or 0 with the DLL's
 * reason, the run as it was before. */
static int run_start(app *a, const mjh_options *o) {
  mjh_text_buffer<256> text;
  mjh_options_dll_text(o, text);
  if (!text.ok() || !mj_start(text.c_str())) return 0;
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

/* ---- The schedule -------------------------------------------------------------- */

/* Reads the lock timeout again and whether the interval keeps ahead of it in
 * the current mode. */
static void read_lock_timeout(app *a) {
  const mjh_options *o = &a->settings.options;
  mjh_text warning(a->warning), warning_short(a->warning_short);
  mjw_lock_timeout_read(&a->lock);
  mjh_interval_warning_of(o->interval_s, o->only_when_idle, a->lock.seconds, a->lock.kind, warning);
  mjh_interval_warning_short_of(o->interval_s, o->only_when_idle, a->lock.seconds, a->lock.kind, warning_short);
}

/* A session that ended is over: a new start goes by the working hours. */
static void drop_ended_session(app *a, int64_t now) {
  if (a->session.end != MJH_NO_TIME && a->session.end <= now) {
    a->session.kind = MJH_SESSION_NONE;
    a->session.end = MJH_NO_TIME;
    a->session_to_end_of_hours = 0;
  }
}

static void forget_session(app *a) {
  memset(&a->session, 0, sizeof a->session);
  a->session.kind = MJH_SESSION_NONE;
  a->session.end = MJH_NO_TIME;
  a->session_to_end_of_hours = 0;
}

/* After every change (start, stop, menu, request, timer, clock or zone,
 * resume): decides whether the run goes on now, starts or stops it to match
 * and sets the one timer to the next instant the answer may change. The
 * user's run_on is left alone, but for a session that ended with nothing to
 * start the run again: that stop is the one the user asked for. */
static void redecide(app *a) {
  int64_t now = mjw_now_utc();
  if (a->exiting) return;
  a->clock_utc = now;
  a->clock_tick = GetTickCount64();
  mjh_decide(&a->hours, &a->session, &a->zone, now, &a->decision);
  a->waiting = 0;
  if (!a->settings.run_on) {
    if (a->running) run_stop(a);
    KillTimer(a->window, SCHEDULE_TIMER_ID);
    refresh_icon(a, 0);
    return;
  }
  if (a->decision.action == MJH_SCHED_RUN) {
    a->stopped_because[0] = '\0';
    if (!a->running && !run_start(a, &a->settings.options)) {
      _snprintf(a->stopped_because, sizeof a->stopped_because, "the run did not start: %s", mj_last_error());
      a->stopped_because[sizeof a->stopped_because - 1] = '\0';
    }
  } else {
    if (a->decision.reason == MJH_REASON_SESSION_ENDED) {
      mjh_text because(a->stopped_because);
      mjh_reason_text(&a->decision, &a->session, &a->zone, now, because);
    }
    if (a->running) run_stop(a);
    if (a->decision.action == MJH_SCHED_WAIT) {
      a->waiting = 1;
    } else {
      a->settings.run_on = 0;
      save_settings(a);
    }
  }
  if (a->settings.run_on && a->decision.recheck_s > 0)
    SetTimer(a->window, SCHEDULE_TIMER_ID, (UINT)(a->decision.recheck_s * 1000), NULL);
  else
    KillTimer(a->window, SCHEDULE_TIMER_ID);
  refresh_icon(a, 0);
}

/* The clock, the zone or daylight saving changed: a "for" session keeps its
 * length, then everything is decided again from the new time. */
static void clock_changed(app *a) {
  int64_t expected = a->clock_utc + (int64_t)((GetTickCount64() - a->clock_tick) / 1000);
  int64_t jump = mjw_now_utc() - expected;
  mjw_clock_refresh(&a->clock);
  if (jump > 2 || jump < -2) mjh_session_clock_changed(&a->session, jump); /* not the rounding of a second */
  redecide(a);
}

/* The user turns the run on or off (menu, click): remembered for next time.
 * Stop ends a session too; Start goes by the working hours. */
static void user_toggle(app *a) {
  if (a->settings.run_on) {
    a->settings.run_on = 0;
    forget_session(a);
    a->stopped_because[0] = '\0';
    save_settings(a);
    redecide(a);
    return;
  }
  drop_ended_session(a, mjw_now_utc());
  a->settings.run_on = 1;
  redecide(a);
  /* run_on is read again: a stop request may have been answered meanwhile,
   * while the icon's update waited on the notification area. */
  if (a->settings.run_on && !a->running && !a->waiting) {
    a->settings.run_on = 0;
    refresh_icon(a, 0);
    show_error(a, L"The run did not start", mj_last_error());
    return;
  }
  save_settings(a);
}

/* A setting changed from the menu: saved, and applied to a run that is on. */
static void settings_changed(app *a) {
  save_settings(a);
  read_lock_timeout(a);
  if (a->running && !run_start(a, &a->settings.options)) show_error(a, L"The run did not restart", mj_last_error());
  refresh_icon(a, 0);
}

/* A session from the menu: it starts the run now. */
static void choose_session(app *a, UINT id) {
  int64_t now = mjw_now_utc();
  mjh_text_buffer<128> err;
  int i;
  a->session_to_end_of_hours = 0;
  if (id == IDM_RUN_UNTIL_STOPPED) {
    forget_session(a);
    a->session.kind = MJH_SESSION_UNTIL_STOPPED;
    a->session.start = now;
  } else if (id == IDM_RUN_UNTIL_END) {
    mjh_session until_end;
    if (!mjh_session_until_end_of_hours(&until_end, &a->hours, &a->zone, now, &err)) {
      show_error(a, L"Run until the end of today's working hours", err.c_str());
      return;
    }
    a->session = until_end;
    a->session_to_end_of_hours = 1;
  } else {
    for (i = 0; i < SESSION_CHOICES; ++i)
      if (k_sessions[i].id == id) mjh_session_for(&a->session, now, k_sessions[i].seconds);
  }
  a->settings.run_on = 1;
  a->stopped_because[0] = '\0';
  save_settings(a);
  redecide(a);
}

/* One nudge with the saved mode and distances (a dry run when the settings
 * say so). Returns 1, or 0 with the DLL's reason in mj_last_error. */
static int nudge_once(const app *a) {
  mjh_text_buffer<256> text;
  mjh_options_dll_text(&a->settings.options, text);
  return text.ok() && mj_nudge_now(text.c_str());
}

static void nudge_now(app *a) {
  if (!nudge_once(a)) show_error(a, L"The nudge failed", mj_last_error());
}

/* ---- Pipe requests -------------------------------------------------------------- */

/* A start: its options and schedule take effect together, or not at all
 * (an error reply). A run the schedule lets go on starts now. */
static void start_request(app *a, const mjh_request *req, pipe_call *call) {
  int64_t now = mjw_now_utc();
  mjh_hours hours = a->hours;
  mjh_session session = a->session;
  mjh_decision d;
  mjh_text_buffer<160> err;

  if (session.end != MJH_NO_TIME && session.end <= now) {
    forget_session(a);
    session = a->session;
  }
  mjh_text_buffer<160> why;
  if (!mjh_schedule_request_apply(&req->schedule, &hours, &session, &a->zone, now, &why)) {
    pipe_call_error(call, why.c_str());
    return;
  }
  mjh_decide(&hours, &session, &a->zone, now, &d);
  if (d.action == MJH_SCHED_RUN && !run_start(a, &req->options)) {
    pipe_call_error(call, mj_last_error());
    return;
  }
  if (req->given) a->settings.options = req->options;
  a->hours = hours;
  a->session = session;
  a->session_to_end_of_hours =
      (req->schedule.given & MJH_SCHED_KEY_UNTIL) && req->schedule.until_minute == MJH_UNTIL_END_OF_HOURS;
  a->settings.run_on = 1;
  a->stopped_because[0] = '\0';
  save_settings(a);
  read_lock_timeout(a);
  redecide(a);
  pipe_call_ok(call);
}

static void answer_request(app *a, pipe_call *call) {
  const mjh_request *req = &call->request;
  if (a->exiting) {
    pipe_call_error(call, "the agent is exiting");
    return;
  }
  switch (req->cmd) {
    case MJH_CMD_STATUS: {
      mjh_agent_state agent;
      mjh_text_buffer<1024> schedule;
      mjh_decision shown;
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
      mjh_decide(&a->hours, &a->session, &a->zone, mjw_now_utc(), &shown);
      if (!a->settings.run_on) shown.next_start = MJH_NO_TIME; /* nothing starts a run the user stopped */
      mjh_schedule_json(&a->hours, &a->session, &shown, a->warning, schedule);
      agent.schedule_json = schedule.ok() ? schedule.c_str() : NULL;
      agent.stopped_because = a->stopped_because;
      {
        mjh_text reply(call->reply);
        mjh_reply_status(&agent, run_line, reply);
        call->reply_len = reply.ok() ? reply.size() : 0; /* 0: the server answers that the agent is not answering */
      }
      break;
    }
    case MJH_CMD_START:
      start_request(a, req, call);
      break;
    case MJH_CMD_STOP:
      a->settings.run_on = 0;
      forget_session(a);
      a->stopped_because[0] = '\0';
      save_settings(a);
      redecide(a);
      pipe_call_ok(call);
      break;
    case MJH_CMD_NUDGE:
      if (nudge_once(a))
        pipe_call_ok(call);
      else
        pipe_call_error(call, mj_last_error());
      break;
    case MJH_CMD_QUIT:
      pipe_call_ok(call);
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

/* The position of submenu sub in menu, or -1. */
static int submenu_position(HMENU menu, HMENU sub) {
  int i, n = GetMenuItemCount(menu);
  for (i = 0; i < n; ++i)
    if (GetSubMenu(menu, i) == sub) return i;
  return -1;
}

static void set_item_text(HMENU menu, UINT item, BOOL by_position, const wchar_t *text) {
  MENUITEMINFOW info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = (wchar_t *)text;
  SetMenuItemInfoW(menu, item, by_position, &info);
}

/* The lock warning in the menu: the Interval item says what the interval is
 * too long for, and its submenu offers the longest safe one. */
static void mark_interval_warning(const app *a, HMENU menu, HMENU intervals) {
  const mjh_options *o = &a->settings.options;
  static const wchar_t *const what[] = {L"screen lock", L"screen saver", L"display-off"};
  mjh_text_buffer<32> length, safe;
  wchar_t text[128];
  int at = submenu_position(menu, intervals), best, pos;
  if (!a->warning[0] || at < 0) return;
  mjh_duration_text(a->lock.seconds, length);
  _snwprintf(text, 128, L"&Interval (too long for the %hs %ls)", length.c_str(),
             what[a->lock.kind <= MJH_LOCK_DISPLAY_OFF ? a->lock.kind : 0]);
  text[127] = L'\0';
  set_item_text(menu, (UINT)at, TRUE, text);
  best = mjh_largest_safe_interval(o->only_when_idle, a->lock.seconds);
  mjh_duration_text(best, safe);
  _snwprintf(text, 128, L"%hs \x2014 the longest that beats the lock", safe.c_str());
  text[127] = L'\0';
  pos = 0; /* in order among the others */
  while (pos < GetMenuItemCount(intervals) && (int)GetMenuItemID(intervals, pos) != -1) {
    UINT item = GetMenuItemID(intervals, pos);
    int i, seconds = item == IDM_INTERVAL_CUSTOM ? o->interval_s : 0;
    for (i = 0; i < INTERVAL_CHOICES; ++i)
      if (item == k_interval_ids[i]) seconds = k_intervals[i];
    if (seconds >= best) break;
    ++pos;
  }
  InsertMenuW(intervals, (UINT)pos, MF_BYPOSITION | MF_STRING, IDM_INTERVAL_SAFE, text);
}

/* The checked "Run for" item: the session in progress, if any. */
static UINT current_session_item(const app *a) {
  int64_t now = mjw_now_utc();
  int i;
  if (!a->settings.run_on) return 0;
  if (a->session.kind == MJH_SESSION_UNTIL_STOPPED) return IDM_RUN_UNTIL_STOPPED;
  if (a->session.end == MJH_NO_TIME || a->session.end <= now) return 0;
  if (a->session_to_end_of_hours) return IDM_RUN_UNTIL_END;
  if (a->session.kind == MJH_SESSION_FOR)
    for (i = 0; i < SESSION_CHOICES; ++i)
      if (a->session.end - a->session.start == k_sessions[i].seconds) return k_sessions[i].id;
  return 0;
}

static void prepare_menu(app *a, HMENU menu) {
  const mjh_options *o = &a->settings.options;
  HMENU intervals = find_submenu(menu, IDM_INTERVAL_60);
  int i, listed = 0;
  UINT session_item = current_session_item(a);
  wchar_t text[64];
  static const UINT session_ids[] = {IDM_RUN_FOR_30M, IDM_RUN_FOR_1H,    IDM_RUN_FOR_2H,
                                     IDM_RUN_FOR_4H,  IDM_RUN_UNTIL_END, IDM_RUN_UNTIL_STOPPED};

  ModifyMenuW(menu, IDM_TOGGLE, MF_BYCOMMAND | MF_STRING, IDM_TOGGLE, a->settings.run_on ? L"&Stop" : L"&Start");
  for (i = 0; i < (int)(sizeof session_ids / sizeof session_ids[0]); ++i)
    check(menu, session_ids[i], session_ids[i] == session_item);
  if (!a->hours.span_count) EnableMenuItem(menu, IDM_RUN_UNTIL_END, MF_BYCOMMAND | MF_GRAYED);
  SetMenuDefaultItem(menu, IDM_TOGGLE, FALSE); /* what a left click does */
  check(menu, IDM_MODE_ZEN, o->mode == MJ_MODE_ZEN);
  check(menu, IDM_MODE_MOVE, o->mode == MJ_MODE_MOVE);
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
  if (intervals) mark_interval_warning(a, menu, intervals);
  check(menu, IDM_ONLY_WHEN_IDLE, o->only_when_idle);
  check(menu, IDM_KEEP_AWAKE, o->keep_awake);
  check(menu, IDM_AUTOSTART, autostart_enabled(a->exe_path));
}

static void show_menu(app *a, int x, int y) {
  HMENU bar = LoadMenuW(a->instance, MAKEINTRESOURCEW(IDR_TRAY_MENU));
  HMENU menu = bar ? GetSubMenu(bar, 0) : NULL;
  if (!menu) {
    if (bar) DestroyMenu(bar);
    return;
  }
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

/* ---- The working hours dialog --------------------------------------------------------- */

static void hours_dialog_enable(HWND dialog) {
  BOOL on = IsDlgButtonChecked(dialog, IDC_NO_HOURS) != BST_CHECKED;
  int day;
  for (day = 0; day < 7; ++day) EnableWindow(GetDlgItem(dialog, IDC_DAY_FIRST + day), on);
  EnableWindow(GetDlgItem(dialog, IDC_SPANS), on);
}

/* Reads the dialog into *h; 0 with the reason shown in the dialog when it
 * does not read (the core's parser says why). */
static int hours_dialog_read(HWND dialog, mjh_hours *h) {
  wchar_t wide[256];
  char spans[256 * 3];
  mjh_text_buffer<160> err;
  unsigned days = 0;
  int day;
  mjh_hours read;
  mjh_hours_none(&read);
  if (IsDlgButtonChecked(dialog, IDC_NO_HOURS) == BST_CHECKED) {
    *h = read;
    return 1;
  }
  for (day = 0; day < 7; ++day)
    if (IsDlgButtonChecked(dialog, IDC_DAY_FIRST + day) == BST_CHECKED) days |= 1u << day;
  GetDlgItemTextW(dialog, IDC_SPANS, wide, 256);
  if (!WideCharToMultiByte(CP_UTF8, 0, wide, -1, spans, sizeof spans, NULL, NULL)) spans[0] = '\0';
  if (!mjh_hours_parse(spans, &read, &err)) {
    wchar_t message[200];
    _snwprintf(message, 200, L"Spans: %hs", err.c_str());
    message[199] = L'\0';
    SetDlgItemTextW(dialog, IDC_HOURS_ERROR, message);
    SetFocus(GetDlgItem(dialog, IDC_SPANS));
    return 0;
  }
  if (read.span_count && !days) {
    SetDlgItemTextW(dialog, IDC_HOURS_ERROR, L"Choose at least one day, or no working hours.");
    return 0;
  }
  read.days = read.span_count ? days : unsigned{MJH_DAYS_ALL};
  *h = read;
  return 1;
}

static INT_PTR CALLBACK hours_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
  mjh_hours *h = (mjh_hours *)GetWindowLongPtrW(dialog, DWLP_USER);
  switch (msg) {
    case WM_INITDIALOG: {
      mjh_text_buffer<MJH_HOURS_TEXT_MAX> spans;
      wchar_t wide[MJH_HOURS_TEXT_MAX];
      unsigned days;
      int day;
      h = (mjh_hours *)lparam;
      SetWindowLongPtrW(dialog, DWLP_USER, (LONG_PTR)h);
      /* Without working hours, the boxes offer Monday to Friday. */
      days = h->span_count ? h->days : 0x1fu;
      for (day = 0; day < 7; ++day)
        CheckDlgButton(dialog, IDC_DAY_FIRST + day, (days >> day) & 1u ? BST_CHECKED : BST_UNCHECKED);
      mjh_hours_text(h, spans);
      if (h->span_count && spans.ok() && MultiByteToWideChar(CP_UTF8, 0, spans.c_str(), -1, wide, MJH_HOURS_TEXT_MAX))
        SetDlgItemTextW(dialog, IDC_SPANS, wide);
      else
        SetDlgItemTextW(dialog, IDC_SPANS, L"08:30-12:00,13:00-17:30");
      CheckDlgButton(dialog, IDC_NO_HOURS, h->span_count ? BST_UNCHECKED : BST_CHECKED);
      hours_dialog_enable(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDC_NO_HOURS:
          hours_dialog_enable(dialog);
          SetDlgItemTextW(dialog, IDC_HOURS_ERROR, L"");
          return TRUE;
        case IDOK:
          if (hours_dialog_read(dialog, h)) EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

static void edit_working_hours(app *a) {
  mjh_hours edited = a->hours;
  if (a->exiting) return;
  if (DialogBoxParamW(a->instance, MAKEINTRESOURCEW(IDD_WORKING_HOURS), a->window, hours_dialog_proc,
                      (LPARAM)&edited) != IDOK ||
      a->exiting)
    return;
  a->hours = edited;
  save_settings(a);
  redecide(a);
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
      o->mode = id == IDM_MODE_MOVE ? MJ_MODE_MOVE : MJ_MODE_ZEN;
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
    case IDM_WORKING_HOURS:
      edit_working_hours(a);
      return;
    case IDM_INTERVAL_SAFE:
      o->interval_s = mjh_largest_safe_interval(o->only_when_idle, a->lock.seconds);
      settings_changed(a);
      return;
    case IDM_RUN_FOR_30M:
    case IDM_RUN_FOR_1H:
    case IDM_RUN_FOR_2H:
    case IDM_RUN_FOR_4H:
    case IDM_RUN_UNTIL_END:
    case IDM_RUN_UNTIL_STOPPED:
      choose_session(a, id);
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
      if (wparam == SCHEDULE_TIMER_ID) redecide(a);
      return 0;
    case WM_TIMECHANGE:
      if (!a->exiting) clock_changed(a);
      return 0;
    case WM_SETTINGCHANGE:
      /* The screen saver's timeout, or the time zone (it comes as a setting
       * change too). */
      if (a->exiting) return 0;
      read_lock_timeout(a);
      mjw_clock_refresh(&a->clock);
      redecide(a);
      return 0;
    case WM_POWERBROADCAST:
      /* Resumed, or on battery now (another display-off timeout). */
      if (!a->exiting) {
        read_lock_timeout(a);
        redecide(a);
      }
      return TRUE;
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
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
  settings_store_load_hours(&a->hours);
  forget_session(a);
  mjw_clock_refresh(&a->clock);
  a->zone = mjw_clock_zone(&a->clock);
  read_lock_timeout(a);
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
  redecide(a);

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
