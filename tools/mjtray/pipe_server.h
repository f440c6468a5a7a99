// mjtray's control pipe. One thread serves PIPE_SERVER_INSTANCES clients at
// once with overlapped I/O: it reads each request line, parses it, answers a
// bad one itself and queues a good one for the UI thread, which it wakes with
// a posted message and never waits for. The UI thread takes the queued
// requests one at a time from its own message loop, answers each, and the
// pipe thread writes the reply. A request the UI thread has not taken within
// PIPE_SERVER_TAKE_MS (its menu is open) is withdrawn and answered "busy".
#ifndef MJTRAY_PIPE_SERVER_H
#define MJTRAY_PIPE_SERVER_H

#include <windows.h>

#include "protocol.h"

enum {
  PIPE_SERVER_INSTANCES = 4,       // clients served at once
  PIPE_SERVER_DEADLINE_MS = 2000,  // from connecting (or the last reply) to a whole request line, and to take a reply
  PIPE_SERVER_TAKE_MS = 3000       // a queued request the UI thread has not taken by then is answered "busy"
};

// A request queued for the UI thread, and its reply.
struct pipe_call {
  mjh_request request;
  char reply[MJH_REPLY_MAX];
};

// Takes the agent's place: creates the pipe's instances, the first with
// FILE_FLAG_FIRST_PIPE_INSTANCE, so that a name another process holds is
// refused. They are held until the process ends. Returns false with a
// Windows error code in *error; pipe_server_place_held tells whether that
// means another process holds the place.
bool pipe_server_claim(DWORD *error);
bool pipe_server_place_held(DWORD error);

// After a claim: starts the thread, which serves the instances and posts
// `message` to `window` whenever it queues a request. Returns false with a
// Windows error code in *error.
bool pipe_server_start(HWND window, UINT message, DWORD *error);

// UI thread: the oldest queued request, now the caller's until it calls
// pipe_server_answer; null when none is queued.
pipe_call *pipe_server_take();
// UI thread: call->reply holds the reply line (with its '\n'); the pipe
// thread writes it.
void pipe_server_answer(pipe_call *call);

// Whether a quit request is queued (the UI thread then closes its menu).
bool pipe_server_quit_queued();

// UI thread: stops serving. Requests still queued, and those of clients
// already connected, are answered "the agent is shutting down"; replies
// already given reach their clients within a short grace. A client that
// connects later, or sends nothing within the grace, finds the connection
// closed while the process ends. Waits at most wait_ms for the thread;
// returns whether it ended.
bool pipe_server_stop(DWORD wait_ms);

#endif
