#include "setting_table.h"

#include <string.h>

#include <initializer_list>
#include <string_view>

#include "json.h"

namespace {

enum {
  OPTIONS_TEXT_MAX = 4096,  // longer than any request that could carry it
  OPTIONS_TOKENS_MAX = 128  // a start naming every key needs 31
};

bool is_option(const mjh_setting &row) { return row.kind == MJH_SETTING_OPTION; }

// The bits of the options (options) or of the schedule keys and conditions.
constexpr unsigned bits_of(bool options) {
  unsigned bits = 0;
  for (const mjh_setting &row : mjh_setting_rows)
    if (row.kind != MJH_SETTING_AGENT && (row.kind == MJH_SETTING_OPTION) == options) bits |= row.bit;
  return bits;
}
static_assert(bits_of(true) == MJH_KEYS_ALL, "MJH_KEYS_ALL names every option of the table");
static_assert(bits_of(false) == MJH_SCHED_KEYS_ALL, "MJH_SCHED_KEYS_ALL names every schedule key and condition");

// A start names it: its bit among the keys of its kind.
bool named(const mjh_setting &row, unsigned option_keys, unsigned schedule_keys) {
  return row.bit != 0 && ((is_option(row) ? option_keys : schedule_keys) & row.bit) != 0;
}

// The row a start's key names, or null (the agent's own are not named).
const mjh_setting *row_named(const char *text, const mjh_jtok *key) {
  for (const mjh_setting &row : mjh_setting_rows)
    if (row.bit != 0 && mjh_json_string_is(text, key, row.name)) return &row;
  return nullptr;
}

// Where a start's values are read into.
struct start_parts {
  mjh_options *options;
  mjh_schedule_request *schedule;
};

// Where the number or switch of row lives.
int *number_in(const mjh_setting &row, start_parts to) {
  return row.option ? &(to.options->*row.option) : &(to.schedule->*row.requested);
}

int number_of(const mjh_setting &row, const mjh_options *o, const mjh_schedule_request *r) {
  return row.option ? o->*row.option : r->*row.requested;
}

// The least number a row takes: a level's is 0, its off.
long long lowest(const mjh_setting &row) { return row.type == MJH_TYPE_LEVEL ? 0 : row.min; }

// Reads a whole decimal number from lo to hi, signed or not; anything else
// (blanks, a fraction, more than nine digits) is refused.
bool read_whole(std::string_view text, long long lo, long long hi, int *out) {
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text = mjh_slice(text, 1);
  if (text.empty() || text.size() > 9) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

// Reads the text value of a schedule key or a condition into *r; on failure
// appends why.
bool read_text(const mjh_setting &row, const char *value, mjh_schedule_request *r, mjh_text *err) {
  switch (row.type) {
    case MJH_TYPE_HOURS:
      return mjh_hours_parse(value, &r->hours, err);
    case MJH_TYPE_DAYS:
      return mjh_days_parse(value, &r->hours.days, err);
    case MJH_TYPE_DURATION:
      return mjh_duration_parse(value, &r->for_s, err);
    case MJH_TYPE_UNTIL:
      if (!mjh_equal_ignoring_case(value, "end")) return mjh_time_of_day_parse(value, &r->until_minute, err);
      r->until_minute = MJH_UNTIL_END_OF_HOURS;
      return true;
    case MJH_TYPE_PROGRAMS:
      return mjh_programs_parse(value, &r->programs, err);
    default:
      return false;
  }
}

// Reads text with read_text; a text that does not read gives
// `<prefix><why>`, e.g. `"hours": ...` or `--hours: ...`.
bool read_text_value(const mjh_setting &row, const char *value, mjh_schedule_request *r, std::string_view prefix,
                     mjh_text *err) {
  mjh_text_buffer<256> why;
  if (read_text(row, value, r, &why)) return true;
  return mjh_fail(err, prefix, why.view());
}

// `"<name>" must be <what>, not <value>`.
bool must_be(const char *text, const mjh_jtok *v, const mjh_setting &row, std::string_view what, mjh_text *err) {
  mjh_text_buffer<192> message;
  message.add('"', row.name, "\" must be ", what, ", not ");
  mjh_json_error_with_value(text, v, message.c_str(), err);
  return false;
}

// Reads the value token v of row into *s; on failure appends the message.
bool read_json_value(const char *text, const mjh_jtok *v, const mjh_setting &row, start_parts to, mjh_text *err) {
  mjh_text_buffer<96> what;
  long long number = 0;
  bool flag = false;
  switch (row.type) {
    case MJH_TYPE_MODE: {
      char word[8];
      const int n = mjh_json_string(text, v, word, sizeof word);
      if (n >= 0 && mj_mode_read(word, static_cast<size_t>(n), &to.options->mode)) return true;
      return must_be(text, v, row, "\"zen\" or \"move\"", err);
    }
    case MJH_TYPE_SWITCH:
      if (!mjh_json_bool(text, v, &flag)) return must_be(text, v, row, "true or false", err);
      *number_in(row, to) = flag;
      return true;
    case MJH_TYPE_WHOLE:
    case MJH_TYPE_LEVEL:
      if (mjh_json_whole(text, v, lowest(row), row.max, &number) && mjh_setting_in_range(row, number)) {
        *number_in(row, to) = static_cast<int>(number);
        return true;
      }
      if (row.type == MJH_TYPE_LEVEL)
        what.add("0 (off) or a whole ", row.words, " from ", row.min, " to ", row.max);
      else
        what.add("a whole number from ", row.min, " to ", row.max);
      return must_be(text, v, row, what.view(), err);
    default:
      break;
  }
  if (row.type == MJH_TYPE_DURATION && v->type == MJH_JSON_PRIMITIVE) {
    if (mjh_json_whole(text, v, row.min, row.max, &number)) {
      to.schedule->for_s = number;
      return true;
    }
    what.add("whole seconds from ", row.min, " to ", row.max, " or a text such as \"1h30m\"");
    return must_be(text, v, row, what.view(), err);
  }
  char value[MJH_PROGRAMS_TEXT_MAX + 1];  // longer than any text the keys accept
  const int n = v->type == MJH_JSON_STRING ? mjh_json_string(text, v, value, sizeof value) : -1;
  if (n < 0 || strlen(value) != static_cast<size_t>(n)) return must_be(text, v, row, row.words, err);  // \u0000 inside
  mjh_text_buffer<32> prefix;
  prefix.add('"', row.name, "\": ");
  return read_text_value(row, value, to.schedule, prefix.view(), err);
}

// Appends the value of row as a JSON value.
void put_value(const mjh_setting &row, const mjh_options *o, const mjh_schedule_request *r, mjh_text &out) {
  switch (row.type) {
    case MJH_TYPE_MODE:
      out.add('"', mj_mode_name(o->mode), '"');
      return;
    case MJH_TYPE_SWITCH:
      out.add(number_of(row, o, r) != 0);
      return;
    case MJH_TYPE_WHOLE:
    case MJH_TYPE_LEVEL:
      out.add(number_of(row, o, r));
      return;
    case MJH_TYPE_HOURS:
      out.add('"');
      mjh_hours_text(&r->hours, out);
      out.add('"');
      return;
    case MJH_TYPE_DAYS:
      out.add('"');
      mjh_days_text(r->hours.days, out);
      out.add('"');
      return;
    case MJH_TYPE_DURATION:
      out.add(r->for_s);
      return;
    case MJH_TYPE_UNTIL:
      if (r->until_minute == MJH_UNTIL_END_OF_HOURS)
        out.add("\"end\"");
      else
        out.add('"', mjh_pad2{r->until_minute / 60}, ':', mjh_pad2{r->until_minute % 60}, '"');
      return;
    case MJH_TYPE_PROGRAMS: {
      mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> list;
      mjh_programs_text(r->programs, list);
      out.add(mjh_json_quoted{list.view()});
      return;
    }
  }
}

// Copies the value of a schedule key or a condition from `from` into the
// places given (each may be null).
void copy_scheduled(const mjh_setting &row, const mjh_schedule_request &from, mjh_schedule_request *to,
                    mjh_settings *saved, mjh_hours *hours, mjh_programs *programs) {
  switch (row.type) {
    case MJH_TYPE_HOURS:
      if (to) to->hours.span_count = from.hours.span_count;
      if (hours) hours->span_count = from.hours.span_count;
      for (int i = 0; i < from.hours.span_count; i++) {
        if (to) to->hours.spans[i] = from.hours.spans[i];
        if (hours) hours->spans[i] = from.hours.spans[i];
      }
      if (hours) hours->damaged = false;
      return;
    case MJH_TYPE_DAYS:
      if (to) to->hours.days = from.hours.days;
      if (hours) hours->days = from.hours.days;
      return;
    case MJH_TYPE_DURATION:
      if (to) to->for_s = from.for_s;
      return;
    case MJH_TYPE_PROGRAMS:
      if (to) to->programs = from.programs;
      if (programs) *programs = from.programs;
      return;
    default:
      if (to) to->*row.requested = from.*row.requested;
      if (saved && row.saved) saved->*row.saved = from.*row.requested;
      return;
  }
}

void take_scheduled(const mjh_schedule_request &from, mjh_schedule_request *to, mjh_settings *saved, mjh_hours *hours,
                    mjh_programs *programs) {
  for (const mjh_setting &row : mjh_setting_rows)
    if (!is_option(row) && named(row, 0, from.given)) copy_scheduled(row, from, to, saved, hours, programs);
}

}  // namespace

bool mjh_settings_from_json(const char *text, const mjh_jtok *t, int count, int obj, unsigned options,
                            unsigned schedule, bool pass_over, mjh_options *o, unsigned *given, mjh_schedule_request *r,
                            mjh_text *err) {
  // Read into copies: a fault changes nothing.
  mjh_options options_read = *o;
  mjh_schedule_request schedule_read;
  if (r) schedule_read = *r;
  const start_parts to = {&options_read, &schedule_read};
  unsigned option_keys = 0, schedule_keys = 0;
  for (int i = obj + 1; i < count && t[i].start < t[obj].end; i = mjh_json_skip(t, count, i + 1)) {
    const mjh_setting *row = row_named(text, &t[i]);
    if (row == nullptr || !named(*row, options, r ? schedule : 0)) {
      if (pass_over) continue;
      if (row != nullptr && is_option(*row)) return mjh_fail(err, '"', row->name, "\" is not an option here");
      mjh_json_unknown_key_error(text, &t[i], err);
      return false;
    }
    unsigned &keys = is_option(*row) ? option_keys : schedule_keys;
    if (keys & row->bit) return mjh_fail(err, "duplicate key \"", row->name, '"');
    if (!read_json_value(text, &t[i + 1], *row, to, err)) return false;
    keys |= row->bit;
  }
  if ((schedule_keys & MJH_SCHED_KEY_FOR) && (schedule_keys & MJH_SCHED_KEY_UNTIL))
    return mjh_fail(err, "\"for\" and \"until\" cannot both be given");
  *o = options_read;
  if (given) *given |= option_keys;
  if (r) {
    *r = schedule_read;
    r->given |= schedule_keys;
  }
  return true;
}

bool mjh_settings_parse(const char *text, size_t len, unsigned options, unsigned schedule, mjh_options *o,
                        unsigned *given, mjh_schedule_request *r, mjh_text *err) {
  if (text == nullptr) {
    text = "";
    len = 0;
  }
  if (len > OPTIONS_TEXT_MAX)
    return mjh_fail(err, "too long: more than ", static_cast<int>(OPTIONS_TEXT_MAX), " bytes");
  mjh_jtok tokens[OPTIONS_TOKENS_MAX];
  int count;
  const mjh_json_error e = mjh_json_parse_object(text, len, tokens, OPTIONS_TOKENS_MAX, &count);
  if (e != MJH_JSON_OK) return mjh_fail(err, mjh_json_error_text(e));
  return mjh_settings_from_json(text, tokens, count, 0, options, schedule, false, o, given, r, err);
}

void mjh_settings_put(const mjh_options *o, unsigned options, const mjh_schedule_request *r, mjh_text &out) {
  if (o == nullptr) options = 0;
  for (const mjh_setting &row : mjh_setting_rows) {
    if (!named(row, options, r ? r->given : 0)) continue;
    mjh_json_put_key(out, row.name);
    put_value(row, o, r, out);
  }
}

bool mjh_setting_read_flag(const mjh_setting &row, bool off, const char *value, mjh_options *o, unsigned *given,
                           mjh_schedule_request *r, mjh_text *err) {
  const char *flag = off ? row.flag_off->name : row.flag.name;
  const start_parts to = {o, r};
  int number = 0;
  switch (row.type) {
    case MJH_TYPE_MODE:
      if (!mj_mode_read(value, strlen(value), &o->mode))
        return mjh_fail(err, flag, " needs zen or move, not \"", value, '"');
      break;
    case MJH_TYPE_SWITCH:
      *number_in(row, to) = !off;
      break;
    case MJH_TYPE_WHOLE:
    case MJH_TYPE_LEVEL:
      if (!read_whole(value, lowest(row), row.max, &number) || !mjh_setting_in_range(row, number)) {
        if (row.type == MJH_TYPE_LEVEL)
          return mjh_fail(err, flag, " needs a whole ", row.words, " from ", row.min, " to ", row.max,
                          ", or 0 to turn it off, not \"", value, '"');
        return mjh_fail(err, flag, " needs a whole number of ", row.words, " from ", row.min, " to ", row.max,
                        ", not \"", value, '"');
      }
      *number_in(row, to) = number;
      break;
    default: {
      mjh_text_buffer<32> prefix;
      prefix.add(flag, ": ");
      if (!read_text_value(row, value, r, prefix.view(), err)) return false;
    }
  }
  if (!is_option(row))
    r->given |= row.bit;
  else if (given)
    *given |= row.bit;
  return true;
}

void mjh_schedule_request_take(mjh_schedule_request *to, const mjh_schedule_request &from) {
  take_scheduled(from, to, nullptr, nullptr, nullptr);
  to->given |= from.given;
}

void mjh_schedule_request_keep(const mjh_schedule_request &from, mjh_settings *saved, mjh_hours *hours,
                               mjh_programs *programs) {
  take_scheduled(from, nullptr, saved, hours, programs);
}

// ---- mjctl --help -----------------------------------------------------------------

namespace {

enum { HELP_INDENT = 20 };

// The lines of one flag: the flag and its value (the title) in the first
// column, its help from column HELP_INDENT on, under the title when the
// title is longer; {min}, {max} and {default} replaced with row's (defaults:
// those of the flags that share the line).
void help_lines(std::string_view title, const char *help, const mjh_setting *row, std::string_view defaults,
                mjh_text &out) {
  out.add("  ", title);
  size_t column = 2 + title.size();
  if (column >= HELP_INDENT) {
    out.add('\n');
    column = 0;
  }
  for (; column < HELP_INDENT; column++) out.add(' ');
  for (std::string_view rest = help ? help : ""; !rest.empty();) {
    const size_t brace = rest.find_first_of("{\n");
    out.add(mjh_slice(rest, 0, brace));
    if (brace == std::string_view::npos) break;
    rest = mjh_slice(rest, brace);
    if (rest[0] == '\n') {
      out.add('\n');
      for (int i = 0; i < HELP_INDENT; i++) out.add(' ');
      rest = mjh_slice(rest, 1);
    } else if (row && mjh_starts_with(rest, "{min}")) {
      out.add(row->min);
      rest = mjh_slice(rest, 5);
    } else if (row && mjh_starts_with(rest, "{max}")) {
      out.add(row->max);
      rest = mjh_slice(rest, 5);
    } else if (mjh_starts_with(rest, "{default}")) {
      out.add(defaults);
      rest = mjh_slice(rest, 9);
    } else {
      out.add('{');
      rest = mjh_slice(rest, 1);
    }
  }
  out.add('\n');
}

void add_title(const mjh_flag &flag, mjh_text &title) {
  title.add(title.size() ? ", " : "", flag.name);
  if (flag.value) title.add(' ', flag.value);
}

// Whether row j's flag shares the line of the flag before it.
bool shares_line(int j, unsigned commands) {
  const mjh_flag &flag = mjh_setting_rows[j].flag;
  return flag.name && !flag.help && flag.commands == commands;
}

}  // namespace

void mjh_flag_help(const mjh_flag &flag, mjh_text &out) {
  mjh_text_buffer<64> title;
  add_title(flag, title);
  help_lines(title.view(), flag.help, nullptr, "", out);
}

void mjh_setting_flags_help(unsigned commands, mjh_text &out) {
  for (int i = 0; i < mjh_setting_row_count; i++) {
    const mjh_setting &row = mjh_setting_rows[i];
    for (const mjh_flag *flag : {&row.flag, row.flag_off}) {
      if (!flag || !flag->name || !flag->help || flag->commands != commands) continue;
      mjh_text_buffer<64> title, defaults;
      add_title(*flag, title);
      defaults.add(row.fallback);
      for (int j = i + 1; j < mjh_setting_row_count && shares_line(j, commands); j++) {
        add_title(mjh_setting_rows[j].flag, title);
        defaults.add(", ", mjh_setting_rows[j].fallback);
      }
      help_lines(title.view(), flag->help, &row, defaults.view(), out);
    }
  }
}
