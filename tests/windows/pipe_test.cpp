// The agent's pipe under Wine: its security, the client's call against small
// servers of this test (one that answers, one that never does, one that
// hangs up, one that talks too much), the keep-awake thread, and texts
// between UTF-8 and UTF-16.
#include "pipe.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "gtest/gtest.h"
#include "handle.h"
#include "keep_awake.h"
#include "pipe_dacl_check.h"
#include "protocol.h"
#include "wide.h"

namespace {

std::wstring pipe_name() {
  wchar_t name[MJW_PIPE_NAME_MAX];
  mjw_pipe_name(name);
  return name;
}

// The pipe as the agent creates it.
mjw_file create_agent_pipe(SECURITY_ATTRIBUTES *sa) {
  return mjw_file(CreateNamedPipeW(pipe_name().c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                   16384, 16384, 0, sa));
}

// ---- Name and security ------------------------------------------------------------

TEST(PipeName, CarriesThisUsersSidAndSession) {
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  const std::wstring sid = this_users_sid();
  ASSERT_EQ(sid.rfind(L"S-1-", 0), 0u) << "a SID as ConvertSidToStringSidW writes it";
  EXPECT_EQ(pipe_name(), L"\\\\.\\pipe\\veltrano-mouse-jiggler-" + sid + L"-" + std::to_wstring(session));
  EXPECT_EQ(pipe_name(), agent_pipe_name());
  wchar_t whole[MJW_PIPE_NAME_MAX];
  EXPECT_TRUE(mjw_pipe_name(whole));
  // Cut to the buffer, NUL-terminated, and said so: both before the SID and
  // inside it.
  for (size_t units : {12u, 40u, 45u}) {
    std::wstring small(units + 4, L'#');
    EXPECT_FALSE(mjw_pipe_name(&small[0], units)) << units;
    EXPECT_EQ(std::wstring(small.c_str()), pipe_name().substr(0, units - 1)) << units;
    EXPECT_EQ(small.substr(units), L"####") << "nothing written past the buffer";
  }
}

TEST(PipeSecurity, OneAceForThisUserAlone) {
  mjw_pipe_security made;
  ASSERT_TRUE(mjw_pipe_security_make(made, nullptr));
  EXPECT_EQ(made.attributes.nLength, sizeof made.attributes);
  EXPECT_FALSE(made.attributes.bInheritHandle);
  EXPECT_EQ(made.attributes.lpSecurityDescriptor, made.memory.get()) << "the descriptor is the memory held";

  // Moved, the descriptor stays where it was and belongs to the new owner.
  mjw_pipe_security sa = std::move(made);
  EXPECT_FALSE(made.memory);
  EXPECT_EQ(sa.attributes.lpSecurityDescriptor, sa.memory.get());
  mjw_file pipe = create_agent_pipe(&sa.attributes);
  ASSERT_TRUE(pipe) << GetLastError();

  ASSERT_NO_FATAL_FAILURE(expect_pipe_kept_to_this_user(pipe.get()));
  ASSERT_NO_FATAL_FAILURE(expect_pipe_labelled_medium(pipe.get()));

  // The agent's one instance: a second agent cannot create its own.
  mjw_file second = create_agent_pipe(&sa.attributes);
  EXPECT_FALSE(second);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PIPE_BUSY);
  pipe.reset();

  // Made again: a new block, as good as the first.
  ASSERT_TRUE(mjw_pipe_security_make(sa, nullptr));
  EXPECT_EQ(sa.attributes.lpSecurityDescriptor, sa.memory.get());
  pipe = create_agent_pipe(&sa.attributes);
  ASSERT_TRUE(pipe) << GetLastError();
  ASSERT_NO_FATAL_FAILURE(expect_pipe_kept_to_this_user(pipe.get()));
  ASSERT_NO_FATAL_FAILURE(expect_pipe_labelled_medium(pipe.get()));

  // A client's handle reads the same label back.
  mjw_file client(CreateFileW(pipe_name().c_str(), GENERIC_READ | READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(client) << GetLastError();
  EXPECT_NO_FATAL_FAILURE(expect_pipe_labelled_medium(client.get()));
}

// The trust rule itself is tested natively (host_tests, Trust); under Wine
// every process runs as one user at high integrity, so these are the cases it
// can show: this process and a child are trusted, no process is not.
TEST(ServerTrust, ThisProcessAChildAndNoProcess) {
  char buf[160];
  mjh_text why(buf);
  EXPECT_TRUE(mjw_pipe_server_trusted(GetCurrentProcess(), &why));
  EXPECT_STREQ(why.c_str(), "") << "nothing said of a trusted server";
  mjw_handle self(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId()));
  ASSERT_TRUE(self);
  EXPECT_TRUE(mjw_pipe_server_trusted(self.get(), nullptr));

  STARTUPINFOW si = {};
  si.cb = sizeof si;
  mjw_process_information pi;
  wchar_t line[] = L"cmd.exe /c exit";
  ASSERT_TRUE(CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi));
  EXPECT_TRUE(mjw_pipe_server_trusted(pi.hProcess, nullptr));
  mjh_server_token child = mjw_server_token(pi.hProcess);
  EXPECT_TRUE(child.read);
  EXPECT_TRUE(child.same_user);
  EXPECT_EQ(child.level, mjw_process_level(GetCurrentProcess()));
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, 10000);

  EXPECT_FALSE(mjw_pipe_server_trusted(nullptr, &why));
  EXPECT_STREQ(why.c_str(), "whose user and integrity level cannot be read");
}

// What Wine answers: every process runs elevated at high integrity, the
// desktop's shell (explorer.exe) included, so no process runs above the
// desktop and mjctl start goes on. Windows with UAC answers medium for the
// desktop and high for an elevated console, which then runs above it.
TEST(Elevation, WhatThisSystemAnswers) {
  mjh_elevation e = mjw_elevation_read();
  int level = mjw_process_level(GetCurrentProcess());
  EXPECT_EQ(e.own_level, level);
  ASSERT_NE(level, MJH_LEVEL_UNKNOWN);
  EXPECT_NE(e.shell_level, MJH_LEVEL_UNKNOWN) << "the desktop's shell was not found";
  EXPECT_EQ(mjw_process_elevated(), mjh_runs_above_desktop(e));
  char buf[64];
  mjh_text own(buf);
  mjh_level_text(level, own);
  std::printf(
      "this process: %s integrity, split token's elevated half %s; the shell's level 0x%x; above the desktop: %s\n",
      own.c_str(), e.split_full ? "yes" : "no", e.shell_level, mjw_process_elevated() ? "yes" : "no");
  if (e.shell_level == level) {
    EXPECT_FALSE(mjw_process_elevated()) << "as the shell runs";
  }
}

TEST(PipeExists, OnlyWhileAnInstanceDoes) {
  EXPECT_FALSE(mjw_pipe_exists());
  mjw_pipe_security sa;
  ASSERT_TRUE(mjw_pipe_security_make(sa, nullptr));
  mjw_file pipe = create_agent_pipe(&sa.attributes);
  ASSERT_TRUE(pipe);
  EXPECT_TRUE(mjw_pipe_exists());
  pipe.reset();
  EXPECT_FALSE(mjw_pipe_exists());
}

// ---- The call --------------------------------------------------------------------

enum class Behaviour { Reply, Silent, HangUp, Flood };

// A one-connection server on the agent's pipe, on a thread of its own.
class Server {
 public:
  Server(Behaviour behaviour, std::string reply = "") : behaviour_(behaviour), reply_(std::move(reply)) {
    release_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(mjw_pipe_security_make(sa_, nullptr));
    pipe_ = create_agent_pipe(&sa_.attributes);
    EXPECT_TRUE(pipe_) << GetLastError();
    thread_ = std::thread(&Server::serve, this);
  }

  ~Server() {
    SetEvent(release_.get());
    if (thread_.joinable()) thread_.join();
  }

  // The request as the server read it (after the call has returned).
  std::string request() {
    SetEvent(release_.get());
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  Behaviour behaviour_;
  std::string reply_, request_;
  mjw_pipe_security sa_;
  mjw_file pipe_;
  mjw_handle release_;
  std::thread thread_;

  void serve() {
    if (!ConnectNamedPipe(pipe_.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return;
    if (behaviour_ == Behaviour::HangUp) {
      DisconnectNamedPipe(pipe_.get());
      return;
    }
    char c;
    DWORD n;
    while (ReadFile(pipe_.get(), &c, 1, &n, nullptr) && n == 1) {
      request_ += c;
      if (c == '\n') break;
    }
    if (behaviour_ == Behaviour::Silent) {
      WaitForSingleObject(release_.get(), 120000);
    } else if (behaviour_ == Behaviour::Flood) {
      std::string flood(MJH_REPLY_MAX * 4, 'x');
      WriteFile(pipe_.get(), flood.data(), (DWORD)flood.size(), &n, nullptr);
    } else {
      WriteFile(pipe_.get(), reply_.data(), (DWORD)reply_.size(), &n, nullptr);
      FlushFileBuffers(pipe_.get());
    }
    DisconnectNamedPipe(pipe_.get());
  }
};

struct Call {
  mjw_call_result result;
  std::string reply, err;
  ULONGLONG took_ms;
  mjw_pipe_server server;
};

Call call(const char *request, DWORD timeout_ms = 5000, size_t size = MJH_REPLY_MAX + 1) {
  std::string reply(size, '?');
  char err[256];
  mjh_text message(err);
  ULONGLONG start = GetTickCount64();
  Call c;
  c.server.pid = 12345;  // the call sets it whatever happens
  c.result = mjw_pipe_call(request, &reply[0], reply.size(), timeout_ms, &c.server, &message);
  c.took_ms = GetTickCount64() - start;
  c.reply = reply.c_str();
  c.err = message.c_str();
  return c;
}

// The server a call names is this process (the test's servers run here),
// opened so that it can be waited for.
void expect_served_by_this_process(const mjw_pipe_server &server) {
  EXPECT_EQ(server.pid, GetCurrentProcessId());
  ASSERT_TRUE(server.process);
  EXPECT_EQ(GetProcessId(server.process.get()), GetCurrentProcessId());
  EXPECT_EQ(WaitForSingleObject(server.process.get(), 0), (DWORD)WAIT_TIMEOUT) << "a handle that can be waited for";
}

TEST(PipeCall, NoAgent) {
  Call c = call("{\"cmd\":\"status\"}\n");
  EXPECT_EQ(c.result, MJW_CALL_NO_AGENT);
  EXPECT_EQ(c.err, "no agent is running in this session");
  EXPECT_EQ(c.reply, "");
  EXPECT_EQ(c.server.pid, 0u);
  EXPECT_FALSE(c.server.process);
}

TEST(PipeCall, SendsTheRequestAndReadsOneReplyLine) {
  Server server(Behaviour::Reply, "{\"ok\":true}\n{\"ok\":false}\n");
  Call c = call("{\"cmd\":\"stop\"}\n");
  EXPECT_EQ(c.result, MJW_CALL_OK) << c.err;
  EXPECT_EQ(c.reply, "{\"ok\":true}");
  EXPECT_EQ(c.err, "");
  EXPECT_EQ(server.request(), "{\"cmd\":\"stop\"}\n");
  expect_served_by_this_process(c.server);
}

// The message is appended to what err holds; err and server may be null.
TEST(PipeCall, AppendsItsMessageAndTakesNullsForWhatItTells) {
  char buf[128];
  mjh_text err(buf);
  err.add("status: ");
  char reply[64];
  EXPECT_EQ(mjw_pipe_call("{\"cmd\":\"status\"}\n", reply, sizeof reply, 1000, nullptr, &err), MJW_CALL_NO_AGENT);
  EXPECT_STREQ(err.c_str(), "status: no agent is running in this session");
  EXPECT_EQ(mjw_pipe_call("{\"cmd\":\"status\"}\n", reply, sizeof reply, 1000, nullptr, nullptr), MJW_CALL_NO_AGENT);

  {
    Server server(Behaviour::Reply, "{\"ok\":true}\n");
    EXPECT_EQ(mjw_pipe_call("{\"cmd\":\"status\"}\n", reply, sizeof reply, 5000, nullptr, nullptr), MJW_CALL_OK);
    EXPECT_STREQ(reply, "{\"ok\":true}");
  }
  // A message longer than err's room is cut, and marked so.
  Server server(Behaviour::HangUp);
  char tiny[16];
  mjh_text short_err(tiny);
  EXPECT_EQ(mjw_pipe_call("{\"cmd\":\"status\"}\n", reply, sizeof reply, 5000, nullptr, &short_err), MJW_CALL_CLOSED);
  EXPECT_STREQ(short_err.c_str(), "the agent close");
  EXPECT_FALSE(short_err.ok());
}

TEST(PipeCall, ReplyOfTheLargestSize) {
  std::string reply = "{\"ok\":true,\"pad\":\"" + std::string(MJH_REPLY_MAX - 21, 'p') + "\"}\n";
  ASSERT_EQ(reply.size(), (size_t)MJH_REPLY_MAX);
  Server server(Behaviour::Reply, reply);
  Call c = call("{\"cmd\":\"status\"}\n");
  EXPECT_EQ(c.result, MJW_CALL_OK) << c.err;
  EXPECT_EQ(c.reply + "\n", reply);
}

TEST(PipeCall, ReplyOneByteTooLong) {
  std::string reply = "{\"ok\":true,\"pad\":\"" + std::string(MJH_REPLY_MAX - 20, 'p') + "\"}\n";
  Server server(Behaviour::Reply, reply);
  Call c = call("{\"cmd\":\"status\"}\n");
  EXPECT_EQ(c.result, MJW_CALL_FAILED);
  EXPECT_EQ(c.err, "the agent's reply is longer than 8192 bytes");
  EXPECT_EQ(c.reply, "") << "nothing of a failed reply";
}

TEST(PipeCall, ReplyLongerThanTheCallersBuffer) {
  Server server(Behaviour::Reply, "{\"ok\":true}\n");
  Call c = call("{\"cmd\":\"status\"}\n", 5000, 8);
  EXPECT_EQ(c.result, MJW_CALL_FAILED);
  EXPECT_EQ(c.err, "the agent's reply is longer than 7 bytes");
}

TEST(PipeCall, EndlessReplyWithoutALineEnd) {
  Server server(Behaviour::Flood);
  Call c = call("{\"cmd\":\"status\"}\n");
  EXPECT_EQ(c.result, MJW_CALL_FAILED);
  EXPECT_EQ(c.err, "the agent's reply is longer than 8192 bytes");
}

TEST(PipeCall, ServerThatNeverRepliesTimesOut) {
  Server server(Behaviour::Silent);
  Call c = call("{\"cmd\":\"status\"}\n", 1000);
  EXPECT_EQ(c.result, MJW_CALL_FAILED);
  EXPECT_EQ(c.err, "the agent did not reply within 1000 ms");
  EXPECT_GE(c.took_ms, 900u);
  EXPECT_LT(c.took_ms, 60000u) << "bounded, even under a slow Wine";
  EXPECT_EQ(server.request(), "{\"cmd\":\"status\"}\n") << "the request went out before the wait";
}

TEST(PipeCall, ServerThatHangsUpAtOnce) {
  Server server(Behaviour::HangUp);
  Call c = call("{\"cmd\":\"status\"}\n");
  EXPECT_EQ(c.result, MJW_CALL_CLOSED);
  EXPECT_EQ(c.err, "the agent closed the connection without a whole reply");
  EXPECT_EQ(c.reply, "");
  // Who served it is known all the same: an agent that quit before its
  // reply can still be waited for.
  expect_served_by_this_process(c.server);
}

TEST(PipeCall, ServerThatClosesWithoutALineEnd) {
  Server server(Behaviour::Reply, "{\"ok\":tr");
  Call c = call("{\"cmd\":\"status\"}\n");
  EXPECT_EQ(c.result, MJW_CALL_CLOSED);
  EXPECT_EQ(c.err, "the agent closed the connection without a whole reply");
  EXPECT_EQ(c.reply, "");
}

TEST(PipeCall, BusyServerGivesUpAtTheDeadline) {
  Server server(Behaviour::Silent);
  Call first = call("{\"cmd\":\"status\"}\n", 500);  // connected, its server now waits for release
  ASSERT_EQ(first.result, MJW_CALL_FAILED);
  // The server's single instance is still taken by the first client's
  // connection until it is released; the second call waits for it, bounded.
  Call second = call("{\"cmd\":\"status\"}\n", 1000);
  EXPECT_EQ(second.result, MJW_CALL_FAILED);
  EXPECT_EQ(second.err, "the agent is busy: no connection within the time allowed");
  EXPECT_GE(second.took_ms, 900u);
  EXPECT_LT(second.took_ms, 60000u);
}

// ---- Keep-awake ------------------------------------------------------------------

TEST(KeepAwake, StartStopAndHeld) {
  mjw_keep_awake k = {};
  EXPECT_FALSE(mjw_keep_awake_held(&k));
  mjw_keep_awake_stop(&k);  // not held: nothing to do
  ASSERT_TRUE(mjw_keep_awake_start(&k));
  EXPECT_TRUE(mjw_keep_awake_held(&k));
  HANDLE thread = k.thread.get();
  EXPECT_EQ(WaitForSingleObject(thread, 0), (DWORD)WAIT_TIMEOUT) << "the holding thread lives";
  EXPECT_TRUE(mjw_keep_awake_start(&k));
  EXPECT_EQ(k.thread.get(), thread) << "a second start keeps the one thread";

  // Wine keeps one execution state per process, so this thread can read what
  // the holding thread set: a call without ES_CONTINUOUS returns it unchanged.
  const EXECUTION_STATE held = ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;
  EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), held);
  EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), held) << "reading it changed it";

  mjw_keep_awake_stop(&k);
  EXPECT_FALSE(mjw_keep_awake_held(&k));
  EXPECT_FALSE(k.thread);
  EXPECT_FALSE(k.stop);
  EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), (EXECUTION_STATE)ES_CONTINUOUS) << "cleared on stop";
  mjw_keep_awake_stop(&k);
  for (int i = 0; i < 20; i++) {  // again and again, nothing left behind
    ASSERT_TRUE(mjw_keep_awake_start(&k));
    mjw_keep_awake_stop(&k);
  }
  EXPECT_FALSE(mjw_keep_awake_held(&k));
}

// The system alone (the desktop locked), then the display too, and back:
// each level as asked, held by one thread at a time, and nothing left after.
TEST(KeepAwake, TheSystemAloneOrWithTheDisplay) {
  const EXECUTION_STATE system = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
  mjw_keep_awake k;
  ASSERT_TRUE(mjw_keep_awake_start(&k, false));
  EXPECT_FALSE(mjw_keep_awake_display(&k));
  EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), system);
  HANDLE thread = k.thread.get();
  EXPECT_TRUE(mjw_keep_awake_start(&k, false));
  EXPECT_EQ(k.thread.get(), thread) << "the same level keeps its thread";

  ASSERT_TRUE(mjw_keep_awake_start(&k, true));
  EXPECT_TRUE(mjw_keep_awake_display(&k));
  EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), system | ES_DISPLAY_REQUIRED);
  ASSERT_TRUE(mjw_keep_awake_start(&k, false));
  EXPECT_FALSE(mjw_keep_awake_display(&k));
  EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), system) << "the display let go";
  mjw_keep_awake_stop(&k);
  EXPECT_FALSE(mjw_keep_awake_display(&k));
  EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), (EXECUTION_STATE)ES_CONTINUOUS) << "cleared on stop";
}

TEST(KeepAwake, ReleasedWhenItGoesOutOfScope) {
  DWORD thread_id = 0;
  {
    mjw_keep_awake k;
    ASSERT_TRUE(mjw_keep_awake_start(&k));
    thread_id = GetThreadId(k.thread.get());
    ASSERT_NE(thread_id, 0u);
  }
  EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED), (EXECUTION_STATE)ES_CONTINUOUS) << "cleared";
  // The holding thread has ended, not merely been let go of.
  mjw_handle thread(OpenThread(SYNCHRONIZE, FALSE, thread_id));
  if (thread) {
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), (DWORD)WAIT_OBJECT_0);
  }
}

// ---- Texts between UTF-8 and UTF-16 ------------------------------------------------

struct widen_case {
  const char *utf8;
  size_t count;         // units of the buffer
  const wchar_t *wide;  // what it holds
  bool whole;
};

const widen_case k_widen_cases[] = {
    {"", 1, L"", true},
    {"abc", 4, L"abc", true},
    {"abc", 3, L"ab", false},
    {"abc", 1, L"", false},
    {"\xC3\xA9\xE2\x82\xAC", 3, L"\u00E9\u20AC", true},  // two and three bytes, one unit each
    {"\xF0\x9F\x98\x80!", 4, L"\xD83D\xDE00!", true},    // four bytes, a surrogate pair
    {"a\xF0\x9F\x98\x80", 3, L"a", false},               // never half a pair
    {"a\xFF"
     "b",
     4,
     L"a\xFFFD"
     L"b",
     true},                                                      // a stray byte
    {"\xC0\xAF", 3, L"\xFFFD\xFFFD", true},                      // an overlong form, byte by byte
    {"\xED\xA0\x80", 4, L"\xFFFD\xFFFD\xFFFD", true},            // a surrogate written in UTF-8
    {"ab\xE2\x82", 5, L"ab\xFFFD\xFFFD", true},                  // a sequence cut short at the end
    {"\xF4\x90\x80\x80", 5, L"\xFFFD\xFFFD\xFFFD\xFFFD", true},  // past U+10FFFF
};

class Widen : public ::testing::TestWithParam<widen_case> {};

TEST_P(Widen, KeepsWholeCharactersAndMarksTheRest) {
  const widen_case &c = GetParam();
  std::wstring buf(c.count + 4, L'#');
  EXPECT_EQ(mjw_widen(c.utf8, &buf[0], c.count), c.whole) << c.utf8;
  EXPECT_EQ(std::wstring(buf.c_str()), c.wide) << c.utf8;
  EXPECT_EQ(buf.substr(c.count), L"####") << "nothing written past the buffer";
}

INSTANTIATE_TEST_SUITE_P(Table, Widen, ::testing::ValuesIn(k_widen_cases));

// For UTF-8 that is whole and valid, the same units as Windows' own converter.
TEST(Wide, AgreesWithWindowsOnValidText) {
  const char *texts[] = {"\\\\.\\pipe\\veltrano-mouse-jiggler-1",
                         "Gr\xC3\xBC\xC3\x9F"
                         "e",
                         "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x90\xAD \xF0\x9F\x96\xB1", "\x7F\xC2\x80\xEF\xBF\xBF"};
  for (const char *text : texts) {
    wchar_t ours[64], theirs[64];
    ASSERT_TRUE(mjw_widen(text, ours));
    ASSERT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, theirs, 64), 0) << text;
    EXPECT_EQ(std::wstring(ours), std::wstring(theirs)) << text;

    char back[256];
    mjh_text narrow(back);
    mjw_narrow(ours, narrow);
    EXPECT_STREQ(narrow.c_str(), text) << "there and back";
    char windows_back[256];
    ASSERT_GT(WideCharToMultiByte(CP_UTF8, 0, theirs, -1, windows_back, sizeof windows_back, nullptr, nullptr), 0);
    EXPECT_STREQ(narrow.c_str(), windows_back);
  }
}

struct narrow_case {
  std::wstring wide;
  std::string utf8;
};

TEST(Wide, NarrowAppendsUtf8AndReplacesLoneSurrogates) {
  const narrow_case cases[] = {
      {L"", ""},
      {L"abc", "abc"},
      {L"\u00E9\u20AC", "\xC3\xA9\xE2\x82\xAC"},
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {L"a\xD83D", "a\xEF\xBF\xBD"},  // a high surrogate at the end
      {L"\xDE00"
       L"b",
       "\xEF\xBF\xBD"
       "b"},                                                    // a low one alone
      {L"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},            // a pair the wrong way round
      {L"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},  // a high one, then a pair
  };
  for (const narrow_case &c : cases) {
    char buf[64];
    mjh_text out(buf);
    out.add("> ");
    mjw_narrow(c.wide.c_str(), out);
    EXPECT_EQ(std::string(out.c_str()), "> " + c.utf8);
    EXPECT_TRUE(out.ok());
  }
  // A count stops before the NUL; a null text appends nothing.
  char buf[16];
  mjh_text out(buf);
  mjw_narrow(L"abcdef", 3, out);
  mjw_narrow(nullptr, out);
  EXPECT_STREQ(out.c_str(), "abc");
}

// Upper case by the file system's table, whatever the language: the same
// letters a path compare without regard to case folds, and no more (no ß to
// SS, no dotless i to I).
TEST(Wide, APathFoldsToUpperCaseAsWindowsComparesPaths) {
  struct fold_case {
    const wchar_t *path;
    const char *folded;
  };
  const fold_case cases[] = {
      {L"c:\\users\\zo\u00eb\\mjtray.exe", "C:\\USERS\\ZO\xC3\x8B\\MJTRAY.EXE"},
      {L"C:\\USERS\\ZO\u00cb\\MJTRAY.EXE", "C:\\USERS\\ZO\xC3\x8B\\MJTRAY.EXE"},
      {L"\u00dfe \u0131i \u0444",
       "\xC3\x9F"
       "E \xC4\xB1I \xD0\xA4"},
      {L"", ""},
  };
  for (const fold_case &c : cases) {
    char buf[64];
    mjh_text out(buf);
    mjw_narrow_path_folded(c.path, out);
    EXPECT_STREQ(out.c_str(), c.folded);
  }
  std::wstring too_long(MJW_FOLD_MAX, L'a');
  std::string as_given(MJW_FOLD_MAX, 'a');
  std::string big(MJW_FOLD_MAX + 1, '\0');
  mjh_text out(&big[0], big.size());
  mjw_narrow_path_folded(too_long.c_str(), out);
  EXPECT_EQ(std::string(out.c_str()), as_given) << "too long to fold: as given";
}

TEST(Wide, NarrowIntoASmallTextCutsAtACharacter) {
  std::wstring euros(300, L'\u20AC');  // longer than the converter's chunk, 900 bytes of UTF-8
  std::string all;
  for (int i = 0; i < 300; i++) all += "\xE2\x82\xAC";
  std::string big(1024, '\0');
  mjh_text whole(&big[0], big.size());
  mjw_narrow(euros.c_str(), whole);
  EXPECT_TRUE(whole.ok());
  EXPECT_EQ(std::string(whole.c_str()), all);

  char buf[101];  // room for 100 bytes: 33 whole characters
  mjh_text cut(buf);
  mjw_narrow(euros.c_str(), cut);
  EXPECT_FALSE(cut.ok());
  EXPECT_EQ(std::string(cut.c_str()), all.substr(0, 99));
}

}  // namespace
