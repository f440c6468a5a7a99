#include "schedule.h"

namespace {

// ---- The spans as instants --------------------------------------------------

constexpr int WINDOW_DAYS_BEFORE = 2, WINDOW_DAYS_AFTER = 10;
constexpr int WINDOWS_MAX = (WINDOW_DAYS_BEFORE + WINDOW_DAYS_AFTER + 1) * MJH_SPANS_MAX;

struct window {
  int64_t start, end;  // [start, end) in UTC
  int64_t day;         // the local day it starts on
};

// The span instances of the local days around `around`, in order; a span
// lying wholly in a skipped hour is left out.
struct window_list {
  window w[WINDOWS_MAX];
  int n = 0;

  window_list(const mjh_hours *h, const mjh_zone *zone, int64_t around) {
    const int64_t first = mjh_local_day(zone, around) - WINDOW_DAYS_BEFORE;
    for (int64_t day = first; day <= first + WINDOW_DAYS_BEFORE + WINDOW_DAYS_AFTER; day++) {
      if (!(h->days & (1u << mjh_weekday(day)))) continue;
      for (int i = 0; i < h->span_count; i++) {
        const mjh_span &s = h->spans[i];
        const int64_t start = mjh_instant_of(zone, day * MJH_DAY_S + int64_t{s.start} * 60);
        const int64_t end = mjh_instant_of(zone, day * MJH_DAY_S + int64_t{mjh_span_end_minute(s)} * 60);
        if (end > start) w[n++] = {start, end, day};
      }
    }
  }

  // The end of the stretch w[i] begins or is part of: touching windows
  // chain. MJH_NO_TIME when it runs to the end of what was computed.
  int64_t stretch_end(int i) const {
    int64_t end = w[i].end;
    for (i++; i < n && w[i].start <= end; i++)
      if (w[i].end > end) end = w[i].end;
    return i == n ? MJH_NO_TIME : end;
  }

  // The first window of the stretch w[i] is part of (as far as computed).
  int stretch_first(int i) const {
    while (i > 0 && w[i - 1].end >= w[i].start) i--;
    return i;
  }

  // The window holding now, or -1.
  int at(int64_t now) const {
    for (int i = 0; i < n; i++)
      if (w[i].start <= now && now < w[i].end) return i;
    return -1;
  }

  // The first window from which a stretch starts at or after t (strictly
  // after when `after`), or -1.
  int stretch_start_from(int64_t t, bool after) const {
    for (int i = 0; i < n; i++) {
      if (w[i].start < t || (after && w[i].start == t)) continue;
      if (i > 0 && w[i - 1].end >= w[i].start) continue;  // a continuation
      return i;
    }
    return -1;
  }
};

// Whether now is inside a stretch of the list; its end in *stretch_end.
bool inside_of(const window_list &w, int64_t now, int64_t *stretch_end) {
  const int i = w.at(now);
  if (i < 0) return false;
  if (stretch_end) *stretch_end = w.stretch_end(i);
  return true;
}

// The start of the list's next stretch after now (after the one now is in).
int64_t next_start_of(const window_list &w, int64_t now) {
  int64_t from = now;
  int i = w.at(now);
  if (i >= 0) {
    from = w.stretch_end(i);
    if (from == MJH_NO_TIME) return MJH_NO_TIME;
  }
  i = w.stretch_start_from(from, true);
  return i < 0 ? MJH_NO_TIME : w.w[i].start;
}

}  // namespace

// ---- Working hours ----------------------------------------------------------

void mjh_hours_none(mjh_hours *h) {
  *h = mjh_hours{};
  h->days = MJH_DAYS_ALL;
}

bool mjh_hours_inside(const mjh_hours *h, const mjh_zone *zone, int64_t now, int64_t *stretch_end) {
  if (stretch_end) *stretch_end = MJH_NO_TIME;
  if (h->damaged) return false;
  if (h->span_count == 0) return true;
  return inside_of(window_list(h, zone, now), now, stretch_end);
}

int64_t mjh_hours_next_start(const mjh_hours *h, const mjh_zone *zone, int64_t now) {
  if (h->span_count == 0) return MJH_NO_TIME;
  return next_start_of(window_list(h, zone, now), now);
}

// ---- Sessions ---------------------------------------------------------------

void mjh_session_for(mjh_session *s, int64_t now, int64_t seconds) { *s = {MJH_SESSION_FOR, now, now + seconds}; }

void mjh_session_until(mjh_session *s, const mjh_zone *zone, int64_t now, int minute, bool *tomorrow) {
  const int64_t today = mjh_local_day(zone, now);
  int64_t at[2], end = MJH_NO_TIME;
  const int count = mjh_local_to_utc(zone, today * MJH_DAY_S + int64_t{minute} * 60, at);
  for (int i = 0; i < (count ? count : 1) && end == MJH_NO_TIME; i++)
    if (at[i] > now) end = at[i];
  if (tomorrow) *tomorrow = end == MJH_NO_TIME;
  if (end == MJH_NO_TIME) end = mjh_instant_of(zone, (today + 1) * MJH_DAY_S + int64_t{minute} * 60);
  *s = {MJH_SESSION_UNTIL, now, end};
}

bool mjh_session_until_end_of_hours(mjh_session *s, const mjh_hours *h, const mjh_zone *zone, int64_t now,
                                    mjh_text *err) {
  if (h->damaged) return mjh_fail(err, "the working hours are damaged: set them again");
  if (h->span_count == 0) return mjh_fail(err, "no working hours are set");
  const window_list w(h, zone, now);
  // The working day: the one the stretch in progress began on, else today.
  const int in_progress = w.at(now);
  const int64_t day = in_progress >= 0 ? w.w[w.stretch_first(in_progress)].day : mjh_local_day(zone, now);
  int last = -1;
  for (int i = 0; i < w.n; i++)
    if (w.w[i].end > now && (w.w[i].day == day || w.w[i].start <= now)) last = i;
  if (last < 0) return mjh_fail(err, "no working hours are left today");
  const int64_t end = w.stretch_end(last);
  if (end == MJH_NO_TIME) return mjh_fail(err, "today's working hours do not end within a week");
  *s = {MJH_SESSION_UNTIL, now, end};
  return true;
}

void mjh_session_clock_changed(mjh_session *s, int64_t jump) {
  if (s->kind != MJH_SESSION_FOR) return;
  s->start += jump;
  s->end += jump;
}

// ---- Deciding ---------------------------------------------------------------

namespace {

void decided(mjh_decision *d, int64_t now, mjh_sched_action action, mjh_sched_reason reason) {
  d->action = action;
  d->reason = reason;
  if (action == MJH_SCHED_STOP) {
    d->recheck_s = 0;
    return;
  }
  if (d->next_change != MJH_NO_TIME && d->next_change <= now) d->next_change = now + 1;
  d->recheck_s = d->next_change == MJH_NO_TIME ? MJH_RECHECK_MAX_S : d->next_change - now;
  if (d->recheck_s > MJH_RECHECK_MAX_S) d->recheck_s = MJH_RECHECK_MAX_S;
}

}  // namespace

void mjh_decide(const mjh_hours *h, const mjh_session *session, const mjh_zone *zone, int64_t now, mjh_decision *d) {
  // The hours' windows around now, laid out once for both questions.
  int64_t stretch = MJH_NO_TIME, next_start = MJH_NO_TIME;
  if (h->damaged) {
    d->inside = false;
  } else if (h->span_count == 0) {
    d->inside = true;
  } else {
    const window_list w(h, zone, now);
    d->inside = inside_of(w, now, &stretch);
    if (!d->inside) next_start = next_start_of(w, now);
  }
  d->run_until = MJH_NO_TIME;
  d->next_start = MJH_NO_TIME;
  d->next_change = MJH_NO_TIME;
  if (session && session->kind != MJH_SESSION_NONE) {
    if (session->end == MJH_NO_TIME || now < session->end) {
      d->run_until = d->next_change = session->end;
      return decided(d, now, MJH_SCHED_RUN, MJH_REASON_SESSION);
    }
    if (h->damaged) return decided(d, now, MJH_SCHED_WAIT, MJH_REASON_HOURS_DAMAGED);
    if (h->span_count == 0) return decided(d, now, MJH_SCHED_STOP, MJH_REASON_SESSION_ENDED);
    // Held off until a stretch starts at or after the session's end.
    const window_list w(h, zone, session->end);
    const int i = w.stretch_start_from(session->end, false);
    const int64_t resume = i < 0 ? MJH_NO_TIME : w.w[i].start;
    if (resume == MJH_NO_TIME || now < resume) {
      d->next_start = d->next_change = resume;
      return decided(d, now, MJH_SCHED_WAIT, MJH_REASON_SESSION_ENDED);
    }
  }
  if (h->damaged) return decided(d, now, MJH_SCHED_WAIT, MJH_REASON_HOURS_DAMAGED);
  if (h->span_count == 0) return decided(d, now, MJH_SCHED_RUN, MJH_REASON_NO_HOURS);
  if (d->inside) {
    d->run_until = d->next_change = stretch;
    return decided(d, now, MJH_SCHED_RUN, MJH_REASON_INSIDE_HOURS);
  }
  d->next_start = d->next_change = next_start;
  decided(d, now, MJH_SCHED_WAIT, MJH_REASON_OUTSIDE_HOURS);
}
