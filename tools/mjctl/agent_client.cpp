#include "agent_client.h"

#include <string.h>

#include "agent_text.h"
#include "clock.h"
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
  AGENT_POLL_MS = 100
};

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

// Asks for the agent's status and says what it does, in one sentence, or
// prints its reply line as it is (json); warn: the interval warning on stderr.
int tell_agent_state(bool json, bool warn) {
  agent_exchange x;
  agent_call(x, MJH_CMD_STATUS);
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
  if (n == 0 || n >= MAX_PATH) return false;
  path_text utf8;
  mjw_narrow(path, n, utf8);
  size_t slash = utf8.view().rfind('\\');
  if (slash == std::string_view::npos) return false;
  out.add(mjh_slice(utf8.view(), 0, slash + 1));
  return out.ok();
}

bool start_detached(std::string_view path, std::string_view folder, mjw_handle &process) {
  path_text quoted;
  quoted.add('"', path, '"');
  wide_text program(path), command_line(quoted.view()), directory(folder);
  if (!program.whole || !command_line.whole || !directory.whole) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(program.w, command_line.w, nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                      nullptr, directory.w, &si, &pi))
    return false;
  mjw_handle thread(pi.hThread);
  process.reset(pi.hProcess);
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
      if (GetExitCodeProcess(process.get(), &code) && code != 0)
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
  if (!start_detached(path.view(), folder.view(), process)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return refused("no agent is running, and there is no mjtray.exe beside mjctl to start: ", path.view());
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

}  // namespace

int command_start(const mjh_command_line &s) {
  agent_exchange x;
  agent_call(x, MJH_CMD_START, &s.run, s.run_keys, &s.schedule);
  if (x.result == MJW_CALL_NO_AGENT) {
    if (mjw_process_elevated()) return refuse_elevated_start();
    if (start_agent() != EXIT_OK) return EXIT_REFUSED;
    agent_call(x, MJH_CMD_START, &s.run, s.run_keys, &s.schedule);
  }
  if (x.result != MJW_CALL_OK) return agent_call_failed(x);
  mjh_reply reply;
  if (agent_reply(x.line, &reply) != EXIT_OK) return EXIT_REFUSED;
  // The agent reads an --until time as mjctl does: say which day it is.
  if ((s.schedule.given & MJH_SCHED_KEY_UNTIL) && s.schedule.until_minute != MJH_UNTIL_END_OF_HOURS) {
    mjh_text_buffer<32> until;
    until_end(s.schedule.until_minute, until);
    say(stdout, "session until ", until.view());
  }
  return tell_agent_state(false, true);
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
    if (!TerminateProcess(process.get(), 1) || WaitForSingleObject(process.get(), AGENT_QUIT_MS) != WAIT_OBJECT_0) {
      DWORD error = GetLastError();
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
