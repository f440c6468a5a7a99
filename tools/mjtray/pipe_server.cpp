/* One thread, PIPE_SERVER_INSTANCES pipe instances, one event each. Every
 * instance runs through listening, reading a request line, writing its reply
 * and reading again; a deadline bounds the time a client may take to send a
 * whole line and to take its reply, so a silent or slow client costs one
 * instance for at most that long and never holds up the others. */
#include "pipe_server.h"

#include <string.h>

#include "pipe.h"

typedef enum slot_state {
  SLOT_CLOSED,    /* not serving (stopping), or waiting to listen again */
  SLOT_LISTENING, /* ConnectNamedPipe pending */
  SLOT_READING,   /* waiting for (the rest of) a request line */
  SLOT_WRITING,   /* writing a reply */
  SLOT_DRAINING   /* the last reply is written: reading until the client closes, then dropping it */
} slot_state;

typedef struct slot {
  HANDLE pipe;
  OVERLAPPED ov;
  slot_state state;
  int pending;        /* an overlapped operation is outstanding on ov */
  ULONGLONG deadline; /* 0: none */
  int replied;        /* a reply was written since the client connected */
  int drain_after_write;
  mjh_line_reader reader;
  char in[1024];
  DWORD in_len, in_pos; /* bytes read and not yet fed to the reader */
  pipe_call call;
} slot;

struct pipe_server {
  HWND window;
  UINT message;
  HANDLE thread, stop_event;
  CRITICAL_SECTION lock; /* guards saved */
  mjh_options saved;
  mjw_pipe_security security;
  wchar_t name[64];
  int stopping;
  slot slots[PIPE_SERVER_INSTANCES];
};

enum { RELISTEN_DELAY_MS = 100, SERVER_STACK_BYTES = 256 * 1024 };

static void slot_listen(pipe_server *server, slot *s);

static ULONGLONG now_ms(void) { return GetTickCount64(); }

/* Ends whatever the client was doing: cancels the outstanding operation,
 * disconnects (unread data is discarded) and listens again, unless the
 * server is stopping. */
static void slot_drop(pipe_server *server, slot *s) {
  if (s->pending) {
    DWORD n;
    CancelIo(s->pipe);
    GetOverlappedResult(s->pipe, &s->ov, &n, TRUE);
    s->pending = 0;
  }
  DisconnectNamedPipe(s->pipe);
  s->deadline = 0;
  s->state = SLOT_CLOSED;
  if (!server->stopping) slot_listen(server, s);
}

static int slot_io_started(BOOL ok) { return ok || GetLastError() == ERROR_IO_PENDING; }

static void slot_read(pipe_server *server, slot *s) {
  if (slot_io_started(ReadFile(s->pipe, s->in, sizeof s->in, NULL, &s->ov)))
    s->pending = 1;
  else
    slot_drop(server, s);
}

static void slot_connected(pipe_server *server, slot *s) {
  s->state = SLOT_READING;
  s->deadline = now_ms() + PIPE_SERVER_DEADLINE_MS;
  s->replied = 0;
  s->drain_after_write = 0;
  s->in_len = s->in_pos = 0;
  mjh_line_reader_init(&s->reader);
  slot_read(server, s);
}

static void slot_listen(pipe_server *server, slot *s) {
  s->pending = 0;
  s->deadline = 0;
  if (ConnectNamedPipe(s->pipe, &s->ov) || GetLastError() == ERROR_IO_PENDING) {
    s->state = SLOT_LISTENING;
    s->pending = 1;
  } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
    slot_connected(server, s); /* connected between the disconnect and this call */
  } else {
    /* E.g. a client that came and went at once: disconnect and try again
     * shortly rather than spin. */
    DisconnectNamedPipe(s->pipe);
    s->state = SLOT_CLOSED;
    s->deadline = now_ms() + RELISTEN_DELAY_MS;
  }
}

static void slot_write(pipe_server *server, slot *s) {
  s->state = SLOT_WRITING;
  s->deadline = now_ms() + PIPE_SERVER_DEADLINE_MS;
  if (slot_io_started(WriteFile(s->pipe, s->call.reply, (DWORD)s->call.reply_len, NULL, &s->ov)))
    s->pending = 1;
  else
    slot_drop(server, s);
}

void pipe_call_ok(pipe_call *call) {
  mjh_text reply(call->reply);
  mjh_reply_ok(reply);
  call->reply_len = reply.ok() ? reply.size() : 0;
}

void pipe_call_error(pipe_call *call, const char *message) {
  mjh_text reply(call->reply);
  mjh_reply_error(message, reply);
  call->reply_len = reply.ok() ? reply.size() : 0;
}

/* Parses one request line here and has the UI thread act on it. */
static void slot_answer(pipe_server *server, slot *s) {
  mjh_text_buffer<256> err;
  mjh_options saved;
  size_t len = s->reader.len;
  const char *line = s->reader.line;
  EnterCriticalSection(&server->lock);
  saved = server->saved;
  LeaveCriticalSection(&server->lock);
  s->call.reply_len = 0;
  if (!mjh_request_parse(line, len, &saved, &s->call.request, &err)) {
    pipe_call_error(&s->call, err.c_str());
  } else {
    SendMessageW(server->window, server->message, 0, (LPARAM)&s->call);
    if (!s->call.reply_len) pipe_call_error(&s->call, "the agent is not answering");
  }
}

/* Feeds the bytes read so far to the line reader; writes the reply of a
 * complete line, or reads on. */
static void slot_consume(pipe_server *server, slot *s) {
  while (s->in_pos < s->in_len) {
    size_t used = 0;
    mjh_line_result r = mjh_line_reader_feed(&s->reader, s->in + s->in_pos, s->in_len - s->in_pos, &used);
    s->in_pos += (DWORD)used;
    if (r == MJH_LINE_READY) {
      slot_answer(server, s);
      mjh_line_reader_next(&s->reader);
      slot_write(server, s);
      return;
    }
    if (r == MJH_LINE_TOO_LONG) {
      pipe_call_error(&s->call, "request line longer than 4096 bytes");
      s->drain_after_write = 1;
      slot_write(server, s);
      return;
    }
  }
  s->in_len = s->in_pos = 0;
  slot_read(server, s);
}

/* The outstanding operation of s has finished. */
static void slot_complete(pipe_server *server, slot *s) {
  DWORD n = 0;
  BOOL ok = GetOverlappedResult(s->pipe, &s->ov, &n, FALSE);
  s->pending = 0;
  switch (s->state) {
    case SLOT_LISTENING:
      if (ok || GetLastError() == ERROR_PIPE_CONNECTED)
        slot_connected(server, s);
      else
        slot_drop(server, s);
      break;
    case SLOT_READING:
      if (!ok) { /* the client closed or broke off, maybe mid-request */
        slot_drop(server, s);
      } else {
        s->in_len = n;
        s->in_pos = 0;
        slot_consume(server, s);
      }
      break;
    case SLOT_WRITING:
      if (!ok || n != s->call.reply_len) {
        slot_drop(server, s);
      } else {
        s->replied = 1;
        s->deadline = now_ms() + PIPE_SERVER_DEADLINE_MS;
        if (s->drain_after_write || server->stopping) {
          /* Disconnecting now would discard the reply before the client
           * reads it: wait for the client to close instead. */
          s->state = SLOT_DRAINING;
          slot_read(server, s);
        } else {
          s->state = SLOT_READING;
          slot_consume(server, s); /* bytes of a next request may be there already */
        }
      }
      break;
    case SLOT_DRAINING:
      if (ok)
        slot_read(server, s);
      else
        slot_drop(server, s);
      break;
    case SLOT_CLOSED:
      break;
  }
}

/* Stop requested: no new clients, no new requests; replies already written
 * still get to their readers. */
static void server_begin_stop(pipe_server *server) {
  int i;
  server->stopping = 1;
  for (i = 0; i < PIPE_SERVER_INSTANCES; ++i) {
    slot *s = &server->slots[i];
    if (s->state == SLOT_READING && s->replied && s->reader.len == 0 && s->in_pos == s->in_len)
      s->state = SLOT_DRAINING; /* its pending read now waits for the close */
    else if (s->state != SLOT_WRITING && s->state != SLOT_DRAINING)
      slot_drop(server, s);
  }
}

static DWORD WINAPI server_thread(void *param) {
  pipe_server *server = static_cast<pipe_server *>(param);
  int i;
  for (i = 0; i < PIPE_SERVER_INSTANCES; ++i) slot_listen(server, &server->slots[i]);
  for (;;) {
    HANDLE events[PIPE_SERVER_INSTANCES + 1];
    slot *owners[PIPE_SERVER_INSTANCES + 1];
    DWORD count = 0, timeout = INFINITE, r;
    ULONGLONG now = now_ms();
    int busy = 0;

    if (!server->stopping) {
      owners[count] = NULL;
      events[count++] = server->stop_event;
    }
    for (i = 0; i < PIPE_SERVER_INSTANCES; ++i) {
      slot *s = &server->slots[i];
      if (s->pending) {
        owners[count] = s;
        events[count++] = s->ov.hEvent;
      }
      if (s->deadline) {
        DWORD left = s->deadline > now ? (DWORD)(s->deadline - now) : 0;
        if (left < timeout) timeout = left;
      }
      if (s->state != SLOT_CLOSED) busy = 1;
    }
    if (server->stopping && !busy) break;

    r = WaitForMultipleObjects(count, events, FALSE, timeout);
    if (r < WAIT_OBJECT_0 + count) {
      slot *s = owners[r - WAIT_OBJECT_0];
      if (s)
        slot_complete(server, s);
      else
        server_begin_stop(server);
    }
    now = now_ms();
    for (i = 0; i < PIPE_SERVER_INSTANCES; ++i) {
      slot *s = &server->slots[i];
      if (!s->deadline || now < s->deadline) continue;
      if (s->state == SLOT_CLOSED) {
        s->deadline = 0;
        if (!server->stopping) slot_listen(server, s);
      } else {
        slot_drop(server, s); /* too slow: dropped */
      }
    }
  }
  return 0;
}

static void server_free(pipe_server *server) {
  int i;
  for (i = 0; i < PIPE_SERVER_INSTANCES; ++i) {
    slot *s = &server->slots[i];
    if (s->pipe && s->pipe != INVALID_HANDLE_VALUE) CloseHandle(s->pipe);
    if (s->ov.hEvent) CloseHandle(s->ov.hEvent);
  }
  if (server->stop_event) CloseHandle(server->stop_event);
  server->security.memory.reset();
  DeleteCriticalSection(&server->lock);
  HeapFree(GetProcessHeap(), 0, server);
}

pipe_server *pipe_server_start(HWND window, UINT message, const mjh_options *saved, DWORD *error) {
  pipe_server *server = static_cast<pipe_server *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *server));
  int i;
  if (!server) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    return NULL;
  }
  server->window = window;
  server->message = message;
  server->saved = *saved;
  InitializeCriticalSection(&server->lock);
  mjw_pipe_name(server->name);
  if (!mjw_pipe_security_make(server->security, nullptr)) {
    *error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    server_free(server);
    return NULL;
  }
  server->stop_event = CreateEventW(NULL, TRUE, FALSE, NULL);
  for (i = 0; i < PIPE_SERVER_INSTANCES; ++i) {
    slot *s = &server->slots[i];
    /* The first instance proves that no other process owns the name. */
    DWORD first = i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
    s->pipe = CreateNamedPipeW(server->name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | first,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                               PIPE_SERVER_INSTANCES, MJH_REPLY_MAX, MJH_REQUEST_MAX, 0, &server->security.attributes);
    if (s->pipe == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      server_free(server);
      return NULL;
    }
    s->ov.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!s->ov.hEvent) {
      *error = GetLastError();
      server_free(server);
      return NULL;
    }
  }
  if (!server->stop_event) {
    *error = GetLastError();
    server_free(server);
    return NULL;
  }
  /* Its deepest call is the request parser's: a small stack will do. */
  server->thread =
      CreateThread(NULL, SERVER_STACK_BYTES, server_thread, server, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
  if (!server->thread) {
    *error = GetLastError();
    server_free(server);
    return NULL;
  }
  return server;
}

void pipe_server_set_saved(pipe_server *server, const mjh_options *saved) {
  EnterCriticalSection(&server->lock);
  server->saved = *saved;
  LeaveCriticalSection(&server->lock);
}

void pipe_server_stop(pipe_server *server) {
  SetEvent(server->stop_event);
  /* The thread may be sending this (the UI) thread a request: handle sent
   * messages while waiting, or both would wait forever. */
  while (MsgWaitForMultipleObjects(1, &server->thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  CloseHandle(server->thread);
  server_free(server);
}
