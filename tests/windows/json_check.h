// A strict reader for the status line's shape: one JSON object whose values
// are strings without escapes or integers. Enough to tell that a line is
// valid JSON of that shape; it is not a general JSON parser.
#ifndef MJ_JSON_CHECK_H
#define MJ_JSON_CHECK_H

#include <string>
#include <vector>

inline bool json_read_string(const std::string &s, size_t &i, std::string *out) {
  if (i >= s.size() || s[i] != '"') return false;
  size_t end = i + 1;
  while (end < s.size() && s[end] != '"') {
    unsigned char c = (unsigned char)s[end];
    if (c < 0x20 || c >= 0x7f || c == '\\') return false;
    end++;
  }
  if (end >= s.size()) return false;
  if (out) *out = s.substr(i + 1, end - i - 1);
  i = end + 1;
  return true;
}

inline bool json_read_integer(const std::string &s, size_t &i) {
  size_t start = i;
  if (i < s.size() && s[i] == '-') i++;
  if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  if (s[i] == '0' && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9') return false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') i++;
  return i > start;
}

// True when line is exactly {"k":v,...} with no whitespace; the keys in order
// go to keys.
inline bool json_is_flat_object(const std::string &line, std::vector<std::string> *keys = nullptr) {
  size_t i = 0;
  if (line.empty() || line[i++] != '{') return false;
  for (;;) {
    std::string key;
    if (!json_read_string(line, i, &key)) return false;
    if (keys) keys->push_back(key);
    if (i >= line.size() || line[i++] != ':') return false;
    bool ok = (i < line.size() && line[i] == '"') ? json_read_string(line, i, nullptr) : json_read_integer(line, i);
    if (!ok || i >= line.size()) return false;
    char c = line[i++];
    if (c == '}') return i == line.size();
    if (c != ',') return false;
  }
}

#endif
