/* mjctl: the DLL's job from the command line, for people who do not write a
 * host. Linked against the DLL's import library, so Windows loads
 * veltrano-mouse-jiggler.dll (from mjctl's folder or the PATH) at start.
 * The usage text below is the reference for commands, flags and exit codes. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "report.h"
#include "mouse_jiggler.h"

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
    "  run       nudge on schedule until Ctrl+C (or --for S); prints one line per\n"
    "            nudge, skip or failure and a countdown to the next nudge\n"
    "  nudge     make one nudge now and say how it went\n"
    "  idle      print the milliseconds since the last user input\n"
    "  status    print the DLL's status line (JSON)\n"
    "  version   print the versions of mjctl and the DLL\n"
    "  help      print this text (also -h, --help)\n"
    "\n"
    "flags (run, nudge):\n"
    "  --mode zen|move   zen: a move of 0,0 (default); move: dx,dy, back and forth\n"
    "  --dx N, --dy N    pixels of a move nudge, -200 to 200 (default 1, 1)\n"
    "  --dry-run         go through the motions, inject nothing\n"
    "  --options TEXT    the DLL's options text instead of the flags above, e.g.\n"
    "                    '{\"mode\":\"move\",\"interval_s\":30}'\n"
    "  --json            print the DLL's raw status lines instead of sentences\n"
    "flags (run only):\n"
    "  --interval S      seconds between nudges, 1 to 3600 (default 60)\n"
    "  --always          nudge even while the user is active (default: only after\n"
    "                    a whole interval without user input)\n"
    "  --for S           stop after S seconds, 1 to 2000000 (default: until Ctrl+C)\n"
    "\n"
    "On a console the countdown is one line refreshed in place; into a pipe or a\n"
    "file it is a plain line after the start and after each event. With --json,\n"
    "run prints each status line that differs from the one before, and the last\n"
    "one after the run has stopped. Ctrl+C stops the run before mjctl exits.\n"
    "\n"
    "exit codes: 0 done (a run ended by --for or Ctrl+C included); 1 the DLL\n"
    "refused or failed (its message on stderr), or the idle time is unknown;\n"
    "2 bad command line.\n";

/* ---- Command line ---------------------------------------------------------- */

enum command { CMD_NONE, CMD_RUN, CMD_NUDGE, CMD_IDLE, CMD_STATUS, CMD_VERSION, CMD_HELP };

static const char *const k_command_names[] = {"", "run", "nudge", "idle", "status", "version", "help"};

enum flag { F_MODE, F_INTERVAL, F_DX, F_DY, F_ALWAYS, F_DRY_RUN, F_OPTIONS, F_JSON, F_FOR, F_COUNT };

enum { FOR_RUN = 1 << CMD_RUN, FOR_NUDGE = 1 << CMD_NUDGE };

static const struct {
  const char *name;
  int takes_value;
  int commands;     /* the commands it applies to */
  const char *unit; /* numbers: what they count, and their range */
  long lo, hi;
} k_flags[F_COUNT] = {
    [F_MODE] = {"--mode", 1, FOR_RUN | FOR_NUDGE, NULL, 0, 0},
    [F_INTERVAL] = {"--interval", 1, FOR_RUN, "seconds", 1, 3600},
    [F_DX] = {"--dx", 1, FOR_RUN | FOR_NUDGE, "pixels", -200, 200},
    [F_DY] = {"--dy", 1, FOR_RUN | FOR_NUDGE, "pixels", -200, 200},
    [F_ALWAYS] = {"--always", 0, FOR_RUN, NULL, 0, 0},
    [F_DRY_RUN] = {"--dry-run", 0, FOR_RUN | FOR_NUDGE, NULL, 0, 0},
    [F_OPTIONS] = {"--options", 1, FOR_RUN | FOR_NUDGE, NULL, 0, 0},
    [F_JSON] = {"--json", 0, FOR_RUN | FOR_NUDGE, NULL, 0, 0},
    [F_FOR] = {"--for", 1, FOR_RUN, "seconds", 1, 2000000},
};

struct settings {
  enum command command;
  int given[F_COUNT];  /* 1 when the flag was given */
  const char *mode;    /* --mode */
  int number[F_COUNT]; /* the values of the number flags */
  const char *options; /* --options */
};

static int usage_error(const char *format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
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

  if (f == F_MODE) {
    if (strcmp(value, "zen") != 0 && strcmp(value, "move") != 0)
      return usage_error("--mode needs zen or move, not \"%s\"", value);
    s->mode = value;
  } else if (f == F_OPTIONS) {
    s->options = value;
  } else if (k_flags[f].unit && !read_whole(value, k_flags[f].lo, k_flags[f].hi, &s->number[f])) {
    return usage_error("%s needs a whole number of %s from %ld to %ld, not \"%s\"", name, k_flags[f].unit,
                       k_flags[f].lo, k_flags[f].hi, value);
  }
  return EXIT_OK;
}

/* Parses argv into *s. Returns EXIT_OK or EXIT_USAGE (message printed). */
static int parse_command_line(int argc, char **argv, struct settings *s) {
  memset(s, 0, sizeof *s);
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
    if (s->command != CMD_NONE) return usage_error("unexpected argument \"%s\"", arg);
    for (int c = CMD_RUN; c <= CMD_HELP; c++)
      if (strcmp(arg, k_command_names[c]) == 0) s->command = (enum command)c;
    if (s->command == CMD_NONE) return usage_error("unknown command \"%s\"", arg);
  }

  if (s->command == CMD_NONE) return usage_error("no command given");
  for (int f = 0; f < F_COUNT; f++)
    if (s->given[f] && !(k_flags[f].commands & (1 << s->command)))
      return usage_error("%s does not apply to %s", k_flags[f].name, k_command_names[s->command]);
  if (s->given[F_OPTIONS]) {
    for (int f = F_MODE; f <= F_DRY_RUN; f++)
      if (s->given[f])
        return usage_error("--options cannot be combined with %s: put it in the options text", k_flags[f].name);
  }
  return EXIT_OK;
}

/* The options text for the DLL: --options as given, or one built from the
 * flags with only the keys they set (the DLL's defaults fill the rest). */
static const char *options_text(const struct settings *s, char *buf, size_t size) {
  if (s->given[F_OPTIONS]) return s->options;
  snprintf(buf, size, "{");
  if (s->mode) snprintf(buf + strlen(buf), size - strlen(buf), "\"mode\":\"%s\",", s->mode);
  if (s->given[F_INTERVAL])
    snprintf(buf + strlen(buf), size - strlen(buf), "\"interval_s\":%d,", s->number[F_INTERVAL]);
  if (s->given[F_DX]) snprintf(buf + strlen(buf), size - strlen(buf), "\"dx\":%d,", s->number[F_DX]);
  if (s->given[F_DY]) snprintf(buf + strlen(buf), size - strlen(buf), "\"dy\":%d,", s->number[F_DY]);
  if (s->given[F_ALWAYS]) snprintf(buf + strlen(buf), size - strlen(buf), "\"only_when_idle\":false,");
  if (s->given[F_DRY_RUN]) snprintf(buf + strlen(buf), size - strlen(buf), "\"dry_run\":true,");
  size_t n = strlen(buf);
  if (buf[n - 1] == ',') n--;
  snprintf(buf + n, size - n, "}");
  return buf;
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

/* ---- run ----------------------------------------------------------------------- */

enum stop_reason { STOP_NONE, STOP_TIME_UP, STOP_CTRL_C };

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

static int command_run(const struct settings *s, const char *options) {
  g_stop_requested = CreateEventA(NULL, TRUE, FALSE, NULL);
  g_run_stopped = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (!g_stop_requested || !g_run_stopped || !SetConsoleCtrlHandler(on_console_event, TRUE)) {
    fprintf(stderr, "mjctl: cannot watch for Ctrl+C (error %lu)\n", GetLastError());
    return EXIT_REFUSED;
  }

  if (!mj_start(options)) {
    fprintf(stderr, "mjctl: the DLL did not start the run: %s\n", mj_last_error());
    return EXIT_REFUSED;
  }
  ULONGLONG started = GetTickCount64();
  ULONGLONG deadline = started + (ULONGLONG)s->number[F_FOR] * 1000;
  int live = !s->given[F_JSON] && stdout_is_console();

  char line[1024], last_line[1024], text[2048], countdown[128] = "", shown[128] = "";
  mjh_status prev, now;
  read_status(&prev, last_line, sizeof last_line);
  if (s->given[F_JSON]) {
    print_line(last_line);
  } else {
    mjh_describe_run(&prev, text, sizeof text);
    printf("started: %s\n", text);
    if (s->given[F_FOR])
      printf("stopping after %d s; Ctrl+C stops earlier\n", s->number[F_FOR]);
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
    if (reason != STOP_NONE) mj_stop();

    read_status(&now, line, sizeof line);
    if (s->given[F_JSON]) {
      if (strcmp(line, last_line) != 0 || reason != STOP_NONE) print_line(line);
      snprintf(last_line, sizeof last_line, "%s", line);
      continue;
    }

    char clock[16];
    clock_text(clock, sizeof clock);
    int events = mjh_describe_events(&prev, &now, mj_last_error(), clock, text, sizeof text);
    mjh_describe_countdown(&now, countdown, sizeof countdown);
    if (events > 0 || reason != STOP_NONE) {
      if (live && shown[0]) printf("\r%*s\r", (int)strlen(shown), "");
      shown[0] = '\0';
      fputs(text, stdout);
      announce_countdown = 1;
    }
    if (reason == STOP_NONE && strcmp(countdown, shown) != 0 && (live || announce_countdown)) {
      int wipe = (int)strlen(shown) - (int)strlen(countdown); /* blanks over the rest of a longer line */
      if (live)
        printf("\r%s%*s", countdown, wipe > 0 ? wipe : 0, "");
      else
        printf("%s\n", countdown);
      snprintf(shown, sizeof shown, "%s", countdown);
      announce_countdown = 0;
    }
    fflush(stdout);
    prev = now;
  }

  SetEvent(g_run_stopped);
  if (!s->given[F_JSON]) {
    mjh_describe_counts(&now, text, sizeof text);
    printf("stopped after %llu s (%s): %s\n", (GetTickCount64() - started) / 1000,
           reason == STOP_CTRL_C ? "Ctrl+C" : "time is up", text);
    fflush(stdout);
  }
  return EXIT_OK;
}

/* ---- The other commands ---------------------------------------------------------- */

static int command_nudge(const struct settings *s, const char *options) {
  if (!mj_nudge_now(options)) {
    fprintf(stderr, "mjctl: the nudge failed: %s\n", mj_last_error());
    return EXIT_REFUSED;
  }
  char line[1024], text[128];
  mjh_status now;
  read_status(&now, line, sizeof line);
  if (s->given[F_JSON]) {
    print_line(line);
  } else {
    mjh_describe_nudge(&now, text, sizeof text);
    printf("nudge: %s\n", text);
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

int main(int argc, char **argv) {
  struct settings s;
  if (parse_command_line(argc, argv, &s) != EXIT_OK) return EXIT_USAGE;
  char built[256];
  const char *options = options_text(&s, built, sizeof built);

  int rc = EXIT_OK;
  switch (s.command) {
    case CMD_RUN:
      rc = command_run(&s, options);
      break;
    case CMD_NUDGE:
      rc = command_nudge(&s, options);
      break;
    case CMD_IDLE:
      rc = command_idle();
      break;
    case CMD_STATUS:
      printf("%s\n", mj_status());
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
