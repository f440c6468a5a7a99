#include "keep_awake.h"

#include <utility>

namespace {

struct holder_start {
  EXECUTION_STATE state;
  HANDLE stop;
  HANDLE ready;  // set once the state is held
};

// The execution state belongs to the thread that sets it: this one holds it
// until its stop event, then clears it. It ends with 0, or at once with the
// error of a state it could not set.
DWORD WINAPI hold(void *param) {
  auto *start = static_cast<holder_start *>(param);
  HANDLE stop = start->stop;
  if (!SetThreadExecutionState(start->state)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_NOT_SUPPORTED;
  }
  SetEvent(start->ready);  // start is gone after this
  WaitForSingleObject(stop, INFINITE);
  SetThreadExecutionState(ES_CONTINUOUS);
  return 0;
}

}  // namespace

bool mjw_keep_awake_start(mjw_keep_awake *k, bool display) {
  if (k->thread && k->display == display) return true;
  mjw_keep_awake_stop(k);
  mjw_handle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ready) return false;
  mjw_handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop) return false;
  const EXECUTION_STATE state = ES_CONTINUOUS | ES_SYSTEM_REQUIRED | (display ? ES_DISPLAY_REQUIRED : 0);
  holder_start start = {state, stop.get(), ready.get()};
  mjw_handle thread(CreateThread(nullptr, 0, hold, &start, 0, nullptr));
  if (!thread) return false;
  // Held once the thread says so; it ends at once if it cannot hold.
  HANDLE either[2] = {ready.get(), thread.get()};
  if (WaitForMultipleObjects(2, either, FALSE, INFINITE) != WAIT_OBJECT_0) {
    WaitForSingleObject(thread.get(), INFINITE);
    DWORD error = ERROR_NOT_SUPPORTED;
    GetExitCodeThread(thread.get(), &error);
    SetLastError(error);  // the holder's, as its call failed
    return false;
  }
  k->thread = std::move(thread);
  k->stop = std::move(stop);
  k->display = display;
  return true;
}

void mjw_keep_awake_stop(mjw_keep_awake *k) {
  if (!k->thread) return;
  SetEvent(k->stop.get());
  WaitForSingleObject(k->thread.get(), INFINITE);
  k->thread.reset();
  k->stop.reset();
}

bool mjw_keep_awake_held(const mjw_keep_awake *k) { return static_cast<bool>(k->thread); }

bool mjw_keep_awake_display(const mjw_keep_awake *k) { return k->thread && k->display; }
