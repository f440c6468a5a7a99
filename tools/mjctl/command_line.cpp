#include "command_line.h"

#include <string.h>

#include "output.h"
#include "setting_table.h"

namespace mjctl {

namespace {

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

}  // namespace

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

namespace {

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
  if (!mjh_settings_parse(s.options, strlen(s.options), MJH_KEYS_ALL, MJH_SCHED_KEYS_ALL, &s.run, &s.run_keys, &text,
                          &err))
    return usage_error("--options: ", err.view());
  mjh_schedule_request &r = s.schedule;
  if (text.given & r.given)
    return usage_error("--options names a schedule or condition key that a flag names too: give it once");
  mjh_schedule_request_take(&r, text);
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

}  // namespace

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

}  // namespace mjctl
