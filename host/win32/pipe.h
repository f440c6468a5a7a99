/* The agent's named pipe on Windows: its name in this session, the security
 * that keeps it to the user who runs the agent, and the client's call. */
#ifndef MJW_PIPE_H
#define MJW_PIPE_H

#include <windows.h>


/* \\.\pipe\veltrano-mouse-jiggler-<session id of this process>. */
void mjw_pipe_name(wchar_t *buf, size_t count);

/* Security attributes whose DACL grants full access to this process's user
 * and no one else. Returns 0 on failure. Free with mjw_pipe_security_free. */
int mjw_pipe_security(SECURITY_ATTRIBUTES *sa);
void mjw_pipe_security_free(SECURITY_ATTRIBUTES *sa);

/* 1 when process pid runs as the same user as this process. */
int mjw_same_user_process(DWORD pid);

/* 1 while the agent's pipe exists in this session (busy or not). */
int mjw_pipe_exists(void);

typedef enum mjw_call_result {
  MJW_CALL_OK,        /* reply holds one reply line, NUL-terminated */
  MJW_CALL_NO_AGENT,  /* no agent serves the pipe in this session */
  MJW_CALL_UNTRUSTED, /* the pipe's server runs as another user: nothing was sent */
  MJW_CALL_FAILED     /* the exchange failed or timed out; err says how */
} mjw_call_result;

/* Sends one request line (ending in '\n') to the agent and reads its reply
 * line into reply, without its '\n'; a reply longer than MJH_REPLY_MAX (or
 * than size - 1) is a failure. Gives up after timeout_ms in all. Nothing is
 * sent unless the pipe's server runs as this user. err gets a message for a
 * person on any result but MJW_CALL_OK. */
mjw_call_result mjw_pipe_call(const char *request, char *reply, size_t size, DWORD timeout_ms, char *err,
                              size_t err_size);


#endif
