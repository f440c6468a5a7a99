/* mjctl: the DLL's job from the command line, for people who do not write a
 * host, and the remote control of the session's agent (mjtray.exe) over its
 * pipe. Linked against the DLL's import library, so Windows loads
 * veltrano-mouse-jiggler.dll (from mjctl's folder or the PATH) at start.
 * The usage text below is the reference for commands, flags and exit codes. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
/* after windows.h */
#include <tlhelp32.h>

#include "agent_text.h"
#include "clock.h"
#include "conditions.h"
#include "handle.h"
#include "keep_awake.h"
#include "lock_timeout.h"
#include "mouse_jiggler.h"
#include "options.h"
#include "pipe.h"
#include "process_watch.h"
#include "protocol.h"
#include "report.h"
#include "schedule_text.h"
#include "text.h"
#include "wide.h"

#ifndef MJCTL_VERSION
#define MJCTL_VERSION "unknown"
#endif

enum { EXIT_OK = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

static const char k_usage[] =
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
    "refused or failed (its message on stderr), no agent for status, the idle\n"
    "time is unknown, or --while names no running process;\n"
    "2 bad command line.\n";

/* ---- Command line ---------------------------------------------------------- */

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
  /* The installer's steps, run from the installed folder (not in the usage
   * text): installer-stop and installer-cleanup when the product is removed
   * (also as the older half of an upgrade), installer-start at the end of an
   * install. */
  CMD_INSTALLER_STOP,
  CMD_INSTALLER_START,
  CMD_INSTALLER_CLEANUP,
  CMD_LAST = CMD_INSTALLER_CLEANUP
};

static const char *const k_command_names[] = {"",
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

/* The flags from F_MODE to F_IDLE_ONLY set options: --options replaces them. */
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
  F_COUNT
};

enum {
  FOR_RUN = 1 << CMD_RUN,
  FOR_NUDGE = 1 << CMD_NUDGE,
  FOR_START = 1 << CMD_START,
  FOR_STATUS = 1 << CMD_STATUS,
  FOR_QUIT = 1 << CMD_QUIT
};

static const struct {
  const char *name;
  int takes_value;
  int commands;     /* the commands it applies to */
  const char *unit; /* numbers: what they count, and their range */
  long lo, hi;
} k_flags[F_COUNT] = {
    {"--mode", 1, FOR_RUN | FOR_NUDGE | FOR_START, NULL, 0, 0},
    {"--interval", 1, FOR_RUN | FOR_START, "seconds", 1, 3600},
    {"--dx", 1, FOR_RUN | FOR_NUDGE | FOR_START, "pixels", -200, 200},
    {"--dy", 1, FOR_RUN | FOR_NUDGE | FOR_START, "pixels", -200, 200},
    {"--always", 0, FOR_RUN | FOR_START, NULL, 0, 0},
    {"--dry-run", 0, FOR_RUN | FOR_NUDGE | FOR_START, NULL, 0, 0},
    {"--keep-awake", 0, FOR_RUN | FOR_START, NULL, 0, 0},
    {"--idle-only", 0, FOR_START, NULL, 0, 0},
    {"--options", 1, FOR_RUN | FOR_NUDGE | FOR_START, NULL, 0, 0},
    {"--json", 0, FOR_RUN | FOR_NUDGE | FOR_STATUS, NULL, 0, 0},
    {"--for", 1, FOR_RUN | FOR_START, NULL, 0, 0},
    {"--until", 1, FOR_RUN | FOR_START, NULL, 0, 0},
    {"--hours", 1, FOR_START, NULL, 0, 0},
    {"--days", 1, FOR_START, NULL, 0, 0},
    {"--wait", 0, FOR_QUIT, NULL, 0, 0},
    {"--quiet", 0, FOR_QUIT, NULL, 0, 0},
    {"--while", 1, FOR_RUN, NULL, 0, 0},
};

struct settings {
  enum command command;
  const char *operands[2];       /* the installer's steps: their words after the command */
  int given[F_COUNT];            /* 1 when the flag was given */
  mj_mode mode;                  /* --mode */
  int number[F_COUNT];           /* the values of the number flags */
  const char *options;           /* --options */
  mjh_options run;               /* the run's options: the defaults, then the flags or --options */
  unsigned run_keys;             /* the keys the flags or --options named */
  mjh_schedule_request schedule; /* --for, --until, --hours, --days (and start's --options) */
  DWORD while_pid;               /* --while: a process id, or 0 for */
  mjh_programs while_program;    /* ...one program name */
};

/* Format checks where the compiler knows the attribute. */
#if defined(__GNUC__) && defined(__MINGW_PRINTF_FORMAT)
#define MJCTL_PRINTF(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#else
#define MJCTL_PRINTF(f, a)
#endif
static int usage_error(const char *format, ...) MJCTL_PRINTF(1, 2);
static int usage_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  fputs("mjctl: ", stderr);
  vfprintf(stderr, format, args);
  fputs("\ntry: mjctl --help\n", stderr);
  va_end(args);
  return EXIT_USAGE;
}

/* Reads a whole decimal number from lo to hi; anything else is refused. */
static int read_whole(const char *text, long lo, long hi, int *out) {
  const char *p = text;
  if (*p == '+' || *p == '-') p++;
  const char *digits = p;
  while (*p >= '0' && *p <= '9') p++;
  if (p == digits || *p != '\0' || p - digits > 9) return 0;
  long v = strtol(text, NULL, 10);
  if (v < lo || v > hi) return 0;
  *out = (int)v;
  return 1;
}

static int find_flag(const char *name) {
  for (int f = 0; f < F_COUNT; f++)
    if (strcmp(name, k_flags[f].name) == 0) return f;
  return -1;
}

/* --while: a process id (digits alone) or one program name. */
static int read_while(const char *value, struct settings *s) {
  size_t digits = strspn(value, "0123456789");
  if (digits > 0 && value[digits] == '\0') {
    unsigned long long pid = digits <= 10 ? strtoull(value, NULL, 10) : 0;
    if (pid == 0 || pid > 0xffffffffull) return usage_error("--while: \"%s\" is not a process id", value);
    s->while_pid = (DWORD)pid;
    return EXIT_OK;
  }
  mjh_text_buffer<256> err;
  const char *one = "--while takes one process id or one program name, e.g. 1234 or obs64.exe";
  if (value[strspn(value, " \t")] == '\0') return usage_error("%s", one);
  if (!mjh_programs_parse(value, &s->while_program, &err)) return usage_error("--while: %s", err.c_str());
  if (s->while_program.count != 1) return usage_error("%s", one);
  return EXIT_OK;
}

/* Reads one flag at argv[*i], with its value after '=' or in the next
 * argument. Returns EXIT_OK or EXIT_USAGE (message printed). */
static int parse_flag(int argc, char **argv, int *i, struct settings *s) {
  const char *arg = argv[*i];
  const char *eq = strchr(arg, '=');
  char name[32];
  size_t len = eq ? (size_t)(eq - arg) : strlen(arg);
  if (len >= sizeof name) return usage_error("unknown flag \"%s\"", arg);
  memcpy(name, arg, len);
  name[len] = '\0';
  int f = find_flag(name);
  if (f < 0) return usage_error("unknown flag \"%s\"", name);

  const char *value = eq ? eq + 1 : NULL;
  if (k_flags[f].takes_value && !value) {
    if (*i + 1 >= argc) return usage_error("%s needs a value", name);
    value = argv[++*i];
  }
  if (!k_flags[f].takes_value && value) return usage_error("%s takes no value", name);
  s->given[f] = 1;

  mjh_text_buffer<256> err;
  mjh_schedule_request *r = &s->schedule;
  if (f == F_FOR) {
    if (!mjh_duration_parse(value, &r->for_s, &err)) return usage_error("--for: %s", err.c_str());
    r->given |= MJH_SCHED_KEY_FOR;
  } else if (f == F_UNTIL) {
    if (strcmp(value, "end") == 0)
      r->until_minute = MJH_UNTIL_END_OF_HOURS;
    else if (!mjh_time_of_day_parse(value, &r->until_minute, &err))
      return usage_error("--until: %s", err.c_str());
    r->given |= MJH_SCHED_KEY_UNTIL;
  } else if (f == F_HOURS) {
    mjh_text_buffer<256> message;
    if (!mjh_hours_parse(value, &r->hours, &message)) return usage_error("--hours: %s", message.c_str());
    r->given |= MJH_SCHED_KEY_HOURS;
  } else if (f == F_DAYS) {
    mjh_text_buffer<256> message;
    if (!mjh_days_parse(value, &r->hours.days, &message)) return usage_error("--days: %s", message.c_str());
    r->given |= MJH_SCHED_KEY_DAYS;
  } else if (f == F_WHILE) {
    return read_while(value, s);
  } else if (f == F_MODE) {
    if (!mj_mode_read(value, strlen(value), &s->mode))
      return usage_error("--mode needs zen or move, not \"%s\"", value);
  } else if (f == F_OPTIONS) {
    s->options = value;
  } else if (k_flags[f].unit && !read_whole(value, k_flags[f].lo, k_flags[f].hi, &s->number[f])) {
    return usage_error("%s needs a whole number of %s from %ld to %ld, not \"%s\"", name, k_flags[f].unit,
                       k_flags[f].lo, k_flags[f].hi, value);
  }
  return EXIT_OK;
}

/* A flag's value for its option, and the option's key among those named. */
static void set_option(unsigned *keys, unsigned key, int *field, int value) {
  *field = value;
  *keys |= key;
}

/* The run's options: the defaults, with the keys the flags or --options name.
 * --options is read strictly: one JSON object of the keys the command takes,
 * each of the right type and range. Returns EXIT_OK or EXIT_USAGE. */
static int read_run_options(struct settings *s) {
  mjh_options *o = &s->run;
  mjh_options_default(o);
  s->run_keys = 0;
  if (s->given[F_OPTIONS]) {
    unsigned allowed = s->command == CMD_NUDGE ? MJH_KEYS_DLL : MJH_KEYS_ALL;
    if (s->command == CMD_START) {
      /* A start's options text may carry the schedule's keys too; the flags
       * may not name them again. */
      mjh_schedule_request text;
      mjh_schedule_request_none(&text);
      mjh_text_buffer<256> message;
      if (!mjh_start_options_parse(s->options, strlen(s->options), o, &s->run_keys, &text, &message))
        return usage_error("--options: %s", message.c_str());
      if (text.given & s->schedule.given)
        return usage_error("--options names a schedule key that a flag names too: give it once");
      if (text.given & MJH_SCHED_KEY_HOURS) s->schedule.hours.span_count = text.hours.span_count;
      if (text.given & MJH_SCHED_KEY_HOURS) memcpy(s->schedule.hours.spans, text.hours.spans, sizeof text.hours.spans);
      if (text.given & MJH_SCHED_KEY_DAYS) s->schedule.hours.days = text.hours.days;
      if (text.given & MJH_SCHED_KEY_FOR) s->schedule.for_s = text.for_s;
      if (text.given & MJH_SCHED_KEY_UNTIL) s->schedule.until_minute = text.until_minute;
      s->schedule.given |= text.given;
      if ((s->schedule.given & MJH_SCHED_KEY_FOR) && (s->schedule.given & MJH_SCHED_KEY_UNTIL))
        return usage_error("--for and --until exclude each other");
      return EXIT_OK;
    }
    mjh_text_buffer<256> message;
    if (!mjh_options_parse(s->options, strlen(s->options), allowed, o, &s->run_keys, &message))
      return usage_error("--options: %s", message.c_str());
    return EXIT_OK;
  }
  const int *given = s->given;
  unsigned *keys = &s->run_keys;
  if (given[F_MODE]) {
    o->mode = s->mode;
    *keys |= MJH_KEY_MODE;
  }
  if (given[F_INTERVAL]) set_option(keys, MJH_KEY_INTERVAL_S, &o->interval_s, s->number[F_INTERVAL]);
  if (given[F_DX]) set_option(keys, MJH_KEY_DX, &o->dx, s->number[F_DX]);
  if (given[F_DY]) set_option(keys, MJH_KEY_DY, &o->dy, s->number[F_DY]);
  if (given[F_ALWAYS]) set_option(keys, MJH_KEY_ONLY_WHEN_IDLE, &o->only_when_idle, 0);
  if (given[F_IDLE_ONLY]) set_option(keys, MJH_KEY_ONLY_WHEN_IDLE, &o->only_when_idle, 1);
  if (given[F_DRY_RUN]) set_option(keys, MJH_KEY_DRY_RUN, &o->dry_run, 1);
  if (given[F_KEEP_AWAKE]) set_option(keys, MJH_KEY_KEEP_AWAKE, &o->keep_awake, 1);
  return EXIT_OK;
}

/* Parses argv into *s. Returns EXIT_OK or EXIT_USAGE (message printed). */
static int parse_command_line(int argc, char **argv, struct settings *s) {
  memset(s, 0, sizeof *s);
  mjh_schedule_request_none(&s->schedule);
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      s->command = CMD_HELP;
      return EXIT_OK;
    }
    if (arg[0] == '-') {
      if (parse_flag(argc, argv, &i, s) != EXIT_OK) return EXIT_USAGE;
      continue;
    }
    if (s->command >= CMD_INSTALLER_STOP && !s->operands[1]) {
      s->operands[s->operands[0] ? 1 : 0] = arg;
      continue;
    }
    if (s->command != CMD_NONE) return usage_error("unexpected argument \"%s\"", arg);
    for (int c = CMD_RUN; c <= CMD_LAST; c++)
      if (strcmp(arg, k_command_names[c]) == 0) s->command = (enum command)c;
    if (s->command == CMD_NONE) return usage_error("unknown command \"%s\"", arg);
  }

  if (s->command == CMD_NONE) return usage_error("no command given");
  for (int f = 0; f < F_COUNT; f++)
    if (s->given[f] && !(k_flags[f].commands & (1 << s->command)))
      return usage_error("%s does not apply to %s", k_flags[f].name, k_command_names[s->command]);
  if (s->given[F_OPTIONS]) {
    for (int f = F_MODE; f <= F_IDLE_ONLY; f++)
      if (s->given[f])
        return usage_error("--options cannot be combined with %s: put it in the options text", k_flags[f].name);
  }
  if (s->given[F_QUIET] && !s->given[F_WAIT]) return usage_error("--quiet goes with --wait");
  if (s->given[F_ALWAYS] && s->given[F_IDLE_ONLY]) return usage_error("--always and --idle-only contradict each other");
  if (s->given[F_FOR] && s->given[F_UNTIL]) return usage_error("--for and --until exclude each other");
  if (s->command == CMD_RUN && s->given[F_UNTIL] && s->schedule.until_minute == MJH_UNTIL_END_OF_HOURS)
    return usage_error("--until end (the end of today's working hours) is for start: run has no working hours");
  return read_run_options(s);
}

/* ---- Output ------------------------------------------------------------------ */

static void print_line(const char *text) {
  fputs(text, stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

static void clock_text(char *buf, size_t size) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  snprintf(buf, size, "%02u:%02u:%02u", (unsigned)t.wHour, (unsigned)t.wMinute, (unsigned)t.wSecond);
}

static int stdout_is_console(void) {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

/* The status line, read; a line the DLL should never give ends mjctl. */
static void read_status(mjh_status *s, char *copy, size_t size) {
  const char *line = mj_status();
  if (copy) snprintf(copy, size, "%s", line);
  if (!mjh_status_read(line, s)) {
    fprintf(stderr, "mjctl: cannot read the DLL's status line: %s\n", line);
    mj_stop();
    exit(EXIT_REFUSED);
  }
}

/* ---- Schedules ------------------------------------------------------------------ */

/* One line on stderr when nudges every interval_s cannot keep ahead of the
 * screen lock, screen saver or display-off timeout now in force. */
static void warn_if_interval_unsafe(int interval_s, int only_when_idle) {
  mjw_lock_timeout lock;
  mjh_text_buffer<256> warning;
  mjw_lock_timeout_read(&lock);
  mjh_interval_warning_of(interval_s, only_when_idle, lock.seconds, lock.kind, warning);
  if (warning.size()) fprintf(stderr, "mjctl: warning: %s\n", warning.c_str());
}

/* The end of an --until session from now, in this computer's zone, and how
 * it reads: "17:30" or "17:30 tomorrow" (the time has passed today). */
static int64_t until_end(int minute, char *text, size_t size) {
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  mjh_session session;
  bool tomorrow = false;
  mjh_session_until(&session, &zone, mjw_now_utc(), minute, &tomorrow);
  snprintf(text, size, "%02d:%02d%s", minute / 60, minute % 60, tomorrow ? " tomorrow" : "");
  return session.end;
}

/* ---- The agent ---------------------------------------------------------------- */

enum {
  AGENT_CALL_MS = 5000,   /* one request and its reply */
  AGENT_START_MS = 10000, /* a freshly started agent's first answer */
  AGENT_QUIT_MS = 10000,  /* the agent's process ended after quit */
  AGENT_POLL_MS = 100
};

/* One request to the agent (schedule: a start's schedule keys, or NULL); the
 * reply line goes into reply. */
static mjw_call_result agent_call_schedule(mjh_command cmd, const mjh_options *o, unsigned keys,
                                           const mjh_schedule_request *schedule, char *reply, size_t size,
                                           DWORD timeout_ms, char *err, size_t err_size,
                                           mjw_pipe_server *server = nullptr) {
  mjh_text_buffer<MJH_REQUEST_MAX + 1> request;
  mjh_text message(err, err_size);
  if (!mjh_request_format(cmd, o, keys, schedule, request) || !request.ok()) {
    message.add("cannot write the request");
    return MJW_CALL_FAILED;
  }
  return mjw_pipe_call(request.view(), reply, size, timeout_ms, server, &message);
}

static mjw_call_result agent_call(mjh_command cmd, const mjh_options *o, unsigned keys, char *reply, size_t size,
                                  DWORD timeout_ms, char *err, size_t err_size, mjw_pipe_server *server = nullptr) {
  return agent_call_schedule(cmd, o, keys, NULL, reply, size, timeout_ms, err, err_size, server);
}

/* The exit code for a call that did not get through; messages on stderr. */
static int agent_call_failed(mjw_call_result result, const char *err) {
  if (result == MJW_CALL_UNTRUSTED)
    fprintf(stderr, "mjctl: refusing the agent's pipe: %s; nothing was sent\n", err);
  else
    fprintf(stderr, "mjctl: %s\n", err);
  return EXIT_REFUSED;
}

/* Reads a reply; a reply that is not ok, or not one at all, is told on
 * stderr. Returns EXIT_OK or EXIT_REFUSED. */
static int agent_reply(const char *line, mjh_reply *reply) {
  if (!mjh_reply_read(line, strlen(line), reply)) {
    fprintf(stderr, "mjctl: the agent's reply is not understood: %s\n", line);
    return EXIT_REFUSED;
  }
  if (!reply->ok) {
    fprintf(stderr, "mjctl: the agent refused: %s\n", reply->error);
    return EXIT_REFUSED;
  }
  return EXIT_OK;
}

/* Asks for the agent's status and says what it does, in one sentence, or
 * prints its reply line as it is (--json); warn: also warn when the interval
 * of its settings cannot keep ahead of the screen lock. */
static int tell_agent_state(int json, int warn) {
  char line[MJH_REPLY_MAX + 1], err[256];
  mjw_call_result result = agent_call(MJH_CMD_STATUS, NULL, 0, line, sizeof line, AGENT_CALL_MS, err, sizeof err);
  if (result == MJW_CALL_NO_AGENT) {
    fputs("mjctl: no agent is running in this session (mjctl start starts one)\n", stderr);
    return EXIT_REFUSED;
  }
  if (result != MJW_CALL_OK) return agent_call_failed(result, err);
  mjh_reply reply;
  if (agent_reply(line, &reply) != EXIT_OK) return EXIT_REFUSED;
  if (json) {
    print_line(line);
    return EXIT_OK;
  }
  if (!reply.has_run) {
    fprintf(stderr, "mjctl: the agent's status reply is not understood: %s\n", line);
    return EXIT_REFUSED;
  }
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  mjh_text_buffer<1024> text;
  mjh_describe_agent_at(&reply, &zone, mjw_now_utc(), text);
  fputs(text.c_str(), stdout);
  if (warn) {
    fflush(stdout);
    warn_if_interval_unsafe(reply.settings.interval_s, reply.settings.only_when_idle);
  }
  return EXIT_OK;
}

/* Starts mjtray.exe from mjctl's own folder, on its own (no console, no
 * handles of ours), and waits until its pipe answers. */
static int start_agent(void) {
  wchar_t path[MAX_PATH + 16], folder[MAX_PATH + 16];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    fprintf(stderr, "mjctl: cannot find mjctl's own folder (error %lu)\n", GetLastError());
    return EXIT_REFUSED;
  }
  wchar_t *slash = wcsrchr(path, L'\\');
  size_t folder_len = slash ? (size_t)(slash - path) : 0;
  wcsncpy(folder, path, folder_len);
  folder[folder_len] = L'\0';
  swprintf(path, sizeof path / sizeof path[0], L"%ls\\mjtray.exe", folder);
  wchar_t command_line[MAX_PATH + 32];
  swprintf(command_line, sizeof command_line / sizeof command_line[0], L"\"%ls\"", path);

  STARTUPINFOW si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(path, command_line, NULL, NULL, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, NULL, folder,
                      &si, &pi)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      fprintf(stderr, "mjctl: no agent is running, and there is no mjtray.exe beside mjctl to start: %ls\n", path);
    else
      fprintf(stderr, "mjctl: cannot start the agent %ls (error %lu)\n", path, error);
    return EXIT_REFUSED;
  }
  CloseHandle(pi.hThread);

  int rc = EXIT_REFUSED;
  ULONGLONG deadline = GetTickCount64() + AGENT_START_MS;
  for (;;) {
    char line[MJH_REPLY_MAX + 1], err[256];
    mjw_call_result result = agent_call(MJH_CMD_STATUS, NULL, 0, line, sizeof line, AGENT_CALL_MS, err, sizeof err);
    if (result == MJW_CALL_OK) {
      rc = EXIT_OK;
      break;
    }
    if (result == MJW_CALL_UNTRUSTED) {
      rc = agent_call_failed(result, err);
      break;
    }
    /* An agent that exits with 0 found another one starting: wait for that. */
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, AGENT_POLL_MS) == WAIT_OBJECT_0) {
      if (GetExitCodeProcess(pi.hProcess, &code) && code != 0) {
        fprintf(stderr, "mjctl: the agent %ls exited (code %lu) before it answered\n", path, code);
        break;
      }
      Sleep(AGENT_POLL_MS);
    }
    if (GetTickCount64() >= deadline) {
      fprintf(stderr, "mjctl: the agent %ls was started but did not answer within %d s: %s\n", path,
              AGENT_START_MS / 1000, err);
      break;
    }
  }
  CloseHandle(pi.hProcess);
  return rc;
}

static int command_start(const struct settings *s) {
  char line[MJH_REPLY_MAX + 1], err[256];
  const mjh_schedule_request *schedule = &s->schedule;
  mjw_call_result result = agent_call_schedule(MJH_CMD_START, &s->run, s->run_keys, schedule, line, sizeof line,
                                               AGENT_CALL_MS, err, sizeof err);
  if (result == MJW_CALL_NO_AGENT) {
    if (start_agent() != EXIT_OK) return EXIT_REFUSED;
    result = agent_call_schedule(MJH_CMD_START, &s->run, s->run_keys, schedule, line, sizeof line, AGENT_CALL_MS, err,
                                 sizeof err);
  }
  if (result != MJW_CALL_OK) return agent_call_failed(result, err);
  mjh_reply reply;
  if (agent_reply(line, &reply) != EXIT_OK) return EXIT_REFUSED;
  /* The agent reads an --until time as mjctl does: say which day it is. */
  if ((schedule->given & MJH_SCHED_KEY_UNTIL) && schedule->until_minute != MJH_UNTIL_END_OF_HOURS) {
    char until[32];
    until_end(schedule->until_minute, until, sizeof until);
    printf("session until %s\n", until);
  }
  return tell_agent_state(0, 1);
}

static int command_stop(void) {
  char line[MJH_REPLY_MAX + 1], err[256];
  mjw_call_result result = agent_call(MJH_CMD_STOP, NULL, 0, line, sizeof line, AGENT_CALL_MS, err, sizeof err);
  if (result == MJW_CALL_NO_AGENT) {
    print_line("no agent is running in this session: nothing to stop");
    return EXIT_OK;
  }
  if (result != MJW_CALL_OK) return agent_call_failed(result, err);
  mjh_reply reply;
  if (agent_reply(line, &reply) != EXIT_OK) return EXIT_REFUSED;
  return tell_agent_state(0, 0);
}

static int command_quit(void) {
  char line[MJH_REPLY_MAX + 1], err[256];
  /* The call opens the agent's process before the request goes out, so that
   * the process waited for below is the one that was asked to quit. */
  mjw_pipe_server agent;
  mjw_call_result result = agent_call(MJH_CMD_QUIT, NULL, 0, line, sizeof line, AGENT_CALL_MS, err, sizeof err, &agent);
  if (result == MJW_CALL_NO_AGENT) {
    print_line("no agent is running in this session: nothing to quit");
    return EXIT_OK;
  }
  if (result != MJW_CALL_OK) return agent_call_failed(result, err);
  mjh_reply reply;
  if (agent_reply(line, &reply) != EXIT_OK) return EXIT_REFUSED;
  /* Gone once its process has ended, not when its pipe has: until then the
   * agent still holds what makes a new agent leave at once. */
  if (WaitForSingleObject(agent.process.get(), AGENT_QUIT_MS) != WAIT_OBJECT_0) {
    fprintf(stderr, "mjctl: the agent said it would quit, but its process (pid %lu) is still running after %d s\n",
            (unsigned long)agent.pid, AGENT_QUIT_MS / 1000);
    return EXIT_REFUSED;
  }
  print_line("the agent has stopped its run and quit");
  return EXIT_OK;
}

/* ---- quit --wait, and the installer's steps ------------------------------------ */

enum { AGENT_GRACE_MS = 5000 }; /* after quit, before the agent's process is ended */

/* The process that serves this session's agent pipe, found on a connection of
 * its own before anything is sent, and opened to wait for it and end it. An
 * empty handle: no agent, or one this process does not trust. */
static mjw_handle agent_process(void) {
  wchar_t name[MJW_PIPE_NAME_MAX];
  mjw_pipe_name(name);
  mjw_file pipe;
  for (ULONGLONG deadline = GetTickCount64() + AGENT_CALL_MS;;) {
    pipe.reset(CreateFileW(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (pipe || GetLastError() != ERROR_PIPE_BUSY || GetTickCount64() >= deadline) break;
    WaitNamedPipeW(name, AGENT_POLL_MS);
  }
  ULONG pid = 0;
  if (!pipe || !GetNamedPipeServerProcessId(pipe.get(), &pid)) return mjw_handle();
  mjw_handle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!mjw_pipe_server_trusted(process.get(), nullptr)) process.reset();
  return process;
}

/* Tells the agent of process `process` to quit and waits until that process
 * has ended; still there AGENT_GRACE_MS later, it is ended, and no other. */
static int quit_and_wait(const mjw_handle &process, bool quiet) {
  char line[MJH_REPLY_MAX + 1], err[256];
  /* Whatever the reply (or none), the process goes: the caller wants it gone. */
  agent_call(MJH_CMD_QUIT, NULL, 0, line, sizeof line, AGENT_CALL_MS, err, sizeof err);
  mjh_text_buffer<160> text;
  if (WaitForSingleObject(process.get(), AGENT_GRACE_MS) != WAIT_OBJECT_0) {
    if (!TerminateProcess(process.get(), 1) || WaitForSingleObject(process.get(), AGENT_QUIT_MS) != WAIT_OBJECT_0) {
      text.add("mjctl: the agent (process ", GetProcessId(process.get()), ") did not quit and cannot be ended (error ",
               GetLastError(), ")\n");
      if (!quiet) fputs(text.c_str(), stderr);
      return EXIT_REFUSED;
    }
    text.add("mjctl: the agent (process ", GetProcessId(process.get()), ") did not quit within ", AGENT_GRACE_MS / 1000,
             " s: ended it\n");
    if (!quiet) fputs(text.c_str(), stderr);
  }
  if (!quiet) print_line("the agent has stopped its run and quit");
  return EXIT_OK;
}

/* quit --wait: nothing to say when no agent is running. */
static int command_quit_wait(bool quiet) {
  if (!mjw_pipe_exists()) return EXIT_OK;
  mjw_handle process = agent_process();
  if (!process) {
    if (!quiet) fputs("mjctl: cannot open the agent's process: nothing was sent\n", stderr);
    return EXIT_REFUSED;
  }
  return quit_and_wait(process, quiet);
}

/* The installer's record, for the length of an upgrade, that it stopped the
 * agent started from a folder (a value named by the folder): volatile, so it
 * never outlives the log-on, and read only by installer-start. */
#define MJCTL_SETTINGS_KEY L"Software\\Veltrano\\Mouse Jiggler"
#define MJCTL_VENDOR_KEY L"Software\\Veltrano"
#define MJCTL_RESTART_KEY MJCTL_SETTINGS_KEY L"\\Restart after install"
#define MJCTL_RUN_KEY L"Software\\Microsoft\\Windows\\CurrentVersion\\Run"
#define MJCTL_RUN_VALUE L"Veltrano Mouse Jiggler"

/* This mjctl's folder, with its final backslash. */
static bool own_folder(wchar_t *folder, DWORD count) {
  DWORD n = GetModuleFileNameW(NULL, folder, count);
  if (n == 0 || n >= count) return false;
  wchar_t *slash = wcsrchr(folder, L'\\');
  if (!slash) return false;
  slash[1] = L'\0';
  return true;
}

/* Whether path (len characters) names the mjtray.exe beside this mjctl. */
static bool names_our_agent(const wchar_t *path, size_t len) {
  wchar_t ours[MAX_PATH + 16];
  if (!own_folder(ours, MAX_PATH)) return false;
  wcscat(ours, L"mjtray.exe");
  return len == wcslen(ours) && _wcsnicmp(path, ours, len) == 0;
}

/* Whether this step runs for the older half of an upgrade. Windows tells the
 * older version's removal UPGRADINGPRODUCTCODE (the operand); Wine does not,
 * but removes it with a msiexec of its own started by the newer version's:
 * a step whose parent and grandparent are both msiexec. Nothing is stored,
 * so an upgrade that stops half-way changes no later removal. */
static bool part_of_upgrade(const char *upgrading_product) {
  if (upgrading_product && upgrading_product[0]) return true;
  mjw_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  DWORD chain[3] = {GetCurrentProcessId(), 0, 0};
  bool msiexec[3] = {false, false, false};
  for (int level = 0; level < 2; level++) {
    PROCESSENTRY32W e = {};
    e.dwSize = sizeof e;
    for (BOOL more = Process32FirstW(snapshot.get(), &e); more; more = Process32NextW(snapshot.get(), &e))
      if (e.th32ProcessID == chain[level]) chain[level + 1] = e.th32ParentProcessID;
    for (BOOL more = Process32FirstW(snapshot.get(), &e); more; more = Process32NextW(snapshot.get(), &e))
      if (e.th32ProcessID == chain[level + 1] && chain[level + 1] != 0)
        msiexec[level + 1] = _wcsicmp(e.szExeFile, L"msiexec.exe") == 0;
  }
  return msiexec[1] && msiexec[2];
}

/* Removes the restart record of this folder, and its key when empty. */
static void forget_restart(const wchar_t *folder) {
  mjw_key key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, MJCTL_RESTART_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.receive()) !=
      ERROR_SUCCESS)
    return;
  RegDeleteValueW(key.get(), folder);
  DWORD values = 0;
  if (RegQueryInfoKeyW(key.get(), NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL) ==
          ERROR_SUCCESS &&
      values == 0) {
    key.reset();
    RegDeleteKeyW(HKEY_CURRENT_USER, MJCTL_RESTART_KEY);
  }
}

/* Deletes key (under HKCU) when it holds no values and no subkeys. */
static void delete_if_empty(const wchar_t *name) {
  mjw_key key;
  DWORD subkeys = 1, values = 1;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, name, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS ||
      RegQueryInfoKeyW(key.get(), NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL) !=
          ERROR_SUCCESS)
    return;
  key.reset();
  if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, name);
}

/* installer-stop [UPGRADINGPRODUCTCODE]: before the files go, the agent of
 * this user and session, when it runs the mjtray.exe beside this mjctl,
 * quits (and is waited for); an agent from elsewhere is left alone. For an
 * upgrade, the newer version's installer-start starts it again. Prints
 * nothing. */
static int command_installer_stop(const struct settings *s) {
  wchar_t folder[MAX_PATH + 16], image[MAX_PATH + 16];
  DWORD size = MAX_PATH;
  mjw_handle process = agent_process();
  if (!process || !own_folder(folder, MAX_PATH) || !QueryFullProcessImageNameW(process.get(), 0, image, &size) ||
      !names_our_agent(image, size))
    return EXIT_OK;
  mjw_key key;
  DWORD one = 1;
  if (part_of_upgrade(s->operands[0]) &&
      RegCreateKeyExW(HKEY_CURRENT_USER, MJCTL_RESTART_KEY, 0, NULL, REG_OPTION_VOLATILE, KEY_SET_VALUE, NULL,
                      key.receive(), NULL) == ERROR_SUCCESS)
    RegSetValueExW(key.get(), folder, 0, REG_DWORD, (const BYTE *)&one, sizeof one);
  return quit_and_wait(process, true);
}

/* installer-start: at the end of an install, starts the mjtray.exe beside
 * this mjctl again when installer-stop stopped it for the upgrade. Prints
 * nothing. */
static int command_installer_start(void) {
  wchar_t folder[MAX_PATH + 16], path[MAX_PATH + 16], command_line[MAX_PATH + 32];
  if (!own_folder(folder, MAX_PATH)) return EXIT_OK;
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, MJCTL_RESTART_KEY, folder, RRF_RT_REG_DWORD, &type, &value, &size) !=
      ERROR_SUCCESS)
    return EXIT_OK;
  forget_restart(folder);
  wcscpy(path, folder);
  wcscat(path, L"mjtray.exe");
  wcscpy(command_line, L"\"");
  wcscat(command_line, path);
  wcscat(command_line, L"\"");
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(path, command_line, NULL, NULL, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, NULL, folder,
                      &si, &pi))
    return EXIT_REFUSED;
  mjw_handle owned_process(pi.hProcess), owned_thread(pi.hThread);
  return EXIT_OK;
}

/* installer-cleanup user|machine [UPGRADINGPRODUCTCODE]: when the product
 * goes for good (not for an upgrade): the user's start with Windows, when it
 * names the mjtray.exe beside this mjctl (a value naming another install
 * stays); for the per-user product also the agent's settings, which are the
 * user's own and go with it (a per-machine product leaves every user's). The
 * package's tables cannot tell an upgrade under Wine, hence this step.
 * Prints nothing. */
static int command_installer_cleanup(const struct settings *s) {
  wchar_t folder[MAX_PATH + 16], command[MAX_PATH + 64];
  if (!own_folder(folder, MAX_PATH) || part_of_upgrade(s->operands[1])) return EXIT_OK;
  if (s->operands[0] && strcmp(s->operands[0], "user") == 0) {
    RegDeleteTreeW(HKEY_CURRENT_USER, MJCTL_SETTINGS_KEY);
    RegDeleteKeyW(HKEY_CURRENT_USER, MJCTL_SETTINGS_KEY);
    delete_if_empty(MJCTL_VENDOR_KEY);
  } else {
    forget_restart(folder);
  }
  DWORD size = sizeof command - sizeof command[0];
  if (RegGetValueW(HKEY_CURRENT_USER, MJCTL_RUN_KEY, MJCTL_RUN_VALUE, RRF_RT_REG_SZ | RRF_NOEXPAND, NULL, command,
                   &size) != ERROR_SUCCESS)
    return EXIT_OK;
  /* "path" or "path" --flags, or a bare path. */
  const wchar_t *path = command;
  size_t len = wcslen(command);
  if (command[0] == L'"') {
    const wchar_t *end = wcschr(command + 1, L'"');
    path = command + 1;
    len = end ? (size_t)(end - path) : 0;
  }
  if (!names_our_agent(path, len)) return EXIT_OK;
  mjw_key key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, MJCTL_RUN_KEY, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS)
    RegDeleteValueW(key.get(), MJCTL_RUN_VALUE);
  return EXIT_OK;
}

static int command_status(const struct settings *s) { return tell_agent_state(s->given[F_JSON], 0); }

/* 1 when this session's agent answers that its run is active. */
static int agent_run_active(void) {
  char line[MJH_REPLY_MAX + 1], err[256];
  mjh_reply reply;
  return agent_call(MJH_CMD_STATUS, NULL, 0, line, sizeof line, 2000, err, sizeof err) == MJW_CALL_OK &&
         mjh_reply_read(line, strlen(line), &reply) && reply.ok && reply.has_run && reply.run.active;
}

/* ---- run ----------------------------------------------------------------------- */

enum stop_reason { STOP_NONE, STOP_TIME_UP, STOP_CTRL_C, STOP_WHILE_ENDED };

/* What run --while waits for: a process by its id, or every process of a
 * program in this session (watched, so that copies started later count too). */
struct while_target {
  mjw_handle process;      /* by id */
  mjw_process_watch watch; /* by name */
  char what[160] = "";     /* "obs64.exe", or "process 1234" when its name is unknown */
  char pid_note[32] = "";  /* " (process 1234)" beside a process's name, or "" */
};

/* Finds what --while names; says so and returns EXIT_REFUSED when it does
 * not run. */
static int while_open(const struct settings *s, struct while_target *t) {
  mjh_text what(t->what), pid_note(t->pid_note);
  if (s->while_pid) {
    t->process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, s->while_pid));
    DWORD error = GetLastError();
    if (t->process && WaitForSingleObject(t->process.get(), 0) != WAIT_TIMEOUT) t->process.reset();
    if (!t->process && error == ERROR_ACCESS_DENIED) {
      fprintf(stderr, "mjctl: --while: process %lu cannot be watched (access denied)\n", s->while_pid);
      return EXIT_REFUSED;
    }
    if (!t->process) {
      fprintf(stderr, "mjctl: --while: no process %lu is running\n", s->while_pid);
      return EXIT_REFUSED;
    }
    wchar_t image[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    const wchar_t *name = QueryFullProcessImageNameW(t->process.get(), 0, image, &size) ? wcsrchr(image, L'\\') : NULL;
    if (name && name[1]) {
      mjw_narrow(name + 1, what);
      pid_note.add(" (process ", s->while_pid, ")");
    } else {
      what.add("process ", s->while_pid);
    }
    return EXIT_OK;
  }
  what.add(s->while_program.names[0]);
  if (!t->watch.start(NULL, 0)) {
    fprintf(stderr, "mjctl: --while: cannot watch for %s (error %lu)\n", t->what, GetLastError());
    return EXIT_REFUSED;
  }
  t->watch.watch(s->while_program, false);
  if (t->watch.state().running == 0) {
    fprintf(stderr, "mjctl: --while: %s is not running in this session\n", t->what);
    return EXIT_REFUSED;
  }
  return EXIT_OK;
}

static bool while_ended(struct while_target *t) {
  if (t->process) return WaitForSingleObject(t->process.get(), 0) == WAIT_OBJECT_0;
  return t->watch.state().running == 0;
}

static HANDLE g_stop_requested; /* set by the console handler */
static HANDLE g_run_stopped;    /* set once mj_stop has returned */

/* Runs on a thread of its own. For a close, logoff or shutdown the process
 * ends when this returns, so it waits until the run has stopped. */
static BOOL WINAPI on_console_event(DWORD type) {
  (void)type;
  SetEvent(g_stop_requested);
  WaitForSingleObject(g_run_stopped, 10000);
  return TRUE;
}

static int command_run(const struct settings *s) {
  mjh_text_buffer<256> options;
  mjh_options_dll_text(&s->run, options);
  if (!options.ok()) {
    fputs("mjctl: cannot write the options text\n", stderr);
    return EXIT_REFUSED;
  }
  struct while_target watched;
  if (s->given[F_WHILE] && while_open(s, &watched) != EXIT_OK) return EXIT_REFUSED;
  if (agent_run_active())
    fputs("mjctl: note: this session's agent is running nudges too; this run goes on beside it\n", stderr);
  warn_if_interval_unsafe(s->run.interval_s, s->run.only_when_idle);
  char until[32] = "";
  int64_t until_utc = s->given[F_UNTIL] ? until_end(s->schedule.until_minute, until, sizeof until) : 0;
  g_stop_requested = CreateEventA(NULL, TRUE, FALSE, NULL);
  g_run_stopped = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (!g_stop_requested || !g_run_stopped || !SetConsoleCtrlHandler(on_console_event, TRUE)) {
    fprintf(stderr, "mjctl: cannot watch for Ctrl+C (error %lu)\n", GetLastError());
    return EXIT_REFUSED;
  }

  if (!mj_start(options.c_str())) {
    fprintf(stderr, "mjctl: the DLL did not start the run: %s\n", mj_last_error());
    return EXIT_REFUSED;
  }
  mjw_keep_awake keep_awake;
  if (s->run.keep_awake && !mjw_keep_awake_start(&keep_awake)) {
    fprintf(stderr, "mjctl: cannot keep the system and display on (error %lu)\n", GetLastError());
    mj_stop();
    return EXIT_REFUSED;
  }
  ULONGLONG started = GetTickCount64();
  ULONGLONG deadline = started + (ULONGLONG)s->schedule.for_s * 1000;
  int live = !s->given[F_JSON] && stdout_is_console();

  char line[1024], last_line[1024];
  mjh_text_buffer<2048> text;
  mjh_text_buffer<128> countdown, shown;
  mjh_status prev, now;
  read_status(&prev, last_line, sizeof last_line);
  if (s->given[F_JSON]) {
    print_line(last_line);
  } else {
    mjh_describe_run(&prev, text);
    printf("started: %s\n", text.c_str());
    if (keep_awake.thread) printf("keeping the system and display on while the run is active\n");
    mjh_text_buffer<64> duration;
    if (s->schedule.for_s >= 60) {
      duration.add(" (");
      mjh_duration_text(s->schedule.for_s, duration);
      duration.add(')');
    }
    if (s->given[F_WHILE]) printf("running while %s%s runs\n", watched.what, watched.pid_note);
    if (s->given[F_FOR])
      printf("stopping after %lld s%s; Ctrl+C stops earlier\n", (long long)s->schedule.for_s, duration.c_str());
    else if (s->given[F_UNTIL])
      printf("running until %s; Ctrl+C stops earlier\n", until);
    else
      printf("Ctrl+C stops\n");
    fflush(stdout);
  }

  enum stop_reason reason = STOP_NONE;
  int announce_countdown = 1;
  while (reason == STOP_NONE) {
    if (WaitForSingleObject(g_stop_requested, 200) == WAIT_OBJECT_0)
      reason = STOP_CTRL_C;
    else if (s->given[F_FOR] && GetTickCount64() >= deadline)
      reason = STOP_TIME_UP;
    else if (s->given[F_UNTIL] && mjw_now_utc() >= until_utc)
      reason = STOP_TIME_UP;
    else if (s->given[F_WHILE] && while_ended(&watched))
      reason = STOP_WHILE_ENDED;
    if (reason != STOP_NONE) {
      mj_stop();
      mjw_keep_awake_stop(&keep_awake);
    }

    read_status(&now, line, sizeof line);
    if (s->given[F_JSON]) {
      if (strcmp(line, last_line) != 0 || reason != STOP_NONE) print_line(line);
      snprintf(last_line, sizeof last_line, "%s", line);
      continue;
    }

    char clock[16];
    clock_text(clock, sizeof clock);
    text.clear();
    int events = mjh_describe_events(&prev, &now, mj_last_error(), clock, text);
    countdown.clear();
    mjh_describe_countdown(&now, countdown);
    if (events > 0 || reason != STOP_NONE) {
      if (live && shown.size() > 0) printf("\r%*s\r", (int)shown.size(), "");
      shown.clear();
      fputs(text.c_str(), stdout);
      announce_countdown = 1;
    }
    if (reason == STOP_NONE && countdown.view() != shown.view() && (live || announce_countdown)) {
      int wipe = (int)shown.size() - (int)countdown.size(); /* blanks over the rest of a longer line */
      if (live)
        printf("\r%s%*s", countdown.c_str(), wipe > 0 ? wipe : 0, "");
      else
        printf("%s\n", countdown.c_str());
      shown.clear();
      shown.add(countdown.view());
      announce_countdown = 0;
    }
    fflush(stdout);
    prev = now;
  }

  SetEvent(g_run_stopped);
  if (!s->given[F_JSON]) {
    text.clear();
    mjh_describe_counts(&now, text);
    mjh_text_buffer<200> why;
    why.add(reason == STOP_CTRL_C        ? "Ctrl+C"
            : reason == STOP_WHILE_ENDED ? watched.what
                                         : "time is up",
            reason == STOP_WHILE_ENDED ? " ended" : "");
    printf("stopped after %llu s (%s): %s\n", (GetTickCount64() - started) / 1000, why.c_str(), text.c_str());
    fflush(stdout);
  }
  return EXIT_OK;
}

/* ---- The other commands ---------------------------------------------------------- */

static int command_nudge(const struct settings *s) {
  mjh_text_buffer<256> options;
  mjh_options_dll_text(&s->run, options);
  if (!options.ok()) {
    fputs("mjctl: cannot write the options text\n", stderr);
    return EXIT_REFUSED;
  }
  if (!mj_nudge_now(options.c_str())) {
    fprintf(stderr, "mjctl: the nudge failed: %s\n", mj_last_error());
    return EXIT_REFUSED;
  }
  char line[1024];
  mjh_status now;
  read_status(&now, line, sizeof line);
  if (s->given[F_JSON]) {
    print_line(line);
  } else {
    mjh_text_buffer<128> text;
    mjh_describe_nudge(&now, text);
    printf("nudge: %s\n", text.c_str());
  }
  return EXIT_OK;
}

static int command_idle(void) {
  int ms = mj_idle_ms();
  if (ms < 0) {
    fputs("mjctl: this desktop does not tell the idle time\n", stderr);
    return EXIT_REFUSED;
  }
  printf("%d\n", ms);
  return EXIT_OK;
}

/* 1 when mjctl is the only process of its console and reads and writes it:
 * started from Explorer (a double-click), so the console closes as soon as
 * mjctl exits. A script that redirects input or output never waits. */
static int console_of_its_own(void) {
  DWORD processes[2], mode;
  return GetConsoleProcessList(processes, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

/* Shows the usage text until a key is pressed. */
static int help_until_a_key(void) {
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

int main(int argc, char **argv) {
  if (argc < 2 && console_of_its_own()) return help_until_a_key();
  struct settings s;
  if (parse_command_line(argc, argv, &s) != EXIT_OK) return EXIT_USAGE;

  int rc = EXIT_OK;
  switch (s.command) {
    case CMD_RUN:
      rc = command_run(&s);
      break;
    case CMD_NUDGE:
      rc = command_nudge(&s);
      break;
    case CMD_IDLE:
      rc = command_idle();
      break;
    case CMD_START:
      rc = command_start(&s);
      break;
    case CMD_STOP:
      rc = command_stop();
      break;
    case CMD_STATUS:
      rc = command_status(&s);
      break;
    case CMD_QUIT:
      rc = s.given[F_WAIT] ? command_quit_wait(s.given[F_QUIET]) : command_quit();
      break;
    case CMD_INSTALLER_STOP:
      rc = command_installer_stop(&s);
      break;
    case CMD_INSTALLER_START:
      rc = command_installer_start();
      break;
    case CMD_INSTALLER_CLEANUP:
      rc = command_installer_cleanup(&s);
      break;
    case CMD_VERSION:
      printf("mjctl %s, veltrano-mouse-jiggler.dll %s\n", MJCTL_VERSION, mj_version());
      break;
    case CMD_HELP:
    case CMD_NONE:
      fputs(k_usage, stdout);
      break;
  }
  fflush(stdout);
  return rc;
}
