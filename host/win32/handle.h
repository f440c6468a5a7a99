// One owner for every kind of Win32 handle the hosts hold: it closes what it
// holds exactly once, when it goes out of scope or takes another handle, so
// no path can leak a handle or close one twice. One traits struct per kind
// says what its empty value is and how it is closed.
#ifndef MJW_HANDLE_H
#define MJW_HANDLE_H

#include <windows.h>

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
    if (h_ != Traits::empty()) Traits::close(h_);
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
struct mjw_gdi_traits {
  using type = HGDIOBJ;
  static type empty() { return nullptr; }
  static void close(type h) { DeleteObject(h); }
};
struct mjw_module_traits {
  using type = HMODULE;
  static type empty() { return nullptr; }
  static void close(type h) { FreeLibrary(h); }
};

using mjw_handle = mjw_owned<mjw_handle_traits>;
using mjw_file = mjw_owned<mjw_file_traits>;
using mjw_key = mjw_owned<mjw_key_traits>;
using mjw_icon = mjw_owned<mjw_icon_traits>;
using mjw_menu = mjw_owned<mjw_menu_traits>;
using mjw_local = mjw_owned<mjw_local_traits>;
using mjw_gdi = mjw_owned<mjw_gdi_traits>;
using mjw_module = mjw_owned<mjw_module_traits>;

// A function of a loaded module, as type Fn; null when module is null or
// lacks it (a call that not every Windows version has).
template <typename Fn>
Fn mjw_function(HMODULE module, const char *name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

#endif
