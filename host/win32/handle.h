// One owner for every kind of Win32 handle the hosts hold: it closes what it
// holds exactly once, when it goes out of scope or takes another handle, so
// no path can leak a handle or close one twice. One traits struct per kind
// says what its empty value is and how it is closed. No owner changes the
// thread's last error: an owner closed between a failed call and its
// GetLastError leaves the call's error in place.
#ifndef MJW_HANDLE_H
#define MJW_HANDLE_H

#include <windows.h>

// Puts the thread's last error back, as it was when this was made, when it
// goes out of scope.
class mjw_last_error_kept {
 public:
  mjw_last_error_kept() : error_(GetLastError()) {}
  ~mjw_last_error_kept() { SetLastError(error_); }
  mjw_last_error_kept(const mjw_last_error_kept &) = delete;
  mjw_last_error_kept &operator=(const mjw_last_error_kept &) = delete;

 private:
  DWORD error_;
};

template <typename Traits>
class mjw_owned {
 public:
  using type = typename Traits::type;

  mjw_owned() = default;
  explicit mjw_owned(type h) : h_(h) {}
  ~mjw_owned() { reset(); }
  mjw_owned(mjw_owned &&other) noexcept : h_(other.release()) {}
  mjw_owned &operator=(mjw_owned &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  mjw_owned(const mjw_owned &) = delete;
  mjw_owned &operator=(const mjw_owned &) = delete;

  type get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::empty(); }

  // Closes the handle held, if any, and holds h.
  void reset(type h = Traits::empty()) {
    if (h_ != Traits::empty()) {
      mjw_last_error_kept kept;
      Traits::close(h_);
    }
    h_ = h;
  }
  // Gives the handle up without closing it.
  type release() {
    type h = h_;
    h_ = Traits::empty();
    return h;
  }
  // For a function that writes a new handle through a pointer: the old one
  // is closed first.
  type *receive() {
    reset();
    return &h_;
  }

 private:
  type h_ = Traits::empty();
};

// Kernel objects: events, threads, processes, mutexes, tokens (empty: NULL).
struct mjw_handle_traits {
  using type = HANDLE;
  static type empty() { return nullptr; }
  static void close(type h) { CloseHandle(h); }
};
// What CreateFile and CreateNamedPipe return (empty: INVALID_HANDLE_VALUE).
struct mjw_file_traits {
  using type = HANDLE;
  static type empty() { return INVALID_HANDLE_VALUE; }
  static void close(type h) { CloseHandle(h); }
};
struct mjw_key_traits {
  using type = HKEY;
  static type empty() { return nullptr; }
  static void close(type h) { RegCloseKey(h); }
};
struct mjw_icon_traits {
  using type = HICON;
  static type empty() { return nullptr; }
  static void close(type h) { DestroyIcon(h); }
};
struct mjw_menu_traits {
  using type = HMENU;
  static type empty() { return nullptr; }
  static void close(type h) { DestroyMenu(h); }
};
// Memory the system allocated with LocalAlloc for the caller
// (CommandLineToArgvW, FormatMessage, security descriptors).
struct mjw_local_traits {
  using type = HLOCAL;
  static type empty() { return nullptr; }
  static void close(type h) { LocalFree(h); }
};
// A GDI object of type T (HBITMAP, HBRUSH, ...), deleted with DeleteObject.
template <typename T>
struct mjw_gdi_traits {
  using type = T;
  static type empty() { return nullptr; }
  static void close(type h) { DeleteObject(h); }
};
struct mjw_module_traits {
  using type = HMODULE;
  static type empty() { return nullptr; }
  static void close(type h) { FreeLibrary(h); }
};
// A window's registration for a power setting's changes.
struct mjw_power_notify_traits {
  using type = HPOWERNOTIFY;
  static type empty() { return nullptr; }
  static void close(type h) { UnregisterPowerSettingNotification(h); }
};
// A hook of window events (SetWinEventHook).
struct mjw_win_event_traits {
  using type = HWINEVENTHOOK;
  static type empty() { return nullptr; }
  static void close(type h) { UnhookWinEvent(h); }
};

using mjw_handle = mjw_owned<mjw_handle_traits>;
using mjw_file = mjw_owned<mjw_file_traits>;
using mjw_key = mjw_owned<mjw_key_traits>;
using mjw_icon = mjw_owned<mjw_icon_traits>;
using mjw_menu = mjw_owned<mjw_menu_traits>;
using mjw_local = mjw_owned<mjw_local_traits>;
template <typename T>
using mjw_gdi = mjw_owned<mjw_gdi_traits<T>>;
using mjw_module = mjw_owned<mjw_module_traits>;
using mjw_power_notify_handle = mjw_owned<mjw_power_notify_traits>;
using mjw_win_event = mjw_owned<mjw_win_event_traits>;

// A window's device context (GetDC; the screen's for a null window),
// released to that window: the one owner that needs more than its handle.
class mjw_window_dc {
 public:
  explicit mjw_window_dc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~mjw_window_dc() {
    if (!dc_) return;
    mjw_last_error_kept kept;
    ReleaseDC(window_, dc_);
  }
  mjw_window_dc(const mjw_window_dc &) = delete;
  mjw_window_dc &operator=(const mjw_window_dc &) = delete;

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// What CreateProcess fills in, passed as its PROCESS_INFORMATION *: both
// handles are closed with it, the ids stay readable.
struct mjw_process_information : PROCESS_INFORMATION {
  mjw_process_information() : PROCESS_INFORMATION() {}
  ~mjw_process_information() { reset(); }
  mjw_process_information(const mjw_process_information &) = delete;
  mjw_process_information &operator=(const mjw_process_information &) = delete;

  // Closes both handles; the ids become 0.
  void reset() {
    mjw_handle process(hProcess), thread(hThread);
    static_cast<PROCESS_INFORMATION &>(*this) = PROCESS_INFORMATION();
  }
  // The process's handle, now the caller's; the thread's is closed.
  mjw_handle take_process() {
    mjw_handle process(hProcess), thread(hThread);
    hProcess = hThread = nullptr;
    return process;
  }
};

// A function of a loaded module, as type Fn; null when module is null or
// lacks it (a call that not every Windows version has).
template <typename Fn>
Fn mjw_function(HMODULE module, const char *name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

#endif
