#include "protocol.h"

#include <string.h>

#include "json.h"

namespace {

enum {
  REQUEST_TOKENS_MAX = 64,  // a start with every option needs 19
  RUN_TEXT_MAX = 2048       // the DLL's status line, with room to grow
};

const char *const k_command_names[] = {"status", "start", "stop", "nudge", "quit", "show"};
enum { COMMAND_COUNT = sizeof k_command_names / sizeof k_command_names[0] };

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
  at = mjh_json_member(text, t, count, agent, "settings");
  if (at < 0 || t[at].type != MJH_JSON_OBJECT) return false;
  mjh_options_default(&r->settings);
  if (!mjh_options_from_tokens(text, t, count, at, MJH_KEYS_ALL, true, &r->settings, nullptr, nullptr)) return false;
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

// Whether text is one JSON object, to be inserted into a reply as it is.
bool is_object(const char *text) {
  mjh_jtok t[MJH_JSON_TOKENS_MAX];
  int count;
  return text != nullptr && mjh_json_parse_object(text, strlen(text), t, MJH_JSON_TOKENS_MAX, &count) == MJH_JSON_OK;
}

}  // namespace

// ---- Lines ----------------------------------------------------------------------------

void mjh_line_reader_init(mjh_line_reader *r) {
  r->line[0] = '\0';
  r->len = 0;
  r->overflow = false;
  r->ready = false;
}

mjh_line_result mjh_line_reader_feed(mjh_line_reader *r, const char *bytes, size_t n, size_t *used) {
  *used = 0;
  if (r->ready) return MJH_LINE_READY;
  if (r->overflow) {
    *used = n;  // the client is being dropped: whatever it sends is discarded
    return MJH_LINE_TOO_LONG;
  }
  for (size_t i = 0; i < n; i++) {
    char c = bytes[i];
    if (c == '\n') {
      if (r->len > 0 && r->line[r->len - 1] == '\r') r->len--;
      // The line is bytes as they came (NUL bytes and all), not text: the
      // request reader judges them. The NUL after them is for convenience.
      r->line[r->len] = '\0';
      r->ready = true;
      *used = i + 1;
      return MJH_LINE_READY;
    }
    // One more byte and the '\n' still to come would pass the limit.
    if (r->len + 1 >= MJH_REQUEST_MAX) {
      r->overflow = true;
      *used = n;
      return MJH_LINE_TOO_LONG;
    }
    r->line[r->len++] = c;
  }
  *used = n;
  return MJH_LINE_MORE;
}

void mjh_line_reader_next(mjh_line_reader *r) {
  if (!r->ready) return;
  mjh_line_reader_init(r);
}

// ---- Requests ---------------------------------------------------------------------------

bool mjh_request_parse(const char *line, size_t len, const mjh_options *saved, mjh_request *out, mjh_text *err) {
  if (line == nullptr) line = "";
  if (memchr(line, '\0', len) != nullptr) {
    if (err) err->add("NUL byte in the request");
    return false;
  }
  if (len >= MJH_REQUEST_MAX) {
    if (err) err->add("request too long");
    return false;
  }
  mjh_jtok t[REQUEST_TOKENS_MAX];
  int count;
  mjh_json_error e = mjh_json_parse_object(line, len, t, REQUEST_TOKENS_MAX, &count);
  if (e != MJH_JSON_OK) {
    if (err) err->add(e == MJH_JSON_EMPTY ? "empty request" : mjh_json_error_text(e));
    return false;
  }

  int cmd_at = -1, options_at = -1;
  for (int i = 1; i < count; i = mjh_json_skip(t, count, i + 1)) {
    int *slot = mjh_json_string_is(line, &t[i], "cmd")       ? &cmd_at
                : mjh_json_string_is(line, &t[i], "options") ? &options_at
                                                             : nullptr;
    if (slot == nullptr) {
      mjh_json_unknown_key_error(line, &t[i], err);
      return false;
    }
    if (*slot != -1) {
      if (err) err->add("duplicate key \"", slot == &cmd_at ? "cmd" : "options", '"');
      return false;
    }
    *slot = i + 1;
  }
  if (cmd_at == -1) {
    if (err) err->add("missing \"cmd\"");
    return false;
  }
  if (t[cmd_at].type != MJH_JSON_STRING) {
    mjh_json_error_with_value(line, &t[cmd_at], "\"cmd\" must be a command name, not ", err);
    return false;
  }
  mjh_request request;
  bool known = false;
  for (int c = 0; c < COMMAND_COUNT && !known; c++) {
    if (mjh_json_string_is(line, &t[cmd_at], k_command_names[c])) {
      request.cmd = static_cast<mjh_command>(c);
      known = true;
    }
  }
  if (!known) {
    mjh_json_error_with_value(line, &t[cmd_at], "unknown command ", err);
    return false;
  }

  if (saved != nullptr)
    request.options = *saved;
  else
    mjh_options_default(&request.options);
  request.given = 0;
  mjh_schedule_request_none(&request.schedule);
  if (options_at != -1) {
    if (request.cmd != MJH_CMD_START) {
      if (err) err->add("\"options\" is only for \"start\"");
      return false;
    }
    if (t[options_at].type != MJH_JSON_OBJECT) {
      mjh_json_error_with_value(line, &t[options_at], "\"options\" must be an object, not ", err);
      return false;
    }
    if (!mjh_start_options_from_tokens(line, t, count, options_at, &request.options, &request.given, &request.schedule,
                                       err))
      return false;
  }
  *out = request;
  return true;
}

bool mjh_request_format(mjh_command cmd, const mjh_options *options, unsigned keys,
                        const mjh_schedule_request *schedule, mjh_text &out) {
  if (static_cast<unsigned>(cmd) >= COMMAND_COUNT) return false;
  out.add("{\"cmd\":", mjh_json_quoted{k_command_names[cmd]});
  if (options == nullptr) keys = 0;
  keys &= MJH_KEYS_ALL;
  const bool with_schedule = schedule != nullptr && schedule->given != 0;
  if (cmd == MJH_CMD_START && (keys != 0 || with_schedule)) {
    out.add(",\"options\":{");
    if (keys != 0) mjh_options_members(options, keys, out);
    if (with_schedule) mjh_schedule_request_put(schedule, out);
    out.add('}');
  }
  out.add("}\n");
  return true;
}

// ---- Replies -------------------------------------------------------------------------------

void mjh_reply_ok(mjh_text &out) { out.add("{\"ok\":true}\n"); }

void mjh_reply_error(const char *message, mjh_text &out) {
  // Error texts are short; a longer one is cut rather than lost.
  mjh_text_buffer<512> shown;
  shown.add(mjh_shortened{message != nullptr ? message : "", 511});
  out.add("{\"ok\":false,\"error\":", mjh_json_quoted{shown.view()}, "}\n");
}

void mjh_reply_status(const mjh_agent_state *agent, const char *run_line, mjh_text &out) {
  // The status line goes in as it is, but only when it is one JSON object:
  // anything else would break the reply for every reader. The schedule
  // likewise, or it is left out.
  if (!is_object(run_line)) run_line = "null";
  const char *schedule = is_object(agent->schedule_json) ? agent->schedule_json : nullptr;
  out.add("{\"ok\":true,\"run\":", run_line, ",\"agent\":{\"pid\":", agent->pid,
          ",\"version\":", mjh_json_quoted{agent->version != nullptr ? agent->version : ""},
          ",\"run_on\":", agent->run_on, ",\"keep_awake\":", agent->keep_awake_held, ",\"failing\":", agent->failing,
          ",\"last_error\":", mjh_json_quoted{agent->last_error != nullptr ? agent->last_error : ""}, ",\"settings\":");
  mjh_options_json(&agent->settings, out);
  if (schedule != nullptr) out.add(",\"schedule\":", schedule);
  if (agent->stopped_because != nullptr) out.add(",\"stopped_because\":", mjh_json_quoted{agent->stopped_because});
  if (agent->state != nullptr)
    out.add(",\"state\":", mjh_json_quoted{agent->state},
            ",\"reason\":", mjh_json_quoted{agent->reason != nullptr ? agent->reason : ""},
            ",\"elevated\":", agent->elevated);
  if (is_object(agent->conditions_json)) out.add(",\"conditions\":", agent->conditions_json);
  if (is_object(agent->policy_json)) out.add(",\"policy\":", agent->policy_json);
  out.add("}}\n");
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
