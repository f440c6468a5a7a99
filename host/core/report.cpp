#include "report.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The value of "key": in line, or NULL. The status line has no nesting and
 * no escapes, so a plain search is exact. */
static const char *member(const char *line, const char *key) {
  char needle[40];
  snprintf(needle, sizeof needle, "\"%s\":", key);
  const char *p = strstr(line, needle);
  return p ? p + strlen(needle) : NULL;
}

static int read_number(const char *line, const char *key, long long *out) {
  const char *v = member(line, key);
  if (!v || !(*v == '-' || (*v >= '0' && *v <= '9'))) return 0;
  char *end;
  *out = strtoll(v, &end, 10);
  return *end == ',' || *end == '}';
}

static int read_text(const char *line, const char *key, char *out, size_t size) {
  const char *v = member(line, key);
  if (!v || *v != '"') return 0;
  const char *end = strchr(v + 1, '"');
  if (!end || (size_t)(end - v - 1) >= size) return 0;
  memcpy(out, v + 1, (size_t)(end - v - 1));
  out[end - v - 1] = '\0';
  return 1;
}

int mjh_status_read(const char *line, mjh_status *out) {
  long long active;
  if (line == NULL || !read_number(line, "active", &active)) return 0;
  out->active = active != 0;
  return read_text(line, "mode", out->mode, sizeof out->mode) && read_number(line, "interval_s", &out->interval_s) &&
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

void mjh_append(char *buf, size_t size, const char *format, ...) {
  size_t used = strlen(buf);
  if (used + 1 >= size) return;
  va_list args;
  va_start(args, format);
  vsnprintf(buf + used, size - used, format, args);
  va_end(args);
}

void mjh_describe_nudge(const mjh_status *s, char *buf, size_t size) {
  if (strcmp(s->last_method, "dry-run") == 0) {
    snprintf(buf, size, "dry-run, nothing injected");
    return;
  }
  const char *verdict = s->last_reset_idle == 1   ? "idle time reset"
                        : s->last_reset_idle == 0 ? "idle time NOT reset"
                                                  : "idle time unknown";
  snprintf(buf, size, "%s, %s", s->last_method, verdict);
}

/* "nudge 3" for one new event, "nudges 2 to 3" for several. */
static void append_numbered(char *buf, size_t size, const char *clock, const char *one, const char *many,
                            long long before, long long now) {
  if (now - before == 1)
    mjh_append(buf, size, "%s %s %lld: ", clock, one, now);
  else
    mjh_append(buf, size, "%s %s %lld to %lld: ", clock, many, before + 1, now);
}

int mjh_describe_events(const mjh_status *prev, const mjh_status *next, const char *error_text, const char *clock,
                        char *buf, size_t size) {
  int lines = 0;
  buf[0] = '\0';
  if (next->nudges > prev->nudges) {
    char what[96];
    mjh_describe_nudge(next, what, sizeof what);
    append_numbered(buf, size, clock, "nudge", "nudges", prev->nudges, next->nudges);
    mjh_append(buf, size, "%s\n", what);
    lines++;
  }
  if (next->skipped > prev->skipped) {
    append_numbered(buf, size, clock, "skip", "skips", prev->skipped, next->skipped);
    mjh_append(buf, size, "the user was active in the last %lld s\n", next->interval_s);
    lines++;
  }
  if (next->failed > prev->failed) {
    append_numbered(buf, size, clock, "failure", "failures", prev->failed, next->failed);
    mjh_append(buf, size, "%s\n", error_text && error_text[0] ? error_text : "(no error text)");
    lines++;
  }
  return lines;
}

void mjh_describe_run(const mjh_status *s, char *buf, size_t size) {
  buf[0] = '\0';
  if (strcmp(s->mode, "move") == 0)
    mjh_append(buf, size, "move nudges of %lld,%lld px every %lld s", s->dx, s->dy, s->interval_s);
  else
    mjh_append(buf, size, "zen nudges every %lld s", s->interval_s);
  if (s->only_when_idle)
    mjh_append(buf, size, ", only after %lld s without user input", s->interval_s);
  else
    mjh_append(buf, size, ", also while the user is active");
  if (s->dry_run) mjh_append(buf, size, ", dry run (nothing injected)");
}

void mjh_describe_countdown(const mjh_status *s, char *buf, size_t size) {
  buf[0] = '\0';
  if (!s->active || s->next_nudge_in_s < 0) return;
  mjh_append(buf, size, "next nudge in %lld s", s->next_nudge_in_s);
  if (s->only_when_idle && s->idle_s >= 0) mjh_append(buf, size, ", user idle %lld s", s->idle_s);
}

void mjh_describe_counts(const mjh_status *s, char *buf, size_t size) {
  snprintf(buf, size, "%lld %s, %lld skipped, %lld failed", s->nudges, s->nudges == 1 ? "nudge" : "nudges", s->skipped,
           s->failed);
}
