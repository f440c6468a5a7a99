// mjtray: the agent of a user's session in the notification area, a thin
// Windows shell around the agent core (host/core/agent.h). The window
// procedure turns messages into the core's events; the core's effects become
// Win32 calls here. Requests from the control pipe are taken one at a time
// from the message loop itself, never from inside another handler; the
// notification area is driven from a thread of its own, so that a slow
// Explorer never holds up this thread.
//
//   mjtray                     the agent (a second one for the same user and
//                              session leaves the first alone and exits with 0)
//   mjtray --autostart on|off  adds or removes the log-on entry, then exits
//   mjtray --started-by mjctl  the agent, started by mjctl start, which tells
//                              why it could not start (no message box)
// Exit codes: mjh_agent_exit (handover.h).
#include <string.h>
#include <wchar.h>
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <utility>

#include "agent.h"
#include "clock.h"
#include "desktop_watch.h"
#include "handle.h"
#include "handover.h"
#include "icon.h"
#include "keep_awake.h"
#include "lock_timeout.h"
#include "mouse_jiggler.h"
#include "pipe.h"
#include "pipe_server.h"
#include "policy_store.h"
#include "policy_watch.h"
#include "power.h"
#include "process_watch.h"
#include "resource.h"
#include "settings_store.h"
#include "token.h"
#include "tray_icon.h"
#include "wide.h"

#ifndef MJTRAY_VERSION
#define MJTRAY_VERSION "unknown"
#endif

namespace {

const wchar_t k_window_class[] = L"VeltranoMouseJigglerAgent";
const wchar_t k_title[] = L"Veltrano Mouse Jiggler";

enum {
  WM_MJ_NOTIFY = WM_APP + 1,  // from the notification area
  WM_MJ_REQUEST,              // the pipe thread queued a request
  WM_MJ_PROGRAMS,             // the watched programs changed
  WM_MJ_POLICY,               // a policy key changed
  TIMER_ID = 1,
  HANDOVER_MS = 5000,   // how long a new agent waits for an ending one
  PIPE_STOP_MS = 1200,  // for the pipe's last replies when the agent ends
  ICON_STOP_MS = 500    // for the icon's removal when the agent ends
};

// The menu's Interval and Run for items, in the order of the core's choices.
const UINT k_interval_ids[] = {IDM_INTERVAL_30, IDM_INTERVAL_60, IDM_INTERVAL_120, IDM_INTERVAL_300, IDM_INTERVAL_600};
const UINT k_run_for_ids[] = {IDM_RUN_FOR_30M, IDM_RUN_FOR_1H, IDM_RUN_FOR_2H, IDM_RUN_FOR_4H};
const UINT k_battery_ids[] = {IDM_BATTERY_OFF, IDM_BATTERY_10, IDM_BATTERY_20, IDM_BATTERY_30, IDM_BATTERY_50};
static_assert(sizeof k_battery_ids / sizeof k_battery_ids[0] ==
                  sizeof mjh_battery_floor_choices / sizeof mjh_battery_floor_choices[0],
              "one menu item per battery level");
static_assert(sizeof k_interval_ids / sizeof k_interval_ids[0] ==
                  sizeof mjh_interval_choices / sizeof mjh_interval_choices[0],
              "one menu item per interval");
static_assert(sizeof k_run_for_ids / sizeof k_run_for_ids[0] ==
                  sizeof mjh_run_for_choices / sizeof mjh_run_for_choices[0],
              "one menu item per session length");

// The effects of the core, as Win32 does them.
class shell_effects : public mjh_agent_effects {
 public:
  bool run_start(const char *options_text) override { return mj_start(options_text) != 0; }
  void run_stop() override { mj_stop(); }
  const char *run_status() override { return mj_status(); }
  bool nudge(const char *options_text) override { return mj_nudge_now(options_text) != 0; }
  const char *last_error() override { return mj_last_error(); }
  mjh_awake keep_awake(mjh_awake level) override;
  mjh_front_window front_window() override { return mjw_front_window_read(); }
  bool save(const mjh_settings &settings, const mjh_hours &hours, const mjh_programs *programs,
            mjh_text &why) override {
    return settings_store_save(settings, hours, programs, why);
  }
  mjh_program_state watch_programs(const mjh_programs &programs, bool foreground) override;
  int64_t now_utc() override { return mjw_now_utc(); }
  int64_t tick_ms() override { return static_cast<int64_t>(GetTickCount64()); }
  const mjh_zone *zone() override { return &zone_; }
  mjh_lock_setting lock_setting() override;
  void show(mjh_icon_state icon, const char *tooltip) override;
  void notify(const char *title, const char *text) override;
  void set_timer(int64_t ms) override;
  bool autostart() override;
  bool set_autostart(bool on) override;
  void quit() override { quit_wanted = true; }

  void refresh_clock() {
    mjw_clock_refresh(&clock_);
    zone_ = mjw_clock_zone(&clock_);
  }
  void redraw_icon();  // the icon's size may have changed

  bool quit_wanted = false;

 private:
  mjw_keep_awake keep_awake_ = {};
  mjw_clock clock_ = {};
  mjh_zone zone_ = {};
  mjh_icon_state icon_ = MJH_ICON_STOPPED;
  int icon_px_ = 0;
  bool shown_ = false;
  wchar_t tooltip_[MJH_TOOLTIP_MAX] = L"";
};

// A modeless dialog's own state: its window while it is open, the agent it
// edits, and what it showed when it opened (OK applies only what the user
// changed since). The dialog reaches it through its own data (DWLP_USER).
struct dialog_state {
  HWND window = nullptr;  // null while closed
  mjh_agent *core = nullptr;
};
struct hours_dialog_state : dialog_state {
  mjh_hours_fields shown;
};
struct programs_dialog_state : dialog_state {
  mjh_programs programs;
  bool foreground = false;
};

// The one agent of this process.
struct app {
  HINSTANCE instance;
  HWND window;
  UINT taskbar_created;  // broadcast when the notification area is (re)created
  wchar_t exe_path[MAX_PATH];
  shell_effects effects;
  mjh_agent *core;
  hours_dialog_state hours_dialog;
  dialog_state about_dialog;
  programs_dialog_state programs_dialog;
  mjw_process_watch watch;
  mjw_power_notify power;
  mjw_policy_watch policy_watch;
  bool menu_open;
  bool close_after_menu;  // WM_CLOSE came while the menu was open
  bool exiting;
};

app g_app;
mjh_agent g_core(g_app.effects, MJTRAY_VERSION, GetCurrentProcessId());

// ---- Effects -------------------------------------------------------------------------

mjh_program_state shell_effects::watch_programs(const mjh_programs &programs, bool foreground) {
  g_app.watch.watch(programs, foreground);
  return g_app.watch.state();
}

mjh_awake shell_effects::keep_awake(mjh_awake level) {
  if (level == MJH_AWAKE_NONE || !mjw_keep_awake_start(&keep_awake_, level == MJH_AWAKE_DISPLAY)) {
    mjw_keep_awake_stop(&keep_awake_);
    return MJH_AWAKE_NONE;
  }
  return level;
}

mjh_lock_setting shell_effects::lock_setting() {
  mjw_lock_timeout lock;
  mjw_lock_timeout_read(&lock);
  return mjh_lock_setting{lock.seconds, lock.kind};
}

// The icon of a state, size x size pixels, as the notification area takes it.
mjw_icon make_icon(mjh_icon_state state, int px) {
  BITMAPV5HEADER header = {sizeof header};
  header.bV5Width = px;
  header.bV5Height = -px;  // top-down rows, as the renderer writes them
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void *bits = nullptr;
  mjw_gdi<HBITMAP> colour;
  {
    mjw_window_dc screen(nullptr);
    colour.reset(
        CreateDIBSection(screen.get(), reinterpret_cast<BITMAPINFO *>(&header), DIB_RGB_COLORS, &bits, nullptr, 0));
  }
  unsigned char *pixels = static_cast<unsigned char *>(bits);
  if (!colour || !mjh_icon_render(state, px, pixels)) return mjw_icon();
  mjh_icon_straight_alpha(pixels, px);                         // icons take straight alpha, as icon files hold it
  mjw_gdi<HBITMAP> mask(CreateBitmap(px, px, 1, 1, nullptr));  // unused beside an alpha channel, but required
  if (!mask) return mjw_icon();
  ICONINFO info = {};
  info.fIcon = TRUE;
  info.hbmColor = colour.get();
  info.hbmMask = mask.get();
  return mjw_icon(CreateIconIndirect(&info));
}

// The size the notification area draws at, for the DPI of the window. The
// per-DPI calls exist from Windows 10 1607 on: looked up, not imported.
int icon_size(HWND window) {
  using dpi_for_window_fn = UINT(WINAPI *)(HWND);
  using metrics_for_dpi_fn = int(WINAPI *)(int, UINT);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto dpi_for_window = mjw_function<dpi_for_window_fn>(user32, "GetDpiForWindow");
  auto metrics_for_dpi = mjw_function<metrics_for_dpi_fn>(user32, "GetSystemMetricsForDpi");
  UINT dpi = dpi_for_window && metrics_for_dpi ? dpi_for_window(window) : 0;
  int px = dpi ? metrics_for_dpi(SM_CXSMICON, dpi) : GetSystemMetrics(SM_CXSMICON);
  if (px < MJH_ICON_MIN_PX) px = MJH_ICON_MIN_PX;
  if (px > MJH_ICON_MAX_PX) px = MJH_ICON_MAX_PX;
  return px;
}

void shell_effects::show(mjh_icon_state icon, const char *tooltip) {
  int px = icon_size(g_app.window);
  mjw_icon picture = !shown_ || icon != icon_ || px != icon_px_ ? make_icon(icon, px) : mjw_icon();
  if (picture) {
    icon_ = icon;
    icon_px_ = px;
  }
  shown_ = true;
  if (!mjw_widen(tooltip, tooltip_, MJH_TOOLTIP_MAX)) mjw_widen("Veltrano Mouse Jiggler", tooltip_, MJH_TOOLTIP_MAX);
  tray_icon_set(std::move(picture), tooltip_);
}

void shell_effects::redraw_icon() {
  if (!shown_) return;
  int px = icon_size(g_app.window);
  if (px == icon_px_) return;
  mjw_icon picture = make_icon(icon_, px);
  if (!picture) return;
  icon_px_ = px;
  tray_icon_set(std::move(picture), tooltip_);
}

void shell_effects::notify(const char *title, const char *text) {
  wchar_t wide_title[64], wide_text[256];
  mjw_widen(title, wide_title, 64);
  mjw_widen(text, wide_text, 256);
  tray_icon_notify(wide_title, wide_text);
}

void shell_effects::set_timer(int64_t ms) {
  if (ms < 0) {
    KillTimer(g_app.window, TIMER_ID);
    return;
  }
  if (ms < USER_TIMER_MINIMUM) ms = USER_TIMER_MINIMUM;
  if (ms > 0x7FFFFFFF) ms = 0x7FFFFFFF;
  SetTimer(g_app.window, TIMER_ID, static_cast<UINT>(ms), nullptr);
}

bool shell_effects::autostart() { return autostart_enabled(g_app.exe_path); }

bool shell_effects::set_autostart(bool on) { return autostart_set(g_app.exe_path, on); }

// ---- Ending ---------------------------------------------------------------------------

// Everything that ends the agent ends here, within about two seconds
// whatever the notification area or the clients do: the run stops and
// keep-awake is let go first, clients still waiting are told, the icon goes.
void shut_down() {
  app &a = g_app;
  if (a.exiting) return;
  a.exiting = true;
  a.core->shut_down();
  KillTimer(a.window, TIMER_ID);
  dialog_state *dialogs[] = {&a.hours_dialog, &a.about_dialog, &a.programs_dialog};
  for (dialog_state *dialog : dialogs) {
    if (dialog->window) DestroyWindow(dialog->window);
    dialog->window = nullptr;
  }
  a.watch.stop();
  a.power.stop();
  a.policy_watch.stop();
  mjw_desktop_unwatch(a.window);
  pipe_server_stop(PIPE_STOP_MS);
  tray_icon_stop(ICON_STOP_MS);
}

void exit_agent() {
  shut_down();
  DestroyWindow(g_app.window);
}

// ---- Requests --------------------------------------------------------------------------

// Answers the queued requests, one at a time; called from the message loop
// only, between messages.
void serve_requests() {
  app &a = g_app;
  while (!a.exiting) {
    pipe_call *call = pipe_server_take();
    if (!call) return;
    mjh_text reply(call->reply);
    a.core->request(call->request, reply);
    if (!reply.ok()) {
      reply.clear();
      mjh_reply_error("the reply did not fit", reply);
    }
    pipe_server_answer(call);
    if (a.effects.quit_wanted) exit_agent();
  }
}

// ---- Menu ------------------------------------------------------------------------------

void check(HMENU menu, UINT id, bool on) { CheckMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_CHECKED : 0)); }

void grey(HMENU menu, UINT id) { EnableMenuItem(menu, id, MF_BYCOMMAND | MF_GRAYED); }

HMENU find_submenu(HMENU menu, UINT item_id, int *position) {
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
    HMENU sub = GetSubMenu(menu, i);
    if (sub && GetMenuState(sub, item_id, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
      *position = i;
      return sub;
    }
  }
  return nullptr;
}

void set_text(HMENU menu, UINT item, BOOL by_position, const char *text) {
  wchar_t wide[128];
  mjw_widen(text, wide, 128);
  MENUITEMINFOW info = {sizeof info};
  info.fMask = MIIM_STRING;
  info.dwTypeData = wide;
  SetMenuItemInfoW(menu, item, by_position, &info);
}

void insert_item(HMENU menu, UINT position, UINT id, bool checked, const char *text) {
  wchar_t wide[128];
  mjw_widen(text, wide, 128);
  InsertMenuW(menu, position, MF_BYPOSITION | MF_STRING | (checked ? MF_CHECKED : 0), id, wide);
}

// The index of the item id among ids, or -1.
template <size_t N>
int index_of(const UINT (&ids)[N], UINT id) {
  for (size_t i = 0; i < N; ++i)
    if (ids[i] == id) return static_cast<int>(i);
  return -1;
}

// Checks the item of ids whose choice is value, and only that one; whether
// one is.
template <typename T, size_t N>
bool check_choice(HMENU menu, const UINT (&ids)[N], const T (&choices)[N], T value) {
  bool listed = false;
  for (size_t i = 0; i < N; ++i) {
    check(menu, ids[i], choices[i] == value);
    listed = listed || choices[i] == value;
  }
  return listed;
}

// The position among the Interval items at which one of `seconds` keeps
// their order.
UINT interval_position(HMENU intervals, int seconds, int current) {
  UINT pos = 0;
  for (int n = GetMenuItemCount(intervals); static_cast<int>(pos) < n; ++pos) {
    UINT item = GetMenuItemID(intervals, static_cast<int>(pos));
    int value = item == IDM_INTERVAL_CUSTOM ? current : 0;
    for (size_t i = 0; i < sizeof k_interval_ids / sizeof k_interval_ids[0]; ++i)
      if (item == k_interval_ids[i]) value = mjh_interval_choices[i];
    if (value >= seconds) break;
  }
  return pos;
}

void prepare_menu(HMENU menu, const mjh_menu_model &m) {
  ModifyMenuW(menu, IDM_TOGGLE, MF_BYCOMMAND | MF_STRING, IDM_TOGGLE, m.run_on ? L"&Stop" : L"&Start");
  SetMenuDefaultItem(menu, IDM_TOGGLE, FALSE);  // what a left click does
  check(menu, IDM_MODE_ZEN, m.mode == MJ_MODE_ZEN);
  check(menu, IDM_MODE_MOVE, m.mode == MJ_MODE_MOVE);
  int at = -1;
  HMENU intervals = find_submenu(menu, IDM_INTERVAL_60, &at);
  const bool listed = check_choice(menu, k_interval_ids, mjh_interval_choices, m.interval_s);
  if (intervals) {
    if (!listed) {
      mjh_text_buffer<64> text;
      if (m.interval_s % 60 == 0)
        text.add(m.interval_s / 60, m.interval_s == 60 ? " minute" : " minutes");
      else
        text.add(m.interval_s, m.interval_s == 1 ? " second" : " seconds");
      insert_item(intervals, interval_position(intervals, m.interval_s, m.interval_s), IDM_INTERVAL_CUSTOM, true,
                  text.c_str());
    }
    set_text(menu, static_cast<UINT>(at), TRUE, m.interval_label);
    if (m.interval_unsafe)
      insert_item(intervals, interval_position(intervals, m.safe_interval_s, m.interval_s), IDM_INTERVAL_SAFE, false,
                  m.safe_interval_label);
  }
  // Longer intervals than a policy allows are greyed.
  if (m.max_interval_s > 0)
    for (size_t i = 0; i < sizeof k_interval_ids / sizeof k_interval_ids[0]; ++i)
      if (mjh_interval_choices[i] > m.max_interval_s) grey(menu, k_interval_ids[i]);
  check(menu, IDM_ONLY_WHEN_IDLE, m.only_when_idle);
  check(menu, IDM_KEEP_AWAKE, m.keep_awake);
  set_text(menu, IDM_KEEP_AWAKE, FALSE, m.keep_awake_label);
  if (m.keep_awake_fixed) grey(menu, IDM_KEEP_AWAKE);
  check(menu, IDM_AUTOSTART, m.autostart);
  set_text(menu, IDM_AUTOSTART, FALSE, m.autostart_label);
  if (m.autostart_fixed) grey(menu, IDM_AUTOSTART);
  set_text(menu, IDM_WORKING_HOURS, FALSE, m.hours_label);
  if (m.hours_fixed) grey(menu, IDM_WORKING_HOURS);
  if (!m.start_allowed) {
    if (!m.run_on) grey(menu, IDM_TOGGLE);
    grey(menu, IDM_NUDGE);
  }
  check_choice(menu, k_run_for_ids, mjh_run_for_choices,
               m.session == MJH_ACTION_RUN_FOR ? m.session_seconds : int64_t{-1});  // no choice is -1
  check(menu, IDM_RUN_UNTIL_END, m.session == MJH_ACTION_RUN_UNTIL_END_OF_HOURS);
  check(menu, IDM_RUN_UNTIL_STOPPED, m.session == MJH_ACTION_RUN_UNTIL_STOPPED);
  if (!m.until_end_of_hours_possible) grey(menu, IDM_RUN_UNTIL_END);
  check(menu, IDM_WHILE_PROGRAMS, m.while_programs);
  check(menu, IDM_AC_ONLY, m.ac_only);
  const bool battery_listed = check_choice(menu, k_battery_ids, mjh_battery_floor_choices, m.battery_floor);
  int power_at = -1;
  HMENU power = find_submenu(menu, IDM_AC_ONLY, &power_at);
  if (power && !battery_listed) {
    mjh_text_buffer<64> text;
    text.add("Stop below ", m.battery_floor, " % battery");
    insert_item(power, static_cast<UINT>(GetMenuItemCount(power)), IDM_BATTERY_CUSTOM, true, text.c_str());
  }
  check(menu, IDM_NOTIFICATIONS, m.notifications);
}

void open_hours_dialog();
void open_about_dialog();
void open_programs_dialog();

// The menu's items that are one action of the core each.
struct menu_action {
  UINT id;
  mjh_user_action action;
};
const menu_action k_menu_actions[] = {
    {IDM_NUDGE, MJH_ACTION_NUDGE},
    {IDM_MODE_ZEN, MJH_ACTION_MODE_ZEN},
    {IDM_MODE_MOVE, MJH_ACTION_MODE_MOVE},
    {IDM_INTERVAL_SAFE, MJH_ACTION_INTERVAL_SAFE},
    {IDM_ONLY_WHEN_IDLE, MJH_ACTION_ONLY_WHEN_IDLE},
    {IDM_KEEP_AWAKE, MJH_ACTION_KEEP_AWAKE},
    {IDM_RUN_UNTIL_END, MJH_ACTION_RUN_UNTIL_END_OF_HOURS},
    {IDM_RUN_UNTIL_STOPPED, MJH_ACTION_RUN_UNTIL_STOPPED},
    {IDM_AUTOSTART, MJH_ACTION_AUTOSTART},
    {IDM_AC_ONLY, MJH_ACTION_AC_ONLY},
    {IDM_NOTIFICATIONS, MJH_ACTION_NOTIFICATIONS},
    {IDM_EXIT, MJH_ACTION_EXIT},
};

// Start/Stop. run_on_shown: what the item said when the menu opened, or -1
// for a toggle.
void on_start_stop(int run_on_shown) {
  g_app.core->action(run_on_shown < 0 ? MJH_ACTION_TOGGLE : run_on_shown ? MJH_ACTION_STOP : MJH_ACTION_START);
}

// An item of k_menu_actions, or one of the choices (interval, session length,
// battery level); other ids do nothing.
void on_action_item(UINT id) {
  mjh_agent &core = *g_app.core;
  for (const menu_action &item : k_menu_actions) {
    if (item.id != id) continue;
    core.action(item.action);
    return;
  }
  int i;
  if ((i = index_of(k_interval_ids, id)) >= 0)
    core.action(MJH_ACTION_INTERVAL, mjh_interval_choices[i]);
  else if ((i = index_of(k_run_for_ids, id)) >= 0)
    core.action(MJH_ACTION_RUN_FOR, mjh_run_for_choices[i]);
  else if ((i = index_of(k_battery_ids, id)) >= 0)
    core.action(MJH_ACTION_BATTERY_FLOOR, mjh_battery_floor_choices[i]);
}

// A command of the menu (or sent by a test as WM_COMMAND). run_on_shown:
// what the Start/Stop item said when the menu opened, or -1 for a toggle.
void menu_command(UINT id, int run_on_shown) {
  switch (id) {
    case IDM_TOGGLE:
      on_start_stop(run_on_shown);
      break;
    case IDM_WORKING_HOURS:
      open_hours_dialog();
      break;
    case IDM_WHILE_PROGRAMS:
      open_programs_dialog();
      break;
    case IDM_ABOUT:
      open_about_dialog();
      break;
    default:
      on_action_item(id);
      break;
  }
  if (g_app.effects.quit_wanted) exit_agent();
}

void show_menu(int x, int y) {
  app &a = g_app;
  mjw_menu bar(LoadMenuW(a.instance, MAKEINTRESOURCEW(IDR_TRAY_MENU)));
  HMENU menu = bar ? GetSubMenu(bar.get(), 0) : nullptr;
  if (!menu) return;
  mjh_menu_model model;
  a.core->menu(&model);
  prepare_menu(menu, model);
  // Open beside the icon, not over it: the menu goes to the side of the
  // click that faces the middle of the work area, and keeps out of a square
  // around the click.
  UINT flags = TPM_RIGHTBUTTON | TPM_VERTICAL | TPM_RETURNCMD | TPM_NONOTIFY;
  int half = GetSystemMetrics(SM_CXSMICON) / 2 + 2;
  POINT at = {x, y};
  MONITORINFO monitor = {sizeof monitor};
  if (GetMonitorInfoW(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT &work = monitor.rcWork;
    flags |= y >= (work.top + work.bottom) / 2 ? TPM_BOTTOMALIGN : TPM_TOPALIGN;
    flags |= x >= (work.left + work.right) / 2 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
  }
  TPMPARAMS params = {sizeof params};
  SetRect(&params.rcExclude, x - half, y - half, x + half, y + half);
  // Without these two the menu would not close when the user clicks
  // elsewhere.
  SetForegroundWindow(a.window);
  a.menu_open = true;
  UINT id = static_cast<UINT>(
      TrackPopupMenuEx(menu, flags, x, (flags & TPM_BOTTOMALIGN) ? y - half : y + half, a.window, &params));
  a.menu_open = false;
  PostMessageW(a.window, WM_NULL, 0, 0);
  if (a.close_after_menu || a.exiting) {
    exit_agent();
    return;
  }
  if (id) menu_command(id, model.run_on);
}

// ---- Dialogs ------------------------------------------------------------------------------

// Opens a modeless dialog, or brings it forward when it is open: the message
// loop keeps answering requests while it is.
void open_dialog(dialog_state &dialog, int resource, DLGPROC proc) {
  app &a = g_app;
  if (a.exiting) return;
  if (!dialog.window) {
    dialog.core = a.core;
    dialog.window =
        CreateDialogParamW(a.instance, MAKEINTRESOURCEW(resource), a.window, proc, reinterpret_cast<LPARAM>(&dialog));
  }
  if (dialog.window) {
    ShowWindow(dialog.window, SW_SHOW);
    SetForegroundWindow(dialog.window);
  }
}

// The state a dialog was opened with (open_dialog's), kept in its DWLP_USER
// from WM_INITDIALOG on; null for the few messages before it.
template <typename State>
State *state_of(HWND dialog, UINT msg, LPARAM lparam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lparam);
  return reinterpret_cast<State *>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// ---- The working hours dialog ----------------------------------------------------------

void hours_dialog_enable(HWND dialog) {
  BOOL on = IsDlgButtonChecked(dialog, IDC_NO_HOURS) != BST_CHECKED;
  for (int day = 0; day < 7; ++day) EnableWindow(GetDlgItem(dialog, IDC_DAY_FIRST + day), on);
  EnableWindow(GetDlgItem(dialog, IDC_SPANS), on);
}

void hours_dialog_show(HWND dialog, const mjh_hours_fields &f) {
  for (int day = 0; day < 7; ++day)
    CheckDlgButton(dialog, IDC_DAY_FIRST + day, (f.days >> day) & 1u ? BST_CHECKED : BST_UNCHECKED);
  wchar_t wide[sizeof f.spans];
  mjw_widen(f.spans, wide, sizeof f.spans);
  SetDlgItemTextW(dialog, IDC_SPANS, wide);
  CheckDlgButton(dialog, IDC_NO_HOURS, f.none ? BST_CHECKED : BST_UNCHECKED);
  hours_dialog_enable(dialog);
}

void hours_dialog_read(HWND dialog, mjh_hours_fields *f) {
  f->none = IsDlgButtonChecked(dialog, IDC_NO_HOURS) == BST_CHECKED;
  f->days = 0;
  for (int day = 0; day < 7; ++day)
    if (IsDlgButtonChecked(dialog, IDC_DAY_FIRST + day) == BST_CHECKED) f->days |= 1u << day;
  wchar_t wide[sizeof f->spans];
  GetDlgItemTextW(dialog, IDC_SPANS, wide, sizeof f->spans);
  mjh_text spans(f->spans);
  mjw_narrow(wide, spans);
}

// Shows UTF-8 text in a dialog's item.
void set_item_text(HWND dialog, int item, const char *utf8) {
  wchar_t wide[256];
  mjw_widen(utf8, wide);
  SetDlgItemTextW(dialog, item, wide);
}

INT_PTR dialog_close(HWND dialog) {
  DestroyWindow(dialog);
  return TRUE;
}

// What every modeless dialog does alike: Cancel (Esc, the close box) closes
// it, and its state lets go of the window as it goes.
INT_PTR dialog_default(HWND dialog, UINT msg, WPARAM wparam, dialog_state &state) {
  if (msg == WM_COMMAND && LOWORD(wparam) == IDCANCEL) return dialog_close(dialog);
  if (msg == WM_DESTROY) state.window = nullptr;
  return FALSE;
}

INT_PTR hours_dialog_init(HWND dialog, hours_dialog_state &state) {
  mjh_hours_fields_of(state.core->hours(), &state.shown);
  hours_dialog_show(dialog, state.shown);
  return TRUE;
}

// "No working hours" checked or not: the days and spans follow.
INT_PTR hours_dialog_none_clicked(HWND dialog) {
  hours_dialog_enable(dialog);
  SetDlgItemTextW(dialog, IDC_HOURS_ERROR, L"");
  return TRUE;
}

// OK: applies what the user changed, or says why not (and keeps the dialog).
INT_PTR hours_dialog_ok(HWND dialog, hours_dialog_state &state) {
  mjh_hours_fields closed;
  hours_dialog_read(dialog, &closed);
  mjh_hours_edit edit;
  mjh_text_buffer<256> err;
  if (mjh_hours_edit_between(state.shown, closed, &edit, &err) && state.core->edit_hours(edit, &err))
    return dialog_close(dialog);
  set_item_text(dialog, IDC_HOURS_ERROR, err.c_str());
  SetFocus(GetDlgItem(dialog, IDC_SPANS));
  return TRUE;
}

INT_PTR CALLBACK hours_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
  hours_dialog_state *state = state_of<hours_dialog_state>(dialog, msg, lparam);
  if (!state) return FALSE;
  if (msg == WM_INITDIALOG) return hours_dialog_init(dialog, *state);
  if (msg == WM_COMMAND && LOWORD(wparam) == IDC_NO_HOURS) return hours_dialog_none_clicked(dialog);
  if (msg == WM_COMMAND && LOWORD(wparam) == IDOK) return hours_dialog_ok(dialog, *state);
  return dialog_default(dialog, msg, wparam, *state);
}

void open_hours_dialog() { open_dialog(g_app.hours_dialog, IDD_WORKING_HOURS, hours_dialog_proc); }

// ---- While programs run -------------------------------------------------------------------

// The comma text of the names in the list box.
void programs_dialog_list(HWND dialog, mjh_text &out) {
  HWND list = GetDlgItem(dialog, IDC_PROGRAM_LIST);
  const int n = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t name[MJH_PROGRAM_NAME_MAX + 1];
    if (SendMessageW(list, LB_GETTEXTLEN, i, 0) > MJH_PROGRAM_NAME_MAX) continue;
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(name));
    if (out.size() > 0) out.add(',');
    mjw_narrow(name, out);
  }
}

// The programs that run in this session now, offered to add.
void programs_dialog_offer_running(HWND dialog) {
  HWND combo = GetDlgItem(dialog, IDC_PROGRAM_RUNNING);
  mjw_each_session_program(
      [](const wchar_t *exe, void *context) {
        HWND box = static_cast<HWND>(context);
        if (SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(exe)) == CB_ERR)
          SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(exe));
        return true;
      },
      combo);
}

INT_PTR programs_dialog_add(HWND dialog) {
  wchar_t wide[MJH_PROGRAM_NAME_MAX * 2];
  GetDlgItemTextW(dialog, IDC_PROGRAM_RUNNING, wide, sizeof wide / sizeof wide[0]);
  mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> names;
  programs_dialog_list(dialog, names);
  const size_t before = names.size();
  if (before > 0) names.add(',');
  mjw_narrow(wide, names);
  mjh_programs read;
  mjh_text_buffer<256> err;
  if (names.size() == before + (before > 0) || !mjh_programs_parse(names.view(), &read, &err)) {
    set_item_text(dialog, IDC_PROGRAM_ERROR,
                  err.size() ? err.c_str() : "Type or choose a program's name, such as obs64.exe.");
    return TRUE;
  }
  // The name as the reader wrote it (".exe" added), unless the list has it.
  HWND list = GetDlgItem(dialog, IDC_PROGRAM_LIST);
  const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  if (read.count > count) {
    wchar_t added[MJH_PROGRAM_NAME_MAX + 1];
    mjw_widen(read.names[read.count - 1], added);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(added));
  }
  SetDlgItemTextW(dialog, IDC_PROGRAM_RUNNING, L"");
  set_item_text(dialog, IDC_PROGRAM_ERROR, "");
  return TRUE;
}

INT_PTR programs_dialog_remove(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_PROGRAM_LIST);
  LRESULT at = SendMessageW(list, LB_GETCURSEL, 0, 0);
  if (at != LB_ERR) SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(at), 0);
  return TRUE;
}

// OK: applies what the user changed, or says why not (and keeps the dialog).
INT_PTR programs_dialog_ok(HWND dialog, programs_dialog_state &state) {
  mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> names;
  programs_dialog_list(dialog, names);
  const bool foreground = IsDlgButtonChecked(dialog, IDC_PROGRAM_FOREGROUND) == BST_CHECKED;
  mjh_programs_edit edit;
  mjh_text_buffer<256> err;
  if (mjh_programs_edit_between(state.programs, state.foreground, names.view(), foreground, &edit, &err) &&
      (!(edit.set_programs || edit.set_foreground) || state.core->edit_programs(edit, &err)))
    return dialog_close(dialog);
  set_item_text(dialog, IDC_PROGRAM_ERROR, err.c_str());
  return TRUE;
}

INT_PTR programs_dialog_init(HWND dialog, programs_dialog_state &state) {
  state.programs = state.core->programs();
  state.foreground = state.core->foreground();
  HWND list = GetDlgItem(dialog, IDC_PROGRAM_LIST);
  for (int i = 0; i < state.programs.count; ++i) {
    wchar_t name[MJH_PROGRAM_NAME_MAX + 1];
    mjw_widen(state.programs.names[i], name);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  }
  CheckDlgButton(dialog, IDC_PROGRAM_FOREGROUND, state.foreground ? BST_CHECKED : BST_UNCHECKED);
  programs_dialog_offer_running(dialog);
  return TRUE;
}

INT_PTR CALLBACK programs_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
  programs_dialog_state *state = state_of<programs_dialog_state>(dialog, msg, lparam);
  if (!state) return FALSE;
  if (msg == WM_INITDIALOG) return programs_dialog_init(dialog, *state);
  if (msg == WM_COMMAND && LOWORD(wparam) == IDC_PROGRAM_ADD) return programs_dialog_add(dialog);
  if (msg == WM_COMMAND && LOWORD(wparam) == IDC_PROGRAM_REMOVE) return programs_dialog_remove(dialog);
  if (msg == WM_COMMAND && LOWORD(wparam) == IDOK) return programs_dialog_ok(dialog, *state);
  return dialog_default(dialog, msg, wparam, *state);
}

void open_programs_dialog() { open_dialog(g_app.programs_dialog, IDD_PROGRAMS, programs_dialog_proc); }

// ---- About -------------------------------------------------------------------------------

INT_PTR about_dialog_init(HWND dialog) {
  mjh_text_buffer<256> text;
  text.add("mjtray ", MJTRAY_VERSION, "\nveltrano-mouse-jiggler.dll ", mj_version());
  set_item_text(dialog, IDC_ABOUT_VERSIONS, text.c_str());
  return TRUE;
}

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
  dialog_state *state = state_of<dialog_state>(dialog, msg, lparam);
  if (!state) return FALSE;
  if (msg == WM_INITDIALOG) return about_dialog_init(dialog);
  if (msg == WM_COMMAND && LOWORD(wparam) == IDOK) return dialog_close(dialog);
  return dialog_default(dialog, msg, wparam, *state);
}

void open_about_dialog() { open_dialog(g_app.about_dialog, IDD_ABOUT, about_dialog_proc); }

// ---- Window ------------------------------------------------------------------------------
// One handler per message, each a few lines returning the message's result;
// window_proc only picks the handler.

// The desktop was locked or unlocked, switched away or back, connected or
// disconnected; the other changes of the session mean nothing to the run.
LRESULT on_desktop_changed(WPARAM change) {
  g_app.core->desktop_changed(static_cast<long>(change));
  return 0;
}

// The icon's messages (NOTIFYICON_VERSION_4: the event in LOWORD(lparam), the
// point in wparam), one user action each.
void on_icon_selected() { g_app.core->action(MJH_ACTION_TOGGLE); }

void on_icon_context_menu(WPARAM point) {
  show_menu(static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point)));
}

void on_pointer_over_icon() { g_app.core->pointer_on_icon(); }

LRESULT on_icon_message(WPARAM wparam, LPARAM lparam) {
  switch (LOWORD(lparam)) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
      on_icon_selected();
      break;
    case WM_CONTEXTMENU:
      on_icon_context_menu(wparam);
      break;
    case WM_MOUSEMOVE:
      on_pointer_over_icon();
      break;
  }
  return 0;
}

// Requests are answered by the message loop; inside the menu's loop only a
// quit matters, and it closes the menu.
LRESULT on_request_queued() {
  if (g_app.menu_open && pipe_server_quit_queued()) EndMenu();
  return 0;
}

LRESULT on_command(WPARAM wparam) {
  menu_command(LOWORD(wparam), -1);
  return 0;
}

LRESULT on_timer(WPARAM id) {
  if (id != TIMER_ID) return 0;
  KillTimer(g_app.window, TIMER_ID);
  g_app.core->timer();
  return 0;
}

LRESULT on_time_change() {
  g_app.effects.refresh_clock();
  g_app.core->clock_changed();
  return 0;
}

LRESULT on_programs_changed() {
  g_app.core->programs_changed(g_app.watch.state());
  return 0;
}

// The organization's policies are read again: Group Policy was refreshed,
// or a policy key changed (written by a script or a management tool, which
// broadcast nothing).
void on_policy_refresh() {
  mjh_policy policy;
  mjw_policy_store_read(&policy);
  g_app.core->policy_changed(policy);
}

LRESULT on_policy_changed() {
  on_policy_refresh();
  return 0;
}

// The screen saver's timeout, or the time zone (a setting change too).
void on_system_settings_changed() {
  g_app.effects.refresh_clock();
  g_app.core->settings_changed();
}

LRESULT on_setting_change(LPARAM lparam) {
  const wchar_t *area = reinterpret_cast<const wchar_t *>(lparam);
  if (area && wcscmp(area, L"Policy") == 0)
    on_policy_refresh();
  else
    on_system_settings_changed();
  return 0;
}

void on_power_changed() { g_app.core->power_changed(mjw_power_read()); }

// Back from sleep: the clock may have moved, the power source changed.
void on_resumed() {
  g_app.effects.refresh_clock();
  on_power_changed();
  g_app.core->resumed();
}

LRESULT on_power_broadcast(WPARAM wparam, LPARAM lparam) {
  switch (mjw_power_event_of(WM_POWERBROADCAST, wparam, lparam)) {
    case MJW_POWER_CHANGED:
      on_power_changed();
      break;
    case MJW_POWER_RESUMED:
      on_resumed();
      break;
    case MJW_POWER_NONE:
    case MJW_POWER_SUSPENDING:
      break;
  }
  return TRUE;
}

LRESULT on_display_change() {
  g_app.effects.redraw_icon();
  return 0;
}

LRESULT on_query_end_session() { return TRUE; }

// The session ends: the process may end as soon as this returns. An open
// menu is closed, as for WM_CLOSE; once it is, the agent exits.
LRESULT on_end_session(WPARAM ending) {
  if (!ending) return 0;
  shut_down();
  if (g_app.menu_open) EndMenu();
  PostQuitMessage(0);
  return 0;
}

LRESULT on_close() {
  if (!g_app.menu_open) {
    exit_agent();
    return 0;
  }
  g_app.close_after_menu = true;
  EndMenu();
  return 0;
}

LRESULT on_destroy() {
  PostQuitMessage(0);
  return 0;
}

// The notification area was created anew (Explorer restarted).
LRESULT on_taskbar_created() {
  tray_icon_readd();
  return 0;
}

// Before the agent runs and once it is ending, the window only goes.
LRESULT while_not_running(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_DESTROY) PostQuitMessage(0);
  if (msg == WM_QUERYENDSESSION) return on_query_end_session();
  return DefWindowProcW(window, msg, wparam, lparam);
}

LRESULT CALLBACK window_proc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (!g_app.core || g_app.exiting) return while_not_running(window, msg, wparam, lparam);
  if (msg == g_app.taskbar_created && msg) return on_taskbar_created();
  switch (msg) {
    case WM_MJ_NOTIFY:
      return on_icon_message(wparam, lparam);
    case WM_MJ_REQUEST:
      return on_request_queued();
    case WM_MJ_PROGRAMS:
      return on_programs_changed();
    case WM_MJ_POLICY:
      return on_policy_changed();
    case WM_COMMAND:
      return on_command(wparam);
    case WM_TIMER:
      return on_timer(wparam);
    case WM_TIMECHANGE:
      return on_time_change();
    case WM_SETTINGCHANGE:
      return on_setting_change(lparam);
    case WM_POWERBROADCAST:
      return on_power_broadcast(wparam, lparam);
    case WM_WTSSESSION_CHANGE:
      return on_desktop_changed(wparam);
    case WM_DPICHANGED:
      return on_display_change();
    case WM_DISPLAYCHANGE:
      return on_display_change();
    case WM_QUERYENDSESSION:
      return on_query_end_session();
    case WM_ENDSESSION:
      return on_end_session(wparam);
    case WM_CLOSE:
      return on_close();
    case WM_DESTROY:
      return on_destroy();
  }
  return DefWindowProcW(window, msg, wparam, lparam);
}

// ---- Start -------------------------------------------------------------------------------

// Said in sentences, not columns: a message box wraps its lines.
const wchar_t k_usage[] =
    L"Veltrano Mouse Jiggler keeps this desktop from being treated as idle, from the notification area.\n\n"
    L"mjtray starts the agent of this session; when one runs already, it shows where it is.\n\n"
    L"mjtray --autostart on starts the agent with Windows from now on; mjtray --autostart off no longer.";

// Why the agent cannot start, in a message box (a person started it).
void say_cannot_start(const char *text) {
  wchar_t wide[256];
  mjw_widen(text, wide, 256);
  MessageBoxW(nullptr, wide, k_title, MB_OK | MB_ICONERROR);
}

// What the holder of the agent's place answers when asked for its status
// (a live agent: to show where it is, as a second launch wants), and who
// it is when the call got that far.
mjh_answer ask_the_holder(bool show, mjw_pipe_server *holder) {
  static char reply[MJH_REPLY_MAX + 1];
  const char *request = show ? "{\"cmd\":\"show\"}\n" : "{\"cmd\":\"status\"}\n";
  return mjw_answer_of(mjw_pipe_call(request, reply, sizeof reply, 1000, holder, nullptr), reply);
}

// One agent per user and session: the one that holds its pipe's first
// instance (handover.h). A later one leaves a live agent be, waits (bounded)
// for one that is ending, and otherwise says that its place is held (say:
// in a message box). Returns whether this process is the agent; otherwise
// *exit_code is what it exits with.
bool become_the_agent(bool show, bool say, int *exit_code) {
  for (ULONGLONG deadline = GetTickCount64() + HANDOVER_MS;;) {
    DWORD error = 0;
    if (pipe_server_claim(&error)) return true;
    mjh_text_buffer<256> text;
    if (!pipe_server_place_held(error)) {
      text.add("Veltrano Mouse Jiggler cannot start: its control pipe could not be created (error ", error, ").");
      if (say) say_cannot_start(text.c_str());
      *exit_code = MJH_AGENT_EXIT_NO_PIPE;
      return false;
    }
    mjw_pipe_server holder;
    mjh_answer answer = ask_the_holder(show, &holder);
    switch (mjh_handover_next(answer, GetTickCount64() < deadline)) {
      case MJH_HANDOVER_LEAVE:
        *exit_code = MJH_AGENT_EXIT_DONE;
        return false;
      case MJH_HANDOVER_HELD:
        mjh_place_held_text(holder.pid, text);
        if (say) say_cannot_start(text.c_str());
        *exit_code = MJH_AGENT_EXIT_PLACE_HELD;
        return false;
      case MJH_HANDOVER_WAIT:
        // An ending agent frees the place when its process ends.
        if (holder.process)
          WaitForSingleObject(holder.process.get(), 100);
        else
          Sleep(100);
        break;
    }
  }
}

int run_agent() {
  app &a = g_app;
  WNDCLASSEXW wc = {sizeof wc};
  wc.lpfnWndProc = window_proc;
  wc.hInstance = a.instance;
  wc.lpszClassName = k_window_class;
  if (!RegisterClassExW(&wc)) return 1;
  // A hidden top-level window rather than a message-only one: only
  // top-level windows receive broadcasts (TaskbarCreated), WM_ENDSESSION and
  // WM_DPICHANGED.
  a.window = CreateWindowExW(WS_EX_TOOLWINDOW, k_window_class, k_title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             a.instance, nullptr);
  if (!a.window) return 1;
  a.taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");

  DWORD error = 0;
  if (!pipe_server_start(a.window, WM_MJ_REQUEST, &error)) {
    mjh_text_buffer<256> text;
    text.add("Veltrano Mouse Jiggler cannot start: its control pipe cannot be served (error ", error, ").");
    say_cannot_start(text.c_str());
    DestroyWindow(a.window);
    return MJH_AGENT_EXIT_NO_PIPE;
  }
  tray_icon_start(a.window, WM_MJ_NOTIFY, a.exe_path);

  a.core = &g_core;
  a.effects.refresh_clock();
  a.watch.start(a.window, WM_MJ_PROGRAMS);
  a.power.start(a.window);  // without it, PBT_APMPOWERSTATUSCHANGE still tells
  // Watched before they are read: no change falls between the two.
  a.policy_watch.start(a.window, WM_MJ_POLICY);
  mjh_agent_start start;
  settings_store_load(&start);
  mjw_policy_store_read(&start.policy);
  start.power = mjw_power_read();
  start.elevated = mjw_process_elevated();  // above the desktop's shell
  start.level = mjw_process_level(GetCurrentProcess());
  // Watched before it is read, so that no change falls between the two.
  mjw_desktop_watch(a.window);
  start.desktop = mjw_desktop_read();
  g_core.launch(start);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if ((a.hours_dialog.window && IsDialogMessageW(a.hours_dialog.window, &msg)) ||
        (a.about_dialog.window && IsDialogMessageW(a.about_dialog.window, &msg)) ||
        (a.programs_dialog.window && IsDialogMessageW(a.programs_dialog.window, &msg))) {
    } else {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    serve_requests();
  }
  shut_down();  // WM_QUIT from elsewhere
  return 0;
}

int command_line_autostart(const wchar_t *value) {
  if (wcscmp(value, L"on") == 0 || wcscmp(value, L"off") == 0)
    return autostart_set(g_app.exe_path, value[1] == L'n') ? 0 : 1;
  MessageBoxW(nullptr, k_usage, k_title, MB_OK | MB_ICONWARNING);
  return 2;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  app &a = g_app;
  a.instance = instance;
  if (!GetModuleFileNameW(nullptr, a.exe_path, MAX_PATH)) a.exe_path[0] = L'\0';
  int argc = 0;
  mjw_local args(CommandLineToArgvW(GetCommandLineW(), &argc));
  wchar_t **argv = static_cast<wchar_t **>(args.get());
  if (argv && argc == 3 && wcscmp(argv[1], L"--autostart") == 0) return command_line_autostart(argv[2]);
  // The machine's log-on entry (a per-machine install): it steps aside where
  // the user has an agent of their own, and where a policy says no.
  const bool machine_logon = argv && argc == 3 && wcscmp(argv[1], L"--logon") == 0 && wcscmp(argv[2], L"machine") == 0;
  const bool by_mjctl = argv && argc == 3 && wcscmp(argv[1], L"--started-by") == 0 && wcscmp(argv[2], L"mjctl") == 0;
  if (by_mjctl) {
  } else if (machine_logon) {
    mjh_policy policy;
    mjw_policy_store_read(&policy);
    if (settings_store_user_has_own_agent() || !policy.allowed || policy.start_with_windows == 0) return 0;
  } else if (argv && argc > 1) {
    bool help = wcscmp(argv[1], L"--help") == 0 || wcscmp(argv[1], L"-h") == 0 || wcscmp(argv[1], L"/?") == 0;
    MessageBoxW(nullptr, k_usage, k_title, MB_OK | (help ? MB_ICONINFORMATION : MB_ICONWARNING));
    return help ? 0 : 2;
  }

  int exit_code = MJH_AGENT_EXIT_DONE;
  if (!become_the_agent(!machine_logon && !by_mjctl, !by_mjctl, &exit_code)) return exit_code;
  return run_agent();
}
