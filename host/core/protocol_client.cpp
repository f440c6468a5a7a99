// The client's side of the protocol: requests written, replies read (mjctl,
// and any client of the agent). The agent's side is protocol.cpp.
#include <string.h>

#include "json.h"
#include "protocol.h"
#include "setting_table.h"

namespace {

enum { RUN_TEXT_MAX = 2048 };  // the DLL's status line, with room to grow

// ---- Reading replies -------------------------------------------------------------

// Reads a required boolean member of object obj.
bool member_bool(const char *text, const mjh_jtok *t, int count, int obj, const char *key, bool *out) {
  int v = mjh_json_member(text, t, count, obj, key);
  return v >= 0 && mjh_json_bool(text, &t[v], out);
}

// Reads a required string member of object obj, cut to fit.
bool member_text(const char *text, const mjh_jtok *t, int count, int obj, const char *key, char *out, size_t size) {
  int v = mjh_json_member(text, t, count, obj, key);
  if (v < 0 || t[v].type != MJH_JSON_STRING) return false;
  mjh_json_string_cut(text, &t[v], out, size);
  return true;
}

bool is_null(const char *text, const mjh_jtok *t) {
  return t->type == MJH_JSON_PRIMITIVE &&
         std::string_view(text + t->start, static_cast<size_t>(t->end - t->start)) == "null";
}

// A member that is a whole number of seconds since 1970, or null.
bool member_time(const char *text, const mjh_jtok *t, int count, int obj, const char *key, int64_t *out) {
  int v = mjh_json_member(text, t, count, obj, key);
  long long value;
  if (v < 0) return false;
  if (is_null(text, &t[v])) {
    *out = MJH_NO_TIME;
    return true;
  }
  if (!mjh_json_whole(text, &t[v], -253402300799LL, 253402300799LL, &value)) return false;
  *out = value;
  return true;
}

// A member that is a text or null (read as "").
bool member_text_or_null(const char *text, const mjh_jtok *t, int count, int obj, const char *key, char *out,
                         size_t size) {
  int v = mjh_json_member(text, t, count, obj, key);
  if (v >= 0 && is_null(text, &t[v])) {
    mjh_text empty(out, size);  // null reads as ""
    return true;
  }
  return member_text(text, t, count, obj, key, out, size);
}

// The agent's "schedule", read whole or not at all: one of another form (a
// newer agent's, or a damaged one) leaves r without a schedule.
void read_schedule(const char *text, const mjh_jtok *t, int count, int agent, mjh_reply *r) {
  int at = mjh_json_member(text, t, count, agent, "schedule");
  mjh_reply s = *r;
  mjh_hours check;
  if (at < 0 || t[at].type != MJH_JSON_OBJECT) return;
  if (!member_text_or_null(text, t, count, at, "hours", s.hours, sizeof s.hours) ||
      !member_text_or_null(text, t, count, at, "days", s.days, sizeof s.days) ||
      !member_bool(text, t, count, at, "inside", &s.inside) ||
      !member_time(text, t, count, at, "session_end", &s.session_end) ||
      !member_time(text, t, count, at, "next_start", &s.next_start) ||
      !member_text_or_null(text, t, count, at, "warning", s.warning, sizeof s.warning))
    return;
  // Working hours are shown as they read: texts that do not are refused.
  mjh_hours_none(&check);
  if ((s.hours[0] && !mjh_hours_parse(s.hours, &check, nullptr)) ||
      (s.days[0] && !mjh_days_parse(s.days, &check.days, nullptr)) || (!s.hours[0] != !s.days[0]))
    return;
  s.has_schedule = true;
  *r = s;
}

// The members of a status reply: "run" and "agent". Members this version does
// not know (a newer agent's) are passed over.
// "state", "reason" and "elevated", read whole or not at all.
void read_state(const char *text, const mjh_jtok *t, int count, int agent, mjh_reply *r) {
  char state[16];
  if (!member_text(text, t, count, agent, "state", state, sizeof state)) return;
  const std::string_view s = state;
  if (s != "active" && s != "waiting" && s != "stopped") return;
  if (!member_text(text, t, count, agent, "reason", r->reason, sizeof r->reason)) return;
  memcpy(r->state, state, sizeof state);
  bool elevated = false;
  if (member_bool(text, t, count, agent, "elevated", &elevated)) r->elevated = elevated;
  r->has_state = true;
}

// "conditions", read whole or not at all.
void read_conditions(const char *text, const mjh_jtok *t, int count, int agent, mjh_reply *r) {
  int at = mjh_json_member(text, t, count, agent, "conditions");
  if (at < 0 || t[at].type != MJH_JSON_OBJECT) return;
  mjh_reply c = *r;
  long long floor;
  int v = mjh_json_member(text, t, count, at, "battery_floor");
  if (!member_text_or_null(text, t, count, at, "while_running", c.while_running, sizeof c.while_running) ||
      !member_bool(text, t, count, at, "foreground", &c.foreground) ||
      !member_bool(text, t, count, at, "ac_only", &c.ac_only) || v < 0 ||
      !mjh_json_whole(text, &t[v], 0, MJH_BATTERY_STOP_MAX, &floor))
    return;
  mjh_programs check;
  if (c.while_running[0] && !mjh_programs_parse(c.while_running, &check, nullptr)) return;
  r->battery_floor = static_cast<int>(floor);
  memcpy(r->while_running, c.while_running, sizeof r->while_running);
  r->foreground = c.foreground;
  r->ac_only = c.ac_only;
  r->has_conditions = true;
}

bool read_status_members(const char *text, const mjh_jtok *t, int count, int agent, mjh_reply *r) {
  int run = mjh_json_member(text, t, count, 0, "run");
  if (run < 0) return false;
  if (t[run].type == MJH_JSON_OBJECT) {
    mjh_text_buffer<RUN_TEXT_MAX> line;
    line.add(std::string_view(text + t[run].start, static_cast<size_t>(t[run].end - t[run].start)));
    if (!line.ok() || !mjh_status_read(line.c_str(), &r->run)) return false;
  } else if (!is_null(text, &t[run])) {
    return false;
  }

  long long pid;
  int at = mjh_json_member(text, t, count, agent, "pid");
  if (at < 0 || !mjh_json_whole(text, &t[at], 0, 4294967295LL, &pid)) return false;
  r->pid = static_cast<unsigned long>(pid);
  if (!member_text(text, t, count, agent, "version", r->version, sizeof r->version) ||
      !member_bool(text, t, count, agent, "run_on", &r->run_on) ||
      !member_bool(text, t, count, agent, "keep_awake", &r->keep_awake_held) ||
      !member_bool(text, t, count, agent, "failing", &r->failing) ||
      !member_text(text, t, count, agent, "last_error", r->last_error, sizeof r->last_error))
    return false;
  if (!member_bool(text, t, count, agent, "keep_display", &r->keep_display_held))
    r->keep_display_held = r->keep_awake_held;  // an older agent held both together
  at = mjh_json_member(text, t, count, agent, "settings");
  if (at < 0 || t[at].type != MJH_JSON_OBJECT) return false;
  mjh_options_default(&r->settings);
  if (!mjh_settings_from_json(text, t, count, at, MJH_KEYS_ALL, 0, true, &r->settings, nullptr, nullptr, nullptr))
    return false;
  at = mjh_json_member(text, t, count, agent, "stopped_because");
  if (at >= 0 && t[at].type == MJH_JSON_STRING)
    mjh_json_string_cut(text, &t[at], r->stopped_because, sizeof r->stopped_because);
  read_schedule(text, t, count, agent, r);
  read_state(text, t, count, agent, r);
  read_conditions(text, t, count, agent, r);
  at = mjh_json_member(text, t, count, agent, "policy");
  if (at >= 0 && !mjh_policy_from_json(text, t, count, at, &r->policy)) mjh_policy_none(&r->policy);
  return true;
}

}  // namespace

bool mjh_request_format(mjh_command cmd, const mjh_options *options, unsigned keys,
                        const mjh_schedule_request *schedule, mjh_text &out) {
  const char *name = mjh_command_name(cmd);
  if (name == nullptr) return false;
  out.add("{\"cmd\":", mjh_json_quoted{name});
  if (options == nullptr) keys = 0;
  keys &= MJH_KEYS_ALL;
  const bool with_schedule = schedule != nullptr && schedule->given != 0;
  if (cmd == MJH_CMD_START && (keys != 0 || with_schedule)) {
    out.add(",\"options\":{");
    mjh_settings_put(options, keys, schedule, out);
    out.add('}');
  }
  out.add("}\n");
  return true;
}

bool mjh_reply_read(const char *line, size_t len, mjh_reply *out) {
  if (line == nullptr || len > MJH_REPLY_MAX) return false;
  mjh_jtok t[MJH_JSON_TOKENS_MAX];
  int count;
  if (mjh_json_parse_object(line, len, t, MJH_JSON_TOKENS_MAX, &count) != MJH_JSON_OK) return false;

  mjh_reply r{};
  mjh_options_default(&r.settings);
  mjh_policy_none(&r.policy);
  r.session_end = MJH_NO_TIME;
  r.next_start = MJH_NO_TIME;
  if (!member_bool(line, t, count, 0, "ok", &r.ok)) return false;
  if (!r.ok) {
    if (!member_text(line, t, count, 0, "error", r.error, sizeof r.error)) return false;
  } else {
    int agent = mjh_json_member(line, t, count, 0, "agent");
    if (agent >= 0) {
      if (t[agent].type != MJH_JSON_OBJECT || !read_status_members(line, t, count, agent, &r)) return false;
      r.has_run = true;
    }
  }
  *out = r;
  return true;
}
