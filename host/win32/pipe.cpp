#include "pipe.h"

#include <sddl.h>
#include <string.h>

#include <utility>

#include "protocol.h"
#include "wide.h"

namespace {

template <typename... Parts>
void fail(mjh_text *err, const Parts &...parts) {
  if (err) err->add(parts...);
}

// This process's user's SID as ConvertSidToStringSidW writes it
// (S-1-5-21-...), appended to out; false when it cannot be read.
bool this_users_sid_text(mjh_text &out) {
  mjw_sid sid;
  mjw_local text;
  if (!mjw_process_user(GetCurrentProcess(), sid) ||
      !ConvertSidToStringSidW(sid.bytes, reinterpret_cast<LPWSTR *>(text.receive())))
    return false;
  mjw_narrow(static_cast<const wchar_t *>(text.get()), out);
  return true;
}

}  // namespace

bool mjw_pipe_name(wchar_t *buf, size_t count) {
  mjw_widen("", buf, count);  // "" when the user cannot be read
  mjh_text_buffer<MJW_PIPE_NAME_MAX * 3> name;
  name.add("\\\\.\\pipe\\veltrano-mouse-jiggler-");
  if (!this_users_sid_text(name)) return false;
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
  name.add('-', session);
  return name.ok() && mjw_widen(name.view(), buf, count);
}

// In SDDL: the DACL protected from inherited entries (P) allows the user
// alone everything (A;;GA); the SACL's mandatory label (ML) is medium
// integrity (ME) with no-write-up and no-read-up (NWNR).
bool mjw_pipe_security_make(mjw_pipe_security &s, mjh_text *err) {
  s.attributes = {sizeof s.attributes, nullptr, FALSE};
  s.memory.reset();
  enum { SDDL_MAX = 320 };  // a SID's text is at most about 190 characters
  mjh_text_buffer<SDDL_MAX> sddl;
  sddl.add("D:P(A;;GA;;;");
  if (!this_users_sid_text(sddl)) {
    fail(err, "cannot read this process's user (error ", GetLastError(), ")");
    return false;
  }
  sddl.add(")S:(ML;;NWNR;;;ME)");
  wchar_t wide[SDDL_MAX];
  if (!sddl.ok() || !mjw_widen(sddl.view(), wide)) {
    fail(err, "cannot make the pipe's security descriptor: its text is too long");
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  mjw_local descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wide, SDDL_REVISION_1, descriptor.receive(), nullptr)) {
    fail(err, "cannot make the pipe's security descriptor (error ", GetLastError(), ")");
    return false;
  }
  s.attributes.lpSecurityDescriptor = descriptor.get();
  s.memory = std::move(descriptor);
  return true;
}

namespace {

// Whether a client trusts the server of this token: one of this user at an
// integrity level at least this process's, or one of this user the caller
// has vetted by other means. Otherwise false, with why in err.
bool server_trusted(const mjh_server_token &server, bool vetted, mjh_text *err) {
  if (vetted && server.same_user) return true;
  int own_level = mjw_process_level(GetCurrentProcess());
  mjh_trust trust = mjh_server_trust(server, own_level);
  if (trust == MJH_TRUSTED) return true;
  if (err) mjh_trust_text(trust, server.level, own_level, *err);
  return false;
}

}  // namespace

bool mjw_pipe_server_trusted(HANDLE process, mjh_text *err) {
  return server_trusted(mjw_server_token(process), false, err);
}

bool mjw_pipe_exists() {
  wchar_t name[MJW_PIPE_NAME_MAX];
  mjw_pipe_name(name);
  // Waits for nothing: succeeds when an instance is free, fails with
  // ERROR_SEM_TIMEOUT when all are busy and ERROR_FILE_NOT_FOUND when none
  // exists.
  if (WaitNamedPipeW(name, 1)) return true;
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

// ---- The call ---------------------------------------------------------------

namespace {

DWORD remaining_ms(ULONGLONG deadline) {
  ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

enum io_result { IO_DONE, IO_TIMED_OUT, IO_FAILED };

// One overlapped read or write that gives up at the deadline. error gets
// GetLastError's value on IO_FAILED.
io_result timed_io(HANDLE pipe, bool writing, void *data, DWORD size, DWORD &done, ULONGLONG deadline, DWORD &error) {
  mjw_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) {
    error = GetLastError();
    return IO_FAILED;
  }
  OVERLAPPED ov = {};
  ov.hEvent = event.get();
  done = 0;
  BOOL ok = writing ? WriteFile(pipe, data, size, nullptr, &ov) : ReadFile(pipe, data, size, nullptr, &ov);
  if (!ok && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
    error = GetLastError();
    return IO_FAILED;
  }
  io_result result = IO_DONE;
  if (WaitForSingleObject(ov.hEvent, remaining_ms(deadline)) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    result = IO_TIMED_OUT;
  }
  // Waits for a cancelled operation too, so that ov outlives it.
  if (!GetOverlappedResult(pipe, &ov, &done, TRUE) && GetLastError() != ERROR_MORE_DATA && result == IO_DONE) {
    error = GetLastError();
    result = IO_FAILED;
  }
  return result;
}

// Connects to the agent's pipe, waiting while all instances are busy.
mjw_call_result connect_pipe(mjw_file &pipe, ULONGLONG deadline, mjh_text *err) {
  wchar_t name[MJW_PIPE_NAME_MAX];
  mjw_pipe_name(name);
  for (;;) {
    // SECURITY_IDENTIFICATION: the server may learn who we are, not act as us.
    pipe.reset(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (pipe) return MJW_CALL_OK;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      fail(err, "no agent is running in this session");
      return MJW_CALL_NO_AGENT;
    }
    if (error != ERROR_PIPE_BUSY) {
      fail(err, "cannot connect to the agent (error ", error, ")");
      return MJW_CALL_FAILED;
    }
    DWORD wait = remaining_ms(deadline);
    if (wait == 0) {
      fail(err, "the agent is busy: no connection within the time allowed");
      return MJW_CALL_FAILED;
    }
    if (!WaitNamedPipeW(name, wait) && GetLastError() == ERROR_FILE_NOT_FOUND) {
      fail(err, "no agent is running in this session");
      return MJW_CALL_NO_AGENT;
    }
  }
}

// Reads the reply up to its '\n', which becomes the NUL.
mjw_call_result read_reply(HANDLE pipe, char *reply, size_t size, DWORD timeout_ms, ULONGLONG deadline, mjh_text *err) {
  size_t limit = size ? size - 1 : 0;
  if (limit > MJH_REPLY_MAX) limit = MJH_REPLY_MAX;
  size_t len = 0;
  for (;;) {
    if (char *newline = static_cast<char *>(memchr(reply, '\n', len))) {
      *newline = '\0';
      return MJW_CALL_OK;
    }
    if (len >= limit) {
      fail(err, "the agent's reply is longer than ", limit, " bytes");
      return MJW_CALL_FAILED;
    }
    DWORD done = 0, error = 0;
    io_result io = timed_io(pipe, false, reply + len, static_cast<DWORD>(limit - len), done, deadline, error);
    if (io == IO_TIMED_OUT) {
      fail(err, "the agent did not reply within ", timeout_ms, " ms");
      return MJW_CALL_FAILED;
    }
    if (io == IO_FAILED || done == 0) {
      if (io == IO_DONE || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
        fail(err, "the agent closed the connection without a whole reply");
        return MJW_CALL_CLOSED;
      }
      fail(err, "cannot read the agent's reply (error ", error, ")");
      return MJW_CALL_FAILED;
    }
    len += done;
  }
}

}  // namespace

mjw_call_result mjw_pipe_connect(mjw_file &pipe, DWORD timeout_ms, mjh_text *err) {
  return connect_pipe(pipe, GetTickCount64() + timeout_ms, err);
}

mjw_call_result mjw_pipe_call(std::string_view request, char *reply, size_t size, DWORD timeout_ms,
                              mjw_pipe_server *server, mjh_text *err, DWORD vetted_pid) {
  ULONGLONG deadline = GetTickCount64() + timeout_ms;
  if (size) reply[0] = '\0';
  if (server) *server = mjw_pipe_server();
  mjw_file pipe;
  mjw_call_result result = connect_pipe(pipe, deadline, err);
  if (result != MJW_CALL_OK) return result;

  ULONG pid = 0;
  if (!GetNamedPipeServerProcessId(pipe.get(), &pid)) {
    fail(err, "cannot tell which process serves the agent's pipe (error ", GetLastError(), ")");
    return MJW_CALL_FAILED;
  }
  if (server) server->pid = pid;
  // Opened while connected: the server holds its end of this connection, so
  // the process is alive and its id not yet reused.
  mjw_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  mjh_text_buffer<160> why;
  if (!server_trusted(mjw_server_token(process.get()), vetted_pid != 0 && pid == vetted_pid, &why)) {
    fail(err, "the agent's pipe is served by process ", pid, ", ", why.view());
    return MJW_CALL_UNTRUSTED;
  }
  if (server) server->process = std::move(process);

  DWORD done = 0, error = 0;
  io_result io = timed_io(pipe.get(), true, const_cast<char *>(request.data()), static_cast<DWORD>(request.size()),
                          done, deadline, error);
  if (io == IO_DONE && done != request.size()) io = IO_FAILED;
  if (io == IO_TIMED_OUT) {
    fail(err, "the agent did not take the request within ", timeout_ms, " ms");
    return MJW_CALL_FAILED;
  }
  if (io != IO_DONE) {
    if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
      fail(err, "the agent closed the connection without a whole reply");
      return MJW_CALL_CLOSED;
    }
    fail(err, "cannot send the request to the agent (error ", error, ")");
    return MJW_CALL_FAILED;
  }
  result = read_reply(pipe.get(), reply, size, timeout_ms, deadline, err);
  if (result != MJW_CALL_OK && size) reply[0] = '\0';
  return result;
}
