// libFuzzer target for the agent's request reader (mjh_request_parse), with
// the strict options reader, the line reader and the reply reader it shares
// its JSON code with.
//
// Each input is copied into a heap buffer of exactly its size (no NUL added),
// so AddressSanitizer reports any read past the end. Beyond crashes and
// undefined behaviour, every input is checked against what must always hold:
// an accepted request has a known command and options within their bounds,
// and reads back the same after mjh_request_format, its schedule included; a
// refusal leaves the request untouched and gives a non-empty UTF-8 message on
// one line (no control characters), which survives an error reply; the line
// reader never gives a line longer than the limit; the same text always gives
// the same result.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "json.h"
#include "protocol.h"
#include "text.h"

namespace {

[[noreturn]] void fail(const char *what) {
  fprintf(stderr, "request_fuzzer: %s\n", what);
  abort();
}

#define CHECK(cond)           \
  do {                        \
    if (!(cond)) fail(#cond); \
  } while (0)

bool within_bounds(const mjh_options &o) {
  return (o.mode == MJ_MODE_ZEN || o.mode == MJ_MODE_MOVE) && o.interval_s >= 1 && o.interval_s <= 3600 &&
         o.dx >= -200 && o.dx <= 200 && o.dy >= -200 && o.dy <= 200 &&
         (o.only_when_idle == 0 || o.only_when_idle == 1) && (o.dry_run == 0 || o.dry_run == 1) &&
         (o.keep_awake == 0 || o.keep_awake == 1);
}

bool message_ok(const mjh_text &err) {
  if (err.size() == 0 || strlen(err.c_str()) != err.size() || !mjh_utf8_valid(err.c_str(), err.size())) return false;
  for (char c : err.view())
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

void check_request(const char *text, size_t size) {
  const mjh_options saved = {MJ_MODE_MOVE, 30, 2, -3, 0, 0, 1};
  mjh_request out, sentinel;
  memset(&out, 0xa5, sizeof out);
  sentinel = out;
  mjh_text_buffer<160> err;
  bool ok = mjh_request_parse(text, size, &saved, &out, &err);

  mjh_request again = sentinel;
  mjh_text_buffer<160> err_again;
  CHECK(mjh_request_parse(text, size, &saved, &again, &err_again) == ok);

  if (!ok) {
    CHECK(memcmp(&out, &sentinel, sizeof out) == 0);
    CHECK(message_ok(err));
    CHECK(err.view() == err_again.view());
    // The message always makes a reply that reads back.
    mjh_text_buffer<MJH_REPLY_MAX> reply;
    mjh_reply_error(err.c_str(), reply);
    CHECK(reply.ok());
    mjh_reply r;
    CHECK(mjh_reply_read(reply.c_str(), reply.size(), &r));
    CHECK(!r.ok && strcmp(r.error, err.c_str()) == 0);
    return;
  }
  CHECK(err.size() == 0);
  CHECK(memchr(text, '\0', size) == nullptr);
  CHECK(size < MJH_REQUEST_MAX);
  CHECK(out.cmd >= MJH_CMD_STATUS && out.cmd <= MJH_CMD_QUIT);
  CHECK(within_bounds(out.options));
  CHECK((out.given & ~(unsigned)MJH_KEYS_ALL) == 0);
  if (out.cmd != MJH_CMD_START) CHECK(out.given == 0);
  if (out.given == 0) CHECK(memcmp(&out.options, &saved, sizeof saved) == 0);
  CHECK(memcmp(&out, &again, sizeof out) == 0);

  // What mjctl would send for this request reads back the same.
  mjh_text_buffer<MJH_REQUEST_MAX> line;
  CHECK(mjh_request_format(out.cmd, &out.options, out.given, &out.schedule, line));
  CHECK(line.ok() && line.last() == '\n');
  mjh_request back;
  CHECK(mjh_request_parse(line.c_str(), line.size() - 1, &saved, &back, &err));
  CHECK(back.cmd == out.cmd && back.given == out.given);
  CHECK(memcmp(&back.options, &out.options, sizeof out.options) == 0);
  CHECK(back.schedule.given == out.schedule.given && back.schedule.for_s == out.schedule.for_s &&
        back.schedule.until_minute == out.schedule.until_minute && back.schedule.hours.days == out.schedule.hours.days);
}

void check_options(const char *text, size_t size) {
  mjh_options o, sentinel;
  mjh_options_default(&o);
  sentinel = o;
  unsigned given = 0xdeadu;
  mjh_text_buffer<128> err;
  if (mjh_options_parse(text, size, MJH_KEYS_ALL, &o, &given, &err)) {
    CHECK(within_bounds(o));
    CHECK((given & ~(unsigned)MJH_KEYS_ALL) == 0);
  } else {
    CHECK(memcmp(&o, &sentinel, sizeof o) == 0);
    CHECK(given == 0xdeadu);
    CHECK(message_ok(err));
  }
}

// Feeds the text in pieces whose sizes come from its own bytes.
void check_lines(const char *text, size_t size) {
  mjh_line_reader r;
  mjh_line_reader_init(&r);
  size_t at = 0, step = size ? (unsigned char)text[0] % 64 + 1 : 1;
  while (at < size) {
    size_t n = size - at < step ? size - at : step, used = 0;
    mjh_line_result result = mjh_line_reader_feed(&r, text + at, n, &used);
    CHECK(used <= n);
    at += used;
    if (result == MJH_LINE_TOO_LONG) return;
    if (result == MJH_LINE_READY) {
      CHECK(r.len < MJH_REQUEST_MAX && r.line[r.len] == '\0');
      CHECK(used > 0 && text[at - 1] == '\n');
      mjh_line_reader_next(&r);
    } else {
      CHECK(used == n);
    }
  }
}

void check_reply(const char *text, size_t size) {
  mjh_reply r;
  if (!mjh_reply_read(text, size, &r)) return;
  CHECK(memchr(r.error, '\0', sizeof r.error) != nullptr);
  CHECK(mjh_utf8_valid(r.error, strlen(r.error)));
  CHECK(memchr(r.version, '\0', sizeof r.version) != nullptr);
  CHECK(mjh_utf8_valid(r.version, strlen(r.version)));
  CHECK(mjh_utf8_valid(r.last_error, strlen(r.last_error)));
  if (r.has_run) CHECK(within_bounds(r.settings));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> copy(data, data + size);
  const char *text = copy.empty() ? "" : copy.data();
  check_request(text, size);
  check_options(text, size);
  check_lines(text, size);
  check_reply(text, size);
  return 0;
}
