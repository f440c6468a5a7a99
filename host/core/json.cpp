#include "json.h"

#include "text.h"

#include <string.h>

#define JSMN_STATIC
#define JSMN_STRICT
#define JSMN_PARENT_LINKS
#include "jsmn.h"

/* ---- UTF-8 ---------------------------------------------------------------------- */

/* The length of the UTF-8 sequence at s (at most n bytes), or 0 when invalid. */
static size_t utf8_sequence(const unsigned char *s, size_t n) {
  unsigned c = s[0];
  size_t len;
  unsigned long cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (n < len) return 0;
  for (size_t i = 1; i < len; i++) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

void mjh_text_append_short(char *buf, size_t size, const char *s, size_t n, size_t max) {
  if (size == 0) return;
  size_t used = strlen(buf);
  size_t room = size - 1 - used;
  if (max > room) max = room;
  if (n <= max) {
    memcpy(buf + used, s, n);
    buf[used + n] = '\0';
    return;
  }
  if (max < 3) {
    buf[used] = '\0';
    return;
  }
  size_t keep = mjh_utf8_prefix(s, n, max - 3);
  memcpy(buf + used, s, keep);
  memcpy(buf + used + keep, "...", 4);
}

/* ---- The grammar ------------------------------------------------------------------ */

typedef struct scanner {
  const char *s;
  size_t n, pos;
  int too_deep;
} scanner;

static void skip_blanks(scanner *sc) {
  while (sc->pos < sc->n) {
    char c = sc->s[sc->pos];
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
    sc->pos++;
  }
}

static int is_digit(char c) { return c >= '0' && c <= '9'; }

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* Four hex digits at s (n bytes available), or -1. */
static long hex4(const char *s, size_t n) {
  if (n < 4) return -1;
  long v = 0;
  for (int i = 0; i < 4; i++) {
    int h = hex_value(s[i]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

/* A \u escape at s (after the backslash-u), with its low half when it is a
 * high surrogate. Returns the code point and *len the bytes read after the
 * first backslash-u, or -1 for a lone or reversed surrogate. */
static long unicode_escape(const char *s, size_t n, size_t *len) {
  long hi = hex4(s, n);
  if (hi < 0) return -1;
  *len = 4;
  if (hi >= 0xDC00 && hi <= 0xDFFF) return -1;
  if (hi < 0xD800 || hi > 0xDBFF) return hi;
  if (n < 10 || s[4] != '\\' || s[5] != 'u') return -1;
  long lo = hex4(s + 6, n - 6);
  if (lo < 0xDC00 || lo > 0xDFFF) return -1;
  *len = 10;
  return 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00);
}

static int scan_string(scanner *sc) {
  sc->pos++; /* the opening quote */
  while (sc->pos < sc->n) {
    unsigned char c = (unsigned char)sc->s[sc->pos];
    if (c == '"') {
      sc->pos++;
      return 1;
    }
    if (c < 0x20) return 0;
    if (c != '\\') {
      sc->pos++;
      continue;
    }
    if (sc->pos + 1 >= sc->n) return 0;
    char e = sc->s[sc->pos + 1];
    if (e == 'u') {
      size_t len;
      if (unicode_escape(sc->s + sc->pos + 2, sc->n - sc->pos - 2, &len) < 0) return 0;
      sc->pos += 2 + len;
    } else if (strchr("\"\\/bfnrt", e) != NULL && e != '\0') {
      sc->pos += 2;
    } else {
      return 0;
    }
  }
  return 0;
}

static int scan_digits(scanner *sc) {
  size_t start = sc->pos;
  while (sc->pos < sc->n && is_digit(sc->s[sc->pos])) sc->pos++;
  return sc->pos > start;
}

static int scan_number(scanner *sc) {
  if (sc->s[sc->pos] == '-') sc->pos++;
  if (sc->pos >= sc->n) return 0;
  if (sc->s[sc->pos] == '0')
    sc->pos++;
  else if (!scan_digits(sc))
    return 0;
  if (sc->pos < sc->n && sc->s[sc->pos] == '.') {
    sc->pos++;
    if (!scan_digits(sc)) return 0;
  }
  if (sc->pos < sc->n && (sc->s[sc->pos] == 'e' || sc->s[sc->pos] == 'E')) {
    sc->pos++;
    if (sc->pos < sc->n && (sc->s[sc->pos] == '+' || sc->s[sc->pos] == '-')) sc->pos++;
    if (!scan_digits(sc)) return 0;
  }
  return 1;
}

static int scan_word(scanner *sc, const char *word) {
  size_t len = strlen(word);
  if (sc->n - sc->pos < len || memcmp(sc->s + sc->pos, word, len) != 0) return 0;
  sc->pos += len;
  return 1;
}

static int scan_value(scanner *sc, int depth);

/* An object or array whose opening byte is at pos. */
static int scan_container(scanner *sc, int depth, char close) {
  if (depth > MJH_JSON_DEPTH_MAX) {
    sc->too_deep = 1;
    return 0;
  }
  sc->pos++;
  skip_blanks(sc);
  if (sc->pos < sc->n && sc->s[sc->pos] == close) {
    sc->pos++;
    return 1;
  }
  for (;;) {
    if (close == '}') {
      if (sc->pos >= sc->n || sc->s[sc->pos] != '"' || !scan_string(sc)) return 0;
      skip_blanks(sc);
      if (sc->pos >= sc->n || sc->s[sc->pos] != ':') return 0;
      sc->pos++;
      skip_blanks(sc);
    }
    if (!scan_value(sc, depth)) return 0;
    skip_blanks(sc);
    if (sc->pos >= sc->n) return 0;
    char c = sc->s[sc->pos++];
    if (c == close) return 1;
    if (c != ',') return 0;
    skip_blanks(sc);
  }
}

static int scan_value(scanner *sc, int depth) {
  if (sc->pos >= sc->n) return 0;
  char c = sc->s[sc->pos];
  if (c == '{') return scan_container(sc, depth + 1, '}');
  if (c == '[') return scan_container(sc, depth + 1, ']');
  if (c == '"') return scan_string(sc);
  if (c == '-' || is_digit(c)) return scan_number(sc);
  return scan_word(sc, "true") || scan_word(sc, "false") || scan_word(sc, "null");
}

mjh_json_error mjh_json_parse_object(const char *text, size_t len, mjh_jtok *tokens, int max, int *count) {
  *count = 0;
  if (!mjh_utf8_valid(text, len)) return MJH_JSON_NOT_UTF8;
  /* Token offsets are ints; the texts read here are far shorter. */
  if (len > (size_t)1 << 24) return MJH_JSON_TOO_MANY;

  scanner sc = {text, len, 0, 0};
  skip_blanks(&sc);
  if (sc.pos == len) return MJH_JSON_EMPTY;
  int is_object = text[sc.pos] == '{';
  if (!scan_value(&sc, 0)) return sc.too_deep ? MJH_JSON_TOO_DEEP : MJH_JSON_SYNTAX;
  if (!is_object) return MJH_JSON_NOT_OBJECT;
  skip_blanks(&sc);
  if (sc.pos != len) return MJH_JSON_TRAILING;

  if (max > MJH_JSON_TOKENS_MAX) max = MJH_JSON_TOKENS_MAX;
  jsmntok_t raw[MJH_JSON_TOKENS_MAX];
  jsmn_parser parser;
  jsmn_init(&parser);
  int n = jsmn_parse(&parser, text, len, raw, (unsigned)max);
  if (n == JSMN_ERROR_NOMEM) return MJH_JSON_TOO_MANY;
  if (n < 1 || raw[0].type != JSMN_OBJECT) return MJH_JSON_SYNTAX; /* the grammar check makes this unreachable */
  for (int i = 0; i < n; i++) {
    tokens[i].type = raw[i].type == JSMN_OBJECT   ? MJH_JSON_OBJECT
                     : raw[i].type == JSMN_ARRAY  ? MJH_JSON_ARRAY
                     : raw[i].type == JSMN_STRING ? MJH_JSON_STRING
                                                  : MJH_JSON_PRIMITIVE;
    tokens[i].start = raw[i].start;
    tokens[i].end = raw[i].end;
    tokens[i].size = raw[i].size;
    tokens[i].parent = raw[i].parent;
  }
  *count = n;
  return MJH_JSON_OK;
}

const char *mjh_json_error_text(mjh_json_error e) {
  switch (e) {
    case MJH_JSON_OK:
      return "";
    case MJH_JSON_EMPTY:
      return "empty, not a JSON object";
    case MJH_JSON_NOT_UTF8:
      return "not UTF-8";
    case MJH_JSON_SYNTAX:
      return "not JSON";
    case MJH_JSON_NOT_OBJECT:
      return "not a JSON object";
    case MJH_JSON_TRAILING:
      return "not one JSON object: text after its end";
    case MJH_JSON_TOO_DEEP:
      return "nested too deeply";
    case MJH_JSON_TOO_MANY:
      return "too many values";
  }
  return "not JSON";
}

/* ---- Reading tokens ----------------------------------------------------------------- */

int mjh_json_skip(const mjh_jtok *t, int count, int i) {
  int end = t[i].end;
  int j = i + 1;
  while (j < count && t[j].start < end) j++;
  return j;
}

/* Appends code point cp as UTF-8 at out[*len] when it fits in size (NUL kept). */
static int put_utf8(char *out, size_t size, size_t *len, long cp) {
  char b[4];
  size_t n;
  if (cp < 0x80) {
    b[0] = (char)cp;
    n = 1;
  } else if (cp < 0x800) {
    b[0] = (char)(0xC0 | (cp >> 6));
    b[1] = (char)(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    b[0] = (char)(0xE0 | (cp >> 12));
    b[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
    b[2] = (char)(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    b[0] = (char)(0xF0 | (cp >> 18));
    b[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    b[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    b[3] = (char)(0x80 | (cp & 0x3F));
    n = 4;
  }
  if (*len + n >= size) return 0;
  memcpy(out + *len, b, n);
  *len += n;
  return 1;
}

/* Decodes string token t into out; with cut, stops at the last character that
 * fits instead of failing. Returns the length, or -1. */
static int decode_string(const char *text, const mjh_jtok *t, char *out, size_t size, int cut) {
  if (size == 0 || t->type != MJH_JSON_STRING) return -1;
  const char *s = text + t->start;
  size_t n = (size_t)(t->end - t->start), len = 0;
  int full = 0;
  for (size_t i = 0; i < n;) {
    long cp;
    if (s[i] != '\\') {
      /* Copied whole: the grammar check made the text UTF-8. */
      size_t seq = utf8_sequence((const unsigned char *)s + i, n - i);
      if (seq == 0) seq = 1;
      if (len + seq >= size) {
        full = 1;
        break;
      }
      memcpy(out + len, s + i, seq);
      len += seq;
      i += seq;
      continue;
    }
    char e = s[i + 1];
    if (e == 'u') {
      size_t used = 0;
      cp = unicode_escape(s + i + 2, n - i - 2, &used);
      if (cp < 0) return -1; /* the grammar check refused these */
      i += 2 + used;
    } else {
      cp = e == 'b' ? '\b' : e == 'f' ? '\f' : e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
      i += 2;
    }
    if (!put_utf8(out, size, &len, cp)) {
      full = 1;
      break;
    }
  }
  out[len] = '\0';
  return full && !cut ? -1 : (int)len;
}

int mjh_json_string(const char *text, const mjh_jtok *t, char *out, size_t size) {
  return decode_string(text, t, out, size, 0);
}

size_t mjh_json_string_cut(const char *text, const mjh_jtok *t, char *out, size_t size) {
  int len = decode_string(text, t, out, size, 1);
  return len < 0 ? 0 : (size_t)len;
}

int mjh_json_string_is(const char *text, const mjh_jtok *t, const char *s) {
  char buf[64];
  size_t want = strlen(s);
  if (want >= sizeof buf) return 0;
  int len = mjh_json_string(text, t, buf, sizeof buf);
  return len >= 0 && (size_t)len == want && memcmp(buf, s, want) == 0;
}

int mjh_json_whole(const char *text, const mjh_jtok *t, long long min, long long max, long long *out) {
  if (t->type != MJH_JSON_PRIMITIVE) return 0;
  const char *s = text + t->start;
  int n = t->end - t->start, i = 0, negative = 0;
  if (i < n && s[i] == '-') {
    negative = 1;
    i++;
  }
  if (i == n) return 0;
  long long magnitude = 0;
  /* A cap far above any limit read here keeps the sum from overflowing. */
  const long long cap = 1000000000000LL;
  for (; i < n; i++) {
    if (!is_digit(s[i])) return 0; /* a fraction, an exponent, or a word */
    if (magnitude < cap) magnitude = magnitude * 10 + (s[i] - '0');
  }
  long long v = negative ? -magnitude : magnitude;
  if (v < min || v > max) return 0;
  *out = v;
  return 1;
}

int mjh_json_bool(const char *text, const mjh_jtok *t, int *out) {
  if (t->type != MJH_JSON_PRIMITIVE) return 0;
  int n = t->end - t->start;
  if (n == 4 && memcmp(text + t->start, "true", 4) == 0) {
    *out = 1;
    return 1;
  }
  if (n == 5 && memcmp(text + t->start, "false", 5) == 0) {
    *out = 0;
    return 1;
  }
  return 0;
}

int mjh_json_member(const char *text, const mjh_jtok *t, int count, int obj, const char *key) {
  if (t[obj].type != MJH_JSON_OBJECT) return -1;
  for (int i = obj + 1; i < count; i = mjh_json_skip(t, count, i)) {
    if (t[i].start >= t[obj].end) break;
    /* i is a key; its value follows it. */
    if (i + 1 < count && mjh_json_string_is(text, &t[i], key)) return i + 1;
    i++; /* to the value, skipped whole by the loop step */
  }
  return -1;
}

/* ---- Writing ------------------------------------------------------------------------ */

int mjh_json_put_raw(char *buf, size_t size, size_t *used, const char *raw, size_t n) {
  if (*used + n >= size) return 0;
  memcpy(buf + *used, raw, n);
  *used += n;
  buf[*used] = '\0';
  return 1;
}

int mjh_json_put_string(char *buf, size_t size, size_t *used, const char *s) {
  size_t start = *used;
  int ok = mjh_json_put_raw(buf, size, used, "\"", 1);
  const char *end = s + strlen(s);
  for (const char *p = s; ok && *p; p++) {
    unsigned char c = (unsigned char)*p;
    char esc[8];
    if (c == '"' || c == '\\') {
      esc[0] = '\\';
      esc[1] = (char)c;
      ok = mjh_json_put_raw(buf, size, used, esc, 2);
    } else if (c < 0x20) {
      static const char hex[] = "0123456789abcdef";
      const char *named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : NULL;
      if (named) {
        ok = mjh_json_put_raw(buf, size, used, named, 2);
      } else {
        memcpy(esc, "\\u00", 4);
        esc[4] = hex[c >> 4];
        esc[5] = hex[c & 15];
        ok = mjh_json_put_raw(buf, size, used, esc, 6);
      }
    } else if (c < 0x80) {
      ok = mjh_json_put_raw(buf, size, used, p, 1);
    } else {
      size_t seq = utf8_sequence((const unsigned char *)p, (size_t)(end - p));
      if (seq == 0) {
        ok = mjh_json_put_raw(buf, size, used, "?", 1);
      } else {
        ok = mjh_json_put_raw(buf, size, used, p, seq);
        p += seq - 1;
      }
    }
  }
  if (ok) ok = mjh_json_put_raw(buf, size, used, "\"", 1);
  if (!ok) {
    *used = start;
    if (size > 0) buf[start] = '\0';
  }
  return ok;
}

void mjh_json_error_with_value(const char *text, const mjh_jtok *t, const char *what, char *err, size_t err_size) {
  if (err == NULL || err_size == 0) return;
  err[0] = '\0';
  mjh_text_append_short(err, err_size, what, strlen(what), err_size);
  /* A string's token lies inside its quotes. */
  int quoted = t->type == MJH_JSON_STRING;
  const char *raw = text + t->start - quoted;
  size_t n = (size_t)(t->end - t->start + 2 * quoted);
  mjh_text_append_short(err, err_size, raw, n, 40);
}

void mjh_json_unknown_key_error(const char *text, const mjh_jtok *key, char *err, size_t err_size) {
  if (err == NULL || err_size == 0) return;
  char name[64];
  size_t len = mjh_json_string_cut(text, key, name, sizeof name);
  err[0] = '\0';
  mjh_text_append_short(err, err_size, "unknown key \"", 13, 13);
  mjh_text_append_short(err, err_size, name, len, 32);
  mjh_text_append_short(err, err_size, "\"", 1, 1);
}
