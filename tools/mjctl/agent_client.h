// mjctl as the agent's client: start, stop, status and quit over the
// session's pipe, the agent started from mjctl's folder when none runs,
// quit --wait (the installers' way to end it), and the processes and
// folders they go by.
#ifndef MJCTL_AGENT_CLIENT_H
#define MJCTL_AGENT_CLIENT_H

#include <windows.h>

#include <string_view>

#include "command_line.h"
#include "handle.h"
#include "text.h"

namespace mjctl {

// This mjctl's folder, with its final backslash; false, with the error set,
// when it cannot be read.
bool own_folder(mjh_text &out);

// Starts the program at path, with args after it, from folder, on its own:
// no console, and standard handles of its own on NUL, never ours, so that it
// does not hold its caller's output open (x=$(mjctl start) returns).
// process gets it. A failure that may pass (a shortage of resources; under
// Wine, a new process that ended before it started) is tried again, four
// times in all; GetLastError tells why it did not start.
bool start_detached(std::string_view path, std::string_view args, std::string_view folder, mjw_handle &process);

// A start that meets no agent starts one; one that meets an agent that is
// ending (quit, Exit, an installer) waits for its process to end and starts
// another. The exit code and the message say whether an agent runs the start.
int command_start(const mjh_command_line &s);

int command_stop();

int command_quit();

int command_status(const mjh_command_line &s);

// Whether this session's agent answers that its run is active.
bool agent_run_active();

// The image of process, as UTF-8.
bool process_image(HANDLE process, mjh_text &out);

// Whether path names the mjtray.exe beside this mjctl (as Windows compares
// file names: ignoring case).
bool names_our_agent(std::string_view path);

// The process that serves this session's agent pipe, found on a connection of
// its own before anything is sent, and opened to wait for it and end it. An
// empty handle: no agent, or one this process does not trust to be asked to
// quit and ended (mjh_quit_target_trusted).
mjw_handle agent_process(bool *ours = nullptr);

// Tells the agent of process `process` to quit and waits until that process
// has ended; still there AGENT_GRACE_MS later, it is ended, and no other.
int quit_and_wait(const mjw_handle &process, bool quiet);

// quit --wait: nothing to say when no agent is running.
int command_quit_wait(bool quiet);

}  // namespace mjctl

#endif
