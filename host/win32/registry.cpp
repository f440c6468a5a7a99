#include "registry.h"

#include <string.h>
#include <wchar.h>

#include "conditions.h"
#include "handle.h"
#include "wide.h"

void mjw_registry_value(HKEY key, const char *name, wchar_t *buffer, size_t max_units, mjh_value *v, mjh_text &out) {
  *v = {MJH_VALUE_MISSING, 0, nullptr};
  wchar_t wide_name[64];
  mjw_widen(name, wide_name);
  DWORD type = 0, size = static_cast<DWORD>(max_units * sizeof(wchar_t));
  LSTATUS rc = RegQueryValueExW(key, wide_name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size);
  if (rc == ERROR_FILE_NOT_FOUND) return;
  v->type = MJH_VALUE_OTHER;  // ERROR_MORE_DATA among them: too large to be one
  if (rc != ERROR_SUCCESS) return;
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number;
    memcpy(&number, buffer, sizeof number);
    v->type = MJH_VALUE_NUMBER;
    v->number = number;
  } else if (type == REG_SZ && size % sizeof(wchar_t) == 0) {
    buffer[size / sizeof(wchar_t)] = L'\0';  // a stored text need not end in NUL
    const size_t start = out.size();
    mjw_narrow(buffer, out);
    v->type = MJH_VALUE_TEXT;
    v->text = out.c_str() + start;
  }
}

LSTATUS mjw_registry_store(HKEY key, const char *name, const mjh_value &v) {
  wchar_t wide_name[64];
  if (v.type == MJH_VALUE_MISSING) return ERROR_SUCCESS;
  if (!mjw_widen(name, wide_name)) return ERROR_INVALID_DATA;
  if (v.type == MJH_VALUE_NUMBER) {
    const DWORD number = v.number;
    return RegSetValueExW(key, wide_name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), sizeof number);
  }
  // The longest text stored: a list of programs.
  wchar_t text[MJH_PROGRAMS_TEXT_MAX + 1];
  if (v.type != MJH_VALUE_TEXT || !mjw_widen(v.text ? v.text : "", text)) return ERROR_INVALID_DATA;
  return RegSetValueExW(key, wide_name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                        static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

bool mjw_registry_number(HKEY root, const wchar_t *key, const wchar_t *name, DWORD *out) {
  DWORD size = sizeof *out;
  return RegGetValueW(root, key, name, RRF_RT_REG_DWORD, nullptr, out, &size) == ERROR_SUCCESS;
}

bool mjw_registry_text(HKEY root, const wchar_t *key, const wchar_t *name, wchar_t *out, DWORD size) {
  DWORD bytes = (size - 1) * sizeof(wchar_t);
  return RegGetValueW(root, key, name, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, out, &bytes) == ERROR_SUCCESS;
}

bool mjw_registry_set_number(HKEY root, const wchar_t *key, const wchar_t *name, DWORD number, bool volatile_key) {
  mjw_key opened;
  return RegCreateKeyExW(root, key, 0, nullptr, volatile_key ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                         KEY_SET_VALUE, nullptr, opened.receive(), nullptr) == ERROR_SUCCESS &&
         RegSetValueExW(opened.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), sizeof number) ==
             ERROR_SUCCESS;
}

void mjw_registry_delete_value(HKEY root, const wchar_t *key, const wchar_t *name) {
  RegDeleteKeyValueW(root, key, name);
}

void mjw_registry_delete_tree(HKEY root, const wchar_t *key) {
  RegDeleteTreeW(root, key);
  RegDeleteKeyW(root, key);
}

void mjw_registry_delete_if_empty(HKEY root, const wchar_t *key) {
  mjw_key opened;
  DWORD subkeys = 1, values = 1;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, opened.receive()) != ERROR_SUCCESS ||
      RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return;
  opened.reset();
  if (subkeys == 0 && values == 0) RegDeleteKeyW(root, key);
}
