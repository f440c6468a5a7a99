#include "wide.h"

#include <wchar.h>
#include <windows.h>

namespace {

const char32_t k_replacement = 0xFFFD;

// The code point of the UTF-8 sequence of len bytes at s (len from
// mjh_utf8_sequence, so the sequence is known to be whole and valid).
char32_t decode_utf8(const char *s, size_t len) {
  const unsigned char *b = reinterpret_cast<const unsigned char *>(s);
  if (len == 1) return b[0];
  char32_t cp = b[0] & (0x7F >> len);
  for (size_t i = 1; i < len; i++) cp = (cp << 6) | (b[i] & 0x3F);
  return cp;
}

// Writes cp as UTF-8 into out (4 bytes at most); returns its length.
size_t encode_utf8(char32_t cp, char *out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace

bool mjw_widen(std::string_view utf8, wchar_t *buf, size_t count) {
  if (count == 0) return utf8.empty();
  size_t used = 0, room = count - 1;
  for (size_t i = 0; i < utf8.size();) {
    size_t len = mjh_utf8_sequence(utf8.data() + i, utf8.size() - i);
    char32_t cp = len ? decode_utf8(utf8.data() + i, len) : k_replacement;
    size_t units = cp >= 0x10000 ? 2 : 1;
    if (units > room - used) {
      buf[used] = L'\0';
      return false;
    }
    if (units == 2) {
      buf[used++] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
      buf[used++] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      buf[used++] = static_cast<wchar_t>(cp);
    }
    i += len ? len : 1;
  }
  buf[used] = L'\0';
  return true;
}

void mjw_narrow(const wchar_t *wide, size_t count, mjh_text &out) {
  // Characters gather in a small chunk, so that out sees few appends; each
  // append is of whole characters, so a cut keeps whole characters too.
  char chunk[128];
  size_t n = 0;
  for (size_t i = 0; i < count && out.ok(); i++) {
    char32_t cp = static_cast<char16_t>(wide[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char16_t>(wide[i + 1]) - 0xDC00);
      i++;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = k_replacement;  // a lone surrogate
    }
    if (n + 4 > sizeof chunk) {
      out.add(std::string_view(chunk, n));
      n = 0;
    }
    n += encode_utf8(cp, chunk + n);
  }
  out.add(std::string_view(chunk, n));
}

void mjw_narrow(const wchar_t *wide, mjh_text &out) { mjw_narrow(wide, wide ? wcslen(wide) : 0, out); }

void mjw_narrow_path_folded(const wchar_t *path, mjh_text &out) {
  wchar_t folded[MJW_FOLD_MAX];
  int units = path ? static_cast<int>(wcsnlen(path, MJW_FOLD_MAX)) : 0;
  if (units == 0 || units >= MJW_FOLD_MAX ||
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path, units, folded, units, nullptr, nullptr, 0) != units)
    return mjw_narrow(path, out);
  mjw_narrow(folded, static_cast<size_t>(units), out);
}
