/* Strict JSON reading and writing for the host core: a text is checked
 * against the JSON grammar (UTF-8, no trailing bytes, bounded nesting) before
 * jsmn cuts it into tokens, so that the lenient corners of the tokenizer never
 * reach the readers. Plain C++ without system headers. Internal to the core. */
#ifndef MJH_JSON_H
#define MJH_JSON_H

#include <stddef.h>

#include "options.h"


enum { MJH_JSON_TOKENS_MAX = 256, MJH_JSON_DEPTH_MAX = 16 };

typedef enum mjh_json_type { MJH_JSON_OBJECT = 1, MJH_JSON_ARRAY, MJH_JSON_STRING, MJH_JSON_PRIMITIVE } mjh_json_type;

/* A token: [start, end) of the text; strings without their quotes. size:
 * members of an object, elements of an array, 1 for a key. parent: index of
 * the enclosing token (for a member's value: its key), -1 for the root. */
typedef struct mjh_jtok {
  mjh_json_type type;
  int start, end, size, parent;
} mjh_jtok;

typedef enum mjh_json_error {
  MJH_JSON_OK,
  MJH_JSON_EMPTY,      /* nothing but blanks */
  MJH_JSON_NOT_UTF8,   /* a byte sequence that is not UTF-8 */
  MJH_JSON_SYNTAX,     /* not JSON */
  MJH_JSON_NOT_OBJECT, /* JSON, but not an object */
  MJH_JSON_TRAILING,   /* bytes after the object */
  MJH_JSON_TOO_DEEP,   /* nested more than MJH_JSON_DEPTH_MAX levels */
  MJH_JSON_TOO_MANY    /* more tokens than the caller allows */
} mjh_json_error;

/* Reads text as exactly one JSON object (blanks around it allowed) into at
 * most max tokens (at most MJH_JSON_TOKENS_MAX); tokens[0] is the object.
 * *count receives the number of tokens. */
mjh_json_error mjh_json_parse_object(const char *text, size_t len, mjh_jtok *tokens, int max, int *count);

/* A short message for a person, e.g. "not JSON". */
const char *mjh_json_error_text(mjh_json_error e);

/* The index after token i and everything inside it. */
int mjh_json_skip(const mjh_jtok *t, int count, int i);

/* Decodes string token t (escapes included) into out as UTF-8 with a NUL.
 * Returns the decoded length, or -1 when it does not fit in size bytes. */
int mjh_json_string(const char *text, const mjh_jtok *t, char *out, size_t size);

/* Like mjh_json_string, but a text too long for out is cut at a character
 * boundary (out always NUL-terminated). Returns the length written. */
size_t mjh_json_string_cut(const char *text, const mjh_jtok *t, char *out, size_t size);

/* Whether string token t decodes to exactly `s`. */
int mjh_json_string_is(const char *text, const mjh_jtok *t, const char *s);

/* A number token written as a whole number (no fraction, no exponent) from
 * min to max. Returns 1 and *out, or 0. */
int mjh_json_whole(const char *text, const mjh_jtok *t, long long min, long long max, long long *out);

/* true or false. Returns 1 and *out (1 or 0), or 0. */
int mjh_json_bool(const char *text, const mjh_jtok *t, int *out);

/* The value of member `key` of object token obj, or -1. Keys are compared
 * after decoding their escapes. */
int mjh_json_member(const char *text, const mjh_jtok *t, int count, int obj, const char *key);

/* Appends s as a quoted JSON string to buf, which holds *used bytes of text
 * (NUL-terminated). Returns 0 (and leaves buf as it was) when it does not
 * fit. Characters below 0x20, '"' and '\\' are escaped; bytes that are not
 * UTF-8 become '?', so that the output is always valid JSON. */
int mjh_json_put_string(char *buf, size_t size, size_t *used, const char *s);

/* Appends raw bytes (n of them) to buf like mjh_json_put_string. */
int mjh_json_put_raw(char *buf, size_t size, size_t *used, const char *raw, size_t n);

/* Appends s to buf; at most max bytes of s, cut at a UTF-8 boundary with
 * "..." added when cut. buf is always NUL-terminated. */
void mjh_text_append_short(char *buf, size_t size, const char *s, size_t n, size_t max);

/* ---- Readers shared inside the core ------------------------------------------------ */

/* Applies the members of object token obj to *o like mjh_options_parse (which
 * see); with ignore_unknown, keys that are not options are passed over (a
 * newer writer's additions) instead of refused. */
int mjh_options_from_tokens(const char *text, const mjh_jtok *t, int count, int obj, unsigned allowed,
                            int ignore_unknown, mjh_options *o, unsigned *given, char *err, size_t err_size);

/* `unknown key "..."` with the key token's text decoded and shortened. */
void mjh_json_unknown_key_error(const char *text, const mjh_jtok *key, char *err, size_t err_size);

/* Writes `what` followed by the raw text of token t, shortened, into err:
 * e.g. `"dx" must be ..., not ` and `"abc"`. */
void mjh_json_error_with_value(const char *text, const mjh_jtok *t, const char *what, char *err, size_t err_size);


#endif
