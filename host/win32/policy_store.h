// The organization's policies from the registry: the values of
//   HKLM\Software\Policies\Veltrano\Mouse Jiggler (the machine's) and
//   HKCU\Software\Policies\Veltrano\Mouse Jiggler (the user's)
// read into the core's policy (host/core/policy.h), which decides what is in
// force and what is damaged. REG_DWORD is a number, REG_SZ a text (UTF-8);
// any other type, or a text too large to read, is of another type.
#ifndef MJW_POLICY_STORE_H
#define MJW_POLICY_STORE_H

#include <windows.h>

#include "policy.h"

// Reads both keys; a missing key sets nothing. Never fails.
void mjw_policy_store_read(mjh_policy *p);

enum { MJW_POLICY_TEXT_MAX = 1024 };  // bytes of UTF-8 a stored text may take to be read at all

// The stored values of one key (root HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER):
// values[id] for each policy, texts in texts[id]. Returns false when the key
// does not exist (every value then MJH_VALUE_MISSING).
bool mjw_policy_store_values(HKEY root, mjh_value values[MJH_POLICY_COUNT],
                             char texts[MJH_POLICY_COUNT][MJW_POLICY_TEXT_MAX]);

#endif
