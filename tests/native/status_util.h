// Reading members out of a status line in tests.
#ifndef MJ_STATUS_UTIL_H
#define MJ_STATUS_UTIL_H

#include <stdlib.h>

#include <string>

// The status line's 19 members, in their order.
static const char *const k_status_keys[19] = {
    "active",          "mode",      "interval_s",      "dx",          "dy",       "only_when_idle",
    "dry_run",         "nudges",    "skipped",         "failed",      "idle_s",   "since_last_nudge_s",
    "next_nudge_in_s", "running_s", "last_reset_idle", "last_method", "platform", "mechanism",
    "version"};

// The raw text of a member's value ("\"zen\"", "12"), or "<missing>".
inline std::string status_member(const std::string &line, const std::string &key) {
  std::string needle = "\"" + key + "\":";
  size_t p = line.find(needle);
  if (p == std::string::npos) return "<missing>";
  p += needle.size();
  size_t e = line.find_first_of(",}", p);
  return line.substr(p, e - p);
}

inline long long status_num(const std::string &line, const std::string &key) {
  return strtoll(status_member(line, key).c_str(), nullptr, 10);
}

#endif
