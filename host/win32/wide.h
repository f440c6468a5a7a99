// Texts at the Win32 boundary: the hosts write UTF-8 (mjh_text), Windows
// takes and gives UTF-16. Both conversions keep whole characters: a text cut
// to its buffer never ends in half a surrogate pair or half a UTF-8 sequence,
// and what is not a character (a stray byte, a lone surrogate) becomes
// U+FFFD.
#ifndef MJW_WIDE_H
#define MJW_WIDE_H

#include <stddef.h>

#include <string_view>

#include "text.h"

// Writes utf8 into buf (count units, at least 1) as UTF-16, NUL-terminated.
// Returns false when it had to be cut.
bool mjw_widen(std::string_view utf8, wchar_t *buf, size_t count);
template <size_t N>
bool mjw_widen(std::string_view utf8, wchar_t (&buf)[N]) {
  return mjw_widen(utf8, buf, N);
}

// Appends UTF-16 text (up to its NUL, or count units) to out as UTF-8.
void mjw_narrow(const wchar_t *wide, mjh_text &out);
void mjw_narrow(const wchar_t *wide, size_t count, mjh_text &out);

// Appends a path (up to its NUL) to out as UTF-8, in upper case as Windows
// compares paths: by the file system's own table (LCMapStringEx, invariant,
// LCMAP_UPPERCASE without linguistic casing), not a language's. A path longer
// than MJW_FOLD_MAX units goes as given.
enum { MJW_FOLD_MAX = 1024 };
void mjw_narrow_path_folded(const wchar_t *path, mjh_text &out);

#endif
