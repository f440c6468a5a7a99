#include "settings_store.h"

#include <string.h>
#include <wchar.h>

#define RUN_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\Run"

enum { TEXT_MAX = 256 }; /* characters of a text setting; longer ones are ignored */

static void utf8_to_wide(const char *text, wchar_t *out, int count) {
  if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, out, count)) out[0] = L'\0';
}

static void wide_to_utf8(const wchar_t *text, char *out, int size) {
  if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, NULL, NULL)) out[0] = '\0';
}

/* Reads one named value as the settings table sees it. */
static void read_value(HKEY key, const char *name, mjh_value *v, char *text, size_t text_size) {
  wchar_t wide_name[64];
  union {
    DWORD number;
    wchar_t text[TEXT_MAX + 1];
  } data;
  DWORD type = 0, size = sizeof data - sizeof(wchar_t);
  LSTATUS rc;

  memset(v, 0, sizeof *v);
  memset(&data, 0, sizeof data);
  utf8_to_wide(name, wide_name, 64);
  rc = RegQueryValueExW(key, wide_name, NULL, &type, (BYTE *)&data, &size);
  if (rc == ERROR_FILE_NOT_FOUND) {
    v->type = MJH_VALUE_MISSING;
  } else if (rc != ERROR_SUCCESS) {
    v->type = MJH_VALUE_OTHER; /* ERROR_MORE_DATA: too large to be a setting */
  } else if (type == REG_DWORD && size == sizeof(DWORD)) {
    v->type = MJH_VALUE_NUMBER;
    v->number = data.number;
  } else if (type == REG_SZ && size % sizeof(wchar_t) == 0) {
    data.text[size / sizeof(wchar_t)] = L'\0'; /* a stored text need not end in NUL */
    wide_to_utf8(data.text, text, (int)text_size);
    v->type = MJH_VALUE_TEXT;
    v->text = text;
  } else {
    v->type = MJH_VALUE_OTHER;
  }
}

static LSTATUS write_text(HKEY key, const char *name, const char *text) {
  wchar_t wide_name[64], wide_text[TEXT_MAX + 1];
  utf8_to_wide(name, wide_name, 64);
  utf8_to_wide(text, wide_text, TEXT_MAX + 1);
  return RegSetValueExW(key, wide_name, 0, REG_SZ, (const BYTE *)wide_text,
                        (DWORD)((wcslen(wide_text) + 1) * sizeof(wchar_t)));
}

int settings_store_load(mjh_settings *s) {
  HKEY key;
  int i;
  mjh_settings_default(s);
  if (RegOpenKeyExW(HKEY_CURRENT_USER, MJTRAY_SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
  for (i = 0; i < mjh_setting_count(); ++i) {
    char text[TEXT_MAX * 3 + 1];
    mjh_value v;
    read_value(key, mjh_setting_name(i), &v, text, sizeof text);
    mjh_settings_apply(s, i, &v);
  }
  RegCloseKey(key);
  return 1;
}

int settings_store_save(const mjh_settings *s) {
  HKEY key;
  int i, ok = 1;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, MJTRAY_SETTINGS_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    return 0;
  for (i = 0; i < mjh_setting_count(); ++i) {
    mjh_value v;
    LSTATUS rc;
    mjh_settings_value(s, i, &v);
    if (v.type == MJH_VALUE_NUMBER) {
      wchar_t wide_name[64];
      DWORD number = v.number;
      utf8_to_wide(mjh_setting_name(i), wide_name, 64);
      rc = RegSetValueExW(key, wide_name, 0, REG_DWORD, (const BYTE *)&number, sizeof number);
    } else if (v.type == MJH_VALUE_TEXT) {
      rc = write_text(key, mjh_setting_name(i), v.text);
    } else {
      continue;
    }
    if (rc != ERROR_SUCCESS) ok = 0;
  }
  RegCloseKey(key);
  return ok;
}

void settings_store_load_hours(mjh_hours *h) {
  HKEY key;
  char hours_text[TEXT_MAX * 3 + 1], days_text[TEXT_MAX * 3 + 1];
  mjh_value hours, days;
  mjh_hours_none(h);
  if (RegOpenKeyExW(HKEY_CURRENT_USER, MJTRAY_SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  read_value(key, MJH_STORED_HOURS, &hours, hours_text, sizeof hours_text);
  read_value(key, MJH_STORED_DAYS, &days, days_text, sizeof days_text);
  RegCloseKey(key);
  /* Damaged hours are read as none here, as before: this agent cannot yet
   * say that it waits for them to be set again. */
  if (mjh_hours_from_stored(&hours, &days, h) == MJH_STORED_DAMAGED) mjh_hours_none(h);
}

int settings_store_save_hours(const mjh_hours *h) {
  HKEY key;
  mjh_text_buffer<MJH_HOURS_TEXT_MAX> hours;
  mjh_text_buffer<MJH_DAYS_TEXT_MAX> days;
  int ok;
  if (!mjh_hours_to_stored(h, hours, days)) return 0;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, MJTRAY_SETTINGS_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    return 0;
  ok = write_text(key, MJH_STORED_HOURS, hours.c_str()) == ERROR_SUCCESS &&
       write_text(key, MJH_STORED_DAYS, days.c_str()) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

static void quoted(const wchar_t *exe, wchar_t *out, size_t count) { _snwprintf(out, count, L"\"%ls\"", exe); }

int autostart_enabled(const wchar_t *exe) {
  wchar_t stored[MAX_PATH + 8], expected[MAX_PATH + 8];
  DWORD type = 0, size = sizeof stored - sizeof(wchar_t);
  HKEY key;
  LSTATUS rc;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, RUN_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
  memset(stored, 0, sizeof stored);
  rc = RegQueryValueExW(key, MJTRAY_AUTOSTART_VALUE, NULL, &type, (BYTE *)stored, &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return 0;
  stored[size / sizeof(wchar_t)] = L'\0';
  quoted(exe, expected, sizeof expected / sizeof expected[0]);
  return _wcsicmp(stored, expected) == 0;
}

int autostart_set(const wchar_t *exe, int on) {
  HKEY key;
  LSTATUS rc;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, RUN_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
    return 0;
  if (on) {
    wchar_t command[MAX_PATH + 8];
    quoted(exe, command, sizeof command / sizeof command[0]);
    rc = RegSetValueExW(key, MJTRAY_AUTOSTART_VALUE, 0, REG_SZ, (const BYTE *)command,
                        (DWORD)((wcslen(command) + 1) * sizeof(wchar_t)));
  } else {
    rc = RegDeleteValueW(key, MJTRAY_AUTOSTART_VALUE);
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}
