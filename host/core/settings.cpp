#include "settings.h"

#include <string.h>

#include "conditions.h"

namespace {

// One stored value: its name (the options key) and where it lives. Numbers
// are read as two's complement 32-bit values, then checked against the range.
struct setting {
  const char *name;
  mjh_value_type type;
  long min, max;
  int mjh_options::*option;  // an option's field, or null
  int mjh_settings::*field;  // else the settings' own field, or null for the mode (the text)
};

const setting k_settings[] = {
    {"mode", MJH_VALUE_TEXT, 0, 0, nullptr, nullptr},
    {"interval_s", MJH_VALUE_NUMBER, 1, 3600, &mjh_options::interval_s, nullptr},
    {"dx", MJH_VALUE_NUMBER, -200, 200, &mjh_options::dx, nullptr},
    {"dy", MJH_VALUE_NUMBER, -200, 200, &mjh_options::dy, nullptr},
    {"only_when_idle", MJH_VALUE_NUMBER, 0, 1, &mjh_options::only_when_idle, nullptr},
    {"dry_run", MJH_VALUE_NUMBER, 0, 1, &mjh_options::dry_run, nullptr},
    {"keep_awake", MJH_VALUE_NUMBER, 0, 1, &mjh_options::keep_awake, nullptr},
    {"run_on", MJH_VALUE_NUMBER, 0, 1, nullptr, &mjh_settings::run_on},
    {"notifications", MJH_VALUE_NUMBER, 0, 1, nullptr, &mjh_settings::notifications},
    {"foreground", MJH_VALUE_NUMBER, 0, 1, nullptr, &mjh_settings::foreground},
    {"ac_only", MJH_VALUE_NUMBER, 0, 1, nullptr, &mjh_settings::ac_only},
    {"battery_floor", MJH_VALUE_NUMBER, 0, MJH_BATTERY_STOP_MAX, nullptr, &mjh_settings::battery_floor},
};
enum { SETTING_COUNT = sizeof k_settings / sizeof k_settings[0] };

int *number_field(mjh_settings *s, int i) {
  return k_settings[i].option ? &(s->options.*k_settings[i].option) : &(s->*k_settings[i].field);
}

int number_value(const mjh_settings *s, int i) {
  return k_settings[i].option ? s->options.*k_settings[i].option : s->*k_settings[i].field;
}

// The stored number as a signed 32-bit value.
long signed_number(uint32_t n) {
  return n <= 0x7FFFFFFFu ? static_cast<long>(n) : -static_cast<long>(0xFFFFFFFFu - n) - 1;
}

}  // namespace

void mjh_settings_default(mjh_settings *s) {
  mjh_options_default(&s->options);
  s->run_on = 1;
  s->notifications = 1;
  s->foreground = 0;
  s->ac_only = 0;
  s->battery_floor = 0;
}

int mjh_setting_count(void) { return SETTING_COUNT; }

const char *mjh_setting_name(int i) { return i >= 0 && i < SETTING_COUNT ? k_settings[i].name : ""; }

bool mjh_settings_apply(mjh_settings *s, int i, const mjh_value *v) {
  if (i < 0 || i >= SETTING_COUNT || v == nullptr || v->type != k_settings[i].type) return false;
  const setting *k = &k_settings[i];
  if (k->type == MJH_VALUE_TEXT) {
    // Only the mode is stored as text; compared whole, so that an over-long
    // or non-UTF-8 text is simply not one of the two words.
    return v->text != nullptr && mj_mode_read(v->text, strlen(v->text), &s->options.mode);
  }
  long n = signed_number(v->number);
  if (n < k->min || n > k->max) return false;
  // A stop level below the lowest one is not one (0 is off).
  if (k->field == &mjh_settings::battery_floor && !mjh_battery_stop_valid(static_cast<int>(n), nullptr)) return false;
  *number_field(s, i) = static_cast<int>(n);
  return true;
}

void mjh_settings_value(const mjh_settings *s, int i, mjh_value *v) {
  v->type = MJH_VALUE_MISSING;
  v->number = 0;
  v->text = nullptr;
  if (i < 0 || i >= SETTING_COUNT) return;
  v->type = k_settings[i].type;
  if (k_settings[i].type == MJH_VALUE_TEXT)
    v->text = mj_mode_name(s->options.mode);
  else
    v->number = static_cast<uint32_t>(static_cast<int32_t>(number_value(s, i)));
}
