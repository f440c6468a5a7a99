// mjctl quit --wait, as the installers use it: against no agent, the real
// agent, and an agent that says it quits but stays (this program started
// again as one), which is ended after the grace period while another process
// of the same program runs on.
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "handle.h"
#include "pipe.h"
#include "this_program.h"

namespace {

// Serves the agent's pipe, answering {"ok":true} to every request, and never
// exits by itself.
int stubborn_agent() {
  mjw_pipe_security security;
  if (!mjw_pipe_security_make(security, nullptr)) return 3;
  wchar_t name[MJW_PIPE_NAME_MAX];
  mjw_pipe_name(name);
  for (;;) {
    mjw_file pipe(CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, &security.attributes));
    if (!pipe) return 4;
    if (ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      char c;
      DWORD n;
      std::string line;
      while (ReadFile(pipe.get(), &c, 1, &n, nullptr) && n == 1 && c != '\n') line += c;
      if (!line.empty()) {
        static const char ok[] = "{\"ok\":true}\n";
        WriteFile(pipe.get(), ok, sizeof ok - 1, &n, nullptr);
        FlushFileBuffers(pipe.get());
      }
      DisconnectNamedPipe(pipe.get());
    }
  }
}

struct process {
  mjw_process_information pi;
  bool started = false;
  explicit process(const std::string &command_line) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string line = command_line;
    started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
  }
  ~process() {
    if (!started) return;
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  }
  bool running() const { return WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }
};

struct result {
  long code = -1;
  std::string out, err;
};

std::string read_text(const std::string &path) {
  std::string text;
  mjw_file f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!f) return text;
  char buf[4096];
  DWORD n;
  while (ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

// Runs mjctl.exe with args, its output in files; waits up to a minute.
result mjctl(const std::string &args) {
  result r;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  std::string out_path = beside_this_program("quit_wait.out"), err_path = beside_this_program("quit_wait.err");
  mjw_file out(CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
  mjw_file err(CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out.get();
  si.hStdError = err.get();
  std::string exe = beside_this_program("mjctl.exe");
  std::string line = "\"" + exe + "\" " + args;
  mjw_process_information pi;
  if (CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code))
      r.code = (long)code;
    else
      TerminateProcess(pi.hProcess, 99);
  }
  out.reset();
  err.reset();
  r.out = read_text(out_path);
  r.err = read_text(err_path);
  return r;
}

// Waits up to 20 s for the agent's pipe.
bool await_pipe() {
  for (int i = 0; i < 200; i++) {
    if (mjw_pipe_exists()) return true;
    Sleep(100);
  }
  return false;
}

TEST(QuitWait, WithoutAnAgentPrintsNothing) {
  ASSERT_FALSE(mjw_pipe_exists()) << "an agent runs in this session";
  for (const char *args : {"quit --wait", "quit --wait --quiet", "quit --quiet --wait"}) {
    result r = mjctl(args);
    EXPECT_EQ(r.code, 0) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_EQ(r.err, "") << args;
  }
}

TEST(QuitWait, FlagsGoWithQuitAndQuietWithWait) {
  struct {
    const char *args, *err;
  } cases[] = {
      {"quit --quiet", "mjctl: --quiet goes with --wait\ntry: mjctl --help\n"},
      {"stop --wait", "mjctl: --wait does not apply to stop\ntry: mjctl --help\n"},
      {"status --quiet", "mjctl: --quiet does not apply to status\ntry: mjctl --help\n"},
      {"quit --wait=5", "mjctl: --wait takes no value\ntry: mjctl --help\n"},
  };
  for (auto &c : cases) {
    result r = mjctl(c.args);
    EXPECT_EQ(r.code, 2) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
}

TEST(QuitWait, TheRealAgentHasEndedWhenItReturns) {
  for (bool quiet : {false, true}) {
    process agent("\"" + beside_this_program("mjtray.exe") + "\"");
    ASSERT_TRUE(agent.started);
    ASSERT_TRUE(await_pipe()) << "the agent did not open its pipe";
    result r = mjctl(quiet ? "quit --wait --quiet" : "quit --wait");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, quiet ? "" : "the agent has stopped its run and quit\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(agent.running()) << "mjctl returned before the agent's process ended";
    DWORD code = 99;
    GetExitCodeProcess(agent.pi.hProcess, &code);
    EXPECT_EQ(code, 0u) << "the agent was ended rather than quit";
  }
}

TEST(QuitWait, AnAgentThatStaysIsEndedAloneAfterTheGrace) {
  for (bool quiet : {false, true}) {
    process bystander("\"" + this_program() + "\" --bystander");
    process agent("\"" + this_program() + "\" --stubborn-agent");
    ASSERT_TRUE(agent.started && bystander.started);
    ASSERT_TRUE(await_pipe()) << "the stand-in agent did not open its pipe";
    result r = mjctl(quiet ? "quit --wait --quiet" : "quit --wait");
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(agent.running()) << "the agent that stayed was not ended";
    EXPECT_TRUE(bystander.running()) << "another process of the same program was ended";
    if (quiet) {
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.out, "the agent has stopped its run and quit\n");
      EXPECT_EQ(r.err, "mjctl: the agent (process " + std::to_string(agent.pi.dwProcessId) +
                           ") did not quit within 5 s: ended it\n");
    }
    for (int i = 0; i < 50 && mjw_pipe_exists(); i++) Sleep(100);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::string(argv[1]) == "--stubborn-agent") return stubborn_agent();
  if (argc == 2 && std::string(argv[1]) == "--bystander") {
    Sleep(INFINITE);
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
