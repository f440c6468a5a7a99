// mjctl: the DLL's job from the command line, for people who do not write a
// host, and the remote control of the session's agent (mjtray.exe) over its
// pipe. Linked against the DLL's import library, so Windows loads
// veltrano-mouse-jiggler.dll (from mjctl's folder or the PATH) at start.
// The usage text below is the reference for commands, flags and exit codes.
// Every text mjctl writes is built whole with mjh_text, then written.
#include <stdio.h>
#include <string.h>
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <string_view>

#include "agent_text.h"
#include "clock.h"
#include "conditions.h"
#include "handle.h"
#include "keep_awake.h"
#include "lock_timeout.h"
#include "mouse_jiggler.h"
#include "options.h"
#include "pipe.h"
#include "policy_store.h"
#include "process_watch.h"
#include "protocol.h"
#include "registry.h"
#include "report.h"
#include "schedule_text.h"
#include "text.h"
#include "token.h"
#include "wide.h"

#ifndef MJCTL_VERSION
#define MJCTL_VERSION "unknown"
#endif

namespace {

enum exit_code { EXIT_OK = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

const char k_usage[] =
    "usage: mjctl COMMAND [FLAGS]\n"
    "\n"
    "Keeps this desktop from being treated as idle, with veltrano-mouse-jiggler.dll.\n"
    "\n"
    "commands:\n"
    "  run       nudge on schedule until Ctrl+C (or --for, --until); prints one\n"
    "            line per nudge, skip or failure and a countdown to the next nudge\n"
    "  nudge     make one nudge now and say how it went\n"
    "  idle      print the milliseconds since the last user input\n"
    "  start     have this session's agent (mjtray.exe, started from mjctl's\n"
    "            folder if it is not running) run nudges, and say what it does\n"
    "  stop      have the agent stop its run\n"
    "  status    say what the agent does\n"
    "  quit      have the agent stop its run and exit\n"
    "  version   print the versions of mjctl and the DLL\n"
    "  help      print this text (also -h, --help)\n"
    "\n"
    "flags (run, nudge, start):\n"
    "  --mode zen|move   zen: a move of 0,0 (default); move: dx,dy, back and forth\n"
    "  --dx N, --dy N    pixels of a move nudge, -200 to 200 (default 1, 1)\n"
    "  --dry-run         go through the motions, inject nothing\n"
    "  --options TEXT    one JSON object instead of the flags, with the keys mode,\n"
    "                    interval_s, dx, dy, only_when_idle, dry_run, and for run\n"
    "                    and start keep_awake, e.g. '{\"mode\":\"move\",\"dx\":3}'\n"
    "flags (run, start):\n"
    "  --interval S      seconds between nudges, 1 to 3600 (default 60)\n"
    "  --always          nudge even while the user is active (default: only after\n"
    "                    a whole interval without user input)\n"
    "  --keep-awake      keep the system and display on while the run is active\n"
    "  --for TIME        stop after a while: 90 (seconds), 90s, 45m, 2h or 1h30m,\n"
    "                    up to 2000000 s (default: until Ctrl+C, or stop)\n"
    "  --until HH:MM     stop at that time of day, tomorrow's if it has passed\n"
    "                    today (start also takes end: the end of today's hours)\n"
    "flags (start only):\n"
    "  --idle-only       nudge only after a whole interval without user input\n"
    "  --hours SPANS     working hours the agent keeps, e.g. 08:30-12:00,13:00-17:30\n"
    "                    (it runs inside them, waits outside); any clears them\n"
    "  --days DAYS       the days they start on, e.g. mon-fri, sat,sun, all\n"
    "  --while-running NAMES\n"
    "                    run only while one of these programs runs in this\n"
    "                    session, e.g. obs64.exe,mstsc.exe (at most 16); any\n"
    "                    clears the list\n"
    "  --foreground      with --while-running: only while one of them is in the\n"
    "                    foreground\n"
    "  --on-ac-only      pause the run on battery, resume it when plugged in\n"
    "  --battery-floor N stop below N % battery (5 to 95) until charged above\n"
    "                    N + 5 % or plugged in; 0 turns it off\n"
    "flags (run only):\n"
    "  --while PID|NAME  run until that process ends: a process id, or a program\n"
    "                    running in this session (e.g. obs64.exe: until its last\n"
    "                    copy ends)\n"
    "flags (run, nudge, status):\n"
    "  --json            print raw JSON lines instead of sentences: the DLL's\n"
    "                    status lines, or the agent's status reply\n"
    "flags (quit):\n"
    "  --wait            wait until the agent's process has ended; one still\n"
    "                    there 5 s after quit is ended (that process alone)\n"
    "  --quiet           with --wait: print nothing, the exit code tells\n"
    "\n"
    "On a console the countdown is one line refreshed in place; into a pipe or a\n"
    "file it is a plain line after the start and after each event. With --json,\n"
    "run prints each status line that differs from the one before, and the last\n"
    "one after the run has stopped. Ctrl+C stops the run before mjctl exits.\n"
    "\n"
    "The agent keeps its settings: start without flags resumes them, and flags\n"
    "change only what they name (--idle-only undoes a saved --always; --options\n"
    "'{\"keep_awake\":false}' a saved --keep-awake), --hours and --days\n"
    "included. run works beside the agent. run and start warn (stderr) when the\n"
    "interval cannot keep ahead of the screen lock, and name the largest that can.\n"
    "\n"
    "exit codes: 0 done (a run ended by --for, --until, --while or Ctrl+C\n"
    "included, stop or quit with no agent running); 1 the DLL or the agent\n"
    "refused or failed (its message on stderr), a policy of your organization\n"
    "forbids it, no agent for status, the idle time is unknown, or --while\n"
    "names no running process;\n"
    "2 bad command line.\n";

// ---- Output ------------------------------------------------------------------------

// The longest text mjctl writes at once: a message around an agent's reply.
enum { LINE_MAX_BYTES = MJH_REPLY_MAX + 512 };

// The line being written: one buffer for every message.
mjh_text_buffer<LINE_MAX_BYTES> g_line;

void put(FILE *to, std::string_view text) { fwrite(text.data(), 1, text.size(), to); }

// Writes the line being written, and its end even when it was cut.
void put_line(FILE *to) {
  put(to, g_line.view());
  put(to, "\n");
  g_line.clear();
}

// Writes the parts as one line.
template <typename... Parts>
void say(FILE *to, const Parts &...parts) {
  g_line.add(parts...);
  put_line(to);
}

// A message on stderr for a command that cannot be done; exit code 1.
template <typename... Parts>
int refused(const Parts &...parts) {
  g_line.add("mjctl: ", parts...);
  put_line(stderr);
  return EXIT_REFUSED;
}

// A message on stderr for a command line that does not read; exit code 2.
template <typename... Parts>
int usage_error(const Parts &...parts) {
  g_line.add("mjctl: ", parts...);
  put_line(stderr);
  put(stderr, "try: mjctl --help\n");
  return EXIT_USAGE;
}

// A line of stdout, written at once (a script may be reading it).
void say_now(std::string_view text) {
  say(stdout, text);
  fflush(stdout);
}

void add_spaces(mjh_text &out, size_t n) {
  for (; n > 0; n--) out.add(' ');
}

// A path or name from Windows, as UTF-8.
using path_text = mjh_text_buffer<MAX_PATH * 3 + 32>;

// A text for Windows, widened at the call.
struct wide_text {
  wchar_t w[MAX_PATH + 32];
  bool whole;
  explicit wide_text(std::string_view utf8) : whole(mjw_widen(utf8, w)) {}
};

// ---- Command line ------------------------------------------------------------------

enum command {
  CMD_NONE,
  CMD_RUN,
  CMD_NUDGE,
  CMD_IDLE,
  CMD_START,
  CMD_STOP,
  CMD_STATUS,
  CMD_QUIT,
  CMD_VERSION,
  CMD_HELP,
  // The installer's steps, run from the installed folder (not in the usage
  // text): installer-stop and installer-cleanup when the product is removed
  // (also as the older half of an upgrade), installer-start at the end of an
  // install.
  CMD_INSTALLER_STOP,
  CMD_INSTALLER_START,
  CMD_INSTALLER_CLEANUP,
  CMD_LAST = CMD_INSTALLER_CLEANUP
};

const char *const k_command_names[] = {"",
                                       "run",
                                       "nudge",
                                       "idle",
                                       "start",
                                       "stop",
                                       "status",
                                       "quit",
                                       "version",
                                       "help",
                                       "installer-stop",
                                       "installer-start",
                                       "installer-cleanup"};

// The flags from F_MODE to F_IDLE_ONLY set options: --options replaces them.
enum flag {
  F_MODE,
  F_INTERVAL,
  F_DX,
  F_DY,
  F_ALWAYS,
  F_DRY_RUN,
  F_KEEP_AWAKE,
  F_IDLE_ONLY,
  F_OPTIONS,
  F_JSON,
  F_FOR,
  F_UNTIL,
  F_HOURS,
  F_DAYS,
  F_WAIT,
  F_QUIET,
  F_WHILE,
  F_WHILE_RUNNING,
  F_FOREGROUND,
  F_ON_AC_ONLY,
  F_BATTERY_FLOOR,
  F_COUNT
};

enum {
  FOR_RUN = 1 << CMD_RUN,
  FOR_NUDGE = 1 << CMD_NUDGE,
  FOR_START = 1 << CMD_START,
  FOR_STATUS = 1 << CMD_STATUS,
  FOR_QUIT = 1 << CMD_QUIT
};

struct flag_def {
  const char *name;
  bool takes_value;
  int commands;      // the commands it applies to
  const char *unit;  // numbers: what they count, and their range
  int lo, hi;
};

const flag_def k_flags[F_COUNT] = {
    {"--mode", true, FOR_RUN | FOR_NUDGE | FOR_START, nullptr, 0, 0},
    {"--interval", true, FOR_RUN | FOR_START, "seconds", 1, 3600},
    {"--dx", true, FOR_RUN | FOR_NUDGE | FOR_START, "pixels", -200, 200},
    {"--dy", true, FOR_RUN | FOR_NUDGE | FOR_START, "pixels", -200, 200},
    {"--always", false, FOR_RUN | FOR_START, nullptr, 0, 0},
    {"--dry-run", false, FOR_RUN | FOR_NUDGE | FOR_START, nullptr, 0, 0},
    {"--keep-awake", false, FOR_RUN | FOR_START, nullptr, 0, 0},
    {"--idle-only", false, FOR_START, nullptr, 0, 0},
    {"--options", true, FOR_RUN | FOR_NUDGE | FOR_START, nullptr, 0, 0},
    {"--json", false, FOR_RUN | FOR_NUDGE | FOR_STATUS, nullptr, 0, 0},
    {"--for", true, FOR_RUN | FOR_START, nullptr, 0, 0},
    {"--until", true, FOR_RUN | FOR_START, nullptr, 0, 0},
    {"--hours", true, FOR_START, nullptr, 0, 0},
    {"--days", true, FOR_START, nullptr, 0, 0},
    {"--wait", false, FOR_QUIT, nullptr, 0, 0},
    {"--quiet", false, FOR_QUIT, nullptr, 0, 0},
    {"--while", true, FOR_RUN, nullptr, 0, 0},
    {"--while-running", true, FOR_START, nullptr, 0, 0},
    {"--foreground", false, FOR_START, nullptr, 0, 0},
    {"--on-ac-only", false, FOR_START, nullptr, 0, 0},
    {"--battery-floor", true, FOR_START, nullptr, 0, 0},
};

struct settings {
  command cmd;
  const char *operands[2];        // the installer's steps: their words after the command
  bool given[F_COUNT];            // the flags given
  mj_mode mode;                   // --mode
  int number[F_COUNT];            // the values of the number flags
  const char *options;            // --options
  mjh_options run;                // the run's options: the defaults, then the flags or --options
  unsigned run_keys;              // the keys the flags or --options named
  mjh_schedule_request schedule;  // --for, --until, --hours, --days, the conditions (and start's --options)
  DWORD while_pid;                // --while: a process id, or 0 for
  mjh_programs while_program;     // ...one program name
};

// Reads a whole decimal number from lo to hi, signed or not; anything else is
// refused.
bool read_whole(std::string_view text, int lo, int hi, int *out) {
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text = mjh_slice(text, 1);
  if (text.empty() || text.size() > 9) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

int find_flag(std::string_view name) {
  for (int f = 0; f < F_COUNT; f++)
    if (name == k_flags[f].name) return f;
  return -1;
}

// --while: a process id (digits alone) or one program name.
int read_while(std::string_view value, settings &s) {
  size_t digits = 0;
  while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9') digits++;
  if (digits > 0 && digits == value.size()) {
    unsigned long long pid = 0;
    for (size_t i = 0; i < digits && digits <= 10; i++) pid = pid * 10 + static_cast<unsigned>(value[i] - '0');
    if (pid == 0 || pid > 0xffffffffull) return usage_error("--while: \"", value, "\" is not a process id");
    s.while_pid = static_cast<DWORD>(pid);
    return EXIT_OK;
  }
  const char *one = "--while takes one process id or one program name, e.g. 1234 or obs64.exe";
  if (value.find_first_not_of(" \t") == std::string_view::npos) return usage_error(one);
  mjh_text_buffer<256> err;
  if (!mjh_programs_parse(value, &s.while_program, &err)) return usage_error("--while: ", err.view());
  if (s.while_program.count != 1) return usage_error(one);
  return EXIT_OK;
}

// The schedule's flags: --for, --until, --hours, --days.
int read_schedule_flag(int f, const char *value, settings &s) {
  mjh_text_buffer<256> err;
  mjh_schedule_request &r = s.schedule;
  if (f == F_FOR) {
    if (!mjh_duration_parse(value, &r.for_s, &err)) return usage_error("--for: ", err.view());
    r.given |= MJH_SCHED_KEY_FOR;
  } else if (f == F_UNTIL) {
    if (strcmp(value, "end") == 0)
      r.until_minute = MJH_UNTIL_END_OF_HOURS;
    else if (!mjh_time_of_day_parse(value, &r.until_minute, &err))
      return usage_error("--until: ", err.view());
    r.given |= MJH_SCHED_KEY_UNTIL;
  } else if (f == F_HOURS) {
    if (!mjh_hours_parse(value, &r.hours, &err)) return usage_error("--hours: ", err.view());
    r.given |= MJH_SCHED_KEY_HOURS;
  } else {
    if (!mjh_days_parse(value, &r.hours.days, &err)) return usage_error("--days: ", err.view());
    r.given |= MJH_SCHED_KEY_DAYS;
  }
  return EXIT_OK;
}

// The conditions' flags with a value: --while-running, --battery-floor.
int read_condition_flag(int f, const char *value, settings &s) {
  mjh_schedule_request &r = s.schedule;
  if (f == F_WHILE_RUNNING) {
    mjh_text_buffer<256> err;
    if (!mjh_programs_parse(value, &r.programs, &err)) return usage_error("--while-running: ", err.view());
    r.given |= MJH_SCHED_KEY_WHILE_RUNNING;
    return EXIT_OK;
  }
  if (!read_whole(value, 0, MJH_BATTERY_STOP_MAX, &r.battery_floor) ||
      !mjh_battery_stop_valid(r.battery_floor, nullptr))
    return usage_error("--battery-floor needs a whole percent from 5 to 95, or 0 to turn it off, not \"", value, '"');
  r.given |= MJH_SCHED_KEY_BATTERY_FLOOR;
  return EXIT_OK;
}

// The value of flag f.
int read_flag_value(int f, std::string_view name, const char *value, settings &s) {
  const flag_def &def = k_flags[f];
  if (f == F_FOR || f == F_UNTIL || f == F_HOURS || f == F_DAYS) return read_schedule_flag(f, value, s);
  if (f == F_WHILE_RUNNING || f == F_BATTERY_FLOOR) return read_condition_flag(f, value, s);
  if (f == F_WHILE) return read_while(value, s);
  if (f == F_MODE) {
    if (!mj_mode_read(value, strlen(value), &s.mode))
      return usage_error("--mode needs zen or move, not \"", value, '"');
  } else if (f == F_OPTIONS) {
    s.options = value;
  } else if (def.unit && !read_whole(value, def.lo, def.hi, &s.number[f])) {
    return usage_error(name, " needs a whole number of ", def.unit, " from ", def.lo, " to ", def.hi, ", not \"", value,
                       '"');
  }
  return EXIT_OK;
}

// Reads one flag at argv[i], with its value after '=' or in the next
// argument (i then moves on to it). Returns EXIT_OK or EXIT_USAGE (message
// written).
int parse_flag(int argc, char **argv, int &i, settings &s) {
  const char *arg = argv[i];
  const char *eq = strchr(arg, '=');
  std::string_view name(arg, eq ? static_cast<size_t>(eq - arg) : strlen(arg));
  if (name.size() >= 32) return usage_error("unknown flag \"", arg, '"');
  int f = find_flag(name);
  if (f < 0) return usage_error("unknown flag \"", name, '"');
  const char *value = eq ? eq + 1 : nullptr;
  if (k_flags[f].takes_value && !value) {
    if (i + 1 >= argc) return usage_error(name, " needs a value");
    value = argv[++i];
  }
  if (!k_flags[f].takes_value && value) return usage_error(name, " takes no value");
  s.given[f] = true;
  if (f == F_FOREGROUND) {
    s.schedule.foreground = true;
    s.schedule.given |= MJH_SCHED_KEY_FOREGROUND;
  } else if (f == F_ON_AC_ONLY) {
    s.schedule.ac_only = true;
    s.schedule.given |= MJH_SCHED_KEY_AC_ONLY;
  }
  return value ? read_flag_value(f, name, value, s) : EXIT_OK;
}

// A start's --options text, which may carry the schedule's keys too; the
// flags may not name them again.
int read_start_options(settings &s) {
  mjh_schedule_request text;
  mjh_schedule_request_none(&text);
  mjh_text_buffer<256> err;
  if (!mjh_start_options_parse(s.options, strlen(s.options), &s.run, &s.run_keys, &text, &err))
    return usage_error("--options: ", err.view());
  mjh_schedule_request &r = s.schedule;
  if (text.given & r.given)
    return usage_error("--options names a schedule or condition key that a flag names too: give it once");
  if (text.given & MJH_SCHED_KEY_HOURS) {
    r.hours.span_count = text.hours.span_count;
    for (int i = 0; i < text.hours.span_count; i++) r.hours.spans[i] = text.hours.spans[i];
  }
  if (text.given & MJH_SCHED_KEY_DAYS) r.hours.days = text.hours.days;
  if (text.given & MJH_SCHED_KEY_FOR) r.for_s = text.for_s;
  if (text.given & MJH_SCHED_KEY_UNTIL) r.until_minute = text.until_minute;
  if (text.given & MJH_SCHED_KEY_WHILE_RUNNING) r.programs = text.programs;
  if (text.given & MJH_SCHED_KEY_FOREGROUND) r.foreground = text.foreground;
  if (text.given & MJH_SCHED_KEY_AC_ONLY) r.ac_only = text.ac_only;
  if (text.given & MJH_SCHED_KEY_BATTERY_FLOOR) r.battery_floor = text.battery_floor;
  r.given |= text.given;
  if ((r.given & MJH_SCHED_KEY_FOR) && (r.given & MJH_SCHED_KEY_UNTIL))
    return usage_error("--for and --until exclude each other");
  return EXIT_OK;
}

// The options the flags name, over the defaults.
void read_option_flags(settings &s) {
  static const struct {
    flag f;
    unsigned key;
  } k_option_flags[] = {{F_INTERVAL, MJH_KEY_INTERVAL_S},
                        {F_DX, MJH_KEY_DX},
                        {F_DY, MJH_KEY_DY},
                        {F_ALWAYS, MJH_KEY_ONLY_WHEN_IDLE},
                        {F_IDLE_ONLY, MJH_KEY_ONLY_WHEN_IDLE},
                        {F_DRY_RUN, MJH_KEY_DRY_RUN},
                        {F_KEEP_AWAKE, MJH_KEY_KEEP_AWAKE}};
  mjh_options &o = s.run;
  if (s.given[F_MODE]) {
    o.mode = s.mode;
    s.run_keys |= MJH_KEY_MODE;
  }
  if (s.given[F_INTERVAL]) o.interval_s = s.number[F_INTERVAL];
  if (s.given[F_DX]) o.dx = s.number[F_DX];
  if (s.given[F_DY]) o.dy = s.number[F_DY];
  if (s.given[F_ALWAYS]) o.only_when_idle = 0;
  if (s.given[F_IDLE_ONLY]) o.only_when_idle = 1;
  if (s.given[F_DRY_RUN]) o.dry_run = 1;
  if (s.given[F_KEEP_AWAKE]) o.keep_awake = 1;
  for (const auto &k : k_option_flags)
    if (s.given[k.f]) s.run_keys |= k.key;
}

// The run's options: the defaults, with the keys the flags or --options name.
// --options is read strictly: one JSON object of the keys the command takes,
// each of the right type and range. Returns EXIT_OK or EXIT_USAGE.
int read_run_options(settings &s) {
  mjh_options_default(&s.run);
  s.run_keys = 0;
  if (!s.given[F_OPTIONS]) {
    read_option_flags(s);
    return EXIT_OK;
  }
  if (s.cmd == CMD_START) return read_start_options(s);
  unsigned allowed = s.cmd == CMD_NUDGE ? MJH_KEYS_DLL : MJH_KEYS_ALL;
  mjh_text_buffer<256> err;
  if (!mjh_options_parse(s.options, strlen(s.options), allowed, &s.run, &s.run_keys, &err))
    return usage_error("--options: ", err.view());
  return EXIT_OK;
}

// The command named by arg, or CMD_NONE.
command find_command(const char *arg) {
  for (int c = CMD_RUN; c <= CMD_LAST; c++)
    if (strcmp(arg, k_command_names[c]) == 0) return static_cast<command>(c);
  return CMD_NONE;
}

// The rules between the flags given and the command. Returns EXIT_OK or
// EXIT_USAGE.
int check_flags(const settings &s) {
  for (int f = 0; f < F_COUNT; f++)
    if (s.given[f] && !(k_flags[f].commands & (1 << s.cmd)))
      return usage_error(k_flags[f].name, " does not apply to ", k_command_names[s.cmd]);
  if (s.given[F_OPTIONS]) {
    for (int f = F_MODE; f <= F_IDLE_ONLY; f++)
      if (s.given[f])
        return usage_error("--options cannot be combined with ", k_flags[f].name, ": put it in the options text");
  }
  if (s.given[F_QUIET] && !s.given[F_WAIT]) return usage_error("--quiet goes with --wait");
  if (s.given[F_ALWAYS] && s.given[F_IDLE_ONLY]) return usage_error("--always and --idle-only contradict each other");
  if (s.given[F_FOR] && s.given[F_UNTIL]) return usage_error("--for and --until exclude each other");
  if (s.cmd == CMD_RUN && s.given[F_UNTIL] && s.schedule.until_minute == MJH_UNTIL_END_OF_HOURS)
    return usage_error("--until end (the end of today's working hours) is for start: run has no working hours");
  return EXIT_OK;
}

// Parses argv into s. Returns EXIT_OK or EXIT_USAGE (message written).
int parse_command_line(int argc, char **argv, settings &s) {
  s = settings();
  mjh_schedule_request_none(&s.schedule);
  mjh_programs_none(&s.while_program);
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      s.cmd = CMD_HELP;
      return EXIT_OK;
    }
    if (arg[0] == '-') {
      if (parse_flag(argc, argv, i, s) != EXIT_OK) return EXIT_USAGE;
    } else if (s.cmd >= CMD_INSTALLER_STOP && !s.operands[1]) {
      s.operands[s.operands[0] ? 1 : 0] = arg;
    } else if (s.cmd != CMD_NONE) {
      return usage_error("unexpected argument \"", arg, '"');
    } else if ((s.cmd = find_command(arg)) == CMD_NONE) {
      return usage_error("unknown command \"", arg, '"');
    }
  }
  if (s.cmd == CMD_NONE) return usage_error("no command given");
  if (check_flags(s) != EXIT_OK) return EXIT_USAGE;
  return read_run_options(s);
}

// ---- Policies ----------------------------------------------------------------------

// The organization's policies for run, nudge and start: refused (exit code 1)
// or allowed, a run's options then as the policies make them.
int check_policies(settings &s) {
  mjh_policy_command c = s.cmd == CMD_RUN     ? MJH_POLICY_FOR_RUN
                         : s.cmd == CMD_NUDGE ? MJH_POLICY_FOR_NUDGE
                                              : MJH_POLICY_FOR_START;
  mjh_policy policy;
  mjw_policy_store_read(&policy);
  mjh_text_buffer<256> why;
  if (!mjh_policy_check_command(policy, c, &s.run, s.run_keys, s.schedule.given, &why)) return refused(why.view());
  return EXIT_OK;
}

// ---- The DLL's status and the clock ------------------------------------------------

// The local time of day, "12:00:05".
void clock_text(mjh_text &out) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  out.add(mjh_pad2{t.wHour}, ':', mjh_pad2{t.wMinute}, ':', mjh_pad2{t.wSecond});
}

bool stdout_is_console() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// The DLL's status line, read (copy, when given, gets it as it is); false,
// with a message, for a line the DLL should never give.
bool read_status(mjh_status *s, mjh_text *copy) {
  const char *line = mj_status();
  if (copy) copy->clear();
  if (copy) copy->add(line);
  if (mjh_status_read(line, s)) return true;
  say(stderr, "mjctl: cannot read the DLL's status line: ", line);
  return false;
}

// One line on stderr when nudges every interval_s cannot keep ahead of the
// screen lock, screen saver or display-off timeout now in force.
void warn_if_interval_unsafe(int interval_s, bool only_when_idle) {
  mjw_lock_timeout lock;
  mjw_lock_timeout_read(&lock);
  mjh_text_buffer<256> warning;
  mjh_interval_warning_of(interval_s, only_when_idle, lock.seconds, lock.kind, warning);
  if (warning.size()) say(stderr, "mjctl: warning: ", warning.view());
}

// The end of an --until session from now, in this computer's zone, and how
// it reads: "17:30" or "17:30 tomorrow" (the time has passed today).
int64_t until_end(int minute, mjh_text &text) {
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  mjh_session session;
  bool tomorrow = false;
  mjh_session_until(&session, &zone, mjw_now_utc(), minute, &tomorrow);
  text.add(mjh_pad2{minute / 60}, ':', mjh_pad2{minute % 60}, tomorrow ? " tomorrow" : "");
  return session.end;
}

// ---- The agent ---------------------------------------------------------------------

enum {
  AGENT_CALL_MS = 5000,    // one request and its reply
  AGENT_START_MS = 10000,  // a freshly started agent's first answer
  AGENT_QUIT_MS = 10000,   // the agent's process ended after quit
  AGENT_GRACE_MS = 5000,   // quit --wait: after quit, before the agent's process is ended
  AGENT_POLL_MS = 100,
  START_TRIES = 4,      // a start that fails for a passing reason: tried again...
  START_RETRY_MS = 150  // ...after 150, 300 and 450 ms
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

// This mjctl's folder, with its final backslash.
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

// Whether a start that failed may work when tried again: a shortage of
// memory or resources, or (under Wine, on a busy machine) a new process that
// ended before it had started, ERROR_INTERNAL_ERROR.
bool passing_start_error(DWORD error) {
  return error == ERROR_INTERNAL_ERROR || error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
         error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_COMMITMENT_LIMIT;
}

// Starts the program at path from folder, on its own (no console, no handles
// of ours); process gets it. A failure that may pass is tried again, up to
// START_TRIES times in all; GetLastError tells why it did not start.
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
  for (int tries = 1; !CreateProcessW(program.w, command_line.w, nullptr, nullptr, FALSE,
                                      DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, directory.w, &si, &pi);
       ++tries) {
    if (tries == START_TRIES || !passing_start_error(GetLastError())) return false;
    Sleep(START_RETRY_MS * tries);
  }
  mjw_handle thread(pi.hThread);
  process.reset(pi.hProcess);
  return true;
}

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

int command_start(const settings &s) {
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

int command_status(const settings &s) { return tell_agent_state(s.given[F_JSON], false); }

// Whether this session's agent answers that its run is active.
bool agent_run_active() {
  agent_exchange x;
  agent_call(x, MJH_CMD_STATUS);
  mjh_reply reply;
  return x.result == MJW_CALL_OK && mjh_reply_read(x.line, strlen(x.line), &reply) && reply.ok && reply.has_run &&
         reply.run.active;
}

// ---- quit --wait, and the installer's steps ------------------------------------------

// The image of process, as UTF-8.
bool process_image(HANDLE process, mjh_text &out) {
  wchar_t image[MAX_PATH + 16];
  DWORD size = MAX_PATH + 16;
  if (!QueryFullProcessImageNameW(process, 0, image, &size)) return false;
  mjw_narrow(image, size, out);
  return out.ok();
}

// Whether path names the mjtray.exe beside this mjctl (as Windows compares
// file names: ignoring case).
bool names_our_agent(std::string_view path) {
  path_text ours;
  if (!own_folder(ours)) return false;
  ours.add("mjtray.exe");
  wide_text a(path), b(ours.view());
  return a.whole && b.whole && CompareStringOrdinal(a.w, -1, b.w, -1, TRUE) == CSTR_EQUAL;
}

// The process that serves this session's agent pipe, found on a connection of
// its own before anything is sent, and opened to wait for it and end it. An
// empty handle: no agent, or one this process does not trust to be asked to
// quit and ended (mjh_quit_target_trusted).
mjw_handle agent_process(bool *ours = nullptr) {
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

// Tells the agent of process `process` to quit and waits until that process
// has ended; still there AGENT_GRACE_MS later, it is ended, and no other.
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

// quit --wait: nothing to say when no agent is running.
int command_quit_wait(bool quiet) {
  if (!mjw_pipe_exists()) return EXIT_OK;
  mjw_handle process = agent_process();
  if (!process) {
    if (!quiet) refused("cannot open the agent's process: nothing was sent");
    return EXIT_REFUSED;
  }
  return quit_and_wait(process, quiet);
}

const wchar_t k_vendor_key[] = L"Software\\Veltrano";
// The installer's record, for the length of an upgrade, that it stopped the
// agent started from a folder (a value named by the folder): volatile, so it
// never outlives the log-on, and read only by installer-start.
const wchar_t k_restart_key[] = MJW_SETTINGS_KEY L"\\Restart after install";

// The snapshot's entry of process pid.
bool find_process(HANDLE snapshot, DWORD pid, PROCESSENTRY32W *e) {
  *e = {sizeof *e};
  for (BOOL more = Process32FirstW(snapshot, e); more; more = Process32NextW(snapshot, e))
    if (e->th32ProcessID == pid) return true;
  return false;
}

bool is_msiexec(const PROCESSENTRY32W &e) {
  return CompareStringOrdinal(e.szExeFile, -1, L"msiexec.exe", -1, TRUE) == CSTR_EQUAL;
}

// Whether this step runs for the older half of an upgrade. Windows tells the
// older version's removal UPGRADINGPRODUCTCODE (the operand); Wine does not,
// but removes it with a msiexec of its own started by the newer version's:
// a step whose parent and grandparent are both msiexec. Nothing is stored,
// so an upgrade that stops half-way changes no later removal.
bool part_of_upgrade(const char *upgrading_product) {
  if (upgrading_product && upgrading_product[0]) return true;
  mjw_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W self, parent, grandparent;
  return find_process(snapshot.get(), GetCurrentProcessId(), &self) &&
         find_process(snapshot.get(), self.th32ParentProcessID, &parent) && is_msiexec(parent) &&
         find_process(snapshot.get(), parent.th32ParentProcessID, &grandparent) && is_msiexec(grandparent);
}

// Deletes key (under HKCU) when it holds no values and no subkeys.
void delete_if_empty(const wchar_t *name) {
  mjw_key key;
  DWORD subkeys = 1, values = 1;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, name, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS ||
      RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return;
  key.reset();
  if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, name);
}

// Removes the restart record of this folder, and its key when empty.
void forget_restart(const wchar_t *folder) {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, k_restart_key, folder);
  delete_if_empty(k_restart_key);
}

// installer-stop [UPGRADINGPRODUCTCODE]: before the files go, the agent of
// this user and session, when it runs the mjtray.exe beside this mjctl,
// quits (and is waited for); an agent from elsewhere is left alone. For an
// upgrade, the newer version's installer-start starts it again. Prints
// nothing.
int command_installer_stop(const settings &s) {
  path_text folder;
  bool ours = false;
  mjw_handle process = agent_process(&ours);
  if (!process || !ours || !own_folder(folder)) return EXIT_OK;
  wide_text value_name(folder.view());
  mjw_key key;
  DWORD one = 1;
  if (part_of_upgrade(s.operands[0]) && value_name.whole &&
      RegCreateKeyExW(HKEY_CURRENT_USER, k_restart_key, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr,
                      key.receive(), nullptr) == ERROR_SUCCESS)
    RegSetValueExW(key.get(), value_name.w, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), sizeof one);
  return quit_and_wait(process, true);
}

// installer-start: at the end of an install, starts the mjtray.exe beside
// this mjctl again when installer-stop stopped it for the upgrade. Prints
// nothing.
int command_installer_start() {
  path_text folder, path;
  if (!own_folder(folder)) return EXIT_OK;
  wide_text value_name(folder.view());
  DWORD value = 0, size = sizeof value;
  if (!value_name.whole || RegGetValueW(HKEY_CURRENT_USER, k_restart_key, value_name.w, RRF_RT_REG_DWORD, nullptr,
                                        &value, &size) != ERROR_SUCCESS)
    return EXIT_OK;
  forget_restart(value_name.w);
  // An installer that runs above the desktop (an administrator's elevated
  // msiexec) would start an elevated agent: it comes back at the next log-on.
  if (mjw_process_elevated()) return EXIT_OK;
  path.add(folder.view(), "mjtray.exe");
  mjw_handle process;
  return start_detached(path.view(), folder.view(), process) ? EXIT_OK : EXIT_REFUSED;
}

// The program a Run value's command names: "path" --flags, or a bare path.
std::string_view command_program(std::string_view command) {
  if (command.empty() || command[0] != '"') return command;
  size_t end = command.find('"', 1);
  return end == std::string_view::npos ? std::string_view() : mjh_slice(command, 1, end - 1);
}

// installer-cleanup user|machine [UPGRADINGPRODUCTCODE]: when the product
// goes for good (not for an upgrade): the user's start with Windows, when it
// names the mjtray.exe beside this mjctl (a value naming another install
// stays); for the per-user product also the agent's settings, which are the
// user's own and go with it (a per-machine product leaves every user's). The
// package's tables cannot tell an upgrade under Wine, hence this step.
// Prints nothing.
int command_installer_cleanup(const settings &s) {
  path_text folder, command;
  if (!own_folder(folder) || part_of_upgrade(s.operands[1])) return EXIT_OK;
  if (s.operands[0] && strcmp(s.operands[0], "user") == 0) {
    RegDeleteTreeW(HKEY_CURRENT_USER, MJW_SETTINGS_KEY);
    RegDeleteKeyW(HKEY_CURRENT_USER, MJW_SETTINGS_KEY);
    delete_if_empty(k_vendor_key);
  } else {
    wide_text value_name(folder.view());
    if (value_name.whole) forget_restart(value_name.w);
  }
  wchar_t value[MAX_PATH + 64];
  DWORD size = sizeof value - sizeof value[0];
  if (RegGetValueW(HKEY_CURRENT_USER, MJW_RUN_KEY, MJW_RUN_VALUE, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, value,
                   &size) != ERROR_SUCCESS)
    return EXIT_OK;
  mjw_narrow(value, command);
  if (!command.ok() || !names_our_agent(command_program(command.view()))) return EXIT_OK;
  mjw_key key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, MJW_RUN_KEY, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS)
    RegDeleteValueW(key.get(), MJW_RUN_VALUE);
  return EXIT_OK;
}

// ---- run ---------------------------------------------------------------------------

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
int while_open(const settings &s, while_target &t) {
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
  const settings *s;
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
  const settings &s = *r.s;
  if (s.given[F_JSON]) {
    say(stdout, r.last_line.view());
    fflush(stdout);
    return;
  }
  mjh_text_buffer<2048> text;
  text.add("started: ");
  mjh_describe_run(&r.prev, text);
  text.add('\n');
  if (keeping_awake) text.add("keeping the system and display on while the run is active\n");
  if (s.given[F_WHILE]) text.add("running while ", r.watched.what.view(), r.watched.pid_note.view(), " runs\n");
  if (s.given[F_FOR]) {
    text.add("stopping after ", s.schedule.for_s, " s");
    if (s.schedule.for_s >= 60) {
      text.add(" (");
      mjh_duration_text(s.schedule.for_s, text);
      text.add(')');
    }
    text.add("; Ctrl+C stops earlier\n");
  } else if (s.given[F_UNTIL]) {
    text.add("running until ", r.until.view(), "; Ctrl+C stops earlier\n");
  } else {
    text.add("Ctrl+C stops\n");
  }
  put(stdout, text.view());
  fflush(stdout);
}

// Why the run ends now, or STOP_NONE; waits up to 200 ms for Ctrl+C.
stop_reason run_check_stop(run_state &r) {
  const settings &s = *r.s;
  if (WaitForSingleObject(g_stop_requested.get(), 200) == WAIT_OBJECT_0) return STOP_CTRL_C;
  if (s.given[F_FOR] && GetTickCount64() >= r.deadline) return STOP_TIME_UP;
  if (s.given[F_UNTIL] && mjw_now_utc() >= r.until_utc) return STOP_TIME_UP;
  if (s.given[F_WHILE] && while_ended(r.watched)) return STOP_WHILE_ENDED;
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
  const bool json = r.s->given[F_JSON];
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
  g_run_stopped.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return g_stop_requested && g_run_stopped && SetConsoleCtrlHandler(on_console_event, TRUE);
}

int command_run(const settings &s) {
  mjh_text_buffer<256> options;
  mjh_options_dll_text(&s.run, options);
  if (!options.ok()) return refused("cannot write the options text");
  run_state r;
  r.s = &s;
  if (s.given[F_WHILE] && while_open(s, r.watched) != EXIT_OK) return EXIT_REFUSED;
  if (agent_run_active())
    say(stderr, "mjctl: note: this session's agent is running nudges too; this run goes on beside it");
  warn_if_interval_unsafe(s.run.interval_s, s.run.only_when_idle != 0);
  if (s.given[F_UNTIL]) r.until_utc = until_end(s.schedule.until_minute, r.until);
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
  r.live = !s.given[F_JSON] && stdout_is_console();
  if (!read_status(&r.prev, &r.last_line)) {
    mj_stop();
    return EXIT_REFUSED;
  }
  run_announce(r, mjw_keep_awake_held(&keep_awake));
  return run_loop(r, keep_awake);
}

// ---- The other commands ------------------------------------------------------------

int command_nudge(const settings &s) {
  mjh_text_buffer<256> options;
  mjh_options_dll_text(&s.run, options);
  if (!options.ok()) return refused("cannot write the options text");
  if (!mj_nudge_now(options.c_str())) return refused("the nudge failed: ", mj_last_error());
  mjh_text_buffer<1024> line;
  mjh_status now;
  if (!read_status(&now, &line)) return EXIT_REFUSED;
  if (s.given[F_JSON]) {
    say_now(line.view());
    return EXIT_OK;
  }
  mjh_text_buffer<128> text;
  mjh_describe_nudge(&now, text);
  say(stdout, "nudge: ", text.view());
  return EXIT_OK;
}

int command_idle() {
  int ms = mj_idle_ms();
  if (ms < 0) return refused("this desktop does not tell the idle time");
  say(stdout, ms);
  return EXIT_OK;
}

// Whether mjctl is the only process of its console and reads and writes it:
// started from Explorer (a double-click), so the console closes as soon as
// mjctl exits. A script that redirects input or output never waits.
bool console_of_its_own() {
  DWORD processes[2], mode;
  return GetConsoleProcessList(processes, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

// Shows the usage text until a key is pressed.
int help_until_a_key() {
  fputs(k_usage, stdout);
  fputs("\npress any key to close\n", stdout);
  fflush(stdout);
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  FlushConsoleInputBuffer(in);
  INPUT_RECORD record;
  DWORD n;
  while (ReadConsoleInputW(in, &record, 1, &n) && n == 1)
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
  return EXIT_OK;
}

int run_command(settings &s) {
  if ((s.cmd == CMD_RUN || s.cmd == CMD_NUDGE || s.cmd == CMD_START) && check_policies(s) != EXIT_OK)
    return EXIT_REFUSED;
  switch (s.cmd) {
    case CMD_RUN:
      return command_run(s);
    case CMD_NUDGE:
      return command_nudge(s);
    case CMD_IDLE:
      return command_idle();
    case CMD_START:
      return command_start(s);
    case CMD_STOP:
      return command_stop();
    case CMD_STATUS:
      return command_status(s);
    case CMD_QUIT:
      return s.given[F_WAIT] ? command_quit_wait(s.given[F_QUIET]) : command_quit();
    case CMD_INSTALLER_STOP:
      return command_installer_stop(s);
    case CMD_INSTALLER_START:
      return command_installer_start();
    case CMD_INSTALLER_CLEANUP:
      return command_installer_cleanup(s);
    case CMD_VERSION:
      say(stdout, "mjctl " MJCTL_VERSION ", veltrano-mouse-jiggler.dll ", mj_version());
      return EXIT_OK;
    case CMD_HELP:
    case CMD_NONE:
      break;
  }
  fputs(k_usage, stdout);
  return EXIT_OK;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 && console_of_its_own()) return help_until_a_key();
  static settings s;
  if (parse_command_line(argc, argv, s) != EXIT_OK) return EXIT_USAGE;
  int rc = run_command(s);
  fflush(stdout);
  return rc;
}
