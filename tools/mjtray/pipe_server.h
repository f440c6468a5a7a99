/* mjtray's control pipe: one thread serves several clients at once with
 * overlapped I/O, reads and parses their request lines, and hands each parsed
 * request to the UI thread, which acts and writes the reply. */
#ifndef MJTRAY_PIPE_SERVER_H
#define MJTRAY_PIPE_SERVER_H

#include <windows.h>

#include "protocol.h"

enum {
  PIPE_SERVER_INSTANCES = 4,     /* clients served at once */
  PIPE_SERVER_DEADLINE_MS = 2000 /* from connecting (or the last reply) to a whole request line, and to write a reply */
};

/* What the server thread sends the window (SendMessageW, lParam) for each
 * valid request; the UI thread writes the reply line and its length. */
typedef struct pipe_call {
  mjh_request request;
  char reply[MJH_REPLY_MAX];
  size_t reply_len; /* 0: no reply written (the server then answers that the agent is not answering) */
} pipe_call;

/* Set the call's reply: {"ok":true}, or {"ok":false,"error":message}. */
void pipe_call_ok(pipe_call *call);
void pipe_call_error(pipe_call *call, const char *message);

typedef struct pipe_server pipe_server;

/* Creates the pipe's instances and starts the server thread, which sends
 * `message` to `window` for each request. saved: the settings a start's
 * options apply to. Returns NULL with a Windows error code in *error, which
 * is ERROR_ACCESS_DENIED or ERROR_PIPE_BUSY when another process owns the
 * pipe's name. */
pipe_server *pipe_server_start(HWND window, UINT message, const mjh_options *saved, DWORD *error);

/* Updates the settings later requests are parsed against. */
void pipe_server_set_saved(pipe_server *server, const mjh_options *saved);

/* Stops serving: lets replies already written reach their clients (within
 * the deadline), joins the thread and frees everything. Called on the UI
 * thread; handles the requests that still arrive meanwhile. */
void pipe_server_stop(pipe_server *server);

#endif
