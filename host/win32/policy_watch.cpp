#include "policy_watch.h"

#include <wchar.h>

#include "policy.h"
#include "wide.h"

namespace {

enum { PATH_UNITS = 96 };

// The key watched under one root.
struct root_watch {
  HKEY root;
  HANDLE changed;
  mjw_key key;
  bool at_policies;  // key is Software\Policies itself
};

// Cuts the last name off path; false when nothing was left to cut.
bool cut_last(wchar_t *path) {
  if (!path[0]) return false;
  wchar_t *cut = wcsrchr(path, L'\\');
  *(cut ? cut : path) = L'\0';
  return true;
}

bool key_exists(HKEY root, const wchar_t *path) {
  mjw_key key;
  return RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.receive()) == ERROR_SUCCESS;
}

// Opens the key to watch (Software\Policies, else the deepest key above it
// that exists) and asks for its next change on the root's event.
void arm(root_watch &w, const wchar_t *policies) {
  wchar_t path[PATH_UNITS];
  wcsncpy(path, policies, PATH_UNITS - 1);
  path[PATH_UNITS - 1] = L'\0';
  do {
    if (RegOpenKeyExW(w.root, path, 0, KEY_NOTIFY | KEY_WOW64_64KEY, w.key.receive()) == ERROR_SUCCESS) break;
  } while (cut_last(path));
  w.at_policies = w.key && wcscmp(path, policies) == 0;
  if (!w.key) return;
  // Above Software\Policies only the keys made matter, not every value
  // written anywhere in the user's software.
  const DWORD filter = w.at_policies ? REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET : REG_NOTIFY_CHANGE_NAME;
  RegNotifyChangeKeyValue(w.key.get(), TRUE, filter, w.changed, TRUE);
  // Made between the look and the notification: looked at again at once.
  if (!w.at_policies && key_exists(w.root, policies)) SetEvent(w.changed);
}

}  // namespace

bool mjw_policy_watch::start(HWND window, UINT message) {
  stop();
  window_ = window;
  message_ = message;
  stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  for (mjw_handle &changed : changed_) changed.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!stop_ || !changed_[0] || !changed_[1]) return false;
  // A thread that only waits needs little stack.
  thread_.reset(CreateThread(nullptr, 64 * 1024, thread_main, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  return static_cast<bool>(thread_);
}

void mjw_policy_watch::stop() {
  if (!thread_) return;
  SetEvent(stop_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
}

DWORD WINAPI mjw_policy_watch::thread_main(void *self) {
  static_cast<mjw_policy_watch *>(self)->run();
  return 0;
}

void mjw_policy_watch::run() {
  // Software\Policies: the policy key's path without its vendor's key and its own.
  wchar_t policies[PATH_UNITS];
  mjw_widen(MJH_POLICY_KEY, policies);
  cut_last(policies);
  cut_last(policies);
  root_watch roots[2] = {{HKEY_LOCAL_MACHINE, changed_[0].get()}, {HKEY_CURRENT_USER, changed_[1].get()}};
  for (root_watch &w : roots) arm(w, policies);
  const HANDLE waits[3] = {stop_.get(), changed_[0].get(), changed_[1].get()};
  for (;;) {
    const DWORD woken = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0 + 1 && woken != WAIT_OBJECT_0 + 2) return;
    root_watch &w = roots[woken - WAIT_OBJECT_0 - 1];
    const bool was_at_policies = w.at_policies;
    arm(w, policies);
    // Without Software\Policies before and after, no policy can have changed.
    if (was_at_policies || w.at_policies) PostMessageW(window_, message_, 0, 0);
  }
}
