// What Windows tells the agent of its desktop, read as the agent reads it:
// the session's state (which Wine does not answer: the run then never waits),
// its announcements, and the window in front with its process's integrity
// level and program, of this process and of another.
#include "desktop_watch.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "handle.h"
#include "token.h"

namespace {

// A visible window of this process, brought to the front.
class FrontWindow {
 public:
  FrontWindow() {
    window_ = CreateWindowExW(0, L"STATIC", L"front", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr,
                              nullptr);
    if (window_) SetForegroundWindow(window_);
  }
  ~FrontWindow() {
    if (window_) DestroyWindow(window_);
  }
  FrontWindow(const FrontWindow &) = delete;
  FrontWindow &operator=(const FrontWindow &) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// Whether window is in front within timeout_ms.
bool comes_to_front(HWND window, DWORD timeout_ms = 20000) {
  for (ULONGLONG deadline = GetTickCount64() + timeout_ms;; Sleep(50)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (GetForegroundWindow() == window) return true;
    if (GetTickCount64() >= deadline) return false;
  }
}

TEST(DesktopWatch, WhatCannotBeReadIsADesktopThatHoldsNothing) {
  const mjh_desktop d = mjw_desktop_read();
  EXPECT_FALSE(d.locked);
  EXPECT_TRUE(d.connected);
  EXPECT_FALSE(d.remote);
  EXPECT_FALSE(mjh_desktop_holds(d));
  FrontWindow window;
  ASSERT_NE(window.get(), nullptr);
  EXPECT_TRUE(mjw_desktop_watch(window.get()));
  mjw_desktop_unwatch(window.get());
}

TEST(DesktopWatch, AWindowOfThisProcessInFrontIsReadWithItsLevelAndProgram) {
  FrontWindow window;
  ASSERT_TRUE(comes_to_front(window.get()));
  const mjh_front_window w = mjw_front_window_read();
  EXPECT_TRUE(w.exists);
  EXPECT_NE(w.level, MJH_LEVEL_UNKNOWN);
  EXPECT_EQ(w.level, mjw_process_level(GetCurrentProcess()));
  EXPECT_STREQ(w.image, "desktop_watch_tests.exe");
  EXPECT_FALSE(mjh_front_blocks(w, mjw_process_level(GetCurrentProcess()))) << "one level, as Wine has";
}

// Another program's window: read through its process, as the agent reads
// Task Manager's.
TEST(DesktopWatch, AnotherProgramsWindowInFrontIsReadThroughItsProcess) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  wchar_t line[] = L"notepad.exe";
  ASSERT_TRUE(CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  mjw_handle process(pi.hProcess), thread(pi.hThread);
  WaitForInputIdle(process.get(), 20000);
  mjh_front_window w = {};
  for (ULONGLONG deadline = GetTickCount64() + 20000; GetTickCount64() < deadline; Sleep(50)) {
    DWORD pid = 0;
    HWND front = GetForegroundWindow();
    if (front && GetWindowThreadProcessId(front, &pid) && pid == pi.dwProcessId) {
      w = mjw_front_window_read();
      break;
    }
  }
  TerminateProcess(process.get(), 0);
  WaitForSingleObject(process.get(), 10000);
  EXPECT_TRUE(w.exists) << "notepad.exe never came to the front";
  EXPECT_STREQ(w.image, "notepad.exe");
  EXPECT_EQ(w.level, mjw_process_level(GetCurrentProcess()));
}

}  // namespace
