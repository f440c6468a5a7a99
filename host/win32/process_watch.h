// Watches the listed programs (conditions.h) in this process's session (the
// session id of ProcessIdToSessionId): which of them run, and, when asked,
// which of them owns the foreground window. It tells of a change by posting
// a message to a window.
//
// One thread of its own does all of it, while the list is not empty:
// - It holds a handle (SYNCHRONIZE) to every running process of a listed
//   name and waits on them all with MsgWaitForMultipleObjects, so an exit is
//   seen when it happens.
// - It looks for new processes every MJW_PROCESS_POLL_MS with one call for
//   the system's process list (NtQuerySystemInformation with
//   SystemProcessInformation, which gives each process's image name and
//   session without opening it: the call EnumProcesses and the toolhelp
//   snapshot make too, without their extra work); names of another length
//   than the listed ones are passed over unread, and only processes of a
//   listed name not yet held are opened. With an empty list there is no
//   thread: nothing looks, wakes or holds memory.
// - With the foreground asked for, it hooks EVENT_SYSTEM_FOREGROUND
//   (SetWinEventHook, out of context): the hook is called on this thread,
//   which pumps its messages in the same wait. It names the process of each
//   new foreground window; one of a listed name is held from then on, so it
//   counts as running before the next look.
// Limits: at most MJW_PROCESS_HELD_MAX processes are held at once; those of a
// listed name beyond that, and any that cannot be opened, count as running
// until a look no longer finds them (their exit is seen within
// MJW_PROCESS_POLL_MS). A program whose windows belong to another process
// (a packaged app in ApplicationFrameHost.exe) is not seen in the foreground.
//
// How the agent drives it: start(window, message) once, with its window and
// a message of its own (WM_APP + n); watch(list, foreground) whenever the
// list or the foreground condition changes (the first list starts the
// thread, an empty one ends it); on the message, state() gives the programs as they are now
// (wParam and lParam are 0); stop() or the owner's end ends the thread.
#ifndef MJW_PROCESS_WATCH_H
#define MJW_PROCESS_WATCH_H

#include <windows.h>

#include "conditions.h"
#include "handle.h"

enum {
  MJW_PROCESS_POLL_MS = 4000,                      // between looks for new processes: a start is seen within about 4 s
  MJW_PROCESS_HELD_MAX = MAXIMUM_WAIT_OBJECTS - 2  // processes waited on (one slot is the wake event)
};

// Calls each(exe, context) with the image name of every process of this
// session (with only, of those of a name on that list), one look without a
// thread, until each returns false. Returns false when the processes cannot
// be listed.
bool mjw_each_session_program(bool (*each)(const wchar_t *exe, void *context), void *context,
                              const mjh_programs *only = nullptr);

class mjw_process_watch {
 public:
  mjw_process_watch();
  ~mjw_process_watch() { stop(); }
  mjw_process_watch(const mjw_process_watch &) = delete;
  mjw_process_watch &operator=(const mjw_process_watch &) = delete;

  // Makes ready to watch, with an empty list (no thread yet). A change is
  // told by posting message to window (nullptr: told to nobody; state()
  // still answers). Returns false, with GetLastError, when it cannot.
  bool start(HWND window, UINT message);

  // Watches these programs from now on, and with foreground which of them
  // owns the foreground window. Returns once the thread has looked with the
  // new list (within a few milliseconds; at most 5 s), so that state() then
  // answers for it. When the thread cannot start, nothing is seen running.
  void watch(const mjh_programs &list, bool foreground);

  // The programs of the list last given to watch() as they are now: running
  // bit i for list.names[i]; foreground the index of the program owning the
  // foreground window, or -1 (always -1 unless asked for).
  mjh_program_state state() const;

  // Ends the thread and lets go of every handle; start() may follow.
  void stop();

  // For the benchmark and tests: the looks made so far.
  unsigned long looks() const;

 private:
  struct held_process {
    DWORD pid;
    int index;
    mjw_handle process;
  };

  bool start_thread();
  void end_thread();
  static DWORD WINAPI thread_main(void *self);
  static void CALLBACK on_foreground(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD);
  void run();
  bool list_processes();
  void look();
  void lost(int slot);
  void let_go_all();
  bool holds(DWORD pid) const;
  void follow_foreground(HWND window);
  void publish();

  // Shared with other threads, under lock_.
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE looked_ = CONDITION_VARIABLE_INIT;
  mjh_programs wanted_;
  bool wanted_foreground_ = false;
  unsigned long wanted_version_ = 0, looked_version_ = 0;
  bool quit_ = false;
  mjh_program_state state_ = {0, -1};
  unsigned long looks_ = 0;

  HWND window_ = nullptr;
  UINT message_ = 0;
  mjw_handle thread_, wake_;

  // The thread's own.
  mjh_programs list_;
  bool foreground_ = false;
  DWORD session_ = 0;
  held_process held_[MJW_PROCESS_HELD_MAX];
  int held_count_ = 0;
  uint32_t unheld_running_ = 0;  // listed programs found running but not held
  DWORD foreground_pid_ = 0;
  int foreground_index_ = -1;
  mjw_win_event hook_;
  mjw_local list_buffer_;  // the system's process list
  size_t list_buffer_size_ = 64 * 1024;
  bool name_lengths_[MJH_PROGRAM_NAME_MAX + 1] = {};  // the lengths of the listed names, in UTF-16 units
};

#endif
