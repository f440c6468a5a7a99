// The options walk the settings' table: its option rows in their order.
#include "options.h"

#include "setting_table.h"

void mjh_options_default(mjh_options *o) {
  for (const mjh_setting &row : mjh_setting_rows) {
    if (row.kind != MJH_SETTING_OPTION) continue;
    if (row.option)
      o->*row.option = row.fallback;
    else
      o->mode = static_cast<mj_mode>(row.fallback);
  }
}

bool mjh_options_parse(const char *text, size_t len, unsigned allowed, mjh_options *o, unsigned *given, mjh_text *err) {
  unsigned named = 0;
  if (!mjh_settings_parse(text, len, allowed, 0, o, &named, nullptr, err)) return false;
  if (given != nullptr) *given = named;
  return true;
}

void mjh_options_members(const mjh_options *o, unsigned keys, mjh_text &out) {
  mjh_settings_put(o, keys, nullptr, out);
}

static void add_object(const mjh_options *o, unsigned keys, mjh_text &out) {
  out.add('{');
  mjh_options_members(o, keys, out);
  out.add('}');
}

void mjh_options_dll_text(const mjh_options *o, mjh_text &out) { add_object(o, MJH_KEYS_DLL, out); }

void mjh_options_json(const mjh_options *o, mjh_text &out) { add_object(o, MJH_KEYS_ALL, out); }

void mjh_options_take(mjh_options *to, const mjh_options &from, unsigned keys) {
  for (const mjh_setting &row : mjh_setting_rows) {
    if (row.kind != MJH_SETTING_OPTION || !(keys & row.bit)) continue;
    if (row.option)
      to->*row.option = from.*row.option;
    else
      to->mode = from.mode;
  }
}
