// mjctl's output: every text it writes is built whole with mjh_text, then
// written; a message on stderr with its exit code; texts between Windows
// and UTF-8; the clock, the DLL's status line and the interval warning.
#ifndef MJCTL_OUTPUT_H
#define MJCTL_OUTPUT_H

#include <stdint.h>
#include <stdio.h>
#include <windows.h>

#include <string_view>

#include "protocol.h"
#include "report.h"
#include "text.h"
#include "wide.h"

namespace mjctl {

enum exit_code { EXIT_OK = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

// The longest text mjctl writes at once: a message around an agent's reply.
enum { LINE_MAX_BYTES = MJH_REPLY_MAX + 512 };

// The line being written: one buffer for every message.
extern mjh_text_buffer<LINE_MAX_BYTES> g_line;

void put(FILE *to, std::string_view text);

// Writes the line being written, and its end even when it was cut.
void put_line(FILE *to);

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
void say_now(std::string_view text);

void add_spaces(mjh_text &out, size_t n);

// A path or name from Windows, as UTF-8.
using path_text = mjh_text_buffer<MAX_PATH * 3 + 32>;

// A text for Windows, widened at the call.
struct wide_text {
  wchar_t w[MAX_PATH + 32];
  bool whole;
  explicit wide_text(std::string_view utf8) : whole(mjw_widen(utf8, w)) {}
};

// The local time of day, "12:00:05".
void clock_text(mjh_text &out);

bool stdout_is_console();

// The DLL's status line, read (copy, when given, gets it as it is); false,
// with a message, for a line the DLL should never give.
bool read_status(mjh_status *s, mjh_text *copy);

// One line on stderr when nudges every interval_s cannot keep ahead of the
// screen lock, screen saver or display-off timeout now in force.
void warn_if_interval_unsafe(int interval_s, bool only_when_idle);

// The end of an --until session from now, in this computer's zone, and how
// it reads: "17:30" or "17:30 tomorrow" (the time has passed today).
int64_t until_end(int minute, mjh_text &text);

}  // namespace mjctl

#endif
