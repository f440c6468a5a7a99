#include "json.h"

#include <string.h>

#include <string_view>

namespace {

// ---- One pass: the grammar and the tokens ----------------------------------------

struct reader {
  const char *s;
  size_t n, pos;
  mjh_jtok *tokens;
  int max, count;  // count goes on past max, so that the whole text is checked first
  bool too_deep;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_blanks(reader &r) {
  while (r.pos < r.n) {
    char c = r.s[r.pos];
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
    r.pos++;
  }
}

bool at(const reader &r, char c) { return r.pos < r.n && r.s[r.pos] == c; }

// A new token from start, inside token parent; its end is set when it is
// read whole. Tokens past max are counted, not stored.
int open_token(reader &r, mjh_json_type type, size_t start, int parent) {
  int i = r.count++;
  if (i < r.max) r.tokens[i] = {type, static_cast<int>(start), static_cast<int>(start), 0, parent};
  if (parent >= 0 && parent < r.max) r.tokens[parent].size++;
  return i;
}

void close_token(reader &r, int i, size_t end) {
  if (i < r.max) r.tokens[i].end = static_cast<int>(end);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hex digits at s (n bytes available), or -1.
long hex4(const char *s, size_t n) {
  if (n < 4) return -1;
  long v = 0;
  for (int i = 0; i < 4; i++) {
    int h = hex_value(s[i]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

// A \u escape at s (after the backslash-u), with its low half when it is a
// high surrogate. Returns the code point and *len the bytes read after the
// first backslash-u, or -1 for bad digits or a lone or reversed surrogate.
long unicode_escape(const char *s, size_t n, size_t *len) {
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

// The character a one-letter escape stands for, or -1.
int simple_escape(char e) {
  switch (e) {
    case '"':
    case '\\':
    case '/':
      return e;
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return -1;
  }
}

// A string whose opening quote is at pos; its token lies inside the quotes.
bool read_string(reader &r, int parent) {
  int i = open_token(r, MJH_JSON_STRING, r.pos + 1, parent);
  r.pos++;
  while (r.pos < r.n) {
    unsigned char c = static_cast<unsigned char>(r.s[r.pos]);
    if (c == '"') {
      close_token(r, i, r.pos);
      r.pos++;
      return true;
    }
    if (c < 0x20) return false;
    if (c != '\\') {
      r.pos++;
      continue;
    }
    if (r.pos + 1 >= r.n) return false;
    char e = r.s[r.pos + 1];
    if (e == 'u') {
      size_t len;
      if (unicode_escape(r.s + r.pos + 2, r.n - r.pos - 2, &len) < 0) return false;
      r.pos += 2 + len;
    } else if (simple_escape(e) >= 0) {
      r.pos += 2;
    } else {
      return false;
    }
  }
  return false;
}

bool scan_digits(reader &r) {
  size_t start = r.pos;
  while (r.pos < r.n && is_digit(r.s[r.pos])) r.pos++;
  return r.pos > start;
}

bool scan_number(reader &r) {
  if (r.s[r.pos] == '-') r.pos++;
  if (r.pos >= r.n) return false;
  if (r.s[r.pos] == '0')
    r.pos++;
  else if (!scan_digits(r))
    return false;
  if (at(r, '.')) {
    r.pos++;
    if (!scan_digits(r)) return false;
  }
  if (at(r, 'e') || at(r, 'E')) {
    r.pos++;
    if (at(r, '+') || at(r, '-')) r.pos++;
    if (!scan_digits(r)) return false;
  }
  return true;
}

bool scan_word(reader &r, std::string_view word) {
  if (r.n - r.pos < word.size() || memcmp(r.s + r.pos, word.data(), word.size()) != 0) return false;
  r.pos += word.size();
  return true;
}

bool read_value(reader &r, int parent, int depth);

// An object or array whose opening byte is at pos.
bool read_container(reader &r, int parent, int depth) {
  if (depth > MJH_JSON_DEPTH_MAX) {
    r.too_deep = true;
    return false;
  }
  const bool object = r.s[r.pos] == '{';
  const char close = object ? '}' : ']';
  int i = open_token(r, object ? MJH_JSON_OBJECT : MJH_JSON_ARRAY, r.pos, parent);
  r.pos++;
  skip_blanks(r);
  if (at(r, close)) {
    r.pos++;
    close_token(r, i, r.pos);
    return true;
  }
  for (;;) {
    int value_parent = i;
    if (object) {
      // A member's value belongs to its key.
      value_parent = r.count;
      if (!at(r, '"') || !read_string(r, i)) return false;
      skip_blanks(r);
      if (!at(r, ':')) return false;
      r.pos++;
      skip_blanks(r);
    }
    if (!read_value(r, value_parent, depth)) return false;
    skip_blanks(r);
    if (r.pos >= r.n) return false;
    char c = r.s[r.pos++];
    if (c == close) {
      close_token(r, i, r.pos);
      return true;
    }
    if (c != ',') return false;
    skip_blanks(r);
  }
}

bool read_value(reader &r, int parent, int depth) {
  if (r.pos >= r.n) return false;
  char c = r.s[r.pos];
  if (c == '{' || c == '[') return read_container(r, parent, depth + 1);
  if (c == '"') return read_string(r, parent);
  size_t start = r.pos;
  bool ok =
      c == '-' || is_digit(c) ? scan_number(r) : scan_word(r, "true") || scan_word(r, "false") || scan_word(r, "null");
  if (!ok) return false;
  close_token(r, open_token(r, MJH_JSON_PRIMITIVE, start, parent), r.pos);
  return true;
}

// ---- Decoding strings ----------------------------------------------------------------

// Appends code point cp to out as UTF-8.
void add_code_point(mjh_text &out, long cp) {
  char b[4];
  size_t n;
  if (cp < 0x80) {
    b[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    b[0] = static_cast<char>(0xC0 | (cp >> 6));
    b[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    b[0] = static_cast<char>(0xE0 | (cp >> 12));
    b[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    b[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    b[0] = static_cast<char>(0xF0 | (cp >> 18));
    b[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    b[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    b[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out.add(std::string_view(b, n));
}

// Appends string token t decoded to out; a text too long is cut at a
// character like any append. false for a token that is not a string.
bool add_decoded(const char *text, const mjh_jtok *t, mjh_text &out) {
  if (t->type != MJH_JSON_STRING) return false;
  const char *s = text + t->start;
  size_t n = static_cast<size_t>(t->end - t->start), plain = 0;
  for (size_t i = 0; i < n && out.ok();) {
    if (s[i] != '\\') {
      i++;
      continue;
    }
    out.add(std::string_view(s + plain, i - plain));
    long cp;
    if (s[i + 1] == 'u') {
      size_t used = 0;
      cp = unicode_escape(s + i + 2, n - i - 2, &used);
      if (cp < 0) return false;  // the parser refused these
      i += 2 + used;
    } else {
      cp = simple_escape(s[i + 1]);
      if (cp < 0) return false;
      i += 2;
    }
    add_code_point(out, cp);
    plain = i;
  }
  if (plain < n) out.add(std::string_view(s + plain, n - plain));
  return true;
}

// Appends raw with each control character as a JSON string writes it (the
// one escaper's form, without its quotes).
void add_escaping_controls(mjh_text &out, std::string_view raw) {
  size_t plain = 0;
  for (size_t i = 0; i < raw.size(); i++) {
    if (static_cast<unsigned char>(raw[i]) >= 0x20) continue;
    out.add(mjh_slice(raw, plain, i - plain));
    mjh_text_buffer<8> escaped;
    escaped.add(mjh_json_quoted{mjh_slice(raw, i, 1)});
    out.add(mjh_slice(escaped.view(), 1, escaped.size() - 2));
    plain = i + 1;
  }
  out.add(mjh_slice(raw, plain));
}

}  // namespace

mjh_json_error mjh_json_parse_object(const char *text, size_t len, mjh_jtok *tokens, int max, int *count) {
  *count = 0;
  if (!mjh_utf8_valid(text, len)) return MJH_JSON_NOT_UTF8;
  // Token offsets are ints; the texts read here are far shorter.
  if (len > static_cast<size_t>(1) << 24) return MJH_JSON_TOO_MANY;
  if (max > MJH_JSON_TOKENS_MAX) max = MJH_JSON_TOKENS_MAX;
  if (max < 0) max = 0;

  reader r = {text, len, 0, tokens, max, 0, false};
  skip_blanks(r);
  if (r.pos == len) return MJH_JSON_EMPTY;
  const bool object = text[r.pos] == '{';
  if (!read_value(r, -1, 0)) return r.too_deep ? MJH_JSON_TOO_DEEP : MJH_JSON_SYNTAX;
  if (!object) return MJH_JSON_NOT_OBJECT;
  skip_blanks(r);
  if (r.pos != len) return MJH_JSON_TRAILING;
  if (r.count > max) return MJH_JSON_TOO_MANY;
  *count = r.count;
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

// ---- Reading tokens -------------------------------------------------------------------

int mjh_json_skip(const mjh_jtok *t, int count, int i) {
  int end = t[i].end;
  int j = i + 1;
  while (j < count && t[j].start < end) j++;
  return j;
}

int mjh_json_string(const char *text, const mjh_jtok *t, char *out, size_t size) {
  if (size == 0 || t->type != MJH_JSON_STRING) return -1;
  mjh_text o(out, size);
  if (!add_decoded(text, t, o) || !o.ok()) return -1;
  return static_cast<int>(o.size());
}

size_t mjh_json_string_cut(const char *text, const mjh_jtok *t, char *out, size_t size) {
  if (size == 0 || t->type != MJH_JSON_STRING) return 0;
  mjh_text o(out, size);
  return add_decoded(text, t, o) ? o.size() : 0;
}

bool mjh_json_string_is(const char *text, const mjh_jtok *t, const char *s) {
  mjh_text_buffer<64> decoded;
  return add_decoded(text, t, decoded) && decoded.ok() && decoded.view() == s;
}

bool mjh_json_whole(const char *text, const mjh_jtok *t, long long min, long long max, long long *out) {
  if (t->type != MJH_JSON_PRIMITIVE) return false;
  const char *s = text + t->start;
  int n = t->end - t->start, i = 0;
  bool negative = false;
  if (i < n && s[i] == '-') {
    negative = true;
    i++;
  }
  if (i == n) return false;
  long long magnitude = 0;
  // A cap far above any limit read here keeps the sum from overflowing.
  const long long cap = 1000000000000LL;
  for (; i < n; i++) {
    if (!is_digit(s[i])) return false;  // a fraction, an exponent, or a word
    if (magnitude < cap) magnitude = magnitude * 10 + (s[i] - '0');
  }
  long long v = negative ? -magnitude : magnitude;
  if (v < min || v > max) return false;
  *out = v;
  return true;
}

bool mjh_json_bool(const char *text, const mjh_jtok *t, bool *out) {
  if (t->type != MJH_JSON_PRIMITIVE) return false;
  std::string_view word(text + t->start, static_cast<size_t>(t->end - t->start));
  if (word != "true" && word != "false") return false;
  *out = word == "true";
  return true;
}

int mjh_json_member(const char *text, const mjh_jtok *t, int count, int obj, const char *key) {
  if (t[obj].type != MJH_JSON_OBJECT) return -1;
  for (int i = obj + 1; i < count; i = mjh_json_skip(t, count, i)) {
    if (t[i].start >= t[obj].end) break;
    // i is a key; its value follows it.
    if (i + 1 < count && mjh_json_string_is(text, &t[i], key)) return i + 1;
    i++;  // to the value, skipped whole by the loop step
  }
  return -1;
}

// ---- Messages ------------------------------------------------------------------------

void mjh_json_error_with_value(const char *text, const mjh_jtok *t, const char *what, mjh_text *err) {
  if (err == nullptr) return;
  // A string's token lies inside its quotes.
  const int quoted = t->type == MJH_JSON_STRING;
  std::string_view raw(text + t->start - quoted, static_cast<size_t>(t->end - t->start + 2 * quoted));
  mjh_text_buffer<64> shown;  // more than the 40 bytes shown
  add_escaping_controls(shown, raw);
  err->add(what, mjh_shortened{shown.view(), 40});
}

void mjh_json_unknown_key_error(const char *text, const mjh_jtok *key, mjh_text *err) {
  if (err == nullptr) return;
  mjh_text_buffer<64> name;
  add_decoded(text, key, name);
  mjh_text_buffer<40> shown;
  shown.add(mjh_shortened{name.view(), 32});
  err->add("unknown key ", mjh_json_quoted{shown.view()});
}

void mjh_json_put_key(mjh_text &out, const char *key) {
  if (out.size() > 0 && out.last() != '{') out.add(',');
  out.add(mjh_json_quoted{key}, ':');
}
