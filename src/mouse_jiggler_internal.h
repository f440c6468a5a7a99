// The library's internal procedures that tests and the fuzzer call directly.
// Hosts use mouse_jiggler.h; none of this is exported from the DLL.
#ifndef MOUSE_JIGGLER_INTERNAL_H
#define MOUSE_JIGGLER_INTERNAL_H

#include <stdint.h>

#include "nudge_mode.h"

// The option record: a plain value, copied whole.
struct mj_opts {
  int32_t mode;  // an mj_mode: MJ_MODE_ZEN (any value but MJ_MODE_MOVE) or MJ_MODE_MOVE
  int32_t interval_s;
  int32_t dx;
  int32_t dy;
  int32_t only_when_idle;
  int32_t dry_run;
};

// The defaults of every options text: zen, 60 s, 1, 1, idle-only, no dry run.
extern const mj_opts k_default_opts;

// Size of the message buffer that opts_parse writes a rejection into.
enum { MJ_MSG_SIZE = 256 };

// The value of the first qualifying occurrence of "key": the first
// non-whitespace byte after its colon (or the terminating NUL). Null when
// there is none, the text is null or the key is longer than 61 bytes.
const char *json_find(const char *text, const char *key);

// The key's value read as true, false or a number truncated toward zero
// (saturated to the 32-bit range; a NaN gives def), or def.
int32_t json_int(const char *text, const char *key, int32_t def);

// Reads a non-empty options text into a record that holds the defaults.
// Returns 1 when accepted; 0 when rejected, with the message in msg
// (MJ_MSG_SIZE bytes) and the record untouched.
int opts_parse(const char *text, mj_opts *opts, char *msg);

// Milliseconds since the last user input, or -1 when the platform cannot tell.
int64_t idle_ms_now(void);

#endif
