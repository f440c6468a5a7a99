// libFuzzer target for the options reader: opts_parse, json_find, json_int.
//
// Each input is cut at its first NUL and copied into a heap buffer of exactly
// that length plus the terminator, so AddressSanitizer reports any read past
// the end. Beyond crashes and undefined behaviour, every input is checked
// against what must always hold: accepted records lie within every field's
// bounds, a rejection leaves the record untouched with exactly one of the two
// messages, the reader rejects exactly when the text does not open with a
// brace or names a bad mode, the key search agrees with a plain model of the
// flat search, and the same text always gives the same record.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "mouse_jiggler_internal.h"

namespace {

const char k_not_object[] = "options must be a JSON object";
const char k_bad_mode[] = "mode must be \"zen\" or \"move\"";

[[noreturn]] void fail(const char *what, const char *text) {
  fprintf(stderr, "options_fuzzer: %s\n  text: \"%s\"\n", what, text);
  abort();
}

#define CHECK(cond, text)           \
  do {                              \
    if (!(cond)) fail(#cond, text); \
  } while (0)

bool is_space(char c) { return isspace((unsigned char)c) != 0; }

// The flat key search as plain index arithmetic: the first occurrence of the
// quoted key at or after the search position whose next non-space byte is a
// colon; a non-colon byte becomes the new search position. Returns the offset
// of the value (or of the terminator), or npos.
size_t model_find(const std::string &text, const std::string &key) {
  if (key.size() > 61) return std::string::npos;
  const std::string quoted = "\"" + key + "\"";
  size_t from = 0;
  for (;;) {
    size_t hit = text.find(quoted, from);
    if (hit == std::string::npos) return hit;
    size_t p = hit + quoted.size();
    while (p < text.size() && is_space(text[p])) p++;
    if (p == text.size()) return std::string::npos;
    if (text[p] == ':') {
      p++;
      while (p < text.size() && is_space(text[p])) p++;
      return p;
    }
    from = p;
  }
}

// What the reader must make of a text's opening and its mode: the rejection
// message, or null and the mode (1 zen, 0 move, -1 the value on entry).
struct model_verdict {
  const char *rejection;
  int mode;
};

model_verdict model_mode(const std::string &text) {
  size_t first = 0;
  while (first < text.size() && is_space(text[first])) first++;
  if (first == text.size() || text[first] != '{') return {k_not_object, -1};
  size_t v = model_find(text, "mode");
  if (v == std::string::npos || v == text.size() || text[v] != '"') return {nullptr, -1};
  std::string word = text.substr(v + 1, text.find('"', v + 1) - (v + 1)).substr(0, 15);
  if (word == "zen") return {nullptr, 1};
  if (word == "move") return {nullptr, 0};
  return {k_bad_mode, -1};
}

bool same(const mj_opts &a, const mj_opts &b) { return memcmp(&a, &b, sizeof a) == 0; }

bool all_zero(const char *buf, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (buf[i] != 0) return false;
  return true;
}

// One parse from the given starting record, with every property checked.
mj_opts parse_checked(const char *text, const mj_opts &start, const model_verdict &want) {
  mj_opts opts = start;
  char msg[MJ_MSG_SIZE] = {0};
  int accepted = opts_parse(text, &opts, msg);
  CHECK(accepted == 0 || accepted == 1, text);
  if (!accepted) {
    CHECK(same(opts, start), text);
    CHECK(strcmp(msg, k_not_object) == 0 || strcmp(msg, k_bad_mode) == 0, text);
    CHECK(want.rejection != nullptr && strcmp(msg, want.rejection) == 0, text);
    return opts;
  }
  CHECK(want.rejection == nullptr, text);
  CHECK(all_zero(msg, sizeof msg), text);
  CHECK(opts.mode == (want.mode == -1 ? start.mode : want.mode), text);
  CHECK(opts.mode == 0 || opts.mode == 1, text);
  CHECK(opts.interval_s >= 1 && opts.interval_s <= 3600, text);
  CHECK(opts.dx >= -200 && opts.dx <= 200, text);
  CHECK(opts.dy >= -200 && opts.dy <= 200, text);
  CHECK(opts.only_when_idle == 0 || opts.only_when_idle == 1, text);
  CHECK(opts.dry_run == 0 || opts.dry_run == 1, text);
  CHECK(opts.mode != 0 || opts.dx != 0 || opts.dy != 0, text);
  return opts;
}

// Keys of the reader and the edges of the key search: empty, a quote, and the
// longest findable key and the first one too long.
const std::string k_keys[] = {"mode", "interval_s", "dx", "dy", "only_when_idle",     "dry_run",
                              "",     "\"",         "k",  ":",  std::string(61, 'k'), std::string(62, 'k')};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const size_t n = strnlen((const char *)data, size);
  char *text = (char *)malloc(n + 1);
  memcpy(text, data, n);
  text[n] = '\0';
  const std::string copy(text, n);

  for (const std::string &key : k_keys) {
    const char *v = json_find(text, key.c_str());
    size_t want = model_find(copy, key);
    CHECK(want == std::string::npos ? v == nullptr : v == text + want, text);
    int32_t a = json_int(text, key.c_str(), -7);
    if (v == nullptr) CHECK(a == -7, text);
    if (v != nullptr && strncmp(v, "true", 4) == 0) CHECK(a == 1, text);
    if (v != nullptr && strncmp(v, "false", 5) == 0) CHECK(a == 0, text);
    CHECK(json_int(text, key.c_str(), -7) == a, text);
  }

  // opts_parse takes only non-empty texts; its callers keep the defaults for
  // an empty one.
  if (n > 0) {
    const model_verdict want = model_mode(copy);
    mj_opts first = parse_checked(text, k_default_opts, want);
    mj_opts again = parse_checked(text, k_default_opts, want);
    CHECK(same(first, again), text);
    // Any record on entry: each field's value there is its default.
    const mj_opts odd = {0, 90, -4, 3, 0, 1};
    parse_checked(text, odd, want);
  }

  free(text);
  return 0;
}
