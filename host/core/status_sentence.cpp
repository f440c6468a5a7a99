// The sentence of `mjctl status`: what a client says of the agent from its
// status reply. The agent's own words (its tooltip, the state and reason it
// sends) are in agent_text.cpp.
#include "agent_text.h"

namespace {

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
  if (run->active) {
    // An older agent says no state: its run's activity is the state. Nudges
    // blocked by a known cause say that cause.
    const char *reason = reply->has_state ? reply->reason : "";
    if (reply->failing && mjh_starts_with(reason, "blocked: "))
      out.add("active but ", reason);
    else
      mjh_state_text(reply->failing ? "active but failing" : "active", reason, false, out);
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
  } else {
    out.add("stopped");
    if (reply->stopped_because[0])
      out.add(" (", reply->stopped_because, ')');
    else if (reply->run_on && reply->last_error[0])
      out.add(" (", reply->last_error, ')');
    add_saved(out, reply);
  }
  if (reply->keep_awake_held)
    out.add("; keeping the computer awake", reply->keep_display_held ? "" : ", not the display");
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
  out.rewind(start + mjh_utf8_prefix(out.c_str() + start, end - start, end - start - 1));
  out.add('\n');
}
