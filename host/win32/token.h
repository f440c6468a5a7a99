// What the hosts read of process tokens: the user, the integrity level and
// the elevation, of this process, of the agent's pipe server, and of the
// desktop's shell. The decisions over them are the core's (host/core/trust.h).
#ifndef MJW_TOKEN_H
#define MJW_TOKEN_H

#include <windows.h>

#include "text.h"
#include "trust.h"

// A SID in place: no SID is longer than SECURITY_MAX_SID_SIZE.
struct mjw_sid {
  alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE];
};

// The user of a process's token (the process opened with at least
// PROCESS_QUERY_LIMITED_INFORMATION); false when it cannot be read.
bool mjw_process_user(HANDLE process, mjw_sid &sid);

// The integrity level of a process's token (MJH_LEVEL_*), or
// MJH_LEVEL_UNKNOWN when it cannot be read.
int mjw_process_level(HANDLE process);

// What a client of the agent's pipe reads of the process that serves it.
mjh_server_token mjw_server_token(HANDLE process);

// This process's level and elevation, and the level of the desktop's shell:
// the process of the shell's window (GetShellWindow), or of the taskbar
// (Shell_TrayWnd) where there is none, as under Wine.
mjh_elevation mjw_elevation_read();

// Whether this process runs above the desktop's user (mjh_runs_above_desktop
// of mjw_elevation_read): elevated from a desktop that is not, so that an
// agent it started would run elevated by accident. Not merely "the token is
// elevated": under Wine every process, the shell included, has an elevated
// token at high integrity, and none runs above the desktop.
bool mjw_process_elevated();

#endif
