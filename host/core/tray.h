// The agent's icon in the notification area, as the shell knows it, and when
// it may speak: the icon's GUID, derived from the program's path, and whether
// a notification is shown in the user's present state. Plain C++ without
// system headers, tested natively; the Win32 side (tools/mjtray/tray_icon.cpp)
// reads the path and the state.
#ifndef MJH_TRAY_H
#define MJH_TRAY_H

#include <stdint.h>

#include <string_view>

// A GUID laid out as Windows lays out its GUID (Data1, Data2, Data3, Data4).
struct mjh_guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// The icon's GUID for the program at path (UTF-8): a name-based UUID (RFC
// 4122 version 5, SHA-1) of the path in a namespace of the agent's own.
// Windows ties an icon's GUID to one program's path, so each copy of the
// program (the per-user install, the per-machine install, a build run from
// its folder) gets its own, and one copy always the same. The path counts as
// Windows compares paths, without regard to case: its ASCII letters are
// folded to upper case here; the caller folds the others first with the
// system's own table (mjw_path_folded).
mjh_guid mjh_icon_guid(std::string_view path);

// The user's state as the shell tells it: SHQueryUserNotificationState's
// answer (QUERY_USER_NOTIFICATION_STATE, the same numbers), or
// MJH_USER_STATE_UNKNOWN where it gives none (an older shell, a failed call).
enum mjh_user_state {
  MJH_USER_STATE_UNKNOWN = 0,
  MJH_USER_NOT_PRESENT = 1,     // the screen saver runs, the session is locked or switched away
  MJH_USER_BUSY = 2,            // a full-screen program runs
  MJH_USER_FULL_SCREEN_3D = 3,  // a full-screen Direct3D program runs
  MJH_USER_PRESENTING = 4,      // presentation settings are on
  MJH_USER_ACCEPTS = 5,         // nothing of the above: notifications are welcome
  MJH_USER_QUIET_TIME = 6,      // quiet time: a new user's first hour, or "do not disturb"
  MJH_USER_APP_FULL_SCREEN = 7  // a full-screen app (Windows 8 and later)
};

// Whether a notification is shown now: while the user accepts them, and where
// the shell gives no state (it still keeps quiet time itself, as the balloon
// asks with NIIF_RESPECT_QUIET_TIME). Held back (not kept for later: it would
// be stale by then) in every other state, one this program does not know
// included: away, busy with a full-screen program or a presentation, quiet
// time.
bool mjh_notification_shown(int user_state);

#endif
