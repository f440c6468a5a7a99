#include "settings.h"

#include <string.h>

void mjh_settings_default(mjh_settings *s) {
  mjh_options_default(&s->options);
  s->run_on = 1;
}

/* One stored value: its name (the options key) and where it lives. Numbers
 * are read as two's complement 32-bit values, then checked against the range. */
typedef struct setting {
  const char *name;
  mjh_value_type type;
  long min, max;
  size_t offset; /* of the int field in mjh_settings */
} setting;

#define OPTION(f) (offsetof(mjh_settings, options) + offsetof(mjh_options, f))

static const setting k_settings[] = {
    {"mode", MJH_VALUE_TEXT, 0, 1, OPTION(move)},
    {"interval_s", MJH_VALUE_NUMBER, 1, 3600, OPTION(interval_s)},
    {"dx", MJH_VALUE_NUMBER, -200, 200, OPTION(dx)},
    {"dy", MJH_VALUE_NUMBER, -200, 200, OPTION(dy)},
    {"only_when_idle", MJH_VALUE_NUMBER, 0, 1, OPTION(only_when_idle)},
    {"dry_run", MJH_VALUE_NUMBER, 0, 1, OPTION(dry_run)},
    {"keep_awake", MJH_VALUE_NUMBER, 0, 1, OPTION(keep_awake)},
    {"run_on", MJH_VALUE_NUMBER, 0, 1, offsetof(mjh_settings, run_on)},
};
enum { SETTING_COUNT = sizeof k_settings / sizeof k_settings[0] };

static int *field(mjh_settings *s, int i) { return (int *)(void *)((char *)s + k_settings[i].offset); }

int mjh_setting_count(void) { return SETTING_COUNT; }

const char *mjh_setting_name(int i) { return i >= 0 && i < SETTING_COUNT ? k_settings[i].name : ""; }

mjh_value_type mjh_setting_type(int i) { return i >= 0 && i < SETTING_COUNT ? k_settings[i].type : MJH_VALUE_OTHER; }

/* The stored number as a signed 32-bit value. */
static long signed_number(uint32_t n) { return n <= 0x7FFFFFFFu ? (long)n : -(long)(0xFFFFFFFFu - n) - 1; }

int mjh_settings_apply(mjh_settings *s, int i, const mjh_value *v) {
  if (i < 0 || i >= SETTING_COUNT || v == NULL || v->type != k_settings[i].type) return 0;
  const setting *k = &k_settings[i];
  if (k->type == MJH_VALUE_TEXT) {
    /* Only the mode is stored as text; compared whole, so that an over-long
     * or non-UTF-8 text is simply not one of the two words. */
    if (v->text == NULL) return 0;
    if (strcmp(v->text, "zen") == 0)
      *field(s, i) = 0;
    else if (strcmp(v->text, "move") == 0)
      *field(s, i) = 1;
    else
      return 0;
    return 1;
  }
  long n = signed_number(v->number);
  if (n < k->min || n > k->max) return 0;
  *field(s, i) = (int)n;
  return 1;
}

void mjh_settings_value(const mjh_settings *s, int i, mjh_value *v, char *buf, size_t size) {
  v->type = MJH_VALUE_MISSING;
  v->number = 0;
  v->text = NULL;
  if (i < 0 || i >= SETTING_COUNT) return;
  int value = *(const int *)(const void *)((const char *)s + k_settings[i].offset);
  if (k_settings[i].type == MJH_VALUE_TEXT) {
    const char *word = value ? "move" : "zen";
    if (buf == NULL || size <= strlen(word)) return;
    memcpy(buf, word, strlen(word) + 1);
    v->type = MJH_VALUE_TEXT;
    v->text = buf;
    return;
  }
  v->type = MJH_VALUE_NUMBER;
  v->number = (uint32_t)(int32_t)value;
}
