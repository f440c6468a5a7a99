#include "protocol.h"

#include <string.h>

#include "json.h"
#include "setting_table.h"

namespace {

enum { REQUEST_TOKENS_MAX = 64 };  // a start naming every key needs 35

const char *const k_command_names[] = {"status", "start", "stop", "nudge", "quit", "show"};
enum { COMMAND_COUNT = sizeof k_command_names / sizeof k_command_names[0] };

// Whether text is one JSON object, to be inserted into a reply as it is.
bool is_object(const char *text) {
  mjh_jtok t[MJH_JSON_TOKENS_MAX];
  int count;
  return text != nullptr && mjh_json_parse_object(text, strlen(text), t, MJH_JSON_TOKENS_MAX, &count) == MJH_JSON_OK;
}

}  // namespace

const char *mjh_command_name(mjh_command cmd) {
  return static_cast<unsigned>(cmd) < COMMAND_COUNT ? k_command_names[cmd] : nullptr;
}

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
    if (!mjh_settings_from_json(line, t, count, options_at, MJH_KEYS_ALL, MJH_SCHED_KEYS_ALL, false, &request.options,
                                &request.given, &request.schedule, err))
      return false;
  }
  *out = request;
  return true;
}

// ---- Replies -------------------------------------------------------------------------------

void mjh_reply_ok(mjh_text &out) { out.add("{\"ok\":true}\n"); }

const char mjh_shutting_down[] = "the agent is shutting down";

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
          ",\"run_on\":", agent->run_on, ",\"keep_awake\":", agent->keep_awake_held,
          ",\"keep_display\":", agent->keep_display_held, ",\"failing\":", agent->failing,
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
