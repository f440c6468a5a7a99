/* mjtray's settings in the registry, per user, and its entry among the
 * programs started at log-on. */
#ifndef MJTRAY_SETTINGS_STORE_H
#define MJTRAY_SETTINGS_STORE_H

#include <windows.h>

#include "schedule_text.h"
#include "settings.h"

/* HKEY_CURRENT_USER\Software\Veltrano\Mouse Jiggler */
#define MJTRAY_SETTINGS_KEY L"Software\\Veltrano\\Mouse Jiggler"
/* The value under HKCU\Software\Microsoft\Windows\CurrentVersion\Run */
#define MJTRAY_AUTOSTART_VALUE L"Veltrano Mouse Jiggler"

/* Fills *s with the saved settings: the defaults, with every stored value of
 * the right type and range applied. Returns 0 when the key does not exist
 * (the first launch ever), 1 otherwise. */
int settings_store_load(mjh_settings *s);

/* Writes every setting. Returns 1 when all were written. */
int settings_store_save(const mjh_settings *s);

/* Fills *h with the saved working hours (the values "hours" and "days"):
 * none when missing, and none as a whole when either does not read. */
void settings_store_load_hours(mjh_hours *h);

/* Writes the working hours. Returns 1 when both values were written. */
int settings_store_save_hours(const mjh_hours *h);

/* Whether the log-on entry exists and names exe (quoted). */
int autostart_enabled(const wchar_t *exe);

/* Writes ("\"exe\"") or removes the log-on entry. Returns 1 on success
 * (removing an entry that does not exist succeeds). */
int autostart_set(const wchar_t *exe, int on);

#endif
