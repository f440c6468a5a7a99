#include "policy_store.h"

#include "handle.h"
#include "registry.h"
#include "wide.h"

bool mjw_policy_store_values(HKEY root, mjh_value values[MJH_POLICY_COUNT],
                             char texts[MJH_POLICY_COUNT][MJW_POLICY_TEXT_MAX]) {
  for (int id = 0; id < MJH_POLICY_COUNT; id++) values[id] = {MJH_VALUE_MISSING, 0, nullptr};
  wchar_t key_name[96];
  mjw_key key;
  if (!mjw_widen(MJH_POLICY_KEY, key_name) ||
      RegOpenKeyExW(root, key_name, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.receive()) != ERROR_SUCCESS)
    return false;
  for (int id = 0; id < MJH_POLICY_COUNT; id++) {
    // Every text of MJW_POLICY_TEXT_MAX / 3 units fits as UTF-8.
    mjh_text text(texts[id], MJW_POLICY_TEXT_MAX);
    mjw_registry_value<MJW_POLICY_TEXT_MAX / 3>(key.get(), mjh_policy_table(id).name, &values[id], text);
  }
  return true;
}

void mjw_policy_store_read(mjh_policy *p) {
  mjh_value machine[MJH_POLICY_COUNT], user[MJH_POLICY_COUNT];
  char machine_texts[MJH_POLICY_COUNT][MJW_POLICY_TEXT_MAX], user_texts[MJH_POLICY_COUNT][MJW_POLICY_TEXT_MAX];
  bool has_machine = mjw_policy_store_values(HKEY_LOCAL_MACHINE, machine, machine_texts);
  bool has_user = mjw_policy_store_values(HKEY_CURRENT_USER, user, user_texts);
  mjh_policy_read(has_machine ? machine : nullptr, has_user ? user : nullptr, p);
}
