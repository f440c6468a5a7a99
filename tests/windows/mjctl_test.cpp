// mjctl under Wine, started as a person or a script starts it: its own
// process, stdout and stderr into pipes, the exit code read at the end.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "../native/status_util.h"
#include "agent_text.h"
#include "clock.h"
#include "gtest/gtest.h"
#include "handle.h"
#include "json_check.h"
#include "lock_timeout.h"
#include "pipe.h"
#include "policy_keys.h"
#include "protocol.h"
#include "sleepers.h"

namespace {

// One run of mjctl.exe with the given arguments (Windows command-line rules).
class Mjctl {
 public:
  // console_out: a console screen for stdout in place of a pipe.
  explicit Mjctl(const std::string &args, HANDLE console_out = nullptr) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    mjw_handle out_w, err_w;  // closed once the child has its copies, so that its end ends the reading
    if ((!console_out && !CreatePipe(out_r_.receive(), out_w.receive(), &inherit, 0)) ||
        !CreatePipe(err_r_.receive(), err_w.receive(), &inherit, 0)) {
      start_error_ = GetLastError();
      return;
    }
    if (out_r_) SetHandleInformation(out_r_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_r_.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = console_out ? console_out : out_w.get();
    si.hStdError = err_w.get();
    std::string exe = beside_this_program("mjctl.exe");
    std::string line = "\"" + exe + "\" " + args;
    started_ = CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi_);
    start_error_ = started_ ? 0 : GetLastError();
    out_w.reset();
    err_w.reset();
    if (started_) {
      if (out_r_) out_reader_ = std::thread(&Mjctl::drain, this, out_r_.get(), &out_);
      err_reader_ = std::thread(&Mjctl::drain, this, err_r_.get(), &err_);
    }
  }

  ~Mjctl() {
    if (started_ && WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 99);
    if (out_reader_.joinable()) out_reader_.join();
    if (err_reader_.joinable()) err_reader_.join();
  }

  bool started() const { return started_ != 0; }
  // Why it did not start (the error of CreatePipe or CreateProcess).
  DWORD start_error() const { return start_error_; }

  // Whether stderr holds needle while mjctl still runs (within a minute).
  bool error_while_running(const std::string &needle) {
    for (int i = 0; i < 600; i++) {
      if (WaitForSingleObject(pi_.hProcess, 100) == WAIT_OBJECT_0) return false;
      if (err().find(needle) != std::string::npos) return true;
    }
    return false;
  }

  // Waits until stdout holds needle or mjctl has ended; false if it has not
  // come within a minute.
  bool wait_for_output(const std::string &needle) {
    for (int i = 0; i < 600; i++) {
      if (out().find(needle) != std::string::npos) return true;
      if (WaitForSingleObject(pi_.hProcess, 100) == WAIT_OBJECT_0) return out().find(needle) != std::string::npos;
    }
    return false;
  }

  // The exit code once mjctl has ended and its output is read; -1 when it
  // has not ended within two minutes (it is then killed).
  long finish() {
    DWORD code = 0;
    if (WaitForSingleObject(pi_.hProcess, 120000) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi_.hProcess, &code))
      return -1;
    if (out_reader_.joinable()) out_reader_.join();
    err_reader_.join();
    return (long)code;
  }

  // The local time of day, HH:MM, at which mjctl ended ("" while it runs).
  std::string ended_at() {
    FILETIME created, exited, kernel, user, local;
    SYSTEMTIME t;
    if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0 ||
        !GetProcessTimes(pi_.hProcess, &created, &exited, &kernel, &user) ||
        !FileTimeToLocalFileTime(&exited, &local) || !FileTimeToSystemTime(&local, &t))
      return "";
    char text[8];
    snprintf(text, sizeof text, "%02d:%02d", t.wHour, t.wMinute);
    return text;
  }

  // What mjctl wrote so far, with Windows line ends made plain.
  std::string out() { return plain(out_); }
  std::string err() { return plain(err_); }

 private:
  mjw_process_information pi_;
  BOOL started_ = FALSE;
  DWORD start_error_ = 0;
  mjw_handle out_r_, err_r_;
  std::thread out_reader_, err_reader_;
  std::mutex mu_;
  std::string out_, err_;

  void drain(HANDLE pipe, std::string *into) {
    char buf[4096];
    DWORD n;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) {
      std::lock_guard<std::mutex> hold(mu_);
      into->append(buf, n);
    }
  }

  std::string plain(const std::string &text) {
    std::lock_guard<std::mutex> hold(mu_);
    return std::regex_replace(text, std::regex("\r\n"), "\n");
  }
};

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
    lines.push_back(text.substr(from, nl - from));
  if (from < text.size()) lines.push_back(text.substr(from));
  return lines;
}

// The tests that stand in for the agent serve its pipe themselves: no agent
// of this session (one started at log-on, say) may hold it.
class NoAgentInThisSession : public ::testing::Environment {
 public:
  void SetUp() override {
    Mjctl quit("quit");
    ASSERT_EQ(quit.finish(), 0) << quit.err();
  }
};
const auto *const k_no_agent = ::testing::AddGlobalTestEnvironment(new NoAgentInThisSession);

// ---- Flags, outputs and exit codes --------------------------------------------

struct cli_case {
  const char *args;
  long exit_code;
  const char *out;  // regular expression for the whole of stdout
  const char *err;  // regular expression for the whole of stderr
};

#define USAGE(message) 2, "", "mjctl: " message "\ntry: mjctl --help\n"
#define REFUSED(message) 1, "", "mjctl: " message "\n"
#define HELP "usage: mjctl COMMAND \\[FLAGS\\]\n[\\s\\S]*\nexit codes: [\\s\\S]*2 bad command line\\.\n"
#define INTERVAL_RANGE "--interval needs a whole number of seconds from 1 to 3600, not "

// The rows that need the real program: its output and exit code for help,
// version and the DLL, the agent's commands without an agent, a few
// refusals as a person sees them (Windows' quoting of the arguments
// included), and what only the running system can tell. The command line's
// rules are tested natively as a table (tests/native/command_line_test.cpp).
const cli_case k_cli_cases[] = {
    // Help and the small commands.
    {"--help", 0, HELP, ""},
    {"run --mode move --help", 0, HELP, ""},
    {"version", 0, "mjctl 1\\.0\\.0, veltrano-mouse-jiggler\\.dll 1\\.0\\.0\n", ""},
    {"idle", 0, "[0-9]+\n", ""},

    // The agent's commands, with no agent in this session.
    {"status", REFUSED("no agent is running in this session \\(mjctl start starts one\\)")},
    {"status --json", REFUSED("no agent is running in this session \\(mjctl start starts one\\)")},
    {"stop", 0, "no agent is running in this session: nothing to stop\n", ""},
    {"quit", 0, "no agent is running in this session: nothing to quit\n", ""},

    // One-shot nudges: the flags reach the DLL.
    {"nudge", 0, "nudge: SendInput zen, idle time reset\n", ""},
    {"nudge --mode move --dy=-2", 0, "nudge: SendInput move, idle time reset\n", ""},
    {"nudge --dry-run --mode move", 0, "nudge: dry-run, nothing injected\n", ""},
    {"nudge --json --dry-run", 0, "\\{\"active\":0,.*\"last_method\":\"dry-run\",.*\\}\n", ""},
    {"nudge --options \"{\\\"dry_run\\\":true}\"", 0, "nudge: dry-run, nothing injected\n", ""},
    {"nudge --options \"{\\\"mode\\\":\\\"move\\\",\\\"dx\\\":-3,\\\"dry_run\\\":true}\"", 0,
     "nudge: dry-run, nothing injected\n", ""},

    // Refusals as a person sees them: the message, the hint, exit code 2,
    // with the arguments as Windows splits and unquotes them.
    {"", USAGE("no command given")},
    {"run --bogus", USAGE("unknown flag \"--bogus\"")},
    {"run --options \"{\\\"mode\\\":\\\"fast\\\"}\"",
     USAGE("--options: \"mode\" must be \"zen\" or \"move\", not \"fast\"")},
    {"run --interval \"\"", USAGE(INTERVAL_RANGE "\"\"")},
    {"run \"--interval= 5\"", USAGE(INTERVAL_RANGE "\" 5\"")},
    {"run --while C:\\obs\\obs64.exe",
     USAGE("--while: \"C:\\\\\\\\obs\\\\\\\\obs64\\.exe\" is not a program name: give the name alone, without its "
           "folder or drive \\(e\\.g\\. obs64\\.exe\\)")},

    // What only the running system can tell.
    {"run --while 4294967292", REFUSED("--while: no process 4294967292 is running")},
    {"run --dry-run --while no-such-program", REFUSED("--while: no-such-program\\.exe is not running in this session")},
};

class Cli : public ::testing::TestWithParam<cli_case> {};

TEST_P(Cli, ExitCodeAndOutputs) {
  const cli_case &c = GetParam();
  Mjctl mjctl(c.args);
  ASSERT_TRUE(mjctl.started()) << "cannot start mjctl.exe: error " << mjctl.start_error();
  long code = mjctl.finish();
  std::string out = mjctl.out(), err = mjctl.err();
  EXPECT_EQ(code, c.exit_code) << "mjctl " << c.args << "\nstdout:\n" << out << "stderr:\n" << err;
  EXPECT_TRUE(std::regex_match(out, std::regex(c.out))) << "mjctl " << c.args << "\nstdout:\n" << out;
  EXPECT_TRUE(std::regex_match(err, std::regex(c.err))) << "mjctl " << c.args << "\nstderr:\n" << err;
}

std::string cli_case_name(const ::testing::TestParamInfo<cli_case> &info) {
  return "case" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Table, Cli, ::testing::ValuesIn(k_cli_cases), cli_case_name);

// ---- What the flags make of a run: its first status line ------------------------

struct run_case {
  const char *flags;
  const char *options;  // the options members of the first status line
};

// The flags and --options as the DLL gets them (every flag's mapping is
// tested natively; the DLL makes a move of 0,0 one of 1,0).
const run_case k_run_cases[] = {
    {"", "\"mode\":\"zen\",\"interval_s\":60,\"dx\":1,\"dy\":1,\"only_when_idle\":1,\"dry_run\":0"},
    {"--mode move --interval 7 --dx -3 --dy 9 --always --dry-run",
     "\"mode\":\"move\",\"interval_s\":7,\"dx\":-3,\"dy\":9,\"only_when_idle\":0,\"dry_run\":1"},
    {"--mode move --dx 0 --dy 0 --dry-run",
     "\"mode\":\"move\",\"interval_s\":60,\"dx\":1,\"dy\":0,\"only_when_idle\":1,\"dry_run\":1"},
    {"--options \"{\\\"mode\\\":\\\"move\\\",\\\"interval_s\\\":3000,\\\"dx\\\":-7,\\\"dry_run\\\":true}\"",
     "\"mode\":\"move\",\"interval_s\":3000,\"dx\":-7,\"dy\":1,\"only_when_idle\":1,\"dry_run\":1"},
};

// The warning line run and start print for an interval under the lock
// timeout now in force (the prefix's screen saver, say), or "".
std::string lock_warning(int interval_s, int only_when_idle) {
  mjw_lock_timeout lock;
  mjw_lock_timeout_read(&lock);
  mjh_text_buffer<256> text;
  mjh_interval_warning_of(interval_s, only_when_idle, lock.seconds, lock.kind, text);
  return text.size() ? std::string("mjctl: warning: ") + text.c_str() + "\n" : "";
}

// The rows' runs go side by side: each is a second long.
TEST(MjctlRun, FlagsReachTheDll) {
  std::vector<std::unique_ptr<Mjctl>> runs;
  for (const run_case &c : k_run_cases)
    runs.push_back(std::make_unique<Mjctl>(std::string("run --json --for 1 ") + c.flags));
  for (size_t i = 0; i < runs.size(); i++) {
    const run_case &c = k_run_cases[i];
    Mjctl &mjctl = *runs[i];
    ASSERT_TRUE(mjctl.started()) << c.flags;
    ASSERT_EQ(mjctl.finish(), 0) << c.flags << mjctl.err();
    std::vector<std::string> lines = lines_of(mjctl.out());
    ASSERT_GE(lines.size(), 2u) << c.flags << mjctl.out();
    for (const std::string &line : lines) EXPECT_TRUE(json_is_flat_object(line)) << line;
    EXPECT_EQ(lines.front().rfind(std::string("{\"active\":1,") + c.options + ",", 0), 0u) << lines.front();
    EXPECT_EQ(lines.back().rfind(std::string("{\"active\":0,") + c.options + ",", 0), 0u) << lines.back();
    std::smatch m;
    const std::string options = c.options;
    ASSERT_TRUE(std::regex_search(options, m, std::regex("\"interval_s\":([0-9]+).*\"only_when_idle\":([01])")));
    EXPECT_EQ(mjctl.err(), lock_warning(std::stoi(m[1].str()), std::stoi(m[2].str()))) << c.flags;
  }
}

// ---- Runs told in sentences ------------------------------------------------------

const char k_clock[] = "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]";

// The numbers of the event lines of one kind ("nudge", "skip"), in order, and
// whether each line after the first such one says what what_rx says.
std::vector<int> event_numbers(const std::vector<std::string> &lines, const std::string &kind,
                               const std::string &what_rx) {
  std::vector<int> numbers;
  std::regex event(std::string(k_clock) + " " + kind + " ([0-9]+): (.*)");
  std::smatch m;
  for (const std::string &line : lines) {
    if (!std::regex_match(line, m, event)) continue;
    EXPECT_TRUE(std::regex_match(m[2].str(), std::regex(what_rx))) << line;
    numbers.push_back(std::stoi(m[1].str()));
  }
  return numbers;
}

TEST(MjctlRun, TellsEachNudgeAndTheCountdownInPlainLines) {
  Mjctl mjctl("run --mode move --dx 2 --dy 2 --interval 1 --always --for 4");
  ASSERT_TRUE(mjctl.started());
  ASSERT_EQ(mjctl.finish(), 0) << mjctl.err();
  std::string out = mjctl.out();
  EXPECT_EQ(out.find('\r'), std::string::npos) << "a countdown refreshed in place, into a pipe";
  std::vector<std::string> lines = lines_of(out);
  ASSERT_GE(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0], "started: move nudges of 2,2 px every 1 s, also while the user is active");
  EXPECT_EQ(lines[1], "stopping after 4 s; Ctrl+C stops earlier");
  EXPECT_EQ(lines[2], "next nudge in 1 s");

  std::vector<int> nudges = event_numbers(lines, "nudge", "SendInput move, idle time reset");
  ASSERT_FALSE(nudges.empty()) << out;
  for (size_t i = 0; i < nudges.size(); i++) EXPECT_EQ(nudges[i], (int)i + 1) << out;
  // Every line is the start, an event, a countdown or the summary.
  std::regex known(std::string("started: .*|stopping after .*|next nudge in 1 s|") + k_clock +
                   " nudge [0-9]+: .*|stopped after [0-9]+ s \\(time is up\\): .*");
  for (const std::string &line : lines) EXPECT_TRUE(std::regex_match(line, known)) << line;
  std::string summary = "stopped after [0-9]+ s \\(time is up\\): " + std::to_string(nudges.size()) +
                        (nudges.size() == 1 ? " nudge" : " nudges") + ", 0 skipped, 0 failed";
  EXPECT_TRUE(std::regex_match(lines.back(), std::regex(summary))) << lines.back();
  EXPECT_EQ(mjctl.err(), "");
}

TEST(MjctlRun, TellsSkipsWhileTheUserIsActive) {
  // Someone keeps using the mouse: input every 100 ms from this process.
  std::atomic<bool> busy(true);
  std::thread user([&busy] {
    while (busy) {
      INPUT in = {};
      in.type = INPUT_MOUSE;
      in.mi.dwFlags = MOUSEEVENTF_MOVE;
      SendInput(1, &in, sizeof in);
      Sleep(100);
    }
  });
  Mjctl mjctl("run --interval 1 --for 4");
  long code = mjctl.finish();
  busy = false;
  user.join();
  ASSERT_EQ(code, 0) << mjctl.err();
  std::string out = mjctl.out();
  std::vector<std::string> lines = lines_of(out);
  ASSERT_GE(lines.size(), 2u) << out;
  EXPECT_EQ(lines[0], "started: zen nudges every 1 s, only after 1 s without user input");
  std::vector<int> skips = event_numbers(lines, "skip", "the user was active in the last 1 s");
  ASSERT_FALSE(skips.empty()) << out;
  for (size_t i = 0; i < skips.size(); i++) EXPECT_EQ(skips[i], (int)i + 1) << out;
  EXPECT_TRUE(std::regex_match(lines.back(), std::regex("stopped after [0-9]+ s \\(time is up\\): [0-9]+ nudges?, " +
                                                        std::to_string(skips.size()) + " skipped, 0 failed")))
      << lines.back();
}

TEST(MjctlRun, SaysWhenItKeepsTheSystemAwake) {
  Mjctl mjctl("run --keep-awake --interval 1 --always --dry-run --for 2");
  ASSERT_EQ(mjctl.finish(), 0) << mjctl.err();
  std::vector<std::string> lines = lines_of(mjctl.out());
  ASSERT_GE(lines.size(), 3u) << mjctl.out();
  EXPECT_EQ(lines[0], "started: zen nudges every 1 s, also while the user is active, dry run (nothing injected)");
  EXPECT_EQ(lines[1], "keeping the system and display on while the run is active");
  EXPECT_EQ(lines[2], "stopping after 2 s; Ctrl+C stops earlier");
  EXPECT_EQ(mjctl.err(), "");
}

// --for takes the forms people type; a bare number stays seconds.
TEST(MjctlRun, ForTakesTheFormsPeopleType) {
  // Side by side; longer ones are said in hours and minutes too (stopped early here).
  Mjctl with_unit("run --dry-run --for 2s"), bare("run --dry-run --for 2"), longer("run --dry-run --for 1h30m");
  for (Mjctl *mjctl : {&with_unit, &bare}) {
    ASSERT_EQ(mjctl->finish(), 0) << mjctl->err();
    std::vector<std::string> lines = lines_of(mjctl->out());
    ASSERT_GE(lines.size(), 3u) << mjctl->out();
    EXPECT_EQ(lines[1], "stopping after 2 s; Ctrl+C stops earlier");
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("stopped after [23] s \\(time is up\\): .*")))
        << lines.back();
  }
  ASSERT_TRUE(longer.wait_for_output("Ctrl+C stops earlier\n")) << longer.out();
  EXPECT_EQ(lines_of(longer.out())[1], "stopping after 5400 s (1 h 30 min); Ctrl+C stops earlier");
}

// run --while: the run lasts as long as a program does. Generous bounds: the
// run's loop looks five times a second, so it ends within a second or two.
const DWORD k_while_end_bound_ms = 5000;

class MjctlRunWhile : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "mjctl" + std::to_string(GetCurrentProcessId()) + "while.exe";
    path_ = folder_.copy(name_);
    ASSERT_NE(path_, "");
  }
  // Ends the program with end(), then waits for mjctl: its exit code, and
  // the milliseconds it took after the program had ended.
  long end_and_finish(Mjctl &mjctl, const std::function<void()> &end, sleeper &program, ULONGLONG *took_ms) {
    end();
    EXPECT_TRUE(program.ended(10000));
    ULONGLONG ended = GetTickCount64();
    long code = mjctl.finish();
    *took_ms = GetTickCount64() - ended;
    return code;
  }
  sleeper_folder folder_;
  std::string name_, path_;
};

TEST_F(MjctlRunWhile, AProgramByNameUntilItsLastCopyEnds) {
  sleeper first(path_), second(path_);
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(second.started());
  Mjctl mjctl("run --dry-run --interval 1 --while " + name_.substr(0, name_.size() - 4));  // ".exe" is added
  ASSERT_TRUE(mjctl.wait_for_output("Ctrl+C stops\n")) << mjctl.out() << mjctl.err();
  std::vector<std::string> lines = lines_of(mjctl.out());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "running while " + name_ + " runs");
  EXPECT_EQ(lines[2], "Ctrl+C stops");

  first.end();
  ASSERT_TRUE(first.ended(10000));
  Sleep(2000);
  EXPECT_EQ(mjctl.out().find("stopped after"), std::string::npos) << "one copy still runs: " << mjctl.out();
  ULONGLONG took = 0;
  ASSERT_EQ(end_and_finish(
                mjctl, [&] { second.end(); }, second, &took),
            0)
      << mjctl.err();
  EXPECT_LT(took, k_while_end_bound_ms);
  lines = lines_of(mjctl.out());
  EXPECT_TRUE(std::regex_match(lines.back(), std::regex("stopped after [0-9]+ s \\(" + name_ + " ended\\): .*")))
      << lines.back();
  EXPECT_EQ(mjctl.err(), "");
  std::printf("mjctl ended %llu ms after the program\n", took);
}

TEST_F(MjctlRunWhile, AProcessByItsIdEndedFromOutside) {
  sleeper program(path_);
  ASSERT_TRUE(program.started());
  Mjctl mjctl("run --dry-run --json --while " + std::to_string(program.pid()));
  ASSERT_TRUE(mjctl.wait_for_output("{")) << mjctl.err();
  ULONGLONG took = 0;
  ASSERT_EQ(end_and_finish(
                mjctl, [&] { program.kill(); }, program, &took),
            0)
      << mjctl.err();
  EXPECT_LT(took, k_while_end_bound_ms);
  EXPECT_EQ(lines_of(mjctl.out()).back().rfind("{\"active\":0,", 0), 0u) << mjctl.out();

  sleeper again(path_);
  ASSERT_TRUE(again.started());
  std::string pid = std::to_string(again.pid());
  Mjctl said("run --dry-run --while " + pid);
  ASSERT_TRUE(said.wait_for_output("Ctrl+C stops\n")) << said.err();
  EXPECT_EQ(lines_of(said.out())[1], "running while " + name_ + " (process " + pid + ") runs");
  ASSERT_EQ(end_and_finish(
                said, [&] { again.end(); }, again, &took),
            0)
      << said.err();
  EXPECT_TRUE(
      std::regex_match(lines_of(said.out()).back(), std::regex("stopped after [0-9]+ s \\(" + name_ + " ended\\): .*")))
      << said.out();
}

// The local time of day `minutes_ahead` from now, as HH:MM, and its minute.
std::string local_clock(int minutes_ahead, int *seconds_into_minute = nullptr) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  if (seconds_into_minute) *seconds_into_minute = t.wSecond;
  int minute = ((t.wHour * 60 + t.wMinute + minutes_ahead) % 1440 + 1440) % 1440;
  char text[8];
  snprintf(text, sizeof text, "%02d:%02d", minute / 60, minute % 60);
  return text;
}

// Set in the environment of this program when it runs as a stand-in agent
// (FakeAgentProcess below).
const char kFakeAgentVariable[] = "MJCTL_TEST_FAKE_AGENT_PROCESS";

bool too_close_to_midnight(const std::string &clock) { return clock > "23:50" || clock < "00:10"; }

// One already past today means tomorrow's, and the start says so (a time
// still ahead today: RunUntilTheNextMinute below).
TEST(MjctlRun, UntilStopsAtTheTimeOfDayTomorrowsWhenPast) {
  const std::string past = local_clock(-2);
  if (too_close_to_midnight(past)) GTEST_SKIP() << "too close to midnight to tell today from tomorrow";
  Mjctl tomorrow("run --dry-run --until " + past);
  ASSERT_TRUE(tomorrow.wait_for_output("Ctrl+C stops earlier\n")) << tomorrow.out() << tomorrow.err();
  EXPECT_EQ(lines_of(tomorrow.out())[1], "running until " + past + " tomorrow; Ctrl+C stops earlier");
}

// --until a time still ahead today stops there: the next minute, up to a
// minute away. That run starts before the first test and is looked at after
// the last, so that its wait goes by beside them (it is a dry run and waits
// for no agent).
class RunUntilTheNextMinute : public ::testing::Environment {
 public:
  void SetUp() override {
    if (std::getenv(kFakeAgentVariable) || !runs("MjctlRun", "UntilStopsAtTheTimeOfDayTomorrowsWhenPast")) return;
    int second;
    local_clock(0, &second);
    next_ = local_clock(second > 50 ? 2 : 1);  // the next minute may come before mjctl has started
    if (too_close_to_midnight(next_)) return;
    run_ = std::make_unique<Mjctl>("run --dry-run --until " + next_);
    // Once it says how it ends it has looked for an agent: the tests' stand-in agents come after.
    ASSERT_TRUE(run_->wait_for_output("Ctrl+C stops earlier\n")) << run_->out() << run_->err();
  }

  void TearDown() override {
    if (!run_) return;
    ASSERT_EQ(run_->finish(), 0) << run_->err();
    std::vector<std::string> lines = lines_of(run_->out());
    ASSERT_GE(lines.size(), 3u) << run_->out();
    EXPECT_EQ(lines[1], "running until " + next_ + "; Ctrl+C stops earlier");
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("stopped after [0-9]+ s \\(time is up\\): .*")))
        << lines.back();
    EXPECT_EQ(run_->ended_at(), next_) << "stopped at the minute it was told";
  }

 private:
  std::string next_;
  std::unique_ptr<Mjctl> run_;

  // Whether the filter lets that test run.
  static bool runs(const char *suite, const char *test) {
    const ::testing::UnitTest &all = *::testing::UnitTest::GetInstance();
    for (int i = 0; i < all.total_test_suite_count(); i++) {
      const ::testing::TestSuite &s = *all.GetTestSuite(i);
      for (int j = 0; j < s.total_test_count(); j++)
        if (strcmp(s.name(), suite) == 0 && strcmp(s.GetTestInfo(j)->name(), test) == 0)
          return s.GetTestInfo(j)->should_run();
    }
    return false;
  }
};
const auto *const k_run_until = ::testing::AddGlobalTestEnvironment(new RunUntilTheNextMinute);

// A screen saver that starts sooner than the interval can keep ahead of:
// run and start say so in one line on stderr, naming the largest safe interval.
class MjctlLockWarning : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &saved_active_, 0));
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &saved_timeout_, 0));
    set(TRUE, 60);
  }
  void TearDown() override { set(saved_active_, (UINT)saved_timeout_); }
  static void set(BOOL active, UINT timeout_s) {
    // Saved, so that mjctl's process reads them too.
    const UINT save = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;
    EXPECT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, timeout_s, nullptr, save));
    EXPECT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, active, nullptr, save));
  }
  BOOL saved_active_ = FALSE;
  int saved_timeout_ = 0;
};

const char k_after_60_s[] = "mjctl: warning: the (screen saver starts|screen locks) after 60 s of inactivity; ";

TEST_F(MjctlLockWarning, RunWarnsOnceNamingTheLargestSafeInterval) {
  struct {
    const char *flags;
    std::string err;  // regular expression for the whole of stderr
  } cases[] = {
      {"--interval 30", std::string(k_after_60_s) +
                            "in only-when-idle mode a nudge can come up to 60 s \\(twice 30 s\\) after your last "
                            "input: choose 25 s or less\n"},
      {"--interval 55 --always", std::string(k_after_60_s) + "nudges every 55 s come too late: choose 50 s or less\n"},
      {"--interval 25", ""},
      {"--interval 50 --always", ""},
  };
  std::vector<std::unique_ptr<Mjctl>> runs;  // side by side
  for (const auto &c : cases) runs.push_back(std::make_unique<Mjctl>(std::string("run --dry-run --for 1 ") + c.flags));
  for (size_t i = 0; i < runs.size(); i++) {
    Mjctl &mjctl = *runs[i];
    ASSERT_EQ(mjctl.finish(), 0) << cases[i].flags << mjctl.err();
    EXPECT_TRUE(std::regex_match(mjctl.err(), std::regex(cases[i].err))) << cases[i].flags << "\nstderr:\n"
                                                                         << mjctl.err();
    EXPECT_EQ(lines_of(mjctl.out())[0].rfind("started: ", 0), 0u) << "the run goes on: " << mjctl.out();
  }
  set(FALSE, 60);  // a screen saver that is off never starts
  Mjctl off("run --dry-run --for 1 --interval 3600");
  ASSERT_EQ(off.finish(), 0);
  EXPECT_EQ(off.err(), "");
}

// ---- Mistyped options inject nothing ---------------------------------------------

DWORD idle_ms() {
  LASTINPUTINFO info = {sizeof info, 0};
  return GetLastInputInfo(&info) ? GetTickCount() - info.dwTime : 0;
}

TEST(MjctlNudge, RefusedOptionsInjectNothing) {
  // Wait for a quiet moment, so that a nudge would show as a reset idle time.
  for (int i = 0; i < 300 && idle_ms() < 1500; i++) Sleep(100);
  DWORD before = idle_ms();
  ASSERT_GE(before, 1500u) << "input keeps coming: cannot tell a nudge";
  for (const char *args : {"nudge --options \"{\\\"dry_run\\\":\\\"yes\\\"}\"", "nudge --options \"{\\\"dx\\\":1e3}\"",
                           "nudge --options \"{\\\"mode\\\":\\\"move\\\",\\\"speed\\\":9}\""}) {
    Mjctl mjctl(args);
    EXPECT_EQ(mjctl.finish(), 2) << args;
    EXPECT_EQ(mjctl.out(), "") << args;
    EXPECT_EQ(mjctl.err().rfind("mjctl: --options: ", 0), 0u) << mjctl.err();
  }
  EXPECT_GE(idle_ms(), before) << "the idle time was reset: something was injected";
}

// ---- Started on its own: a double-click ---------------------------------------

// The text of a console from its first row down to the cursor.
std::string screen_text(HANDLE screen) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screen, &info)) return "";
  std::string text;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; y++) {
    std::string row(info.dwSize.X, ' ');
    DWORD n = 0;
    ReadConsoleOutputCharacterA(screen, &row[0], (DWORD)row.size(), COORD{0, y}, &n);
    size_t end = row.find_last_not_of(' ');
    text += row.substr(0, end == std::string::npos ? 0 : end + 1) + "\n";
  }
  return text;
}

struct alone_result {
  bool exited_early = false;  // ended before anyone looked: it did not wait
  std::string screen;         // its console once looked at
  long exit_code = -1;        // after a key was pressed; -1 if it did not end
};

// Starts mjctl without arguments as Explorer does (a console of its own,
// nothing redirected), looks at its console once it has had settle_ms to
// start, then presses a key.
alone_result start_alone(DWORD settle_ms) {
  alone_result r;
  std::string exe = beside_this_program("mjctl.exe");
  std::string line = "\"" + exe + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  mjw_process_information pi;
  if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si, &pi))
    return r;
  // Attaching makes two processes on its console: only once it has looked.
  if (WaitForSingleObject(pi.hProcess, settle_ms) == WAIT_OBJECT_0) {
    r.exited_early = true;
  } else {
    FreeConsole();
    if (AttachConsole(pi.dwProcessId)) {
      mjw_file screen(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
      mjw_file keys(CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
      for (int i = 0; i < 600; i++) {
        r.screen = screen_text(screen.get());
        if (r.screen.find("press any key to close") != std::string::npos ||
            WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0)
          break;
        Sleep(50);
      }
      INPUT_RECORD key[2] = {};
      for (int i = 0; i < 2; i++) {
        key[i].EventType = KEY_EVENT;
        key[i].Event.KeyEvent.bKeyDown = i == 0;
        key[i].Event.KeyEvent.wRepeatCount = 1;
        key[i].Event.KeyEvent.wVirtualKeyCode = VK_SPACE;
        key[i].Event.KeyEvent.uChar.AsciiChar = ' ';
      }
      DWORD written = 0;
      WriteConsoleInputA(keys.get(), key, 2, &written);
    }
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code))
      r.exit_code = (long)code;
    FreeConsole();
    AllocConsole();  // a console of this program's own again, for the tests after
  }
  if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  return r;
}

TEST(MjctlAlone, WithoutACommandShowsHelpUntilAKey) {
  alone_result r;
  // A slow start may still be on its way when this program looks, and then
  // sees two processes on its console: look again, later.
  for (DWORD settle_ms : {2000, 5000, 15000}) {
    r = start_alone(settle_ms);
    if (r.exited_early || r.screen.find("no command given") == std::string::npos) break;
  }
  ASSERT_FALSE(r.exited_early) << "it did not wait for a key";
  EXPECT_EQ(r.screen.rfind("usage: mjctl COMMAND [FLAGS]\n", 0), 0u) << r.screen;
  EXPECT_NE(r.screen.find("\n2 bad command line.\n\npress any key to close\n"), std::string::npos) << r.screen;
  EXPECT_EQ(r.exit_code, 0) << "a key ends it";
}

// ---- The agent's commands against a stand-in agent -------------------------------

// Serves the agent's pipe from this process, one connection after another:
// each request line goes to the handler, whose text is the reply (with its
// '\n'); kSilent never replies; after kHangUp's reply the pipe closes for good.
class FakeAgent {
 public:
  static constexpr const char *kSilent = "(silent)";
  static constexpr const char *kHangUp = "(hang up)";
  using Handler = std::function<std::string(const std::string &request)>;

  explicit FakeAgent(Handler handler) : handler_(std::move(handler)) {
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(mjw_pipe_security_make(sa_, nullptr));
    wchar_t name[MJW_PIPE_NAME_MAX];
    mjw_pipe_name(name);
    pipe_.reset(CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 16384,
                                 16384, 0, &sa_.attributes));
    EXPECT_TRUE(pipe_) << "another agent serves this session? error " << GetLastError();
    thread_ = std::thread(&FakeAgent::serve, this);
  }

  ~FakeAgent() {
    SetEvent(stop_.get());
    thread_.join();
    close_pipe();
  }

  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> hold(mu_);
    return requests_;
  }

 private:
  Handler handler_;
  mjw_pipe_security sa_;
  mjw_file pipe_;
  mjw_handle stop_;
  std::thread thread_;
  std::mutex mu_;
  std::vector<std::string> requests_;

  void close_pipe() {
    std::lock_guard<std::mutex> hold(mu_);
    pipe_.reset();
  }

  // Waits for an overlapped operation or the stop event; false on stop.
  bool await(OVERLAPPED *ov, BOOL started, DWORD *n) {
    if (!started && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_PIPE_CONNECTED) return false;
    if (!started && GetLastError() == ERROR_PIPE_CONNECTED) return true;
    HANDLE either[2] = {ov->hEvent, stop_.get()};
    if (WaitForMultipleObjects(2, either, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIo(pipe_.get());
      GetOverlappedResult(pipe_.get(), ov, n, TRUE);
      return false;
    }
    return GetOverlappedResult(pipe_.get(), ov, n, TRUE) != 0;
  }

  void serve() {
    mjw_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov = {};
    ov.hEvent = event.get();
    for (bool going = true; going;) {
      DWORD n = 0;
      ResetEvent(ov.hEvent);
      if (!await(&ov, ConnectNamedPipe(pipe_.get(), &ov), &n)) break;
      std::string request;
      char c;
      for (;;) {
        ResetEvent(ov.hEvent);
        if (!await(&ov, ReadFile(pipe_.get(), &c, 1, nullptr, &ov), &n) || n != 1) break;
        request += c;
        if (c == '\n') break;
      }
      {
        std::lock_guard<std::mutex> hold(mu_);
        requests_.push_back(request);
      }
      std::string reply = handler_(request);
      if (reply == kSilent) {
        WaitForSingleObject(stop_.get(), INFINITE);
        break;
      }
      if (reply.rfind(kHangUp, 0) == 0) {
        reply.erase(0, strlen(kHangUp));
        going = false;
      }
      ResetEvent(ov.hEvent);
      if (!await(&ov, WriteFile(pipe_.get(), reply.data(), (DWORD)reply.size(), nullptr, &ov), &n)) break;
      FlushFileBuffers(pipe_.get());
      DisconnectNamedPipe(pipe_.get());
    }
    if (WaitForSingleObject(stop_.get(), 0) != WAIT_OBJECT_0) close_pipe();  // hung up: the pipe is gone
  }
};

// A status reply as an agent gives it, around a status line of the DLL.
std::string status_reply(bool active) {
  std::string run = std::string("{\"active\":") + (active ? "1" : "0") +
                    ",\"mode\":\"move\",\"interval_s\":30,\"dx\":2,\"dy\":2,\"only_when_idle\":1,\"dry_run\":0,"
                    "\"nudges\":4,\"skipped\":1,\"failed\":0,\"idle_s\":3,\"since_last_nudge_s\":12,"
                    "\"next_nudge_in_s\":" +
                    (active ? "18" : "-1") +
                    ",\"running_s\":140,\"last_reset_idle\":1,\"last_method\":\"SendInput move\","
                    "\"platform\":\"windows\",\"mechanism\":\"SendInput\",\"version\":\"1.0.0\"}";
  mjh_agent_state agent = {};
  mjh_options_default(&agent.settings);
  agent.settings.mode = MJ_MODE_MOVE;
  agent.settings.interval_s = 30;
  agent.settings.dx = agent.settings.dy = 2;
  agent.run_on = active;
  agent.keep_awake_held = active;
  agent.last_error = "";
  agent.pid = 4242;
  agent.version = "1.0.0";
  mjh_text_buffer<MJH_REPLY_MAX> buf;
  mjh_reply_status(&agent, run.c_str(), buf);
  EXPECT_TRUE(buf.ok());
  return buf.c_str();
}

// What mjctl status says of a status reply.
std::string sentence_for(const std::string &reply_line) {
  mjh_reply reply;
  if (!mjh_reply_read(reply_line.data(), reply_line.size(), &reply)) return "(not a reply)";
  mjh_text_buffer<512> text;
  mjh_describe_agent_at(&reply, nullptr, 0, text);
  return text.c_str();
}

const std::string k_ok = "{\"ok\":true}\n";

TEST(MjctlAgent, StatusSaysWhatTheAgentDoesOrPrintsItsReply) {
  const std::string reply = status_reply(true);
  FakeAgent agent([&reply](const std::string &) { return reply; });
  Mjctl json("status --json");
  EXPECT_EQ(json.finish(), 0) << json.err();
  EXPECT_EQ(json.out(), reply) << "the reply line unchanged";
  EXPECT_EQ(json.err(), "");

  Mjctl words("status");
  EXPECT_EQ(words.finish(), 0) << words.err();
  EXPECT_EQ(words.out(), sentence_for(reply));
  EXPECT_EQ(lines_of(words.out()).size(), 1u) << words.out();
  EXPECT_EQ(words.err(), "");
  EXPECT_EQ(agent.requests(), std::vector<std::string>(2, "{\"cmd\":\"status\"}\n"));
}

struct start_case {
  const char *flags;
  unsigned keys;  // the keys the start request names
  mjh_options options;
};

// The agent's saved settings the requests apply to: none of them defaults.
const mjh_options k_saved = {MJ_MODE_MOVE, 300, 5, -5, 0, 1, 1};

// What each flag names is tested natively; here the request reaches the agent.
const start_case k_start_cases[] = {
    {"", 0, k_saved},
    {"--always --keep-awake --dry-run --dy 7",
     MJH_KEY_ONLY_WHEN_IDLE | MJH_KEY_KEEP_AWAKE | MJH_KEY_DRY_RUN | MJH_KEY_DY,
     {MJ_MODE_MOVE, 300, 5, 7, 0, 1, 1}},
    {"--options \"{\\\"keep_awake\\\":false,\\\"dry_run\\\":false}\"",
     MJH_KEY_KEEP_AWAKE | MJH_KEY_DRY_RUN,
     {MJ_MODE_MOVE, 300, 5, -5, 0, 0, 0}},
};

class MjctlStart : public ::testing::TestWithParam<start_case> {};

TEST_P(MjctlStart, NamesOnlyTheKeysOfItsFlags) {
  const start_case &c = GetParam();
  const std::string status = status_reply(true);
  FakeAgent agent(
      [&status](const std::string &request) { return request.rfind("{\"cmd\":\"start\"", 0) == 0 ? k_ok : status; });
  Mjctl mjctl(std::string("start ") + c.flags);
  EXPECT_EQ(mjctl.finish(), 0) << mjctl.err();
  EXPECT_EQ(mjctl.out(), sentence_for(status)) << "what the agent now does";
  EXPECT_EQ(mjctl.err(), "");

  std::vector<std::string> requests = agent.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1], "{\"cmd\":\"status\"}\n");
  mjh_request request;
  mjh_text_buffer<256> err;
  ASSERT_TRUE(mjh_request_parse(requests[0].data(), requests[0].size() - 1, &k_saved, &request, &err))
      << requests[0] << err.c_str();
  EXPECT_EQ(request.cmd, MJH_CMD_START);
  EXPECT_EQ(request.given, c.keys) << requests[0];
  EXPECT_EQ(memcmp(&request.options, &c.options, sizeof c.options), 0) << requests[0];
}

INSTANTIATE_TEST_SUITE_P(Table, MjctlStart, ::testing::ValuesIn(k_start_cases));

// The schedule's flags reach the agent as the start request's keys, beside
// the options' keys, in the forms the agent reads back.
TEST(MjctlAgent, StartSendsTheScheduleKeys) {
  struct {
    std::string flags;
    unsigned keys, schedule_keys;
    const char *hours, *days;
    int64_t for_s;
    int until_minute;
    std::string said;  // stdout before the agent's sentence
  } cases[] = {
      {"--hours 08:30-12:00,13:00-17:30 --days mon-fri", 0, MJH_SCHED_KEY_HOURS | MJH_SCHED_KEY_DAYS,
       "08:30-12:00,13:00-17:30", "mon-fri", 0, 0, ""},
      {"--until 24:00 --days sat,sun", 0, MJH_SCHED_KEY_UNTIL | MJH_SCHED_KEY_DAYS, "any", "sat,sun", 0, 1440,
       "session until 24:00\n"},
      {"--options \"{\\\"dx\\\":3,\\\"hours\\\":\\\"22:00-06:00\\\"}\" --days fri", MJH_KEY_DX,
       MJH_SCHED_KEY_HOURS | MJH_SCHED_KEY_DAYS, "22:00-06:00", "fri", 0, 0, ""},
  };
  // A time already past today is tomorrow's, and mjctl says so.
  const std::string past = local_clock(-2);
  if (past < "23:50" && past > "00:10")
    cases[0] = {"--until " + past,
                0,
                MJH_SCHED_KEY_UNTIL,
                "any",
                "all",
                0,
                std::stoi(past.substr(0, 2)) * 60 + std::stoi(past.substr(3)),
                "session until " + past + " tomorrow\n"};
  const std::string status = status_reply(true);
  for (const auto &c : cases) {
    FakeAgent agent(
        [&status](const std::string &request) { return request.rfind("{\"cmd\":\"start\"", 0) == 0 ? k_ok : status; });
    Mjctl mjctl("start " + c.flags);
    EXPECT_EQ(mjctl.finish(), 0) << c.flags << mjctl.err();
    EXPECT_EQ(mjctl.out(), c.said + sentence_for(status)) << c.flags;
    EXPECT_EQ(mjctl.err(), "") << c.flags;
    std::vector<std::string> requests = agent.requests();
    ASSERT_EQ(requests.size(), 2u) << c.flags;
    mjh_request request;
    mjh_text_buffer<256> err;
    ASSERT_TRUE(mjh_request_parse(requests[0].data(), requests[0].size() - 1, &k_saved, &request, &err))
        << requests[0] << err.c_str();
    EXPECT_EQ(request.given, c.keys) << requests[0];
    EXPECT_EQ(request.schedule.given, c.schedule_keys) << requests[0];
    mjh_text_buffer<MJH_HOURS_TEXT_MAX> hours;
    mjh_hours_text(&request.schedule.hours, hours);
    EXPECT_STREQ(hours.c_str(), c.hours) << requests[0];
    mjh_text_buffer<MJH_DAYS_TEXT_MAX> days;
    mjh_days_text(request.schedule.hours.days, days);
    EXPECT_STREQ(days.c_str(), c.days) << requests[0];
    EXPECT_EQ(request.schedule.for_s, c.for_s) << requests[0];
    EXPECT_EQ(request.schedule.until_minute, c.until_minute) << requests[0];
  }
}

// The agent's schedule in mjctl status, its times in this computer's zone;
// start warns when the agent's interval cannot keep ahead of the lock.
TEST(MjctlAgent, StatusSaysTheScheduleAndWhyTheRunStopped) {
  const int64_t now = mjw_now_utc();
  mjh_hours hours;
  mjh_hours_none(&hours);
  ASSERT_TRUE(mjh_hours_parse("08:30-12:00,13:00-17:30", &hours, nullptr));
  ASSERT_TRUE(mjh_days_parse("mon-fri", &hours.days, nullptr));
  mjh_session session = {MJH_SESSION_FOR, now, now + 3 * 86400};
  mjh_decision d = {};
  d.action = MJH_SCHED_WAIT;
  d.next_start = now + 2 * 86400;
  mjh_text_buffer<512> schedule;
  mjh_schedule_json(&hours, &session, &d, "locks after 60 s: use 25 s or less", schedule);
  ASSERT_TRUE(schedule.ok());
  std::string reply = status_reply(false);
  reply.replace(reply.rfind("}}"), 2,
                std::string(",\"schedule\":") + schedule.c_str() + ",\"stopped_because\":\"outside working hours\"}}");
  FakeAgent agent([&reply](const std::string &) { return reply; });
  Mjctl mjctl("status");
  EXPECT_EQ(mjctl.finish(), 0) << mjctl.err();

  mjh_reply read;
  ASSERT_TRUE(mjh_reply_read(reply.data(), reply.size(), &read)) << reply;
  ASSERT_EQ(read.has_schedule, 1) << reply;
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  mjh_text_buffer<1024> want;
  mjh_describe_agent_at(&read, &zone, now, want);
  EXPECT_EQ(mjctl.out(), want.c_str());
  EXPECT_TRUE(std::regex_match(mjctl.out(),
                               std::regex("agent 1\\.0\\.0 \\(pid 4242\\): stopped \\(outside working hours\\); set to "
                                          ".*; working hours mon-fri 08:30-12:00,13:00-17:30: outside, next start "
                                          "[A-Z][a-z][a-z] [0-9][0-9]:[0-9][0-9]; session ends [A-Z][a-z][a-z] "
                                          "[0-9][0-9]:[0-9][0-9]; warning: locks after 60 s: use 25 s or less\n")))
      << mjctl.out();
}

TEST_F(MjctlLockWarning, StartWarnsForTheAgentsInterval) {
  const std::string status = status_reply(true);  // zen every 30 s, only when idle
  FakeAgent agent(
      [&status](const std::string &request) { return request.rfind("{\"cmd\":\"start\"", 0) == 0 ? k_ok : status; });
  Mjctl mjctl("start");
  EXPECT_EQ(mjctl.finish(), 0) << mjctl.err();
  EXPECT_EQ(mjctl.out(), sentence_for(status));
  EXPECT_TRUE(std::regex_match(mjctl.err(), std::regex(std::string(k_after_60_s) + ".*: choose 25 s or less\n")))
      << mjctl.err();
}

TEST(MjctlAgent, StopSaysWhatTheAgentNowDoes) {
  const std::string status = status_reply(false);
  FakeAgent agent([&status](const std::string &request) { return request == "{\"cmd\":\"stop\"}\n" ? k_ok : status; });
  Mjctl mjctl("stop");
  EXPECT_EQ(mjctl.finish(), 0) << mjctl.err();
  EXPECT_EQ(mjctl.out(), sentence_for(status));
  EXPECT_EQ(agent.requests(), (std::vector<std::string>{"{\"cmd\":\"stop\"}\n", "{\"cmd\":\"status\"}\n"}));
}

// A stand-in agent in a process of its own, as the real one is: this program
// again, running only this test, with kFakeAgentVariable set. It answers a
// quit, closes its pipe, and lives on for kLingerMs before it ends, as an
// agent may that still has things to let go of after its pipe is gone.
const DWORD kLingerMs = 2000;

TEST(FakeAgentProcess, AnswersAQuitAndLingers) {
  if (!std::getenv(kFakeAgentVariable)) GTEST_SKIP() << "run only as the stand-in agent's process";
  {
    FakeAgent agent([](const std::string &) { return std::string(FakeAgent::kHangUp) + k_ok; });
    for (int i = 0; i < 600 && mjw_pipe_exists(); i++) Sleep(100);  // until the quit has closed it
    EXPECT_EQ(agent.requests(), std::vector<std::string>{"{\"cmd\":\"quit\"}\n"});
  }
  Sleep(kLingerMs);
}

TEST(MjctlAgent, QuitWaitsUntilTheAgentsProcessHasEnded) {
  std::string exe = beside_this_program("mjctl_tests.exe");
  std::string line = "\"" + exe + "\" --gtest_filter=FakeAgentProcess.* --gtest_brief=1";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  ASSERT_TRUE(SetEnvironmentVariableA(kFakeAgentVariable, "1"));
  // The child runs the one test it is given, whatever share of the tests this
  // run has (taken from these when it began).
  SetEnvironmentVariableA("GTEST_TOTAL_SHARDS", nullptr);
  SetEnvironmentVariableA("GTEST_SHARD_INDEX", nullptr);
  struct Child {
    mjw_process_information pi;
    ~Child() {
      if (pi.hProcess && WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    }
  } child;
  BOOL started = CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &child.pi);
  DWORD error = GetLastError();
  SetEnvironmentVariableA(kFakeAgentVariable, nullptr);
  ASSERT_TRUE(started) << error;
  const PROCESS_INFORMATION &pi = child.pi;
  bool serving = false;
  for (int i = 0; i < 600 && !serving && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; i++) {
    serving = mjw_pipe_exists();
    if (!serving) Sleep(100);
  }
  ASSERT_TRUE(serving) << "the stand-in agent did not come up";

  Mjctl mjctl("quit");
  EXPECT_EQ(mjctl.finish(), 0) << mjctl.err();
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), (DWORD)WAIT_OBJECT_0)
      << "mjctl returned while the agent's process was still running";
  EXPECT_EQ(mjctl.out(), "the agent has stopped its run and quit\n");
  EXPECT_EQ(mjctl.err(), "");
  DWORD code = 99;
  if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code)) {
    EXPECT_EQ(code, 0u) << "the stand-in agent saw another request than one quit";
  }
}

TEST(MjctlAgent, QuitGivesUpOnAnAgentThatStays) {
  FakeAgent agent([](const std::string &) { return k_ok; });
  Mjctl mjctl("quit");
  EXPECT_EQ(mjctl.finish(), 1);
  EXPECT_EQ(mjctl.out(), "");
  EXPECT_EQ(mjctl.err(), "mjctl: the agent said it would quit, but its process (pid " +
                             std::to_string(GetCurrentProcessId()) + ") is still running after 10 s\n");
}

struct failure_case {
  const char *args;
  const char *reply;  // to every request
  const char *err;    // the whole of stderr
};

const failure_case k_failure_cases[] = {
    {"start", "{\"ok\":false,\"error\":\"the DLL did not start the run: no desktop\"}\n",
     "mjctl: the agent refused: the DLL did not start the run: no desktop\n"},
    {"stop", "{\"ok\":false,\"error\":\"busy\"}\n", "mjctl: the agent refused: busy\n"},
    {"quit", "{\"ok\":false,\"error\":\"busy\"}\n", "mjctl: the agent refused: busy\n"},
    {"status", "{\"ok\":false,\"error\":\"busy\"}\n", "mjctl: the agent refused: busy\n"},
    {"status", "hello\n", "mjctl: the agent's reply is not understood: hello\n"},
    {"status --json", "{\"ok\":1}\n", "mjctl: the agent's reply is not understood: {\"ok\":1}\n"},
    {"status", "{\"ok\":true}\n", "mjctl: the agent's status reply is not understood: {\"ok\":true}\n"},
    {"status", FakeAgent::kSilent, "mjctl: the agent did not reply within 5000 ms\n"},
    {"start --dry-run", FakeAgent::kSilent, "mjctl: the agent did not reply within 5000 ms\n"},
    {"stop", "{\"ok\":tr", "mjctl: the agent closed the connection without a whole reply\n"},
    {"quit", "(hang up)", "mjctl: the agent closed the connection without a whole reply\n"},
};

class MjctlAgentFails : public ::testing::TestWithParam<failure_case> {};

TEST_P(MjctlAgentFails, SaysWhyAndExitsWith1) {
  const failure_case &c = GetParam();
  FakeAgent agent([&c](const std::string &) {
    return strcmp(c.reply, "{\"ok\":tr") == 0 ? std::string(FakeAgent::kHangUp) + c.reply : std::string(c.reply);
  });
  Mjctl mjctl(c.args);
  EXPECT_EQ(mjctl.finish(), 1) << c.args;
  EXPECT_EQ(mjctl.out(), "") << c.args;
  EXPECT_EQ(mjctl.err(), c.err) << c.args;
}

INSTANTIATE_TEST_SUITE_P(Table, MjctlAgentFails, ::testing::ValuesIn(k_failure_cases));

TEST(MjctlAgent, RunNotesAnActiveAgentRunAndGoesOn) {
  for (bool active : {true, false}) {
    const std::string status = status_reply(active);
    FakeAgent agent([&status](const std::string &) { return status; });
    Mjctl mjctl("run --dry-run --always --interval 1 --for 1");
    EXPECT_EQ(mjctl.finish(), 0) << mjctl.err();
    EXPECT_EQ(lines_of(mjctl.out()).front(),
              "started: zen nudges every 1 s, also while the user is active, dry run (nothing injected)");
    EXPECT_EQ(mjctl.err(),
              active ? "mjctl: note: this session's agent is running nudges too; this run goes on beside it\n" : "");
  }
}

// The note comes before the run's lines, also into a pipe, and says that a
// run that nudges only when idle counts the agent's nudges as input.
TEST(MjctlAgent, RunNotesAnActiveAgentBeforeItsRun) {
  const std::string status = status_reply(true);
  FakeAgent agent([&status](const std::string &) { return status; });
  Mjctl mjctl("run --dry-run --interval 1 --for 60");
  EXPECT_TRUE(mjctl.error_while_running(
      "mjctl: note: this session's agent is running nudges too; this run goes on beside it, and counts the agent's "
      "nudges as input\n"))
      << "stderr: " << mjctl.err();
}

// Another program that serves the agent's pipe and hangs up is not an agent
// that is ending: start says so at once, and starts nothing.
TEST(MjctlAgent, StartSaysWhenAnotherProgramHoldsTheAgentsPipe) {
  FakeAgent agent([](const std::string &) { return std::string(FakeAgent::kHangUp); });
  Mjctl start("start");
  EXPECT_EQ(start.finish(), 1);
  EXPECT_EQ(start.out(), "");
  EXPECT_EQ(start.err(), "mjctl: process " + std::to_string(GetCurrentProcessId()) +
                             " (mjctl_tests.exe) holds the agent's pipe: no agent was started\n");
}

TEST(MjctlAgent, StartWithoutAnAgentBesideIt) {
  // mjctl and the DLL alone in a folder of their own.
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + "mjctl-alone-" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  for (const char *file : {"mjctl.exe", "veltrano-mouse-jiggler.dll"})
    ASSERT_TRUE(CopyFileA(beside_this_program(file).c_str(), (folder + "\\" + file).c_str(), FALSE)) << file;

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  mjw_handle err_r, err_w;
  ASSERT_TRUE(CreatePipe(err_r.receive(), err_w.receive(), &inherit, 0));
  SetHandleInformation(err_r.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdError = err_w.get();
  mjw_process_information pi;
  std::string exe = folder + "\\mjctl.exe", line = "\"" + exe + "\" start";
  ASSERT_TRUE(CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  err_w.reset();  // the child's copy alone: its end ends the reading
  std::string err;
  char buf[512];
  DWORD n;
  while (ReadFile(err_r.get(), buf, sizeof buf, &n, nullptr) && n > 0) err.append(buf, n);
  DWORD code = 99;
  WaitForSingleObject(pi.hProcess, 60000);
  GetExitCodeProcess(pi.hProcess, &code);
  pi.reset();
  for (const char *file : {"mjctl.exe", "veltrano-mouse-jiggler.dll"}) DeleteFileA((folder + "\\" + file).c_str());
  RemoveDirectoryA(folder.c_str());

  EXPECT_EQ(code, 1u);
  EXPECT_EQ(
      std::regex_replace(err, std::regex("\r\n"), "\n"),
      "mjctl: no agent is running, and there is no mjtray.exe beside mjctl to start: " + folder + "\\mjtray.exe\n");
}

// start tells the interval warning once, on stderr, where the sentence would
// repeat it; status keeps it at the end of its sentence.
TEST_F(MjctlLockWarning, StartSaysTheWarningOnceOnStderr) {
  mjh_hours hours;
  mjh_hours_none(&hours);
  mjh_session session = {MJH_SESSION_NONE, 0, MJH_NO_TIME};
  mjh_decision d = {};
  d.action = MJH_SCHED_RUN;
  d.next_start = MJH_NO_TIME;
  mjh_text_buffer<512> schedule;
  mjh_schedule_json(&hours, &session, &d, "the screen saver starts after 60 s: use 25 s or less", schedule);
  ASSERT_TRUE(schedule.ok());
  std::string status = status_reply(true);  // zen every 30 s, only when idle: unsafe under 60 s
  status.replace(status.rfind("}}"), 2, std::string(",\"schedule\":") + schedule.c_str() + "}}");
  FakeAgent agent(
      [&status](const std::string &request) { return request.rfind("{\"cmd\":\"start\"", 0) == 0 ? k_ok : status; });

  Mjctl start("start");
  EXPECT_EQ(start.finish(), 0) << start.err();
  EXPECT_EQ(start.out().find("warning"), std::string::npos) << start.out();
  EXPECT_EQ(start.out().rfind("agent 1.0.0 (pid 4242): active, ", 0), 0u) << start.out();
  EXPECT_TRUE(std::regex_match(start.err(), std::regex(std::string(k_after_60_s) + ".*: choose 25 s or less\n")))
      << start.err();
  EXPECT_EQ(lines_of(start.err()).size(), 1u) << start.err();

  Mjctl now("status");
  EXPECT_EQ(now.finish(), 0) << now.err();
  EXPECT_NE(now.out().find("; warning: the screen saver starts after 60 s: use 25 s or less\n"), std::string::npos)
      << now.out();
  EXPECT_EQ(now.err(), "");
}

// A pipe of the old name (the session's alone, as anyone could take it) is
// not this user's agent: mjctl neither asks it nor trusts it.
TEST(MjctlAgent, APipeOfTheOldNameIsNotTheAgent) {
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  std::wstring old_name = L"\\\\.\\pipe\\veltrano-mouse-jiggler-" + std::to_wstring(session);
  mjw_file squatter(CreateNamedPipeW(old_name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr));
  ASSERT_TRUE(squatter) << GetLastError();
  Mjctl status("status");
  EXPECT_EQ(status.finish(), 1);
  EXPECT_EQ(status.err(), "mjctl: no agent is running in this session (mjctl start starts one)\n");
  Mjctl quit("quit --wait");
  EXPECT_EQ(quit.finish(), 0) << quit.err();
  EXPECT_EQ(quit.out() + quit.err(), "");
}

// ---- The organization's policies ------------------------------------------------

struct policy_value {
  const char *root;  // "HKLM" or "HKCU"
  const char *name, *type, *data;
};

struct policy_case {
  policy_value values[2];  // root null: none
  const char *args;
  bool agent;  // a stand-in agent serves the pipe
  long exit_code;
  const char *out;   // regular expression for the whole of stdout
  const char *err;   // ...and of stderr
  bool agent_asked;  // a request reached the stand-in agent
};

#define NO_VALUE \
  { nullptr, nullptr, nullptr, nullptr }
#define POLICY_REFUSED(message) 1, "", "mjctl: " message "\n", false
// A run's stderr: the lock warning of the prefix's settings, if any.
#define RUN_ERR "(mjctl: warning: .*\n)?"
#define OFF "turned off by your organization \\(policy Allowed\\)"
#define MAX_30 "the interval is limited to 30 s by your organization's policy MaxIntervalSeconds"
#define HOURS_SET "working hours are set by your organization's policy WorkingHours"

const policy_case k_policy_cases[] = {
    // Allowed: 0 refuses run, nudge and start, nothing else.
    {{{"HKCU", "Allowed", "REG_DWORD", "0"}, NO_VALUE}, "run --dry-run --for 1", false, POLICY_REFUSED(OFF)},
    {{{"HKCU", "Allowed", "REG_DWORD", "0"}, NO_VALUE}, "nudge --dry-run", false, POLICY_REFUSED(OFF)},
    {{{"HKCU", "Allowed", "REG_DWORD", "0"}, NO_VALUE}, "start", true, POLICY_REFUSED(OFF)},
    {{{"HKLM", "Allowed", "REG_DWORD", "0"}, NO_VALUE}, "start --interval 30 --hours any", true, POLICY_REFUSED(OFF)},
    {{{"HKCU", "Allowed", "REG_DWORD", "0"}, NO_VALUE}, "idle", false, 0, "[0-9]+\n", "", false},
    {{{"HKCU", "Allowed", "REG_DWORD", "0"}, NO_VALUE},
     "status",
     true,
     0,
     "agent 1\\.0\\.0 \\(pid 4242\\): .*\n",
     "",
     true},
    {{{"HKCU", "Allowed", "REG_DWORD", "0"}, NO_VALUE},
     "run --interval 1.5",
     false,
     2,
     "",
     "mjctl: --interval needs a whole number of seconds from 1 to 3600, not \"1\\.5\"\ntry: mjctl --help\n",
     false},
    // The machine's value wins; a damaged one counts as not set.
    {{{"HKLM", "Allowed", "REG_DWORD", "1"}, {"HKCU", "Allowed", "REG_DWORD", "0"}},
     "nudge --dry-run",
     false,
     0,
     "nudge: dry-run, nothing injected\n",
     "",
     false},
    {{{"HKLM", "Allowed", "REG_SZ", "0"}, {"HKCU", "Allowed", "REG_DWORD", "7"}},
     "nudge --dry-run",
     false,
     0,
     "nudge: dry-run, nothing injected\n",
     "",
     false},
    // MaxIntervalSeconds: a longer interval is refused; run's default is capped.
    {{{"HKCU", "MaxIntervalSeconds", "REG_DWORD", "30"}, NO_VALUE},
     "run --dry-run --for 1 --interval 31",
     false,
     POLICY_REFUSED(MAX_30)},
    {{{"HKCU", "MaxIntervalSeconds", "REG_DWORD", "30"}, NO_VALUE},
     "run --for 1 --options \"{\\\"interval_s\\\":31,\\\"dry_run\\\":true}\"",
     false,
     POLICY_REFUSED(MAX_30)},
    {{{"HKCU", "MaxIntervalSeconds", "REG_DWORD", "30"}, NO_VALUE},
     "start --interval 31",
     true,
     POLICY_REFUSED(MAX_30)},
    {{{"HKCU", "MaxIntervalSeconds", "REG_DWORD", "30"}, NO_VALUE},
     "run --dry-run --for 1 --json",
     false,
     0,
     "\\{\"active\":1,\"mode\":\"zen\",\"interval_s\":30,[\\s\\S]*",
     RUN_ERR,
     false},
    {{{"HKCU", "MaxIntervalSeconds", "REG_DWORD", "30"}, NO_VALUE},
     "run --dry-run --for 1 --json --interval 20",
     false,
     0,
     "\\{\"active\":1,\"mode\":\"zen\",\"interval_s\":20,[\\s\\S]*",
     RUN_ERR,
     false},
    {{{"HKLM", "MaxIntervalSeconds", "REG_DWORD", "30"}, {"HKCU", "MaxIntervalSeconds", "REG_DWORD", "3600"}},
     "run --dry-run --for 1 --interval 31",
     false,
     POLICY_REFUSED(MAX_30)},
    {{{"HKLM", "MaxIntervalSeconds", "REG_DWORD", "3600"}, {"HKCU", "MaxIntervalSeconds", "REG_DWORD", "30"}},
     "run --dry-run --for 1 --json --interval 31",
     false,
     0,
     "\\{\"active\":1,\"mode\":\"zen\",\"interval_s\":31,[\\s\\S]*",
     RUN_ERR,
     false},
    // KeepAwake: 0 refuses it, 1 forces it on for run.
    {{{"HKCU", "KeepAwake", "REG_DWORD", "0"}, NO_VALUE},
     "run --dry-run --for 1 --keep-awake",
     false,
     POLICY_REFUSED("keep-awake is turned off by your organization's policy KeepAwake")},
    {{{"HKLM", "KeepAwake", "REG_DWORD", "0"}, NO_VALUE},
     "start --keep-awake",
     true,
     POLICY_REFUSED("keep-awake is turned off by your organization's policy KeepAwake")},
    {{{"HKCU", "KeepAwake", "REG_DWORD", "1"}, NO_VALUE},
     "run --dry-run --for 1",
     false,
     0,
     "started: .*\nkeeping the system and display on while the run is active\n[\\s\\S]*",
     RUN_ERR,
     false},
    {{{"HKCU", "KeepAwake", "REG_DWORD", "1"}, NO_VALUE},
     "run --for 1 --options \"{\\\"keep_awake\\\":false,\\\"dry_run\\\":true}\"",
     false,
     POLICY_REFUSED("keep-awake is turned on by your organization's policy KeepAwake")},
    // Working hours set by policy: start may not set its own.
    {{{"HKCU", "WorkingHours", "REG_SZ", "09:00-17:00"}, NO_VALUE},
     "start --hours 08:00-12:00",
     true,
     POLICY_REFUSED(HOURS_SET)},
    {{{"HKLM", "WorkingHours", "REG_SZ", "09:00-17:00"}, {"HKLM", "WorkingDays", "REG_SZ", "mon-fri"}},
     "start --days sat,sun",
     true,
     POLICY_REFUSED(HOURS_SET)},
    {{{"HKCU", "WorkingHours", "REG_SZ", "09:00-17:00"}, NO_VALUE},
     "start --options \"{\\\"hours\\\":\\\"any\\\"}\"",
     true,
     POLICY_REFUSED(HOURS_SET)},
    {{{"HKCU", "WorkingHours", "REG_SZ", "09:00-17:00"}, NO_VALUE},
     "start --for 1h",
     true,
     0,
     "agent 1\\.0\\.0 \\(pid 4242\\): .*\n",
     "(mjctl: warning: .*\n)?",
     true},
};

// The values as reg.exe stores them, written by this process: one process
// fewer per value and per key removed.
LSTATUS store_policy(const policy_value &v) {
  HKEY root = strcmp(v.root, "HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  if (strcmp(v.type, "REG_DWORD") == 0) {
    const DWORD number = strtoul(v.data, nullptr, 10);
    return RegSetKeyValueA(root, k_policy_key, v.name, REG_DWORD, &number, sizeof number);
  }
  return RegSetKeyValueA(root, k_policy_key, v.name, REG_SZ, v.data, static_cast<DWORD>(strlen(v.data) + 1));
}

void forget_policies() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    RegDeleteTreeA(root, k_policy_key);
    RegDeleteKeyA(root, k_policy_key);
  }
}

class MjctlPolicy : public ::testing::TestWithParam<policy_case> {
 protected:
  void SetUp() override { forget_policies(); }
  void TearDown() override { forget_policies(); }
};

TEST_P(MjctlPolicy, RefusesWhatThePolicyForbids) {
  const policy_case &c = GetParam();
  for (const policy_value &v : c.values) {
    if (!v.root) continue;
    ASSERT_EQ(store_policy(v), ERROR_SUCCESS) << v.name;
  }
  const std::string status = status_reply(false);
  std::unique_ptr<FakeAgent> agent;
  if (c.agent)
    agent = std::make_unique<FakeAgent>(
        [&status](const std::string &request) { return request.rfind("{\"cmd\":\"start\"", 0) == 0 ? k_ok : status; });
  Mjctl mjctl(c.args);
  EXPECT_EQ(mjctl.finish(), c.exit_code) << c.args << "\n" << mjctl.err();
  EXPECT_TRUE(std::regex_match(mjctl.out(), std::regex(c.out))) << c.args << "\nstdout:\n" << mjctl.out();
  EXPECT_TRUE(std::regex_match(mjctl.err(), std::regex(c.err))) << c.args << "\nstderr:\n" << mjctl.err();
  if (agent) {
    EXPECT_EQ(!agent->requests().empty(), c.agent_asked) << c.args;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, MjctlPolicy, ::testing::ValuesIn(k_policy_cases));

// ---- The real agent: mjtray.exe, started by mjctl from its folder ----------------

// The agent's status reply, read straight from its pipe.
bool agent_status(mjh_reply *reply, std::string *line = nullptr) {
  char buf[MJH_REPLY_MAX + 1];
  if (mjw_pipe_call("{\"cmd\":\"status\"}\n", buf, sizeof buf, 10000, nullptr, nullptr) != MJW_CALL_OK) return false;
  if (line) *line = buf;
  return mjh_reply_read(buf, strlen(buf), reply) && reply->ok && reply->has_run;
}

// Polls the agent until its reply satisfies done; false after a minute.
bool agent_until(const std::function<bool(const mjh_reply &)> &done, mjh_reply *last) {
  for (int i = 0; i < 300; i++) {
    if (agent_status(last) && done(*last)) return true;
    Sleep(200);
  }
  return false;
}

class RealAgent : public ::testing::Test {
 protected:
  // Each test starts from the agent's defaults: the settings an earlier
  // test (or an earlier run in this prefix) saved would change its answers.
  void SetUp() override {
    ASSERT_EQ(Mjctl("quit").finish(), 0) << "an agent that does not quit";
    ASSERT_FALSE(mjw_pipe_exists());
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Veltrano\\Mouse Jiggler");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Veltrano\\Mouse Jiggler");
  }

  // Whatever happened, no agent outlives the test.
  void TearDown() override {
    mjh_reply reply;
    DWORD pid = agent_status(&reply) ? (DWORD)reply.pid : 0;
    Mjctl("quit").finish();
    if (pid && mjw_pipe_exists()) {
      mjw_handle agent(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
      if (agent) TerminateProcess(agent.get(), 99);
    }
  }

  static std::string image_of(HANDLE process) {
    char path[MAX_PATH];
    DWORD n = sizeof path;
    return QueryFullProcessImageNameA(process, 0, path, &n) ? std::string(path, n) : "";
  }
};

TEST_F(RealAgent, StartStatusStopAndQuit) {
  Mjctl start("start --mode move --dx 3 --dy 3 --interval 1 --always --dry-run");
  ASSERT_EQ(start.finish(), 0) << start.err();
  EXPECT_EQ(lines_of(start.out()).size(), 1u) << start.out();
  EXPECT_EQ(start.err(), "");

  // mjtray.exe from mjctl's folder serves the pipe and runs what start named.
  mjh_reply reply;
  ASSERT_TRUE(agent_status(&reply));
  mjw_handle agent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, (DWORD)reply.pid));
  ASSERT_TRUE(agent);
  EXPECT_EQ(_stricmp(image_of(agent.get()).c_str(), beside_this_program("mjtray.exe").c_str()), 0)
      << image_of(agent.get());
  EXPECT_TRUE(reply.run.active);
  EXPECT_TRUE(reply.run_on);
  EXPECT_EQ(reply.run.mode, MJ_MODE_MOVE);
  EXPECT_EQ(reply.run.interval_s, 1);
  EXPECT_EQ(reply.run.dx, 3);
  EXPECT_EQ(reply.run.only_when_idle, 0);
  EXPECT_EQ(reply.run.dry_run, 1);
  EXPECT_TRUE(agent_until([](const mjh_reply &r) { return r.run.nudges >= 1; }, &reply)) << "no nudge";
  unsigned long pid = reply.pid;

  Mjctl status("status");
  EXPECT_EQ(status.finish(), 0) << status.err();
  EXPECT_EQ(lines_of(status.out()).size(), 1u) << status.out();
  Mjctl json("status --json");
  EXPECT_EQ(json.finish(), 0) << json.err();
  mjh_reply from_json;
  std::string json_line = json.out();
  EXPECT_TRUE(mjh_reply_read(json_line.data(), json_line.size(), &from_json)) << json_line;
  EXPECT_EQ(from_json.pid, pid);

  Mjctl beside("run --dry-run --for 1");
  EXPECT_EQ(beside.finish(), 0) << beside.err();
  EXPECT_EQ(beside.err(),
            "mjctl: note: this session's agent is running nudges too; this run goes on beside it, and counts the "
            "agent's nudges as input\n");

  Mjctl stop("stop");
  EXPECT_EQ(stop.finish(), 0) << stop.err();
  EXPECT_EQ(lines_of(stop.out()).size(), 1u) << stop.out();
  ASSERT_TRUE(agent_status(&reply));
  EXPECT_FALSE(reply.run.active);
  EXPECT_FALSE(reply.run_on);

  // A start without flags resumes the settings; flags change only their keys.
  Mjctl resume("start");
  EXPECT_EQ(resume.finish(), 0) << resume.err();
  ASSERT_TRUE(agent_status(&reply));
  EXPECT_TRUE(reply.run.active);
  EXPECT_EQ(reply.run.mode, MJ_MODE_MOVE);
  EXPECT_EQ(reply.run.interval_s, 1);
  EXPECT_EQ(reply.run.dx, 3);
  EXPECT_EQ(reply.run.only_when_idle, 0);
  EXPECT_EQ(reply.run.dry_run, 1);
  Mjctl idle_only("start --idle-only --interval 2");
  EXPECT_EQ(idle_only.finish(), 0) << idle_only.err();
  ASSERT_TRUE(agent_status(&reply));
  EXPECT_EQ(reply.run.only_when_idle, 1);
  EXPECT_EQ(reply.run.interval_s, 2);
  EXPECT_EQ(reply.run.dx, 3);
  EXPECT_EQ(reply.pid, pid) << "one agent: a start does not start another";

  Mjctl quit("quit");
  EXPECT_EQ(quit.finish(), 0) << quit.err();
  EXPECT_EQ(quit.out(), "the agent has stopped its run and quit\n");
  EXPECT_FALSE(mjw_pipe_exists());
  EXPECT_EQ(WaitForSingleObject(agent.get(), 0), (DWORD)WAIT_OBJECT_0)
      << "quit returned before the agent's process ended";
  agent.reset();
  Mjctl after("status");
  EXPECT_EQ(after.finish(), 1);
  EXPECT_EQ(after.err(), "mjctl: no agent is running in this session (mjctl start starts one)\n");
}

// The conditions from the command line: the agent keeps them, waits for
// what they ask for, and says so; any clears the program list.
TEST_F(RealAgent, StartSetsTheConditionsAndStatusNamesWhatHoldsTheRunBack) {
  Mjctl start("start --dry-run --while-running mj-no-such-1.exe,mj-no-such-2 --foreground --battery-floor 20");
  ASSERT_EQ(start.finish(), 0) << start.err();
  EXPECT_TRUE(
      std::regex_search(start.out(), std::regex(": waiting for mj-no-such-1\\.exe or mj-no-such-2\\.exe; set to "
                                                ".*; while mj-no-such-1\\.exe or mj-no-such-2\\.exe run in "
                                                "the foreground; stops below 20 % battery")))
      << start.out();
  mjh_reply reply;
  ASSERT_TRUE(agent_status(&reply));
  EXPECT_FALSE(reply.run.active);
  EXPECT_STREQ(reply.state, "waiting");
  EXPECT_STREQ(reply.while_running, "mj-no-such-1.exe,mj-no-such-2.exe");
  EXPECT_TRUE(reply.foreground);
  EXPECT_EQ(reply.battery_floor, 20);

  Mjctl any("start --while-running any --battery-floor 0 --on-ac-only");
  ASSERT_EQ(any.finish(), 0) << any.err();
  ASSERT_TRUE(agent_status(&reply));
  EXPECT_STREQ(reply.while_running, "");
  EXPECT_EQ(reply.battery_floor, 0);
  EXPECT_TRUE(reply.ac_only);
  EXPECT_TRUE(reply.run.active) << "Wine's computer runs on mains power";
  EXPECT_NE(any.out().find("; only on mains power"), std::string::npos) << any.out();
  Mjctl quit("quit");
  EXPECT_EQ(quit.finish(), 0) << quit.err();
}

// quit returns once the agent's process has ended: a start right after it
// starts a new agent (one that finds the old one still ending waits for it),
// and that one answers with its run active.
TEST_F(RealAgent, QuitThenStartAtOnceFiveTimesOver) {
  Mjctl first("start --dry-run --always --interval 1");
  ASSERT_EQ(first.finish(), 0) << first.err();
  mjh_reply reply;
  ASSERT_TRUE(agent_status(&reply));
  unsigned long previous = reply.pid;
  for (int round = 1; round <= 5; round++) {
    Mjctl quit("quit");
    ASSERT_EQ(quit.finish(), 0) << "round " << round << ": " << quit.err();
    EXPECT_EQ(quit.out(), "the agent has stopped its run and quit\n");
    Mjctl start("start");
    ASSERT_EQ(start.finish(), 0) << "round " << round << ": " << start.err();
    EXPECT_TRUE(std::regex_search(start.out(), std::regex("^agent [0-9.]+ \\(pid [0-9]+\\): active, ")))
        << "round " << round << ": " << start.out();
    ASSERT_TRUE(agent_status(&reply)) << "round " << round;
    EXPECT_TRUE(reply.run.active) << "round " << round;
    EXPECT_EQ(reply.run.dry_run, 1) << "the saved settings";
    EXPECT_NE(reply.pid, previous) << "round " << round << ": not a new agent";
    previous = reply.pid;
  }
}

// A start right behind a quit meets the agent as it ends (its reply that it
// is shutting down, a closed connection, or no pipe): it waits for the old
// process and starts a new agent, which runs afterwards.
TEST_F(RealAgent, AStartRightBehindAQuitStartsANewAgent) {
  Mjctl first("start --dry-run --always --interval 1");
  ASSERT_EQ(first.finish(), 0) << first.err();
  mjh_reply reply;
  ASSERT_TRUE(agent_status(&reply));
  for (int round = 1; round <= 3; round++) {
    unsigned long old_pid = reply.pid;
    char line[MJH_REPLY_MAX + 1];
    ASSERT_EQ(mjw_pipe_call("{\"cmd\":\"quit\"}\n", line, sizeof line, 10000, nullptr, nullptr), MJW_CALL_OK);
    Mjctl start("start");
    ASSERT_EQ(start.finish(), 0) << "round " << round << ": " << start.err();
    EXPECT_EQ(start.err(), "") << "round " << round;
    ASSERT_TRUE(agent_status(&reply)) << "round " << round << ": no agent after the start";
    EXPECT_NE(reply.pid, old_pid) << "round " << round;
    EXPECT_NE(start.out().find("(pid " + std::to_string(reply.pid) + ")"), std::string::npos)
        << "round " << round << ": " << start.out();
    EXPECT_TRUE(reply.run.active) << "round " << round;
  }
}

TEST_F(RealAgent, QuitEndsTheRunsNudges) {
  // Real nudges every second, whatever the user does: the idle time keeps
  // going back to zero while the agent runs.
  Mjctl start(
      "start --options "
      "\"{\\\"mode\\\":\\\"zen\\\",\\\"interval_s\\\":1,\\\"only_when_idle\\\":false,\\\"dry_run\\\":false}\"");
  ASSERT_EQ(start.finish(), 0) << start.err();
  mjh_reply reply;
  ASSERT_TRUE(agent_until([](const mjh_reply &r) { return r.run.active && r.run.nudges >= 2; }, &reply));
  EXPECT_EQ(reply.run.dry_run, 0);
  EXPECT_EQ(reply.run.last_reset_idle, 1) << "a nudge that does not reset the idle time proves nothing here";

  Mjctl quit("quit");
  ASSERT_EQ(quit.finish(), 0) << quit.err();
  // Nothing nudges any more: the idle time grows past several intervals.
  bool quiet = false;
  for (int i = 0; i < 600 && !quiet; i++) {
    quiet = idle_ms() >= 4000;
    if (!quiet) Sleep(100);
  }
  EXPECT_TRUE(quiet) << "the idle time keeps being reset after quit";
}

// ---- On a console: Ctrl+C and the countdown ------------------------------------

// Ctrl+C goes to every process of a console: this program gets a console of
// its own, shares it with mjctl, and lets its own copy of the event pass.
BOOL WINAPI swallow_ctrl_c(DWORD type) { return type == CTRL_C_EVENT; }

class Console : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    ASSERT_TRUE(SetConsoleCtrlHandler(swallow_ctrl_c, TRUE));
  }

  // Starts a run without an end, waits for its first nudge, presses Ctrl+C.
  long interrupt(Mjctl &mjctl, const std::string &first_nudge) {
    if (!mjctl.started() || !mjctl.wait_for_output(first_nudge)) return -2;
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return -3;
    return mjctl.finish();
  }
};

TEST_F(Console, CtrlCStopsTheRunAndSaysSo) {
  Mjctl mjctl("run --interval 1 --always --dry-run");
  ASSERT_EQ(interrupt(mjctl, " nudge 1: "), 0) << mjctl.out() << mjctl.err();
  std::vector<std::string> lines = lines_of(mjctl.out());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Ctrl+C stops");
  EXPECT_TRUE(std::regex_match(
      lines.back(), std::regex("stopped after [0-9]+ s \\(Ctrl\\+C\\): [0-9]+ nudges?, 0 skipped, 0 failed")))
      << lines.back();
  EXPECT_EQ(mjctl.err(), "");
}

TEST_F(Console, CtrlCStopsTheRunBeforeExitingWithJson) {
  Mjctl mjctl("run --json --interval 1 --always --dry-run");
  ASSERT_EQ(interrupt(mjctl, "\"nudges\":1,"), 0) << mjctl.out() << mjctl.err();
  std::vector<std::string> lines = lines_of(mjctl.out());
  ASSERT_GE(lines.size(), 2u);
  // The last line is read after mj_stop: the run is over, its counts kept.
  EXPECT_EQ(status_member(lines.back(), "active"), "0") << lines.back();
  EXPECT_EQ(status_member(lines.back(), "next_nudge_in_s"), "-1") << lines.back();
  EXPECT_GE(status_num(lines.back(), "nudges"), 1) << lines.back();
}

// What a console shows from row top down to the cursor, one text per row,
// without the trailing blanks.
std::vector<std::string> screen_rows(HANDLE screen, SHORT top) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  std::vector<std::string> rows;
  if (!GetConsoleScreenBufferInfo(screen, &info)) return rows;
  for (SHORT y = top; y <= info.dwCursorPosition.Y; y++) {
    std::string row(info.dwSize.X, ' ');
    DWORD n = 0;
    ReadConsoleOutputCharacterA(screen, &row[0], (DWORD)row.size(), COORD{0, y}, &n);
    row.resize(row.find_last_not_of(' ') == std::string::npos ? 0 : row.find_last_not_of(' ') + 1);
    rows.push_back(row);
  }
  return rows;
}

TEST_F(Console, CountdownIsOneLineRefreshedInPlace) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  mjw_file screen(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(screen) << GetLastError();
  CONSOLE_SCREEN_BUFFER_INFO info;
  ASSERT_TRUE(GetConsoleScreenBufferInfo(screen.get(), &info));
  ASSERT_TRUE(SetConsoleScreenBufferSize(screen.get(), COORD{200, info.dwSize.Y})) << "rows wide enough for every line";
  SHORT top = info.dwCursorPosition.Y;

  Mjctl mjctl("run --interval 1 --always --dry-run --for 3", screen.get());
  ASSERT_TRUE(mjctl.started());
  // While the run goes on, the row under the last event counts down.
  bool counting = false;
  for (int i = 0; i < 600 && !counting; i++) {
    std::vector<std::string> rows = screen_rows(screen.get(), top);
    counting = !rows.empty() && rows.back().rfind("next nudge in ", 0) == 0;
    if (!counting) Sleep(10);
  }
  EXPECT_TRUE(counting) << "no countdown on the console";
  ASSERT_EQ(mjctl.finish(), 0) << mjctl.err();

  // Once it is over, the countdown is gone: only the start, the events and
  // the summary stay, one per row.
  std::vector<std::string> rows = screen_rows(screen.get(), top);
  screen.reset();
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  ASSERT_GE(rows.size(), 4u);
  EXPECT_EQ(rows[0], "started: zen nudges every 1 s, also while the user is active, dry run (nothing injected)");
  EXPECT_EQ(rows[1], "stopping after 3 s; Ctrl+C stops earlier");
  for (size_t i = 2; i + 1 < rows.size(); i++)
    EXPECT_TRUE(std::regex_match(
        rows[i], std::regex(std::string(k_clock) + " nudge " + std::to_string(i - 1) + ": dry-run, nothing injected")))
        << rows[i];
  EXPECT_TRUE(std::regex_match(
      rows.back(), std::regex("stopped after [0-9]+ s \\(time is up\\): " + std::to_string(rows.size() - 3) +
                              " nudges?, 0 skipped, 0 failed")))
      << rows.back();
}

}  // namespace
