#include "schedule.h"

#include "json.h"
#include "text.h"

enum { DAY_S = 86400, MINUTES_PER_DAY = 1440 };

/* ---- Writing texts without the C library ---------------------------------------- */

typedef struct writer {
  char *buf;
  size_t size, len; /* len counts what was asked for, also past size */
} writer;

static writer writer_make(char *buf, size_t size) {
  writer w;
  w.buf = buf;
  w.size = size;
  w.len = 0;
  if (size) buf[0] = '\0';
  return w;
}

static void put_char(writer *w, char c) {
  if (w->len + 1 < w->size) {
    w->buf[w->len] = c;
    w->buf[w->len + 1] = '\0';
  }
  w->len++;
}

static void put(writer *w, const char *s) {
  while (*s) put_char(w, *s++);
}

static void put_int(writer *w, int64_t v) {
  char digits[24];
  int n = 0;
  uint64_t u = v < 0 ? (uint64_t)0 - (uint64_t)v : (uint64_t)v;
  if (v < 0) put_char(w, '-');
  do {
    digits[n++] = (char)('0' + u % 10);
    u /= 10;
  } while (u);
  while (n) put_char(w, digits[--n]);
}

static void put_2d(writer *w, int v) {
  put_char(w, (char)('0' + v / 10 % 10));
  put_char(w, (char)('0' + v % 10));
}

static void put_clock(writer *w, int minute_of_day) {
  put_2d(w, minute_of_day / 60);
  put_char(w, ':');
  put_2d(w, minute_of_day % 60);
}

/* A quoted piece of a person's input in a message, cut to stay readable,
 * its control characters escaped so that the message stays one line. */
static void put_quoted(writer *w, const char *s, size_t n) {
  mjh_text_buffer<48> piece;
  mjh_text_buffer<320> quoted;
  piece.add(std::string_view(s, n < 40 ? n : 40), n > 40 ? "..." : "");
  quoted.add(mjh_json_quoted{piece.view()});
  put(w, quoted.c_str());
}

/* For functions that return the length or 0 when it did not fit. */
static size_t writer_result(const writer *w) {
  if (w->len < w->size) return w->len;
  if (w->size) w->buf[0] = '\0';
  return 0;
}

static int fail(char *err, size_t err_size, const char *message) {
  writer w = writer_make(err, err_size);
  put(&w, message);
  return 0;
}

/* ---- Calendar ------------------------------------------------------------------- */

static int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

static int64_t days_from_civil(int64_t y, int m, int d) {
  int64_t era, yoe, doy, doe;
  y -= m <= 2;
  era = floor_div(y, 400);
  yoe = y - era * 400;
  doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

static void civil_from_days(int64_t z, int *year, int *month, int *day) {
  int64_t era, doe, yoe, y, doy, mp;
  z += 719468;
  era = floor_div(z, 146097);
  doe = z - era * 146097;
  yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  mp = (5 * doy + 2) / 153;
  *day = (int)(doy - (153 * mp + 2) / 5 + 1);
  *month = (int)(mp < 10 ? mp + 3 : mp - 9);
  *year = (int)(y + (*month <= 2));
}

static int weekday_of(int64_t day_number) { return (int)(((day_number + 3) % 7 + 7) % 7); }

int64_t mjh_local_seconds(int year, int month, int day, int hour, int minute, int second) {
  return days_from_civil(year, month, day) * DAY_S + hour * 3600 + minute * 60 + second;
}

static int32_t offset_at(const mjh_zone *zone, int64_t utc) { return zone->utc_offset(zone->context, utc); }

void mjh_to_local(const mjh_zone *zone, int64_t utc, mjh_local_time *out) {
  int32_t offset = offset_at(zone, utc);
  int64_t local = utc + offset;
  int64_t day = floor_div(local, DAY_S);
  int64_t second_of_day = local - day * DAY_S;
  civil_from_days(day, &out->year, &out->month, &out->day);
  out->hour = (int)(second_of_day / 3600);
  out->minute = (int)(second_of_day / 60 % 60);
  out->second = (int)(second_of_day % 60);
  out->weekday = weekday_of(day);
  out->day_number = day;
  out->offset = offset;
}

static int64_t local_day(const mjh_zone *zone, int64_t utc) { return floor_div(utc + offset_at(zone, utc), DAY_S); }

int mjh_local_to_utc(const mjh_zone *zone, int64_t local_s, int64_t out[2]) {
  int32_t before = offset_at(zone, local_s - DAY_S);
  int32_t after = offset_at(zone, local_s + DAY_S);
  int64_t candidates[2];
  int n = 0, i;
  candidates[0] = local_s - before;
  candidates[1] = local_s - after;
  for (i = 0; i < 2; i++) {
    int64_t u = candidates[i];
    if (u + offset_at(zone, u) != local_s) continue;
    if (n == 1 && out[0] == u) continue;
    out[n++] = u;
  }
  if (n == 2 && out[0] > out[1]) {
    int64_t t = out[0];
    out[0] = out[1];
    out[1] = t;
  }
  if (n == 0) {
    /* A skipped time: local clocks jump over it between lo and hi; find the
     * first instant whose local time is at or past it. */
    int64_t lo = local_s - (before > after ? before : after);
    int64_t hi = local_s - (before > after ? after : before);
    if (hi + offset_at(zone, hi) < local_s) {
      out[0] = local_s - before; /* not a single change within a day: best effort */
      return 0;
    }
    while (lo < hi) {
      int64_t mid = lo + (hi - lo) / 2;
      if (mid + offset_at(zone, mid) >= local_s)
        hi = mid;
      else
        lo = mid + 1;
    }
    out[0] = lo;
  }
  return n;
}

/* The instant a wall-clock time stands for in a schedule: its first
 * occurrence, or the end of the gap it falls in. */
static int64_t instant_of(const mjh_zone *zone, int64_t local_s) {
  int64_t out[2];
  mjh_local_to_utc(zone, local_s, out);
  return out[0];
}

/* ---- Parsing pieces --------------------------------------------------------------- */

static int is_digit(char c) { return c >= '0' && c <= '9'; }

static char lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

static size_t length(const char *s) {
  size_t n = 0;
  while (s[n]) n++;
  return n;
}

/* Equal ignoring case, s of length n against a NUL-terminated word. */
static int same_word(const char *s, size_t n, const char *word) {
  size_t i;
  for (i = 0; i < n; i++)
    if (!word[i] || lower(s[i]) != word[i]) return 0;
  return word[n] == '\0';
}

/* Trims spaces from both ends of [*s, *s + *n). */
static void trim(const char **s, size_t *n) {
  while (*n && (**s == ' ' || **s == '\t')) (*s)++, (*n)--;
  while (*n && ((*s)[*n - 1] == ' ' || (*s)[*n - 1] == '\t')) (*n)--;
}

/* "H", "HH", "H:MM", "HH:MM" into minutes 0..1440; -1 when malformed. */
static int clock_value(const char *s, size_t n) {
  size_t i = 0;
  int hours = 0, minutes = 0;
  while (i < n && is_digit(s[i]) && i < 2) hours = hours * 10 + (s[i++] - '0');
  if (i == 0) return -1;
  if (i < n) {
    if (s[i] != ':' || n - i != 3 || !is_digit(s[i + 1]) || !is_digit(s[i + 2])) return -1;
    minutes = (s[i + 1] - '0') * 10 + (s[i + 2] - '0');
  }
  if (minutes > 59 || hours > 24 || (hours == 24 && minutes)) return -1;
  return hours * 60 + minutes;
}

static int clock_error(const char *s, size_t n, char *err, size_t err_size) {
  writer w = writer_make(err, err_size);
  put_quoted(&w, s, n);
  put(&w, " is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30");
  return 0;
}

/* ---- Working hours ------------------------------------------------------------------ */

void mjh_hours_none(mjh_hours *h) {
  h->span_count = 0;
  h->days = MJH_DAYS_ALL;
}

static void put_span(writer *w, const mjh_span *s) {
  put_clock(w, s->start);
  put_char(w, '-');
  put_clock(w, s->end);
}

/* The span as an interval of minutes on a line, its end past its start. */
static int span_end_line(const mjh_span *s) { return s->end < s->start ? s->end + MINUTES_PER_DAY : s->end; }

static int spans_overlap(const mjh_span *a, const mjh_span *b) {
  int shift;
  for (shift = -MINUTES_PER_DAY; shift <= MINUTES_PER_DAY; shift += MINUTES_PER_DAY)
    if (a->start < span_end_line(b) + shift && b->start + shift < span_end_line(a)) return 1;
  return 0;
}

/* The comma-separated pieces of a list, each trimmed; an empty piece is
 * returned too, so that "a,,b" and "a," are refused rather than read. */
typedef struct list_reader {
  const char *at;
  size_t left;
  int done;
} list_reader;

static list_reader list_make(const char *at, size_t left) {
  list_reader r;
  r.at = at;
  r.left = left;
  r.done = 0;
  return r;
}

static int list_next(list_reader *r, const char **piece, size_t *n) {
  size_t k = 0;
  if (r->done) return 0;
  while (k < r->left && r->at[k] != ',') k++;
  *piece = r->at;
  *n = k;
  trim(piece, n);
  if (k == r->left) {
    r->done = 1;
  } else {
    r->at += k + 1;
    r->left -= k + 1;
  }
  return 1;
}

/* Splits "A-B" at its last dash into trimmed halves; 0 when there is none. */
static int split_range(const char *s, size_t n, const char **a, size_t *an, const char **b, size_t *bn) {
  size_t dash = n;
  while (dash > 0 && s[dash - 1] != '-') dash--;
  if (dash == 0) return 0;
  *a = s;
  *an = dash - 1;
  *b = s + dash;
  *bn = n - dash;
  trim(a, an);
  trim(b, bn);
  return 1;
}

static int read_span(const char *s, size_t n, mjh_span *out, char *err, size_t err_size) {
  const char *a, *b;
  size_t an, bn;
  if (!split_range(s, n, &a, &an, &b, &bn)) {
    writer w = writer_make(err, err_size);
    put_quoted(&w, s, n);
    put(&w, " is not a span: write START-END, e.g. 08:30-12:00");
    return 0;
  }
  out->start = clock_value(a, an);
  if (out->start < 0) return clock_error(a, an, err, err_size);
  out->end = clock_value(b, bn);
  if (out->end < 0) return clock_error(b, bn, err, err_size);
  if (out->start == MINUTES_PER_DAY) return fail(err, err_size, "a span cannot start at 24:00: write 00:00");
  if (out->end == out->start) {
    writer w = writer_make(err, err_size);
    put(&w, "the span ");
    put_span(&w, out);
    put(&w, " is empty; for a whole day write 00:00-24:00");
    return 0;
  }
  if (out->end == 0) out->end = MINUTES_PER_DAY;
  return 1;
}

int mjh_hours_parse(const char *text, mjh_hours *h, char *err, size_t err_size) {
  mjh_span spans[MJH_SPANS_MAX + 1];
  int count = 0, i, j;
  const char *p = text, *piece;
  size_t all = length(text), n;
  list_reader list;
  trim(&p, &all);
  if (all == 0) return fail(err, err_size, "no working hours given: write e.g. 08:30-12:00,13:00-17:30, or any");
  if (same_word(p, all, "any")) {
    h->span_count = 0;
    return 1;
  }
  list = list_make(p, all);
  while (list_next(&list, &piece, &n)) {
    if (!read_span(piece, n, &spans[count], err, err_size)) return 0;
    if (count == MJH_SPANS_MAX) {
      writer w = writer_make(err, err_size);
      put(&w, "too many spans: at most ");
      put_int(&w, MJH_SPANS_MAX);
      return 0;
    }
    for (i = 0; i < count; i++)
      if (spans_overlap(&spans[i], &spans[count])) {
        writer w = writer_make(err, err_size);
        put(&w, "the spans ");
        put_span(&w, &spans[i]);
        put(&w, " and ");
        put_span(&w, &spans[count]);
        put(&w, " overlap");
        return 0;
      }
    count++;
  }
  for (i = 1; i < count; i++)
    for (j = i; j > 0 && spans[j - 1].start > spans[j].start; j--) {
      mjh_span t = spans[j];
      spans[j] = spans[j - 1];
      spans[j - 1] = t;
    }
  for (i = 0; i < count; i++) h->spans[i] = spans[i];
  h->span_count = count;
  return 1;
}

bool mjh_hours_parse(const char *text, mjh_hours *h, mjh_text *err) {
  char message[256];
  if (mjh_hours_parse(text, h, message, sizeof message)) return true;
  if (err) err->add(message);
  return false;
}

static const char *const k_day_names[7] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
static const char *const k_day_full[7] = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
static const char *const k_day_titles[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

static int day_index(const char *s, size_t n) {
  int i;
  for (i = 0; i < 7; i++)
    if (same_word(s, n, k_day_names[i]) || same_word(s, n, k_day_full[i])) return i;
  return -1;
}

static int day_error(const char *s, size_t n, char *err, size_t err_size) {
  writer w = writer_make(err, err_size);
  put_quoted(&w, s, n);
  put(&w, " is not a day: use mon, tue, wed, thu, fri, sat, sun, a range such as mon-fri, or all");
  return 0;
}

int mjh_days_parse(const char *text, unsigned *days, char *err, size_t err_size) {
  const char *p = text, *piece, *a, *b;
  size_t all = length(text), n, an, bn;
  unsigned result = 0;
  list_reader list;
  trim(&p, &all);
  if (all == 0) return fail(err, err_size, "no days given: write e.g. mon-fri, sat,sun or all");
  if (same_word(p, all, "all") || same_word(p, all, "daily") || same_word(p, all, "every day") ||
      same_word(p, all, "everyday")) {
    *days = MJH_DAYS_ALL;
    return 1;
  }
  if (same_word(p, all, "weekdays")) {
    *days = 0x1f;
    return 1;
  }
  if (same_word(p, all, "weekend") || same_word(p, all, "weekends")) {
    *days = 0x60;
    return 1;
  }
  list = list_make(p, all);
  while (list_next(&list, &piece, &n)) {
    int first, last, d;
    if (!split_range(piece, n, &a, &an, &b, &bn)) {
      a = b = piece;
      an = bn = n;
    }
    first = day_index(a, an);
    if (first < 0) return day_error(a, an, err, err_size);
    last = day_index(b, bn);
    if (last < 0) return day_error(b, bn, err, err_size);
    for (d = first;; d = (d + 1) % 7) {
      result |= 1u << d;
      if (d == last) break;
    }
  }
  *days = result;
  return 1;
}

bool mjh_days_parse(const char *text, unsigned *days, mjh_text *err) {
  char message[256];
  if (mjh_days_parse(text, days, message, sizeof message)) return true;
  if (err) err->add(message);
  return false;
}

size_t mjh_hours_text(const mjh_hours *h, char *buf, size_t size) {
  writer w = writer_make(buf, size);
  int i;
  if (h->span_count == 0) put(&w, "any");
  for (i = 0; i < h->span_count; i++) {
    if (i) put_char(&w, ',');
    put_span(&w, &h->spans[i]);
  }
  return writer_result(&w);
}

size_t mjh_days_text(unsigned days, char *buf, size_t size) {
  writer w = writer_make(buf, size);
  int d = 0, pieces = 0;
  days &= MJH_DAYS_ALL;
  if (days == MJH_DAYS_ALL || days == 0) {
    put(&w, "all");
    return writer_result(&w);
  }
  while (d < 7) {
    int end = d;
    if (!(days & (1u << d))) {
      d++;
      continue;
    }
    while (end + 1 < 7 && (days & (1u << (end + 1)))) end++;
    if (pieces++) put_char(&w, ',');
    put(&w, k_day_names[d]);
    if (end - d >= 2) {
      put_char(&w, '-');
      put(&w, k_day_names[end]);
    } else if (end == d + 1) {
      put_char(&w, ',');
      put(&w, k_day_names[end]);
    }
    d = end + 1;
  }
  return writer_result(&w);
}

/* ---- The spans as instants ------------------------------------------------------------ */

enum { WINDOW_DAYS_BEFORE = 2, WINDOW_DAYS_AFTER = 10, WINDOWS_MAX = (2 + 10 + 1) * MJH_SPANS_MAX };

typedef struct window {
  int64_t start, end; /* [start, end) in UTC */
  int64_t day;        /* the local day it starts on */
} window;

/* The non-empty span instances of the local days around `around`, in order. */
static int windows_around(const mjh_hours *h, const mjh_zone *zone, int64_t around, window *out) {
  int64_t first = local_day(zone, around) - WINDOW_DAYS_BEFORE, day;
  int n = 0, i;
  for (day = first; day <= first + WINDOW_DAYS_BEFORE + WINDOW_DAYS_AFTER; day++) {
    if (!(h->days & (1u << weekday_of(day)))) continue;
    for (i = 0; i < h->span_count; i++) {
      const mjh_span *s = &h->spans[i];
      int64_t start = instant_of(zone, day * DAY_S + (int64_t)s->start * 60);
      int64_t end = instant_of(zone, day * DAY_S + (int64_t)span_end_line(s) * 60);
      if (end <= start) continue; /* wholly in a skipped hour */
      out[n].start = start;
      out[n].end = end;
      out[n].day = day;
      n++;
    }
  }
  return n;
}

/* The end of the stretch windows[i] begins or is part of: touching windows
 * chain. MJH_NO_TIME when it runs to the end of what was computed. */
static int64_t stretch_end(const window *w, int n, int i) {
  int64_t end = w[i].end;
  for (i++; i < n && w[i].start <= end; i++)
    if (w[i].end > end) end = w[i].end;
  return i == n ? MJH_NO_TIME : end;
}

/* The window holding now, or -1. */
static int window_at(const window *w, int n, int64_t now) {
  int i;
  for (i = 0; i < n; i++)
    if (w[i].start <= now && now < w[i].end) return i;
  return -1;
}

/* The first window from which a stretch starts at or after t (strictly after
 * when `after`), or -1. */
static int stretch_start_from(const window *w, int n, int64_t t, int after) {
  int i;
  for (i = 0; i < n; i++) {
    if (w[i].start < t || (after && w[i].start == t)) continue;
    if (i > 0 && w[i - 1].end >= w[i].start) continue; /* a continuation */
    return i;
  }
  return -1;
}

int mjh_hours_inside(const mjh_hours *h, const mjh_zone *zone, int64_t now, int64_t *stretch_end_out) {
  window w[WINDOWS_MAX];
  int n, i;
  if (stretch_end_out) *stretch_end_out = MJH_NO_TIME;
  if (h->span_count == 0) return 1;
  n = windows_around(h, zone, now, w);
  i = window_at(w, n, now);
  if (i < 0) return 0;
  if (stretch_end_out) *stretch_end_out = stretch_end(w, n, i);
  return 1;
}

int64_t mjh_hours_next_start(const mjh_hours *h, const mjh_zone *zone, int64_t now) {
  window w[WINDOWS_MAX];
  int n, i;
  int64_t from = now;
  if (h->span_count == 0) return MJH_NO_TIME;
  n = windows_around(h, zone, now, w);
  i = window_at(w, n, now);
  if (i >= 0) {
    from = stretch_end(w, n, i);
    if (from == MJH_NO_TIME) return MJH_NO_TIME;
  }
  i = stretch_start_from(w, n, from, 1);
  return i < 0 ? MJH_NO_TIME : w[i].start;
}

/* ---- Durations and times of day -------------------------------------------------------- */

int mjh_duration_parse(const char *text, int64_t *seconds, char *err, size_t err_size) {
  const char *p = text;
  size_t n = length(text), i = 0;
  int64_t total = 0;
  int last_unit = 0; /* 3 h, 2 m, 1 s: units must come in that order */
  int too_long = 0;
  trim(&p, &n);
  if (n == 0) return fail(err, err_size, "no duration given: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m");
  while (i < n) {
    int64_t value = 0;
    int unit;
    size_t digits = 0;
    while (i < n && is_digit(p[i])) {
      if (value > MJH_DURATION_MAX_S)
        too_long = 1;
      else
        value = value * 10 + (p[i] - '0');
      i++, digits++;
    }
    if (digits == 0) goto malformed;
    while (i < n && p[i] == ' ') i++;
    if (i == n) {
      /* A bare number: seconds alone, minutes after hours, seconds after minutes. */
      unit = last_unit == 0 ? 1 : last_unit - 1;
      if (unit < 1) goto malformed;
    } else {
      size_t u = i;
      while (i < n && !is_digit(p[i]) && p[i] != ' ') i++;
      if (same_word(p + u, i - u, "h") || same_word(p + u, i - u, "hr") || same_word(p + u, i - u, "hour") ||
          same_word(p + u, i - u, "hours"))
        unit = 3;
      else if (same_word(p + u, i - u, "m") || same_word(p + u, i - u, "min") || same_word(p + u, i - u, "mins") ||
               same_word(p + u, i - u, "minute") || same_word(p + u, i - u, "minutes"))
        unit = 2;
      else if (same_word(p + u, i - u, "s") || same_word(p + u, i - u, "sec") || same_word(p + u, i - u, "secs") ||
               same_word(p + u, i - u, "second") || same_word(p + u, i - u, "seconds"))
        unit = 1;
      else
        goto malformed;
      while (i < n && p[i] == ' ') i++;
    }
    if (last_unit && unit >= last_unit) goto malformed;
    last_unit = unit;
    total += value * (unit == 3 ? 3600 : unit == 2 ? 60 : 1);
    if (total > MJH_DURATION_MAX_S) too_long = 1;
  }
  if (too_long) {
    writer w = writer_make(err, err_size);
    put_quoted(&w, p, n);
    put(&w, " is too long: at most ");
    put_int(&w, MJH_DURATION_MAX_S);
    put(&w, " s (23 days)");
    return 0;
  }
  if (total < 1) {
    writer w = writer_make(err, err_size);
    put_quoted(&w, p, n);
    put(&w, " is too short: at least 1 s");
    return 0;
  }
  *seconds = total;
  return 1;
malformed : {
  writer w = writer_make(err, err_size);
  put_quoted(&w, p, n);
  put(&w, " is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m");
  return 0;
}
}

int mjh_time_of_day_parse(const char *text, int *minute, char *err, size_t err_size) {
  const char *p = text;
  size_t n = length(text);
  int value;
  trim(&p, &n);
  if (n == 0) return fail(err, err_size, "no time of day given: write HH:MM, e.g. 17:30");
  value = clock_value(p, n);
  if (value < 0) return clock_error(p, n, err, err_size);
  *minute = value;
  return 1;
}

/* ---- Sessions ----------------------------------------------------------------------------- */

void mjh_session_for(mjh_session *s, int64_t now, int64_t seconds) {
  s->kind = MJH_SESSION_FOR;
  s->start = now;
  s->end = now + seconds;
}

void mjh_session_until(mjh_session *s, const mjh_zone *zone, int64_t now, int minute, int *tomorrow) {
  int64_t today = local_day(zone, now), at[2], end = MJH_NO_TIME;
  int count = mjh_local_to_utc(zone, today * DAY_S + (int64_t)minute * 60, at), i;
  for (i = 0; i < (count ? count : 1) && end == MJH_NO_TIME; i++)
    if (at[i] > now) end = at[i];
  if (tomorrow) *tomorrow = end == MJH_NO_TIME;
  if (end == MJH_NO_TIME) end = instant_of(zone, (today + 1) * DAY_S + (int64_t)minute * 60);
  s->kind = MJH_SESSION_UNTIL;
  s->start = now;
  s->end = end;
}

int mjh_session_until_end_of_hours(mjh_session *s, const mjh_hours *h, const mjh_zone *zone, int64_t now, char *err,
                                   size_t err_size) {
  window w[WINDOWS_MAX];
  int n, i, last = -1;
  int64_t today = local_day(zone, now), end;
  if (h->span_count == 0) return fail(err, err_size, "no working hours are set");
  n = windows_around(h, zone, now, w);
  for (i = 0; i < n; i++)
    if (w[i].end > now && (w[i].day == today || w[i].start <= now)) last = i;
  if (last < 0) return fail(err, err_size, "no working hours are left today");
  end = stretch_end(w, n, last);
  if (end == MJH_NO_TIME) return fail(err, err_size, "today's working hours do not end within a week");
  s->kind = MJH_SESSION_UNTIL;
  s->start = now;
  s->end = end;
  return 1;
}

void mjh_session_clock_changed(mjh_session *s, int64_t jump) {
  if (s->kind != MJH_SESSION_FOR) return;
  s->start += jump;
  s->end += jump;
}

/* ---- Deciding ------------------------------------------------------------------------------ */

static void finish(mjh_decision *d, int64_t now) {
  if (d->action == MJH_SCHED_STOP) {
    d->recheck_s = 0;
    return;
  }
  if (d->next_change != MJH_NO_TIME && d->next_change <= now) d->next_change = now + 1;
  d->recheck_s = d->next_change == MJH_NO_TIME ? int64_t{MJH_RECHECK_MAX_S} : d->next_change - now;
  if (d->recheck_s > MJH_RECHECK_MAX_S) d->recheck_s = MJH_RECHECK_MAX_S;
}

void mjh_decide(const mjh_hours *h, const mjh_session *session, const mjh_zone *zone, int64_t now, mjh_decision *d) {
  int64_t stretch = MJH_NO_TIME;
  d->inside = mjh_hours_inside(h, zone, now, &stretch);
  d->run_until = MJH_NO_TIME;
  d->next_start = MJH_NO_TIME;
  d->next_change = MJH_NO_TIME;
  if (session && session->kind != MJH_SESSION_NONE) {
    if (session->end == MJH_NO_TIME || now < session->end) {
      d->action = MJH_SCHED_RUN;
      d->reason = MJH_REASON_SESSION;
      d->run_until = d->next_change = session->end;
      finish(d, now);
      return;
    }
    if (h->span_count == 0) {
      d->action = MJH_SCHED_STOP;
      d->reason = MJH_REASON_SESSION_ENDED;
      finish(d, now);
      return;
    }
    {
      /* Held off until a stretch starts at or after the session's end. */
      window w[WINDOWS_MAX];
      int n = windows_around(h, zone, session->end, w);
      int i = stretch_start_from(w, n, session->end, 0);
      int64_t resume = i < 0 ? MJH_NO_TIME : w[i].start;
      if (resume == MJH_NO_TIME || now < resume) {
        d->action = MJH_SCHED_WAIT;
        d->reason = MJH_REASON_SESSION_ENDED;
        d->next_start = d->next_change = resume;
        finish(d, now);
        return;
      }
    }
  }
  if (h->span_count == 0) {
    d->action = MJH_SCHED_RUN;
    d->reason = MJH_REASON_NO_HOURS;
  } else if (d->inside) {
    d->action = MJH_SCHED_RUN;
    d->reason = MJH_REASON_INSIDE_HOURS;
    d->run_until = d->next_change = stretch;
  } else {
    d->action = MJH_SCHED_WAIT;
    d->reason = MJH_REASON_OUTSIDE_HOURS;
    d->next_start = d->next_change = mjh_hours_next_start(h, zone, now);
  }
  finish(d, now);
}

/* ---- The interval and the screen lock ---------------------------------------------------------- */

int mjh_lock_timeout(int saver_active, int saver_timeout_s, int display_off_s) {
  int lock = saver_active && saver_timeout_s > 0 ? saver_timeout_s : 0;
  if (display_off_s > 0 && (lock == 0 || display_off_s < lock)) lock = display_off_s;
  return lock;
}

int mjh_interval_safe(int interval_s, int only_when_idle, int lock_s) {
  if (lock_s <= 0) return 1;
  return (int64_t)interval_s * (only_when_idle ? 2 : 1) <= (int64_t)lock_s - MJH_LOCK_MARGIN_S;
}

int mjh_largest_safe_interval(int only_when_idle, int lock_s) {
  int64_t largest;
  if (lock_s <= 0) return 3600;
  largest = ((int64_t)lock_s - MJH_LOCK_MARGIN_S) / (only_when_idle ? 2 : 1);
  return largest < 1 ? 1 : largest > 3600 ? 3600 : (int)largest;
}

void mjh_interval_warning(int interval_s, int only_when_idle, int lock_s, char *buf, size_t size) {
  mjh_interval_warning_of(interval_s, only_when_idle, lock_s, MJH_LOCK_SCREEN_LOCK, buf, size);
}

void mjh_interval_warning_short(int interval_s, int only_when_idle, int lock_s, char *buf, size_t size) {
  mjh_interval_warning_short_of(interval_s, only_when_idle, lock_s, MJH_LOCK_SCREEN_LOCK, buf, size);
}

void mjh_interval_warning_of(int interval_s, int only_when_idle, int lock_s, mjh_lock_kind kind, char *buf,
                             size_t size) {
  writer w = writer_make(buf, size);
  int largest = mjh_largest_safe_interval(only_when_idle, lock_s);
  if (mjh_interval_safe(interval_s, only_when_idle, lock_s)) return;
  put(&w, kind == MJH_LOCK_DISPLAY_OFF    ? "the display turns off after "
          : kind == MJH_LOCK_SCREEN_SAVER ? "the screen saver starts after "
                                          : "the screen locks after ");
  put_int(&w, lock_s);
  put(&w, " s of inactivity; ");
  if (only_when_idle) {
    put(&w, "in only-when-idle mode a nudge can come up to ");
    put_int(&w, 2 * (int64_t)interval_s);
    put(&w, " s (twice ");
    put_int(&w, interval_s);
    put(&w, " s) after your last input");
  } else {
    put(&w, "nudges every ");
    put_int(&w, interval_s);
    put(&w, " s come too late");
  }
  if (mjh_interval_safe(largest, only_when_idle, lock_s)) {
    put(&w, ": choose ");
    put_int(&w, largest);
    put(&w, " s or less");
  } else {
    put(&w, ": no interval is short enough");
  }
}

void mjh_interval_warning_short_of(int interval_s, int only_when_idle, int lock_s, mjh_lock_kind kind, char *buf,
                                   size_t size) {
  writer w = writer_make(buf, size);
  int largest = mjh_largest_safe_interval(only_when_idle, lock_s);
  if (mjh_interval_safe(interval_s, only_when_idle, lock_s)) return;
  put(&w, kind == MJH_LOCK_DISPLAY_OFF    ? "display off after "
          : kind == MJH_LOCK_SCREEN_SAVER ? "screen saver after "
                                          : "locks after ");
  put_int(&w, lock_s);
  put(&w, " s: use ");
  put_int(&w, largest);
  put(&w, " s or less");
}

/* ---- Texts --------------------------------------------------------------------------------------- */

static void put_duration(writer *w, int64_t s) {
  int64_t parts[3];
  static const char *const units[3] = {" h", " min", " s"};
  int i, any = 0;
  if (s < 0) s = 0;
  parts[0] = s / 3600;
  parts[1] = s / 60 % 60;
  parts[2] = s % 60;
  for (i = 0; i < 3; i++) {
    if (!parts[i]) continue;
    if (any++) put_char(w, ' ');
    put_int(w, parts[i]);
    put(w, units[i]);
  }
  if (!any) put(w, "0 s");
}

void mjh_duration_text(int64_t seconds, char *buf, size_t size) {
  writer w = writer_make(buf, size);
  put_duration(&w, seconds);
}

static void put_when(writer *w, const mjh_zone *zone, int64_t now, int64_t t) {
  mjh_local_time at, today;
  mjh_to_local(zone, now, &today);
  mjh_to_local(zone, t, &at);
  if (at.day_number == today.day_number + 1) {
    put(w, "tomorrow ");
  } else if (at.day_number != today.day_number) {
    put(w, k_day_titles[at.weekday]);
    put_char(w, ' ');
  }
  put_clock(w, at.hour * 60 + at.minute);
}

void mjh_when_text(const mjh_zone *zone, int64_t now, int64_t t, char *buf, size_t size) {
  writer w = writer_make(buf, size);
  put_when(&w, zone, now, t);
}

void mjh_when_text(const mjh_zone *zone, int64_t now, int64_t t, mjh_text &out) {
  char text[64];
  mjh_when_text(zone, now, t, text, sizeof text);
  out.add(text);
}

static void put_reason(writer *w, const mjh_decision *d, const mjh_session *session, const mjh_zone *zone,
                       int64_t now) {
  switch (d->reason) {
    case MJH_REASON_NO_HOURS:
      put(w, "no working hours");
      break;
    case MJH_REASON_INSIDE_HOURS:
      put(w, "inside working hours");
      break;
    case MJH_REASON_OUTSIDE_HOURS:
      put(w, "outside working hours");
      break;
    case MJH_REASON_SESSION:
      put(w, "session until ");
      if (!session || session->end == MJH_NO_TIME)
        put(w, "stopped");
      else
        put_when(w, zone, now, session->end);
      break;
    case MJH_REASON_SESSION_ENDED:
      put(w, "session ended");
      if (session && session->kind == MJH_SESSION_FOR) {
        put(w, " after ");
        put_duration(w, session->end - session->start);
      } else if (session && session->end != MJH_NO_TIME) {
        put(w, " at ");
        put_when(w, zone, now, session->end);
      }
      break;
  }
}

void mjh_reason_text(const mjh_decision *d, const mjh_session *session, const mjh_zone *zone, int64_t now, char *buf,
                     size_t size) {
  writer w = writer_make(buf, size);
  put_reason(&w, d, session, zone, now);
}

void mjh_waiting_text(const mjh_decision *d, const mjh_session *session, const mjh_zone *zone, int64_t now, char *buf,
                      size_t size) {
  writer w = writer_make(buf, size);
  put_reason(&w, d, session, zone, now);
  if (d->action != MJH_SCHED_WAIT) return;
  put(&w, ", next start ");
  if (d->next_start == MJH_NO_TIME)
    put(&w, "none within a week");
  else
    put_when(&w, zone, now, d->next_start);
}

void mjh_schedule_sentence(const mjh_hours *h, const mjh_session *session, const mjh_decision *d, const char *warning,
                           const mjh_zone *zone, int64_t now, char *buf, size_t size) {
  writer w = writer_make(buf, size);
  char text[8 * MJH_SPANS_MAX * 12];
  if (h->span_count == 0) {
    put(&w, "no working hours");
  } else {
    put(&w, "working hours ");
    mjh_days_text(h->days, text, sizeof text);
    put(&w, text);
    put_char(&w, ' ');
    mjh_hours_text(h, text, sizeof text);
    put(&w, text);
    put(&w, d->inside ? ": inside" : ": outside");
    if (d->reason == MJH_REASON_INSIDE_HOURS && d->run_until != MJH_NO_TIME) {
      put(&w, ", until ");
      put_when(&w, zone, now, d->run_until);
    }
    if (d->action == MJH_SCHED_WAIT) {
      put(&w, ", next start ");
      if (d->next_start == MJH_NO_TIME)
        put(&w, "none within a week");
      else
        put_when(&w, zone, now, d->next_start);
    }
  }
  if (session && session->kind != MJH_SESSION_NONE) {
    put(&w, "; ");
    if (d->reason == MJH_REASON_SESSION_ENDED) {
      put_reason(&w, d, session, zone, now);
    } else if (session->end == MJH_NO_TIME) {
      put(&w, "session until stopped");
    } else {
      put(&w, "session ends ");
      put_when(&w, zone, now, session->end);
    }
  }
  if (warning && *warning) {
    put(&w, "; warning: ");
    put(&w, warning);
  }
}

static void put_json_string(writer *w, const char *s) {
  static const char hex[] = "0123456789abcdef";
  put_char(w, '"');
  for (; *s; s++) {
    unsigned char c = (unsigned char)*s;
    if (c == '"' || c == '\\') {
      put_char(w, '\\');
      put_char(w, (char)c);
    } else if (c < 0x20) {
      put(w, "\\u00");
      put_char(w, hex[c >> 4]);
      put_char(w, hex[c & 15]);
    } else {
      put_char(w, (char)c);
    }
  }
  put_char(w, '"');
}

static void put_json_time(writer *w, int64_t t) {
  if (t == MJH_NO_TIME)
    put(w, "null");
  else
    put_int(w, t);
}

size_t mjh_schedule_json(const mjh_hours *h, const mjh_session *session, const mjh_decision *d, const char *warning,
                         char *buf, size_t size) {
  writer w = writer_make(buf, size);
  char text[8 * MJH_SPANS_MAX * 12];
  put(&w, "{\"hours\":");
  if (h->span_count == 0) {
    put(&w, "null,\"days\":null");
  } else {
    mjh_hours_text(h, text, sizeof text);
    put_json_string(&w, text);
    put(&w, ",\"days\":");
    mjh_days_text(h->days, text, sizeof text);
    put_json_string(&w, text);
  }
  put(&w, ",\"inside\":");
  put(&w, d->inside ? "true" : "false");
  put(&w, ",\"session_end\":");
  put_json_time(&w, session && session->kind != MJH_SESSION_NONE ? session->end : MJH_NO_TIME);
  put(&w, ",\"next_start\":");
  put_json_time(&w, d->action == MJH_SCHED_WAIT ? d->next_start : MJH_NO_TIME);
  put(&w, ",\"warning\":");
  if (warning && *warning)
    put_json_string(&w, warning);
  else
    put(&w, "null");
  put_char(&w, '}');
  return writer_result(&w);
}

/* ---- Stored working hours ------------------------------------------------------------------------ */

int mjh_hours_from_stored(const mjh_value *hours, const mjh_value *days, mjh_hours *out) {
  mjh_hours read;
  int hours_stored = hours && hours->type != MJH_VALUE_MISSING;
  int days_stored = days && days->type != MJH_VALUE_MISSING;
  mjh_hours_none(&read);
  mjh_hours_none(out);
  if (hours_stored && (hours->type != MJH_VALUE_TEXT || !hours->text || !mjh_hours_parse(hours->text, &read, 0, 0)))
    return 0;
  if (days_stored && (days->type != MJH_VALUE_TEXT || !days->text || !mjh_days_parse(days->text, &read.days, 0, 0)))
    return 0;
  *out = read;
  return 1;
}

void mjh_hours_to_stored(const mjh_hours *h, char hours[MJH_HOURS_TEXT_MAX], char days[MJH_DAYS_TEXT_MAX]) {
  mjh_hours_text(h, hours, MJH_HOURS_TEXT_MAX);
  mjh_days_text(h->days, days, MJH_DAYS_TEXT_MAX);
}

/* ---- A start request's schedule ---------------------------------------------------------------------- */

enum { SCHEDULE_VALUE_MAX = 128 }; /* longer than any text the keys accept */

static const char *const k_schedule_keys[] = {"hours", "days", "for", "until"};

void mjh_schedule_request_none(mjh_schedule_request *r) {
  r->given = 0;
  mjh_hours_none(&r->hours);
  r->for_s = 0;
  r->until_minute = 0;
}

static int schedule_key_bit(const char *text, const mjh_jtok *key) {
  int i;
  for (i = 0; i < 4; i++)
    if (mjh_json_string_is(text, key, k_schedule_keys[i])) return 1 << i;
  return 0;
}

int mjh_schedule_key(const char *text, const struct mjh_jtok *key) { return schedule_key_bit(text, key) != 0; }

/* mjh_json_error_with_value into err (err_size bytes, may be NULL). */
static void json_error_with_value(const char *text, const mjh_jtok *v, const char *what, char *err, size_t err_size) {
  if (err == NULL || err_size == 0) return;
  mjh_text e(err, err_size);
  mjh_json_error_with_value(text, v, what, &e);
}

/* The decoded text of string token v into out, or 0 with `"<key>" must be
 * <what>, not <value>`. */
static int schedule_text(const char *text, const mjh_jtok *v, const char *key, const char *what, char *out, char *err,
                         size_t err_size) {
  char message[160];
  writer w = writer_make(message, sizeof message);
  if (v->type == MJH_JSON_STRING) {
    int n = mjh_json_string(text, v, out, SCHEDULE_VALUE_MAX);
    if (n >= 0 && length(out) == (size_t)n) return 1; /* not too long, no \u0000 inside */
  }
  put_char(&w, '"');
  put(&w, key);
  put(&w, "\" must be ");
  put(&w, what);
  put(&w, ", not ");
  json_error_with_value(text, v, message, err, err_size);
  return 0;
}

/* `"<key>": <message>` for text that does not read. */
static int schedule_value_error(const char *key, const char *message, char *err, size_t err_size) {
  writer w = writer_make(err, err_size);
  put_char(&w, '"');
  put(&w, key);
  put(&w, "\": ");
  put(&w, message);
  return 0;
}

static int read_schedule_value(const char *text, const mjh_jtok *v, int bit, mjh_schedule_request *r, char *err,
                               size_t err_size) {
  char value[SCHEDULE_VALUE_MAX], message[160];
  long long seconds;
  switch (bit) {
    case MJH_SCHED_KEY_HOURS:
      if (!schedule_text(text, v, "hours", "a text such as \"08:30-12:00,13:00-17:30\" or \"any\"", value, err,
                         err_size))
        return 0;
      if (!mjh_hours_parse(value, &r->hours, message, sizeof message))
        return schedule_value_error("hours", message, err, err_size);
      return 1;
    case MJH_SCHED_KEY_DAYS:
      if (!schedule_text(text, v, "days", "a text such as \"mon-fri\"", value, err, err_size)) return 0;
      if (!mjh_days_parse(value, &r->hours.days, message, sizeof message))
        return schedule_value_error("days", message, err, err_size);
      return 1;
    case MJH_SCHED_KEY_FOR:
      if (v->type == MJH_JSON_PRIMITIVE) {
        if (mjh_json_whole(text, v, 1, MJH_DURATION_MAX_S, &seconds)) {
          r->for_s = seconds;
          return 1;
        }
        json_error_with_value(text, v,
                              "\"for\" must be whole seconds from 1 to 2000000 or a text such as \"1h30m\", not ", err,
                              err_size);
        return 0;
      }
      if (!schedule_text(text, v, "for", "whole seconds or a text such as \"1h30m\"", value, err, err_size)) return 0;
      if (!mjh_duration_parse(value, &r->for_s, message, sizeof message))
        return schedule_value_error("for", message, err, err_size);
      return 1;
    default:
      if (!schedule_text(text, v, "until", "a time of day such as \"17:30\", or \"end\"", value, err, err_size))
        return 0;
      if (same_word(value, length(value), "end")) {
        r->until_minute = MJH_UNTIL_END_OF_HOURS;
        return 1;
      }
      if (!mjh_time_of_day_parse(value, &r->until_minute, message, sizeof message))
        return schedule_value_error("until", message, err, err_size);
      return 1;
  }
}

int mjh_schedule_from_tokens(const char *text, const struct mjh_jtok *t, int count, int obj, int ignore_unknown,
                             mjh_schedule_request *r, char *err, size_t err_size) {
  mjh_schedule_request result = *r;
  int i;
  for (i = obj + 1; i < count && t[i].start < t[obj].end; i = mjh_json_skip(t, count, i + 1)) {
    int bit = schedule_key_bit(text, &t[i]);
    if (!bit) {
      if (ignore_unknown) continue;
      if (err != NULL && err_size > 0) {
        mjh_text e(err, err_size);
        mjh_json_unknown_key_error(text, &t[i], &e);
      }
      return 0;
    }
    if (result.given & (unsigned)bit) {
      writer w = writer_make(err, err_size);
      put(&w, "duplicate key \"");
      put(&w, k_schedule_keys[bit == 1 ? 0 : bit == 2 ? 1 : bit == 4 ? 2 : 3]);
      put_char(&w, '"');
      return 0;
    }
    if (!read_schedule_value(text, &t[i + 1], bit, &result, err, err_size)) return 0;
    result.given |= (unsigned)bit;
  }
  if ((result.given & MJH_SCHED_KEY_FOR) && (result.given & MJH_SCHED_KEY_UNTIL))
    return fail(err, err_size, "\"for\" and \"until\" cannot both be given");
  *r = result;
  return 1;
}

bool mjh_start_options_from_tokens(const char *text, const struct mjh_jtok *t, int count, int obj, mjh_options *o,
                                   unsigned *given, mjh_schedule_request *r, mjh_text *err) {
  /* The object without its schedule members, for the options reader to
   * refuse whatever else it does not know. */
  mjh_jtok rest[MJH_JSON_TOKENS_MAX];
  int map[MJH_JSON_TOKENS_MAX];
  int n = 1, i, k;
  mjh_schedule_request schedule = *r;
  char message[256];
  if (count > MJH_JSON_TOKENS_MAX) {
    if (err) err->add("too many tokens");
    return false;
  }
  if (!mjh_schedule_from_tokens(text, t, count, obj, 1, &schedule, message, sizeof message)) {
    if (err) err->add(message);
    return false;
  }
  rest[0] = t[obj];
  rest[0].parent = -1;
  rest[0].size = 0;
  map[obj] = 0;
  for (i = obj + 1; i < count && t[i].start < t[obj].end; i = k) {
    k = mjh_json_skip(t, count, i + 1);
    if (schedule_key_bit(text, &t[i])) continue;
    rest[0].size++;
    for (; i < k; i++) {
      rest[n] = t[i];
      rest[n].parent = t[i].parent == obj ? 0 : map[t[i].parent];
      map[i] = n++;
    }
  }
  if (!mjh_options_from_tokens(text, rest, n, 0, MJH_KEYS_ALL, false, o, given, err)) return false;
  *r = schedule;
  return true;
}

int mjh_start_options_parse(const char *text, size_t len, mjh_options *o, unsigned *given, mjh_schedule_request *r,
                            char *err, size_t err_size) {
  mjh_jtok tokens[MJH_JSON_TOKENS_MAX];
  int count;
  mjh_json_error e = mjh_json_parse_object(text ? text : "", text ? len : 0, tokens, MJH_JSON_TOKENS_MAX, &count);
  if (e != MJH_JSON_OK) return fail(err, err_size, mjh_json_error_text(e));
  if (err == NULL || err_size == 0) return mjh_start_options_from_tokens(text, tokens, count, 0, o, given, r, NULL);
  mjh_text message(err, err_size);
  return mjh_start_options_from_tokens(text, tokens, count, 0, o, given, r, &message);
}

void mjh_schedule_request_put(const mjh_schedule_request *r, mjh_text &out) {
  char text[MJH_HOURS_TEXT_MAX];
  const char *sep = out.size() == 0 || out.last() == '{' ? "" : ",";
  if (r->given & MJH_SCHED_KEY_HOURS) {
    mjh_hours_text(&r->hours, text, sizeof text);
    out.add(sep, "\"hours\":", mjh_json_quoted{text});
    sep = ",";
  }
  if (r->given & MJH_SCHED_KEY_DAYS) {
    mjh_days_text(r->hours.days, text, sizeof text);
    out.add(sep, "\"days\":", mjh_json_quoted{text});
    sep = ",";
  }
  if (r->given & MJH_SCHED_KEY_FOR) {
    out.add(sep, "\"for\":", r->for_s);
    sep = ",";
  }
  if (r->given & MJH_SCHED_KEY_UNTIL) {
    out.add(sep, "\"until\":");
    if (r->until_minute == MJH_UNTIL_END_OF_HOURS)
      out.add("\"end\"");
    else
      out.add('"', mjh_pad2{r->until_minute / 60}, ':', mjh_pad2{r->until_minute % 60}, '"');
  }
}

int mjh_schedule_request_put(const mjh_schedule_request *r, char *buf, size_t size, size_t *used) {
  /* The members after a stand-in for the text's last byte, then copied. */
  mjh_text_buffer<512> members;
  members.add(*used == 0 || buf[*used - 1] == '{' ? '{' : ' ');
  mjh_schedule_request_put(r, members);
  if (!members.ok() || *used >= size) return 0;
  mjh_text tail(buf + *used, size - *used);
  tail.add(members.view().substr(1));
  if (!tail.ok()) {
    tail.clear();
    return 0;
  }
  *used += tail.size();
  return 1;
}

int mjh_schedule_request_apply(const mjh_schedule_request *r, mjh_hours *h, mjh_session *s, const mjh_zone *zone,
                               int64_t now, char *err, size_t err_size) {
  mjh_hours hours = *h;
  mjh_session session = *s;
  int i;
  if (r->given & MJH_SCHED_KEY_HOURS) {
    hours.span_count = r->hours.span_count;
    for (i = 0; i < r->hours.span_count; i++) hours.spans[i] = r->hours.spans[i];
  }
  if (r->given & MJH_SCHED_KEY_DAYS) hours.days = r->hours.days;
  if (r->given & MJH_SCHED_KEY_FOR) mjh_session_for(&session, now, r->for_s);
  if (r->given & MJH_SCHED_KEY_UNTIL) {
    if (r->until_minute != MJH_UNTIL_END_OF_HOURS)
      mjh_session_until(&session, zone, now, r->until_minute, 0);
    else if (!mjh_session_until_end_of_hours(&session, &hours, zone, now, err, err_size))
      return 0;
  }
  *h = hours;
  *s = session;
  return 1;
}
