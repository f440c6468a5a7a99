#include "policy_store.h"

#include "handle.h"

namespace {

// Reads one value as the core's table sees it.
void read_value(HKEY key, const char *name, mjh_value *v, char *text) {
  wchar_t wide_name[64];
  *v = {MJH_VALUE_MISSING, 0, nullptr};
  if (!MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name, 64)) return;
  union {
    DWORD number;
    wchar_t text[MJW_POLICY_TEXT_MAX / 3 + 1];
  } data = {};
  DWORD type = 0, size = sizeof data - sizeof(wchar_t);
  LSTATUS rc = RegQueryValueExW(key, wide_name, nullptr, &type, reinterpret_cast<BYTE *>(&data), &size);
  if (rc == ERROR_FILE_NOT_FOUND) return;
  v->type = MJH_VALUE_OTHER;  // ERROR_MORE_DATA among them: too large to be a policy
  if (rc != ERROR_SUCCESS) return;
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    v->type = MJH_VALUE_NUMBER;
    v->number = data.number;
  } else if (type == REG_SZ && size % sizeof(wchar_t) == 0) {
    data.text[size / sizeof(wchar_t)] = L'\0';  // a stored text need not end in NUL
    if (!WideCharToMultiByte(CP_UTF8, 0, data.text, -1, text, MJW_POLICY_TEXT_MAX, nullptr, nullptr)) return;
    v->type = MJH_VALUE_TEXT;
    v->text = text;
  }
}

}  // namespace

bool mjw_policy_store_values(HKEY root, mjh_value values[MJH_POLICY_COUNT],
                             char texts[MJH_POLICY_COUNT][MJW_POLICY_TEXT_MAX]) {
  for (int id = 0; id < MJH_POLICY_COUNT; id++) values[id] = {MJH_VALUE_MISSING, 0, nullptr};
  wchar_t key_name[96];
  mjw_key key;
  if (!MultiByteToWideChar(CP_UTF8, 0, MJH_POLICY_KEY, -1, key_name, 96) ||
      RegOpenKeyExW(root, key_name, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.receive()) != ERROR_SUCCESS)
    return false;
  for (int id = 0; id < MJH_POLICY_COUNT; id++)
    read_value(key.get(), mjh_policy_table(id).name, &values[id], texts[id]);
  return true;
}

void mjw_policy_store_read(mjh_policy *p) {
  mjh_value machine[MJH_POLICY_COUNT], user[MJH_POLICY_COUNT];
  char machine_texts[MJH_POLICY_COUNT][MJW_POLICY_TEXT_MAX], user_texts[MJH_POLICY_COUNT][MJW_POLICY_TEXT_MAX];
  bool has_machine = mjw_policy_store_values(HKEY_LOCAL_MACHINE, machine, machine_texts);
  bool has_user = mjw_policy_store_values(HKEY_CURRENT_USER, user, user_texts);
  mjh_policy_read(has_machine ? machine : nullptr, has_user ? user : nullptr, p);
}
