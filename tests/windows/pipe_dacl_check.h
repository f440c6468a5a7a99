// The checks both the pipe's own tests and the agent's tests make of the
// agent's pipe: its DACL holds one allow entry, not inherited, with full
// access, for the user who runs this process, and no one else; its label is
// medium integrity with no-read-up and no-write-up; and its name carries this
// user's SID and session.
#ifndef MJ_TESTS_PIPE_DACL_CHECK_H
#define MJ_TESTS_PIPE_DACL_CHECK_H

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "handle.h"

// One ACL of a pipe's security descriptor, read with GetSecurityInfo: the
// DACL, or the SACL that holds the label.
struct pipe_acl {
  PACL acl = nullptr;
  mjw_local sd;
  DWORD error;
  pipe_acl(HANDLE pipe, SECURITY_INFORMATION what)
      : error(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, what, nullptr, nullptr,
                              what == DACL_SECURITY_INFORMATION ? &acl : nullptr,
                              what == DACL_SECURITY_INFORMATION ? nullptr : &acl, sd.receive())) {}
};

// The one ACE of an ACL read whole. Use inside ASSERT_NO_FATAL_FAILURE.
inline void only_ace(const pipe_acl &read, ACE_HEADER **ace) {
  ASSERT_EQ(read.error, (DWORD)ERROR_SUCCESS);
  ASSERT_NE(read.acl, nullptr) << "a NULL DACL lets everyone in; no SACL, no label";
  ASSERT_EQ(read.acl->AceCount, 1);
  ASSERT_TRUE(GetAce(read.acl, 0, reinterpret_cast<void **>(ace)));
}

// This process's user (TOKEN_USER) into user; false when it cannot be read.
inline bool this_users_token_user(BYTE (&user)[256]) {
  mjw_handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return false;
  DWORD size = sizeof user;
  return GetTokenInformation(token.get(), TokenUser, user, size, &size) != FALSE;
}

// Expects `pipe` (opened with READ_CONTROL, or the server's handle) to be
// kept to this process's user. Use inside ASSERT_NO_FATAL_FAILURE.
inline void expect_pipe_kept_to_this_user(HANDLE pipe) {
  pipe_acl dacl(pipe, DACL_SECURITY_INFORMATION);
  ACE_HEADER *ace = nullptr;
  ASSERT_NO_FATAL_FAILURE(only_ace(dacl, &ace));
  ASSERT_EQ(ace->AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(ace->AceFlags & INHERITED_ACE, 0);
  auto *allowed = reinterpret_cast<ACCESS_ALLOWED_ACE *>(ace);
  EXPECT_NE(allowed->Mask & (GENERIC_ALL | FILE_ALL_ACCESS), 0u);

  BYTE user[256];
  ASSERT_TRUE(this_users_token_user(user));
  EXPECT_TRUE(EqualSid(&allowed->SidStart, reinterpret_cast<TOKEN_USER *>(user)->User.Sid))
      << "the one entry is for another account";
}

// Expects `pipe` (opened with READ_CONTROL, or the server's handle) to carry
// a mandatory label of medium integrity that keeps lower levels from reading
// and writing. Use inside ASSERT_NO_FATAL_FAILURE.
inline void expect_pipe_labelled_medium(HANDLE pipe) {
  pipe_acl sacl(pipe, LABEL_SECURITY_INFORMATION);
  ACE_HEADER *ace = nullptr;
  ASSERT_NO_FATAL_FAILURE(only_ace(sacl, &ace));
  ASSERT_EQ(ace->AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
  auto *label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE *>(ace);
  EXPECT_EQ(label->Mask, (DWORD)(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP));
  PSID sid = &label->SidStart;
  ASSERT_EQ(*GetSidSubAuthorityCount(sid), 1);
  EXPECT_EQ(*GetSidSubAuthority(sid, 0), (DWORD)SECURITY_MANDATORY_MEDIUM_RID);
}

// This process's user's SID as ConvertSidToStringSidW writes it.
inline std::wstring this_users_sid() {
  BYTE user[256];
  mjw_local text;
  if (!this_users_token_user(user) || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(user)->User.Sid,
                                                              reinterpret_cast<LPWSTR *>(text.receive())))
    return L"";
  return static_cast<const wchar_t *>(text.get());
}

// The agent's pipe name for this user and session, as the hosts make it; with
// sid in place of the user's, another user's.
inline std::wstring agent_pipe_name(const std::wstring &sid = this_users_sid()) {
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  return L"\\\\.\\pipe\\veltrano-mouse-jiggler-" + sid + L"-" + std::to_wstring(session);
}

#endif
