// The registry as both hosts use it: the names of the agent's keys, and one
// reader and one writer of a stored value as the core's tables take it
// (mjh_value).
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
// MJH_VALUE_MISSING stores nothing. False when the registry refused.
bool mjw_registry_store(HKEY key, const char *name, const mjh_value &v);

#endif
