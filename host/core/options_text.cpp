// Options texts read whole, as mjctl's --options gives them; the agent reads
// a request's "options" object from tokens (options.cpp, schedule_text.cpp).
#include "json.h"
#include "options.h"
#include "schedule_text.h"

namespace {

enum {
  OPTIONS_TEXT_MAX = 4096,  // longer than any request that could carry it
  OPTIONS_TOKENS_MAX = 128
};

}  // namespace

bool mjh_options_parse(const char *text, size_t len, unsigned allowed, mjh_options *o, unsigned *given, mjh_text *err) {
  if (text == nullptr) {
    text = "";
    len = 0;
  }
  if (len > OPTIONS_TEXT_MAX) {
    if (err) err->add("too long: more than ", static_cast<int>(OPTIONS_TEXT_MAX), " bytes");
    return false;
  }
  mjh_jtok tokens[OPTIONS_TOKENS_MAX];
  int count;
  mjh_json_error e = mjh_json_parse_object(text, len, tokens, OPTIONS_TOKENS_MAX, &count);
  if (e != MJH_JSON_OK) {
    if (err) err->add(mjh_json_error_text(e));
    return false;
  }
  return mjh_options_from_tokens(text, tokens, count, 0, allowed, false, o, given, err);
}

bool mjh_start_options_parse(const char *text, size_t len, mjh_options *o, unsigned *given, mjh_schedule_request *r,
                             mjh_text *err) {
  mjh_jtok tokens[MJH_JSON_TOKENS_MAX];
  int count;
  const mjh_json_error e = mjh_json_parse_object(text ? text : "", text ? len : 0, tokens, MJH_JSON_TOKENS_MAX, &count);
  if (e != MJH_JSON_OK) {
    if (err) err->add(mjh_json_error_text(e));
    return false;
  }
  return mjh_start_options_from_tokens(text, tokens, count, 0, o, given, r, err);
}
