#include "protocol.h"

#include <stdio.h>
#include <string.h>

#include "json.h"

enum {
  REQUEST_TOKENS_MAX = 64, /* a start with every option needs 19 */
  RUN_TEXT_MAX = 2048      /* the DLL's status line, with room to grow */
};

/* ---- Lines ----------------------------------------------------------------------- */

void mjh_line_reader_init(mjh_line_reader *r) {
  r->line[0] = '\0';
  r->len = 0;
  r->overflow = 0;
  r->ready = 0;
}

mjh_line_result mjh_line_reader_feed(mjh_line_reader *r, const char *bytes, size_t n, size_t *used) {
  *used = 0;
  if (r->ready) return MJH_LINE_READY;
  if (r->overflow) {
    *used = n; /* the client is being dropped: whatever it sends is discarded */
    return MJH_LINE_TOO_LONG;
  }
  for (size_t i = 0; i < n; i++) {
    char c = bytes[i];
    if (c == '\n') {
      if (r->len > 0 && r->line[r->len - 1] == '\r') r->len--;
      r->line[r->len] = '\0';
      r->ready = 1;
      *used = i + 1;
      return MJH_LINE_READY;
    }
    /* One more byte and the '\n' still to come would pass the limit. */
    if (r->len + 1 >= MJH_REQUEST_MAX) {
      r->overflow = 1;
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
  r->ready = 0;
  r->len = 0;
  r->line[0] = '\0';
}

/* ---- Requests ---------------------------------------------------------------------- */

static const char *const k_command_names[] = {"status", "start", "stop", "nudge", "quit"};
enum { COMMAND_COUNT = sizeof k_command_names / sizeof k_command_names[0] };

const char *mjh_command_name(mjh_command cmd) { return (unsigned)cmd < COMMAND_COUNT ? k_command_names[cmd] : ""; }

static void set_error(char *err, size_t err_size, const char *message) {
  if (err != NULL && err_size > 0) snprintf(err, err_size, "%s", message);
}

int mjh_request_parse(const char *line, size_t len, const mjh_options *saved, mjh_request *out, char *err,
                      size_t err_size) {
  if (line == NULL) line = "";
  if (memchr(line, '\0', len) != NULL) {
    set_error(err, err_size, "NUL byte in the request");
    return 0;
  }
  if (len >= MJH_REQUEST_MAX) {
    set_error(err, err_size, "request too long");
    return 0;
  }
  mjh_jtok t[REQUEST_TOKENS_MAX];
  int count;
  mjh_json_error e = mjh_json_parse_object(line, len, t, REQUEST_TOKENS_MAX, &count);
  if (e != MJH_JSON_OK) {
    set_error(err, err_size, e == MJH_JSON_EMPTY ? "empty request" : mjh_json_error_text(e));
    return 0;
  }

  int cmd_at = -1, options_at = -1;
  for (int i = 1; i < count; i = mjh_json_skip(t, count, i + 1)) {
    int *slot = mjh_json_string_is(line, &t[i], "cmd")       ? &cmd_at
                : mjh_json_string_is(line, &t[i], "options") ? &options_at
                                                             : NULL;
    if (slot == NULL) {
      mjh_json_unknown_key_error(line, &t[i], err, err_size);
      return 0;
    }
    if (*slot != -1) {
      set_error(err, err_size, slot == &cmd_at ? "duplicate key \"cmd\"" : "duplicate key \"options\"");
      return 0;
    }
    *slot = i + 1;
  }
  if (cmd_at == -1) {
    set_error(err, err_size, "missing \"cmd\"");
    return 0;
  }
  if (t[cmd_at].type != MJH_JSON_STRING) {
    mjh_json_error_with_value(line, &t[cmd_at], "\"cmd\" must be a command name, not ", err, err_size);
    return 0;
  }
  mjh_request request;
  int known = 0;
  for (int c = 0; c < COMMAND_COUNT && !known; c++) {
    if (mjh_json_string_is(line, &t[cmd_at], k_command_names[c])) {
      request.cmd = (mjh_command)c;
      known = 1;
    }
  }
  if (!known) {
    mjh_json_error_with_value(line, &t[cmd_at], "unknown command ", err, err_size);
    return 0;
  }

  if (saved != NULL)
    request.options = *saved;
  else
    mjh_options_default(&request.options);
  request.given = 0;
  mjh_schedule_request_none(&request.schedule);
  if (options_at != -1) {
    if (request.cmd != MJH_CMD_START) {
      set_error(err, err_size, "\"options\" is only for \"start\"");
      return 0;
    }
    if (t[options_at].type != MJH_JSON_OBJECT) {
      mjh_json_error_with_value(line, &t[options_at], "\"options\" must be an object, not ", err, err_size);
      return 0;
    }
    char message[256];
    mjh_text m(message);
    if (!mjh_start_options_from_tokens(line, t, count, options_at, &request.options, &request.given, &request.schedule,
                                       &m)) {
      set_error(err, err_size, message);
      return 0;
    }
  }
  *out = request;
  return 1;
}

size_t mjh_request_format(mjh_command cmd, const mjh_options *options, unsigned keys, char *buf, size_t size) {
  return mjh_request_format_schedule(cmd, options, keys, NULL, buf, size);
}

size_t mjh_request_format_schedule(mjh_command cmd, const mjh_options *options, unsigned keys,
                                   const mjh_schedule_request *schedule, char *buf, size_t size) {
  if (buf == NULL || size == 0 || (unsigned)cmd >= COMMAND_COUNT) return 0;
  size_t used = 0;
  buf[0] = '\0';
  int ok =
      mjh_json_put_raw(buf, size, &used, "{\"cmd\":", 7) && mjh_json_put_string(buf, size, &used, k_command_names[cmd]);
  if (options == NULL) keys = 0;
  keys &= MJH_KEYS_ALL;
  int with_schedule = schedule != NULL && schedule->given != 0;
  if (ok && cmd == MJH_CMD_START && (keys != 0 || with_schedule)) {
    char object[512] = "{}";
    size_t n = keys != 0 ? mjh_options_object(options, keys, object, sizeof object) : 2;
    /* The schedule's members go in before the options object's '}'. */
    mjh_text_buffer<sizeof object> members;
    members.add(std::string_view(object, n > 0 ? n - 1 : 0));
    if (with_schedule) mjh_schedule_request_put(schedule, members);
    members.add('}');
    ok = n > 0 && members.ok() && mjh_json_put_raw(buf, size, &used, ",\"options\":", 11) &&
         mjh_json_put_raw(buf, size, &used, members.c_str(), members.size());
  }
  ok = ok && mjh_json_put_raw(buf, size, &used, "}\n", 2);
  if (!ok) {
    buf[0] = '\0';
    return 0;
  }
  return used;
}

/* ---- Replies ------------------------------------------------------------------------- */

size_t mjh_reply_ok(char *buf, size_t size) {
  size_t used = 0;
  if (buf == NULL || size == 0) return 0;
  buf[0] = '\0';
  return mjh_json_put_raw(buf, size, &used, "{\"ok\":true}\n", 12) ? used : 0;
}

size_t mjh_reply_error(const char *message, char *buf, size_t size) {
  if (buf == NULL || size == 0) return 0;
  /* Error texts are short; a longer one is cut rather than lost. */
  char shortened[512] = "";
  const char *m = message != NULL ? message : "";
  mjh_text_append_short(shortened, sizeof shortened, m, strlen(m), sizeof shortened - 1);
  size_t used = 0;
  buf[0] = '\0';
  if (mjh_json_put_raw(buf, size, &used, "{\"ok\":false,\"error\":", 20) &&
      mjh_json_put_string(buf, size, &used, shortened) && mjh_json_put_raw(buf, size, &used, "}\n", 2))
    return used;
  buf[0] = '\0';
  return 0;
}

static int put_bool(char *buf, size_t size, size_t *used, const char *member, int value) {
  return mjh_json_put_raw(buf, size, used, member, strlen(member)) &&
         mjh_json_put_raw(buf, size, used, value ? "true" : "false", value ? 4 : 5);
}

size_t mjh_reply_status(const mjh_agent_state *agent, const char *run_line, char *buf, size_t size) {
  if (buf == NULL || size == 0) return 0;
  buf[0] = '\0';
  if (agent == NULL) return 0;

  /* The status line goes in as it is, but only when it is one JSON object:
   * anything else would break the reply for every reader. */
  size_t run_len = run_line != NULL ? strlen(run_line) : 0;
  mjh_jtok t[MJH_JSON_TOKENS_MAX];
  int count;
  if (run_line == NULL || mjh_json_parse_object(run_line, run_len, t, MJH_JSON_TOKENS_MAX, &count) != MJH_JSON_OK) {
    run_line = "null";
    run_len = 4;
  }

  /* The schedule likewise, or it is left out. */
  const char *schedule = agent->schedule_json;
  if (schedule != NULL &&
      mjh_json_parse_object(schedule, strlen(schedule), t, MJH_JSON_TOKENS_MAX, &count) != MJH_JSON_OK)
    schedule = NULL;

  char number[64];
  char settings[256];
  size_t settings_len = mjh_options_json(&agent->settings, settings, sizeof settings);
  snprintf(number, sizeof number, ",\"agent\":{\"pid\":%lu,\"version\":", agent->pid);
  size_t used = 0;
  int ok = mjh_json_put_raw(buf, size, &used, "{\"ok\":true,\"run\":", 17) &&
           mjh_json_put_raw(buf, size, &used, run_line, run_len) &&
           mjh_json_put_raw(buf, size, &used, number, strlen(number)) &&
           mjh_json_put_string(buf, size, &used, agent->version != NULL ? agent->version : "") &&
           put_bool(buf, size, &used, ",\"run_on\":", agent->run_on) &&
           put_bool(buf, size, &used, ",\"keep_awake\":", agent->keep_awake_held) &&
           put_bool(buf, size, &used, ",\"failing\":", agent->failing) &&
           mjh_json_put_raw(buf, size, &used, ",\"last_error\":", 14) &&
           mjh_json_put_string(buf, size, &used, agent->last_error != NULL ? agent->last_error : "") &&
           settings_len > 0 && mjh_json_put_raw(buf, size, &used, ",\"settings\":", 12) &&
           mjh_json_put_raw(buf, size, &used, settings, settings_len) &&
           (schedule == NULL || (mjh_json_put_raw(buf, size, &used, ",\"schedule\":", 12) &&
                                 mjh_json_put_raw(buf, size, &used, schedule, strlen(schedule)))) &&
           (agent->stopped_because == NULL || (mjh_json_put_raw(buf, size, &used, ",\"stopped_because\":", 19) &&
                                               mjh_json_put_string(buf, size, &used, agent->stopped_because))) &&
           mjh_json_put_raw(buf, size, &used, "}}\n", 3);
  if (!ok) {
    buf[0] = '\0';
    return 0;
  }
  return used;
}

/* Reads a required boolean member of object obj. */
static int member_bool(const char *text, const mjh_jtok *t, int count, int obj, const char *key, int *out) {
  int v = mjh_json_member(text, t, count, obj, key);
  return v >= 0 && mjh_json_bool(text, &t[v], out);
}

/* Reads a required string member of object obj, cut to fit. */
static int member_text(const char *text, const mjh_jtok *t, int count, int obj, const char *key, char *out,
                       size_t size) {
  int v = mjh_json_member(text, t, count, obj, key);
  if (v < 0 || t[v].type != MJH_JSON_STRING) return 0;
  mjh_json_string_cut(text, &t[v], out, size);
  return 1;
}

static int is_null(const char *text, const mjh_jtok *t) {
  return t->type == MJH_JSON_PRIMITIVE && t->end - t->start == 4 && memcmp(text + t->start, "null", 4) == 0;
}

/* A member that is a whole number of seconds since 1970, or null. */
static int member_time(const char *text, const mjh_jtok *t, int count, int obj, const char *key, int64_t *out) {
  int v = mjh_json_member(text, t, count, obj, key);
  long long value;
  if (v < 0) return 0;
  if (is_null(text, &t[v])) {
    *out = MJH_NO_TIME;
    return 1;
  }
  if (!mjh_json_whole(text, &t[v], -253402300799LL, 253402300799LL, &value)) return 0;
  *out = value;
  return 1;
}

/* A member that is a text or null (read as ""). */
static int member_text_or_null(const char *text, const mjh_jtok *t, int count, int obj, const char *key, char *out,
                               size_t size) {
  int v = mjh_json_member(text, t, count, obj, key);
  if (v >= 0 && is_null(text, &t[v])) {
    out[0] = '\0';
    return 1;
  }
  return member_text(text, t, count, obj, key, out, size);
}

/* The agent's "schedule", read whole or not at all: one of another form (a
 * newer agent's, or a damaged one) leaves r without a schedule. */
static void read_schedule(const char *text, const mjh_jtok *t, int count, int agent, mjh_reply *r) {
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
  /* Working hours are shown as they read: texts that do not are refused. */
  mjh_hours_none(&check);
  if ((s.hours[0] && !mjh_hours_parse(s.hours, &check, nullptr)) ||
      (s.days[0] && !mjh_days_parse(s.days, &check.days, nullptr)) || (!s.hours[0] != !s.days[0]))
    return;
  s.has_schedule = 1;
  *r = s;
}

/* The members of a status reply: "run" and "agent". Members this version does
 * not know (a newer agent's) are passed over. */
static int read_status_members(const char *text, const mjh_jtok *t, int count, int agent, mjh_reply *r) {
  int run = mjh_json_member(text, t, count, 0, "run");
  if (run < 0) return 0;
  if (t[run].type == MJH_JSON_OBJECT) {
    char line[RUN_TEXT_MAX];
    size_t n = (size_t)(t[run].end - t[run].start);
    if (n >= sizeof line) return 0;
    memcpy(line, text + t[run].start, n);
    line[n] = '\0';
    if (!mjh_status_read(line, &r->run)) return 0;
  } else if (!is_null(text, &t[run])) {
    return 0;
  }

  long long pid;
  int at = mjh_json_member(text, t, count, agent, "pid");
  if (at < 0 || !mjh_json_whole(text, &t[at], 0, 4294967295LL, &pid)) return 0;
  r->pid = (unsigned long)pid;
  if (!member_text(text, t, count, agent, "version", r->version, sizeof r->version) ||
      !member_bool(text, t, count, agent, "run_on", &r->run_on) ||
      !member_bool(text, t, count, agent, "keep_awake", &r->keep_awake_held) ||
      !member_bool(text, t, count, agent, "failing", &r->failing) ||
      !member_text(text, t, count, agent, "last_error", r->last_error, sizeof r->last_error))
    return 0;
  at = mjh_json_member(text, t, count, agent, "settings");
  if (at < 0 || t[at].type != MJH_JSON_OBJECT) return 0;
  mjh_options_default(&r->settings);
  char ignored[8];
  if (!mjh_options_from_tokens(text, t, count, at, MJH_KEYS_ALL, 1, &r->settings, NULL, ignored, sizeof ignored))
    return 0;
  at = mjh_json_member(text, t, count, agent, "stopped_because");
  if (at >= 0 && t[at].type == MJH_JSON_STRING)
    mjh_json_string_cut(text, &t[at], r->stopped_because, sizeof r->stopped_because);
  read_schedule(text, t, count, agent, r);
  return 1;
}

int mjh_reply_read(const char *line, size_t len, mjh_reply *out) {
  if (line == NULL || len > MJH_REPLY_MAX) return 0;
  mjh_jtok t[MJH_JSON_TOKENS_MAX];
  int count;
  if (mjh_json_parse_object(line, len, t, MJH_JSON_TOKENS_MAX, &count) != MJH_JSON_OK) return 0;

  mjh_reply r;
  memset(&r, 0, sizeof r);
  mjh_options_default(&r.settings);
  r.session_end = MJH_NO_TIME;
  r.next_start = MJH_NO_TIME;
  if (!member_bool(line, t, count, 0, "ok", &r.ok)) return 0;
  if (!r.ok) {
    if (!member_text(line, t, count, 0, "error", r.error, sizeof r.error)) return 0;
  } else {
    int agent = mjh_json_member(line, t, count, 0, "agent");
    if (agent >= 0) {
      if (t[agent].type != MJH_JSON_OBJECT || !read_status_members(line, t, count, agent, &r)) return 0;
      r.has_run = 1;
    }
  }
  *out = r;
  return 1;
}
