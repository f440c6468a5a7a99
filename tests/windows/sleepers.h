// Programs for the tests to wait for: copies of mj_sleeper.exe (built beside
// the tests) under names of the test's choosing, in a folder of their own,
// started and ended at will.
#ifndef MJ_SLEEPERS_H
#define MJ_SLEEPERS_H

#include <windows.h>

#include <string>
#include <vector>

#include "handle.h"
#include "this_program.h"

// A folder in %TEMP% for the copies, removed with them at the end.
class sleeper_folder {
 public:
  sleeper_folder() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    dir_ = std::string(temp) + "mj-sleepers-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  ~sleeper_folder() {
    for (const std::string &f : files_) DeleteFileA(f.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  sleeper_folder(const sleeper_folder &) = delete;
  sleeper_folder &operator=(const sleeper_folder &) = delete;

  // mj_sleeper.exe copied as name; its path, or "" when it cannot be copied.
  std::string copy(const std::string &name) {
    std::string from = beside_this_program("mj_sleeper.exe");
    std::string to = dir_ + "\\" + name;
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) return "";
    files_.push_back(to);
    return to;
  }

 private:
  std::string dir_;
  std::vector<std::string> files_;
};

// One running copy: it exits when end() sets its event, or when it is killed.
class sleeper {
 public:
  explicit sleeper(const std::string &exe, bool window = false) {
    static LONG serial = 0;
    event_name_ =
        "mj-sleeper-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(InterlockedIncrement(&serial));
    done_.reset(CreateEventA(nullptr, TRUE, FALSE, event_name_.c_str()));
    std::string line = "\"" + exe + "\" " + event_name_ + (window ? " --window" : "");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    started_ = done_ && CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                       nullptr, &si, &pi_);
  }
  ~sleeper() {
    if (started_) {
      end();
      if (WaitForSingleObject(pi_.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 99);
    }
  }
  sleeper(const sleeper &) = delete;
  sleeper &operator=(const sleeper &) = delete;

  bool started() const { return started_; }
  DWORD pid() const { return pi_.dwProcessId; }
  HANDLE process() const { return pi_.hProcess; }
  void end() { SetEvent(done_.get()); }
  void kill() { TerminateProcess(pi_.hProcess, 1); }
  // Whether it has exited within ms.
  bool ended(DWORD ms) { return WaitForSingleObject(pi_.hProcess, ms) == WAIT_OBJECT_0; }

 private:
  std::string event_name_;
  mjw_handle done_;
  mjw_process_information pi_;
  bool started_ = false;
};

#endif
