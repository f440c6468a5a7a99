// mjtray.exe, the agent, under Wine: one per session, its settings in the
// registry, its control pipe against well-behaved and hostile clients, and
// its ways out. The pipe client here is written with raw CreateFileW,
// WriteFile and ReadFile so that these tests depend on no other host.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent_text.h"
#include "gtest/gtest.h"
#include "handle.h"
#include "handover.h"
#include "notification_area.h"
#include "notification_area_reader.h"
#include "pipe_dacl_check.h"
#include "policy_keys.h"
#include "protocol.h"
#include "resource.h"
#include "sleepers.h"
#include "this_program.h"

namespace {

const wchar_t kSettingsKey[] = L"Software\\Veltrano\\Mouse Jiggler";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Veltrano Mouse Jiggler";
const wchar_t kWindowClass[] = L"VeltranoMouseJigglerAgent";

// This user's and session's: pipe_dacl_check.h makes it as the hosts do.
std::wstring pipe_name() { return agent_pipe_name(); }

// ---- A raw pipe client ---------------------------------------------------------

// Connects, waiting while the agent starts or all instances are busy.
mjw_file connect_agent(DWORD timeout_ms, DWORD extra_access = 0) {
  ULONGLONG deadline = GetTickCount64() + timeout_ms;
  std::wstring name = pipe_name();
  for (;;) {
    mjw_file pipe(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | extra_access, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
    if (pipe) return pipe;
    DWORD error = GetLastError();
    if (GetTickCount64() >= deadline) return mjw_file();
    if (error == ERROR_PIPE_BUSY)
      WaitNamedPipeW(name.c_str(), 100);
    else
      Sleep(50);
  }
}

// One overlapped transfer that gives up after timeout_ms; the bytes moved, or
// -1 on failure or timeout.
long timed_io(HANDLE pipe, bool writing, void *data, DWORD size, DWORD timeout_ms) {
  mjw_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED ov = {};
  ov.hEvent = event.get();
  BOOL ok = writing ? WriteFile(pipe, data, size, nullptr, &ov) : ReadFile(pipe, data, size, nullptr, &ov);
  long result = -1;
  if (ok || GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(ov.hEvent, timeout_ms) != WAIT_OBJECT_0) CancelIo(pipe);
    DWORD done = 0;
    if (GetOverlappedResult(pipe, &ov, &done, TRUE)) result = static_cast<long>(done);
  }
  return result;
}

bool send_bytes(HANDLE pipe, const std::string &bytes, DWORD timeout_ms = 10000) {
  return timed_io(pipe, true, const_cast<char *>(bytes.data()), static_cast<DWORD>(bytes.size()), timeout_ms) ==
         static_cast<long>(bytes.size());
}

enum class LineEnd { Line, Closed, TimedOut };

// Reads up to and without the next '\n' into line; tells whether the line
// came, the agent closed the connection first, or time ran out.
LineEnd read_line_or_end(HANDLE pipe, std::string *line, DWORD timeout_ms) {
  line->clear();
  ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (GetTickCount64() < deadline) {
    mjw_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov = {};
    ov.hEvent = event.get();
    char c;
    DWORD done = 0;
    bool timed_out = false;
    BOOL ok = ReadFile(pipe, &c, 1, nullptr, &ov);
    if (ok || GetLastError() == ERROR_IO_PENDING) {
      ULONGLONG now = GetTickCount64();
      if (WaitForSingleObject(ov.hEvent, now < deadline ? static_cast<DWORD>(deadline - now) : 0) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        timed_out = true;
      }
      ok = GetOverlappedResult(pipe, &ov, &done, TRUE);
    }
    if (timed_out) return LineEnd::TimedOut;
    if (!ok || done != 1) return LineEnd::Closed;
    if (c == '\n') return LineEnd::Line;
    *line += c;
  }
  return LineEnd::TimedOut;
}

// Reads up to and without the next '\n'; "" when none comes in time.
std::string read_line(HANDLE pipe, DWORD timeout_ms = 10000) {
  std::string line;
  ULONGLONG deadline = GetTickCount64() + timeout_ms;
  char c;
  while (GetTickCount64() < deadline) {
    long n = timed_io(pipe, false, &c, 1, static_cast<DWORD>(deadline - GetTickCount64()));
    if (n != 1) return "";
    if (c == '\n') return line;
    line += c;
  }
  return "";
}

// One request, one reply line ("" on any failure).
std::string exchange(const std::string &request, DWORD timeout_ms = 10000) {
  mjw_file pipe = connect_agent(timeout_ms);
  if (!pipe) return "";
  return send_bytes(pipe.get(), request) ? read_line(pipe.get(), timeout_ms) : "";
}

bool read_reply(const std::string &line, mjh_reply *out) { return mjh_reply_read(line.data(), line.size(), out); }

bool status(mjh_reply *out, DWORD timeout_ms = 10000) {
  return read_reply(exchange("{\"cmd\":\"status\"}\n", timeout_ms), out) && out->ok && out->has_run;
}

// ---- The registry ------------------------------------------------------------------

void autostart_off() {
  mjw_key run;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, run.receive()) == ERROR_SUCCESS)
    RegDeleteValueW(run.get(), kRunValue);
}

void clean_registry() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
  RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
  autostart_off();
}

bool settings_key_exists() {
  mjw_key key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, key.receive()) == ERROR_SUCCESS;
}

// A text value under key of HKEY_CURRENT_USER, or "(none)".
std::wstring user_text(const wchar_t *key, const wchar_t *name) {
  wchar_t text[1024] = {};
  DWORD type = 0, size = sizeof text - sizeof(wchar_t);
  mjw_key k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, k.receive()) != ERROR_SUCCESS) return L"(none)";
  LSTATUS rc = RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE *>(text), &size);
  return rc == ERROR_SUCCESS && type == REG_SZ ? std::wstring(text) : L"(none)";
}

// The log-on entry's text, or "(none)".
std::wstring run_value() { return user_text(kRunKey, kRunValue); }

// A text setting as stored, or "(none)".
std::wstring stored_text(const wchar_t *name) { return user_text(kSettingsKey, name); }

// Sends the agent's window a menu command and waits until it is handled (a
// posted one could come after a pipe request sent later).
bool menu_command(HWND window, UINT id) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_COMMAND, id, 0, SMTO_ABORTIFHUNG, 20000, &result) != 0;
}

// The agent's dialog (or message box) of this title once it is shown: a
// dialog shows after its WM_INITDIALOG, so its items are filled in by then
// (found earlier, it may still be empty). Null after 30 s.
HWND shown_dialog(const wchar_t *title) {
  for (int i = 0; i < 300; ++i) {
    HWND dialog = FindWindowW(L"#32770", title);
    if (dialog && IsWindowVisible(dialog)) return dialog;
    Sleep(100);
  }
  return nullptr;
}

// Whether the agent's icon is in the notification area, waiting up to 20 s
// for it. Wine takes the icon's GUID and knows the icon by its window and
// number, so a change of nothing to the icon of that window and number,
// from here, succeeds only while the icon is there.
bool icon_shown(HWND agent_window) {
  NOTIFYICONDATAW nid = {};
  nid.cbSize = sizeof nid;
  nid.hWnd = agent_window;
  nid.uID = 1;
  for (int i = 0; i < 200; ++i) {
    if (Shell_NotifyIconW(NIM_MODIFY, &nid)) return true;
    Sleep(100);
  }
  return false;
}

// ---- The agent's process ------------------------------------------------------------

class Agent {
 public:
  explicit Agent(const std::wstring &args = L"") {
    std::wstring exe = beside_this_program(L"mjtray.exe");
    std::wstring line = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    started_ = CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  Agent(const Agent &) = delete;
  Agent &operator=(const Agent &) = delete;

  ~Agent() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) {
      exchange("{\"cmd\":\"quit\"}\n", 5000);
      if (WaitForSingleObject(pi_.hProcess, 15000) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 99);
    }
  }

  bool started() const { return started_ != 0; }
  DWORD pid() const { return pi_.dwProcessId; }

  // True once this process answers a status request (within a minute).
  bool wait_ready(mjh_reply *reply) {
    for (int i = 0; i < 120; ++i) {
      if (status(reply, 2000) && reply->pid == pi_.dwProcessId) return true;
      if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0) return false;
      Sleep(250);
    }
    return false;
  }
  bool wait_ready() {
    mjh_reply reply;
    return wait_ready(&reply);
  }

  // The exit code, or -1 when the process has not ended in time.
  long wait_exit(DWORD timeout_ms = 30000) {
    if (WaitForSingleObject(pi_.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  BOOL started_ = FALSE;
  mjw_process_information pi_;
};

// Every test starts and ends with no agent and no saved settings.
class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quit_stray_agent();
    clean_registry();
  }
  void TearDown() override {
    quit_stray_agent();
    clean_registry();
  }
  static void quit_stray_agent() {
    if (exchange("{\"cmd\":\"quit\"}\n", 1000).empty()) return;
    for (int i = 0; i < 100 && !exchange("{\"cmd\":\"status\"}\n", 200).empty(); ++i) Sleep(100);
  }
};

TEST_F(AgentTest, FirstLaunchEverStartsARunWithTheDefaultsAndSavesThem) {
  ASSERT_FALSE(settings_key_exists());
  Agent agent;
  ASSERT_TRUE(agent.started());
  mjh_reply reply;
  ASSERT_TRUE(agent.wait_ready(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_EQ(reply.run.mode, MJ_MODE_ZEN);
  EXPECT_EQ(reply.run.interval_s, 60);
  EXPECT_EQ(reply.run.only_when_idle, 1);
  EXPECT_EQ(reply.run.dry_run, 0);
  EXPECT_EQ(reply.run_on, 1);
  EXPECT_EQ(reply.settings.keep_awake, 0);
  EXPECT_EQ(reply.keep_awake_held, 0);
  EXPECT_TRUE(settings_key_exists());
  EXPECT_TRUE(icon_shown(FindWindowW(kWindowClass, nullptr))) << "its icon, known by its GUID";

  // A nudge now, with the saved settings: a zen event, reported by the run.
  ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"nudge\"}\n"), &reply));
  EXPECT_TRUE(reply.ok) << reply.error;
  ASSERT_TRUE(status(&reply));
  EXPECT_NE(std::string(reply.run.last_method).find("zen"), std::string::npos) << reply.run.last_method;
}

TEST_F(AgentTest, ASecondAgentExitsAtOnceWithZeroAndTheFirstGoesOn) {
  Agent first;
  ASSERT_TRUE(first.wait_ready());
  Agent second;
  ASSERT_TRUE(second.started());
  EXPECT_EQ(second.wait_exit(30000), 0);
  mjh_reply reply;
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.pid, first.pid());
  EXPECT_EQ(reply.run.active, 1);
}

TEST_F(AgentTest, SettingsSurviveARestartAndAStartChangesOnlyTheKeysItNames) {
  {
    Agent agent;
    ASSERT_TRUE(agent.wait_ready());
    mjh_reply reply;
    ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"start\",\"options\":{\"mode\":\"move\",\"interval_s\":120,"
                                    "\"dx\":3,\"keep_awake\":true}}\n"),
                           &reply));
    ASSERT_TRUE(reply.ok) << reply.error;
    ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"start\",\"options\":{\"only_when_idle\":false}}\n"), &reply));
    ASSERT_TRUE(reply.ok) << reply.error;
    ASSERT_TRUE(status(&reply));
    EXPECT_EQ(reply.run.active, 1);
    EXPECT_EQ(reply.run.mode, MJ_MODE_MOVE);
    EXPECT_EQ(reply.run.interval_s, 120);
    EXPECT_EQ(reply.run.dx, 3);
    EXPECT_EQ(reply.run.only_when_idle, 0);
    EXPECT_EQ(reply.keep_awake_held, 1);
    ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"quit\"}\n"), &reply));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(agent.wait_exit(), 0);
  }
  {
    // The run was on when the agent quit: it is on again, as it was.
    Agent agent;
    mjh_reply reply;
    ASSERT_TRUE(agent.wait_ready(&reply));
    EXPECT_EQ(reply.run.active, 1);
    EXPECT_EQ(reply.run_on, 1);
    EXPECT_EQ(reply.run.mode, MJ_MODE_MOVE);
    EXPECT_EQ(reply.run.interval_s, 120);
    EXPECT_EQ(reply.run.dx, 3);
    EXPECT_EQ(reply.run.dy, 1);
    EXPECT_EQ(reply.run.only_when_idle, 0);
    EXPECT_EQ(reply.settings.keep_awake, 1);
    EXPECT_EQ(reply.keep_awake_held, 1);
    // A start without options uses them too; a stop is remembered.
    ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"stop\"}\n"), &reply));
    EXPECT_TRUE(reply.ok);
    ASSERT_TRUE(status(&reply));
    EXPECT_EQ(reply.run.active, 0);
    EXPECT_EQ(reply.keep_awake_held, 0);
    ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"quit\"}\n"), &reply));
    EXPECT_EQ(agent.wait_exit(), 0);
  }
  {
    Agent agent;
    mjh_reply reply;
    ASSERT_TRUE(agent.wait_ready(&reply));
    EXPECT_EQ(reply.run.active, 0) << "the user had stopped the run";
    EXPECT_EQ(reply.run_on, 0);
    ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"start\"}\n"), &reply));
    EXPECT_TRUE(reply.ok);
    ASSERT_TRUE(status(&reply));
    EXPECT_EQ(reply.run.active, 1);
    EXPECT_EQ(reply.run.mode, MJ_MODE_MOVE);
    EXPECT_EQ(reply.run.interval_s, 120);
  }
}

// ---- Bad stored values ----------------------------------------------------------------

struct StoredValue {
  const wchar_t *name;
  DWORD type;
  std::vector<BYTE> data;
};

std::vector<BYTE> dword(DWORD v) { return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}; }
std::vector<BYTE> text(const wchar_t *s) {
  const BYTE *p = reinterpret_cast<const BYTE *>(s);
  return std::vector<BYTE>(p, p + (wcslen(s) + 1) * sizeof(wchar_t));
}

TEST_F(AgentTest, MistypedOrOutOfRangeStoredValuesGiveTheirDefaultsAndAWorkingRun) {
  const StoredValue values[] = {
      {L"mode", REG_DWORD, dword(1)},                        // a number where a text belongs
      {L"interval_s", REG_SZ, text(L"30")},                  // a text where a number belongs
      {L"dx", REG_DWORD, dword(5000)},                       // out of range
      {L"dy", REG_DWORD, dword(0x80000000u)},                // far below the range
      {L"only_when_idle", REG_DWORD, dword(7)},              // not 0 or 1
      {L"dry_run", REG_BINARY, {1, 2, 3}},                   // another type
      {L"keep_awake", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}},  // 64 bits
      {L"run_on", REG_DWORD, {1, 0}},                        // too short for a DWORD
  };
  mjw_key key;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(), nullptr),
      ERROR_SUCCESS);
  for (const StoredValue &v : values)
    ASSERT_EQ(RegSetValueExW(key.get(), v.name, 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size())),
              ERROR_SUCCESS);
  key.reset();

  Agent agent;
  mjh_reply reply;
  ASSERT_TRUE(agent.wait_ready(&reply));
  EXPECT_EQ(reply.run.active, 1) << "run_on defaults to on";
  EXPECT_EQ(reply.run.mode, MJ_MODE_ZEN);
  EXPECT_EQ(reply.run.interval_s, 60);
  EXPECT_EQ(reply.run.dx, 1);
  EXPECT_EQ(reply.run.dy, 1);
  EXPECT_EQ(reply.run.only_when_idle, 1);
  EXPECT_EQ(reply.run.dry_run, 0);
  EXPECT_EQ(reply.settings.keep_awake, 0);
  // A start without options works from the same values.
  ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"stop\"}\n"), &reply));
  ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"start\"}\n"), &reply));
  EXPECT_TRUE(reply.ok) << reply.error;
}

TEST_F(AgentTest, AValidStoredValueIsKeptBesideBadOnes) {
  mjw_key key;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(), nullptr),
      ERROR_SUCCESS);
  std::vector<BYTE> mode = text(L"move"), interval = dword(3601), run_on = dword(0);
  RegSetValueExW(key.get(), L"mode", 0, REG_SZ, mode.data(), static_cast<DWORD>(mode.size()));
  RegSetValueExW(key.get(), L"interval_s", 0, REG_DWORD, interval.data(), 4);
  RegSetValueExW(key.get(), L"run_on", 0, REG_DWORD, run_on.data(), 4);
  key.reset();

  Agent agent;
  mjh_reply reply;
  ASSERT_TRUE(agent.wait_ready(&reply));
  EXPECT_EQ(reply.run.active, 0);
  EXPECT_EQ(reply.settings.mode, MJ_MODE_MOVE);
  EXPECT_EQ(reply.settings.interval_s, 60);
}

// The first launch is the agent's first in this profile, whatever keys an
// installer or a tool made before it: it saves the defaults at once (and says
// where it is). Settings an older version saved are no first launch, and
// stay as they were.
TEST_F(AgentTest, TheFirstLaunchIsTheAgentsFirstWhateverKeysCameBeforeIt) {
  struct Case {
    const char *before;
    const wchar_t *key;  // under the settings key ("" for itself), made first; null: none
    std::vector<StoredValue> values;
    bool first;
  };
  const Case cases[] = {
      {"nothing", nullptr, {}, true},
      {"the settings key alone", L"", {}, true},
      {"a per-user install's records", L"\\Installer", {{L"Folder", REG_SZ, text(L"C:\\Programs\\Jiggler\\")}}, true},
      {"an older version's settings", L"", {{L"interval_s", REG_DWORD, dword(120)}}, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.before);
    clean_registry();
    if (c.key) {
      mjw_key key;
      std::wstring name = std::wstring(kSettingsKey) + c.key;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(),
                                nullptr),
                ERROR_SUCCESS);
      for (const StoredValue &v : c.values)
        ASSERT_EQ(RegSetValueExW(key.get(), v.name, 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size())),
                  ERROR_SUCCESS);
    }
    Agent agent;
    mjh_reply reply;
    ASSERT_TRUE(agent.wait_ready(&reply));
    EXPECT_EQ(reply.run.active, 1);
    EXPECT_EQ(reply.run.interval_s, c.first ? 60 : 120);
    EXPECT_EQ(stored_text(L"mode"), c.first ? L"zen" : L"(none)") << "the defaults are saved on the first launch only";
    ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"quit\"}\n"), &reply));
    EXPECT_EQ(agent.wait_exit(), 0);
  }
}

// ---- Start with Windows ------------------------------------------------------------------

TEST_F(AgentTest, StartWithWindowsFromTheCommandLineWritesAndRemovesItsEntry) {
  std::wstring expected = L"\"" + beside_this_program(L"mjtray.exe") + L"\"";
  {
    Agent on(L"--autostart on");
    EXPECT_EQ(on.wait_exit(), 0);
  }
  EXPECT_EQ(run_value(), expected);
  {
    Agent off(L"--autostart off");
    EXPECT_EQ(off.wait_exit(), 0);
  }
  EXPECT_EQ(run_value(), L"(none)");
  {
    Agent again(L"--autostart off");  // nothing to remove: still fine
    EXPECT_EQ(again.wait_exit(), 0);
  }
  EXPECT_FALSE(settings_key_exists()) << "the switch does only that";
}

TEST_F(AgentTest, MenuCommandsToggleStartWithWindowsAndTheRun) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  HWND window = FindWindowW(kWindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  std::wstring expected = L"\"" + beside_this_program(L"mjtray.exe") + L"\"";

  ASSERT_TRUE(menu_command(window, IDM_AUTOSTART));
  EXPECT_EQ(run_value(), expected);
  ASSERT_TRUE(menu_command(window, IDM_AUTOSTART));
  EXPECT_EQ(run_value(), L"(none)");

  // An entry naming another copy of the program is not this agent's: the
  // command writes this one's path over it rather than removing it.
  mjw_key run;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, run.receive(), nullptr),
            ERROR_SUCCESS);
  std::vector<BYTE> other = text(L"\"C:\\elsewhere\\mjtray.exe\"");
  ASSERT_EQ(RegSetValueExW(run.get(), kRunValue, 0, REG_SZ, other.data(), static_cast<DWORD>(other.size())),
            ERROR_SUCCESS);
  run.reset();
  ASSERT_TRUE(menu_command(window, IDM_AUTOSTART));
  EXPECT_EQ(run_value(), expected);

  // Start/Stop, then an interval from the menu: saved, run left as it is.
  mjh_reply reply;
  ASSERT_TRUE(menu_command(window, IDM_TOGGLE));
  ASSERT_TRUE(menu_command(window, IDM_INTERVAL_300));
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 0);
  EXPECT_EQ(reply.run_on, 0);
  EXPECT_EQ(reply.settings.interval_s, 300);
  ASSERT_TRUE(menu_command(window, IDM_TOGGLE));
  ASSERT_TRUE(menu_command(window, IDM_MODE_MOVE));
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_EQ(reply.run.interval_s, 300);
  EXPECT_EQ(reply.run.mode, MJ_MODE_MOVE) << "a menu change restarts a run that is on";
}

// ---- Ways out --------------------------------------------------------------------------------

TEST_F(AgentTest, QuitRepliesThenStopsTheRunAndTheProcessExits) {
  Agent agent;
  mjh_reply reply;
  ASSERT_TRUE(agent.wait_ready(&reply));
  ASSERT_EQ(reply.run.active, 1);
  ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"quit\"}\n"), &reply));
  EXPECT_TRUE(reply.ok);
  EXPECT_EQ(agent.wait_exit(), 0);
  EXPECT_EQ(exchange("{\"cmd\":\"status\"}\n", 500), "") << "the pipe is gone";
  // The user's choice stays: a run was on.
  Agent again;
  ASSERT_TRUE(again.wait_ready(&reply));
  EXPECT_EQ(reply.run.active, 1);
}

TEST_F(AgentTest, WmCloseEndsTheAgentCleanly) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  HWND window = FindWindowW(kWindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
  EXPECT_EQ(agent.wait_exit(), 0);
}

// Log-off while the menu is open ends the menu and the agent, as WM_CLOSE
// does: a menu left open would keep the agent running.
TEST_F(AgentTest, LogOffWithTheMenuOpenEndsTheMenuAndTheAgent) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  HWND window = FindWindowW(kWindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  const UINT from_notification_area = WM_APP + 1;  // mjtray's message for its icon
  ASSERT_TRUE(PostMessageW(window, from_notification_area, MAKEWPARAM(200, 200), WM_CONTEXTMENU));
  HWND menu = nullptr;
  for (ULONGLONG deadline = GetTickCount64() + 30000; !menu && GetTickCount64() < deadline;) {
    menu = FindWindowW(L"#32768", nullptr);
    if (menu && !IsWindowVisible(menu)) menu = nullptr;
    if (!menu) Sleep(50);
  }
  ASSERT_NE(menu, nullptr) << "the menu did not open";
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 20000, &result));
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 20000, &result));
  EXPECT_EQ(agent.wait_exit(30000), 0) << "the agent runs on behind its menu";
}

// A store that refuses (here: a vendor key that holds only volatile keys):
// each change still takes effect, and its reply says it was not saved.
TEST_F(AgentTest, AFailedSaveIsAnsweredWithTheReason) {
  const wchar_t vendor[] = L"Software\\Veltrano";
  RegDeleteTreeW(HKEY_CURRENT_USER, vendor);
  RegDeleteKeyW(HKEY_CURRENT_USER, vendor);
  mjw_key key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, vendor, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                            key.receive(), nullptr),
            ERROR_SUCCESS);
  key.reset();
  {
    Agent agent;
    mjh_reply reply;
    ASSERT_TRUE(agent.wait_ready(&reply));
    EXPECT_EQ(exchange("{\"cmd\":\"start\",\"options\":{\"interval_s\":120,\"dry_run\":true}}\n"),
              "{\"ok\":false,\"error\":\"the change took effect but the settings could not be saved: the registry "
              "refused it (error 1021); it lasts until the agent ends\"}");
    ASSERT_TRUE(status(&reply));
    EXPECT_EQ(reply.run.interval_s, 120);
    EXPECT_FALSE(settings_key_exists());
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, vendor);
  RegDeleteKeyW(HKEY_CURRENT_USER, vendor);
}

TEST_F(AgentTest, LogOffStopsEverythingAndKeepsTheUsersChoice) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  HWND window = FindWindowW(kWindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 20000, &result));
  EXPECT_EQ(result, static_cast<DWORD_PTR>(TRUE));
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 20000, &result));
  // Once WM_ENDSESSION returns, the session may end the process at any time:
  // the pipe is closed by then, and the run was on when the user left.
  EXPECT_EQ(exchange("{\"cmd\":\"status\"}\n", 500), "");
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.wait_exit(), 0);
  Agent again;
  mjh_reply reply;
  ASSERT_TRUE(again.wait_ready(&reply));
  EXPECT_EQ(reply.run.active, 1);
}

// ---- The pipe ----------------------------------------------------------------------------------

TEST_F(AgentTest, AnAgentWhosePipeNameIsTakenSaysSoAndExitsWithAnError) {
  // Another process holds the name (here: this one).
  mjw_file squatter(CreateNamedPipeW(pipe_name().c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr));
  ASSERT_TRUE(squatter);
  Agent agent;
  ASSERT_TRUE(agent.started());
  HWND box = shown_dialog(L"Veltrano Mouse Jiggler");
  ASSERT_NE(box, nullptr) << "no message box";
  wchar_t text[512] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 512);  // the static text of a message box
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  long code = agent.wait_exit();
  EXPECT_NE(code, 0);
  EXPECT_NE(code, -1);
  EXPECT_EQ(code, MJH_AGENT_EXIT_PLACE_HELD);
  squatter.reset();
  // The cause is named: another process holds the control pipe.
  EXPECT_NE(std::wstring(text).find(L"pipe"), std::wstring::npos) << text;
  EXPECT_NE(std::wstring(text).find(L"holds its place"), std::wstring::npos) << text;
}

// Started by mjctl start, which says why itself: no box, the exit code tells.
TEST_F(AgentTest, StartedByMjctlAnAgentWhosePlaceIsHeldExitsWithoutABox) {
  mjw_file squatter(CreateNamedPipeW(pipe_name().c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr));
  ASSERT_TRUE(squatter);
  Agent agent(L"--started-by mjctl");
  ASSERT_TRUE(agent.started());
  long code = agent.wait_exit();
  EXPECT_EQ(FindWindowW(L"#32770", L"Veltrano Mouse Jiggler"), nullptr) << "a message box";
  squatter.reset();
  EXPECT_EQ(code, MJH_AGENT_EXIT_PLACE_HELD);
}

// One agent per user and session is decided by the pipe, which carries the
// user: a process that holds the session's mutex of old (as anyone in the
// session could, another user's agent too) keeps no agent from starting.
TEST_F(AgentTest, TheSessionsMutexOfOldHeldByAnotherProcessDoesNotStopTheAgent) {
  mjw_handle mutex(CreateMutexW(nullptr, TRUE, L"Local\\veltrano-mouse-jiggler-agent"));
  ASSERT_TRUE(mutex);
  {
    Agent agent;
    mjh_reply reply;
    EXPECT_TRUE(agent.wait_ready(&reply));
    EXPECT_EQ(reply.pid, agent.pid());
  }
}

// A new agent started while the old one is ending waits for it and takes
// its place; one started beside a live agent leaves it be (above).
TEST_F(AgentTest, ANewAgentStartedAsTheOldOneQuitsTakesItsPlace) {
  Agent old_agent;
  ASSERT_TRUE(old_agent.wait_ready());
  mjh_reply reply;
  ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"quit\"}\n"), &reply));
  ASSERT_TRUE(reply.ok);
  Agent new_agent;
  ASSERT_TRUE(new_agent.wait_ready(&reply)) << "the new agent left (code " << new_agent.wait_exit(0) << ")";
  EXPECT_EQ(reply.pid, new_agent.pid());
  EXPECT_EQ(old_agent.wait_exit(), 0);
}

// A client connected when the agent begins to end, its request not sent
// yet, still gets a reply: that the agent is shutting down.
TEST_F(AgentTest, AClientConnectedAsTheAgentEndsIsToldItIsShuttingDown) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  mjw_file early = connect_agent(10000);
  ASSERT_TRUE(early);
  mjh_reply reply;
  ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"quit\"}\n"), &reply));
  ASSERT_TRUE(reply.ok);
  // The agent has begun to end once no instance takes a new client.
  bool stopping = false;
  DWORD error = 0;
  for (ULONGLONG deadline = GetTickCount64() + 30000; !stopping && GetTickCount64() < deadline;) {
    mjw_file probe(
        CreateFileW(pipe_name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    error = GetLastError();
    stopping = !probe && error == ERROR_PIPE_BUSY;
    if (!probe && error != ERROR_PIPE_BUSY) break;
  }
  ASSERT_TRUE(stopping) << "the agent kept taking clients after quit, or ended at once (error " << error << ")";
  ASSERT_TRUE(send_bytes(early.get(), "{\"cmd\":\"status\"}\n"));
  std::string line;
  EXPECT_EQ(read_line_or_end(early.get(), &line, 10000), LineEnd::Line) << "no reply, only a closed pipe";
  EXPECT_EQ(line, "{\"ok\":false,\"error\":\"the agent is shutting down\"}");
  EXPECT_EQ(agent.wait_exit(), 0);
}

TEST_F(AgentTest, ThePipeIsKeptToThisUser) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  mjw_file pipe = connect_agent(10000, READ_CONTROL);
  ASSERT_TRUE(pipe);
  ASSERT_NO_FATAL_FAILURE(expect_pipe_kept_to_this_user(pipe.get()));
  ASSERT_NO_FATAL_FAILURE(expect_pipe_labelled_medium(pipe.get()));

  ULONG server = 0;
  ASSERT_TRUE(GetNamedPipeServerProcessId(pipe.get(), &server));
  EXPECT_EQ(server, agent.pid());
}

// Names another process may take first, as one on a shared machine would:
// the name of old (the session alone, machine-wide), another user's name in
// this session, and this user's in another session. None keeps this user's
// agent from starting and answering.
TEST_F(AgentTest, PipesTakenUnderOtherNamesDoNotStopTheAgent) {
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  const std::wstring taken[] = {
      L"\\\\.\\pipe\\veltrano-mouse-jiggler-" + std::to_wstring(session),
      agent_pipe_name(L"S-1-5-21-1111111111-2222222222-3333333333-1001"),
      agent_pipe_name(L"S-1-5-18"),
      L"\\\\.\\pipe\\veltrano-mouse-jiggler-" + this_users_sid() + L"-" + std::to_wstring(session + 1),
  };
  std::vector<mjw_file> squatters;
  for (const std::wstring &name : taken) {
    ASSERT_NE(name, pipe_name());
    mjw_file squatter(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE, PIPE_TYPE_BYTE,
                                       PIPE_UNLIMITED_INSTANCES, 512, 512, 0, nullptr));
    ASSERT_TRUE(squatter) << GetLastError();
    squatters.push_back(std::move(squatter));
  }
  Agent agent;
  mjh_reply reply;
  EXPECT_TRUE(agent.wait_ready(&reply));
  EXPECT_EQ(reply.pid, agent.pid());
}

TEST_F(AgentTest, SeveralRequestsOnOneConnectionGetTheirRepliesInOrder) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  mjw_file pipe = connect_agent(10000);
  ASSERT_TRUE(pipe);
  ASSERT_TRUE(send_bytes(pipe.get(), "{\"cmd\":\"stop\"}\r\n{\"cmd\":\"status\"}\n{\"cmd\":\"nope\"}\n"));
  mjh_reply reply;
  ASSERT_TRUE(read_reply(read_line(pipe.get()), &reply));
  EXPECT_TRUE(reply.ok);
  EXPECT_FALSE(reply.has_run);
  ASSERT_TRUE(read_reply(read_line(pipe.get()), &reply));
  EXPECT_TRUE(reply.has_run);
  EXPECT_EQ(reply.run.active, 0);
  ASSERT_TRUE(read_reply(read_line(pipe.get()), &reply));
  EXPECT_FALSE(reply.ok);
  EXPECT_NE(std::string(reply.error).find("nope"), std::string::npos) << reply.error;
}

// Each bad request gets {"ok":false,...} and changes nothing.
TEST_F(AgentTest, BadRequestsGetAnErrorReplyAndChangeNothing) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  const std::string bad[] = {
      std::string("\x01\x02\xff garbage\n"),
      std::string("{\"cmd\":\"start\",\"options\":{\"mode\":\"sideways\"}}\n"),
      std::string("{\"cmd\":\"start\",\"options\":{\"interval_s\":0}}\n"),
      std::string("{\"cmd\":\"start\",\"options\":{\"speed\":3}}\n"),
      std::string("[\"status\"]\n"),
      std::string("\n"),
      std::string("{\"cmd\":\"status\"\0}\n", 18),
  };
  for (const std::string &request : bad) {
    mjh_reply reply;
    std::string line = exchange(request);
    ASSERT_TRUE(read_reply(line, &reply)) << "no reply to " << request << ": " << line;
    EXPECT_FALSE(reply.ok) << request;
    EXPECT_NE(reply.error[0], '\0') << request;
  }
  mjh_reply reply;
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_EQ(reply.run.mode, MJ_MODE_ZEN);
  EXPECT_EQ(reply.settings.interval_s, 60);
}

TEST_F(AgentTest, HostileClientsLeaveTheAgentAnsweringPromptly) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());

  // Silent clients, holding instances without a word.
  std::vector<mjw_file> silent;
  for (int i = 0; i < 3; ++i) {
    silent.push_back(connect_agent(10000));
    ASSERT_TRUE(silent.back());
  }
  // One that breaks off in the middle of a request.
  {
    mjw_file pipe = connect_agent(10000);
    ASSERT_TRUE(pipe);
    send_bytes(pipe.get(), "{\"cmd\":\"sta");
  }
  // An oversized line: an error reply, then the agent drops the client.
  {
    mjw_file pipe = connect_agent(10000);
    ASSERT_TRUE(pipe);
    send_bytes(pipe.get(), std::string(MJH_REQUEST_MAX + 1000, 'x'));
    mjh_reply reply;
    std::string line = read_line(pipe.get());
    ASSERT_TRUE(read_reply(line, &reply)) << line;
    EXPECT_FALSE(reply.ok);
    EXPECT_NE(std::string(reply.error).find("4096"), std::string::npos) << reply.error;
    char byte;
    EXPECT_EQ(timed_io(pipe.get(), false, &byte, 1, 10000), -1) << "the agent should have closed the connection";
  }
  // Many at once, each silent for a second.
  std::atomic<int> connected{0};
  std::vector<std::thread> crowd;
  for (int i = 0; i < 24; ++i)
    crowd.emplace_back([&connected] {
      mjw_file pipe = connect_agent(3000);
      if (!pipe) return;
      ++connected;
      Sleep(1000);
    });

  auto begin = std::chrono::steady_clock::now();
  mjh_reply reply;
  EXPECT_TRUE(status(&reply, 20000));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  std::printf("status answered %.2f s after the hostile clients; %d of the crowd connected\n", seconds,
              connected.load());
  EXPECT_LT(seconds, 15.0);
  for (std::thread &t : crowd) t.join();

  // The silent ones were dropped at their deadline.
  for (mjw_file &pipe : silent) {
    char byte;
    EXPECT_EQ(timed_io(pipe.get(), false, &byte, 1, 10000), -1);
    pipe.reset();
  }
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.pid, agent.pid());
  EXPECT_EQ(reply.run.active, 1);
}

// ---- Schedules -----------------------------------------------------------------------------

const char *const kDayNames[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};  // SYSTEMTIME's order

std::string hh_mm(int minute) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", minute / 60, minute % 60);
  return text;
}

int64_t now_utc() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return static_cast<int64_t>(t.QuadPart / 10000000ULL) - 11644473600LL;
}

// Polls the status until check says yes (or a minute passes).
template <typename Check>
bool status_until(mjh_reply *reply, Check check, int seconds = 60) {
  for (int i = 0; i < seconds * 4; ++i) {
    if (status(reply) && check(*reply)) return true;
    Sleep(250);
  }
  return false;
}

std::string start_with(const std::string &options) {
  mjh_reply reply;
  std::string line = exchange("{\"cmd\":\"start\",\"options\":{" + options + "}}\n");
  if (!read_reply(line, &reply)) return "no reply: " + line;
  return reply.ok ? "" : reply.error;
}

TEST_F(AgentTest, ASessionThatEndsStopsTheRunReleasesKeepAwakeAndSaysWhy) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  ASSERT_EQ(start_with("\"keep_awake\":true,\"for\":\"3s\""), "");
  mjh_reply reply;
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_EQ(reply.keep_awake_held, 1);
  ASSERT_EQ(reply.has_schedule, 1);
  EXPECT_NE(reply.session_end, MJH_NO_TIME);
  EXPECT_LE(reply.session_end, now_utc() + 4);

  ASSERT_TRUE(status_until(
      &reply, [](const mjh_reply &r) { return r.run.active == 0; }, 30))
      << "the run goes on after its session";
  EXPECT_EQ(reply.keep_awake_held, 0);
  EXPECT_EQ(reply.run_on, 0) << "no working hours will start it again";
  EXPECT_NE(std::string(reply.stopped_because).find("session ended after 3 s"), std::string::npos)
      << reply.stopped_because;
  EXPECT_EQ(reply.next_start, MJH_NO_TIME);

  // A start afterwards runs until stopped, and says nothing of the old session.
  ASSERT_EQ(start_with(""), "");
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_STREQ(reply.stopped_because, "");
  EXPECT_EQ(reply.session_end, MJH_NO_TIME);
}

TEST_F(AgentTest, WorkingHoursThatExcludeNowLeaveTheAgentWaitingAndSurviveARestart) {
  SYSTEMTIME local;
  GetLocalTime(&local);
  const std::string tomorrow = kDayNames[(local.wDayOfWeek + 1) % 7];
  {
    Agent agent;
    ASSERT_TRUE(agent.wait_ready());
    ASSERT_EQ(start_with("\"interval_s\":120,\"hours\":\"08:00-09:00\",\"days\":\"" + tomorrow + "\""), "");
    mjh_reply reply;
    ASSERT_TRUE(status(&reply));
    EXPECT_EQ(reply.run.active, 0) << "outside working hours";
    EXPECT_EQ(reply.run_on, 1) << "the user's choice stays on";
    ASSERT_EQ(reply.has_schedule, 1);
    EXPECT_STREQ(reply.hours, "08:00-09:00");
    EXPECT_EQ(reply.days, tomorrow);
    EXPECT_EQ(reply.inside, 0);
    ASSERT_NE(reply.next_start, MJH_NO_TIME);
    int64_t ahead = reply.next_start - now_utc();
    EXPECT_GT(ahead, 0);
    EXPECT_LT(ahead, 2 * 86400 + 3600) << "tomorrow 08:00";
  }
  {
    // The hours and the options come back with the agent; it waits again.
    Agent agent;
    mjh_reply reply;
    ASSERT_TRUE(agent.wait_ready(&reply));
    EXPECT_EQ(reply.run.active, 0);
    EXPECT_EQ(reply.run_on, 1);
    EXPECT_EQ(reply.settings.interval_s, 120);
    ASSERT_EQ(reply.has_schedule, 1);
    EXPECT_STREQ(reply.hours, "08:00-09:00");
    EXPECT_EQ(reply.days, tomorrow);
    EXPECT_NE(reply.next_start, MJH_NO_TIME);
    // A session runs whatever the hours say; Stop ends it and turns the run off.
    ASSERT_EQ(start_with("\"for\":\"1h\""), "");
    ASSERT_TRUE(status(&reply));
    EXPECT_EQ(reply.run.active, 1);
    ASSERT_TRUE(read_reply(exchange("{\"cmd\":\"stop\"}\n"), &reply));
    ASSERT_TRUE(status(&reply));
    EXPECT_EQ(reply.run.active, 0);
    EXPECT_EQ(reply.run_on, 0);
    EXPECT_EQ(reply.next_start, MJH_NO_TIME) << "nothing starts a run the user stopped";
  }
}

TEST_F(AgentTest, WorkingHoursThatIncludeNowKeepTheRunAndNoHoursBringItBack) {
  SYSTEMTIME local;
  GetLocalTime(&local);
  int minute = local.wHour * 60 + local.wMinute;
  // From an hour ago to two hours ahead, across midnight when it comes to that.
  std::string spans = hh_mm((minute + 1440 - 60) % 1440) + "-" + hh_mm((minute + 120) % 1440);
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  ASSERT_EQ(start_with("\"hours\":\"" + spans + "\",\"days\":\"all\""), "");
  mjh_reply reply;
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1) << spans;
  ASSERT_EQ(reply.has_schedule, 1);
  EXPECT_EQ(reply.inside, 1);
  EXPECT_EQ(reply.next_start, MJH_NO_TIME);

  // A span that ended an hour ago: the run stops and waits for tomorrow's.
  std::string ended = hh_mm((minute + 1440 - 120) % 1440) + "-" + hh_mm((minute + 1440 - 60) % 1440);
  ASSERT_EQ(start_with("\"hours\":\"" + ended + "\""), "");
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 0) << ended;
  EXPECT_EQ(reply.inside, 0);
  ASSERT_NE(reply.next_start, MJH_NO_TIME);
  EXPECT_GT(reply.next_start - now_utc(), 20 * 3600);

  // No working hours: the run goes on at any time.
  ASSERT_EQ(start_with("\"hours\":\"any\""), "");
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_STREQ(reply.hours, "");
  // A bad "hours" is refused and changes nothing.
  ASSERT_NE(start_with("\"hours\":\"25:00-26:00\""), "");
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_STREQ(reply.hours, "");
}

// Working hours that no longer read must not turn into "any time": the run
// waits and says why, the stored values stay for the user to see, and new
// hours end the wait.
TEST_F(AgentTest, DamagedStoredWorkingHoursKeepTheRunWaitingAndSaySo) {
  const wchar_t *const bad[][2] = {
      {L"25:99-nonsense", L"mon-fri"}, {L"08:00-09:00", L"someday"}, {L"", L""}, {L"09:00-10:00,09:30-11:00", L"all"}};
  for (const auto &values : bad) {
    std::string shown(values[0], values[0] + wcslen(values[0]));
    mjw_key key;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(), nullptr),
        ERROR_SUCCESS);
    std::vector<BYTE> hours = text(values[0]), days = text(values[1]);
    RegSetValueExW(key.get(), L"hours", 0, REG_SZ, hours.data(), static_cast<DWORD>(hours.size()));
    RegSetValueExW(key.get(), L"days", 0, REG_SZ, days.data(), static_cast<DWORD>(days.size()));
    key.reset();
    {
      Agent agent;
      mjh_reply reply;
      ASSERT_TRUE(agent.wait_ready(&reply));
      EXPECT_EQ(reply.run.active, 0) << "hours \"" << shown << "\"";
      EXPECT_TRUE(reply.run_on);
      EXPECT_NE(std::string(reply.stopped_because).find("damaged"), std::string::npos) << reply.stopped_because;
      ASSERT_EQ(reply.has_schedule, 1);
      EXPECT_STREQ(reply.hours, "");
      EXPECT_EQ(reply.next_start, MJH_NO_TIME);
      ASSERT_EQ(start_with("\"interval_s\":30"), "");
      ASSERT_TRUE(status(&reply));
      EXPECT_EQ(reply.run.active, 0) << "a start that names no hours still waits";
      EXPECT_EQ(stored_text(L"hours"), std::wstring(values[0])) << "the damaged values are kept";
      ASSERT_EQ(start_with("\"hours\":\"any\""), "");
      ASSERT_TRUE(status(&reply));
      EXPECT_EQ(reply.run.active, 1) << "new hours end the wait";
      EXPECT_STREQ(reply.stopped_because, "");
    }
    clean_registry();
  }
}

// A screen saver sooner than the interval can keep ahead of: the status says
// so, and the warning goes when the interval is made safe.
TEST_F(AgentTest, AnIntervalTooLongForTheScreenSaverIsWarnedOf) {
  BOOL saved_active = FALSE;
  UINT saved_timeout = 0;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &saved_active, 0));
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &saved_timeout, 0));
  const UINT save = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;
  ASSERT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, 300, nullptr, save));
  ASSERT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, save));
  {
    Agent agent;
    ASSERT_TRUE(agent.wait_ready());
    ASSERT_EQ(start_with("\"interval_s\":600,\"only_when_idle\":false"), "");
    mjh_reply reply;
    ASSERT_TRUE(status(&reply));
    ASSERT_EQ(reply.has_schedule, 1);
    EXPECT_NE(std::string(reply.warning).find("after 300 s"), std::string::npos) << reply.warning;
    EXPECT_NE(std::string(reply.warning).find("290 s"), std::string::npos) << "the largest safe interval";
    ASSERT_EQ(start_with("\"interval_s\":290"), "");
    ASSERT_TRUE(status(&reply));
    EXPECT_STREQ(reply.warning, "");
  }
  SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, saved_timeout, nullptr, save);
  SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, saved_active, nullptr, save);
}

// The menu's sessions and the working hours dialog, as a user works them.
TEST_F(AgentTest, RunForFromTheMenuAndTheWorkingHoursDialog) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  HWND window = FindWindowW(kWindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  mjh_reply reply;
  ASSERT_TRUE(menu_command(window, IDM_RUN_FOR_30M));
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  ASSERT_EQ(reply.has_schedule, 1);
  ASSERT_NE(reply.session_end, MJH_NO_TIME);
  EXPECT_NEAR(static_cast<double>(reply.session_end - now_utc()), 1800.0, 30.0);
  ASSERT_TRUE(menu_command(window, IDM_RUN_UNTIL_STOPPED));
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.session_end, MJH_NO_TIME);
  ASSERT_TRUE(menu_command(window, IDM_TOGGLE));  // Stop

  // The command is posted, the dialog found once shown and filled.
  ASSERT_TRUE(PostMessageW(window, WM_COMMAND, IDM_WORKING_HOURS, 0));
  HWND dialog = shown_dialog(L"Working hours");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_NO_HOURS), BST_CHECKED) << "none are set";
  CheckDlgButton(dialog, IDC_NO_HOURS, BST_UNCHECKED);
  SendMessageW(dialog, WM_COMMAND, IDC_NO_HOURS, 0);
  SetDlgItemTextW(dialog, IDC_SPANS, L"09:00-12:00,11:00-13:00");
  SendMessageW(dialog, WM_COMMAND, IDOK, 0);
  wchar_t error[256] = {};
  GetDlgItemTextW(dialog, IDC_HOURS_ERROR, error, 256);
  EXPECT_NE(std::wstring(error), L"") << "overlapping spans are refused with the parser's reason";
  EXPECT_TRUE(IsWindow(dialog)) << "and the dialog stays open";

  SYSTEMTIME local;
  GetLocalTime(&local);
  int tomorrow = (local.wDayOfWeek + 6 + 1) % 7;  // Monday first, as the checkboxes
  for (int day = 0; day < 7; ++day) CheckDlgButton(dialog, IDC_DAY_FIRST + day, day == tomorrow);
  SetDlgItemTextW(dialog, IDC_SPANS, L"22:00-06:00");
  SendMessageW(dialog, WM_COMMAND, IDOK, 0);
  for (int i = 0; i < 100 && IsWindow(dialog); ++i) Sleep(100);
  EXPECT_FALSE(IsWindow(dialog));
  ASSERT_TRUE(status(&reply));
  ASSERT_EQ(reply.has_schedule, 1);
  EXPECT_STREQ(reply.hours, "22:00-06:00");
  EXPECT_STREQ(reply.days, kDayNames[(local.wDayOfWeek + 1) % 7]);
  EXPECT_EQ(reply.run.active, 0) << "the user had stopped the run";
}

// ---- A slow notification area ------------------------------------------------------------------

// A hidden window on a thread of its own that adds its icon to the
// notification area when told to, and removes it again.
class IconAdder {
 public:
  IconAdder() : state_(std::make_shared<State>()) {
    std::shared_ptr<State> state = state_;
    thread_ = std::thread([state] { state->run(); });
    ready_ = WaitForSingleObject(state_->ready.get(), 30000) == WAIT_OBJECT_0 && state_->window;
  }
  IconAdder(const IconAdder &) = delete;
  IconAdder &operator=(const IconAdder &) = delete;

  // A thread still stuck in the notification area is left behind rather
  // than waited for without end.
  ~IconAdder() {
    state_->quit = true;
    SetEvent(state_->go.get());
    if (WaitForSingleObject(state_->finished.get(), 30000) == WAIT_OBJECT_0)
      thread_.join();
    else
      thread_.detach();
  }

  bool ready() const { return ready_; }
  void add() { SetEvent(state_->go.get()); }
  // Whether the add has returned, waiting up to timeout_ms for it.
  bool returned(DWORD timeout_ms) { return WaitForSingleObject(state_->added.get(), timeout_ms) == WAIT_OBJECT_0; }
  bool add_succeeded() const { return state_->succeeded; }

 private:
  struct State {
    mjw_handle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    mjw_handle go{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    mjw_handle added{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    mjw_handle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HWND window = nullptr;
    std::atomic<bool> quit{false}, succeeded{false};

    void run() {
      window = CreateWindowExW(0, L"STATIC", L"icon adder", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      SetEvent(ready.get());
      WaitForSingleObject(go.get(), INFINITE);
      if (window && !quit) {
        NOTIFYICONDATAW nid = {};
        nid.cbSize = sizeof nid;
        nid.hWnd = window;
        nid.uID = 1;
        nid.uFlags = NIF_ICON | NIF_TIP;
        nid.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
        wcscpy(nid.szTip, L"icon adder");
        succeeded = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
        SetEvent(added.get());
        if (succeeded) Shell_NotifyIconW(NIM_DELETE, &nid);
      }
      if (window) DestroyWindow(window);
      SetEvent(finished.get());
    }
  };

  std::shared_ptr<State> state_;
  std::thread thread_;
  bool ready_ = false;
};

// Whether the window's thread answers a message within timeout_ms.
bool answers(HWND window, DWORD timeout_ms) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeout_ms, &result) != 0;
}

std::string image_of_process(DWORD pid) {
  mjw_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  char path[MAX_PATH];
  DWORD n = MAX_PATH;
  return process && QueryFullProcessImageNameA(process.get(), 0, path, &n) ? std::string(path, n) : "?";
}

TEST(NotificationArea, AnIconAddWaitsWhileItIsHeldAndGoesThroughOnceLetGo) {
  IconAdder adder;
  ASSERT_TRUE(adder.ready());
  HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(answers(tray, 10000)) << "the notification area is held already";
  {
    NotificationAreaHold hold;
    ASSERT_TRUE(hold.held()) << hold.error();
    EXPECT_EQ(hold.left_over(), 0u);
    std::printf("holding thread %lu of process %lu (%s)\n", hold.thread_id(), hold.process_id(),
                image_of_process(hold.process_id()).c_str());
    adder.add();
    EXPECT_FALSE(adder.returned(2000)) << "NIM_ADD returned while the notification area was held";
    EXPECT_FALSE(answers(tray, 500)) << "the notification area's window answered while held";
    IconAdder late;  // this process may still make windows
    EXPECT_TRUE(late.ready());
    hold.release();
    EXPECT_TRUE(adder.returned(10000)) << "NIM_ADD still waits after the release";
  }
  EXPECT_TRUE(adder.add_succeeded());
  EXPECT_TRUE(answers(tray, 10000));
}

TEST(NotificationArea, AHoldEndsWithItsLeaseAndAHoldLeftBehindIsUndone) {
  HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  ASSERT_NE(tray, nullptr);
  {
    IconAdder adder;
    ASSERT_TRUE(adder.ready());
    NotificationAreaHold hold(1500);  // never released: a test that hangs
    ASSERT_TRUE(hold.held()) << hold.error();
    adder.add();
    EXPECT_FALSE(adder.returned(500));
    EXPECT_TRUE(adder.returned(20000)) << "the lease did not let go";
  }
  // A holder killed while holding leaves the thread suspended.
  {
    NotificationAreaHold dead(60000);
    ASSERT_TRUE(dead.held()) << dead.error();
    mjw_handle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, dead.thread_id()));
    ASSERT_TRUE(thread);
    SuspendThread(thread.get());  // the suspension a killed holder leaves
    dead.release();
    EXPECT_FALSE(answers(tray, 500));
    {
      NotificationAreaHold next;
      EXPECT_TRUE(next.held()) << next.error();
      EXPECT_EQ(next.left_over(), 1u);
    }
    bool answered = answers(tray, 10000);
    if (!answered) ResumeThread(thread.get());  // for the tests after this one
    EXPECT_TRUE(answered) << "the left-over hold was not undone";
  }
}

// Log-off while a request waits on a slow notification area. The agent is
// running nudges with keep-awake; its notification area is held; a stop
// request comes in (its reply not read yet), so the icon's update has to
// wait for the notification area; then the session ends. An agent whose
// window thread waited for the notification area here, or whose pipe thread
// waited for the window thread, would never answer and never end.
TEST_F(AgentTest, LogOffWithARequestWaitingOnASlowNotificationArea) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  ASSERT_EQ(start_with("\"interval_s\":1,\"only_when_idle\":false,\"dry_run\":false,\"keep_awake\":true"), "");
  mjh_reply reply;
  ASSERT_TRUE(status_until(
      &reply, [](const mjh_reply &r) { return r.run.active && r.run.nudges >= 1 && r.keep_awake_held; }, 30));
  HWND window = FindWindowW(kWindowClass, nullptr);
  ASSERT_NE(window, nullptr);

  NotificationAreaHold hold;
  ASSERT_TRUE(hold.held()) << hold.error();
  mjw_file pipe = connect_agent(10000);
  ASSERT_TRUE(pipe);
  ASSERT_TRUE(send_bytes(pipe.get(), "{\"cmd\":\"stop\"}\n"));
  Sleep(500);  // time for the window thread to reach the notification area

  // The session ends, from another thread, each message with its timeout;
  // the notification area stays held meanwhile.
  struct LogOff {
    std::atomic<bool> query_answered{false}, end_answered{false};
    std::atomic<DWORD_PTR> query_result{0};
    std::atomic<ULONGLONG> end_took_ms{0};
  } log_off;
  std::thread session([&log_off, window] {
    DWORD_PTR result = 0;
    log_off.query_answered =
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &result) != 0;
    log_off.query_result = result;
    ULONGLONG begin = GetTickCount64();
    log_off.end_answered =
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &result) != 0;
    log_off.end_took_ms = GetTickCount64() - begin;
  });
  session.join();  // at most ten seconds
  hold.release();

  EXPECT_TRUE(log_off.query_answered) << "WM_QUERYENDSESSION not answered within 5 s";
  EXPECT_EQ(log_off.query_result, static_cast<DWORD_PTR>(TRUE));
  EXPECT_TRUE(log_off.end_answered) << "WM_ENDSESSION not answered within 5 s";
  EXPECT_LT(log_off.end_took_ms, 2000u) << "WM_ENDSESSION took too long";

  // The stop gets its answer: done, refused because the agent is going, or a
  // connection the agent closed; never silence.
  std::string line;
  LineEnd end = read_line_or_end(pipe.get(), &line, 5000);
  pipe.reset();
  EXPECT_TRUE(end != LineEnd::TimedOut) << "the stop request got no answer";
  if (end == LineEnd::Line) {
    EXPECT_TRUE(line == "{\"ok\":true}" || line == "{\"ok\":false,\"error\":\"the agent is shutting down\"}") << line;
  }

  // The run is stopped: with a nudge every second, the idle time grows past
  // several intervals only when they have ended.
  bool quiet = false;
  for (int i = 0; i < 100 && !quiet; i++) {
    LASTINPUTINFO info = {};
    info.cbSize = sizeof info;
    quiet = GetLastInputInfo(&info) && GetTickCount() - info.dwTime >= 4000;
    if (!quiet) Sleep(100);
  }
  EXPECT_TRUE(quiet) << "nudges go on after the session ended";

  // The process ends, by itself or on WM_CLOSE; keep-awake belongs to the
  // process (Wine shows no other process's execution state), so its end is
  // the proof that keep-awake is let go.
  long code = agent.wait_exit(3000);
  if (code == -1) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    code = agent.wait_exit(5000);
  }
  EXPECT_NE(code, -1) << "the agent did not end after the session ended";
}

}  // namespace

// ---- Conditions, policies, resume, the log-on entry ---------------------------------------------

namespace {

// What a Group Policy refresh does: the setting change "Policy", to the agent.
void refresh_policies() {
  HWND window = FindWindowW(kWindowClass, nullptr);
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Policy"), SMTO_ABORTIFHUNG, 10000,
                      &result);
}

}  // namespace

// With a program condition, the run waits until a process of that name runs
// in the session, and stops when it ends.
TEST_F(AgentTest, WhileAProgramRunsTheRunGoesOnAndNoLonger) {
  sleeper_folder folder;
  const std::string exe = folder.copy("mj-render.exe");
  ASSERT_NE(exe, "");
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  ASSERT_EQ(start_with("\"while_running\":\"MJ-RENDER.EXE\",\"interval_s\":1,\"dry_run\":true"), "");
  mjh_reply reply;
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 0);
  EXPECT_STREQ(reply.state, "waiting");
  EXPECT_STREQ(reply.reason, "for MJ-RENDER.EXE");
  {
    sleeper render(exe);
    ASSERT_TRUE(render.started());
    const ULONGLONG started = GetTickCount64();
    ASSERT_TRUE(status_until(
        &reply, [](const mjh_reply &r) { return r.run.active == 1; }, 20));
    printf("the run started %llu ms after the program\n", GetTickCount64() - started);
    EXPECT_STREQ(reply.state, "active");
    render.end();
    ASSERT_TRUE(render.ended(10000));
    const ULONGLONG ended = GetTickCount64();
    ASSERT_TRUE(status_until(
        &reply, [](const mjh_reply &r) { return r.run.active == 0; }, 20));
    printf("the run stopped %llu ms after the program ended\n", GetTickCount64() - ended);
  }
  EXPECT_STREQ(reply.state, "waiting");
  ASSERT_EQ(start_with("\"while_running\":\"any\""), "");
  ASSERT_TRUE(status_until(
      &reply, [](const mjh_reply &r) { return r.run.active == 1; }, 20));
}

// Each policy changes what the agent does while it runs, on a refresh; a
// damaged value is named and changes nothing.
TEST_F(AgentTest, PoliciesApplyWhileTheAgentRunsAndADamagedOneIsNamed) {
  clear_policies();
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  ASSERT_EQ(start_with("\"interval_s\":600,\"keep_awake\":false"), "");
  mjh_reply reply;

  ASSERT_EQ(add_policy("HKCU", "MaxIntervalSeconds", "REG_DWORD", "120"), 0u);
  ASSERT_EQ(add_policy("HKCU", "KeepAwake", "REG_DWORD", "1"), 0u);
  ASSERT_EQ(add_policy("HKCU", "WorkingHours", "REG_SZ", "00:00-24:00"), 0u);
  ASSERT_EQ(add_policy("HKCU", "StartWithWindows", "REG_DWORD", "1"), 0u);
  ASSERT_EQ(add_policy("HKCU", "Allowed", "REG_SZ", "yes"), 0u);  // damaged: not a DWORD
  refresh_policies();
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_EQ(reply.run.interval_s, 120) << "the saved 600 s is used as the maximum";
  EXPECT_EQ(reply.settings.interval_s, 600);
  EXPECT_TRUE(reply.keep_awake_held);
  EXPECT_STREQ(reply.hours, "00:00-24:00");
  EXPECT_NE(run_value(), L"(none)") << "StartWithWindows 1 writes the log-on entry";
  EXPECT_EQ(reply.policy.max_interval_s, 120);
  ASSERT_EQ(reply.policy.damage_count, 1);
  EXPECT_EQ(reply.policy.damage[0].id, MJH_POLICY_ALLOWED);
  EXPECT_NE(start_with("\"interval_s\":300"), "");
  EXPECT_NE(start_with("\"keep_awake\":false"), "");
  EXPECT_NE(start_with("\"hours\":\"09:00-17:00\""), "");
  EXPECT_EQ(start_with("\"interval_s\":60"), "");

  ASSERT_EQ(add_policy("HKCU", "Allowed", "REG_DWORD", "0"), 0u);
  refresh_policies();
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 0);
  EXPECT_FALSE(reply.keep_awake_held);
  EXPECT_STREQ(reply.state, "stopped");
  EXPECT_STREQ(reply.reason, "turned off by your organization");
  EXPECT_NE(start_with(""), "");
  EXPECT_NE(exchange("{\"cmd\":\"nudge\"}\n").find("turned off by your organization"), std::string::npos);

  clear_policies();
  refresh_policies();
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1) << "the user's choice comes back";
  EXPECT_EQ(reply.run.interval_s, 60);
  autostart_off();
}

// A policy written to the registry and nothing else (no refresh broadcast),
// into keys made after the agent started, is followed within seconds; so is
// its removal, with the policy key or with its vendor's key.
TEST_F(AgentTest, PoliciesWrittenWithoutARefreshAreFollowedWithinSeconds) {
  clear_policies();
  // A user who never had a policy: not even Software\Policies.
  reg("delete \"HKCU\\Software\\Policies\" /f");
  ASSERT_NE(reg("query \"HKCU\\Software\\Policies\""), 0u);
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  mjh_reply reply;
  const int seconds = 5;

  ASSERT_EQ(add_policy("HKCU", "Allowed", "REG_DWORD", "0"), 0u);
  EXPECT_TRUE(status_until(
      &reply, [](const mjh_reply &r) { return r.run.active == 0 && std::string(r.state) == "stopped"; }, seconds))
      << "the user's policy, in keys made now";
  EXPECT_STREQ(reply.reason, "turned off by your organization");

  ASSERT_EQ(add_policy("HKLM", "MaxIntervalSeconds", "REG_DWORD", "30"), 0u);
  EXPECT_TRUE(status_until(
      &reply, [](const mjh_reply &r) { return r.policy.max_interval_s == 30; }, seconds))
      << "the machine's policy";

  ASSERT_EQ(reg("delete \"HKCU\\Software\\Policies\\Veltrano\" /f"), 0u);
  EXPECT_TRUE(status_until(
      &reply, [](const mjh_reply &r) { return r.run.active == 1 && r.run.interval_s == 30; }, seconds))
      << "the user's policy removed with its vendor's key";

  clear_policies();
  EXPECT_TRUE(status_until(
      &reply, [](const mjh_reply &r) { return r.policy.max_interval_s == 0 && r.run.interval_s == 60; }, seconds))
      << "the machine's policy key removed";
}

// After a resume from sleep the agent decides again at once and answers.
TEST_F(AgentTest, AResumeFromSleepIsHandledAtOnce) {
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  ASSERT_EQ(start_with("\"keep_awake\":true,\"for\":3600"), "");
  HWND window = FindWindowW(kWindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0, SMTO_ABORTIFHUNG, 5000, &result));
  ASSERT_TRUE(
      SendMessageTimeoutW(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, SMTO_ABORTIFHUNG, 5000, &result));
  EXPECT_EQ(result, static_cast<DWORD_PTR>(TRUE));
  mjh_reply reply;
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.run.active, 1);
  EXPECT_TRUE(reply.keep_awake_held);
  EXPECT_NE(reply.session_end, MJH_NO_TIME);
}

// The machine's log-on entry steps aside where the user has an agent of
// their own (here: their own start with Windows).
TEST_F(AgentTest, TheMachinesLogOnEntryStepsAsideForTheUsersOwn) {
  {
    Agent own(L"--autostart on");
    EXPECT_EQ(own.wait_exit(), 0);
  }
  {
    Agent machine(L"--logon machine");
    EXPECT_EQ(machine.wait_exit(10000), 0) << "it leaves at once";
    EXPECT_EQ(exchange("{\"cmd\":\"status\"}\n", 1000), "") << "and no agent runs";
  }
  autostart_off();
  Agent machine(L"--logon machine");
  mjh_reply reply;
  ASSERT_TRUE(machine.wait_ready(&reply)) << "without one of their own, it is the agent";
}

// A second launch leaves the first agent alone, asks it to show where it is,
// and exits with 0.
TEST_F(AgentTest, ASecondLaunchAsksTheFirstToShowItself) {
  Agent first;
  ASSERT_TRUE(first.wait_ready());
  Agent second;
  EXPECT_EQ(second.wait_exit(15000), 0);
  mjh_reply reply;
  ASSERT_TRUE(status(&reply));
  EXPECT_EQ(reply.pid, first.pid());
  EXPECT_EQ(exchange("{\"cmd\":\"show\"}\n"), "{\"ok\":true}");
}

// ---- The desktop locked, switched away, disconnected ----------------------------------

// Whether the agent's icon shows a tooltip that begins with want within
// timeout_ms.
bool tooltip_begins(NotificationAreaReader &tray, const std::wstring &want, DWORD timeout_ms = 20000) {
  for (ULONGLONG deadline = GetTickCount64() + timeout_ms;;) {
    for (const std::wstring &tip : tray.tooltips())
      if (tip.compare(0, want.size(), want) == 0) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(100);
  }
}

// The session changes Windows announces, sent to the agent's window as
// Windows sends them: the run waits and says why, keeps the system awake for
// keep-awake but lets the display go, tells nothing; it comes back at once,
// its next nudge one interval later.
TEST_F(AgentTest, ALockedOrSwitchedAwayDesktopHoldsTheRunBackSilentlyUntilItIsBack) {
  NotificationAreaReader tray;
  ASSERT_TRUE(tray.ok()) << "the notification area's process cannot be read";
  Agent agent;
  ASSERT_TRUE(agent.wait_ready());
  ASSERT_EQ(start_with("\"keep_awake\":true,\"interval_s\":2,\"only_when_idle\":false,\"dry_run\":true"), "");
  HWND window = FindWindowW(kWindowClass, nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(tooltip_begins(tray, L"Active (dry run): zen every 2 s"));
  BalloonWatch balloons;

  struct Away {
    WPARAM away, back;
    const char *reason;
    const wchar_t *back_tooltip;
  } aways[] = {
      {WTS_SESSION_LOCK, WTS_SESSION_UNLOCK, "the computer is locked", L"Active (dry run): zen every 2 s"},
      {WTS_CONSOLE_DISCONNECT, WTS_CONSOLE_CONNECT, "the desktop is switched away", L"Active (dry run): zen every 2 s"},
      {WTS_REMOTE_DISCONNECT, WTS_REMOTE_CONNECT, "the remote desktop is disconnected",
       L"Active in a remote session (dry run): zen every 2 s"},
  };
  for (const Away &a : aways) {
    SCOPED_TRACE(a.reason);
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutW(window, WM_WTSSESSION_CHANGE, a.away, 0, SMTO_ABORTIFHUNG, 5000, &result));
    mjh_reply reply;
    ASSERT_TRUE(status(&reply));
    EXPECT_STREQ(reply.state, "waiting");
    EXPECT_STREQ(reply.reason, a.reason);
    EXPECT_EQ(reply.run.active, 0);
    EXPECT_TRUE(reply.keep_awake_held) << "the system, for keep-awake";
    EXPECT_FALSE(reply.keep_display_held) << "not the display";
    mjh_text_buffer<1024> sentence;
    mjh_describe_agent_at(&reply, nullptr, 0, sentence);
    EXPECT_NE(std::string(sentence.c_str()).find(std::string("): waiting: ") + a.reason + "; set to"),
              std::string::npos)
        << "mjctl status: " << sentence.c_str();
    wchar_t tooltip[128];
    swprintf(tooltip, 128, L"Waiting: %hs, keeping awake", a.reason);
    EXPECT_TRUE(tooltip_begins(tray, tooltip)) << "the tooltip";

    ASSERT_TRUE(SendMessageTimeoutW(window, WM_WTSSESSION_CHANGE, a.back, 0, SMTO_ABORTIFHUNG, 5000, &result));
    ASSERT_TRUE(status(&reply));
    EXPECT_STREQ(reply.state, "active");
    EXPECT_EQ(reply.run.active, 1);
    EXPECT_EQ(reply.run.nudges, 0) << "a run of its own";
    EXPECT_LE(reply.run.next_nudge_in_s, 2) << "one interval later";
    EXPECT_TRUE(reply.keep_display_held);
    const ULONGLONG back = GetTickCount64();
    ASSERT_TRUE(status_until(
        &reply, [](const mjh_reply &r) { return r.run.nudges >= 1; }, 60));
    std::printf("%s: the first nudge %llu ms after it was back\n", a.reason, GetTickCount64() - back);
    EXPECT_TRUE(tooltip_begins(tray, a.back_tooltip));
  }

  // Every balloon up to now has shown once the agent's next one does.
  const size_t before = balloons.seen().size();
  ASSERT_EQ(exchange("{\"cmd\":\"show\"}\n"), "{\"ok\":true}");
  const std::wstring where = L"It is the mouse in the notification area; right-click it for its menu.";
  std::vector<NotificationAreaReader::Shown> seen;
  for (ULONGLONG deadline = GetTickCount64() + 20000; GetTickCount64() < deadline; Sleep(100)) {
    seen = balloons.seen();
    if (seen.size() > before && seen.back().text == where) break;
  }
  ASSERT_GT(seen.size(), before) << "the shown balloon was not seen";
  for (const NotificationAreaReader::Shown &b : seen) EXPECT_EQ(b.text, where) << "a notification was shown";
}
