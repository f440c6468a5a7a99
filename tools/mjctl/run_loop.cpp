#include "run_loop.h"

#include <windows.h>

#include "agent_client.h"
#include "clock.h"
#include "handle.h"
#include "keep_awake.h"
#include "mouse_jiggler.h"
#include "output.h"
#include "process_watch.h"
#include "report.h"
#include "schedule_text.h"

namespace mjctl {

namespace {

enum stop_reason { STOP_NONE, STOP_TIME_UP, STOP_CTRL_C, STOP_WHILE_ENDED };

// What run --while waits for: a process by its id, or every process of a
// program in this session (looked for once a second, so that copies started
// later count too).
struct while_target {
  mjw_handle process;                  // by id
  const mjh_programs *program;         // by name
  ULONGLONG next_look;                 // by name: when to look again
  mjh_text_buffer<MAX_PATH * 3> what;  // "obs64.exe", or "process 1234" when its name is unknown
  mjh_text_buffer<32> pid_note;        // " (process 1234)" beside a process's name, or ""
};

enum { WHILE_LOOK_MS = 1000 };

// Whether a process of the program runs in this session now (true when the
// processes cannot be listed: the run goes on).
bool program_runs(const mjh_programs &program) {
  bool found = false;
  auto seen = [](const wchar_t *, void *context) {
    *static_cast<bool *>(context) = true;
    return false;
  };
  return !mjw_each_session_program(seen, &found, &program) || found;
}

// Opens the process run --while names by its id; says so and returns
// EXIT_REFUSED when it does not run.
int while_open_process(DWORD pid, while_target &t) {
  t.process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  DWORD error = GetLastError();
  if (t.process && WaitForSingleObject(t.process.get(), 0) != WAIT_TIMEOUT) t.process.reset();
  if (!t.process && error == ERROR_ACCESS_DENIED)
    return refused("--while: process ", pid, " cannot be watched (access denied)");
  if (!t.process) return refused("--while: no process ", pid, " is running");
  path_text image;
  // A full path, as the system gives it: its last part is the program's name.
  std::string_view name = process_image(t.process.get(), image) ? mjh_image_name(image.view()) : std::string_view();
  if (!name.empty() && name.size() < image.size()) {
    t.what.add(name);
    t.pid_note.add(" (process ", pid, ")");
  } else {
    t.what.add("process ", pid);
  }
  return EXIT_OK;
}

// Finds what --while names; says so and returns EXIT_REFUSED when it does
// not run.
int while_open(const mjh_command_line &s, while_target &t) {
  if (s.while_pid) return while_open_process(s.while_pid, t);
  t.what.add(s.while_program.names[0]);
  t.program = &s.while_program;
  t.next_look = GetTickCount64() + WHILE_LOOK_MS;
  if (!program_runs(s.while_program)) return refused("--while: ", t.what.view(), " is not running in this session");
  return EXIT_OK;
}

bool while_ended(while_target &t) {
  if (t.process) return WaitForSingleObject(t.process.get(), 0) == WAIT_OBJECT_0;
  if (GetTickCount64() < t.next_look) return false;
  t.next_look = GetTickCount64() + WHILE_LOOK_MS;
  return !program_runs(*t.program);
}

mjw_handle g_stop_requested;  // set by the console handler
mjw_handle g_run_stopped;     // set once mj_stop has returned

// Runs on a thread of its own. For a close, logoff or shutdown the process
// ends when this returns, so it waits until the run has stopped.
BOOL WINAPI on_console_event(DWORD) {
  SetEvent(g_stop_requested.get());
  WaitForSingleObject(g_run_stopped.get(), 10000);
  return TRUE;
}

// A run as it goes: its ends, and what it has shown.
struct run_state {
  const mjh_command_line *s;
  while_target watched;
  mjh_text_buffer<32> until;  // --until's time, as said
  int64_t until_utc = 0;
  ULONGLONG started = 0, deadline = 0;
  bool live = false;                // the countdown is one line refreshed in place
  bool announce_countdown = true;   // into a pipe: the countdown is due after an event
  mjh_text_buffer<1024> last_line;  // --json: the status line printed last
  mjh_text_buffer<128> shown;       // the countdown last written
  mjh_status prev;
};

// The first lines of a run: what it does and how it ends.
void run_announce(run_state &r, bool keeping_awake) {
  const mjh_command_line &s = *r.s;
  if (s.json) {
    say(stdout, r.last_line.view());
    fflush(stdout);
    return;
  }
  mjh_text_buffer<2048> text;
  text.add("started: ");
  mjh_describe_run(&r.prev, text);
  text.add('\n');
  if (keeping_awake) text.add("keeping the system and display on while the run is active\n");
  if (s.has_while) text.add("running while ", r.watched.what.view(), r.watched.pid_note.view(), " runs\n");
  if (s.schedule.given & MJH_SCHED_KEY_FOR) {
    text.add("stopping after ", s.schedule.for_s, " s");
    if (s.schedule.for_s >= 60) {
      text.add(" (");
      mjh_duration_text(s.schedule.for_s, text);
      text.add(')');
    }
    text.add("; Ctrl+C stops earlier\n");
  } else if (s.schedule.given & MJH_SCHED_KEY_UNTIL) {
    text.add("running until ", r.until.view(), "; Ctrl+C stops earlier\n");
  } else {
    text.add("Ctrl+C stops\n");
  }
  put(stdout, text.view());
  fflush(stdout);
}

// Why the run ends now, or STOP_NONE; waits up to 200 ms for Ctrl+C.
stop_reason run_check_stop(run_state &r) {
  const mjh_command_line &s = *r.s;
  if (WaitForSingleObject(g_stop_requested.get(), 200) == WAIT_OBJECT_0) return STOP_CTRL_C;
  if ((s.schedule.given & MJH_SCHED_KEY_FOR) && GetTickCount64() >= r.deadline) return STOP_TIME_UP;
  if ((s.schedule.given & MJH_SCHED_KEY_UNTIL) && mjw_now_utc() >= r.until_utc) return STOP_TIME_UP;
  if (s.has_while && while_ended(r.watched)) return STOP_WHILE_ENDED;
  return STOP_NONE;
}

// Shows what changed since the last look: each event in a line, and the
// countdown, in place on a console, else as a line after the start and each
// event.
void run_show(run_state &r, const mjh_status &now, bool stopping) {
  mjh_text_buffer<2048> out;
  mjh_text_buffer<16> clock;
  clock_text(clock);
  mjh_text_buffer<2048> events;
  int count = mjh_describe_events(&r.prev, &now, mj_last_error(), clock.c_str(), events);
  mjh_text_buffer<128> countdown;
  mjh_describe_countdown(&now, countdown);
  if (count > 0 || stopping) {
    if (r.live && r.shown.size() > 0) {  // blanks over the countdown's line
      out.add('\r');
      add_spaces(out, r.shown.size());
      out.add('\r');
    }
    r.shown.clear();
    out.add(events.view());
    r.announce_countdown = true;
  }
  if (!stopping && countdown.view() != r.shown.view() && (r.live || r.announce_countdown)) {
    if (r.live) {  // blanks over the rest of a longer line
      out.add('\r', countdown.view());
      if (r.shown.size() > countdown.size()) add_spaces(out, r.shown.size() - countdown.size());
    } else {
      out.add(countdown.view(), '\n');
    }
    r.shown.clear();
    r.shown.add(countdown.view());
    r.announce_countdown = false;
  }
  put(stdout, out.view());
  fflush(stdout);
}

// The last line of a run: how long it ran, why it stopped, its counts.
void run_summary(const run_state &r, const mjh_status &now, stop_reason reason) {
  mjh_text_buffer<256> text;
  text.add("stopped after ", (GetTickCount64() - r.started) / 1000, " s (");
  if (reason == STOP_CTRL_C)
    text.add("Ctrl+C");
  else if (reason == STOP_WHILE_ENDED)
    text.add(r.watched.what.view(), " ended");
  else
    text.add("time is up");
  text.add("): ");
  mjh_describe_counts(&now, text);
  say(stdout, text.view());
  fflush(stdout);
}

// Watches the run until it ends, showing each step. Returns EXIT_OK, or
// EXIT_REFUSED when the DLL's status stopped reading.
int run_loop(run_state &r, mjw_keep_awake &keep_awake) {
  const bool json = r.s->json;
  mjh_text_buffer<1024> line;
  mjh_status now = r.prev;
  stop_reason reason = STOP_NONE;
  while (reason == STOP_NONE) {
    reason = run_check_stop(r);
    if (reason != STOP_NONE) {
      mj_stop();
      mjw_keep_awake_stop(&keep_awake);
    }
    if (!read_status(&now, &line)) {
      mj_stop();
      SetEvent(g_run_stopped.get());
      return EXIT_REFUSED;
    }
    if (json) {
      if (line.view() != r.last_line.view() || reason != STOP_NONE) say_now(line.view());
      r.last_line.clear();
      r.last_line.add(line.view());
      continue;
    }
    run_show(r, now, reason != STOP_NONE);
    r.prev = now;
  }
  SetEvent(g_run_stopped.get());
  if (!json) run_summary(r, now, reason);
  return EXIT_OK;
}

// Ctrl+C, a close, a logoff or a shutdown stops the run before mjctl exits.
bool watch_console_events() {
  g_stop_requested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!g_stop_requested) return false;
  g_run_stopped.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return g_run_stopped && SetConsoleCtrlHandler(on_console_event, TRUE);
}

}  // namespace

int command_run(const mjh_command_line &s) {
  mjh_text_buffer<256> options;
  mjh_options_dll_text(&s.run, options);
  if (!options.ok()) return refused("cannot write the options text");
  run_state r;
  r.s = &s;
  if (s.has_while && while_open(s, r.watched) != EXIT_OK) return EXIT_REFUSED;
  // The agent's nudges are input to this run's DLL as the user's are: a run
  // that nudges only when idle may skip for them.
  if (agent_run_active())
    say(stderr, "mjctl: note: this session's agent is running nudges too; this run goes on beside it",
        s.run.only_when_idle ? ", and counts the agent's nudges as input" : "");
  warn_if_interval_unsafe(s.run.interval_s, s.run.only_when_idle != 0);
  fflush(stderr);  // before the run's lines, also into a pipe
  if (s.schedule.given & MJH_SCHED_KEY_UNTIL) r.until_utc = until_end(s.schedule.until_minute, r.until);
  if (!watch_console_events()) return refused("cannot watch for Ctrl+C (error ", GetLastError(), ")");
  if (!mj_start(options.c_str())) return refused("the DLL did not start the run: ", mj_last_error());
  mjw_keep_awake keep_awake;
  if (s.run.keep_awake && !mjw_keep_awake_start(&keep_awake)) {
    DWORD error = GetLastError();
    mj_stop();
    return refused("cannot keep the system and display on (error ", error, ")");
  }
  r.started = GetTickCount64();
  r.deadline = r.started + static_cast<ULONGLONG>(s.schedule.for_s) * 1000;
  r.live = !s.json && stdout_is_console();
  if (!read_status(&r.prev, &r.last_line)) {
    mj_stop();
    return EXIT_REFUSED;
  }
  run_announce(r, mjw_keep_awake_held(&keep_awake));
  return run_loop(r, keep_awake);
}

}  // namespace mjctl
