#include "text.h"

#include <string.h>

size_t mjh_utf8_sequence(const char *s, size_t n) {
  if (n == 0) return 0;
  unsigned c = static_cast<unsigned char>(s[0]);
  if (c < 0x80) return 1;
  size_t len;
  uint32_t cp;
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
    unsigned b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

bool mjh_utf8_valid(const char *s, size_t n) {
  for (size_t i = 0; i < n;) {
    size_t len = mjh_utf8_sequence(s + i, n - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

size_t mjh_utf8_prefix(const char *s, size_t n, size_t max) {
  if (n <= max) return n;
  size_t cut = max;
  // Back up over continuation bytes to the start of the character cut.
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) cut--;
  return cut;
}

mjh_text::mjh_text(char *buf, size_t size) : buf_(buf), size_(size) { buf_[0] = '\0'; }

void mjh_text::rewind(size_t size) {
  if (size < len_) len_ = size;
  buf_[len_] = '\0';
  cut_ = false;
}

void mjh_text::put_raw(const char *s, size_t n) {
  if (cut_) return;
  size_t room = size_ - 1 - len_;
  if (n > room) {
    n = mjh_utf8_prefix(s, n, room);
    cut_ = true;
  }
  memcpy(buf_ + len_, s, n);
  len_ += n;
  buf_[len_] = '\0';
}

void mjh_text::put(std::string_view s) {
  const char *p = s.data();
  size_t n = s.size();
  while (n > 0 && !cut_) {
    // The longest run of whole characters, then one '?' for a stray byte.
    size_t run = 0;
    for (size_t len; run < n && (len = mjh_utf8_sequence(p + run, n - run)) != 0;) run += len;
    put_raw(p, run);
    if (run == n) break;
    put_raw("?", 1);
    p += run + 1;
    n -= run + 1;
  }
}

void mjh_text::put_unsigned(uint64_t v) {
  char digits[20];
  size_t n = 0;
  do {
    digits[sizeof digits - 1 - n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  put_raw(digits + sizeof digits - n, n);
}

void mjh_text::put_signed(int64_t v) {
  if (v < 0) {
    put_raw("-", 1);
    put_unsigned(0 - static_cast<uint64_t>(v));  // INT64_MIN too
  } else {
    put_unsigned(static_cast<uint64_t>(v));
  }
}

void mjh_text::put(mjh_pad2 n) {
  if (n.value >= 0 && n.value < 10) put_raw("0", 1);
  put_signed(n.value);
}

void mjh_text::put(const mjh_json_quoted &q) {
  static const char hex[] = "0123456789abcdef";
  put_raw("\"", 1);
  const char *p = q.s.data();
  size_t n = q.s.size(), plain = 0;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    put(std::string_view(p + plain, i - plain));
    plain = i + 1;
    char esc[6] = {'\\', static_cast<char>(c), 0, 0, 0, 0};
    size_t len = 2;
    if (c == '\n') {
      esc[1] = 'n';
    } else if (c == '\r') {
      esc[1] = 'r';
    } else if (c == '\t') {
      esc[1] = 't';
    } else if (c < 0x20) {
      memcpy(esc, "\\u00", 4);
      esc[4] = hex[c >> 4];
      esc[5] = hex[c & 15];
      len = 6;
    }
    put_raw(esc, len);
  }
  put(std::string_view(p + plain, n - plain));
  put_raw("\"", 1);
}

void mjh_text::put(const mjh_shortened &s) {
  if (s.s.size() <= s.max) {
    put(s.s);
    return;
  }
  if (s.max < 3) return;
  put(std::string_view(s.s.data(), mjh_utf8_prefix(s.s.data(), s.s.size(), s.max - 3)));
  put_raw("...", 3);
}
