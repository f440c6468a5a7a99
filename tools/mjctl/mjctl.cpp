// mjctl: the DLL's job from the command line, for people who do not write a
// host, and the remote control of the session's agent (mjtray.exe) over its
// pipe. Linked against the DLL's import library, so Windows loads
// veltrano-mouse-jiggler.dll (from mjctl's folder or the PATH) at start.
// This file reads the command and does it: the command line is
// command_line.cpp, the output output.cpp, the agent's client
// agent_client.cpp, run run_loop.cpp and the installer's steps
// installer_steps.cpp.
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
}  // namespace mjctl

int main(int argc, char **argv) {
  using namespace mjctl;
  if (argc < 2 && console_of_its_own()) return help_until_a_key();
  static settings s;
  if (parse_command_line(argc, argv, s) != EXIT_OK) return EXIT_USAGE;
  int rc = run_command(s);
  fflush(stdout);
  return rc;
}
