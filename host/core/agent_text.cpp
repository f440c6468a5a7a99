#include "agent_text.h"

#include <stdio.h>
#include <string.h>

#include "json.h"
#include "text.h"

int mjh_failing_update(const mjh_status *prev, const mjh_status *now, int was_failing) {
  if (now == NULL || !now->active) return 0;
  /* A run that was not active before, or whose counters went back, is a new
   * one: its counters start from 0 and nothing of the old one carries over. */
  int same_run = prev != NULL && prev->active && now->nudges >= prev->nudges && now->failed >= prev->failed &&
                 now->skipped >= prev->skipped;
  long long nudges_before = same_run ? prev->nudges : 0;
  long long failed_before = same_run ? prev->failed : 0;
  int failing = same_run ? was_failing : 0;
  if (now->failed > failed_before) return 1;
  if (now->nudges > nudges_before) {
    if (now->last_reset_idle == 0) return 1;
    if (now->last_reset_idle == 1) return 0;
  }
  return failing; /* nothing new, or a nudge whose effect is unknown (dry run) */
}

mjh_icon_state mjh_icon_for(const mjh_status *run, int failing, int waiting) {
  if (run != NULL && run->active) return failing ? MJH_ICON_FAILING : MJH_ICON_ACTIVE;
  return waiting ? MJH_ICON_WAITING : MJH_ICON_STOPPED;
}

/* Whether the next nudge waits for the user to be idle a whole interval: the
 * DLL's countdown is then exactly the idle time still missing, and the user
 * gave input since the run started or last nudged (the margin of a second
 * absorbs the rounding of both times). */
static int waits_for_idle(const mjh_status *s) {
  long long since = s->running_s;
  if (s->since_last_nudge_s >= 0 && s->since_last_nudge_s < since) since = s->since_last_nudge_s;
  return s->only_when_idle && s->idle_s >= 0 && s->idle_s < s->interval_s &&
         s->next_nudge_in_s == s->interval_s - s->idle_s && s->idle_s + 1 < since;
}

/* Copies s into out with bytes that are not UTF-8 replaced by '?'. */
static void copy_utf8(char *out, size_t size, const char *s) {
  size_t used = 0;
  out[0] = '\0';
  while (*s && used + 1 < size) {
    size_t n = 1;
    while (n < 4 && s[n] && !mjh_utf8_valid(s, n)) n++;
    if (!mjh_utf8_valid(s, n)) {
      out[used++] = '?';
      s++;
      continue;
    }
    if (used + n >= size) break;
    memcpy(out + used, s, n);
    used += n;
    s += n;
  }
  out[used] = '\0';
}

void mjh_tooltip(const mjh_status *run, int failing, const char *last_error, int keep_awake_held, char *buf,
                 size_t size) {
  if (buf == NULL || size == 0) return;
  char text[512] = "";
  if (run == NULL || !run->active) {
    mjh_append(text, sizeof text, "Stopped");
  } else if (failing) {
    char error[400];
    copy_utf8(error, sizeof error, last_error != NULL ? last_error : "");
    mjh_append(text, sizeof text, "Failing: %s", error[0] ? error : "nudges do not reset the idle time");
  } else {
    mjh_append(text, sizeof text, "Active%s: ", run->dry_run ? " (dry run)" : "");
    if (strcmp(run->mode, "move") == 0)
      mjh_append(text, sizeof text, "move %lld,%lld px every %lld s", run->dx, run->dy, run->interval_s);
    else
      mjh_append(text, sizeof text, "zen every %lld s", run->interval_s);
    if (waits_for_idle(run))
      mjh_append(text, sizeof text, ", waiting for %lld s idle", run->interval_s);
    else if (run->next_nudge_in_s >= 0)
      mjh_append(text, sizeof text, ", next nudge in %lld s", run->next_nudge_in_s);
    mjh_append(text, sizeof text, ", %lld %s", run->nudges, run->nudges == 1 ? "nudge" : "nudges");
    if (run->nudges > 0 && strcmp(run->last_method, "dry-run") != 0 && run->last_reset_idle >= 0)
      mjh_append(text, sizeof text, ", idle time %s", run->last_reset_idle ? "reset" : "NOT reset");
  }

  size_t limit = size < MJH_TOOLTIP_MAX ? size - 1 : MJH_TOOLTIP_MAX - 1;
  buf[0] = '\0';
  mjh_text_append_short(buf, limit + 1, text, strlen(text), limit);
  static const char awake[] = ", keeping awake";
  if (keep_awake_held && strlen(buf) + strlen(awake) <= limit) mjh_append(buf, limit + 1, "%s", awake);
}

static int32_t utc_offset_zero(void *context, int64_t utc) {
  (void)context;
  (void)utc;
  return 0;
}

/* The schedule's part of the sentence, each piece after "; ". */
static void append_schedule(char *text, size_t size, const mjh_reply *reply, const mjh_zone *zone, int64_t now) {
  mjh_text_buffer<64> when;
  if (reply->hours[0]) {
    mjh_append(text, size, "; working hours %s %s: %s", reply->days, reply->hours,
               reply->inside ? "inside" : "outside");
    if (reply->next_start != MJH_NO_TIME) {
      mjh_when_text(zone, now, reply->next_start, when);
      mjh_append(text, size, ", next start %s", when.c_str());
    }
  }
  if (reply->session_end != MJH_NO_TIME) {
    when.clear();
    mjh_when_text(zone, now, reply->session_end, when);
    mjh_append(text, size, "; session ends %s", when.c_str());
  }
  if (reply->warning[0]) mjh_append(text, size, "; warning: %s", reply->warning);
}

void mjh_describe_agent(const mjh_reply *reply, char *buf, size_t size) {
  mjh_describe_agent_at(reply, NULL, 0, buf, size);
}

void mjh_describe_agent_at(const mjh_reply *reply, const mjh_zone *zone, int64_t now, char *buf, size_t size) {
  if (buf == NULL || size == 0) return;
  const mjh_zone utc = {utc_offset_zero, NULL};
  if (zone == NULL) zone = &utc;
  char text[1024] = "";
  char part[256];
  const mjh_status *run = &reply->run;
  if (!reply->ok) {
    mjh_append(text, sizeof text, "agent error: %s", reply->error);
  } else if (!reply->has_run) {
    mjh_append(text, sizeof text, "agent: ok");
  } else if (run->active) {
    mjh_append(text, sizeof text, "agent %s (pid %lu): ", reply->version, reply->pid);
    mjh_describe_run(run, part, sizeof part);
    mjh_append(text, sizeof text, "%s, %s", reply->failing ? "active but failing" : "active", part);
    mjh_describe_countdown(run, part, sizeof part);
    if (part[0]) mjh_append(text, sizeof text, "; %s", part);
    mjh_describe_counts(run, part, sizeof part);
    mjh_append(text, sizeof text, "; %s", part);
    if (reply->failing && reply->last_error[0]) mjh_append(text, sizeof text, "; last error: %s", reply->last_error);
  } else {
    /* Say what a start would use: the saved settings, not the last run's. */
    mjh_status saved;
    memset(&saved, 0, sizeof saved);
    snprintf(saved.mode, sizeof saved.mode, "%s", reply->settings.move ? "move" : "zen");
    saved.interval_s = reply->settings.interval_s;
    saved.dx = reply->settings.dx;
    saved.dy = reply->settings.dy;
    saved.only_when_idle = reply->settings.only_when_idle;
    saved.dry_run = reply->settings.dry_run;
    mjh_describe_run(&saved, part, sizeof part);
    mjh_append(text, sizeof text, "agent %s (pid %lu): stopped", reply->version, reply->pid);
    if (reply->stopped_because[0])
      mjh_append(text, sizeof text, " (%s)", reply->stopped_because);
    else if (reply->run_on && reply->last_error[0])
      mjh_append(text, sizeof text, " (%s)", reply->last_error);
    mjh_append(text, sizeof text, "; set to %s", part);
  }
  if (reply->ok && reply->has_run && reply->keep_awake_held)
    mjh_append(text, sizeof text, "; keeping the computer awake");
  if (reply->ok && reply->has_run && reply->has_schedule) append_schedule(text, sizeof text, reply, zone, now);
  /* Cut at a character boundary when buf is small, and always end the line. */
  size_t len = size >= 2 ? mjh_utf8_prefix(text, strlen(text), size - 2) : 0;
  memcpy(buf, text, len);
  if (size >= 2) buf[len++] = '\n';
  buf[len] = '\0';
}
