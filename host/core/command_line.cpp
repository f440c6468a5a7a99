#include "command_line.h"

#include <string.h>

#include <string_view>

#include "setting_table.h"

namespace {

// The commands, in the order of mjh_cli_command, and the MJH_FOR_* bit of
// those that take flags.
const struct {
  const char *name;
  unsigned flags;
} k_commands[] = {
    {"", 0},
    {"run", MJH_FOR_RUN},
    {"nudge", MJH_FOR_NUDGE},
    {"idle", 0},
    {"start", MJH_FOR_START},
    {"stop", 0},
    {"status", MJH_FOR_STATUS},
    {"quit", MJH_FOR_QUIT},
    {"version", 0},
    {"help", 0},
    {"installer-stop", 0},
    {"installer-start", 0},
    {"installer-cleanup", 0},
};
constexpr int COMMAND_COUNT = sizeof k_commands / sizeof k_commands[0];
static_assert(COMMAND_COUNT == MJH_CLI_INSTALLER_CLEANUP + 1, "a name for every command");

// mjctl's own flags, beside the settings' (after them in --help).
enum own_flag { OWN_OPTIONS, OWN_WHILE, OWN_JSON, OWN_WAIT, OWN_QUIET, OWN_COUNT };
const mjh_flag k_own_flags[OWN_COUNT] = {
    {"--options", "TEXT",
     "one JSON object instead of the flags, with the keys mode,\n"
     "interval_s, dx, dy, only_when_idle, dry_run, and for run\n"
     "and start keep_awake, e.g. '{\"mode\":\"move\",\"dx\":3}'",
     MJH_FOR_RUN | MJH_FOR_NUDGE | MJH_FOR_START},
    {"--while", "PID|NAME",
     "run until that process ends: a process id, or a program\n"
     "running in this session (e.g. obs64.exe: until its last\n"
     "copy ends)",
     MJH_FOR_RUN},
    {"--json", nullptr,
     "print raw JSON lines instead of sentences: the DLL's\n"
     "status lines, or the agent's status reply",
     MJH_FOR_RUN | MJH_FOR_NUDGE | MJH_FOR_STATUS},
    {"--wait", nullptr,
     "wait until the agent's process has ended; one still\n"
     "there 5 s after quit is ended (that process alone)",
     MJH_FOR_QUIT},
    {"--quiet", nullptr, "with --wait: print nothing, the exit code tells", MJH_FOR_QUIT},
};

// Every flag by one number: the settings' flags (a row's, then its flag_off)
// and then mjctl's own.
constexpr int SETTING_FLAGS = 2 * mjh_setting_row_count;
constexpr int FLAG_COUNT = SETTING_FLAGS + OWN_COUNT;

const mjh_flag *flag_at(int i) {
  if (i >= SETTING_FLAGS) return &k_own_flags[i - SETTING_FLAGS];
  const mjh_setting &row = mjh_setting_rows[i / 2];
  const mjh_flag *flag = i % 2 ? row.flag_off : &row.flag;
  return flag && flag->name ? flag : nullptr;
}

int find_flag(std::string_view name) {
  for (int i = 0; i < FLAG_COUNT; i++)
    if (flag_at(i) && name == flag_at(i)->name) return i;
  return -1;
}

// What has been read so far.
struct reading {
  mjh_command_line *out;
  bool given[FLAG_COUNT];
  const char *options;  // --options
};

// --while: a process id (digits alone) or one program name.
bool read_while(std::string_view value, mjh_command_line *out, mjh_text *err) {
  size_t digits = 0;
  while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9') digits++;
  if (digits > 0 && digits == value.size()) {
    unsigned long long pid = 0;
    for (size_t i = 0; i < digits && digits <= 10; i++) pid = pid * 10 + static_cast<unsigned>(value[i] - '0');
    if (pid == 0 || pid > 0xffffffffull) return mjh_fail(err, "--while: \"", value, "\" is not a process id");
    out->while_pid = static_cast<uint32_t>(pid);
    return true;
  }
  const char *one = "--while takes one process id or one program name, e.g. 1234 or obs64.exe";
  if (value.find_first_not_of(" \t") == std::string_view::npos) return mjh_fail(err, one);
  mjh_text_buffer<256> why;
  if (!mjh_programs_parse(value, &out->while_program, &why)) return mjh_fail(err, "--while: ", why.view());
  if (out->while_program.count != 1) return mjh_fail(err, one);
  return true;
}

// The value of flag i: a setting's into the run, or one of mjctl's own.
bool read_value(int i, const char *value, reading &r, mjh_text *err) {
  mjh_command_line *out = r.out;
  if (i < SETTING_FLAGS)
    return mjh_setting_read_flag(mjh_setting_rows[i / 2], i % 2 != 0, value, &out->run, &out->run_keys, &out->schedule,
                                 err);
  switch (i - SETTING_FLAGS) {
    case OWN_OPTIONS:
      r.options = value;
      return true;
    case OWN_WHILE:
      out->has_while = true;
      return read_while(value, out, err);
    case OWN_JSON:
      out->json = true;
      return true;
    case OWN_WAIT:
      out->wait = true;
      return true;
    default:
      out->quiet = true;
      return true;
  }
}

// Reads one flag at argv[i], with its value after '=' or in the next
// argument (i then moves on to it).
bool read_flag(int argc, const char *const *argv, int &i, reading &r, mjh_text *err) {
  const char *arg = argv[i];
  const char *eq = strchr(arg, '=');
  std::string_view name(arg, eq ? static_cast<size_t>(eq - arg) : strlen(arg));
  if (name.size() >= 32) return mjh_fail(err, "unknown flag \"", arg, '"');
  const int f = find_flag(name);
  if (f < 0) return mjh_fail(err, "unknown flag \"", name, '"');
  const bool takes_value = flag_at(f)->value != nullptr;
  const char *value = eq ? eq + 1 : nullptr;
  if (takes_value && !value) {
    if (i + 1 >= argc) return mjh_fail(err, name, " needs a value");
    value = argv[++i];
  }
  if (!takes_value && value) return mjh_fail(err, name, " takes no value");
  r.given[f] = true;
  return read_value(f, value, r, err);
}

bool given_both(const reading &r, int a, int b) { return r.given[a] && r.given[b]; }

// The rules between the flags given and the command.
bool check_flags(const reading &r, mjh_text *err) {
  const mjh_command_line &out = *r.out;
  for (int f = 0; f < FLAG_COUNT; f++)
    if (r.given[f] && !(flag_at(f)->commands & k_commands[out.cmd].flags))
      return mjh_fail(err, flag_at(f)->name, " does not apply to ", k_commands[out.cmd].name);
  if (r.options) {
    for (int f = 0; f < SETTING_FLAGS; f++)
      if (r.given[f] && mjh_setting_rows[f / 2].kind == MJH_SETTING_OPTION)
        return mjh_fail(err, "--options cannot be combined with ", flag_at(f)->name, ": put it in the options text");
  }
  if (out.quiet && !out.wait) return mjh_fail(err, "--quiet goes with --wait");
  for (int row = 0; row < mjh_setting_row_count; row++)
    if (given_both(r, 2 * row, 2 * row + 1))
      return mjh_fail(err, flag_at(2 * row + 1)->name, " and ", flag_at(2 * row)->name, " contradict each other");
  const unsigned session = out.schedule.given & (MJH_SCHED_KEY_FOR | MJH_SCHED_KEY_UNTIL);
  if (session == (MJH_SCHED_KEY_FOR | MJH_SCHED_KEY_UNTIL))
    return mjh_fail(err, "--for and --until exclude each other");
  if (out.cmd == MJH_CLI_RUN && (session & MJH_SCHED_KEY_UNTIL) && out.schedule.until_minute == MJH_UNTIL_END_OF_HOURS)
    return mjh_fail(err, "--until end (the end of today's working hours) is for start: run has no working hours");
  return true;
}

// --options: one JSON object, read strictly with the keys the command takes
// (a start's schedule and conditions too, which no flag may name again).
bool read_options_text(reading &r, mjh_text *err) {
  mjh_command_line &out = *r.out;
  const bool start = out.cmd == MJH_CLI_START;
  const unsigned keys = out.cmd == MJH_CLI_NUDGE ? MJH_KEYS_DLL : MJH_KEYS_ALL;
  mjh_schedule_request text;
  mjh_schedule_request_none(&text);
  mjh_text_buffer<256> why;
  if (!mjh_settings_parse(r.options, strlen(r.options), keys, start ? MJH_SCHED_KEYS_ALL : 0, &out.run, &out.run_keys,
                          &text, &why))
    return mjh_fail(err, "--options: ", why.view());
  if (text.given & out.schedule.given)
    return mjh_fail(err, "--options names a schedule or condition key that a flag names too: give it once");
  mjh_schedule_request_take(&out.schedule, text);
  if ((out.schedule.given & MJH_SCHED_KEY_FOR) && (out.schedule.given & MJH_SCHED_KEY_UNTIL))
    return mjh_fail(err, "--for and --until exclude each other");
  return true;
}

mjh_cli_command find_command(const char *arg) {
  for (int c = MJH_CLI_RUN; c < COMMAND_COUNT; c++)
    if (strcmp(arg, k_commands[c].name) == 0) return static_cast<mjh_cli_command>(c);
  return MJH_CLI_NONE;
}

}  // namespace

bool mjh_command_line_read(int argc, const char *const *argv, mjh_command_line *out, mjh_text *err) {
  *out = mjh_command_line{};
  mjh_options_default(&out->run);
  mjh_schedule_request_none(&out->schedule);
  mjh_programs_none(&out->while_program);
  reading r = {out, {}, nullptr};
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      out->cmd = MJH_CLI_HELP;
      return true;
    }
    if (arg[0] == '-') {
      if (!read_flag(argc, argv, i, r, err)) return false;
    } else if (out->cmd >= MJH_CLI_INSTALLER_STOP && !out->operands[1]) {
      out->operands[out->operands[0] ? 1 : 0] = arg;
    } else if (out->cmd != MJH_CLI_NONE) {
      return mjh_fail(err, "unexpected argument \"", arg, '"');
    } else if ((out->cmd = find_command(arg)) == MJH_CLI_NONE) {
      return mjh_fail(err, "unknown command \"", arg, '"');
    }
  }
  if (out->cmd == MJH_CLI_NONE) return mjh_fail(err, "no command given");
  if (!check_flags(r, err)) return false;
  return !r.options || read_options_text(r, err);
}

// ---- The usage text -----------------------------------------------------------------

namespace {

const char k_usage_head[] =
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
    "\n";

// The flags, by the commands they apply to.
const struct {
  unsigned commands;
  const char *heading;
} k_flag_groups[] = {
    {MJH_FOR_RUN | MJH_FOR_NUDGE | MJH_FOR_START, "run, nudge, start"},
    {MJH_FOR_RUN | MJH_FOR_START, "run, start"},
    {MJH_FOR_START, "start only"},
    {MJH_FOR_RUN, "run only"},
    {MJH_FOR_RUN | MJH_FOR_NUDGE | MJH_FOR_STATUS, "run, nudge, status"},
    {MJH_FOR_QUIT, "quit"},
};

const char k_usage_tail[] =
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

}  // namespace

void mjh_command_line_usage(mjh_text &out) {
  out.add(k_usage_head);
  for (const auto &group : k_flag_groups) {
    out.add("flags (", group.heading, "):\n");
    mjh_setting_flags_help(group.commands, out);
    for (const mjh_flag &flag : k_own_flags)
      if (flag.commands == group.commands) mjh_flag_help(flag, out);
  }
  out.add(k_usage_tail);
}
