// The stored values walk the settings' table: the rows the agent keeps.
#include "settings.h"

#include <string.h>

#include "setting_table.h"

namespace {

// The row of stored value i, or null.
const mjh_setting *stored_row(int i) {
  for (const mjh_setting &row : mjh_setting_rows)
    if (row.stored && i-- == 0) return &row;
  return nullptr;
}

int *number_field(mjh_settings *s, const mjh_setting &row) {
  return row.option ? &(s->options.*row.option) : &(s->*row.saved);
}

// The stored number as a signed 32-bit value.
long signed_number(uint32_t n) {
  return n <= 0x7FFFFFFFu ? static_cast<long>(n) : -static_cast<long>(0xFFFFFFFFu - n) - 1;
}

}  // namespace

void mjh_settings_default(mjh_settings *s) {
  mjh_options_default(&s->options);
  for (const mjh_setting &row : mjh_setting_rows)
    if (row.saved) s->*row.saved = row.fallback;
}

int mjh_setting_count(void) { return mjh_stored_row_count(); }

const char *mjh_setting_name(int i) {
  const mjh_setting *row = stored_row(i);
  return row ? row->name : "";
}

bool mjh_settings_apply(mjh_settings *s, int i, const mjh_value *v) {
  const mjh_setting *row = stored_row(i);
  if (row == nullptr || v == nullptr) return false;
  if (row->type == MJH_TYPE_MODE) {
    // Compared whole, so that an over-long or non-UTF-8 text is simply not
    // one of the two words.
    return v->type == MJH_VALUE_TEXT && v->text != nullptr && mj_mode_read(v->text, strlen(v->text), &s->options.mode);
  }
  if (v->type != MJH_VALUE_NUMBER ||
      (row->type != MJH_TYPE_WHOLE && row->type != MJH_TYPE_SWITCH && row->type != MJH_TYPE_LEVEL))
    return false;
  const long n = signed_number(v->number);
  if (!mjh_setting_in_range(*row, n)) return false;
  *number_field(s, *row) = static_cast<int>(n);
  return true;
}

void mjh_settings_read(const mjh_value *values, mjh_settings *s, mjh_hours *h, mjh_programs *p,
                       bool *programs_damaged) {
  mjh_settings_default(s);
  mjh_programs_none(p);
  *programs_damaged = false;
  const mjh_value *hours = nullptr, *days = nullptr;
  for (int i = 0; i < mjh_setting_count(); i++) {
    const mjh_value &v = values[i];
    switch (stored_row(i)->type) {
      case MJH_TYPE_HOURS:
        hours = &v;
        break;
      case MJH_TYPE_DAYS:
        days = &v;
        break;
      case MJH_TYPE_PROGRAMS:
        if (v.type == MJH_VALUE_TEXT)
          *programs_damaged = v.text == nullptr || !mjh_programs_parse(v.text, p, nullptr);
        else
          *programs_damaged = v.type != MJH_VALUE_MISSING;
        break;
      default:
        mjh_settings_apply(s, i, &v);
    }
  }
  mjh_hours_from_stored(hours, days, h);
}

bool mjh_settings_value(const mjh_settings &s, const mjh_hours &h, const mjh_programs *p, int i, mjh_value *v,
                        mjh_text &text) {
  *v = {MJH_VALUE_MISSING, 0, nullptr};
  const mjh_setting *row = stored_row(i);
  if (row == nullptr) return true;
  const size_t start = text.size();
  switch (row->type) {
    case MJH_TYPE_MODE:
      text.add(mj_mode_name(s.options.mode));
      break;
    case MJH_TYPE_HOURS:
    case MJH_TYPE_DAYS: {
      if (h.damaged) return true;  // the stored ones stay until new hours are set
      mjh_text_buffer<MJH_HOURS_TEXT_MAX> hours;
      mjh_text_buffer<MJH_DAYS_TEXT_MAX> days;
      if (!mjh_hours_to_stored(&h, hours, days)) return false;
      text.add(row->type == MJH_TYPE_HOURS ? hours.view() : days.view());
      break;
    }
    case MJH_TYPE_PROGRAMS:
      if (p == nullptr) return true;  // damaged: likewise
      mjh_programs_text(*p, text);
      break;
    default:
      v->type = MJH_VALUE_NUMBER;
      v->number = static_cast<uint32_t>(static_cast<int32_t>(row->option ? s.options.*row->option : s.*row->saved));
      return true;
  }
  if (!text.ok()) return false;
  v->type = MJH_VALUE_TEXT;
  v->text = text.c_str() + start;
  return true;
}
