#include "report.h"

#include <string.h>

#include <charconv>

namespace {

// The value of "key": in line, or null. The status line has no nesting and
// no escapes, so a plain search is exact.
const char *member(const char *line, const char *key) {
  mjh_text_buffer<40> needle;
  needle.add('"', key, "\":");
  const char *p = strstr(line, needle.c_str());
  return p ? p + needle.size() : nullptr;
}

// A whole number member: digits (a '-' before them) up to its ',' or '}'.
bool read_number(const char *line, const char *key, long long *out) {
  const char *v = member(line, key);
  if (!v) return false;
  const char *end = v + strcspn(v, ",}");
  const std::from_chars_result r = std::from_chars(v, end, *out);
  return r.ec == std::errc() && r.ptr == end && *end != '\0';
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
