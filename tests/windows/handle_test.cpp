// The owners of host/win32/handle.h under Wine: a close never changes the
// thread's last error, so that an error read after an owner went out of
// scope is still the failed call's.
#include "handle.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace {

// A kind whose close fails and says so, as closing a stale handle does.
struct failing_close_traits {
  using type = int;
  static type empty() { return 0; }
  static void close(type) { SetLastError(ERROR_INVALID_HANDLE); }
};
using failing_owner = mjw_owned<failing_close_traits>;

// Each way an owner closes what it holds.
void close_by_reset(failing_owner &owner) { owner.reset(); }
void close_by_reset_to_another(failing_owner &owner) { owner.reset(2); }
void close_by_move(failing_owner &owner) { owner = failing_owner(3); }
void close_by_receive(failing_owner &owner) { *owner.receive() = 4; }

TEST(Owner, AClosingOwnerLeavesTheLastErrorAsTheFailedCallSetIt) {
  for (void (*close)(failing_owner &) : {close_by_reset, close_by_reset_to_another, close_by_move, close_by_receive}) {
    failing_owner owner(1);
    SetLastError(ERROR_FILE_NOT_FOUND);
    close(owner);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  SetLastError(ERROR_PATH_NOT_FOUND);
  { failing_owner leaving(5); }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << "the destructor";
}

// The real CloseHandle on a handle already closed fails with
// ERROR_INVALID_HANDLE: the owner keeps the error before it.
TEST(Owner, AFailingCloseHandleLeavesTheLastError) {
  mjw_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  HANDLE stale = event.get();
  event.reset();
  mjw_handle again(stale);
  SetLastError(ERROR_PIPE_BUSY);
  again.reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
}

TEST(Owner, ProcessInformationClosesBothHandlesOrGivesTheProcessAway) {
  wchar_t command[] = L"cmd.exe /c exit 7";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  mjw_handle process;
  {
    mjw_process_information pi;
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        << GetLastError();
    EXPECT_NE(pi.dwProcessId, 0u);
    process = pi.take_process();
    EXPECT_EQ(pi.hProcess, nullptr);
    EXPECT_EQ(pi.hThread, nullptr);
  }
  ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0) << "the process handle outlives its owner";
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(process.get(), &code));
  EXPECT_EQ(code, 7u);
}

}  // namespace
