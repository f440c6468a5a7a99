// The hosts' one text builder: every message, tooltip, sentence and JSON line
// they write goes through it into a buffer of fixed size.
//
// An append that does not fit keeps what fits, never half a UTF-8 character,
// and marks the text cut; every later append is dropped. A writer of wire
// text (a JSON line) checks ok() once at the end; a writer of words for a
// person may show a cut text as it is. Bytes that are not UTF-8 are written
// as '?', so the text is always UTF-8. Plain C++ without system headers.
#ifndef MJH_TEXT_H
#define MJH_TEXT_H

#include <stddef.h>
#include <stdint.h>

#include <string_view>
#include <type_traits>

// Pieces that mjh_text::add writes in a way of their own:
struct mjh_pad2 {  // a number of at least two digits: 7 -> "07"
  int value;
};
struct mjh_json_quoted {  // a JSON string: quoted, with '"', '\\' and control characters escaped
  std::string_view s;
};
struct mjh_shortened {  // at most max bytes of s; a longer s is cut at a character and ends in "..."
  std::string_view s;
  size_t max;
};

class mjh_text {
 public:
  // Writes into buf (size bytes, at least 1), which always holds a NUL-terminated text.
  mjh_text(char *buf, size_t size);
  template <size_t N>
  explicit mjh_text(char (&buf)[N]) : mjh_text(buf, N) {}
  mjh_text(const mjh_text &) = delete;
  mjh_text &operator=(const mjh_text &) = delete;

  // Appends each part in turn: texts (const char *, NULL as "", or
  // std::string_view), a char, integers in decimal, bool as true or false,
  // and the pieces above.
  template <typename... Parts>
  mjh_text &add(const Parts &...parts) {
    (put(parts), ...);
    return *this;
  }

  bool ok() const { return !cut_; }  // nothing was dropped
  size_t size() const { return len_; }
  const char *c_str() const { return buf_; }
  std::string_view view() const { return {buf_, len_}; }
  char last() const { return len_ ? buf_[len_ - 1] : '\0'; }

  // Back to an earlier size (the text after it is dropped, and the cut mark
  // with it): a writer may take back a piece it began.
  void rewind(size_t size);
  void clear() { rewind(0); }

 private:
  void put(std::string_view s);
  void put(const char *s) { put(std::string_view(s ? s : "")); }
  void put(char c) { put(std::string_view(&c, 1)); }
  void put(bool b) { put(std::string_view(b ? "true" : "false")); }
  void put(mjh_pad2 n);
  void put(const mjh_json_quoted &q);
  void put(const mjh_shortened &s);
  void put_signed(int64_t v);
  void put_unsigned(uint64_t v);
  template <typename T,
            std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>, int> = 0>
  void put(T v) {
    if constexpr (std::is_signed_v<T>)
      put_signed(static_cast<int64_t>(v));
    else
      put_unsigned(static_cast<uint64_t>(v));
  }
  // Copies bytes known to be UTF-8 that fit; the rest marks the text cut.
  void put_raw(const char *s, size_t n);

  char *buf_;
  size_t size_;
  size_t len_ = 0;
  bool cut_ = false;
};

// A builder with a buffer of its own (the buffer is a base, so that it exists
// before the builder takes its address).
template <size_t N>
struct mjh_text_storage {
  char data[N];
};

template <size_t N>
class mjh_text_buffer : private mjh_text_storage<N>, public mjh_text {
 public:
  mjh_text_buffer() : mjh_text(mjh_text_storage<N>::data, N) {}
};

// The part of s from pos, at most n bytes, clamped to s: std::string_view's
// substr would throw (and pull the runtime's exception machinery into a
// host) where this gives an empty view.
inline std::string_view mjh_slice(std::string_view s, size_t pos, size_t n = std::string_view::npos) {
  if (pos > s.size()) pos = s.size();
  size_t left = s.size() - pos;
  return std::string_view(s.data() + pos, n < left ? n : left);
}

// Whether s begins with prefix (without string_view's compare, which can
// throw like substr).
inline bool mjh_starts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && mjh_slice(s, 0, prefix.size()) == prefix;
}

// s without the blanks (spaces and tabs) at either end.
inline std::string_view mjh_trim_blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Whether a and b are the same, ignoring the case of ASCII letters.
inline bool mjh_equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// The comma-separated pieces of a list, each trimmed of blanks; an empty
// piece is given too, so that "a,,b" and "a," can be refused rather than read.
struct mjh_list_reader {
  std::string_view rest;
  bool done = false;

  bool next(std::string_view *piece) {
    if (done) return false;
    const size_t comma = rest.find(',');
    *piece = mjh_trim_blanks(mjh_slice(rest, 0, comma));
    if (comma == std::string_view::npos)
      done = true;
    else
      rest.remove_prefix(comma + 1);
    return true;
  }
};

// How a reader fails: appends the parts to err (when there is one) and
// returns false.
template <typename... Parts>
bool mjh_fail(mjh_text *err, const Parts &...parts) {
  if (err) err->add(parts...);
  return false;
}

// ---- UTF-8 ------------------------------------------------------------------

// The length of the UTF-8 sequence at s (n bytes available), or 0 when it is
// not one (overlong forms, surrogates and code points past U+10FFFF are not).
size_t mjh_utf8_sequence(const char *s, size_t n);

// Whether s[0..n) is UTF-8.
bool mjh_utf8_valid(const char *s, size_t n);

// The length of the longest prefix of s[0..n) that is at most max bytes and
// ends on a character boundary.
size_t mjh_utf8_prefix(const char *s, size_t n, size_t max);

#endif
