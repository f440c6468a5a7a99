// What the notification area shows, read from the process that draws it
// (under Wine, explorer.exe, the owner of Shell_TrayWnd): the icons'
// tooltips and the balloons on screen. Both are tooltip controls of that
// process, and a control writes its text only into that process's memory, so
// the reader asks for it into a page it allocates there.
//
// BalloonWatch looks at the balloons from a thread of its own, often enough
// that none shows and goes unseen: Wine shows a balloon for at least 10 s, and
// a later one of the same icon takes the place of the earlier.
#ifndef MJ_TESTS_NOTIFICATION_AREA_READER_H
#define MJ_TESTS_NOTIFICATION_AREA_READER_H

#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "handle.h"

class NotificationAreaReader {
 public:
  struct Shown {
    HWND window;
    std::wstring text;
  };

  NotificationAreaReader() {
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!tray || !GetWindowThreadProcessId(tray, &pid_)) return;
    process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid_));
    if (process_)
      page_ = static_cast<BYTE *>(VirtualAllocEx(process_.get(), nullptr, k_page, MEM_COMMIT, PAGE_READWRITE));
  }
  ~NotificationAreaReader() {
    if (page_) VirtualFreeEx(process_.get(), page_, 0, MEM_RELEASE);
  }
  NotificationAreaReader(const NotificationAreaReader &) = delete;
  NotificationAreaReader &operator=(const NotificationAreaReader &) = delete;

  bool ok() const { return page_ != nullptr; }

  // The tooltips of the icons, whether shown now or not.
  std::vector<std::wstring> tooltips() {
    std::vector<std::wstring> texts;
    for (const Shown &s : controls(false)) texts.push_back(s.text);
    return texts;
  }
  // The balloons on screen now.
  std::vector<Shown> balloons() { return controls(true); }

 private:
  enum : size_t { k_page = 4096, k_text_at = 1024, k_text_chars = 1024 };

  std::vector<Shown> controls(bool balloons) {
    struct Found {
      DWORD pid;
      bool balloons;
      std::vector<HWND> windows;
    } found = {pid_, balloons, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
          Found &f = *reinterpret_cast<Found *>(param);
          wchar_t name[64];
          DWORD pid = 0;
          GetWindowThreadProcessId(window, &pid);
          if (pid != f.pid || !GetClassNameW(window, name, 64) || wcscmp(name, TOOLTIPS_CLASSW) != 0) return TRUE;
          const bool balloon = (GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON) != 0;
          if (balloon == f.balloons && (!balloon || IsWindowVisible(window))) f.windows.push_back(window);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    std::vector<Shown> shown;
    for (HWND window : found.windows) {
      DWORD_PTR count = 0;
      if (!ask(window, TTM_GETTOOLCOUNT, 0, 0, &count)) continue;
      for (DWORD_PTR i = 0; i < count; i++) {
        std::wstring text;
        if (tool_text(window, i, &text)) shown.push_back({window, text});
      }
    }
    return shown;
  }

  // The text of tool i: its description is asked into the page, then its
  // text into the page's buffer.
  bool tool_text(HWND window, DWORD_PTR i, std::wstring *text) {
    TTTOOLINFOW info = {};
    info.cbSize = sizeof info;
    DWORD_PTR done = 0;
    SIZE_T moved = 0;
    if (!ok() || !WriteProcessMemory(process_.get(), page_, &info, sizeof info, &moved) ||
        !ask(window, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(page_), &done) || !done ||
        !ReadProcessMemory(process_.get(), page_, &info, sizeof info, &moved))
      return false;
    info.lpszText = reinterpret_cast<wchar_t *>(page_ + k_text_at);
    wchar_t empty = L'\0';
    wchar_t buffer[k_text_chars] = {};
    if (!WriteProcessMemory(process_.get(), page_, &info, sizeof info, &moved) ||
        !WriteProcessMemory(process_.get(), page_ + k_text_at, &empty, sizeof empty, &moved) ||
        !ask(window, TTM_GETTEXTW, k_text_chars, reinterpret_cast<LPARAM>(page_), &done) ||
        !ReadProcessMemory(process_.get(), page_ + k_text_at, buffer, sizeof buffer - sizeof buffer[0], &moved))
      return false;
    *text = buffer;
    return true;
  }

  // A message to the drawing process, which may be slow: bounded.
  static bool ask(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, DWORD_PTR *result) {
    return SendMessageTimeoutW(window, msg, wparam, lparam, SMTO_ABORTIFHUNG, 5000, result) != 0;
  }

  DWORD pid_ = 0;
  mjw_handle process_;
  BYTE *page_ = nullptr;
};

// Every balloon that shows from its start on, in order, each once.
class BalloonWatch {
 public:
  BalloonWatch() : thread_([this] { watch(); }) {}
  ~BalloonWatch() {
    stop_ = true;
    thread_.join();
  }
  BalloonWatch(const BalloonWatch &) = delete;
  BalloonWatch &operator=(const BalloonWatch &) = delete;

  std::vector<NotificationAreaReader::Shown> seen() {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
  }

 private:
  void watch() {
    NotificationAreaReader reader;
    while (!stop_) {
      for (const NotificationAreaReader::Shown &b : reader.balloons()) {
        std::lock_guard<std::mutex> hold(lock_);
        bool known = false;
        for (const NotificationAreaReader::Shown &s : seen_)
          known = known || (s.window == b.window && s.text == b.text);
        if (!known) seen_.push_back(b);
      }
      Sleep(20);
    }
  }

  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<NotificationAreaReader::Shown> seen_;
  std::thread thread_;
};

#endif
