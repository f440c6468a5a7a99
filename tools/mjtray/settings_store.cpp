#include "settings_store.h"

#include <string.h>
#include <wchar.h>

#include "handle.h"
#include "registry.h"
#include "setting_table.h"
#include "wide.h"

namespace {

enum {
  TEXT_MAX = MJH_PROGRAMS_TEXT_MAX,  // characters of a text setting (the longest: the programs)
  STORED = mjh_stored_row_count()
};

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
  DWORD value_count = 0;
  start->first_launch = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &value_count,
                                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                        value_count == 0;
  if (start->first_launch) return;
  // Each value with a text of its own: a long one cannot crowd out another.
  mjh_value values[STORED];
  mjh_text_buffer<TEXT_MAX * 3 + 1> texts[STORED];
  for (int i = 0; i < STORED; ++i) mjw_registry_value<TEXT_MAX>(key.get(), mjh_setting_name(i), &values[i], texts[i]);
  mjh_settings_read(values, &start->settings, &start->hours, &start->programs, &start->programs_damaged);
}

bool settings_store_save(const mjh_settings &settings, const mjh_hours &hours, const mjh_programs *programs,
                         mjh_text &why) {
  mjw_key key;
  LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, MJW_SETTINGS_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                               key.receive(), nullptr);
  for (int i = 0; rc == ERROR_SUCCESS && i < mjh_setting_count(); ++i) {
    mjh_text_buffer<TEXT_MAX + 1> text;
    mjh_value v;
    if (!mjh_settings_value(settings, hours, programs, i, &v, text)) {
      why.add("\"", mjh_setting_name(i), "\" does not fit the store");
      return false;
    }
    rc = mjw_registry_store(key.get(), mjh_setting_name(i), v);
  }
  if (rc != ERROR_SUCCESS) {
    why.add("the registry refused it (error ", rc, ')');
    return false;
  }
  return true;
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
