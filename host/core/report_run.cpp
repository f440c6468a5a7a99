// The texts of mjctl run and of mjctl status's run: the events between two
// status lines, the run's settings, its countdown and its counts.
#include "report.h"

namespace {

// "nudge 3" for one new event, "nudges 2 to 3" for several.
void add_numbered(mjh_text &out, const char *clock, const char *one, const char *many, long long before,
                  long long now) {
  if (now - before == 1)
    out.add(clock, ' ', one, ' ', now, ": ");
  else
    out.add(clock, ' ', many, ' ', before + 1, " to ", now, ": ");
}

}  // namespace

int mjh_describe_events(const mjh_status *prev, const mjh_status *next, const char *error_text, const char *clock,
                        mjh_text &out) {
  int lines = 0;
  if (next->nudges > prev->nudges) {
    add_numbered(out, clock, "nudge", "nudges", prev->nudges, next->nudges);
    mjh_describe_nudge(next, out);
    out.add('\n');
    lines++;
  }
  if (next->skipped > prev->skipped) {
    add_numbered(out, clock, "skip", "skips", prev->skipped, next->skipped);
    out.add("the user was active in the last ", next->interval_s, " s\n");
    lines++;
  }
  if (next->failed > prev->failed) {
    add_numbered(out, clock, "failure", "failures", prev->failed, next->failed);
    out.add(error_text && error_text[0] ? error_text : "(no error text)", '\n');
    lines++;
  }
  return lines;
}

void mjh_describe_run(const mjh_status *s, mjh_text &out) {
  if (s->mode == MJ_MODE_MOVE)
    out.add("move nudges of ", s->dx, ',', s->dy, " px every ", s->interval_s, " s");
  else
    out.add("zen nudges every ", s->interval_s, " s");
  if (s->only_when_idle)
    out.add(", only after ", s->interval_s, " s without user input");
  else
    out.add(", also while the user is active");
  if (s->dry_run) out.add(", dry run (nothing injected)");
}

void mjh_describe_countdown(const mjh_status *s, mjh_text &out) {
  if (!s->active || s->next_nudge_in_s < 0) return;
  out.add("next nudge in ", s->next_nudge_in_s, " s");
  if (s->only_when_idle && s->idle_s >= 0) out.add(", user idle ", s->idle_s, " s");
}

void mjh_describe_counts(const mjh_status *s, mjh_text &out) {
  out.add(s->nudges, ' ', s->nudges == 1 ? "nudge" : "nudges", ", ", s->skipped, " skipped, ", s->failed, " failed");
}
