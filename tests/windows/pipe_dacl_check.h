// The check both the pipe's own tests and the agent's tests make of the
// agent's pipe: its DACL holds one allow entry, not inherited, with full
// access, for the user who runs this process, and no one else.
#ifndef MJ_TESTS_PIPE_DACL_CHECK_H
#define MJ_TESTS_PIPE_DACL_CHECK_H

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include "gtest/gtest.h"

// Expects `pipe` (opened with READ_CONTROL, or the server's handle) to be
// kept to this process's user. Use inside ASSERT_NO_FATAL_FAILURE.
inline void expect_pipe_kept_to_this_user(HANDLE pipe) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd),
            (DWORD)ERROR_SUCCESS);
  struct free_sd {
    PSECURITY_DESCRIPTOR sd;
    ~free_sd() { LocalFree(sd); }
  } owner{sd};
  ASSERT_NE(dacl, nullptr) << "a NULL DACL lets everyone in";
  ASSERT_EQ(dacl->AceCount, 1);
  ACE_HEADER *ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void **>(&ace)));
  ASSERT_EQ(ace->AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(ace->AceFlags & INHERITED_ACE, 0);
  auto *allowed = reinterpret_cast<ACCESS_ALLOWED_ACE *>(ace);
  EXPECT_NE(allowed->Mask & (GENERIC_ALL | FILE_ALL_ACCESS), 0u);

  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE user[256];
  DWORD size = sizeof user;
  BOOL got_user = GetTokenInformation(token, TokenUser, user, size, &size);
  CloseHandle(token);
  ASSERT_TRUE(got_user);
  EXPECT_TRUE(EqualSid(&allowed->SidStart, reinterpret_cast<TOKEN_USER *>(user)->User.Sid))
      << "the one entry is for another account";
}

#endif
