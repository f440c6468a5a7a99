#include "pipe.h"

#include <stdio.h>
#include <string.h>

#include "protocol.h"

void mjw_pipe_name(wchar_t *buf, size_t count) {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
  swprintf(buf, count, L"\\\\.\\pipe\\veltrano-mouse-jiggler-%lu", (unsigned long)session);
}

/* The user SID of a process's token, copied into a block of the process
 * heap; NULL on failure. */
static PSID token_user_sid(HANDLE process) {
  HANDLE token;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return NULL;
  PSID sid = NULL;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, NULL, 0, &size);
  TOKEN_USER *user = size ? static_cast<TOKEN_USER *>(HeapAlloc(GetProcessHeap(), 0, size)) : NULL;
  if (user && GetTokenInformation(token, TokenUser, user, size, &size)) {
    DWORD sid_size = GetLengthSid(user->User.Sid);
    sid = HeapAlloc(GetProcessHeap(), 0, sid_size);
    if (sid && !CopySid(sid_size, sid, user->User.Sid)) {
      HeapFree(GetProcessHeap(), 0, sid);
      sid = NULL;
    }
  }
  if (user) HeapFree(GetProcessHeap(), 0, user);
  CloseHandle(token);
  return sid;
}

/* One heap block holds the descriptor, its DACL and the SID the DACL names,
 * so that freeing the descriptor frees everything. */
int mjw_pipe_security(SECURITY_ATTRIBUTES *sa) {
  memset(sa, 0, sizeof *sa);
  sa->nLength = sizeof *sa;
  PSID sid = token_user_sid(GetCurrentProcess());
  if (!sid) return 0;
  DWORD sid_size = GetLengthSid(sid);
  DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid_size;
  acl_size = (acl_size + 3) & ~3u;
  BYTE *block = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SECURITY_DESCRIPTOR) + acl_size));
  int ok = 0;
  if (block) {
    SECURITY_DESCRIPTOR *sd = (SECURITY_DESCRIPTOR *)block;
    ACL *acl = (ACL *)(block + sizeof(SECURITY_DESCRIPTOR));
    /* One ACE, no inherited ones: the DACL is protected from its parent's. */
    ok = InitializeAcl(acl, acl_size, ACL_REVISION) && AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) &&
         InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(sd, TRUE, acl, FALSE) &&
         SetSecurityDescriptorControl(sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (ok)
      sa->lpSecurityDescriptor = sd;
    else
      HeapFree(GetProcessHeap(), 0, block);
  }
  /* The ACE holds its own copy of the SID. */
  HeapFree(GetProcessHeap(), 0, sid);
  return ok;
}

void mjw_pipe_security_free(SECURITY_ATTRIBUTES *sa) {
  if (sa->lpSecurityDescriptor) HeapFree(GetProcessHeap(), 0, sa->lpSecurityDescriptor);
  sa->lpSecurityDescriptor = NULL;
}

int mjw_same_user_process(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return 0;
  PSID theirs = token_user_sid(process);
  CloseHandle(process);
  if (!theirs) return 0;
  PSID ours = token_user_sid(GetCurrentProcess());
  int same = ours && EqualSid(ours, theirs);
  if (ours) HeapFree(GetProcessHeap(), 0, ours);
  HeapFree(GetProcessHeap(), 0, theirs);
  return same;
}

int mjw_pipe_exists(void) {
  wchar_t name[64];
  mjw_pipe_name(name, sizeof name / sizeof name[0]);
  /* Waits for nothing: succeeds when an instance is free, fails with
   * ERROR_SEM_TIMEOUT when all are busy and ERROR_FILE_NOT_FOUND when none
   * exists. */
  if (WaitNamedPipeW(name, 1)) return 1;
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

/* ---- The call ------------------------------------------------------------- */

static DWORD remaining_ms(ULONGLONG deadline) {
  ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : (DWORD)(deadline - now);
}

typedef enum io_result { IO_DONE, IO_TIMED_OUT, IO_FAILED } io_result;

/* One overlapped read or write that gives up at the deadline. *error gets
 * GetLastError's value on IO_FAILED. */
static io_result timed_io(HANDLE pipe, int writing, void *data, DWORD size, DWORD *done, ULONGLONG deadline,
                          DWORD *error) {
  OVERLAPPED ov;
  memset(&ov, 0, sizeof ov);
  ov.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
  if (!ov.hEvent) {
    *error = GetLastError();
    return IO_FAILED;
  }
  *done = 0;
  BOOL ok = writing ? WriteFile(pipe, data, size, NULL, &ov) : ReadFile(pipe, data, size, NULL, &ov);
  io_result result = IO_DONE;
  if (!ok && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
    *error = GetLastError();
    result = IO_FAILED;
  } else {
    if (WaitForSingleObject(ov.hEvent, remaining_ms(deadline)) != WAIT_OBJECT_0) {
      CancelIo(pipe);
      result = IO_TIMED_OUT;
    }
    /* Waits for a cancelled operation too, so that ov outlives it. */
    if (!GetOverlappedResult(pipe, &ov, done, TRUE) && GetLastError() != ERROR_MORE_DATA && result == IO_DONE) {
      *error = GetLastError();
      result = IO_FAILED;
    }
  }
  CloseHandle(ov.hEvent);
  return result;
}

/* Connects to the agent's pipe, waiting while all instances are busy. */
static mjw_call_result connect_pipe(HANDLE *pipe, ULONGLONG deadline, char *err, size_t err_size) {
  wchar_t name[64];
  mjw_pipe_name(name, sizeof name / sizeof name[0]);
  for (;;) {
    /* SECURITY_IDENTIFICATION: the server may learn who we are, not act as us. */
    *pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, NULL);
    if (*pipe != INVALID_HANDLE_VALUE) return MJW_CALL_OK;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      snprintf(err, err_size, "no agent is running in this session");
      return MJW_CALL_NO_AGENT;
    }
    if (error != ERROR_PIPE_BUSY) {
      snprintf(err, err_size, "cannot connect to the agent (error %lu)", error);
      return MJW_CALL_FAILED;
    }
    DWORD wait = remaining_ms(deadline);
    if (wait == 0) {
      snprintf(err, err_size, "the agent is busy: no connection within the time allowed");
      return MJW_CALL_FAILED;
    }
    if (!WaitNamedPipeW(name, wait) && GetLastError() == ERROR_FILE_NOT_FOUND) {
      snprintf(err, err_size, "no agent is running in this session");
      return MJW_CALL_NO_AGENT;
    }
  }
}

mjw_call_result mjw_pipe_call(const char *request, char *reply, size_t size, DWORD timeout_ms, char *err,
                              size_t err_size) {
  ULONGLONG deadline = GetTickCount64() + timeout_ms;
  if (size) reply[0] = '\0';
  if (err_size) err[0] = '\0';
  HANDLE pipe;
  mjw_call_result result = connect_pipe(&pipe, deadline, err, err_size);
  if (result != MJW_CALL_OK) return result;

  ULONG server = 0;
  if (!GetNamedPipeServerProcessId(pipe, &server)) {
    snprintf(err, err_size, "cannot tell which process serves the agent's pipe (error %lu)", GetLastError());
    CloseHandle(pipe);
    return MJW_CALL_FAILED;
  }
  if (!mjw_same_user_process(server)) {
    snprintf(err, err_size, "the agent's pipe is served by process %lu, which does not run as this user",
             (unsigned long)server);
    CloseHandle(pipe);
    return MJW_CALL_UNTRUSTED;
  }

  DWORD done = 0, error = 0;
  size_t request_len = strlen(request);
  io_result io = timed_io(pipe, 1, (void *)request, (DWORD)request_len, &done, deadline, &error);
  if (io == IO_DONE && done != request_len) io = IO_FAILED;
  if (io != IO_DONE) {
    if (io == IO_TIMED_OUT)
      snprintf(err, err_size, "the agent did not take the request within %lu ms", (unsigned long)timeout_ms);
    else if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)
      snprintf(err, err_size, "the agent closed the connection without a whole reply");
    else
      snprintf(err, err_size, "cannot send the request to the agent (error %lu)", error);
    CloseHandle(pipe);
    return MJW_CALL_FAILED;
  }

  /* The reply: up to its '\n', which is dropped. */
  size_t limit = size ? size - 1 : 0;
  if (limit > MJH_REPLY_MAX) limit = MJH_REPLY_MAX;
  size_t len = 0;
  result = MJW_CALL_FAILED;
  for (;;) {
    char *newline = static_cast<char *>(memchr(reply, '\n', len));
    if (newline) {
      *newline = '\0';
      result = MJW_CALL_OK;
      break;
    }
    if (len >= limit) {
      snprintf(err, err_size, "the agent's reply is longer than %lu bytes", (unsigned long)limit);
      break;
    }
    io = timed_io(pipe, 0, reply + len, (DWORD)(limit - len), &done, deadline, &error);
    if (io == IO_TIMED_OUT) {
      snprintf(err, err_size, "the agent did not reply within %lu ms", (unsigned long)timeout_ms);
      break;
    }
    if (io == IO_FAILED || done == 0) {
      if (io == IO_DONE || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)
        snprintf(err, err_size, "the agent closed the connection without a whole reply");
      else
        snprintf(err, err_size, "cannot read the agent's reply (error %lu)", error);
      break;
    }
    len += done;
  }
  if (result != MJW_CALL_OK && size) reply[0] = '\0';
  CloseHandle(pipe);
  return result;
}
