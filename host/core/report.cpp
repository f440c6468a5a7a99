#include "report.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The value of "key": in line, or null. The status line has no nesting and
// no escapes, so a plain search is exact.
const char *member(const char *line, const char *key) {
  mjh_text_buffer<40> needle;
  needle.add('"', key, "\":");
  const char *p = strstr(line, needle.c_str());
  return p ? p + needle.size() : nullptr;
}

bool read_number(const char *line, const char *key, long long *out) {
  const char *v = member(line, key);
  if (!v || !(*v == '-' || (*v >= '0' && *v <= '9'))) return false;
  char *end;
  *out = strtoll(v, &end, 10);
  return *end == ',' || *end == '}';
}

// A text member that fits in out (size bytes with its NUL).
bool read_text(const char *line, const char *key, char *out, size_t size) {
  const char *v = member(line, key);
  if (!v || *v != '"') return false;
  const char *end = strchr(v + 1, '"');
  if (!end) return false;
  mjh_text text(out, size);
  text.add(std::string_view(v + 1, static_cast<size_t>(end - v - 1)));
  return text.ok();
}

bool read_mode(const char *line, mj_mode *out) {
  char word[8];
  return read_text(line, "mode", word, sizeof word) && mj_mode_read(word, strlen(word), out);
}

// "nudge 3" for one new event, "nudges 2 to 3" for several.
void add_numbered(mjh_text &out, const char *clock, const char *one, const char *many, long long before,
                  long long now) {
  if (now - before == 1)
    out.add(clock, ' ', one, ' ', now, ": ");
  else
    out.add(clock, ' ', many, ' ', before + 1, " to ", now, ": ");
}

}  // namespace

bool mjh_status_read(const char *line, mjh_status *out) {
  long long active;
  if (line == nullptr || !read_number(line, "active", &active)) return false;
  out->active = active != 0;
  return read_mode(line, &out->mode) && read_number(line, "interval_s", &out->interval_s) &&
         read_number(line, "dx", &out->dx) && read_number(line, "dy", &out->dy) &&
         read_number(line, "only_when_idle", &out->only_when_idle) && read_number(line, "dry_run", &out->dry_run) &&
         read_number(line, "nudges", &out->nudges) && read_number(line, "skipped", &out->skipped) &&
         read_number(line, "failed", &out->failed) && read_number(line, "idle_s", &out->idle_s) &&
         read_number(line, "since_last_nudge_s", &out->since_last_nudge_s) &&
         read_number(line, "next_nudge_in_s", &out->next_nudge_in_s) &&
         read_number(line, "running_s", &out->running_s) &&
         read_number(line, "last_reset_idle", &out->last_reset_idle) &&
         read_text(line, "last_method", out->last_method, sizeof out->last_method);
}

void mjh_describe_nudge(const mjh_status *s, mjh_text &out) {
  if (strcmp(s->last_method, "dry-run") == 0) {
    out.add("dry-run, nothing injected");
    return;
  }
  const char *verdict = s->last_reset_idle == 1   ? "idle time reset"
                        : s->last_reset_idle == 0 ? "idle time NOT reset"
                                                  : "idle time unknown";
  out.add(s->last_method, ", ", verdict);
}

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
