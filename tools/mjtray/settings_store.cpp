#include "settings_store.h"

#include <string.h>
#include <wchar.h>

#include "handle.h"
#include "registry.h"
#include "schedule_text.h"
#include "wide.h"

namespace {

const char k_programs_value[] = "while_running";

enum {
  TEXT_MAX = MJH_PROGRAMS_TEXT_MAX
};  // characters of a text setting (the longest: the programs); longer ones are not settings

bool write_text(HKEY key, const char *name, const char *text) {
  wchar_t wide_name[64], wide_text[TEXT_MAX + 1];
  mjw_widen(name, wide_name, 64);
  mjw_widen(text, wide_text, TEXT_MAX + 1);
  return RegSetValueExW(key, wide_name, 0, REG_SZ, reinterpret_cast<const BYTE *>(wide_text),
                        static_cast<DWORD>((wcslen(wide_text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool write_number(HKEY key, const char *name, uint32_t number) {
  wchar_t wide_name[64];
  DWORD value = number;
  mjw_widen(name, wide_name, 64);
  return RegSetValueExW(key, wide_name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

// "\"exe\"", as the log-on entry holds it.
void quoted(const wchar_t *exe, wchar_t *out, size_t count) {
  size_t n = wcsnlen(exe, count - 3);
  out[0] = L'"';
  wmemcpy(out + 1, exe, n);
  out[n + 1] = L'"';
  out[n + 2] = L'\0';
}

}  // namespace

void settings_store_load(mjh_agent_start *start) {
  mjh_settings_default(&start->settings);
  mjh_hours_none(&start->hours);
  mjh_programs_none(&start->programs);
  start->programs_damaged = false;
  mjw_key key;
  start->first_launch =
      RegOpenKeyExW(HKEY_CURRENT_USER, MJW_SETTINGS_KEY, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS;
  if (start->first_launch) return;
  // The key alone is no sign of an earlier launch: an installer or a tool may
  // make it, or keys under it (the per-user install's "Installer"). Values of
  // its own are: every launch since the first has saved them, and so did
  // older versions.
  DWORD values = 0;
  start->first_launch = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                        values == 0;
  if (start->first_launch) return;
  for (int i = 0; i < mjh_setting_count(); ++i) {
    mjh_text_buffer<TEXT_MAX * 3 + 1> text;
    mjh_value v;
    mjw_registry_value<TEXT_MAX>(key.get(), mjh_setting_name(i), &v, text);
    mjh_settings_apply(&start->settings, i, &v);
  }
  mjh_text_buffer<TEXT_MAX * 3 + 1> hours_text, days_text;
  mjh_value hours, days;
  mjw_registry_value<TEXT_MAX>(key.get(), MJH_STORED_HOURS, &hours, hours_text);
  mjw_registry_value<TEXT_MAX>(key.get(), MJH_STORED_DAYS, &days, days_text);
  mjh_hours_from_stored(&hours, &days, &start->hours);
  mjh_text_buffer<TEXT_MAX * 3 + 1> programs_text;
  mjh_value programs;
  mjw_registry_value<TEXT_MAX>(key.get(), k_programs_value, &programs, programs_text);
  if (programs.type == MJH_VALUE_TEXT)
    start->programs_damaged = !mjh_programs_parse(programs.text, &start->programs, nullptr);
  else
    start->programs_damaged = programs.type != MJH_VALUE_MISSING;
}

bool settings_store_save(const mjh_settings &settings, const mjh_hours &hours, const mjh_programs *programs) {
  mjw_key key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, MJW_SETTINGS_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (int i = 0; i < mjh_setting_count(); ++i) {
    mjh_value v;
    mjh_settings_value(&settings, i, &v);
    if (v.type == MJH_VALUE_NUMBER)
      ok = write_number(key.get(), mjh_setting_name(i), v.number) && ok;
    else if (v.type == MJH_VALUE_TEXT)
      ok = write_text(key.get(), mjh_setting_name(i), v.text) && ok;
  }
  mjh_text_buffer<MJH_HOURS_TEXT_MAX> hours_text;
  mjh_text_buffer<MJH_DAYS_TEXT_MAX> days_text;
  if (mjh_hours_to_stored(&hours, hours_text, days_text)) {
    ok = write_text(key.get(), MJH_STORED_HOURS, hours_text.c_str()) && ok;
    ok = write_text(key.get(), MJH_STORED_DAYS, days_text.c_str()) && ok;
  } else if (!hours.damaged) {
    ok = false;
  }
  if (programs) {
    mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> list;
    mjh_programs_text(*programs, list);
    ok = list.ok() && write_text(key.get(), k_programs_value, list.c_str()) && ok;
  }
  return ok;
}

bool settings_store_user_has_own_agent() {
  mjw_key key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, MJW_SETTINGS_KEY L"\\Installer", 0, KEY_QUERY_VALUE, key.receive()) ==
          ERROR_SUCCESS &&
      RegQueryValueExW(key.get(), L"Folder", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
    return true;
  mjw_key run;
  return RegOpenKeyExW(HKEY_CURRENT_USER, MJW_RUN_KEY, 0, KEY_QUERY_VALUE, run.receive()) == ERROR_SUCCESS &&
         RegQueryValueExW(run.get(), MJW_RUN_VALUE, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool autostart_enabled(const wchar_t *exe) {
  wchar_t stored[MAX_PATH + 8] = {}, expected[MAX_PATH + 8];
  DWORD type = 0, size = sizeof stored - sizeof(wchar_t);
  mjw_key key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, MJW_RUN_KEY, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) return false;
  LSTATUS rc = RegQueryValueExW(key.get(), MJW_RUN_VALUE, nullptr, &type, reinterpret_cast<BYTE *>(stored), &size);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  stored[size / sizeof(wchar_t)] = L'\0';
  quoted(exe, expected, sizeof expected / sizeof expected[0]);
  return _wcsicmp(stored, expected) == 0;
}

bool autostart_set(const wchar_t *exe, bool on) {
  mjw_key key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, MJW_RUN_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(), nullptr) !=
      ERROR_SUCCESS)
    return false;
  LSTATUS rc;
  if (on) {
    wchar_t command[MAX_PATH + 8];
    quoted(exe, command, sizeof command / sizeof command[0]);
    rc = RegSetValueExW(key.get(), MJW_RUN_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE *>(command),
                        static_cast<DWORD>((wcslen(command) + 1) * sizeof(wchar_t)));
  } else {
    rc = RegDeleteValueW(key.get(), MJW_RUN_VALUE);
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  }
  return rc == ERROR_SUCCESS;
}
