#include "options.h"

#include <stdio.h>
#include <string.h>

#include "json.h"

enum {
  OPTIONS_TEXT_MAX = 4096, /* longer than any request that could carry it */
  OPTIONS_TOKENS_MAX = 128
};

typedef enum option_kind { KIND_MODE, KIND_WHOLE, KIND_BOOL } option_kind;

typedef struct option_key {
  const char *name;
  unsigned bit;
  option_kind kind;
  long long min, max;
  size_t offset; /* of the int field in mjh_options */
} option_key;

#define FIELD(f) offsetof(mjh_options, f)

/* In the order of the DLL's options text, keep_awake last. */
static const option_key k_keys[] = {
    {"mode", MJH_KEY_MODE, KIND_MODE, 0, 1, FIELD(move)},
    {"interval_s", MJH_KEY_INTERVAL_S, KIND_WHOLE, 1, 3600, FIELD(interval_s)},
    {"dx", MJH_KEY_DX, KIND_WHOLE, -200, 200, FIELD(dx)},
    {"dy", MJH_KEY_DY, KIND_WHOLE, -200, 200, FIELD(dy)},
    {"only_when_idle", MJH_KEY_ONLY_WHEN_IDLE, KIND_BOOL, 0, 1, FIELD(only_when_idle)},
    {"dry_run", MJH_KEY_DRY_RUN, KIND_BOOL, 0, 1, FIELD(dry_run)},
    {"keep_awake", MJH_KEY_KEEP_AWAKE, KIND_BOOL, 0, 1, FIELD(keep_awake)},
};
enum { KEY_COUNT = sizeof k_keys / sizeof k_keys[0] };

static int *field(mjh_options *o, const option_key *k) { return (int *)(void *)((char *)o + k->offset); }
static int field_value(const mjh_options *o, const option_key *k) {
  return *(const int *)(const void *)((const char *)o + k->offset);
}

void mjh_options_default(mjh_options *o) {
  o->move = 0;
  o->interval_s = 60;
  o->dx = 1;
  o->dy = 1;
  o->only_when_idle = 1;
  o->dry_run = 0;
  o->keep_awake = 0;
}

static void set_error(char *err, size_t err_size, const char *message) {
  if (err != NULL && err_size > 0) snprintf(err, err_size, "%s", message);
}

/* Reads the value token v of key k into *out; on failure writes the message. */
static int read_value(const char *text, const mjh_jtok *v, const option_key *k, int *out, char *err, size_t err_size) {
  char what[96];
  long long number;
  int flag;
  switch (k->kind) {
    case KIND_MODE:
      if (mjh_json_string_is(text, v, "zen")) {
        *out = 0;
        return 1;
      }
      if (mjh_json_string_is(text, v, "move")) {
        *out = 1;
        return 1;
      }
      snprintf(what, sizeof what, "\"%s\" must be \"zen\" or \"move\", not ", k->name);
      break;
    case KIND_WHOLE:
      if (mjh_json_whole(text, v, k->min, k->max, &number)) {
        *out = (int)number;
        return 1;
      }
      snprintf(what, sizeof what, "\"%s\" must be a whole number from %lld to %lld, not ", k->name, k->min, k->max);
      break;
    case KIND_BOOL:
      if (mjh_json_bool(text, v, &flag)) {
        *out = flag;
        return 1;
      }
      snprintf(what, sizeof what, "\"%s\" must be true or false, not ", k->name);
      break;
  }
  mjh_json_error_with_value(text, v, what, err, err_size);
  return 0;
}

int mjh_options_from_tokens(const char *text, const mjh_jtok *t, int count, int obj, unsigned allowed,
                            int ignore_unknown, mjh_options *o, unsigned *given, char *err, size_t err_size) {
  mjh_options result = *o;
  unsigned named = 0;
  char message[160];
  for (int i = obj + 1; i < count && t[i].start < t[obj].end; i = mjh_json_skip(t, count, i + 1)) {
    const mjh_jtok *key = &t[i], *value = &t[i + 1];
    const option_key *k = NULL;
    for (int j = 0; j < KEY_COUNT && k == NULL; j++)
      if (mjh_json_string_is(text, key, k_keys[j].name)) k = &k_keys[j];
    if (k == NULL) {
      if (ignore_unknown) continue;
      mjh_json_unknown_key_error(text, key, err, err_size);
      return 0;
    }
    if (!(allowed & k->bit)) {
      if (ignore_unknown) continue;
      snprintf(message, sizeof message, "\"%s\" is not an option here", k->name);
      set_error(err, err_size, message);
      return 0;
    }
    if (named & k->bit) {
      snprintf(message, sizeof message, "duplicate key \"%s\"", k->name);
      set_error(err, err_size, message);
      return 0;
    }
    if (!read_value(text, value, k, field(&result, k), err, err_size)) return 0;
    named |= k->bit;
  }
  *o = result;
  if (given != NULL) *given = named;
  return 1;
}

int mjh_options_parse(const char *text, size_t len, unsigned allowed, mjh_options *o, unsigned *given, char *err,
                      size_t err_size) {
  if (text == NULL) {
    text = "";
    len = 0;
  }
  if (len > OPTIONS_TEXT_MAX) {
    char message[64];
    snprintf(message, sizeof message, "too long: more than %d bytes", OPTIONS_TEXT_MAX);
    set_error(err, err_size, message);
    return 0;
  }
  mjh_jtok tokens[OPTIONS_TOKENS_MAX];
  int count;
  mjh_json_error e = mjh_json_parse_object(text, len, tokens, OPTIONS_TOKENS_MAX, &count);
  if (e != MJH_JSON_OK) {
    set_error(err, err_size, mjh_json_error_text(e));
    return 0;
  }
  return mjh_options_from_tokens(text, tokens, count, 0, allowed, 0, o, given, err, err_size);
}

/* The members of o named by keys, in the table's order, without braces. */
static size_t put_members(const mjh_options *o, unsigned keys, char *buf, size_t size, size_t used) {
  int first = 1;
  for (int i = 0; i < KEY_COUNT; i++) {
    const option_key *k = &k_keys[i];
    if (!(keys & k->bit)) continue;
    char member[64];
    int v = field_value(o, k);
    if (k->kind == KIND_MODE)
      snprintf(member, sizeof member, "%s\"%s\":\"%s\"", first ? "" : ",", k->name, v ? "move" : "zen");
    else if (k->kind == KIND_BOOL)
      snprintf(member, sizeof member, "%s\"%s\":%s", first ? "" : ",", k->name, v ? "true" : "false");
    else
      snprintf(member, sizeof member, "%s\"%s\":%d", first ? "" : ",", k->name, v);
    if (!mjh_json_put_raw(buf, size, &used, member, strlen(member))) return 0;
    first = 0;
  }
  return used;
}

/* {members} for the keys. Returns the length, or 0 (buf emptied) when it does not fit. */
size_t mjh_options_object(const mjh_options *o, unsigned keys, char *buf, size_t size) {
  size_t used = 0;
  if (size == 0) return 0;
  buf[0] = '\0';
  if (!mjh_json_put_raw(buf, size, &used, "{", 1) || (used = put_members(o, keys, buf, size, used)) == 0 ||
      !mjh_json_put_raw(buf, size, &used, "}", 1)) {
    buf[0] = '\0';
    return 0;
  }
  return used;
}

size_t mjh_options_dll_text(const mjh_options *o, char *buf, size_t size) {
  return mjh_options_object(o, MJH_KEYS_DLL, buf, size);
}

size_t mjh_options_json(const mjh_options *o, char *buf, size_t size) {
  return mjh_options_object(o, MJH_KEYS_ALL, buf, size);
}
