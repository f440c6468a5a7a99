// The registry as both hosts use it: the names of the agent's keys, one
// reader and one writer of a stored value as the core's tables take it
// (mjh_value), and the few keys and values the installer's steps touch.
#ifndef MJW_REGISTRY_H
#define MJW_REGISTRY_H

#include <stddef.h>
#include <windows.h>

#include "settings.h"
#include "text.h"

// HKEY_CURRENT_USER\Software\Veltrano\Mouse Jiggler: the agent's settings.
#define MJW_SETTINGS_KEY L"Software\\Veltrano\\Mouse Jiggler"
// The programs started at log-on, and the agent's value among them.
#define MJW_RUN_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\Run"
#define MJW_RUN_VALUE L"Veltrano Mouse Jiggler"

// Reads the value name of key: a REG_DWORD is a number; a REG_SZ of at most
// max_units UTF-16 units a text, appended to out as UTF-8 (v->text is out's);
// no such value is missing; anything else (another type, a longer text) is of
// another type. buffer holds max_units + 1 units.
void mjw_registry_value(HKEY key, const char *name, wchar_t *buffer, size_t max_units, mjh_value *v, mjh_text &out);
template <size_t MaxUnits>
void mjw_registry_value(HKEY key, const char *name, mjh_value *v, mjh_text &out) {
  wchar_t buffer[MaxUnits + 1];
  mjw_registry_value(key, name, buffer, MaxUnits, v, out);
}

// Stores v as value name of key: a number as a REG_DWORD, a text as a REG_SZ;
// MJH_VALUE_MISSING stores nothing. Returns ERROR_SUCCESS, the registry's
// error, or ERROR_INVALID_DATA for a name or text too long to store.
LSTATUS mjw_registry_store(HKEY key, const char *name, const mjh_value &v);

// ---- Keys and values by their paths, under root -------------------------------

// A REG_DWORD value: true and *out, or false (none, or of another type).
bool mjw_registry_number(HKEY root, const wchar_t *key, const wchar_t *name, DWORD *out);

// A REG_SZ value of at most size - 1 units into out: true, or false (none,
// of another type, or longer).
bool mjw_registry_text(HKEY root, const wchar_t *key, const wchar_t *name, wchar_t *out, DWORD size);

// Stores a REG_DWORD, creating the key; a volatile key is gone at the next
// log-on. False when the registry refused.
bool mjw_registry_set_number(HKEY root, const wchar_t *key, const wchar_t *name, DWORD number, bool volatile_key);

// Deletes one value, and the key with everything under it.
void mjw_registry_delete_value(HKEY root, const wchar_t *key, const wchar_t *name);
void mjw_registry_delete_tree(HKEY root, const wchar_t *key);

// Deletes the key when it holds no values and no subkeys.
void mjw_registry_delete_if_empty(HKEY root, const wchar_t *key);

#endif
