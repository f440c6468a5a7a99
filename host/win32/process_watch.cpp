#include "process_watch.h"

#include <tlhelp32.h>

// after windows.h
#include <winternl.h>

#include <utility>

#include "locked.h"
#include "wide.h"

namespace {

enum {
  WATCH_APPLY_MS = 5000,
  NAME_UTF8_MAX = MAX_PATH * 3,  // a file name of MAX_PATH UTF-16 units
  LIST_BUFFER_SPARE = 16 * 1024  // room for processes started between two calls
};

const NTSTATUS k_info_length_mismatch = static_cast<NTSTATUS>(0xC0000004L);

// The thread's watcher, for the foreground hook, whose callback has no
// context: in a Win32 TLS slot, since the compiler's thread_local would link
// its emulation and a threads library into every host.
INIT_ONCE g_watch_slot_once = INIT_ONCE_STATIC_INIT;
DWORD g_watch_slot = TLS_OUT_OF_INDEXES;

BOOL CALLBACK allocate_watch_slot(INIT_ONCE *, void *, void **) {
  g_watch_slot = TlsAlloc();
  return g_watch_slot != TLS_OUT_OF_INDEXES;
}

// The watcher of this thread, or null.
mjw_process_watch *thread_watch() {
  return g_watch_slot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<mjw_process_watch *>(TlsGetValue(g_watch_slot));
}

// The index of the listed program a UTF-16 image name (units long) is, or -1.
int find_wide(const mjh_programs &list, const wchar_t *image, size_t units) {
  mjh_text_buffer<NAME_UTF8_MAX> name;
  mjw_narrow(image, units, name);
  return name.ok() ? mjh_programs_find(list, name.view()) : -1;
}

}  // namespace

mjw_process_watch::mjw_process_watch() {
  mjh_programs_none(&wanted_);
  mjh_programs_none(&list_);
}

bool mjw_process_watch::start(HWND window, UINT message) {
  stop();
  window_ = window;
  message_ = message;
  {
    mjw_srw_exclusive hold(lock_);
    mjh_programs_none(&wanted_);
    wanted_foreground_ = false;
    wanted_version_ = looked_version_ = 0;
    state_ = {0, -1};
  }
  wake_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  return static_cast<bool>(wake_);
}

void mjw_process_watch::stop() {
  end_thread();
  wake_.reset();
}

bool mjw_process_watch::start_thread() {
  if (thread_) return true;
  quit_ = false;  // no thread reads it now
  thread_.reset(CreateThread(nullptr, 0, thread_main, this, 0, nullptr));
  return static_cast<bool>(thread_);
}

void mjw_process_watch::end_thread() {
  if (!thread_) return;
  {
    mjw_srw_exclusive hold(lock_);
    quit_ = true;
  }
  SetEvent(wake_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
}

void mjw_process_watch::watch(const mjh_programs &list, bool foreground) {
  unsigned long version;
  {
    mjw_srw_exclusive hold(lock_);
    wanted_ = list;
    wanted_foreground_ = foreground;
    version = ++wanted_version_;
  }
  if (!wake_) return;
  if (list.count == 0) {
    // Nothing to watch: no thread either (an idle one still costs memory).
    end_thread();
    bool changed;
    {
      mjw_srw_exclusive hold(lock_);
      changed = state_.running != 0 || state_.foreground != -1;
      state_ = {0, -1};
      looked_version_ = version;
    }
    if (changed && window_) PostMessageW(window_, message_, 0, 0);
    return;
  }
  if (!start_thread()) return;  // nothing is seen running
  SetEvent(wake_.get());
  ULONGLONG deadline = GetTickCount64() + WATCH_APPLY_MS;
  mjw_srw_exclusive hold(lock_);
  for (ULONGLONG now = GetTickCount64(); looked_version_ < version && now < deadline; now = GetTickCount64())
    hold.wait(looked_, static_cast<DWORD>(deadline - now));
}

mjh_program_state mjw_process_watch::state() const {
  mjw_srw_shared hold(lock_);
  return state_;
}

unsigned long mjw_process_watch::looks() const {
  mjw_srw_shared hold(lock_);
  return looks_;
}

DWORD WINAPI mjw_process_watch::thread_main(void *self) {
  // Without a slot (a process has over a thousand) the hook finds no watcher.
  if (InitOnceExecuteOnce(&g_watch_slot_once, allocate_watch_slot, nullptr, nullptr)) TlsSetValue(g_watch_slot, self);
  static_cast<mjw_process_watch *>(self)->run();
  if (g_watch_slot != TLS_OUT_OF_INDEXES) TlsSetValue(g_watch_slot, nullptr);
  return 0;
}

void mjw_process_watch::run() {
  ProcessIdToSessionId(GetCurrentProcessId(), &session_);
  unsigned long version = 0;
  ULONGLONG next_look = 0;
  for (;;) {
    bool quit, changed;
    {
      mjw_srw_exclusive hold(lock_);
      quit = quit_;
      changed = wanted_version_ != version;
      if (changed) {
        list_ = wanted_;
        foreground_ = wanted_foreground_ && list_.count > 0;
        version = wanted_version_;
      }
    }
    if (quit) break;

    if (changed) {
      // Held processes were named under the old list: start again.
      let_go_all();
      foreground_pid_ = 0;
      foreground_index_ = -1;
      if (!foreground_)
        hook_.reset();
      else if (!hook_)
        hook_.reset(SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, on_foreground, 0, 0,
                                    WINEVENT_OUTOFCONTEXT));
      for (bool &known : name_lengths_) known = false;
      for (int i = 0; i < list_.count; i++) {
        wchar_t wide[MJH_PROGRAM_NAME_MAX + 1];
        mjw_widen(list_.names[i], wide);
        name_lengths_[wcslen(wide)] = true;
      }
      unheld_running_ = 0;
      if (list_.count > 0) look();
      if (foreground_) follow_foreground(GetForegroundWindow());
      next_look = GetTickCount64() + MJW_PROCESS_POLL_MS;
      publish();
      {
        mjw_srw_exclusive hold(lock_);
        looked_version_ = version;
      }
      WakeAllConditionVariable(&looked_);
    }

    HANDLE handles[MJW_PROCESS_HELD_MAX + 1];
    handles[0] = wake_.get();
    for (int i = 0; i < held_count_; i++) handles[i + 1] = held_[i].process.get();
    DWORD count = static_cast<DWORD>(held_count_ + 1), timeout = INFINITE;
    if (list_.count > 0) {
      ULONGLONG now = GetTickCount64();
      timeout = next_look > now ? static_cast<DWORD>(next_look - now) : 0;
    }
    DWORD r = MsgWaitForMultipleObjects(count, handles, FALSE, timeout, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) continue;  // a new list, or the end
    if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count) {
      lost(static_cast<int>(r - WAIT_OBJECT_0 - 1));
      publish();
    } else if (r == WAIT_OBJECT_0 + count) {
      // The hook's calls come while the messages are taken.
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    } else if (r == WAIT_TIMEOUT) {
      look();
      next_look = GetTickCount64() + MJW_PROCESS_POLL_MS;
      publish();
    } else {
      // WAIT_FAILED, which a handle of ours should never cause: start over.
      Sleep(100);
      let_go_all();
      look();
      publish();
    }
  }
  hook_.reset();
  let_go_all();
  list_buffer_.reset();
}

// The process list of the system, in one call: each process with its image
// name and session, named without opening it.
bool mjw_process_watch::list_processes() {
  for (int attempt = 0; attempt < 4; attempt++) {
    if (!list_buffer_) {
      list_buffer_.reset(LocalAlloc(LMEM_FIXED, list_buffer_size_));
      if (!list_buffer_) return false;
    }
    ULONG needed = 0;
    NTSTATUS status = NtQuerySystemInformation(SystemProcessInformation, list_buffer_.get(),
                                               static_cast<ULONG>(list_buffer_size_), &needed);
    if (status != k_info_length_mismatch) return status >= 0;
    list_buffer_.reset();
    list_buffer_size_ = (needed > list_buffer_size_ ? needed : list_buffer_size_ * 2) + LIST_BUFFER_SPARE;
  }
  return false;
}

// One look at the processes of this session: each of a listed name not yet
// held is opened and held, or counted as running unheld.
void mjw_process_watch::look() {
  {
    mjw_srw_exclusive hold(lock_);
    looks_++;
  }
  if (!list_processes()) return;  // keep what is known
  uint32_t unheld = 0;
  const BYTE *at = static_cast<const BYTE *>(list_buffer_.get());
  for (;;) {
    const SYSTEM_PROCESS_INFORMATION *p = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(at);
    size_t units = p->ImageName.Length / sizeof(wchar_t);
    // Most names are passed over by their length alone.
    int index =
        units <= MJH_PROGRAM_NAME_MAX && name_lengths_[units] ? find_wide(list_, p->ImageName.Buffer, units) : -1;
    DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(p->UniqueProcessId));
    if (index >= 0 && p->SessionId == session_ && !holds(pid)) {
      mjw_handle process;
      if (held_count_ < MJW_PROCESS_HELD_MAX)
        process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
      if (!process)
        unheld |= uint32_t{1} << index;
      else if (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT)
        held_[held_count_++] = {pid, index, std::move(process)};
    }
    if (p->NextEntryOffset == 0) break;
    at += p->NextEntryOffset;
  }
  unheld_running_ = unheld;
}

// Lets go of every held process.
void mjw_process_watch::let_go_all() {
  for (int i = 0; i < held_count_; i++) held_[i].process.reset();
  held_count_ = 0;
}

// The process held in slot has ended.
void mjw_process_watch::lost(int slot) {
  if (held_[slot].pid == foreground_pid_) {
    foreground_pid_ = 0;
    foreground_index_ = -1;
  }
  held_[slot] = std::move(held_[--held_count_]);
}

void CALLBACK mjw_process_watch::on_foreground(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
  mjw_process_watch *watch = thread_watch();
  if (!watch || !watch->foreground_) return;
  watch->follow_foreground(window);
  watch->publish();
}

bool mjw_process_watch::holds(DWORD pid) const {
  for (int i = 0; i < held_count_; i++)
    if (held_[i].pid == pid) return true;
  return false;
}

// Names the process of the foreground window; one of a listed name is held
// from then on, so that it counts as running before the next look finds it.
void mjw_process_watch::follow_foreground(HWND window) {
  DWORD pid = 0;
  if (window) GetWindowThreadProcessId(window, &pid);
  if (pid == foreground_pid_ && pid != 0) return;
  foreground_pid_ = pid;
  foreground_index_ = -1;
  if (pid == 0) return;
  mjw_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  wchar_t image[MAX_PATH * 2];
  DWORD size = sizeof image / sizeof image[0];
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &size)) return;
  const wchar_t *name = wcsrchr(image, L'\\');
  name = name ? name + 1 : image;
  foreground_index_ = find_wide(list_, name, wcslen(name));
  if (foreground_index_ >= 0 && !holds(pid) && held_count_ < MJW_PROCESS_HELD_MAX)
    held_[held_count_++] = {pid, foreground_index_, std::move(process)};
}

// Makes the state known, and tells the window when it changed.
void mjw_process_watch::publish() {
  mjh_program_state s = {unheld_running_, foreground_ ? foreground_index_ : -1};
  for (int i = 0; i < held_count_; i++) s.running |= uint32_t{1} << held_[i].index;
  if (s.foreground >= 0) s.running |= uint32_t{1} << s.foreground;  // in the foreground, though not held
  bool changed;
  {
    mjw_srw_exclusive hold(lock_);
    changed = s.running != state_.running || s.foreground != state_.foreground;
    state_ = s;
  }
  if (changed && window_) PostMessageW(window_, message_, 0, 0);
}

bool mjw_each_session_program(bool (*each)(const wchar_t *exe, void *context), void *context,
                              const mjh_programs *only) {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  mjw_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry = {sizeof entry};
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    // Other names are passed over before their session is asked for.
    if (only && find_wide(*only, entry.szExeFile, wcslen(entry.szExeFile)) < 0) continue;
    DWORD theirs = 0;
    if (ProcessIdToSessionId(entry.th32ProcessID, &theirs) && theirs == session && !each(entry.szExeFile, context))
      break;
  }
  return true;
}
