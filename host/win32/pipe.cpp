#include "pipe.h"

#include <string.h>

#include <utility>

#include "protocol.h"
#include "wide.h"

namespace {

template <typename... Parts>
void fail(mjh_text *err, const Parts &...parts) {
  if (err) err->add(parts...);
}

// A SID in place: no SID is longer than SECURITY_MAX_SID_SIZE.
struct sid_buffer {
  alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE];
};

// The user SID of a process's token.
bool token_user_sid(HANDLE process, sid_buffer &sid) {
  mjw_handle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.receive())) return false;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenUser, &info, sizeof info, &size) &&
         CopySid(sizeof sid.bytes, sid.bytes, info.user.User.Sid);
}

bool same_user(HANDLE process) {
  sid_buffer theirs, ours;
  return token_user_sid(process, theirs) && token_user_sid(GetCurrentProcess(), ours) &&
         EqualSid(ours.bytes, theirs.bytes);
}

}  // namespace

bool mjw_pipe_name(wchar_t *buf, size_t count) {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
  mjh_text_buffer<64> name;
  name.add("\\\\.\\pipe\\veltrano-mouse-jiggler-", session);
  return mjw_widen(name.view(), buf, count);
}

// One block holds the descriptor, its DACL and the SID the DACL names.
bool mjw_pipe_security_make(mjw_pipe_security &s, mjh_text *err) {
  s.attributes = {sizeof s.attributes, nullptr, FALSE};
  s.memory.reset();
  sid_buffer sid;
  if (!token_user_sid(GetCurrentProcess(), sid)) {
    fail(err, "cannot read this process's user (error ", GetLastError(), ")");
    return false;
  }
  DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid.bytes);
  acl_size = (acl_size + 3) & ~3u;
  mjw_local block(LocalAlloc(LPTR, sizeof(SECURITY_DESCRIPTOR) + acl_size));
  if (!block) {
    fail(err, "cannot make the pipe's security descriptor: out of memory");
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  auto *sd = static_cast<SECURITY_DESCRIPTOR *>(block.get());
  auto *acl = reinterpret_cast<ACL *>(static_cast<BYTE *>(block.get()) + sizeof(SECURITY_DESCRIPTOR));
  // One ACE, no inherited ones: the DACL is protected from its parent's.
  if (!InitializeAcl(acl, acl_size, ACL_REVISION) || !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid.bytes) ||
      !InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(sd, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    fail(err, "cannot make the pipe's security descriptor (error ", GetLastError(), ")");
    return false;
  }
  s.attributes.lpSecurityDescriptor = sd;
  s.memory = std::move(block);
  return true;
}

bool mjw_same_user_process(DWORD pid) {
  mjw_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  return process && same_user(process.get());
}

bool mjw_pipe_exists() {
  wchar_t name[64];
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
  wchar_t name[64];
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
      if (io == IO_DONE || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)
        fail(err, "the agent closed the connection without a whole reply");
      else
        fail(err, "cannot read the agent's reply (error ", error, ")");
      return MJW_CALL_FAILED;
    }
    len += done;
  }
}

}  // namespace

mjw_call_result mjw_pipe_call(std::string_view request, char *reply, size_t size, DWORD timeout_ms,
                              mjw_pipe_server *server, mjh_text *err) {
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
  if (!process || !same_user(process.get())) {
    fail(err, "the agent's pipe is served by process ", pid, ", which does not run as this user");
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
    if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)
      fail(err, "the agent closed the connection without a whole reply");
    else
      fail(err, "cannot send the request to the agent (error ", error, ")");
    return MJW_CALL_FAILED;
  }
  result = read_reply(pipe.get(), reply, size, timeout_ms, deadline, err);
  if (result != MJW_CALL_OK && size) reply[0] = '\0';
  return result;
}
