// Holds a critical section for as long as it lives: no path leaves one
// entered.
#ifndef MJW_LOCKED_H
#define MJW_LOCKED_H

#include <windows.h>

class mjw_locked {
 public:
  explicit mjw_locked(CRITICAL_SECTION &section) : section_(section) { EnterCriticalSection(&section_); }
  ~mjw_locked() { LeaveCriticalSection(&section_); }
  mjw_locked(const mjw_locked &) = delete;
  mjw_locked &operator=(const mjw_locked &) = delete;

 private:
  CRITICAL_SECTION &section_;
};

#endif
