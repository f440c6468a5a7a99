// mjctl: the DLL's job from the command line, for people who do not write a
// host, and the remote control of the session's agent (mjtray.exe) over its
// pipe. Linked against the DLL's import library, so Windows loads
// veltrano-mouse-jiggler.dll (from mjctl's folder or the PATH) at start.
// This file reads the command line (host/core/command_line.h) and does what
// it asks: the output is output.cpp, the agent's client agent_client.cpp,
// run run_loop.cpp and the installer's steps installer_steps.cpp.
#include <stdio.h>
#include <windows.h>

#include "agent_client.h"
#include "agent_text.h"
#include "command_line.h"
#include "installer_steps.h"
#include "mouse_jiggler.h"
#include "output.h"
#include "policy_store.h"
#include "run_loop.h"

#ifndef MJCTL_VERSION
#define MJCTL_VERSION "unknown"
#endif

namespace mjctl {
namespace {

// The organization's policies for run, nudge and start: refused (exit code 1)
// or allowed, a run's options then as the policies make them.
int check_policies(mjh_command_line &s) {
  mjh_policy_command c = s.cmd == MJH_CLI_RUN     ? MJH_POLICY_FOR_RUN
                         : s.cmd == MJH_CLI_NUDGE ? MJH_POLICY_FOR_NUDGE
                                                  : MJH_POLICY_FOR_START;
  mjh_policy policy;
  mjw_policy_store_read(&policy);
  mjh_text_buffer<256> why;
  if (!mjh_policy_check_command(policy, c, &s.run, s.run_keys, s.schedule.given, &why)) return refused(why.view());
  return EXIT_OK;
}

int command_nudge(const mjh_command_line &s) {
  mjh_text_buffer<256> options;
  mjh_options_dll_text(&s.run, options);
  if (!options.ok()) return refused("cannot write the options text");
  if (!mj_nudge_now(options.c_str())) return refused("the nudge failed: ", mj_last_error());
  mjh_text_buffer<1024> line;
  mjh_status now;
  if (!read_status(&now, &line)) return EXIT_REFUSED;
  if (s.json) {
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

void print_usage() {
  mjh_text_buffer<8192> usage;
  mjh_command_line_usage(usage);
  put(stdout, usage.view());
}

// Shows the usage text until a key is pressed.
int help_until_a_key() {
  print_usage();
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

int run_command(mjh_command_line &s) {
  if ((s.cmd == MJH_CLI_RUN || s.cmd == MJH_CLI_NUDGE || s.cmd == MJH_CLI_START) && check_policies(s) != EXIT_OK)
    return EXIT_REFUSED;
  switch (s.cmd) {
    case MJH_CLI_RUN:
      return command_run(s);
    case MJH_CLI_NUDGE:
      return command_nudge(s);
    case MJH_CLI_IDLE:
      return command_idle();
    case MJH_CLI_START:
      return command_start(s);
    case MJH_CLI_STOP:
      return command_stop();
    case MJH_CLI_STATUS:
      return command_status(s);
    case MJH_CLI_QUIT:
      return s.wait ? command_quit_wait(s.quiet) : command_quit();
    case MJH_CLI_INSTALLER_STOP:
      return command_installer_stop(s);
    case MJH_CLI_INSTALLER_START:
      return command_installer_start();
    case MJH_CLI_INSTALLER_CLEANUP:
      return command_installer_cleanup(s);
    case MJH_CLI_VERSION:
      say(stdout, "mjctl " MJCTL_VERSION ", veltrano-mouse-jiggler.dll ", mj_version());
      return EXIT_OK;
    case MJH_CLI_HELP:
    case MJH_CLI_NONE:
      break;
  }
  print_usage();
  return EXIT_OK;
}

}  // namespace
}  // namespace mjctl

int main(int argc, char **argv) {
  using namespace mjctl;
  if (argc < 2 && console_of_its_own()) return help_until_a_key();
  static mjh_command_line s;
  mjh_text_buffer<LINE_MAX_BYTES> why;
  if (!mjh_command_line_read(argc, argv, &s, &why)) return usage_error(why.view());
  int rc = run_command(s);
  fflush(stdout);
  return rc;
}
