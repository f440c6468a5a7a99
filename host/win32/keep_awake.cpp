#include "keep_awake.h"

typedef struct holder_start {
  mjw_keep_awake *k;
  HANDLE ready; /* set once the state is held */
} holder_start;

/* The execution state belongs to the thread that sets it: this one holds it
 * until its stop event, then clears it. */
static DWORD WINAPI hold(void *param) {
  holder_start *start = static_cast<holder_start *>(param);
  HANDLE stop = start->k->stop;
  if (!SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED)) return 1;
  SetEvent(start->ready); /* start is gone after this */
  WaitForSingleObject(stop, INFINITE);
  SetThreadExecutionState(ES_CONTINUOUS);
  return 0;
}

int mjw_keep_awake_start(mjw_keep_awake *k) {
  if (k->thread) return 1;
  holder_start start = {k, CreateEventW(NULL, TRUE, FALSE, NULL)};
  k->stop = CreateEventW(NULL, TRUE, FALSE, NULL);
  if (start.ready && k->stop) k->thread = CreateThread(NULL, 0, hold, &start, 0, NULL);
  if (k->thread) {
    /* Held once the thread says so; it ends at once if it cannot hold. */
    HANDLE either[2] = {start.ready, k->thread};
    if (WaitForMultipleObjects(2, either, FALSE, INFINITE) != WAIT_OBJECT_0) {
      WaitForSingleObject(k->thread, INFINITE);
      CloseHandle(k->thread);
      k->thread = NULL;
    }
  }
  if (start.ready) CloseHandle(start.ready);
  if (!k->thread && k->stop) {
    CloseHandle(k->stop);
    k->stop = NULL;
  }
  return k->thread != NULL;
}

void mjw_keep_awake_stop(mjw_keep_awake *k) {
  if (!k->thread) return;
  SetEvent(k->stop);
  WaitForSingleObject(k->thread, INFINITE);
  CloseHandle(k->thread);
  CloseHandle(k->stop);
  k->thread = NULL;
  k->stop = NULL;
}

int mjw_keep_awake_held(const mjw_keep_awake *k) { return k->thread != NULL; }
