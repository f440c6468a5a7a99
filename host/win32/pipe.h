// The agent's named pipe on Windows: its name in this session, the security
// that keeps it to the user who runs the agent, and the client's call.
#ifndef MJW_PIPE_H
#define MJW_PIPE_H

#include <windows.h>

#include <string_view>

#include "handle.h"
#include "handover.h"
#include "text.h"
#include "token.h"

// The agent's pipe belongs to its user and session:
//   \\.\pipe\veltrano-mouse-jiggler-<user's SID>-<session id>
// with the SID as ConvertSidToStringSidW writes it (S-1-5-21-...) and the
// session of this process, so that no other user can take a user's name
// first. NUL-terminated in buf (count units, at least 1); false when it had to
// be cut, or when this process's user cannot be read (buf then "").
enum { MJW_PIPE_NAME_MAX = 256 };  // units that hold any name
bool mjw_pipe_name(wchar_t *buf, size_t count);
template <size_t N>
bool mjw_pipe_name(wchar_t (&buf)[N]) {
  return mjw_pipe_name(buf, N);
}

// Security attributes whose DACL grants full access to this process's user
// and no one else, and whose SACL labels the pipe at medium integrity with
// no-read-up and no-write-up, so that a process of the same user at low
// integrity can neither open it nor tie up its instances. The descriptor, its
// ACLs and the SID they name live in memory, one block freed with it; moving
// keeps them where they are.
struct mjw_pipe_security {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  mjw_local memory;
};

// Makes s (again). Returns false with a message in err, and GetLastError's
// code still set, when it cannot.
bool mjw_pipe_security_make(mjw_pipe_security &s, mjh_text *err);

// Whether a client of the agent's pipe trusts process (opened with at least
// PROCESS_QUERY_LIMITED_INFORMATION; may be null) as its server: it runs as
// this process's user at an integrity level at least this process's
// (mjh_server_trust). Otherwise false, with why in err (may be null), e.g.
// "which does not run as this user".
bool mjw_pipe_server_trusted(HANDLE process, mjh_text *err);

// Whether the agent's pipe exists in this session (busy or not).
bool mjw_pipe_exists();

enum mjw_call_result {
  MJW_CALL_OK,         // reply holds one reply line, NUL-terminated
  MJW_CALL_NO_AGENT,   // no agent serves the pipe in this session
  MJW_CALL_UNTRUSTED,  // the pipe's server is not trusted (mjw_pipe_server_trusted): nothing was sent
  MJW_CALL_CLOSED,     // the server closed the connection without a whole reply, as an agent that
                       // is ending may: the caller can wait for its process (mjw_pipe_server)
  MJW_CALL_FAILED      // the exchange failed or timed out; err says how
};

// Connects to this session's agent pipe (read and write, overlapped, the
// server allowed to identify but not impersonate this process), waiting
// while all its instances are busy, until timeout_ms has passed. Sends
// nothing: the caller may ask who serves it first.
mjw_call_result mjw_pipe_connect(mjw_file &pipe, DWORD timeout_ms, mjh_text *err);

// The process that served a call, as far as the call got to know it: also
// after a failed exchange, so that a caller can wait for an agent that quit
// before it replied.
struct mjw_pipe_server {
  DWORD pid = 0;       // GetNamedPipeServerProcessId's answer; 0 when the call did not connect
  mjw_handle process;  // that process (SYNCHRONIZE), opened while connected and before the
                       // request went out, so it is the right one; empty when untrusted
};

// Sends one request line (ending in '\n') to the agent and reads its reply
// line into reply, without its '\n'; a reply longer than MJH_REPLY_MAX (or
// than size - 1) is a failure. Gives up after timeout_ms in all. Nothing is
// sent unless the pipe's server is trusted, or is the process vetted_pid (a
// process of this user the caller has vetted by other means, e.g.
// mjh_quit_target_trusted; 0: none). server (may be null) learns who served
// the call; err (may be null) gets a message for a person on any result but
// MJW_CALL_OK.
mjw_call_result mjw_pipe_call(std::string_view request, char *reply, size_t size, DWORD timeout_ms,
                              mjw_pipe_server *server, mjh_text *err, DWORD vetted_pid = 0);

// What a call's result and reply line tell of whoever serves the pipe.
inline mjh_answer mjw_answer_of(mjw_call_result result, const char *reply) {
  return result == MJW_CALL_OK          ? mjh_answer_of_reply(reply)
         : result == MJW_CALL_NO_AGENT  ? MJH_ANSWER_NO_PIPE
         : result == MJW_CALL_UNTRUSTED ? MJH_ANSWER_UNTRUSTED
         : result == MJW_CALL_CLOSED    ? MJH_ANSWER_CLOSED
                                        : MJH_ANSWER_FAILED;
}

#endif
