// mjtray: the agent of a user's session in the notification area, a thin
// Windows shell around the agent core (host/core/agent.h). The window
// procedure turns messages into the core's events; the core's effects become
// Win32 calls here. Requests from the control pipe are taken one at a time
// from the message loop itself, never from inside another handler; the
// notification area is driven from a thread of its own, so that a slow
// Explorer never holds up this thread.
//
//   mjtray                     the agent (a second one for the same session
//                              leaves the first alone and exits with 0)
//   mjtray --autostart on|off  adds or removes the log-on entry, then exits
#include <string.h>
#include <wchar.h>
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include "agent.h"
#include "clock.h"
#include "handle.h"
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

const wchar_t k_mutex[] = L"Local\\veltrano-mouse-jiggler-agent";
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
  bool keep_awake(bool on) override;
  bool save(const mjh_settings &settings, const mjh_hours &hours, const mjh_programs *programs) override {
    return settings_store_save(settings, hours, programs);
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

// The one agent of this process.
struct app {
  HINSTANCE instance;
  HWND window;
  UINT taskbar_created;  // broadcast when the notification area is (re)created
  wchar_t exe_path[MAX_PATH];
  shell_effects effects;
  mjh_agent *core;
  HWND hours_dialog;     // modeless, or null
  HWND about_dialog;     // modeless, or null
  HWND programs_dialog;  // modeless, or null
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

bool shell_effects::keep_awake(bool on) {
  if (on) return mjw_keep_awake_start(&keep_awake_);
  mjw_keep_awake_stop(&keep_awake_);
  return false;
}

mjh_lock_setting shell_effects::lock_setting() {
  mjw_lock_timeout lock;
  mjw_lock_timeout_read(&lock);
  return mjh_lock_setting{lock.seconds, lock.kind};
}

// The icon of a state, size x size pixels, as the notification area takes it.
HICON make_icon(mjh_icon_state state, int px) {
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
  HDC screen = GetDC(nullptr);
  mjw_gdi colour(CreateDIBSection(screen, reinterpret_cast<BITMAPINFO *>(&header), DIB_RGB_COLORS, &bits, nullptr, 0));
  ReleaseDC(nullptr, screen);
  unsigned char *pixels = static_cast<unsigned char *>(bits);
  if (!colour || !mjh_icon_render(state, px, pixels)) return nullptr;
  mjh_icon_straight_alpha(pixels, px);                // icons take straight alpha, as icon files hold it
  mjw_gdi mask(CreateBitmap(px, px, 1, 1, nullptr));  // unused beside an alpha channel, but required
  if (!mask) return nullptr;
  ICONINFO info = {};
  info.fIcon = TRUE;
  info.hbmColor = static_cast<HBITMAP>(colour.get());
  info.hbmMask = static_cast<HBITMAP>(mask.get());
  return CreateIconIndirect(&info);
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
  HICON picture = !shown_ || icon != icon_ || px != icon_px_ ? make_icon(icon, px) : nullptr;
  if (picture) {
    icon_ = icon;
    icon_px_ = px;
  }
  shown_ = true;
  if (!mjw_widen(tooltip, tooltip_, MJH_TOOLTIP_MAX)) mjw_widen("Veltrano Mouse Jiggler", tooltip_, MJH_TOOLTIP_MAX);
  tray_icon_set(picture, tooltip_);
}

void shell_effects::redraw_icon() {
  if (!shown_) return;
  int px = icon_size(g_app.window);
  if (px == icon_px_) return;
  HICON picture = make_icon(icon_, px);
  if (!picture) return;
  icon_px_ = px;
  tray_icon_set(picture, tooltip_);
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
  for (HWND *dialog : {&a.hours_dialog, &a.about_dialog, &a.programs_dialog}) {
    if (*dialog) DestroyWindow(*dialog);
    *dialog = nullptr;
  }
  a.watch.stop();
  a.power.stop();
  a.policy_watch.stop();
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

// A command of the menu (or sent by a test as WM_COMMAND). run_on_shown:
// what the Start/Stop item said when the menu opened, or -1 for a toggle.
void menu_command(UINT id, int run_on_shown) {
  mjh_agent &core = *g_app.core;
  switch (id) {
    case IDM_TOGGLE:
      core.action(run_on_shown < 0 ? MJH_ACTION_TOGGLE : run_on_shown ? MJH_ACTION_STOP : MJH_ACTION_START);
      break;
    case IDM_NUDGE:
      core.action(MJH_ACTION_NUDGE);
      break;
    case IDM_MODE_ZEN:
      core.action(MJH_ACTION_MODE_ZEN);
      break;
    case IDM_MODE_MOVE:
      core.action(MJH_ACTION_MODE_MOVE);
      break;
    case IDM_INTERVAL_SAFE:
      core.action(MJH_ACTION_INTERVAL_SAFE);
      break;
    case IDM_ONLY_WHEN_IDLE:
      core.action(MJH_ACTION_ONLY_WHEN_IDLE);
      break;
    case IDM_KEEP_AWAKE:
      core.action(MJH_ACTION_KEEP_AWAKE);
      break;
    case IDM_RUN_UNTIL_END:
      core.action(MJH_ACTION_RUN_UNTIL_END_OF_HOURS);
      break;
    case IDM_RUN_UNTIL_STOPPED:
      core.action(MJH_ACTION_RUN_UNTIL_STOPPED);
      break;
    case IDM_AUTOSTART:
      core.action(MJH_ACTION_AUTOSTART);
      break;
    case IDM_WORKING_HOURS:
      open_hours_dialog();
      break;
    case IDM_WHILE_PROGRAMS:
      open_programs_dialog();
      break;
    case IDM_AC_ONLY:
      core.action(MJH_ACTION_AC_ONLY);
      break;
    case IDM_NOTIFICATIONS:
      core.action(MJH_ACTION_NOTIFICATIONS);
      break;
    case IDM_ABOUT:
      open_about_dialog();
      break;
    case IDM_EXIT:
      core.action(MJH_ACTION_EXIT);
      break;
    default: {
      int i;
      if ((i = index_of(k_interval_ids, id)) >= 0)
        core.action(MJH_ACTION_INTERVAL, mjh_interval_choices[i]);
      else if ((i = index_of(k_run_for_ids, id)) >= 0)
        core.action(MJH_ACTION_RUN_FOR, mjh_run_for_choices[i]);
      else if ((i = index_of(k_battery_ids, id)) >= 0)
        core.action(MJH_ACTION_BATTERY_FLOOR, mjh_battery_floor_choices[i]);
      break;
    }
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
void open_dialog(HWND &dialog, int resource, DLGPROC proc) {
  app &a = g_app;
  if (a.exiting) return;
  if (!dialog) dialog = CreateDialogParamW(a.instance, MAKEINTRESOURCEW(resource), a.window, proc, 0);
  if (dialog) {
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
  }
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

// What the dialog showed when it opened: OK applies only what the user
// changed since.
mjh_hours_fields g_hours_shown;

// Shows UTF-8 text in a dialog's item.
void set_item_text(HWND dialog, int item, const char *utf8) {
  wchar_t wide[256];
  mjw_widen(utf8, wide);
  SetDlgItemTextW(dialog, item, wide);
}

// What every modeless dialog does alike: Cancel (Esc, the close box) closes
// it, and its slot empties as it goes.
INT_PTR dialog_default(HWND dialog, UINT msg, WPARAM wparam, HWND &slot) {
  if (msg == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
    DestroyWindow(dialog);
    return TRUE;
  }
  if (msg == WM_DESTROY) slot = nullptr;
  return FALSE;
}

// OK: applies what the user changed, or says why not (and keeps the dialog).
bool hours_dialog_apply(HWND dialog) {
  mjh_hours_fields closed;
  hours_dialog_read(dialog, &closed);
  mjh_hours_edit edit;
  mjh_text_buffer<256> err;
  if (mjh_hours_edit_between(g_hours_shown, closed, &edit, &err) && g_app.core->edit_hours(edit, &err)) return true;
  set_item_text(dialog, IDC_HOURS_ERROR, err.c_str());
  SetFocus(GetDlgItem(dialog, IDC_SPANS));
  return false;
}

INT_PTR CALLBACK hours_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      mjh_hours_fields_of(g_app.core->hours(), &g_hours_shown);
      hours_dialog_show(dialog, g_hours_shown);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDC_NO_HOURS:
          hours_dialog_enable(dialog);
          SetDlgItemTextW(dialog, IDC_HOURS_ERROR, L"");
          return TRUE;
        case IDOK:
          if (hours_dialog_apply(dialog)) DestroyWindow(dialog);
          return TRUE;
      }
      break;
  }
  return dialog_default(dialog, msg, wparam, g_app.hours_dialog);
}

void open_hours_dialog() { open_dialog(g_app.hours_dialog, IDD_WORKING_HOURS, hours_dialog_proc); }

// ---- While programs run -------------------------------------------------------------------

// What the dialog showed when it opened: OK applies only what the user
// changed since.
struct programs_shown {
  mjh_programs programs;
  bool foreground;
};
programs_shown g_programs_shown;

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

void programs_dialog_add(HWND dialog) {
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
    return;
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
}

// OK: applies what the user changed, or says why not (and keeps the dialog).
bool programs_dialog_apply(HWND dialog) {
  mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> names;
  programs_dialog_list(dialog, names);
  const bool foreground = IsDlgButtonChecked(dialog, IDC_PROGRAM_FOREGROUND) == BST_CHECKED;
  mjh_programs_edit edit;
  mjh_text_buffer<256> err;
  if (mjh_programs_edit_between(g_programs_shown.programs, g_programs_shown.foreground, names.view(), foreground, &edit,
                                &err) &&
      (!(edit.set_programs || edit.set_foreground) || g_app.core->edit_programs(edit, &err)))
    return true;
  set_item_text(dialog, IDC_PROGRAM_ERROR, err.c_str());
  return false;
}

INT_PTR CALLBACK programs_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: {
      g_programs_shown.programs = g_app.core->programs();
      g_programs_shown.foreground = g_app.core->foreground();
      HWND list = GetDlgItem(dialog, IDC_PROGRAM_LIST);
      for (int i = 0; i < g_programs_shown.programs.count; ++i) {
        wchar_t name[MJH_PROGRAM_NAME_MAX + 1];
        mjw_widen(g_programs_shown.programs.names[i], name);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
      }
      CheckDlgButton(dialog, IDC_PROGRAM_FOREGROUND, g_programs_shown.foreground ? BST_CHECKED : BST_UNCHECKED);
      programs_dialog_offer_running(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDC_PROGRAM_ADD:
          programs_dialog_add(dialog);
          return TRUE;
        case IDC_PROGRAM_REMOVE: {
          HWND list = GetDlgItem(dialog, IDC_PROGRAM_LIST);
          LRESULT at = SendMessageW(list, LB_GETCURSEL, 0, 0);
          if (at != LB_ERR) SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(at), 0);
          return TRUE;
        }
        case IDOK:
          if (programs_dialog_apply(dialog)) DestroyWindow(dialog);
          return TRUE;
      }
      break;
  }
  return dialog_default(dialog, msg, wparam, g_app.programs_dialog);
}

void open_programs_dialog() { open_dialog(g_app.programs_dialog, IDD_PROGRAMS, programs_dialog_proc); }

// ---- About -------------------------------------------------------------------------------

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: {
      mjh_text_buffer<256> text;
      text.add("mjtray ", MJTRAY_VERSION, "\nveltrano-mouse-jiggler.dll ", mj_version());
      set_item_text(dialog, IDC_ABOUT_VERSIONS, text.c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        DestroyWindow(dialog);
        return TRUE;
      }
      break;
  }
  return dialog_default(dialog, msg, wparam, g_app.about_dialog);
}

void open_about_dialog() { open_dialog(g_app.about_dialog, IDD_ABOUT, about_dialog_proc); }

// ---- Policies ----------------------------------------------------------------------------

// The organization's policies are read again: a policy key changed, or Group
// Policy was refreshed.
void policies_changed() {
  mjh_policy policy;
  mjw_policy_store_read(&policy);
  g_app.core->policy_changed(policy);
}

// ---- Window ------------------------------------------------------------------------------

void on_notify(WPARAM wparam, LPARAM lparam) {
  switch (LOWORD(lparam)) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
      g_app.core->action(MJH_ACTION_TOGGLE);
      break;
    case WM_CONTEXTMENU:
      show_menu(static_cast<short>(LOWORD(wparam)), static_cast<short>(HIWORD(wparam)));
      break;
    case WM_MOUSEMOVE:
      g_app.core->pointer_on_icon();
      break;
  }
}

LRESULT CALLBACK window_proc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  app &a = g_app;
  if (!a.core || a.exiting) {
    if (msg == WM_DESTROY) PostQuitMessage(0);
    if (msg == WM_QUERYENDSESSION) return TRUE;
    return DefWindowProcW(window, msg, wparam, lparam);
  }
  if (msg == a.taskbar_created && msg) {
    tray_icon_readd();
    return 0;
  }
  switch (msg) {
    case WM_MJ_NOTIFY:
      on_notify(wparam, lparam);
      return 0;
    case WM_MJ_REQUEST:
      // Requests are answered by the message loop; inside the menu's loop
      // only a quit matters, and it closes the menu.
      if (a.menu_open && pipe_server_quit_queued()) EndMenu();
      return 0;
    case WM_COMMAND:
      menu_command(LOWORD(wparam), -1);
      return 0;
    case WM_TIMER:
      if (wparam == TIMER_ID) {
        KillTimer(window, TIMER_ID);
        a.core->timer();
      }
      return 0;
    case WM_TIMECHANGE:
      a.effects.refresh_clock();
      a.core->clock_changed();
      return 0;
    case WM_MJ_PROGRAMS:
      a.core->programs_changed(a.watch.state());
      return 0;
    case WM_MJ_POLICY:
      policies_changed();
      return 0;
    case WM_SETTINGCHANGE:
      if (lparam && wcscmp(reinterpret_cast<const wchar_t *>(lparam), L"Policy") == 0) {
        policies_changed();
        return 0;
      }
      // The screen saver's timeout, or the time zone (a setting change too).
      a.effects.refresh_clock();
      a.core->settings_changed();
      return 0;
    case WM_POWERBROADCAST:
      switch (mjw_power_event_of(msg, wparam, lparam)) {
        case MJW_POWER_CHANGED:
          a.core->power_changed(mjw_power_read());
          break;
        case MJW_POWER_RESUMED:
          a.effects.refresh_clock();
          a.core->power_changed(mjw_power_read());
          a.core->resumed();
          break;
        case MJW_POWER_NONE:
        case MJW_POWER_SUSPENDING:
          break;
      }
      return TRUE;
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
      a.effects.redraw_icon();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The process may end as soon as this returns.
      if (wparam) {
        shut_down();
        PostQuitMessage(0);
      }
      return 0;
    case WM_CLOSE:
      if (a.menu_open) {
        a.close_after_menu = true;
        EndMenu();
      } else {
        exit_agent();
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, msg, wparam, lparam);
}

// ---- Start -------------------------------------------------------------------------------

// Said in sentences, not columns: a message box wraps its lines.
const wchar_t k_usage[] =
    L"Veltrano Mouse Jiggler keeps this desktop from being treated as idle, from the notification area.\n\n"
    L"mjtray starts the agent of this session; when one runs already, it shows where it is.\n\n"
    L"mjtray --autostart on starts the agent with Windows from now on; mjtray --autostart off no longer.";

// Whether the agent of this session answers on its pipe (a live one); it
// is asked to show where it is, as a second launch wants.
bool agent_answers(bool show) {
  static char reply[MJH_REPLY_MAX + 1];
  const char *request = show ? "{\"cmd\":\"show\"}\n" : "{\"cmd\":\"status\"}\n";
  // An agent that is ending answers {"ok":false,...}: only a live one says ok.
  return mjw_pipe_call(request, reply, sizeof reply, 1000, nullptr, nullptr) == MJW_CALL_OK &&
         mjh_starts_with(reply, "{\"ok\":true");
}

// One agent per session: a later one leaves a live agent alone (asking it,
// when a person started this one, to show where it is), but waits for one
// that is ending. Returns whether this process may be the agent.
bool become_the_agent(HANDLE mutex, bool show) {
  for (ULONGLONG deadline = GetTickCount64() + HANDOVER_MS;;) {
    DWORD w = WaitForSingleObject(mutex, 100);
    if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) return true;
    if (agent_answers(show)) return false;
    if (GetTickCount64() >= deadline) return false;
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
    text.add("Veltrano Mouse Jiggler cannot start: its control pipe could not be created (error ", error, ")");
    text.add(error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY ? ": another program holds its name." : ".");
    wchar_t wide[256];
    mjw_widen(text.c_str(), wide, 256);
    MessageBoxW(nullptr, wide, k_title, MB_OK | MB_ICONERROR);
    DestroyWindow(a.window);
    return 3;
  }
  tray_icon_start(a.window, WM_MJ_NOTIFY);

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
  g_core.launch(start);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if ((a.hours_dialog && IsDialogMessageW(a.hours_dialog, &msg)) ||
        (a.about_dialog && IsDialogMessageW(a.about_dialog, &msg)) ||
        (a.programs_dialog && IsDialogMessageW(a.programs_dialog, &msg))) {
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
  if (machine_logon) {
    mjh_policy policy;
    mjw_policy_store_read(&policy);
    if (settings_store_user_has_own_agent() || !policy.allowed || policy.start_with_windows == 0) return 0;
  } else if (argv && argc > 1) {
    bool help = wcscmp(argv[1], L"--help") == 0 || wcscmp(argv[1], L"-h") == 0 || wcscmp(argv[1], L"/?") == 0;
    MessageBoxW(nullptr, k_usage, k_title, MB_OK | (help ? MB_ICONINFORMATION : MB_ICONWARNING));
    return help ? 0 : 2;
  }

  mjw_handle mutex(CreateMutexW(nullptr, FALSE, k_mutex));
  if (!mutex) return 1;
  if (!become_the_agent(mutex.get(), !machine_logon)) return 0;
  int result = run_agent();
  ReleaseMutex(mutex.get());
  return result;
}
