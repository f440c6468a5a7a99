// A slow notification area for the Wine tests: holds the thread that owns the
// window of class Shell_TrayWnd, so that every Shell_NotifyIcon call made
// meanwhile waits, and lets it go again.
//
// What the tests' plain X display looks like under Wine 8: explorer.exe
// /desktop runs the desktop, and one thread of it owns the desktop window,
// the hidden Shell_TrayWnd (which Shell_NotifyIconW finds and sends its
// WM_COPYDATA to, without a timeout) and, from the first icon on, the
// "Wine System Tray" window that shows the icons. Holding it is suspending
// that thread. Two things follow:
// - The first window of a process waits for that thread too (Wine sets the
//   process's display up through it). A test starts the processes it needs
//   and lets them make their windows before it holds; the holder makes (and
//   destroys) one window of this process first, so that this process can go
//   on making windows while it holds.
// - A suspension outlives the process that made it, until the Wine server
//   ends. So the hold ends with the holder's scope, with release(), and at
//   the latest when its lease runs out (a test that hangs still lets go);
//   and a holder that finds the thread already suspended (left by a test
//   that was killed) lets it go first.
#ifndef MJ_TESTS_NOTIFICATION_AREA_H
#define MJ_TESTS_NOTIFICATION_AREA_H

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "handle.h"

class NotificationAreaHold {
 public:
  // Holds at once, for at most lease_ms.
  explicit NotificationAreaHold(DWORD lease_ms = 30000) : state_(std::make_shared<State>()) {
    // This process's display, set up before the thread is held.
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (probe) DestroyWindow(probe);

    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!tray) {
      error_ = "no window of class Shell_TrayWnd";
      return;
    }
    thread_id_ = GetWindowThreadProcessId(tray, &process_id_);
    state_->thread.reset(OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread_id_));
    if (!state_->thread) {
      error_ = "cannot open the notification area's thread, error " + std::to_string(GetLastError());
      return;
    }
    DWORD before = SuspendThread(state_->thread.get());
    if (before == static_cast<DWORD>(-1)) {
      error_ = "cannot suspend the notification area's thread, error " + std::to_string(GetLastError());
      return;
    }
    // Suspended already: a holder that never let go. Only this hold stays.
    for (left_over_ = before; before > 0; before--) ResumeThread(state_->thread.get());
    state_->held = true;
    state_->released.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::shared_ptr<State> state = state_;
    lease_ = std::thread([state, lease_ms] {
      if (WaitForSingleObject(state->released.get(), lease_ms) == WAIT_TIMEOUT) state->let_go();
    });
  }
  NotificationAreaHold(const NotificationAreaHold &) = delete;
  NotificationAreaHold &operator=(const NotificationAreaHold &) = delete;

  ~NotificationAreaHold() {
    release();
    if (lease_.joinable()) lease_.join();
  }

  // Whether the thread was held (it may have been let go since).
  bool held() const { return state_->held; }
  // Why it could not be held.
  const std::string &error() const { return error_; }
  DWORD thread_id() const { return thread_id_; }
  DWORD process_id() const { return process_id_; }
  // The suspensions found and undone before this hold.
  DWORD left_over() const { return left_over_; }

  // Lets the thread go (once; later calls do nothing).
  void release() {
    state_->let_go();
    if (state_->released) SetEvent(state_->released.get());
  }

 private:
  // Shared with the lease's thread.
  struct State {
    mjw_handle thread;
    mjw_handle released;
    bool held = false;
    std::atomic<bool> let_go_done{false};
    void let_go() {
      if (held && !let_go_done.exchange(true)) ResumeThread(thread.get());
    }
  };

  std::shared_ptr<State> state_;
  std::thread lease_;
  std::string error_;
  DWORD thread_id_ = 0, process_id_ = 0, left_over_ = 0;
};

#endif
