// mjctl's command line: the command, its flags and their values, read into
// what to do, and the usage text.
#ifndef MJCTL_COMMAND_LINE_H
#define MJCTL_COMMAND_LINE_H

#include <windows.h>

#include "options.h"
#include "schedule_text.h"
#include "text.h"

namespace mjctl {

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

// The usage text: the reference for commands, flags and exit codes.
extern const char k_usage[];

// Parses argv into s. Returns EXIT_OK or EXIT_USAGE (message written).
int parse_command_line(int argc, char **argv, settings &s);

}  // namespace mjctl

#endif
