// The agent's decisions, in one object driven by events: a pipe request, a
// menu command or a click, the one timer, a change of the clock, the zone,
// the screen-lock settings, the organization's policies, the power source or
// the programs that run, a resume from sleep, the pointer resting on the
// icon, the end of the session. Everything it does to the world (the DLL's
// run, keep-awake, the saved settings, the icon and its tooltip, messages
// beside the icon, the programs to watch, the timer, start with Windows, the
// end of the agent) goes through mjh_agent_effects, which the Windows shell
// implements with the real things and the tests with fakes.
//
// Every event is handled whole before the next one is given: the shell never
// calls an event from inside another, and the object never calls back into
// the shell in a way that could deliver one. The single exception is
// shut_down, which may come at any time, even in the middle of another event
// (the session is ending), and leaves the object inert.
//
// The run is on when the user wants it on, and inside working hours (if
// set), and the conditions hold (if set); a session overrides working hours
// but not the conditions; a policy overrides all. Plain C++ without system
// headers, tested natively.
//
// The desktop is an event too (locked, switched away, back): while it is
// locked or has no screen the run waits, since a nudge reaches nothing there.
// When nudges fail, the agent asks for the window in front: one above its
// integrity level takes no injected input, and the failure is named so.
#ifndef MJH_AGENT_H
#define MJH_AGENT_H

#include <stddef.h>
#include <stdint.h>

#include "agent_text.h"
#include "conditions.h"
#include "desktop.h"
#include "icon.h"
#include "lock_rule.h"
#include "options.h"
#include "policy.h"
#include "protocol.h"
#include "schedule.h"
#include "schedule_text.h"
#include "settings.h"
#include "text.h"

// After how much inactivity the screen locks (0: never), and what happens
// then.
struct mjh_lock_setting {
  int seconds;
  mjh_lock_kind kind;
};

// What keep-awake holds: nothing, the system alone (a download finishes, the
// display may turn off), or the system and the display.
enum mjh_awake { MJH_AWAKE_NONE, MJH_AWAKE_SYSTEM, MJH_AWAKE_DISPLAY };

// What the agent asks of the world. Every call returns promptly: none waits
// for the user, a client or the notification area.
class mjh_agent_effects {
 public:
  // The DLL: one run at a time, the exports' contracts.
  virtual bool run_start(const char *options_text) = 0;
  virtual void run_stop() = 0;
  virtual const char *run_status() = 0;
  virtual bool nudge(const char *options_text) = 0;
  virtual const char *last_error() = 0;

  // Holds as much as level says, letting go of the rest; returns what is
  // held now.
  virtual mjh_awake keep_awake(mjh_awake level) = 0;

  // Writes the settings, the working hours and the programs whole (damaged
  // working hours or a damaged list leave the stored ones as they are, for
  // the user to see and set again); false when the store refused, with why
  // appended to why, e.g. "the registry refused it (error 5)".
  virtual bool save(const mjh_settings &settings, const mjh_hours &hours, const mjh_programs *programs,
                    mjh_text &why) = 0;

  // The clock: UTC seconds since 1970, a monotonic tick in milliseconds, and
  // the zone of local time (valid until the next event).
  virtual int64_t now_utc() = 0;
  virtual int64_t tick_ms() = 0;
  virtual const mjh_zone *zone() = 0;

  // After how much inactivity the screen locks, as set now.
  virtual mjh_lock_setting lock_setting() = 0;

  // The icon's state and its tooltip (UTF-8), given only when either changed.
  virtual void show(mjh_icon_state icon, const char *tooltip) = 0;

  // A message beside the icon (a balloon) that needs no answer.
  virtual void notify(const char *title, const char *text) = 0;

  // The programs whose runs the shell watches (none: stop watching), and
  // whether it also tells which of them owns the foreground window. Returns
  // which of them run now; later changes come as programs_changed.
  virtual mjh_program_state watch_programs(const mjh_programs &programs, bool foreground) = 0;

  // The window in front of the desktop: its process's integrity level and
  // program, as far as they can be read. Asked when nudges fail.
  virtual mjh_front_window front_window() = 0;

  // The one timer: the shell calls mjh_agent::timer after ms milliseconds
  // (replacing an earlier request), or never when ms is negative.
  virtual void set_timer(int64_t ms) = 0;

  // Start with Windows: whether it is set, and setting it.
  virtual bool autostart() = 0;
  virtual bool set_autostart(bool on) = 0;

  // The agent is to end once the current event is done (a quit request's
  // reply is sent first).
  virtual void quit() = 0;

 protected:
  ~mjh_agent_effects() = default;
};

// What the user does in the menu or on the icon.
enum mjh_user_action {
  MJH_ACTION_TOGGLE,  // a click on the icon: start when the run is off, else stop
  MJH_ACTION_START,   // the menu's Start
  MJH_ACTION_STOP,    // the menu's Stop
  MJH_ACTION_NUDGE,
  MJH_ACTION_MODE_ZEN,
  MJH_ACTION_MODE_MOVE,
  MJH_ACTION_INTERVAL,       // value: seconds
  MJH_ACTION_INTERVAL_SAFE,  // the longest interval that keeps ahead of the screen lock
  MJH_ACTION_ONLY_WHEN_IDLE,
  MJH_ACTION_KEEP_AWAKE,
  MJH_ACTION_RUN_FOR,  // value: seconds
  MJH_ACTION_RUN_UNTIL_END_OF_HOURS,
  MJH_ACTION_RUN_UNTIL_STOPPED,
  MJH_ACTION_AC_ONLY,        // "Only on mains power", on or off
  MJH_ACTION_BATTERY_FLOOR,  // value: 0 (off) or 5 to 95
  MJH_ACTION_NOTIFICATIONS,  // on or off
  MJH_ACTION_AUTOSTART,
  MJH_ACTION_EXIT
};

// The "Run for" choices of the menu, in seconds.
extern const int64_t mjh_run_for_choices[4];
// The Interval choices of the menu, in seconds.
extern const int mjh_interval_choices[5];
// The "Stop below" choices of the menu, in percent (0: off).
extern const int mjh_battery_floor_choices[5];

// What the menu shows when it opens. A label ends in " (set by your
// organization)" and its item is greyed where a policy decides.
struct mjh_menu_model {
  bool run_on;         // the item says Stop, else Start
  bool start_allowed;  // Start and Nudge now: false when a policy turned the agent off
  mj_mode mode;
  int interval_s;
  bool only_when_idle;
  bool keep_awake;
  bool keep_awake_fixed;  // by a policy
  char keep_awake_label[96];
  bool autostart;
  bool autostart_fixed;  // by a policy
  char autostart_label[96];
  bool hours_fixed;  // working hours set by a policy
  char hours_label[96];
  // The session in progress: MJH_ACTION_RUN_FOR with its seconds,
  // MJH_ACTION_RUN_UNTIL_END_OF_HOURS or MJH_ACTION_RUN_UNTIL_STOPPED; or
  // MJH_ACTION_TOGGLE when none.
  mjh_user_action session;
  int64_t session_seconds;
  bool until_end_of_hours_possible;  // working hours are set
  // The interval cannot keep ahead of the screen lock: the Interval item's
  // label says so and the submenu offers the longest safe interval.
  int max_interval_s;  // a policy's limit, 0 when none: longer choices are greyed
  bool interval_unsafe;
  int safe_interval_s;
  char interval_label[96];       // "&Interval" or "&Interval (too long for the 5 min screen saver)"
  char safe_interval_label[96];  // "2 min 25 s - the longest that keeps ahead of the screen saver"
  // The conditions.
  bool while_programs;  // a list of programs is set
  bool ac_only;
  int battery_floor;
  bool notifications;
};

// A change of the working hours from the dialog: only what the user changed
// in it, applied to the hours as they are when it closes.
struct mjh_hours_edit {
  bool clear;       // "No working hours" was checked
  bool set_days;    // days changed
  unsigned days;    //
  bool set_spans;   // the spans changed
  mjh_hours spans;  // spans and span_count
};

// The dialog's fields when it opened and when it closed; the edit is what
// differs. A change of "No working hours" to unchecked takes every field.
struct mjh_hours_fields {
  bool none;
  unsigned days;
  char spans[MJH_HOURS_TEXT_MAX * 2];
};
bool mjh_hours_edit_between(const mjh_hours_fields &shown, const mjh_hours_fields &closed, mjh_hours_edit *edit,
                            mjh_text *err);
// The fields the dialog shows for h: without working hours, Monday to
// Friday and a typical day.
void mjh_hours_fields_of(const mjh_hours &h, mjh_hours_fields *fields);

// A change of the program condition from its dialog: only what the user
// changed in it.
struct mjh_programs_edit {
  bool set_programs;
  mjh_programs programs;
  bool set_foreground;
  bool foreground;
};
// The edit between the list and checkbox the dialog showed and those it
// closed with (names: the list's names joined by commas, empty for none).
// False, with why in err, when the names do not read.
bool mjh_programs_edit_between(const mjh_programs &shown, bool shown_foreground, std::string_view names,
                               bool foreground, mjh_programs_edit *edit, mjh_text *err);

// What the agent was started with.
struct mjh_agent_start {
  mjh_settings settings;
  mjh_hours hours;          // damaged when the stored ones do not read: the run waits
  mjh_programs programs;    // the program condition, as stored
  bool programs_damaged;    // the stored list does not read: the run waits
  bool first_launch;        // nothing was stored: the defaults are saved at once, and the agent says where it is
  mjh_policy policy;        // the organization's policies
  mjh_power_reading power;  // the power source and battery now
  bool elevated;            // the agent runs as administrator
  // The agent's integrity level, and the desktop as it is now.
  int level = MJH_LEVEL_UNKNOWN;
  mjh_desktop desktop = mjh_desktop_here;
};

class mjh_agent {
 public:
  mjh_agent(mjh_agent_effects &effects, const char *version, uint32_t pid);
  mjh_agent(const mjh_agent &) = delete;
  mjh_agent &operator=(const mjh_agent &) = delete;

  // ---- Events ----
  void launch(const mjh_agent_start &start);
  // A parsed pipe request; the reply line (with its '\n') is appended to reply.
  // A change that took effect but could not be saved is answered with an
  // error that says so.
  void request(const mjh_request &request, mjh_text &reply);
  void action(mjh_user_action action, int64_t value = 0);
  // The working hours dialog was closed with OK. Returns false, with the
  // reason, when the edit cannot be applied (the dialog stays open).
  bool edit_hours(const mjh_hours_edit &edit, mjh_text *err);
  // The programs dialog was closed with OK, likewise.
  bool edit_programs(const mjh_programs_edit &edit, mjh_text *err);
  void timer();
  void clock_changed();     // the clock was set, or the zone or daylight saving changed
  void settings_changed();  // the screen saver or power settings may have changed
  void policy_changed(const mjh_policy &policy);
  void power_changed(const mjh_power_reading &power);
  void programs_changed(const mjh_program_state &state);
  void resumed();          // the computer woke from sleep or hibernation
  void pointer_on_icon();  // the tooltip is about to show: its countdown is made fresh
  // The desktop was locked or unlocked, switched away or back, connected or
  // disconnected (MJH_DESKTOP_*; other values change nothing). Never told
  // to the user: each is a normal thing to happen.
  void desktop_changed(long change);
  // The session ends, the agent is closed or told to exit: the run stops and
  // keep-awake is let go, the user's choice is kept. Idempotent; may come in
  // the middle of another event. Afterwards every event does nothing and
  // every request is refused.
  void shut_down();

  // ---- What the shell shows ----
  void menu(mjh_menu_model *m) const;
  const mjh_hours &hours() const { return hours_; }  // the user's own, as the dialog edits them
  const mjh_programs &programs() const { return programs_; }
  bool foreground() const { return settings_.foreground != 0; }
  bool exiting() const { return exiting_; }
  mjh_run_state state() const { return state_; }

 private:
  struct session_state {
    mjh_session session;
    bool to_end_of_hours;  // asked for as "until the end of today's working hours"
  };

  void decide();
  bool run_start();
  void run_stop();
  void read_status();
  void explain_failure();
  void keep_awake_as_needed(bool desktop_holds);
  void read_lock_setting();
  bool save();
  void answer(const mjh_request &request, mjh_text &reply);
  void drop_ended_session(int64_t now);
  void forget_session();
  void show();
  void arm_timer();
  void user_start();
  void user_stop();
  void choose_session(mjh_user_action action, int64_t value);
  void options_changed();
  void conditions_changed();
  void apply_policy_to_settings();
  void say_where_it_is();
  void note(const char *title, const char *text);  // a notification the user may turn off
  void apply_start(const mjh_request &request, mjh_text &reply);
  void write_status(mjh_text &reply);
  bool options_text(const mjh_options &o, mjh_text &out) const;
  mjh_options options_in_force() const;
  mjh_hours hours_in_force() const;
  bool policy_refuses(mjh_text *err) const;

  mjh_agent_effects &fx_;
  const char *version_;
  uint32_t pid_;

  mjh_settings settings_;
  mjh_hours hours_;  // the user's working hours
  session_state session_;
  mjh_decision decision_;
  mjh_policy policy_;
  bool elevated_ = false;
  int level_ = MJH_LEVEL_UNKNOWN;
  mjh_desktop desktop_ = mjh_desktop_here;

  // The conditions and what the world says of them.
  mjh_programs programs_;
  bool programs_damaged_ = false;
  mjh_program_state program_state_ = {0, -1};
  mjh_power_reading power_ = {MJH_AC_UNKNOWN, -1, false};
  mjh_battery_gate gate_;
  unsigned hold_ = 0;  // MJH_HOLD_* now

  // What the run does, and why.
  mjh_run_state state_ = MJH_RUN_STOPPED;
  char reason_[256] = "";
  char stopped_because_[160] = "";  // why the run stopped by itself, kept until the user acts
  bool slept_ = false;              // the next decision follows a resume

  bool running_ = false;
  bool have_status_ = false;
  mjh_status status_;
  bool failing_ = false;
  char blocked_[160] = "";      // why the failing nudges cannot work, "" when that is not known
  bool front_missing_ = false;  // they failed with no window in front: the desktop is going away
  bool failure_told_ = false;   // the failures without a cause were told
  mjh_awake awake_ = MJH_AWAKE_NONE;
  int64_t notified_session_end_ = MJH_NO_TIME;  // the session whose end was told

  mjh_lock_setting lock_;
  char warning_[256] = "";
  char warning_short_[128] = "";

  // The clock at the last decision, for the size of a jump of the clock.
  int64_t clock_utc_ = 0;
  int64_t clock_tick_ = 0;

  // What the icon shows, as last given to the shell.
  bool shown_ = false;
  mjh_icon_state shown_icon_ = MJH_ICON_STOPPED;
  char shown_tooltip_[MJH_TOOLTIP_MAX] = "";

  bool launched_ = false;
  bool exiting_ = false;

  // The last save failed (why): the tooltip says so until one works, and
  // each failure is told, in the reply of the request that made it or as
  // a notification.
  char unsaved_because_[160] = "";
  int save_failures_ = 0;
  bool answering_ = false;
};

#endif
