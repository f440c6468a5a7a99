#include "output.h"

#include "clock.h"
#include "lock_timeout.h"
#include "mouse_jiggler.h"
#include "schedule_text.h"

namespace mjctl {

mjh_text_buffer<LINE_MAX_BYTES> g_line;

void put(FILE *to, std::string_view text) { fwrite(text.data(), 1, text.size(), to); }

void put_line(FILE *to) {
  put(to, g_line.view());
  put(to, "\n");
  g_line.clear();
}

void say_now(std::string_view text) {
  say(stdout, text);
  fflush(stdout);
}

void add_spaces(mjh_text &out, size_t n) {
  for (; n > 0; n--) out.add(' ');
}

void clock_text(mjh_text &out) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  out.add(mjh_pad2{t.wHour}, ':', mjh_pad2{t.wMinute}, ':', mjh_pad2{t.wSecond});
}

bool stdout_is_console() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool read_status(mjh_status *s, mjh_text *copy) {
  const char *line = mj_status();
  if (copy) copy->clear();
  if (copy) copy->add(line);
  if (mjh_status_read(line, s)) return true;
  say(stderr, "mjctl: cannot read the DLL's status line: ", line);
  return false;
}

void warn_if_interval_unsafe(int interval_s, bool only_when_idle) {
  mjw_lock_timeout lock;
  mjw_lock_timeout_read(&lock);
  mjh_text_buffer<256> warning;
  mjh_interval_warning_of(interval_s, only_when_idle, lock.seconds, lock.kind, warning);
  if (warning.size()) say(stderr, "mjctl: warning: ", warning.view());
}

int64_t until_end(int minute, mjh_text &text) {
  mjw_clock clock;
  mjw_clock_refresh(&clock);
  mjh_zone zone = mjw_clock_zone(&clock);
  mjh_session session;
  bool tomorrow = false;
  mjh_session_until(&session, &zone, mjw_now_utc(), minute, &tomorrow);
  text.add(mjh_pad2{minute / 60}, ':', mjh_pad2{minute % 60}, tomorrow ? " tomorrow" : "");
  return session.end;
}

}  // namespace mjctl
