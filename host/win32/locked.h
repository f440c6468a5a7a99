// Holds a lock for as long as it lives: no path leaves one held. A critical
// section (mjw_locked), or an SRW lock taken exclusive (mjw_srw_exclusive)
// or shared (mjw_srw_shared). None changes the thread's last error.
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

class mjw_srw_exclusive {
 public:
  explicit mjw_srw_exclusive(SRWLOCK &lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~mjw_srw_exclusive() { ReleaseSRWLockExclusive(&lock_); }
  mjw_srw_exclusive(const mjw_srw_exclusive &) = delete;
  mjw_srw_exclusive &operator=(const mjw_srw_exclusive &) = delete;

  // Waits on condition with the lock let go meanwhile, until woken or
  // timeout_ms has passed; holds the lock again when it returns.
  void wait(CONDITION_VARIABLE &condition, DWORD timeout_ms) {
    SleepConditionVariableSRW(&condition, &lock_, timeout_ms, 0);
  }

 private:
  SRWLOCK &lock_;
};

class mjw_srw_shared {
 public:
  explicit mjw_srw_shared(SRWLOCK &lock) : lock_(lock) { AcquireSRWLockShared(&lock_); }
  ~mjw_srw_shared() { ReleaseSRWLockShared(&lock_); }
  mjw_srw_shared(const mjw_srw_shared &) = delete;
  mjw_srw_shared &operator=(const mjw_srw_shared &) = delete;

 private:
  SRWLOCK &lock_;
};

#endif
