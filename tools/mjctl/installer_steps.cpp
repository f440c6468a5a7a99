#include "installer_steps.h"

#include <string.h>
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include "agent_client.h"
#include "handle.h"
#include "output.h"
#include "registry.h"
#include "token.h"
#include "wide.h"

namespace mjctl {

namespace {

const wchar_t k_vendor_key[] = L"Software\\Veltrano";

// The installer's record, for the length of an upgrade, that it stopped the
// agent started from a folder (a value named by the folder): volatile, so it
// never outlives the log-on, and read only by installer-start.
const wchar_t k_restart_key[] = MJW_SETTINGS_KEY L"\\Restart after install";

// The snapshot's entry of process pid.
bool find_process(HANDLE snapshot, DWORD pid, PROCESSENTRY32W *e) {
  *e = {sizeof *e};
  for (BOOL more = Process32FirstW(snapshot, e); more; more = Process32NextW(snapshot, e))
    if (e->th32ProcessID == pid) return true;
  return false;
}

bool is_msiexec(const PROCESSENTRY32W &e) {
  return CompareStringOrdinal(e.szExeFile, -1, L"msiexec.exe", -1, TRUE) == CSTR_EQUAL;
}

// Whether this step runs for the older half of an upgrade. Windows tells the
// older version's removal UPGRADINGPRODUCTCODE (the operand); Wine does not,
// but removes it with a msiexec of its own started by the newer version's:
// a step whose parent and grandparent are both msiexec. Nothing is stored,
// so an upgrade that stops half-way changes no later removal.
bool part_of_upgrade(const char *upgrading_product) {
  if (upgrading_product && upgrading_product[0]) return true;
  mjw_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W self, parent, grandparent;
  return find_process(snapshot.get(), GetCurrentProcessId(), &self) &&
         find_process(snapshot.get(), self.th32ParentProcessID, &parent) && is_msiexec(parent) &&
         find_process(snapshot.get(), parent.th32ParentProcessID, &grandparent) && is_msiexec(grandparent);
}

// Removes the restart record of this folder, and its key when empty.
void forget_restart(const wchar_t *folder) {
  mjw_registry_delete_value(HKEY_CURRENT_USER, k_restart_key, folder);
  mjw_registry_delete_if_empty(HKEY_CURRENT_USER, k_restart_key);
}

}  // namespace

int command_installer_stop(const mjh_command_line &s) {
  path_text folder;
  bool ours = false;
  mjw_handle process = agent_process(&ours);
  if (!process || !ours || !own_folder(folder)) return EXIT_OK;
  wide_text value_name(folder.view());
  if (part_of_upgrade(s.operands[0]) && value_name.whole)
    mjw_registry_set_number(HKEY_CURRENT_USER, k_restart_key, value_name.w, 1, true);
  return quit_and_wait(process, true);
}

int command_installer_start() {
  path_text folder, path;
  if (!own_folder(folder)) return EXIT_OK;
  wide_text value_name(folder.view());
  DWORD value = 0;
  if (!value_name.whole || !mjw_registry_number(HKEY_CURRENT_USER, k_restart_key, value_name.w, &value)) return EXIT_OK;
  forget_restart(value_name.w);
  // An installer that runs above the desktop (an administrator's elevated
  // msiexec) would start an elevated agent: it comes back at the next log-on.
  if (mjw_process_elevated()) return EXIT_OK;
  path.add(folder.view(), "mjtray.exe");
  mjw_handle process;
  return start_detached(path.view(), "", folder.view(), process) ? EXIT_OK : EXIT_REFUSED;
}

namespace {

// The program a Run value's command names: "path" --flags, or a bare path.
std::string_view command_program(std::string_view command) {
  if (command.empty() || command[0] != '"') return command;
  size_t end = command.find('"', 1);
  return end == std::string_view::npos ? std::string_view() : mjh_slice(command, 1, end - 1);
}

}  // namespace

int command_installer_cleanup(const mjh_command_line &s) {
  path_text folder, command;
  if (!own_folder(folder) || part_of_upgrade(s.operands[1])) return EXIT_OK;
  if (s.operands[0] && strcmp(s.operands[0], "user") == 0) {
    mjw_registry_delete_tree(HKEY_CURRENT_USER, MJW_SETTINGS_KEY);
    mjw_registry_delete_if_empty(HKEY_CURRENT_USER, k_vendor_key);
  } else {
    wide_text value_name(folder.view());
    if (value_name.whole) forget_restart(value_name.w);
  }
  wchar_t value[MAX_PATH + 64];
  if (!mjw_registry_text(HKEY_CURRENT_USER, MJW_RUN_KEY, MJW_RUN_VALUE, value, sizeof value / sizeof *value))
    return EXIT_OK;
  mjw_narrow(value, command);
  if (!command.ok() || !names_our_agent(command_program(command.view()))) return EXIT_OK;
  mjw_registry_delete_value(HKEY_CURRENT_USER, MJW_RUN_KEY, MJW_RUN_VALUE);
  return EXIT_OK;
}

}  // namespace mjctl
