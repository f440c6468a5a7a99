#include "agent_text.h"

#include <string.h>

namespace {

// Whether the next nudge waits for the user to be idle a whole interval: the
// DLL's countdown is then exactly the idle time still missing, and the user
// gave input since the run started or last nudged (the margin of a second
// absorbs the rounding of both times).
bool waits_for_idle(const mjh_status *s) {
  long long since = s->running_s;
  if (s->since_last_nudge_s >= 0 && s->since_last_nudge_s < since) since = s->since_last_nudge_s;
  return s->only_when_idle && s->idle_s >= 0 && s->idle_s < s->interval_s &&
         s->next_nudge_in_s == s->interval_s - s->idle_s && s->idle_s + 1 < since;
}

int32_t utc_offset_zero(void *, int64_t) { return 0; }

// The schedule's part of the sentence, each piece after "; ". With the
// agent's state, whether now is inside the hours and the next start are in
// its reason already.
void add_schedule(mjh_text &out, const mjh_reply *reply, const mjh_zone *zone, int64_t now) {
  if (reply->hours[0] && reply->has_state) {
    out.add("; working hours ", reply->days, ' ', reply->hours);
  } else if (reply->hours[0]) {
    out.add("; working hours ", reply->days, ' ', reply->hours, ": ", reply->inside ? "inside" : "outside");
    if (reply->next_start != MJH_NO_TIME) {
      out.add(", next start ");
      mjh_when_text(zone, now, reply->next_start, out);
    }
  }
  if (reply->session_end != MJH_NO_TIME && !(reply->has_state && reply->run.active)) {
    out.add("; session ends ");
    mjh_when_text(zone, now, reply->session_end, out);
  }
  if (reply->warning[0]) out.add("; warning: ", reply->warning);
}

// The conditions set, each after "; ".
void add_conditions(mjh_text &out, const mjh_reply *reply) {
  if (!reply->has_conditions) return;
  if (reply->while_running[0]) {
    mjh_programs p;
    if (mjh_programs_parse(reply->while_running, &p, nullptr)) {
      out.add("; while ");
      mjh_program_names_text(p, (1u << p.count) - 1, out);
      out.add(p.count == 1 ? " runs" : " run", reply->foreground ? " in the foreground" : "");
    }
  }
  if (reply->ac_only) out.add("; only on mains power");
  if (reply->battery_floor > 0) out.add("; stops below ", reply->battery_floor, " % battery");
}

// What a start would use: the saved settings, not the last run's.
void add_saved(mjh_text &out, const mjh_reply *reply) {
  mjh_status saved{};
  saved.mode = reply->settings.mode;
  saved.interval_s = reply->settings.interval_s;
  saved.dx = reply->settings.dx;
  saved.dy = reply->settings.dy;
  saved.only_when_idle = reply->settings.only_when_idle;
  saved.dry_run = reply->settings.dry_run;
  out.add("; set to ");
  mjh_describe_run(&saved, out);
}

// The sentence without its line end.
void add_sentence(mjh_text &out, const mjh_reply *reply, const mjh_zone *zone, int64_t now) {
  const mjh_status *run = &reply->run;
  if (!reply->ok) {
    out.add("agent error: ", reply->error);
    return;
  }
  if (!reply->has_run) {
    out.add("agent: ok");
    return;
  }
  out.add("agent ", reply->version, " (pid ", reply->pid, reply->elevated ? ", as administrator" : "", "): ");
  if (reply->has_state && run->active) {
    mjh_state_text(reply->failing ? "active but failing" : "active", reply->reason, false, out);
    out.add(", ");
    mjh_describe_run(run, out);
    mjh_text_buffer<128> countdown;
    mjh_describe_countdown(run, countdown);
    if (countdown.size() > 0) out.add("; ", countdown.view());
    out.add("; ");
    mjh_describe_counts(run, out);
    if (reply->failing && reply->last_error[0]) out.add("; last error: ", reply->last_error);
  } else if (reply->has_state) {
    mjh_state_text(reply->state, reply->reason, false, out);
    add_saved(out, reply);
  } else if (run->active) {
    out.add(reply->failing ? "active but failing" : "active", ", ");
    mjh_describe_run(run, out);
    mjh_text_buffer<128> countdown;
    mjh_describe_countdown(run, countdown);
    if (countdown.size() > 0) out.add("; ", countdown.view());
    out.add("; ");
    mjh_describe_counts(run, out);
    if (reply->failing && reply->last_error[0]) out.add("; last error: ", reply->last_error);
  } else {
    out.add("stopped");
    if (reply->stopped_because[0])
      out.add(" (", reply->stopped_because, ')');
    else if (reply->run_on && reply->last_error[0])
      out.add(" (", reply->last_error, ')');
    add_saved(out, reply);
  }
  if (reply->keep_awake_held) out.add("; keeping the computer awake");
  add_conditions(out, reply);
  if (reply->has_schedule) add_schedule(out, reply, zone, now);
  if (mjh_policy_any(reply->policy)) {
    mjh_text_buffer<512> policy;
    mjh_policy_sentence(reply->policy, policy);
    if (policy.size() > 0) out.add("; ", policy.view());
    policy.clear();
    mjh_policy_damage_sentence(reply->policy, policy);
    if (policy.size() > 0) out.add("; ", policy.view());
  }
}

}  // namespace

bool mjh_failing_update(const mjh_status *prev, const mjh_status *now, bool was_failing) {
  if (now == nullptr || !now->active) return false;
  // A run that was not active before, or whose counters went back, is a new
  // one: its counters start from 0 and nothing of the old one carries over.
  const bool same_run = prev != nullptr && prev->active && now->nudges >= prev->nudges && now->failed >= prev->failed &&
                        now->skipped >= prev->skipped;
  long long nudges_before = same_run ? prev->nudges : 0;
  long long failed_before = same_run ? prev->failed : 0;
  if (now->failed > failed_before) return true;
  if (now->nudges > nudges_before) {
    if (now->last_reset_idle == 0) return true;
    if (now->last_reset_idle == 1) return false;
  }
  return same_run && was_failing;  // nothing new, or a nudge whose effect is unknown (dry run)
}

mjh_icon_state mjh_icon_for(const mjh_status *run, bool failing, bool waiting) {
  if (run != nullptr && run->active) return failing ? MJH_ICON_FAILING : MJH_ICON_ACTIVE;
  return waiting ? MJH_ICON_WAITING : MJH_ICON_STOPPED;
}

void mjh_tooltip(const mjh_status *run, bool failing, const char *last_error, bool keep_awake_held, mjh_text &out) {
  mjh_text_buffer<512> text;
  if (run == nullptr || !run->active) {
    text.add("Stopped");
  } else if (failing) {
    text.add("Failing: ", last_error != nullptr && last_error[0] ? last_error : "nudges do not reset the idle time");
  } else {
    text.add("Active", run->dry_run ? " (dry run)" : "", ": ");
    if (run->mode == MJ_MODE_MOVE)
      text.add("move ", run->dx, ',', run->dy, " px every ", run->interval_s, " s");
    else
      text.add("zen every ", run->interval_s, " s");
    if (waits_for_idle(run))
      text.add(", waiting for ", run->interval_s, " s idle");
    else if (run->next_nudge_in_s >= 0)
      text.add(", next nudge in ", run->next_nudge_in_s, " s");
    text.add(", ", run->nudges, ' ', run->nudges == 1 ? "nudge" : "nudges");
    if (run->nudges > 0 && strcmp(run->last_method, "dry-run") != 0 && run->last_reset_idle >= 0)
      text.add(", idle time ", run->last_reset_idle ? "reset" : "NOT reset");
  }
  // The error is the one long part: what gets shortened, and keep-awake only
  // comes when it fits beside the rest.
  const size_t limit = MJH_TOOLTIP_MAX - 1;
  const size_t start = out.size();
  out.add(mjh_shortened{text.view(), limit});
  static const char awake[] = ", keeping awake";
  if (keep_awake_held && out.size() - start + (sizeof awake - 1) <= limit) out.add(awake);
}

const char *mjh_run_state_name(mjh_run_state s) {
  return s == MJH_RUN_ACTIVE ? "active" : s == MJH_RUN_WAITING ? "waiting" : "stopped";
}

void mjh_state_text(const char *state, const char *reason, bool capital, mjh_text &out) {
  if (capital && state[0] >= 'a' && state[0] <= 'z')
    out.add(static_cast<char>(state[0] - 'a' + 'A'), state + 1);
  else
    out.add(state);
  if (reason == nullptr || reason[0] == '\0') return;
  // "waiting for obs64.exe", "active until 17:30", "waiting: on battery".
  const std::string_view r = reason;
  const bool joins = r.compare(0, 4, "for ") == 0 || r.compare(0, 6, "until ") == 0;
  out.add(joins ? " " : ": ", reason);
}

void mjh_agent_tooltip(const mjh_tooltip_facts &f, mjh_text &out) {
  mjh_text_buffer<512> text;
  if (f.elevated) text.add("As administrator: ");
  if (f.warning != nullptr && f.warning[0]) text.add("Warning: ", f.warning, ". ");
  if (f.state == MJH_RUN_ACTIVE && f.failing) {
    text.add("Failing: ",
             f.last_error != nullptr && f.last_error[0] ? f.last_error : "nudges do not reset the idle time");
  } else if (f.state == MJH_RUN_ACTIVE && f.run != nullptr) {
    mjh_state_text("active", f.reason, true, text);
    const mjh_status *run = f.run;
    text.add(run->dry_run ? " (dry run): " : ": ");
    if (run->mode == MJ_MODE_MOVE)
      text.add("move ", run->dx, ',', run->dy, " px every ", run->interval_s, " s");
    else
      text.add("zen every ", run->interval_s, " s");
    if (waits_for_idle(run))
      text.add(", waiting for ", run->interval_s, " s idle");
    else if (run->next_nudge_in_s >= 0)
      text.add(", next nudge in ", run->next_nudge_in_s, " s");
    text.add(", ", run->nudges, ' ', run->nudges == 1 ? "nudge" : "nudges");
    if (run->nudges > 0 && strcmp(run->last_method, "dry-run") != 0 && run->last_reset_idle >= 0)
      text.add(", idle time ", run->last_reset_idle ? "reset" : "NOT reset");
  } else {
    mjh_state_text(mjh_run_state_name(f.state), f.reason, true, text);
    if (f.state == MJH_RUN_STOPPED && !f.policy_off)
      text.add(f.reason != nullptr && f.reason[0] ? "; click to start" : ": click to start");
  }
  const size_t limit = MJH_TOOLTIP_MAX - 1;
  const size_t start = out.size();
  out.add(mjh_shortened{text.view(), limit});
  static const char awake[] = ", keeping awake";
  if (f.keep_awake_held && out.size() - start + (sizeof awake - 1) <= limit) out.add(awake);
}

void mjh_describe_agent_at(const mjh_reply *reply, const mjh_zone *zone, int64_t now, mjh_text &out) {
  const mjh_zone utc = {utc_offset_zero, nullptr};
  if (zone == nullptr) zone = &utc;
  if (!out.ok()) return;
  const size_t start = out.size();
  mjh_text_buffer<1024> sentence;
  add_sentence(sentence, reply, zone, now);
  out.add(sentence.view(), '\n');
  if (out.ok()) return;
  // Cut: the line still ends in '\n', in place of its last character when
  // there is no room beside it.
  size_t end = out.size();
  out.rewind(end);
  out.add('\n');
  if (out.ok() || end == start) return;
  while (end > start + 1 && (static_cast<unsigned char>(out.c_str()[end - 1]) & 0xC0) == 0x80) end--;
  out.rewind(end - 1);
  out.add('\n');
}
