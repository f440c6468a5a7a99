#include "agent_client.h"

#include <string.h>

#include "agent_text.h"
#include "clock.h"
#include "handover.h"
#include "output.h"
#include "pipe.h"
#include "protocol.h"
#include "token.h"

namespace mjctl {

namespace {

enum {
  AGENT_CALL_MS = 5000,    // one request and its reply
  AGENT_START_MS = 10000,  // a freshly started agent's first answer
  AGENT_QUIT_MS = 10000,   // the agent's process ended after quit
  AGENT_GRACE_MS = 5000,   // quit --wait: after quit, before the agent's process is ended
  AGENT_POLL_MS = 100,
  START_TRIES = 4,      // a start that fails for a passing reason: tried again...
  START_RETRY_MS = 150  // ...after 150, 300 and 450 ms
};

// Whether a start that failed may work when tried again: a shortage of
// memory or resources, or (under Wine, on a busy machine) a new process that
// ended before it had started, ERROR_INTERNAL_ERROR.
bool passing_start_error(DWORD error) {
  return error == ERROR_INTERNAL_ERROR || error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
         error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_COMMITMENT_LIMIT;
}

// One request to the agent and what came of it.
struct agent_exchange {
  mjw_call_result result = MJW_CALL_FAILED;
  char line[MJH_REPLY_MAX + 1];  // the reply line
  mjh_text_buffer<256> err;      // why there is none
  mjw_pipe_server server;        // who served it
};

// Sends one request (a start's options and schedule keys, or none; to the
// process vetted_pid, when given, whatever its integrity level).
void agent_call(agent_exchange &x, mjh_command cmd, const mjh_options *o = nullptr, unsigned keys = 0,
                const mjh_schedule_request *schedule = nullptr, DWORD vetted_pid = 0) {
  mjh_text_buffer<MJH_REQUEST_MAX + 1> request;
  x.err.clear();
  if (!mjh_request_format(cmd, o, keys, schedule, request) || !request.ok()) {
    x.err.add("cannot write the request");
    x.result = MJW_CALL_FAILED;
    return;
  }
  x.result = mjw_pipe_call(request.view(), x.line, sizeof x.line, AGENT_CALL_MS, &x.server, &x.err, vetted_pid);
}

// The exit code for a call that did not get through; its message on stderr.
int agent_call_failed(const agent_exchange &x) {
  if (x.result == MJW_CALL_UNTRUSTED) return refused("refusing the agent's pipe: ", x.err.view(), "; nothing was sent");
  return refused(x.err.view());
}

// Reads a reply; one that is not ok, or not one at all, is told on stderr.
// Returns EXIT_OK or EXIT_REFUSED.
int agent_reply(const char *line, mjh_reply *reply) {
  if (!mjh_reply_read(line, strlen(line), reply)) return refused("the agent's reply is not understood: ", line);
  if (!reply->ok) return refused("the agent refused: ", reply->error);
  return EXIT_OK;
}

// The agent's state in one sentence; for start, the interval warning goes to
// stderr alone, in place of the sentence's part.
void describe_agent(mjh_reply &reply, bool warn) {
  if (warn) reply.warning[0] = '\0';
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  mjh_text_buffer<1024> text;
  mjh_describe_agent_at(&reply, &zone, mjw_now_utc(), text);
  put(stdout, text.view());
  if (!warn) return;
  fflush(stdout);
  warn_if_interval_unsafe(reply.settings.interval_s, reply.settings.only_when_idle != 0);
}

// Asks for the agent's status (unless asked holds its exchange) and says
// what it does, in one sentence, or prints its reply line as it is (json);
// warn: the interval warning on stderr.
int tell_agent_state(bool json, bool warn, const agent_exchange *asked = nullptr) {
  agent_exchange own;
  if (!asked) agent_call(own, MJH_CMD_STATUS);
  const agent_exchange &x = asked ? *asked : own;
  if (x.result == MJW_CALL_NO_AGENT) return refused("no agent is running in this session (mjctl start starts one)");
  if (x.result != MJW_CALL_OK) return agent_call_failed(x);
  mjh_reply reply;
  if (agent_reply(x.line, &reply) != EXIT_OK) return EXIT_REFUSED;
  if (json) {
    say_now(x.line);
    return EXIT_OK;
  }
  if (!reply.has_run) return refused("the agent's status reply is not understood: ", x.line);
  describe_agent(reply, warn);
  return EXIT_OK;
}

}  // namespace

bool own_folder(mjh_text &out) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;  // with the call's error
  path_text utf8;
  mjw_narrow(path, n, utf8);
  size_t slash = utf8.view().rfind('\\');
  if (slash == std::string_view::npos) {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  out.add(mjh_slice(utf8.view(), 0, slash + 1));
  if (out.ok()) return true;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

bool start_detached(std::string_view path, std::string_view args, std::string_view folder, mjw_handle &process) {
  path_text quoted;
  quoted.add('"', path, '"');
  if (!args.empty()) quoted.add(' ', args);
  wide_text program(path), command_line(quoted.view()), directory(folder);
  if (!program.whole || !command_line.whole || !directory.whole) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  mjw_file nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                           OPEN_EXISTING, 0, nullptr));
  if (!nul) return false;
  // The NUL handle is the only one it inherits: ours (from our caller) are
  // kept from it; mjctl makes no other inheritable handle.
  static_assert(STD_ERROR_HANDLE + 2 == STD_INPUT_HANDLE, "the three, in a row");
  for (DWORD which = STD_ERROR_HANDLE; which <= STD_INPUT_HANDLE; which++)
    SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {sizeof si};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = nul.get();
  mjw_process_information pi;
  // A failure that may pass is tried again, up to START_TRIES times in all.
  for (int tries = 1; !CreateProcessW(program.w, command_line.w, nullptr, nullptr, TRUE,
                                      DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, directory.w, &si, &pi);
       ++tries) {
    if (tries == START_TRIES || !passing_start_error(GetLastError())) return false;
    Sleep(START_RETRY_MS * tries);
  }
  process = pi.take_process();
  return true;
}

namespace {

// Waits until the agent started as process answers. Returns EXIT_OK or
// EXIT_REFUSED (message written).
int wait_for_agent(const mjw_handle &process, std::string_view path) {
  ULONGLONG deadline = GetTickCount64() + AGENT_START_MS;
  for (;;) {
    agent_exchange x;
    agent_call(x, MJH_CMD_STATUS);
    if (x.result == MJW_CALL_OK) return EXIT_OK;
    if (x.result == MJW_CALL_UNTRUSTED) return agent_call_failed(x);
    // An agent that exits with 0 found another one starting: wait for that.
    DWORD code = 0;
    if (WaitForSingleObject(process.get(), AGENT_POLL_MS) == WAIT_OBJECT_0) {
      if (GetExitCodeProcess(process.get(), &code) && code == MJH_AGENT_EXIT_PLACE_HELD)
        return refused("the agent ", path, " cannot start: another process holds its place (its pipe)");
      if (code != MJH_AGENT_EXIT_DONE)
        return refused("the agent ", path, " exited (code ", code, ") before it answered");
      Sleep(AGENT_POLL_MS);
    }
    if (GetTickCount64() >= deadline)
      return refused("the agent ", path, " was started but did not answer within ", AGENT_START_MS / 1000,
                     " s: ", x.err.view());
  }
}

// Starts mjtray.exe from mjctl's own folder and waits until its pipe answers.
int start_agent() {
  path_text folder, path;
  if (!own_folder(folder)) return refused("cannot find mjctl's own folder (error ", GetLastError(), ")");
  path.add(folder.view(), "mjtray.exe");
  mjw_handle process;
  if (!start_detached(path.view(), "--started-by mjctl", folder.view(), process)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return refused("no agent is running, and there is no mjtray.exe beside mjctl to start: ", path.view());
    if (passing_start_error(error))
      return refused("cannot start the agent ", path.view(), " (error ", error, ", the same after ",
                     static_cast<int>(START_TRIES), " tries)");
    return refused("cannot start the agent ", path.view(), " (error ", error, ")");
  }
  return wait_for_agent(process, path.view());
}

// Refuses to start the agent from a process that runs above the desktop's
// user: the agent would run elevated, its icon perhaps not shown, and the
// user's own clients would not trust it (nor this process an agent that
// runs as the user).
int refuse_elevated_start() {
  return refused(
      "this console runs as administrator; the agent must run as you: run mjctl start from a console that is "
      "not elevated, or start Veltrano Mouse Jiggler from the Start menu");
}

const char k_holds_the_pipe[] = ") holds the agent's pipe: no agent was started";
const char k_still_ending[] = ") is still shutting down after 10 s: no agent was started";
static_assert(AGENT_QUIT_MS == 10000, "the message says 10 s");

}  // namespace

// An agent that is ending may have taken the start before it began to end:
// its status, asked next, tells.
int command_start(const mjh_command_line &s) {
  agent_exchange x;
  bool taken = false;  // the agent took the start: its status is asked next
  for (int launches = 0;;) {
    agent_call(x, taken ? MJH_CMD_STATUS : MJH_CMD_START, &s.run, s.run_keys, &s.schedule);
    path_text image;
    const bool known = static_cast<bool>(x.server.process);
    const bool agent = known && process_image(x.server.process.get(), image) &&
                       mjh_equal_ignoring_case(mjh_image_name(image.view()), "mjtray.exe");
    const mjh_answer answer = mjw_answer_of(x.result, x.line);
    const mjh_start_step step = mjh_start_next(answer, mjh_server_seen{known, agent}, launches);
    // A start the agent took is told by its status, which also shows that
    // the agent was not asked to quit meanwhile.
    if (!taken && answer == MJH_ANSWER_OK) {
      taken = true;
      continue;
    }
    if (step == MJH_START_REPLIED) break;  // a refusal is told below, as the status is
    if (step == MJH_START_FAILED) return agent_call_failed(x);
    if (step == MJH_START_HELD)
      return refused("process ", x.server.pid, " (", mjh_image_name(image.view()), k_holds_the_pipe);
    // An agent that is ending gives its place up when its process ends.
    if (step == MJH_START_AFTER_END && WaitForSingleObject(x.server.process.get(), AGENT_QUIT_MS) != WAIT_OBJECT_0)
      return refused("the agent (pid ", x.server.pid, k_still_ending);
    if (mjw_process_elevated()) return refuse_elevated_start();
    if (start_agent() != EXIT_OK) return EXIT_REFUSED;
    taken = false;
    launches++;
  }
  // The agent reads an --until time as mjctl does: say which day it is.
  if (taken && (s.schedule.given & MJH_SCHED_KEY_UNTIL) && s.schedule.until_minute != MJH_UNTIL_END_OF_HOURS) {
    mjh_text_buffer<32> until;
    until_end(s.schedule.until_minute, until);
    say(stdout, "session until ", until.view());
  }
  return tell_agent_state(false, true, &x);
}

namespace {

// Sends a stop or a quit. True when the agent took it; otherwise false with
// the exit code in rc: 0 when no agent runs (nothing_to_do said so).
bool agent_order(agent_exchange &x, mjh_command cmd, const char *nothing_to_do, int &rc) {
  agent_call(x, cmd);
  mjh_reply reply;
  if (x.result == MJW_CALL_NO_AGENT) {
    say_now(nothing_to_do);
    rc = EXIT_OK;
  } else if (x.result != MJW_CALL_OK) {
    rc = agent_call_failed(x);
  } else {
    rc = agent_reply(x.line, &reply);
  }
  return x.result == MJW_CALL_OK && rc == EXIT_OK;
}

}  // namespace

int command_stop() {
  agent_exchange x;
  int rc = EXIT_OK;
  if (!agent_order(x, MJH_CMD_STOP, "no agent is running in this session: nothing to stop", rc)) return rc;
  return tell_agent_state(false, false);
}

int command_quit() {
  // The call opens the agent's process before the request goes out, so that
  // the process waited for below is the one that was asked to quit.
  agent_exchange x;
  int rc = EXIT_OK;
  if (!agent_order(x, MJH_CMD_QUIT, "no agent is running in this session: nothing to quit", rc)) return rc;
  // Gone once its process has ended, not when its pipe has: until then the
  // agent still holds what makes a new agent leave at once.
  if (WaitForSingleObject(x.server.process.get(), AGENT_QUIT_MS) != WAIT_OBJECT_0)
    return refused("the agent said it would quit, but its process (pid ", x.server.pid, ") is still running after ",
                   AGENT_QUIT_MS / 1000, " s");
  say_now("the agent has stopped its run and quit");
  return EXIT_OK;
}

int command_status(const mjh_command_line &s) { return tell_agent_state(s.json, false); }

bool agent_run_active() {
  agent_exchange x;
  agent_call(x, MJH_CMD_STATUS);
  mjh_reply reply;
  return x.result == MJW_CALL_OK && mjh_reply_read(x.line, strlen(x.line), &reply) && reply.ok && reply.has_run &&
         reply.run.active;
}

bool process_image(HANDLE process, mjh_text &out) {
  wchar_t image[MAX_PATH + 16];
  DWORD size = MAX_PATH + 16;
  if (!QueryFullProcessImageNameW(process, 0, image, &size)) return false;
  mjw_narrow(image, size, out);
  return out.ok();
}

bool names_our_agent(std::string_view path) {
  path_text ours;
  if (!own_folder(ours)) return false;
  ours.add("mjtray.exe");
  wide_text a(path), b(ours.view());
  return a.whole && b.whole && CompareStringOrdinal(a.w, -1, b.w, -1, TRUE) == CSTR_EQUAL;
}

mjw_handle agent_process(bool *ours) {
  mjw_file pipe;
  ULONG pid = 0;
  if (mjw_pipe_connect(pipe, AGENT_CALL_MS, nullptr) != MJW_CALL_OK || !GetNamedPipeServerProcessId(pipe.get(), &pid))
    return mjw_handle();
  mjw_handle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  path_text image;
  const bool runs_ours = process && process_image(process.get(), image) && names_our_agent(image.view());
  if (ours) *ours = runs_ours;
  if (!mjh_quit_target_trusted(mjw_server_token(process.get()), mjw_process_level(GetCurrentProcess()), runs_ours))
    process.reset();
  return process;
}

int quit_and_wait(const mjw_handle &process, bool quiet) {
  // Whatever the reply (or none), the process goes: the caller wants it gone.
  DWORD pid = GetProcessId(process.get());
  agent_exchange x;
  agent_call(x, MJH_CMD_QUIT, nullptr, 0, nullptr, pid);
  if (WaitForSingleObject(process.get(), AGENT_GRACE_MS) != WAIT_OBJECT_0) {
    // The error of the call that failed: the end itself, or the wait for it.
    DWORD error = TerminateProcess(process.get(), 1) ? 0 : GetLastError();
    DWORD ended = error ? WAIT_FAILED : WaitForSingleObject(process.get(), AGENT_QUIT_MS);
    if (!error && ended == WAIT_FAILED) error = GetLastError();
    if (!error && ended != WAIT_OBJECT_0) error = ERROR_TIMEOUT;
    if (error) {
      if (!quiet) refused("the agent (process ", pid, ") did not quit and cannot be ended (error ", error, ")");
      return EXIT_REFUSED;
    }
    if (!quiet)
      say(stderr, "mjctl: the agent (process ", pid, ") did not quit within ", AGENT_GRACE_MS / 1000, " s: ended it");
  }
  if (!quiet) say_now("the agent has stopped its run and quit");
  return EXIT_OK;
}

int command_quit_wait(bool quiet) {
  if (!mjw_pipe_exists()) return EXIT_OK;
  mjw_handle process = agent_process();
  if (!process) {
    if (!quiet) refused("cannot open the agent's process: nothing was sent");
    return EXIT_REFUSED;
  }
  return quit_and_wait(process, quiet);
}

}  // namespace mjctl
