// Strict JSON reading for the host core: one pass checks a text against the
// JSON grammar (UTF-8, no trailing bytes, bounded nesting) and cuts it into
// tokens, so that a reader sees only texts that are JSON. Plain C++ without
// system headers. Internal to the core.
#ifndef MJH_JSON_H
#define MJH_JSON_H

#include <stddef.h>

#include "text.h"

enum { MJH_JSON_TOKENS_MAX = 512, MJH_JSON_DEPTH_MAX = 16 };

enum mjh_json_type { MJH_JSON_OBJECT = 1, MJH_JSON_ARRAY, MJH_JSON_STRING, MJH_JSON_PRIMITIVE };

// A token: [start, end) of the text; strings without their quotes. size:
// members of an object, elements of an array, 1 for a key. parent: index of
// the enclosing token (for a member's value: its key), -1 for the root.
// Tokens are in the order of the text: an object, then each key followed by
// its value and everything inside it.
struct mjh_jtok {
  mjh_json_type type;
  int start, end, size, parent;
};

enum mjh_json_error {
  MJH_JSON_OK,
  MJH_JSON_EMPTY,       // nothing but blanks
  MJH_JSON_NOT_UTF8,    // a byte sequence that is not UTF-8
  MJH_JSON_SYNTAX,      // not JSON
  MJH_JSON_NOT_OBJECT,  // JSON, but not an object
  MJH_JSON_TRAILING,    // bytes after the object
  MJH_JSON_TOO_DEEP,    // nested more than MJH_JSON_DEPTH_MAX levels
  MJH_JSON_TOO_MANY     // more tokens than the caller allows
};

// Reads text as exactly one JSON object (blanks around it allowed) into at
// most max tokens (at most MJH_JSON_TOKENS_MAX); tokens[0] is the object.
// *count receives the number of tokens (0 on failure). The faults are told
// in this order: not UTF-8 anywhere; then the first fault of the grammar in
// the text (too deep, not JSON); then not an object; trailing bytes; too
// many tokens.
mjh_json_error mjh_json_parse_object(const char *text, size_t len, mjh_jtok *tokens, int max, int *count);

// A short message for a person, e.g. "not JSON".
const char *mjh_json_error_text(mjh_json_error e);

// The index after token i and everything inside it.
int mjh_json_skip(const mjh_jtok *t, int count, int i);

// Decodes string token t (escapes included) into out as UTF-8 with a NUL.
// Returns the decoded length, or -1 when it does not fit in size bytes.
int mjh_json_string(const char *text, const mjh_jtok *t, char *out, size_t size);

// Like mjh_json_string, but a text too long for out is cut at a character
// boundary (out always NUL-terminated). Returns the length written.
size_t mjh_json_string_cut(const char *text, const mjh_jtok *t, char *out, size_t size);

// Whether string token t decodes to exactly `s`.
bool mjh_json_string_is(const char *text, const mjh_jtok *t, const char *s);

// A number token written as a whole number (no fraction, no exponent) from
// min to max: true and *out, or false.
bool mjh_json_whole(const char *text, const mjh_jtok *t, long long min, long long max, long long *out);

// true or false: true and *out, or false.
bool mjh_json_bool(const char *text, const mjh_jtok *t, bool *out);

// The value of member `key` of object token obj, or -1. Keys are compared
// after decoding their escapes.
int mjh_json_member(const char *text, const mjh_jtok *t, int count, int obj, const char *key);

// ---- Readers shared inside the core ---------------------------------------------

// Appends `unknown key "..."` to err (may be null), the key decoded,
// shortened and escaped as a JSON string.
void mjh_json_unknown_key_error(const char *text, const mjh_jtok *key, mjh_text *err);

// Appends `what` and then the value of token t as the text wrote it (a
// string with its quotes), shortened, to err (may be null): e.g.
// `"dx" must be ..., not ` and `"abc"`. Control characters in it (the line
// breaks and tabs between a container's members) are shown escaped, so that
// a message is always one line.
void mjh_json_error_with_value(const char *text, const mjh_jtok *t, const char *what, mjh_text *err);

// Writes `"key":` for a member of the object being written in out, after a
// comma unless out is empty or ends in '{'.
void mjh_json_put_key(mjh_text &out, const char *key);

#endif
