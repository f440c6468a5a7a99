// mjtray's settings in the registry, per user, and its entry among the
// programs started at log-on.
#ifndef MJTRAY_SETTINGS_STORE_H
#define MJTRAY_SETTINGS_STORE_H

#include <windows.h>

#include "agent.h"

// What was saved: the settings (each missing, mistyped or out-of-range value
// gives its default), the working hours (damaged when they do not read as a
// whole), the programs of the program condition (damaged when they do not
// read), and whether nothing was saved at all (the first launch ever: the
// settings key holds no values, though it may exist with keys under it).
void settings_store_load(mjh_agent_start *start);

// Writes every setting, the working hours (damaged ones leave the stored
// values as they are) and the programs (null: the stored list is damaged and
// stays as it is). Returns whether all were written; otherwise why is
// appended to why, e.g. "the registry refused it (error 5)".
bool settings_store_save(const mjh_settings &settings, const mjh_hours &hours, const mjh_programs *programs,
                         mjh_text &why);

// Whether the user has an agent of their own: a per-user install, or their
// own start with Windows. The machine's log-on entry then steps aside.
bool settings_store_user_has_own_agent();

// Whether the log-on entry exists and names exe (quoted).
bool autostart_enabled(const wchar_t *exe);

// Writes ("\"exe\"") or removes the log-on entry. Returns whether it
// succeeded (removing an entry that does not exist succeeds).
bool autostart_set(const wchar_t *exe, bool on);

#endif
