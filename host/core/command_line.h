// mjctl's command line: the words a person or a script types, read into
// what to do (the command, the options, schedule and conditions of its run
// or start, and mjctl's own flags), and the usage text of --help. The flags
// that set a setting, their values and their lines of help are the settings'
// table's (setting_table.h). Plain C++ without system headers, tested
// natively as a table of command lines.
#ifndef MJH_COMMAND_LINE_H
#define MJH_COMMAND_LINE_H

#include <stdint.h>

#include "conditions.h"
#include "options.h"
#include "schedule_text.h"
#include "text.h"

enum mjh_cli_command {
  MJH_CLI_NONE,
  MJH_CLI_RUN,
  MJH_CLI_NUDGE,
  MJH_CLI_IDLE,
  MJH_CLI_START,
  MJH_CLI_STOP,
  MJH_CLI_STATUS,
  MJH_CLI_QUIT,
  MJH_CLI_VERSION,
  MJH_CLI_HELP,
  // The installer's steps, run from the installed folder (not in the usage
  // text): installer-stop and installer-cleanup when the product is removed
  // (also as the older half of an upgrade), installer-start at the end of an
  // install.
  MJH_CLI_INSTALLER_STOP,
  MJH_CLI_INSTALLER_START,
  MJH_CLI_INSTALLER_CLEANUP
};

struct mjh_command_line {
  mjh_cli_command cmd;
  const char *operands[2];        // the installer's steps: their words after the command (argv's)
  mjh_options run;                // run, nudge, start: the defaults, then the flags or --options
  unsigned run_keys;              // the option keys the flags or --options named
  mjh_schedule_request schedule;  // --for, --until, start's schedule and conditions (flags or --options)
  bool json, wait, quiet;         // --json, --wait, --quiet
  bool has_while;                 // run --while:
  uint32_t while_pid;             // a process id, or 0 for
  mjh_programs while_program;     // one program name
};

// Reads the arguments after the program's name (argv[1] to argv[argc - 1]).
// Returns true, with -h or --help anywhere (before a fault) read as
// MJH_CLI_HELP; or false with the message for a person in err (may be null),
// e.g. `unknown flag "--bogus"`, `--interval needs a whole number of seconds
// from 1 to 3600, not "0"`, `--dx does not apply to version`, "no command
// given". Refused are: an unknown command or flag, a flag without its value
// or with one it does not take, a value that does not read, a flag of
// another command, and flags that contradict each other or --options. The
// options text of --options is read strictly, with the keys the command
// takes.
bool mjh_command_line_read(int argc, const char *const *argv, mjh_command_line *out, mjh_text *err);

// The usage text: the commands, every flag with its help (from the settings'
// table and mjctl's own flags), and the exit codes.
void mjh_command_line_usage(mjh_text &out);

#endif
