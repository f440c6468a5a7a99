/* A host linked the way an MSVC project links: by lld-link, against
 * veltrano-mouse-jiggler.lib alone, without any C runtime. Its exit code
 * holds one bit per export that did not answer as its contract says. */
#include "mouse_jiggler.h"

__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

/* Whether text begins with prefix. */
static int begins(const char *text, const char *prefix) {
  while (*prefix != '\0' && *text == *prefix) {
    text++;
    prefix++;
  }
  return *prefix == '\0';
}

static int same(const char *a, const char *b) { return begins(a, b) && begins(b, a); }

void start(void) {
  unsigned int wrong = 0;
  if (!same(mj_version(), "1.0.0")) wrong |= 1;
  if (mj_idle_ms() < 0) wrong |= 2;
  if (!same(mj_last_error(), "")) wrong |= 4;
  if (mj_nudge_now("{\"dry_run\":true}") != 1) wrong |= 8;
  if (mj_start("{\"dry_run\":true,\"interval_s\":3600}") != 1) wrong |= 16;
  if (!begins(mj_status(), "{\"active\":1,")) wrong |= 32;
  if (mj_stop() != 1) wrong |= 64;
  ExitProcess(wrong);
}
