// The two kinds of nudge, one type for the DLL's options reader and the
// hosts: "zen", a relative move of 0,0, and "move", a move of dx,dy back and
// forth. Header only and without library calls, so that the DLL imports
// nothing more for it.
#ifndef MJ_NUDGE_MODE_H
#define MJ_NUDGE_MODE_H

#include <stddef.h>
#include <stdint.h>

// The values are the DLL's record's: 1 zen, 0 move.
enum mj_mode : int32_t { MJ_MODE_MOVE = 0, MJ_MODE_ZEN = 1 };

// "move" or "zen": every value but MJ_MODE_MOVE nudges as zen.
inline const char *mj_mode_name(mj_mode m) { return m == MJ_MODE_MOVE ? "move" : "zen"; }

// Whether the n bytes at s are exactly the NUL-terminated word.
inline bool mj_mode_word_is(const char *s, size_t n, const char *word) {
  size_t i = 0;
  while (i < n && word[i] != '\0' && s[i] == word[i]) i++;
  return i == n && word[i] == '\0';
}

// Reads the n bytes at s as "zen" or "move", exactly (no other case, no
// blanks). Returns false, *out untouched, for anything else.
inline bool mj_mode_read(const char *s, size_t n, mj_mode *out) {
  if (mj_mode_word_is(s, n, "zen")) {
    *out = MJ_MODE_ZEN;
    return true;
  }
  if (mj_mode_word_is(s, n, "move")) {
    *out = MJ_MODE_MOVE;
    return true;
  }
  return false;
}

#endif
