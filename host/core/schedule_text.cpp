#include "schedule_text.h"

#include <string_view>

#include "setting_table.h"

namespace {

constexpr int MINUTES_PER_DAY = 1440;

// ---- Reading pieces ---------------------------------------------------------

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A piece of a person's input in a message: a JSON string, so that control
// characters show escaped, and cut to stay readable.
void put_input(mjh_text &out, std::string_view piece) {
  mjh_text_buffer<48> shown;
  shown.add(mjh_shortened{piece, 43});  // a longer piece: 40 bytes and "..."
  out.add(mjh_json_quoted{shown.view()});
}

// `<input><message>`, e.g. `"8am" is not a time of day: ...`. Returns false.
bool input_error(mjh_text *err, std::string_view piece, std::string_view message) {
  if (err) {
    put_input(*err, piece);
    err->add(message);
  }
  return false;
}

// Splits "A-B" at its last dash into trimmed halves; false when there is none.
bool split_range(std::string_view s, std::string_view *a, std::string_view *b) {
  const size_t dash = s.rfind('-');
  if (dash == std::string_view::npos) return false;
  *a = mjh_trim_blanks(mjh_slice(s, 0, dash));
  *b = mjh_trim_blanks(mjh_slice(s, dash + 1));
  return true;
}

// "H", "HH", "H:MM", "HH:MM" into minutes 0..1440; -1 when malformed. *bare
// (may be null) tells a bare hour, without minutes.
int clock_value(std::string_view s, bool *bare = nullptr) {
  size_t i = 0;
  int hours = 0, minutes = 0;
  while (i < s.size() && i < 2 && is_digit(s[i])) hours = hours * 10 + (s[i++] - '0');
  if (i == 0) return -1;
  if (bare) *bare = i == s.size();
  if (i < s.size()) {
    if (s[i] != ':' || s.size() - i != 3 || !is_digit(s[i + 1]) || !is_digit(s[i + 2])) return -1;
    minutes = (s[i + 1] - '0') * 10 + (s[i + 2] - '0');
  }
  if (minutes > 59 || hours > 24 || (hours == 24 && minutes)) return -1;
  return hours * 60 + minutes;
}

bool clock_error(std::string_view s, mjh_text *err) {
  return input_error(err, s, " is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30");
}

void put_clock(mjh_text &out, int minute_of_day) {
  out.add(mjh_pad2{minute_of_day / 60}, ':', mjh_pad2{minute_of_day % 60});
}

void put_span(mjh_text &out, int start, int end) {
  put_clock(out, start);
  out.add('-');
  put_clock(out, end);
}

bool spans_overlap(const mjh_span &a, const mjh_span &b) {
  for (int shift = -MINUTES_PER_DAY; shift <= MINUTES_PER_DAY; shift += MINUTES_PER_DAY)
    if (a.start < mjh_span_end_minute(b) + shift && b.start + shift < mjh_span_end_minute(a)) return true;
  return false;
}

// A span in bare hours that ends before it starts ("9-5") is most likely a
// day written in twelve-hour style: refused, with the day and the night it
// may mean.
bool backwards_error(std::string_view piece, const mjh_span &s, mjh_text *err) {
  if (!err) return false;
  constexpr int HALF_DAY = MINUTES_PER_DAY / 2;
  input_error(err, piece, " ends before it starts: write ");
  if (s.end + HALF_DAY > s.start && s.end + HALF_DAY <= MINUTES_PER_DAY) {
    put_span(*err, s.start, s.end + HALF_DAY);
    err->add(", or ");
  }
  put_span(*err, s.start < HALF_DAY ? s.start + HALF_DAY : s.start, s.end);
  err->add(" for a night");
  return false;
}

bool read_span(std::string_view piece, mjh_span *out, mjh_text *err) {
  std::string_view a, b;
  if (!split_range(piece, &a, &b)) return input_error(err, piece, " is not a span: write START-END, e.g. 08:30-12:00");
  bool a_bare = false, b_bare = false;
  out->start = clock_value(a, &a_bare);
  if (out->start < 0) return clock_error(a, err);
  out->end = clock_value(b, &b_bare);
  if (out->end < 0) return clock_error(b, err);
  if (out->start == MINUTES_PER_DAY) return mjh_fail(err, "a span cannot start at 24:00: write 00:00");
  if (out->end == out->start) {
    if (err) {
      err->add("the span ");
      put_span(*err, out->start, out->end);
      err->add(" is empty; for a whole day write 00:00-24:00");
    }
    return false;
  }
  if (out->end == 0) out->end = MINUTES_PER_DAY;
  if (out->end < out->start && (a_bare || b_bare)) return backwards_error(piece, *out, err);
  return true;
}

constexpr std::string_view k_day_names[7] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
constexpr std::string_view k_day_full[7] = {"monday", "tuesday",  "wednesday", "thursday",
                                            "friday", "saturday", "sunday"};
constexpr std::string_view k_day_titles[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

int day_index(std::string_view s) {
  for (int i = 0; i < 7; i++)
    if (mjh_equal_ignoring_case(s, k_day_names[i]) || mjh_equal_ignoring_case(s, k_day_full[i])) return i;
  return -1;
}

bool day_error(std::string_view s, mjh_text *err) {
  return input_error(err, s, " is not a day: use mon, tue, wed, thu, fri, sat, sun, a range such as mon-fri, or all");
}

}  // namespace

// ---- Reading and writing working hours --------------------------------------

bool mjh_hours_parse(const char *text, mjh_hours *h, mjh_text *err) {
  const std::string_view all = mjh_trim_blanks(text ? text : "");
  if (all.empty()) return mjh_fail(err, "no working hours given: write e.g. 08:30-12:00,13:00-17:30, or any");
  if (mjh_equal_ignoring_case(all, "any")) {
    h->span_count = 0;
    h->damaged = false;
    return true;
  }
  mjh_span spans[MJH_SPANS_MAX + 1];
  int count = 0;
  mjh_list_reader list{all};
  for (std::string_view piece; list.next(&piece);) {
    if (!read_span(piece, &spans[count], err)) return false;
    if (count == MJH_SPANS_MAX) {
      if (err) err->add("too many spans: at most ", MJH_SPANS_MAX);
      return false;
    }
    for (int i = 0; i < count; i++) {
      if (!spans_overlap(spans[i], spans[count])) continue;
      if (err) {
        err->add("the spans ");
        put_span(*err, spans[i].start, spans[i].end);
        err->add(" and ");
        put_span(*err, spans[count].start, spans[count].end);
        err->add(" overlap");
      }
      return false;
    }
    count++;
  }
  for (int i = 1; i < count; i++)
    for (int j = i; j > 0 && spans[j - 1].start > spans[j].start; j--) {
      const mjh_span t = spans[j];
      spans[j] = spans[j - 1];
      spans[j - 1] = t;
    }
  for (int i = 0; i < count; i++) h->spans[i] = spans[i];
  h->span_count = count;
  h->damaged = false;
  return true;
}

bool mjh_days_parse(const char *text, unsigned *days, mjh_text *err) {
  const std::string_view all = mjh_trim_blanks(text ? text : "");
  if (all.empty()) return mjh_fail(err, "no days given: write e.g. mon-fri, sat,sun or all");
  if (mjh_equal_ignoring_case(all, "all") || mjh_equal_ignoring_case(all, "daily") ||
      mjh_equal_ignoring_case(all, "every day") || mjh_equal_ignoring_case(all, "everyday")) {
    *days = MJH_DAYS_ALL;
    return true;
  }
  if (mjh_equal_ignoring_case(all, "weekdays")) {
    *days = 0x1f;
    return true;
  }
  if (mjh_equal_ignoring_case(all, "weekend") || mjh_equal_ignoring_case(all, "weekends")) {
    *days = 0x60;
    return true;
  }
  unsigned result = 0;
  mjh_list_reader list{all};
  for (std::string_view piece; list.next(&piece);) {
    std::string_view a, b;
    if (!split_range(piece, &a, &b)) a = b = piece;
    const int first = day_index(a);
    if (first < 0) return day_error(a, err);
    const int last = day_index(b);
    if (last < 0) return day_error(b, err);
    for (int d = first;; d = (d + 1) % 7) {
      result |= 1u << d;
      if (d == last) break;
    }
  }
  *days = result;
  return true;
}

void mjh_hours_text(const mjh_hours *h, mjh_text &out) {
  if (h->span_count == 0) out.add("any");
  for (int i = 0; i < h->span_count; i++) {
    if (i) out.add(',');
    put_span(out, h->spans[i].start, h->spans[i].end);
  }
}

void mjh_days_text(unsigned days, mjh_text &out) {
  days &= MJH_DAYS_ALL;
  if (days == MJH_DAYS_ALL || days == 0) {
    out.add("all");
    return;
  }
  // Runs of three days or more as ranges, shorter ones day by day.
  int pieces = 0;
  for (int d = 0; d < 7;) {
    if (!(days & (1u << d))) {
      d++;
      continue;
    }
    int end = d;
    while (end + 1 < 7 && (days & (1u << (end + 1)))) end++;
    if (pieces++) out.add(',');
    out.add(k_day_names[d]);
    if (end - d >= 2)
      out.add('-', k_day_names[end]);
    else if (end == d + 1)
      out.add(',', k_day_names[end]);
    d = end + 1;
  }
}

// ---- Sessions as people type them -------------------------------------------

bool mjh_duration_parse(const char *text, int64_t *seconds, mjh_text *err) {
  const std::string_view p = mjh_trim_blanks(text ? text : "");
  static constexpr std::string_view k_malformed = " is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m";
  if (p.empty()) return mjh_fail(err, "no duration given: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m");
  // Units 3 h, 2 min, 1 s, each at most once and in that order.
  static constexpr std::string_view k_units[3][5] = {{"s", "sec", "secs", "second", "seconds"},
                                                     {"m", "min", "mins", "minute", "minutes"},
                                                     {"h", "hr", "hour", "hours", ""}};
  int64_t total = 0;
  int last_unit = 0;
  bool too_long = false;
  for (size_t i = 0; i < p.size();) {
    int64_t value = 0;
    size_t digits = 0;
    for (; i < p.size() && is_digit(p[i]); i++, digits++) {
      if (value > MJH_DURATION_MAX_S)
        too_long = true;
      else
        value = value * 10 + (p[i] - '0');
    }
    if (digits == 0) return input_error(err, p, k_malformed);
    while (i < p.size() && p[i] == ' ') i++;
    int unit = 0;
    if (i == p.size()) {
      // A bare number: seconds alone, minutes after hours, seconds after minutes.
      unit = last_unit == 0 ? 1 : last_unit - 1;
    } else {
      const size_t u = i;
      while (i < p.size() && !is_digit(p[i]) && p[i] != ' ') i++;
      const std::string_view word = mjh_slice(p, u, i - u);
      for (int k = 0; k < 3 && !unit; k++)
        for (std::string_view name : k_units[k])
          if (!name.empty() && mjh_equal_ignoring_case(word, name)) unit = k + 1;
      while (i < p.size() && p[i] == ' ') i++;
    }
    if (unit < 1 || (last_unit && unit >= last_unit)) return input_error(err, p, k_malformed);
    last_unit = unit;
    total += value * (unit == 3 ? 3600 : unit == 2 ? 60 : 1);
    if (total > MJH_DURATION_MAX_S) too_long = true;
  }
  if (too_long) {
    if (err) {
      put_input(*err, p);
      err->add(" is too long: at most ", MJH_DURATION_MAX_S, " s (23 days)");
    }
    return false;
  }
  if (total < 1) return input_error(err, p, " is too short: at least 1 s");
  *seconds = total;
  return true;
}

bool mjh_time_of_day_parse(const char *text, int *minute, mjh_text *err) {
  const std::string_view p = mjh_trim_blanks(text ? text : "");
  if (p.empty()) return mjh_fail(err, "no time of day given: write HH:MM, e.g. 17:30");
  const int value = clock_value(p);
  if (value < 0) return clock_error(p, err);
  *minute = value;
  return true;
}

// ---- Words for people --------------------------------------------------------

void mjh_duration_text(int64_t seconds, mjh_text &out) {
  if (seconds < 0) seconds = 0;
  const int64_t parts[3] = {seconds / 3600, seconds / 60 % 60, seconds % 60};
  static constexpr std::string_view k_units[3] = {" h", " min", " s"};
  bool any = false;
  for (int i = 0; i < 3; i++) {
    if (!parts[i]) continue;
    if (any) out.add(' ');
    out.add(parts[i], k_units[i]);
    any = true;
  }
  if (!any) out.add("0 s");
}

void mjh_when_text(const mjh_zone *zone, int64_t now, int64_t t, mjh_text &out) {
  mjh_local_time at, today;
  mjh_to_local(zone, now, &today);
  mjh_to_local(zone, t, &at);
  if (at.day_number == today.day_number + 1)
    out.add("tomorrow ");
  else if (at.day_number != today.day_number)
    out.add(k_day_titles[at.weekday], ' ');
  put_clock(out, at.hour * 60 + at.minute);
}

void mjh_reason_text(const mjh_decision *d, const mjh_session *session, const mjh_zone *zone, int64_t now,
                     mjh_text &out) {
  switch (d->reason) {
    case MJH_REASON_NO_HOURS:
      out.add("no working hours");
      break;
    case MJH_REASON_INSIDE_HOURS:
      out.add("inside working hours");
      break;
    case MJH_REASON_OUTSIDE_HOURS:
      out.add("outside working hours");
      break;
    case MJH_REASON_HOURS_DAMAGED:
      out.add("saved working hours damaged");
      break;
    case MJH_REASON_SESSION:
      out.add("session until ");
      if (!session || session->end == MJH_NO_TIME)
        out.add("stopped");
      else
        mjh_when_text(zone, now, session->end, out);
      break;
    case MJH_REASON_SESSION_ENDED:
      out.add("session ended");
      if (session && session->kind == MJH_SESSION_FOR) {
        out.add(" after ");
        mjh_duration_text(session->end - session->start, out);
      } else if (session && session->end != MJH_NO_TIME) {
        out.add(" at ");
        mjh_when_text(zone, now, session->end, out);
      }
      break;
  }
}

void mjh_waiting_text(const mjh_decision *d, const mjh_session *session, const mjh_zone *zone, int64_t now,
                      mjh_text &out) {
  mjh_reason_text(d, session, zone, now, out);
  if (d->action != MJH_SCHED_WAIT) return;
  if (d->reason == MJH_REASON_HOURS_DAMAGED) {
    out.add(": set them again");
    return;
  }
  out.add(", next start ");
  if (d->next_start == MJH_NO_TIME)
    out.add("none within a week");
  else
    mjh_when_text(zone, now, d->next_start, out);
}

// ---- The status reply's "schedule" ------------------------------------------

namespace {

void put_json_time(mjh_text &out, int64_t t) {
  if (t == MJH_NO_TIME)
    out.add("null");
  else
    out.add(t);
}

}  // namespace

// The texts of hours, days and clocks need no escapes: they go between quotes
// as they are.
void mjh_schedule_json(const mjh_hours *h, const mjh_session *session, const mjh_decision *d, const char *warning,
                       mjh_text &out) {
  out.add("{\"hours\":");
  if (h->span_count == 0) {
    out.add("null,\"days\":null");
  } else {
    out.add('"');
    mjh_hours_text(h, out);
    out.add("\",\"days\":\"");
    mjh_days_text(h->days, out);
    out.add('"');
  }
  out.add(",\"inside\":", d->inside, ",\"session_end\":");
  put_json_time(out, session && session->kind != MJH_SESSION_NONE ? session->end : MJH_NO_TIME);
  out.add(",\"next_start\":");
  put_json_time(out, d->action == MJH_SCHED_WAIT ? d->next_start : MJH_NO_TIME);
  out.add(",\"warning\":");
  if (warning && *warning)
    out.add(mjh_json_quoted{warning});
  else
    out.add("null");
  out.add('}');
}

// ---- Stored working hours ----------------------------------------------------

namespace {

bool is_text(const mjh_value *v) { return v->type == MJH_VALUE_TEXT && v->text; }

}  // namespace

mjh_stored_hours mjh_hours_from_stored(const mjh_value *hours, const mjh_value *days, mjh_hours *out) {
  mjh_hours read;
  mjh_hours_none(&read);
  const bool hours_stored = hours && hours->type != MJH_VALUE_MISSING;
  const bool days_stored = days && days->type != MJH_VALUE_MISSING;
  if ((hours_stored && !(is_text(hours) && mjh_hours_parse(hours->text, &read, nullptr))) ||
      (days_stored && !(is_text(days) && mjh_days_parse(days->text, &read.days, nullptr)))) {
    mjh_hours_none(out);
    out->damaged = true;
    return MJH_STORED_DAMAGED;
  }
  *out = read;
  return read.span_count ? MJH_STORED_AS_STORED : MJH_STORED_NONE;
}

bool mjh_hours_to_stored(const mjh_hours *h, mjh_text &hours, mjh_text &days) {
  if (h->damaged) return false;
  mjh_hours_text(h, hours);
  mjh_days_text(h->days, days);
  return hours.ok() && days.ok();
}

// ---- A start request's schedule ----------------------------------------------

void mjh_schedule_request_none(mjh_schedule_request *r) {
  *r = mjh_schedule_request{};
  mjh_hours_none(&r->hours);
  mjh_programs_none(&r->programs);
}

void mjh_schedule_request_put(const mjh_schedule_request *r, mjh_text &out) { mjh_settings_put(nullptr, 0, r, out); }

bool mjh_schedule_request_apply(const mjh_schedule_request *r, mjh_hours *h, mjh_session *s, const mjh_zone *zone,
                                int64_t now, mjh_text *err) {
  mjh_hours hours = *h;
  mjh_session session = *s;
  mjh_schedule_request_keep(*r, nullptr, &hours, nullptr);
  if (r->given & MJH_SCHED_KEY_FOR) mjh_session_for(&session, now, r->for_s);
  if (r->given & MJH_SCHED_KEY_UNTIL) {
    if (r->until_minute != MJH_UNTIL_END_OF_HOURS)
      mjh_session_until(&session, zone, now, r->until_minute, nullptr);
    else if (!mjh_session_until_end_of_hours(&session, &hours, zone, now, err))
      return false;
  }
  *h = hours;
  *s = session;
  return true;
}
