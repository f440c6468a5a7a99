// Whom a client of the agent's pipe trusts, and when a host would start the
// agent above the desktop's user: decisions over what Windows tells of two
// processes' tokens (their user and integrity level), read by the Win32 side
// (host/win32/token.h). Plain C++ without system headers, tested natively.
#ifndef MJH_TRUST_H
#define MJH_TRUST_H

#include "text.h"

// Integrity levels as Windows numbers them: the last part of the label's SID
// (S-1-16-<level>). Levels between these are possible and compare by number.
enum {
  MJH_LEVEL_UNKNOWN = -1,  // not read
  MJH_LEVEL_UNTRUSTED = 0x0000,
  MJH_LEVEL_LOW = 0x1000,
  MJH_LEVEL_MEDIUM = 0x2000,
  MJH_LEVEL_MEDIUM_PLUS = 0x2100,
  MJH_LEVEL_HIGH = 0x3000,
  MJH_LEVEL_SYSTEM = 0x4000,
  MJH_LEVEL_PROTECTED = 0x5000
};

// What a client read of the process that serves the pipe.
struct mjh_server_token {
  bool read;       // its token could be opened and read
  bool same_user;  // its user is this process's user
  int level;       // its integrity level, or MJH_LEVEL_UNKNOWN
};

enum mjh_trust {
  MJH_TRUSTED,
  MJH_TRUST_UNREADABLE,   // the server's token (or this process's level) cannot be read
  MJH_TRUST_OTHER_USER,   // it runs as another user
  MJH_TRUST_LOWER_LEVEL,  // same user, at a lower integrity level than this process
};

// A client trusts a server only when it runs as the same user at an integrity
// level at least its own: a process of the same user at a lower level (a
// sandboxed browser, say) could have taken the pipe's name first.
mjh_trust mjh_server_trust(const mjh_server_token &server, int own_level);

// Whom a client asks to quit and ends when it stays (mjctl quit --wait, the
// installers' steps): a server it trusts, or one of the same user at a lower
// level that runs the agent's own program of this install (runs_our_agent):
// what it is is known, and nothing it says is used. So an elevated
// installer step still has the user's agent quit before its files go.
bool mjh_quit_target_trusted(const mjh_server_token &server, int own_level, bool runs_our_agent);

// Why a server is not trusted, to follow "served by process 1234, ", e.g.
// "which runs at a lower integrity level (medium) than this process (high)".
void mjh_trust_text(mjh_trust trust, int server_level, int own_level, mjh_text &out);

// A level's name: "low", "medium", "high", "system", ...; other numbers in
// hex ("0x2345").
void mjh_level_text(int level, mjh_text &out);

// What a process knows of its own token and of the desktop's shell.
struct mjh_elevation {
  int own_level;    // this process's integrity level, or MJH_LEVEL_UNKNOWN
  bool split_full;  // its token is the elevated half of a split (UAC) token
  int shell_level;  // the desktop shell's level (Explorer's), or MJH_LEVEL_UNKNOWN when none was read
};

// Whether this process runs above the desktop's user: an agent it started
// would run elevated where the user's desktop does not, so that the shell may
// not show its icon and the user's own clients not trust it. Decided by the
// shell's level when both levels are known; otherwise by a split token's
// elevated half alone.
bool mjh_runs_above_desktop(const mjh_elevation &e);

#endif
