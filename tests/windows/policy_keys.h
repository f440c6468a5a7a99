// The organization's policies as an administrator stores them: reg.exe, as a
// Group Policy refresh or a deployment script writes them, under both keys.
#ifndef MJ_TESTS_POLICY_KEYS_H
#define MJ_TESTS_POLICY_KEYS_H

#include <windows.h>

#include <cstdio>
#include <string>

#include "handle.h"

const char k_policy_key[] = "Software\\Policies\\Veltrano\\Mouse Jiggler";

// Runs reg.exe with the arguments; its exit code (999 when it did not run or
// end within a minute). A failed start is tried again: a busy Wine server now
// and then refuses one.
inline DWORD reg(const std::string &args) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::string line = "reg.exe " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;  // its messages go nowhere
    mjw_process_information pi;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
      std::fprintf(stderr, "reg.exe did not start (error %lu)\n", GetLastError());
      Sleep(200);
      continue;
    }
    DWORD code = 999;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
  return 999;
}

// Stores one value under root ("HKLM" or "HKCU"); reg.exe's exit code.
inline DWORD add_policy(const char *root, const char *name, const char *type, const std::string &data) {
  return reg("add \"" + std::string(root) + "\\" + k_policy_key + "\" /v " + name + " /t " + type + " /d \"" + data +
             "\" /f");
}

// Removes both keys with every value.
inline void clear_policies() {
  for (const char *root : {"HKLM", "HKCU"}) reg("delete \"" + std::string(root) + "\\" + k_policy_key + "\" /f");
}

#endif
