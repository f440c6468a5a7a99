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

mjh_icon_state mjh_icon_for(mjh_run_state s, bool failing) {
  if (s == MJH_RUN_ACTIVE) return failing ? MJH_ICON_FAILING : MJH_ICON_ACTIVE;
  return s == MJH_RUN_WAITING ? MJH_ICON_WAITING : MJH_ICON_STOPPED;
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
  const bool joins = mjh_starts_with(r, "for ") || mjh_starts_with(r, "until ");
  out.add(joins ? " " : ": ", reason);
}

void mjh_agent_tooltip(const mjh_tooltip_facts &f, mjh_text &out) {
  mjh_text_buffer<512> text;
  if (f.unsaved) text.add("Settings not saved! ");
  if (f.elevated) text.add("As administrator: ");
  if (f.warning != nullptr && f.warning[0]) text.add("Warning: ", f.warning, ". ");
  const char *remote = f.remote ? " in a remote session" : "";
  if (f.state == MJH_RUN_ACTIVE && f.failing && f.blocked != nullptr && f.blocked[0]) {
    mjh_state_text("blocked", f.blocked, true, text);
  } else if (f.state == MJH_RUN_ACTIVE && f.failing) {
    text.add("Failing", remote, ": ",
             f.last_error != nullptr && f.last_error[0] ? f.last_error : "nudges do not reset the idle time");
  } else if (f.state == MJH_RUN_ACTIVE && f.run != nullptr) {
    mjh_state_text("active", f.reason, true, text);
    text.add(remote);
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
