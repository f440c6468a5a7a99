// One thread, PIPE_SERVER_INSTANCES pipe instances, one event each. Every
// instance runs through listening, reading a request line, waiting for the
// UI thread's answer (queued, then taken), writing the reply and reading
// again. Deadlines bound what a client may take to send a line and to take
// its reply, so a silent or slow client costs one instance for at most that
// long. The thread owns the pipes; the UI thread touches only the queue and
// the calls it takes, under the lock.
#include "pipe_server.h"

#include <string.h>

#include <atomic>

#include "handle.h"
#include "locked.h"
#include "pipe.h"
#include "text.h"

namespace {

enum slot_state {
  SLOT_CLOSED,     // not serving: waiting to listen again, or stopped
  SLOT_LISTENING,  // ConnectNamedPipe pending
  SLOT_READING,    // waiting for (the rest of) a request line
  SLOT_QUEUED,     // a request waits in the queue for the UI thread
  SLOT_ANSWERING,  // the UI thread has taken it
  SLOT_WRITING,    // writing a reply
  SLOT_DRAINING    // a last reply is written: reading until the client closes
};

enum {
  RELISTEN_DELAY_MS = 100,
  STOP_GRACE_MS = 1000,  // for replies already given to reach their clients when stopping
  SERVER_STACK_BYTES = 256 * 1024
};

struct slot {
  // Shared with the UI thread: written under g_lock (the UI thread moves a
  // slot from queued to answering), read by the pipe thread at any time.
  std::atomic<slot_state> state;
  bool answered;
  pipe_call call;
  // The pipe thread's alone:
  OVERLAPPED ov;
  bool pending;        // an overlapped operation is outstanding on ov
  ULONGLONG deadline;  // 0: none
  bool replied;        // a reply was written since the client connected
  bool drain_after_write;
  mjh_line_reader reader;
  char in[1024];
  DWORD in_len, in_pos;  // bytes read and not yet fed to the reader
  DWORD reply_len;
};

// The state both threads see. It lives as long as the process: a thread that
// does not end within the UI thread's wait is left to the end of the process.
CRITICAL_SECTION g_lock;
slot g_slots[PIPE_SERVER_INSTANCES];
slot *g_queue[PIPE_SERVER_INSTANCES];  // oldest first
int g_queued;
bool g_stop_requested;
HWND g_window;
UINT g_message;
mjw_handle g_stop_event;    // set by pipe_server_stop
mjw_handle g_answer_event;  // set by pipe_server_answer
mjw_handle g_thread;
mjw_file g_pipes[PIPE_SERVER_INSTANCES];
mjw_handle g_io_events[PIPE_SERVER_INSTANCES];

ULONGLONG now_ms() { return GetTickCount64(); }

HANDLE pipe_of(const slot *s) { return g_pipes[s - g_slots].get(); }

bool io_started(BOOL ok) { return ok || GetLastError() == ERROR_IO_PENDING; }

void set_state(slot *s, slot_state state) {
  mjw_locked hold(g_lock);
  s->state = state;
}

// Takes the entry at `at` out of the queue; under g_lock.
void unqueue(int at) {
  memmove(g_queue + at, g_queue + at + 1, (g_queued - at - 1) * sizeof g_queue[0]);
  g_queued--;
}

// Removes s from the queue if it is there; true when it was (not yet taken).
bool withdraw(slot *s) {
  mjw_locked hold(g_lock);
  if (s->state != SLOT_QUEUED) return false;
  for (int i = 0; i < g_queued; i++) {
    if (g_queue[i] != s) continue;
    unqueue(i);
    break;
  }
  s->state = SLOT_READING;  // the caller writes a reply of its own
  return true;
}

void slot_listen(slot *s, bool stopping);

// Cancels the slot's outstanding operation, if any, and waits until it has
// ended (its buffer is then free).
void slot_cancel(slot *s) {
  if (!s->pending) return;
  DWORD n;
  CancelIo(pipe_of(s));
  GetOverlappedResult(pipe_of(s), &s->ov, &n, TRUE);
  s->pending = false;
}

// Ends whatever the client was doing: cancels the outstanding operation,
// disconnects (unread data is discarded) and listens again unless stopping.
void slot_drop(slot *s, bool stopping) {
  slot_cancel(s);
  withdraw(s);
  DisconnectNamedPipe(pipe_of(s));
  s->deadline = 0;
  set_state(s, SLOT_CLOSED);
  if (!stopping) slot_listen(s, stopping);
}

void slot_read(slot *s, bool stopping) {
  if (io_started(ReadFile(pipe_of(s), s->in, sizeof s->in, nullptr, &s->ov)))
    s->pending = true;
  else
    slot_drop(s, stopping);
}

void slot_connected(slot *s, bool stopping) {
  set_state(s, SLOT_READING);
  s->deadline = now_ms() + PIPE_SERVER_DEADLINE_MS;
  s->replied = false;
  s->drain_after_write = false;
  s->in_len = s->in_pos = 0;
  mjh_line_reader_init(&s->reader);
  slot_read(s, stopping);
}

void slot_listen(slot *s, bool stopping) {
  HANDLE pipe = pipe_of(s);
  s->pending = false;
  s->deadline = 0;
  if (ConnectNamedPipe(pipe, &s->ov) || GetLastError() == ERROR_IO_PENDING) {
    set_state(s, SLOT_LISTENING);
    s->pending = true;
  } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
    slot_connected(s, stopping);  // connected between the disconnect and this call
  } else {
    // E.g. a client that came and went at once: try again shortly rather
    // than spin.
    DisconnectNamedPipe(pipe);
    set_state(s, SLOT_CLOSED);
    s->deadline = now_ms() + RELISTEN_DELAY_MS;
  }
}

void slot_write(slot *s, bool stopping) {
  set_state(s, SLOT_WRITING);
  s->deadline = now_ms() + PIPE_SERVER_DEADLINE_MS;
  if (io_started(WriteFile(pipe_of(s), s->call.reply, s->reply_len, nullptr, &s->ov)))
    s->pending = true;
  else
    slot_drop(s, stopping);
}

// A reply of the pipe thread's own (a bad request, busy, shutting down).
void slot_reply_error(slot *s, const char *message, bool stopping) {
  mjh_text reply(s->call.reply);
  mjh_reply_error(message, reply);
  s->reply_len = static_cast<DWORD>(reply.size());
  slot_write(s, stopping);
}

// A whole line: a bad request is answered here, a good one queued.
void slot_request(slot *s, bool stopping) {
  mjh_text_buffer<256> err;
  if (stopping) {
    slot_reply_error(s, mjh_shutting_down, stopping);
    return;
  }
  if (!mjh_request_parse(s->reader.line, s->reader.len, nullptr, &s->call.request, &err)) {
    slot_reply_error(s, err.c_str(), stopping);
    return;
  }
  {
    mjw_locked hold(g_lock);
    s->state = SLOT_QUEUED;
    s->answered = false;
    g_queue[g_queued++] = s;
  }
  s->deadline = now_ms() + PIPE_SERVER_TAKE_MS;
  PostMessageW(g_window, g_message, 0, 0);
}

// Feeds the bytes read so far to the line reader: a whole line is queued, a
// line too long answered; else it reads on.
void slot_consume(slot *s, bool stopping) {
  while (s->in_pos < s->in_len) {
    size_t used = 0;
    mjh_line_result r = mjh_line_reader_feed(&s->reader, s->in + s->in_pos, s->in_len - s->in_pos, &used);
    s->in_pos += static_cast<DWORD>(used);
    if (r == MJH_LINE_READY) {
      slot_request(s, stopping);
      mjh_line_reader_next(&s->reader);
      return;
    }
    if (r == MJH_LINE_TOO_LONG) {
      s->drain_after_write = true;
      slot_reply_error(s, "request line longer than 4096 bytes", stopping);
      return;
    }
  }
  s->in_len = s->in_pos = 0;
  slot_read(s, stopping);
}

// The outstanding operation of s has finished.
void slot_complete(slot *s, bool stopping) {
  DWORD n = 0;
  BOOL ok = GetOverlappedResult(pipe_of(s), &s->ov, &n, FALSE);
  DWORD error = ok ? 0 : GetLastError();
  s->pending = false;
  switch (s->state) {
    case SLOT_LISTENING:
      if (ok || error == ERROR_PIPE_CONNECTED)
        slot_connected(s, stopping);
      else
        slot_drop(s, stopping);
      break;
    case SLOT_READING:
      if (!ok) {  // the client closed or broke off, maybe mid-request
        slot_drop(s, stopping);
      } else {
        s->in_len = n;
        s->in_pos = 0;
        slot_consume(s, stopping);
      }
      break;
    case SLOT_WRITING:
      if (!ok || n != s->reply_len) {
        slot_drop(s, stopping);
      } else {
        s->replied = true;
        s->deadline = now_ms() + PIPE_SERVER_DEADLINE_MS;
        if (s->drain_after_write || stopping) {
          // Disconnecting now would discard the reply before the client
          // reads it: wait for the client to close instead.
          set_state(s, SLOT_DRAINING);
          slot_read(s, stopping);
        } else {
          set_state(s, SLOT_READING);
          slot_consume(s, stopping);  // bytes of a next request may be there already
        }
      }
      break;
    case SLOT_DRAINING:
      if (ok)
        slot_read(s, stopping);
      else
        slot_drop(s, stopping);
      break;
    case SLOT_CLOSED:
    case SLOT_QUEUED:
    case SLOT_ANSWERING:
      break;
  }
}

// Writes the replies the UI thread has given.
void write_answers(bool stopping) {
  for (slot &s : g_slots) {
    bool ready;
    {
      mjw_locked hold(g_lock);
      ready = s.state == SLOT_ANSWERING && s.answered;
    }
    if (!ready) continue;
    s.reply_len = static_cast<DWORD>(strnlen(s.call.reply, sizeof s.call.reply));
    slot_write(&s, stopping);
  }
}

// Stop requested: no new clients; queued requests, and those of clients
// connected now, are answered "shutting down"; replies already given still
// get to their readers.
void begin_stop() {
  {
    mjw_locked hold(g_lock);
    g_stop_requested = true;
  }
  for (slot &s : g_slots) {
    if (withdraw(&s)) {
      slot_reply_error(&s, mjh_shutting_down, true);
    } else if (s.state == SLOT_READING && s.replied && s.reader.len == 0 && s.in_pos == s.in_len) {
      set_state(&s, SLOT_DRAINING);  // its pending read now waits for the close
      s.deadline = now_ms() + PIPE_SERVER_DEADLINE_MS;
    } else if (s.state == SLOT_LISTENING || s.state == SLOT_CLOSED) {
      slot_drop(&s, true);
    }
    // A client reading its first request goes on: its whole line is
    // answered "shutting down" (slot_request), within the grace.
  }
}

DWORD WINAPI server_thread(void *) {
  for (slot &s : g_slots) slot_listen(&s, false);
  bool stopping = false;
  ULONGLONG stop_deadline = 0;
  for (;;) {
    HANDLE events[PIPE_SERVER_INSTANCES + 2];
    slot *owners[PIPE_SERVER_INSTANCES + 2];
    DWORD count = 0, timeout = INFINITE;
    ULONGLONG now = now_ms();
    bool busy = false;

    if (!stopping) {
      owners[count] = nullptr;
      events[count++] = g_stop_event.get();
    }
    owners[count] = nullptr;
    events[count++] = g_answer_event.get();
    for (slot &s : g_slots) {
      if (s.pending) {
        owners[count] = &s;
        events[count++] = s.ov.hEvent;
      }
      if (s.deadline) {
        DWORD left = s.deadline > now ? static_cast<DWORD>(s.deadline - now) : 0;
        if (left < timeout) timeout = left;
      }
      if (s.state != SLOT_CLOSED) busy = true;
    }
    if (stopping) {
      if (!busy || now >= stop_deadline) break;
      DWORD left = static_cast<DWORD>(stop_deadline - now);
      if (left < timeout) timeout = left;
    }

    DWORD r = WaitForMultipleObjects(count, events, FALSE, timeout);
    if (r == WAIT_FAILED) break;  // the process is ending around this thread
    if (r < WAIT_OBJECT_0 + count) {
      slot *s = owners[r - WAIT_OBJECT_0];
      if (s) {
        slot_complete(s, stopping);
      } else if (events[r - WAIT_OBJECT_0] == g_stop_event.get()) {
        stopping = true;
        stop_deadline = now_ms() + STOP_GRACE_MS;
        begin_stop();
      }
    }
    write_answers(stopping);

    now = now_ms();
    for (slot &s : g_slots) {
      if (!s.deadline || now < s.deadline) continue;
      if (s.state == SLOT_CLOSED) {
        s.deadline = 0;
        if (!stopping) slot_listen(&s, stopping);
      } else if (s.state == SLOT_QUEUED) {
        // The UI thread is held up (its menu is open): the client hears so
        // now rather than at its own deadline, and the request is not
        // applied later.
        if (withdraw(&s)) slot_reply_error(&s, "the agent is busy (its menu is open); try again", stopping);
      } else if (s.state == SLOT_ANSWERING) {
        s.deadline = 0;  // the UI thread is answering now
      } else {
        slot_drop(&s, stopping);  // too slow: dropped
      }
    }
  }
  // Whatever is left is cut off; the pipes close with the process.
  for (slot &s : g_slots) {
    slot_cancel(&s);
    DisconnectNamedPipe(pipe_of(&s));
  }
  return 0;
}

}  // namespace

bool pipe_server_claim(DWORD *error) {
  // The name carries this user's SID: without it there is no pipe of ours.
  wchar_t name[MJW_PIPE_NAME_MAX];
  if (!mjw_pipe_name(name)) {
    *error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    return false;
  }
  mjw_pipe_security security;
  if (!mjw_pipe_security_make(security, nullptr)) {
    *error = GetLastError() ? GetLastError() : ERROR_ACCESS_DENIED;
    return false;
  }
  for (int i = 0; i < PIPE_SERVER_INSTANCES; ++i) {
    // The first instance proves that no other process owns the name; the
    // DACL keeps the later ones, and any other, to this user.
    DWORD first = i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
    g_pipes[i].reset(CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | first,
                                      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                      PIPE_SERVER_INSTANCES, MJH_REPLY_MAX, MJH_REQUEST_MAX, 0, &security.attributes));
    if (!g_pipes[i]) {
      *error = GetLastError();
      for (mjw_file &pipe : g_pipes) pipe.reset();
      return false;
    }
  }
  return true;
}

bool pipe_server_place_held(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY; }

bool pipe_server_start(HWND window, UINT message, DWORD *error) {
  InitializeCriticalSection(&g_lock);
  g_window = window;
  g_message = message;
  g_stop_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!g_stop_event) {
    *error = GetLastError();
    return false;
  }
  g_answer_event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!g_answer_event) {
    *error = GetLastError();
    return false;
  }
  for (int i = 0; i < PIPE_SERVER_INSTANCES; ++i) {
    g_io_events[i].reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!g_io_events[i]) {
      *error = GetLastError();
      return false;
    }
    g_slots[i].ov.hEvent = g_io_events[i].get();
  }
  // Its deepest call is the request parser's: a small stack will do.
  g_thread.reset(
      CreateThread(nullptr, SERVER_STACK_BYTES, server_thread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  if (!g_thread) {
    *error = GetLastError();
    return false;
  }
  return true;
}

pipe_call *pipe_server_take() {
  mjw_locked hold(g_lock);
  if (g_stop_requested || g_queued == 0) return nullptr;
  slot *s = g_queue[0];
  unqueue(0);
  s->state = SLOT_ANSWERING;
  return &s->call;
}

void pipe_server_answer(pipe_call *call) {
  {
    mjw_locked hold(g_lock);
    for (slot &s : g_slots)
      if (&s.call == call) s.answered = true;
  }
  SetEvent(g_answer_event.get());
}

bool pipe_server_quit_queued() {
  mjw_locked hold(g_lock);
  for (int i = 0; i < g_queued; i++)
    if (g_queue[i]->call.request.cmd == MJH_CMD_QUIT) return true;
  return false;
}

bool pipe_server_stop(DWORD wait_ms) {
  if (!g_thread) return true;
  SetEvent(g_stop_event.get());
  if (WaitForSingleObject(g_thread.get(), wait_ms) != WAIT_OBJECT_0) return false;
  g_thread.reset();
  return true;
}
