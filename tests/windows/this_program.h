// The path of the running test program, and of a file beside it (the build
// puts every test program, host and helper into one folder).
#ifndef MJ_TESTS_THIS_PROGRAM_H
#define MJ_TESTS_THIS_PROGRAM_H

#include <windows.h>

#include <string>

inline std::string this_program() {
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  return std::string(exe, n);
}

inline std::string beside_this_program(const char *name) {
  const std::string self = this_program();
  return self.substr(0, self.find_last_of("\\/") + 1) + name;
}

inline std::wstring beside_this_program(const wchar_t *name) {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring self(exe, n);
  return self.substr(0, self.find_last_of(L"\\/") + 1) + name;
}

#endif
