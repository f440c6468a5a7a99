#include "agent.h"

#include <string.h>

const int64_t mjh_run_for_choices[4] = {30 * 60, 60 * 60, 2 * 60 * 60, 4 * 60 * 60};
const int mjh_interval_choices[5] = {30, 60, 120, 300, 600};

namespace {

const char k_shutting_down[] = "the agent is shutting down";

// The keys a request named, taken from `from` into `to`.
void take_keys(mjh_options *to, const mjh_options &from, unsigned keys) {
  if (keys & MJH_KEY_MODE) to->mode = from.mode;
  if (keys & MJH_KEY_INTERVAL_S) to->interval_s = from.interval_s;
  if (keys & MJH_KEY_DX) to->dx = from.dx;
  if (keys & MJH_KEY_DY) to->dy = from.dy;
  if (keys & MJH_KEY_ONLY_WHEN_IDLE) to->only_when_idle = from.only_when_idle;
  if (keys & MJH_KEY_DRY_RUN) to->dry_run = from.dry_run;
  if (keys & MJH_KEY_KEEP_AWAKE) to->keep_awake = from.keep_awake;
}

bool same_spans(const mjh_hours &a, const mjh_hours &b) {
  if (a.span_count != b.span_count) return false;
  for (int i = 0; i < a.span_count; i++)
    if (a.spans[i].start != b.spans[i].start || a.spans[i].end != b.spans[i].end) return false;
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

// ---- The object ------------------------------------------------------------------

mjh_agent::mjh_agent(mjh_agent_effects &effects, const char *version, uint32_t pid)
    : fx_(effects), version_(version), pid_(pid) {
  mjh_settings_default(&settings_);
  mjh_hours_none(&hours_);
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
  forget_session();
  read_lock_setting();
  if (start.first_launch) save();
  decide();
}

void mjh_agent::save() { fx_.save(settings_, hours_); }

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

void mjh_agent::read_lock_setting() {
  lock_ = fx_.lock_setting();
  const mjh_options &o = settings_.options;
  mjh_text warning(warning_), warning_short(warning_short_);
  mjh_interval_warning_of(o.interval_s, o.only_when_idle, lock_.seconds, lock_.kind, warning);
  mjh_interval_warning_short_of(o.interval_s, o.only_when_idle, lock_.seconds, lock_.kind, warning_short);
}

bool mjh_agent::options_text(const mjh_options &o, mjh_text &out) const {
  mjh_options_dll_text(&o, out);
  return out.ok();
}

void mjh_agent::read_status() {
  mjh_status now;
  if (!mjh_status_read(fx_.run_status(), &now)) return;
  failing_ = have_status_ ? mjh_failing_update(&status_, &now, failing_) : false;
  status_ = now;
  have_status_ = true;
}

// Starts (or restarts) the run with the settings. Returns false with the
// DLL's reason in last_error.
bool mjh_agent::run_start() {
  mjh_text_buffer<256> text;
  if (exiting_ || !options_text(settings_.options, text) || !fx_.run_start(text.c_str())) return false;
  running_ = true;
  failing_ = false;
  have_status_ = false;
  read_status();
  keep_awake_held_ = fx_.keep_awake(settings_.options.keep_awake);
  return true;
}

void mjh_agent::run_stop() {
  fx_.run_stop();
  keep_awake_held_ = fx_.keep_awake(false);
  if (running_) read_status();
  running_ = false;
  failing_ = false;
}

// After every change: whether the run goes on now, the run started or
// stopped to match, the icon, and the one timer to the next instant the
// answer may change. The user's run_on is left alone, but for a session that
// ended with nothing to start the run again: that stop is the one the user
// asked for.
void mjh_agent::decide() {
  if (exiting_) return;
  int64_t now = fx_.now_utc();
  clock_utc_ = now;
  clock_tick_ = fx_.tick_ms();
  mjh_decide(&hours_, &session_.session, fx_.zone(), now, &decision_);
  waiting_ = false;
  if (!settings_.run_on) {
    if (running_) run_stop();
  } else if (decision_.action == MJH_SCHED_RUN) {
    stopped_because_[0] = '\0';
    if (!running_ && !run_start()) {
      mjh_text because(stopped_because_);
      because.add("the run did not start: ", fx_.last_error());
    }
  } else {
    if (decision_.reason == MJH_REASON_SESSION_ENDED) {
      mjh_text because(stopped_because_);
      mjh_reason_text(&decision_, &session_.session, fx_.zone(), now, because);
    } else if (decision_.reason == MJH_REASON_HOURS_DAMAGED) {
      mjh_text because(stopped_because_);
      mjh_waiting_text(&decision_, &session_.session, fx_.zone(), now, because);
    }
    if (running_) run_stop();
    if (decision_.action == MJH_SCHED_WAIT) {
      waiting_ = true;
    } else {
      settings_.run_on = 0;
      save();
    }
  }
  show();
  arm_timer();
}

void mjh_agent::arm_timer() {
  if (exiting_) return;
  int64_t ms = settings_.run_on && decision_.recheck_s > 0 ? decision_.recheck_s * 1000 : -1;
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

void mjh_agent::tooltip(mjh_text &out) const {
  mjh_text_buffer<512> line;
  mjh_status none = mjh_status{};
  if (running_) {
    mjh_tooltip(have_status_ ? &status_ : &none, failing_, fx_.last_error(), keep_awake_held_, line);
  } else if (waiting_) {
    line.add("Waiting: ");
    mjh_waiting_text(&decision_, &session_.session, fx_.zone(), fx_.now_utc(), line);
  } else if (stopped_because_[0]) {
    line.add("Stopped: ", stopped_because_);
  } else {
    mjh_tooltip(&none, false, fx_.last_error(), keep_awake_held_, line);
  }
  if (warning_short_[0]) out.add("Warning: ", warning_short_, ". ");
  out.add(line.view());
}

void mjh_agent::show() {
  if (exiting_) return;
  mjh_icon_state icon;
  if (running_ && have_status_)
    icon = mjh_icon_for(&status_, failing_, false);
  else if (running_)
    icon = MJH_ICON_ACTIVE;
  else
    icon = waiting_ ? MJH_ICON_WAITING : MJH_ICON_STOPPED;
  char tip[MJH_TOOLTIP_MAX];
  mjh_text text(tip);
  tooltip(text);
  if (shown_ && icon == shown_icon_ && strcmp(tip, shown_tooltip_) == 0) return;
  shown_ = true;
  shown_icon_ = icon;
  memcpy(shown_tooltip_, tip, sizeof tip);
  fx_.show(icon, tip);
}

void mjh_agent::menu(mjh_menu_model *m) const {
  const mjh_options &o = settings_.options;
  *m = mjh_menu_model{};
  m->run_on = settings_.run_on != 0;
  m->mode = o.mode;
  m->interval_s = o.interval_s;
  m->only_when_idle = o.only_when_idle != 0;
  m->keep_awake = o.keep_awake != 0;
  m->autostart = fx_.autostart();
  m->until_end_of_hours_possible = hours_.span_count > 0;

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

  mjh_text interval(m->interval_label);
  interval.add("&Interval");
  m->interval_unsafe = warning_[0] != '\0';
  if (m->interval_unsafe) {
    static const char *const what[] = {"screen lock", "screen saver", "display-off"};
    interval.add(" (too long for the ");
    mjh_duration_text(lock_.seconds, interval);
    interval.add(' ', what[lock_.kind <= MJH_LOCK_DISPLAY_OFF ? lock_.kind : 0], ')');
    m->safe_interval_s = mjh_largest_safe_interval(o.only_when_idle, lock_.seconds);
    mjh_text safe(m->safe_interval_label);
    mjh_duration_text(m->safe_interval_s, safe);
    safe.add(" \xe2\x80\x94 the longest that beats the lock");
  }
}

// ---- Events -------------------------------------------------------------------------

void mjh_agent::user_stop() {
  settings_.run_on = 0;
  forget_session();
  stopped_because_[0] = '\0';
  save();
  decide();
}

void mjh_agent::user_start() {
  drop_ended_session(fx_.now_utc());
  settings_.run_on = 1;
  decide();
  if (settings_.run_on && !running_ && !waiting_) {
    settings_.run_on = 0;
    stopped_because_[0] = '\0';
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

void mjh_agent::choose_session(mjh_user_action action, int64_t value) {
  int64_t now = fx_.now_utc();
  session_state chosen;
  chosen.to_end_of_hours = false;
  if (action == MJH_ACTION_RUN_UNTIL_STOPPED) {
    chosen.session = mjh_session{};
    chosen.session.kind = MJH_SESSION_UNTIL_STOPPED;
    chosen.session.start = now;
    chosen.session.end = MJH_NO_TIME;
  } else if (action == MJH_ACTION_RUN_UNTIL_END_OF_HOURS) {
    mjh_text_buffer<256> err;
    if (!mjh_session_until_end_of_hours(&chosen.session, &hours_, fx_.zone(), now, &err)) {
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
  switch (action) {
    case MJH_ACTION_TOGGLE:
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
      if (!options_text(o, text) || !fx_.nudge(text.c_str())) {
        mjh_text_buffer<512> why;
        why.add(fx_.last_error());
        fx_.notify("The nudge failed", why.c_str());
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
      if (value < 1 || value > 3600) return;
      o.interval_s = static_cast<int>(value);
      options_changed();
      return;
    case MJH_ACTION_INTERVAL_SAFE:
      o.interval_s = mjh_largest_safe_interval(o.only_when_idle, lock_.seconds);
      options_changed();
      return;
    case MJH_ACTION_ONLY_WHEN_IDLE:
      o.only_when_idle = !o.only_when_idle;
      options_changed();
      return;
    case MJH_ACTION_KEEP_AWAKE:
      o.keep_awake = !o.keep_awake;
      options_changed();
      return;
    case MJH_ACTION_RUN_FOR:
    case MJH_ACTION_RUN_UNTIL_END_OF_HOURS:
    case MJH_ACTION_RUN_UNTIL_STOPPED:
      choose_session(action, value);
      return;
    case MJH_ACTION_AUTOSTART:
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

void mjh_agent::resumed() {
  if (exiting_ || !launched_) return;
  read_lock_setting();
  if (running_) read_status();
  decide();
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
  keep_awake_held_ = fx_.keep_awake(false);
  running_ = false;
}

// ---- Requests -----------------------------------------------------------------------

void mjh_agent::write_status(mjh_text &reply) {
  int64_t now = fx_.now_utc();
  mjh_agent_state agent = mjh_agent_state{};
  agent.settings = settings_.options;
  agent.run_on = settings_.run_on;
  agent.keep_awake_held = keep_awake_held_;
  agent.failing = failing_;
  agent.last_error = fx_.last_error();
  agent.pid = pid_;
  agent.version = version_;
  mjh_decision shown;
  mjh_decide(&hours_, &session_.session, fx_.zone(), now, &shown);
  if (!settings_.run_on) shown.next_start = MJH_NO_TIME;  // nothing starts a run the user stopped
  mjh_text_buffer<1024> schedule;
  mjh_schedule_json(&hours_, &session_.session, &shown, warning_, schedule);
  agent.schedule_json = schedule.ok() ? schedule.c_str() : nullptr;
  agent.stopped_because = stopped_because_;
  mjh_reply_status(&agent, fx_.run_status(), reply);
}

// A start: its options and schedule take effect together, or not at all (an
// error reply). It changes only the keys it names, on the settings as they
// are now.
void mjh_agent::apply_start(const mjh_request &request, mjh_text &reply) {
  int64_t now = fx_.now_utc();
  drop_ended_session(now);
  mjh_hours hours = hours_;
  session_state session = session_;
  mjh_text_buffer<256> err;
  if (!mjh_schedule_request_apply(&request.schedule, &hours, &session.session, fx_.zone(), now, &err)) {
    mjh_reply_error(err.c_str(), reply);
    return;
  }
  if (request.schedule.given & (MJH_SCHED_KEY_FOR | MJH_SCHED_KEY_UNTIL))
    session.to_end_of_hours =
        (request.schedule.given & MJH_SCHED_KEY_UNTIL) && request.schedule.until_minute == MJH_UNTIL_END_OF_HOURS;

  mjh_decision d;
  mjh_decide(&hours, &session.session, fx_.zone(), now, &d);
  mjh_options before = settings_.options;
  take_keys(&settings_.options, request.options, request.given);
  if (d.action == MJH_SCHED_RUN && !run_start()) {
    mjh_reply_error(fx_.last_error(), reply);
    settings_.options = before;
    read_status();
    running_ = have_status_ && status_.active;
    decide();
    return;
  }
  hours_ = hours;
  session_ = session;
  settings_.run_on = 1;
  stopped_because_[0] = '\0';
  save();
  read_lock_setting();
  decide();
  mjh_reply_ok(reply);
}

void mjh_agent::request(const mjh_request &request, mjh_text &reply) {
  if (exiting_ || !launched_) {
    mjh_reply_error(k_shutting_down, reply);
    return;
  }
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
      mjh_text_buffer<256> text;
      if (options_text(settings_.options, text) && fx_.nudge(text.c_str()))
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
  }
  mjh_reply_error("unknown command", reply);
}
