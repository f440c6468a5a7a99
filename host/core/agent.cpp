#include "agent.h"

#include <string.h>

#include "setting_table.h"

const int64_t mjh_run_for_choices[4] = {30 * 60, 60 * 60, 2 * 60 * 60, 4 * 60 * 60};
const int mjh_interval_choices[5] = {30, 60, 120, 300, 600};
const int mjh_battery_floor_choices[5] = {0, 10, 20, 30, 50};

namespace {

const char *const k_shutting_down = mjh_shutting_down;
const char k_turned_off[] = "turned off by your organization";

bool same_spans(const mjh_hours &a, const mjh_hours &b) {
  if (a.span_count != b.span_count) return false;
  for (int i = 0; i < a.span_count; i++)
    if (a.spans[i].start != b.spans[i].start || a.spans[i].end != b.spans[i].end) return false;
  return true;
}

bool same_programs(const mjh_programs &a, const mjh_programs &b) {
  if (a.count != b.count) return false;
  for (int i = 0; i < a.count; i++)
    if (strcmp(a.names[i], b.names[i]) != 0) return false;
  return true;
}

}  // namespace

// ---- The working hours dialog -------------------------------------------------

void mjh_hours_fields_of(const mjh_hours &h, mjh_hours_fields *fields) {
  fields->none = h.span_count == 0;
  fields->days = h.span_count ? h.days : 0x1fu;  // Monday to Friday
  mjh_text spans(fields->spans);
  if (h.span_count)
    mjh_hours_text(&h, spans);
  else
    spans.add("08:30-12:00,13:00-17:30");
}

bool mjh_hours_edit_between(const mjh_hours_fields &shown, const mjh_hours_fields &closed, mjh_hours_edit *edit,
                            mjh_text *err) {
  *edit = mjh_hours_edit{};
  if (closed.none) {
    edit->clear = !shown.none;
    return true;
  }
  mjh_hours_none(&edit->spans);
  if (!mjh_hours_parse(closed.spans, &edit->spans, err)) return false;
  if (edit->spans.span_count == 0 || closed.days == 0) {
    if (err) err->add("Choose at least one day and one span, or no working hours.");
    return false;
  }
  mjh_hours before;
  mjh_hours_none(&before);
  bool shown_read = mjh_hours_parse(shown.spans, &before, nullptr);
  // Unchecking "No working hours" takes every field as it stands.
  bool all = shown.none;
  edit->set_spans = all || !shown_read || !same_spans(before, edit->spans);
  edit->set_days = all || closed.days != shown.days;
  edit->days = closed.days;
  return true;
}

bool mjh_programs_edit_between(const mjh_programs &shown, bool shown_foreground, std::string_view names,
                               bool foreground, mjh_programs_edit *edit, mjh_text *err) {
  *edit = mjh_programs_edit{};
  if (!mjh_programs_parse(names.empty() ? std::string_view("any") : names, &edit->programs, err)) return false;
  mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> before, after;
  mjh_programs_text(shown, before);
  mjh_programs_text(edit->programs, after);
  edit->set_programs = before.view() != after.view();
  edit->foreground = foreground;
  edit->set_foreground = foreground != shown_foreground;
  return true;
}

// ---- The object ------------------------------------------------------------------

mjh_agent::mjh_agent(mjh_agent_effects &effects, const char *version, uint32_t pid)
    : fx_(effects), version_(version), pid_(pid) {
  mjh_settings_default(&settings_);
  mjh_hours_none(&hours_);
  mjh_programs_none(&programs_);
  mjh_policy_none(&policy_);
  mjh_battery_gate_reset(&gate_);
  forget_session();
  decision_ = mjh_decision{};
  status_ = mjh_status{};
  lock_ = mjh_lock_setting{0, MJH_LOCK_SCREEN_LOCK};
}

void mjh_agent::launch(const mjh_agent_start &start) {
  if (exiting_ || launched_) return;
  launched_ = true;
  settings_ = start.settings;
  hours_ = start.hours;
  programs_ = start.programs;
  programs_damaged_ = start.programs_damaged;
  policy_ = start.policy;
  power_ = start.power;
  elevated_ = start.elevated;
  level_ = start.level;
  desktop_ = start.desktop;
  forget_session();
  apply_policy_to_settings();
  read_lock_setting();
  if (start.first_launch) save();
  program_state_ = fx_.watch_programs(programs_, settings_.foreground != 0);
  decide();
  if (start.first_launch) say_where_it_is();
}

bool mjh_agent::save() {
  mjh_text_buffer<sizeof unsaved_because_> why;
  const bool was_unsaved = unsaved_because_[0] != '\0';
  const bool saved = fx_.save(settings_, hours_, programs_damaged_ ? nullptr : &programs_, why);
  mjh_text because(unsaved_because_);
  if (!saved) {
    because.add(why.size() ? why.view() : std::string_view("the store refused it"));
    save_failures_++;
    if (!answering_) {
      mjh_text_buffer<256> text;
      text.add(unsaved_because_, "; the change lasts until the agent ends");
      fx_.notify("Settings not saved", text.c_str());
    }
  }
  if (was_unsaved != !saved && shown_) show();
  return saved;
}

void mjh_agent::forget_session() {
  session_.session = mjh_session{};
  session_.session.kind = MJH_SESSION_NONE;
  session_.session.end = MJH_NO_TIME;
  session_.to_end_of_hours = false;
}

// A session that has ended is over: a new start goes by the working hours.
void mjh_agent::drop_ended_session(int64_t now) {
  if (session_.session.end != MJH_NO_TIME && session_.session.end <= now) forget_session();
}

mjh_options mjh_agent::options_in_force() const {
  mjh_options o = settings_.options;
  mjh_policy_apply(policy_, &o);
  return o;
}

void mjh_agent::read_lock_setting() {
  lock_ = fx_.lock_setting();
  const mjh_options o = options_in_force();
  mjh_text warning(warning_), warning_short(warning_short_);
  mjh_interval_warning_of(o.interval_s, o.only_when_idle, lock_.seconds, lock_.kind, warning);
  mjh_interval_warning_short_of(o.interval_s, o.only_when_idle, lock_.seconds, lock_.kind, warning_short);
}

// Start with Windows as a policy decides it, where one does.
void mjh_agent::apply_policy_to_settings() {
  if (policy_.start_with_windows < 0) return;
  const bool want = policy_.start_with_windows == 1;
  if (fx_.autostart() != want) fx_.set_autostart(want);
}

bool mjh_agent::options_text(const mjh_options &o, mjh_text &out) const {
  mjh_options_dll_text(&o, out);
  return out.ok();
}

void mjh_agent::note(const char *title, const char *text) {
  if (settings_.notifications) fx_.notify(title, text);
}

void mjh_agent::say_where_it_is() {
  fx_.notify("Veltrano Mouse Jiggler is running",
             "It is the mouse in the notification area; right-click it for its menu.");
}

void mjh_agent::read_status() {
  mjh_status now;
  if (!mjh_status_read(fx_.run_status(), &now)) return;
  const bool nudged = have_status_ && (now.nudges != status_.nudges || now.failed != status_.failed);
  failing_ = have_status_ ? mjh_failing_update(&status_, &now, failing_) : false;
  status_ = now;
  have_status_ = true;
  if (!failing_) {
    blocked_[0] = '\0';
    front_missing_ = false;
  } else if (nudged) {
    explain_failure();  // at every nudge: the window in front may have changed
  }
  // Told once, when nudges begin to fail without a known cause; again only
  // after they worked or had one. Never over a desktop going away: Windows
  // tells of a lock a moment after the lock screen took the input, and a
  // nudge may fail at it meanwhile.
  const bool unexplained = failing_ && !blocked_[0] && !front_missing_;
  if (!unexplained) failure_told_ = false;
  if (unexplained && !failure_told_) {
    failure_told_ = true;
    mjh_text_buffer<256> why;
    const char *error = fx_.last_error();
    why.add(error && error[0] ? error : "the nudges do not reset the idle time");
    if (desktop_.remote) why.add(". This is a remote session: whether nudges reach it depends on its client.");
    note("Nudges are failing", why.c_str());
  }
}

// Why the nudges fail, where it is known: Windows gives no injected input to
// a window above the agent's integrity level.
void mjh_agent::explain_failure() {
  const mjh_front_window front = fx_.front_window();
  front_missing_ = !front.exists;
  mjh_text blocked(blocked_);
  if (front.exists && mjh_front_blocks(front, level_)) mjh_blocked_text(front, blocked);
}

// Keep-awake as asked: with an active run, the system and the display; while
// the desktop alone holds the run back, the system only, so that work goes
// on while the display behind the lock may turn off.
void mjh_agent::keep_awake_as_needed(bool desktop_holds) {
  const bool asked = options_in_force().keep_awake != 0;
  const mjh_awake want = !asked          ? MJH_AWAKE_NONE
                         : running_      ? MJH_AWAKE_DISPLAY
                         : desktop_holds ? MJH_AWAKE_SYSTEM
                                         : MJH_AWAKE_NONE;
  if (want != awake_) awake_ = fx_.keep_awake(want);
}

// Starts (or restarts) the run with the settings in force. Returns false
// with the DLL's reason in last_error.
bool mjh_agent::run_start() {
  mjh_text_buffer<256> text;
  const mjh_options o = options_in_force();
  if (exiting_ || !options_text(o, text) || !fx_.run_start(text.c_str())) return false;
  running_ = true;
  failing_ = false;
  have_status_ = false;
  read_status();
  return true;
}

void mjh_agent::run_stop() {
  fx_.run_stop();
  if (running_) read_status();
  running_ = false;
  failing_ = false;
  blocked_[0] = '\0';
}

mjh_hours mjh_agent::hours_in_force() const {
  mjh_hours h = hours_;
  mjh_policy_apply_hours(policy_, &h);
  return h;
}

// After every change: what the run does now (active, waiting or stopped,
// and why), the run started or stopped to match, the icon, and the one timer
// to the next instant the answer may change. The user's run_on is left
// alone, but for a session that ended with nothing to start the run again:
// that stop is the one the user asked for.
void mjh_agent::decide() {
  if (exiting_) return;
  const int64_t now = fx_.now_utc();
  const int64_t before = clock_utc_;
  clock_utc_ = now;
  clock_tick_ = fx_.tick_ms();
  const mjh_hours hours = hours_in_force();
  mjh_decide(&hours, &session_.session, fx_.zone(), now, &decision_);
  mjh_conditions conditions;
  conditions.programs = programs_;
  conditions.foreground = settings_.foreground != 0;
  conditions.battery = mjh_battery_rule{settings_.ac_only != 0, settings_.battery_floor};
  const mjh_power_hold power = mjh_battery_gate_feed(&gate_, conditions.battery, power_);
  hold_ = mjh_conditions_hold(conditions, program_state_, power);

  const mjh_session &s = session_.session;
  const bool ended = decision_.reason == MJH_REASON_SESSION_ENDED;
  mjh_text reason(reason_);
  bool want_run = false;
  bool desktop_waits = false;  // the desktop alone holds the run back
  if (!ended) {
    stopped_because_[0] = '\0';
  } else if (settings_.run_on && !stopped_because_[0]) {
    // Why the run stopped by itself, kept until the user acts.
    mjh_text because(stopped_because_);
    if (slept_ && s.end > before)
      because.add("session ended while the computer slept");
    else
      mjh_reason_text(&decision_, &s, fx_.zone(), now, because);
    if (s.end != notified_session_end_) {
      notified_session_end_ = s.end;
      note("Session ended", stopped_because_);
    }
  }
  if (!policy_.allowed) {
    state_ = MJH_RUN_STOPPED;
    reason.add(k_turned_off);
  } else if (!settings_.run_on) {
    state_ = MJH_RUN_STOPPED;
    reason.add(stopped_because_);
  } else if (decision_.action == MJH_SCHED_STOP) {
    state_ = MJH_RUN_STOPPED;
    reason.add(stopped_because_);
    settings_.run_on = 0;
    save();
  } else if (decision_.action == MJH_SCHED_WAIT) {
    state_ = MJH_RUN_WAITING;
    if (ended) {
      reason.add(stopped_because_, ", next start ");
      if (decision_.next_start == MJH_NO_TIME)
        reason.add("none");
      else
        mjh_when_text(fx_.zone(), now, decision_.next_start, reason);
    } else {
      mjh_waiting_text(&decision_, &s, fx_.zone(), now, reason);
    }
  } else if (programs_damaged_) {
    state_ = MJH_RUN_WAITING;
    reason.add("saved program list damaged: set it again");
  } else if (hold_ != 0) {
    state_ = MJH_RUN_WAITING;
    // The one thing that holds it back: power before programs.
    mjh_hold_text(conditions, program_state_, hold_ & (0u - hold_), reason);
  } else if (mjh_desktop_holds(desktop_)) {
    state_ = MJH_RUN_WAITING;
    desktop_waits = true;
    mjh_desktop_text(desktop_, reason);
  } else {
    want_run = true;
    state_ = MJH_RUN_ACTIVE;
    if (s.kind == MJH_SESSION_UNTIL_STOPPED) {
      reason.add("until stopped");
    } else if (s.end != MJH_NO_TIME && s.end > now) {
      reason.add("until ");
      mjh_when_text(fx_.zone(), now, s.end, reason);
      if (!decision_.inside) reason.add(", overriding working hours");
    }
  }
  slept_ = false;

  if (want_run && !running_ && !run_start()) {
    state_ = MJH_RUN_STOPPED;
    reason.clear();
    reason.add("the run did not start: ", fx_.last_error());
  } else if (!want_run && running_) {
    run_stop();
  }
  keep_awake_as_needed(desktop_waits);
  show();
  arm_timer();
}

void mjh_agent::arm_timer() {
  if (exiting_) return;
  int64_t ms = settings_.run_on && policy_.allowed && decision_.recheck_s > 0 ? decision_.recheck_s * 1000 : -1;
  if (running_) {
    // The run is looked at again just after its next nudge is due: whether
    // it worked, for the icon. Never faster than once a second.
    read_status();
    int64_t next = have_status_ && status_.next_nudge_in_s >= 0 ? status_.next_nudge_in_s : 0;
    int64_t poll = (next + 1) * 1000;
    if (ms < 0 || poll < ms) ms = poll;
  }
  fx_.set_timer(ms);
}

// ---- What the icon shows ----------------------------------------------------------

void mjh_agent::show() {
  if (exiting_) return;
  mjh_status none = mjh_status{};
  mjh_tooltip_facts facts = {};
  facts.state = state_;
  facts.reason = reason_;
  facts.run = running_ && have_status_ ? &status_ : &none;
  facts.failing = failing_;
  facts.last_error = fx_.last_error();
  facts.keep_awake_held = awake_ != MJH_AWAKE_NONE;
  facts.blocked = blocked_;
  facts.remote = desktop_.remote;
  facts.warning = warning_short_;
  facts.elevated = elevated_;
  facts.policy_off = !policy_.allowed;
  facts.unsaved = unsaved_because_[0] != '\0';
  mjh_icon_state icon = mjh_icon_for(state_, failing_);
  char tip[MJH_TOOLTIP_MAX];
  mjh_text text(tip);
  mjh_agent_tooltip(facts, text);
  if (shown_ && icon == shown_icon_ && strcmp(tip, shown_tooltip_) == 0) return;
  shown_ = true;
  shown_icon_ = icon;
  memcpy(shown_tooltip_, tip, sizeof tip);
  fx_.show(icon, tip);
}

void mjh_agent::menu(mjh_menu_model *m) const {
  const mjh_options o = options_in_force();
  *m = mjh_menu_model{};
  m->run_on = settings_.run_on != 0;
  m->start_allowed = policy_.allowed;
  m->mode = o.mode;
  m->interval_s = o.interval_s;
  m->only_when_idle = o.only_when_idle != 0;
  m->keep_awake = o.keep_awake != 0;
  m->keep_awake_fixed = policy_.keep_awake >= 0;
  mjh_text keep_awake(m->keep_awake_label);
  mjh_policy_menu_label(policy_, MJH_POLICY_KEEP_AWAKE, "&Keep the computer awake", keep_awake);
  m->autostart = mjh_policy_start_with_windows(policy_, fx_.autostart());
  m->autostart_fixed = policy_.start_with_windows >= 0;
  mjh_text autostart(m->autostart_label);
  mjh_policy_menu_label(policy_, MJH_POLICY_START_WITH_WINDOWS, "Start with &Windows", autostart);
  m->hours_fixed = policy_.from[MJH_POLICY_WORKING_HOURS] != MJH_SCOPE_NONE;
  mjh_text hours(m->hours_label);
  mjh_policy_menu_label(policy_, MJH_POLICY_WORKING_HOURS, "&Working hours...", hours);
  m->until_end_of_hours_possible = hours_in_force().span_count > 0;
  m->max_interval_s = policy_.max_interval_s;
  m->while_programs = programs_.count > 0;
  m->ac_only = settings_.ac_only != 0;
  m->battery_floor = settings_.battery_floor;
  m->notifications = settings_.notifications != 0;

  m->session = MJH_ACTION_TOGGLE;
  const mjh_session &s = session_.session;
  int64_t now = fx_.now_utc();
  if (!settings_.run_on) {
  } else if (s.kind == MJH_SESSION_UNTIL_STOPPED) {
    m->session = MJH_ACTION_RUN_UNTIL_STOPPED;
  } else if (s.end != MJH_NO_TIME && s.end > now) {
    if (session_.to_end_of_hours) {
      m->session = MJH_ACTION_RUN_UNTIL_END_OF_HOURS;
    } else if (s.kind == MJH_SESSION_FOR) {
      m->session = MJH_ACTION_RUN_FOR;
      m->session_seconds = s.end - s.start;
    }
  }

  // One name for what takes over after the inactivity, in both items.
  static const char *const what[] = {"screen lock", "screen saver", "display-off timeout"};
  const char *takes_over = what[lock_.kind <= MJH_LOCK_DISPLAY_OFF ? lock_.kind : 0];
  mjh_text interval(m->interval_label);
  interval.add("&Interval");
  m->interval_unsafe = warning_[0] != '\0';
  if (m->interval_unsafe) {
    interval.add(" (too long for the ");
    mjh_duration_text(lock_.seconds, interval);
    interval.add(' ', takes_over, ')');
    m->safe_interval_s = mjh_largest_safe_interval(o.only_when_idle, lock_.seconds);
    mjh_text safe(m->safe_interval_label);
    mjh_duration_text(m->safe_interval_s, safe);
    safe.add(" \xe2\x80\x94 the longest that keeps ahead of the ", takes_over);
  }
}

// ---- Events -------------------------------------------------------------------------

bool mjh_agent::policy_refuses(mjh_text *err) const { return !mjh_policy_check_allowed(policy_, err); }

void mjh_agent::user_stop() {
  settings_.run_on = 0;
  forget_session();
  stopped_because_[0] = '\0';
  save();
  decide();
}

void mjh_agent::user_start() {
  mjh_text_buffer<256> why;
  if (policy_refuses(&why)) {
    fx_.notify("Veltrano Mouse Jiggler", why.c_str());
    return;
  }
  drop_ended_session(fx_.now_utc());
  settings_.run_on = 1;
  stopped_because_[0] = '\0';
  decide();
  if (settings_.run_on && state_ == MJH_RUN_STOPPED) {
    settings_.run_on = 0;
    mjh_text_buffer<512> text;
    text.add(fx_.last_error());
    fx_.notify("The run did not start", text.c_str());
    decide();
  }
  save();
}

// A setting changed from the menu: saved, and the run (if on) restarted with
// it.
void mjh_agent::options_changed() {
  save();
  read_lock_setting();
  if (running_ && !run_start()) {
    mjh_text_buffer<512> text;
    text.add(fx_.last_error());
    read_status();
    running_ = have_status_ && status_.active;
    fx_.notify("The run did not restart", text.c_str());
  }
  decide();
}

// The program condition changed: the shell watches the new list.
void mjh_agent::conditions_changed() {
  save();
  program_state_ = fx_.watch_programs(programs_, settings_.foreground != 0);
  decide();
}

void mjh_agent::choose_session(mjh_user_action action, int64_t value) {
  mjh_text_buffer<256> err;
  if (policy_refuses(&err)) {
    fx_.notify("Veltrano Mouse Jiggler", err.c_str());
    return;
  }
  int64_t now = fx_.now_utc();
  session_state chosen;
  chosen.to_end_of_hours = false;
  if (action == MJH_ACTION_RUN_UNTIL_STOPPED) {
    chosen.session = mjh_session{};
    chosen.session.kind = MJH_SESSION_UNTIL_STOPPED;
    chosen.session.start = now;
    chosen.session.end = MJH_NO_TIME;
  } else if (action == MJH_ACTION_RUN_UNTIL_END_OF_HOURS) {
    const mjh_hours hours = hours_in_force();
    if (!mjh_session_until_end_of_hours(&chosen.session, &hours, fx_.zone(), now, &err)) {
      fx_.notify("Run until the end of today's working hours", err.c_str());
      return;
    }
    chosen.to_end_of_hours = true;
  } else {
    if (value < 1 || value > MJH_DURATION_MAX_S) return;
    mjh_session_for(&chosen.session, now, value);
  }
  session_ = chosen;
  settings_.run_on = 1;
  stopped_because_[0] = '\0';
  save();
  decide();
}

void mjh_agent::action(mjh_user_action action, int64_t value) {
  if (exiting_ || !launched_) return;
  mjh_options &o = settings_.options;
  mjh_text_buffer<256> err;
  switch (action) {
    case MJH_ACTION_TOGGLE:
      if (policy_refuses(&err)) {  // a click changes nothing the organization decided
        fx_.notify("Veltrano Mouse Jiggler", err.c_str());
        return;
      }
      if (settings_.run_on)
        user_stop();
      else
        user_start();
      return;
    case MJH_ACTION_START:
      if (!settings_.run_on) user_start();
      return;
    case MJH_ACTION_STOP:
      if (settings_.run_on) user_stop();
      return;
    case MJH_ACTION_NUDGE: {
      mjh_text_buffer<256> text;
      if (policy_refuses(&err)) {
        fx_.notify("Veltrano Mouse Jiggler", err.c_str());
        return;
      }
      if (!options_text(options_in_force(), text) || !fx_.nudge(text.c_str())) {
        mjh_text_buffer<512> why;
        why.add(fx_.last_error());
        fx_.notify("The nudge failed", why.c_str());
      } else {
        // A sign that it nudged, and how it went.
        mjh_status after;
        mjh_text_buffer<128> how;
        if (mjh_status_read(fx_.run_status(), &after)) mjh_describe_nudge(&after, how);
        fx_.notify("Nudged", how.c_str());
      }
      if (running_) read_status();
      show();
      return;
    }
    case MJH_ACTION_MODE_ZEN:
    case MJH_ACTION_MODE_MOVE:
      o.mode = action == MJH_ACTION_MODE_MOVE ? MJ_MODE_MOVE : MJ_MODE_ZEN;
      options_changed();
      return;
    case MJH_ACTION_INTERVAL:
      if (!mjh_setting_in_range(mjh_option_row(MJH_KEY_INTERVAL_S), value)) return;
      if (!mjh_policy_check_interval(policy_, static_cast<int>(value), &err)) {
        fx_.notify("Interval", err.c_str());
        return;
      }
      o.interval_s = static_cast<int>(value);
      options_changed();
      return;
    case MJH_ACTION_INTERVAL_SAFE:
      o.interval_s = mjh_largest_safe_interval(o.only_when_idle, lock_.seconds);
      if (policy_.max_interval_s > 0 && o.interval_s > policy_.max_interval_s) o.interval_s = policy_.max_interval_s;
      options_changed();
      return;
    case MJH_ACTION_ONLY_WHEN_IDLE:
      o.only_when_idle = !o.only_when_idle;
      options_changed();
      return;
    case MJH_ACTION_KEEP_AWAKE:
      if (policy_.keep_awake >= 0) return;  // the menu item is greyed
      o.keep_awake = !o.keep_awake;
      options_changed();
      return;
    case MJH_ACTION_RUN_FOR:
    case MJH_ACTION_RUN_UNTIL_END_OF_HOURS:
    case MJH_ACTION_RUN_UNTIL_STOPPED:
      choose_session(action, value);
      return;
    case MJH_ACTION_AC_ONLY:
      settings_.ac_only = !settings_.ac_only;
      save();
      decide();
      return;
    case MJH_ACTION_BATTERY_FLOOR:
      if (!mjh_battery_stop_valid(static_cast<int>(value), nullptr)) return;
      settings_.battery_floor = static_cast<int>(value);
      save();
      decide();
      return;
    case MJH_ACTION_NOTIFICATIONS:
      settings_.notifications = !settings_.notifications;
      save();
      return;
    case MJH_ACTION_AUTOSTART:
      if (!mjh_policy_check_start_with_windows(policy_, nullptr)) return;  // the menu item is greyed
      if (!fx_.set_autostart(!fx_.autostart())) fx_.notify("Start with Windows", "the registry refused the change");
      return;
    case MJH_ACTION_EXIT:
      shut_down();
      fx_.quit();
      return;
  }
}

bool mjh_agent::edit_hours(const mjh_hours_edit &edit, mjh_text *err) {
  if (exiting_ || !launched_) {
    if (err) err->add(k_shutting_down);
    return false;
  }
  if (!mjh_policy_check_hours(policy_, err)) return false;
  mjh_hours h = hours_;
  if (edit.clear) {
    mjh_hours_none(&h);
  } else {
    if (edit.set_spans) {
      h.span_count = edit.spans.span_count;
      memcpy(h.spans, edit.spans.spans, sizeof h.spans);
    }
    if (edit.set_days) h.days = edit.days;
    if (!edit.set_spans && !edit.set_days) return true;  // nothing changed
    if (h.span_count == 0) h.days = MJH_DAYS_ALL;        // days without spans mean nothing
  }
  h.damaged = false;
  hours_ = h;
  save();
  decide();
  return true;
}

bool mjh_agent::edit_programs(const mjh_programs_edit &edit, mjh_text *err) {
  if (exiting_ || !launched_) {
    if (err) err->add(k_shutting_down);
    return false;
  }
  if (edit.set_programs) {
    programs_ = edit.programs;
    programs_damaged_ = false;
  }
  if (edit.set_foreground) settings_.foreground = edit.foreground;
  conditions_changed();
  return true;
}

void mjh_agent::timer() {
  if (exiting_ || !launched_) return;
  if (running_) read_status();
  decide();
}

// The clock was set, or the zone or daylight saving changed: a "for"
// session keeps its length, then everything is decided from the new time.
void mjh_agent::clock_changed() {
  if (exiting_ || !launched_) return;
  int64_t expected = clock_utc_ + (fx_.tick_ms() - clock_tick_) / 1000;
  int64_t jump = fx_.now_utc() - expected;
  if (jump > 2 || jump < -2) mjh_session_clock_changed(&session_.session, jump);  // not a second's rounding
  decide();
}

void mjh_agent::settings_changed() {
  if (exiting_ || !launched_) return;
  read_lock_setting();
  decide();
}

void mjh_agent::policy_changed(const mjh_policy &policy) {
  if (exiting_ || !launched_) return;
  const mjh_options before = options_in_force();
  policy_ = policy;
  apply_policy_to_settings();
  read_lock_setting();
  const mjh_options after = options_in_force();
  if (running_ && memcmp(&before, &after, sizeof before) != 0 && !run_start()) {
    read_status();
    running_ = have_status_ && status_.active;
  }
  decide();
}

void mjh_agent::power_changed(const mjh_power_reading &power) {
  if (exiting_ || !launched_) return;
  power_ = power;
  read_lock_setting();  // the display-off timeout differs on battery
  decide();
}

void mjh_agent::programs_changed(const mjh_program_state &state) {
  if (exiting_ || !launched_) return;
  program_state_ = state;
  decide();
}

// After a sleep everything is decided again at once: a session that ended
// meanwhile has ended, and keep-awake is asserted again.
void mjh_agent::resumed() {
  if (exiting_ || !launched_) return;
  read_lock_setting();
  if (running_) read_status();
  if (awake_ != MJH_AWAKE_NONE) {
    const mjh_awake level = awake_;
    fx_.keep_awake(MJH_AWAKE_NONE);
    awake_ = fx_.keep_awake(level);
  }
  slept_ = true;
  decide();
}

void mjh_agent::desktop_changed(long change) {
  if (exiting_ || !launched_) return;
  if (mjh_desktop_apply(&desktop_, change)) decide();
}

void mjh_agent::pointer_on_icon() {
  if (exiting_ || !launched_) return;
  if (running_) read_status();
  show();
}

void mjh_agent::shut_down() {
  if (exiting_) return;
  exiting_ = true;
  fx_.set_timer(-1);
  fx_.run_stop();
  awake_ = fx_.keep_awake(MJH_AWAKE_NONE);
  running_ = false;
  mjh_programs none;
  mjh_programs_none(&none);
  fx_.watch_programs(none, false);
}

// ---- Requests -----------------------------------------------------------------------

void mjh_agent::write_status(mjh_text &reply) {
  int64_t now = fx_.now_utc();
  mjh_agent_state agent = mjh_agent_state{};
  agent.settings = settings_.options;
  agent.run_on = settings_.run_on;
  agent.keep_awake_held = awake_ != MJH_AWAKE_NONE;
  agent.keep_display_held = awake_ == MJH_AWAKE_DISPLAY;
  agent.failing = failing_;
  agent.last_error = fx_.last_error();
  agent.pid = pid_;
  agent.version = version_;
  const mjh_hours hours = hours_in_force();
  mjh_decision shown;
  mjh_decide(&hours, &session_.session, fx_.zone(), now, &shown);
  if (!settings_.run_on) shown.next_start = MJH_NO_TIME;  // nothing starts a run the user stopped
  mjh_text_buffer<1024> schedule;
  mjh_schedule_json(&hours, &session_.session, &shown, warning_, schedule);
  agent.schedule_json = schedule.ok() ? schedule.c_str() : nullptr;
  agent.stopped_because = state_ == MJH_RUN_ACTIVE ? "" : reason_;
  agent.state = mjh_run_state_name(state_);
  mjh_text_buffer<sizeof reason_> reason;
  if (state_ == MJH_RUN_ACTIVE && failing_ && blocked_[0])
    reason.add("blocked: ", blocked_);
  else
    reason.add(reason_);
  agent.reason = reason.c_str();
  agent.elevated = elevated_;
  mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 128> conditions;
  conditions.add("{\"while_running\":");
  if (programs_.count) {
    mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> list;
    mjh_programs_text(programs_, list);
    conditions.add(mjh_json_quoted{list.view()});
  } else {
    conditions.add("null");
  }
  conditions.add(",\"foreground\":", settings_.foreground != 0, ",\"ac_only\":", settings_.ac_only != 0,
                 ",\"battery_floor\":", settings_.battery_floor, '}');
  agent.conditions_json = conditions.ok() ? conditions.c_str() : nullptr;
  mjh_text_buffer<2048> policy;
  mjh_policy_json(policy_, policy);
  agent.policy_json = policy.ok() ? policy.c_str() : nullptr;
  mjh_reply_status(&agent, fx_.run_status(), reply);
}

// A start: its options, schedule and conditions take effect together, or not
// at all (an error reply). It changes only the keys it names, on the
// settings as they are now.
void mjh_agent::apply_start(const mjh_request &request, mjh_text &reply) {
  mjh_text_buffer<256> err;
  if (!mjh_policy_check_request(policy_, request.options, request.given, request.schedule.given, &err)) {
    mjh_reply_error(err.c_str(), reply);
    return;
  }
  int64_t now = fx_.now_utc();
  drop_ended_session(now);
  mjh_hours hours = hours_;
  session_state session = session_;
  if (!mjh_schedule_request_apply(&request.schedule, &hours, &session.session, fx_.zone(), now, &err)) {
    mjh_reply_error(err.c_str(), reply);
    return;
  }
  const mjh_schedule_request &r = request.schedule;
  if (r.given & (MJH_SCHED_KEY_FOR | MJH_SCHED_KEY_UNTIL))
    session.to_end_of_hours = (r.given & MJH_SCHED_KEY_UNTIL) && r.until_minute == MJH_UNTIL_END_OF_HOURS;

  // What was, to go back to when the run does not start.
  const mjh_settings settings_before = settings_;
  const mjh_hours hours_before = hours_;
  const session_state session_before = session_;
  const mjh_programs programs_before = programs_;
  const bool programs_damaged_before = programs_damaged_;

  mjh_options_take(&settings_.options, request.options, request.given);
  mjh_schedule_request_keep(r, &settings_, nullptr, &programs_);
  if (r.given & MJH_SCHED_KEY_WHILE_RUNNING) programs_damaged_ = false;
  hours_ = hours;
  session_ = session;
  settings_.run_on = 1;
  stopped_because_[0] = '\0';
  const bool watch = !same_programs(programs_, programs_before) || settings_.foreground != settings_before.foreground;
  if (watch) program_state_ = fx_.watch_programs(programs_, settings_.foreground != 0);
  read_lock_setting();
  // A run that was on restarts with what the request named.
  if (running_) run_stop();
  decide();
  if (state_ == MJH_RUN_STOPPED) {
    mjh_text_buffer<512> why;
    why.add(fx_.last_error());
    mjh_reply_error(why.c_str(), reply);
    settings_ = settings_before;
    hours_ = hours_before;
    session_ = session_before;
    programs_ = programs_before;
    programs_damaged_ = programs_damaged_before;
    if (watch) program_state_ = fx_.watch_programs(programs_, settings_.foreground != 0);
    read_lock_setting();
    decide();
    return;
  }
  save();
  mjh_reply_ok(reply);
}

void mjh_agent::request(const mjh_request &request, mjh_text &reply) {
  const size_t start = reply.size();
  const int failures = save_failures_;
  answering_ = true;
  answer(request, reply);
  answering_ = false;
  if (save_failures_ == failures || mjh_slice(reply.view(), start) != "{\"ok\":true}\n") return;
  mjh_text_buffer<256> error;
  error.add("the change took effect but the settings could not be saved: ", unsaved_because_,
            "; it lasts until the agent ends");
  reply.rewind(start);
  mjh_reply_error(error.c_str(), reply);
}

void mjh_agent::answer(const mjh_request &request, mjh_text &reply) {
  if (exiting_ || !launched_) {
    mjh_reply_error(k_shutting_down, reply);
    return;
  }
  mjh_text_buffer<256> err;
  switch (request.cmd) {
    case MJH_CMD_STATUS:
      if (running_) read_status();  // the failing state as of now
      show();
      write_status(reply);
      return;
    case MJH_CMD_START:
      apply_start(request, reply);
      return;
    case MJH_CMD_STOP:
      user_stop();
      mjh_reply_ok(reply);
      return;
    case MJH_CMD_NUDGE: {
      if (policy_refuses(&err)) {
        mjh_reply_error(err.c_str(), reply);
        return;
      }
      mjh_text_buffer<256> text;
      if (options_text(options_in_force(), text) && fx_.nudge(text.c_str()))
        mjh_reply_ok(reply);
      else
        mjh_reply_error(fx_.last_error(), reply);
      if (running_) read_status();
      show();
      return;
    }
    case MJH_CMD_QUIT:
      mjh_reply_ok(reply);
      shut_down();
      fx_.quit();
      return;
    case MJH_CMD_SHOW:
      say_where_it_is();
      mjh_reply_ok(reply);
      return;
  }
  mjh_reply_error("unknown command", reply);
}
