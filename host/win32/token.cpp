#include "token.h"

#include "handle.h"

namespace {

enum { SHELL_START_MS = 5000 };  // for a shell that is starting to make its windows

// One piece of a process's token information, of at most Size bytes.
template <size_t Size>
bool token_info(HANDLE process, TOKEN_INFORMATION_CLASS what, BYTE (&info)[Size]) {
  mjw_handle token;
  DWORD size = 0;
  return OpenProcessToken(process, TOKEN_QUERY, token.receive()) &&
         GetTokenInformation(token.get(), what, info, Size, &size);
}

// The last part of a label's SID: the integrity level.
int level_of(PSID label) {
  if (!IsValidSid(label) || *GetSidSubAuthorityCount(label) == 0) return MJH_LEVEL_UNKNOWN;
  return static_cast<int>(*GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1u));
}

// The process that owns the desktop's shell window now, opened to read its
// token; empty when there is none.
mjw_handle shell_process_now() {
  HWND window = GetShellWindow();
  if (!window) window = FindWindowW(L"Shell_TrayWnd", nullptr);
  DWORD pid = 0;
  if (!window || !GetWindowThreadProcessId(window, &pid) || pid == 0) return mjw_handle();
  return mjw_handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
}

// The process of the desktop's shell; empty when there is none.
mjw_handle desktop_shell() {
  mjw_handle shell = shell_process_now();
  if (shell) return shell;
  // Under Wine the shell ends a moment after the last program left the
  // desktop, and the next one that asks for the desktop's window starts it
  // again: asked, and given the time to make its windows, it is there. (On
  // Windows the desktop's window is the system's, which cannot be opened.)
  DWORD pid = 0;
  if (GetWindowThreadProcessId(GetDesktopWindow(), &pid) && pid != 0) {
    mjw_handle desktop(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
    if (desktop) WaitForInputIdle(desktop.get(), SHELL_START_MS);
  }
  return shell_process_now();
}

}  // namespace

bool mjw_process_user(HANDLE process, mjw_sid &sid) {
  alignas(TOKEN_USER) BYTE info[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  return token_info(process, TokenUser, info) &&
         CopySid(sizeof sid.bytes, sid.bytes, reinterpret_cast<TOKEN_USER *>(info)->User.Sid);
}

int mjw_process_level(HANDLE process) {
  alignas(TOKEN_MANDATORY_LABEL) BYTE info[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
  if (!token_info(process, TokenIntegrityLevel, info)) return MJH_LEVEL_UNKNOWN;
  return level_of(reinterpret_cast<TOKEN_MANDATORY_LABEL *>(info)->Label.Sid);
}

mjh_server_token mjw_server_token(HANDLE process) {
  mjh_server_token t = {false, false, MJH_LEVEL_UNKNOWN};
  mjw_sid theirs, ours;
  if (!process || !mjw_process_user(process, theirs) || !mjw_process_user(GetCurrentProcess(), ours)) return t;
  t.level = mjw_process_level(process);
  t.read = t.level != MJH_LEVEL_UNKNOWN;
  t.same_user = EqualSid(theirs.bytes, ours.bytes) != FALSE;
  return t;
}

mjh_elevation mjw_elevation_read() {
  mjh_elevation e = {mjw_process_level(GetCurrentProcess()), false, MJH_LEVEL_UNKNOWN};
  alignas(TOKEN_ELEVATION_TYPE) BYTE type[sizeof(TOKEN_ELEVATION_TYPE)];
  e.split_full = token_info(GetCurrentProcess(), TokenElevationType, type) &&
                 *reinterpret_cast<TOKEN_ELEVATION_TYPE *>(type) == TokenElevationTypeFull;
  mjw_handle shell = desktop_shell();
  if (shell) e.shell_level = mjw_process_level(shell.get());
  return e;
}

bool mjw_process_elevated() { return mjh_runs_above_desktop(mjw_elevation_read()); }
