#include "options.h"

#include "json.h"

namespace {

enum option_kind { KIND_MODE, KIND_WHOLE, KIND_BOOL };

struct option_key {
  const char *name;
  unsigned bit;
  option_kind kind;
  int min, max;
  int mjh_options::*field;  // the mode has a type of its own
};

// In the order of the DLL's options text, keep_awake last.
const option_key k_keys[] = {
    {"mode", MJH_KEY_MODE, KIND_MODE, 0, 0, nullptr},
    {"interval_s", MJH_KEY_INTERVAL_S, KIND_WHOLE, 1, 3600, &mjh_options::interval_s},
    {"dx", MJH_KEY_DX, KIND_WHOLE, -200, 200, &mjh_options::dx},
    {"dy", MJH_KEY_DY, KIND_WHOLE, -200, 200, &mjh_options::dy},
    {"only_when_idle", MJH_KEY_ONLY_WHEN_IDLE, KIND_BOOL, 0, 1, &mjh_options::only_when_idle},
    {"dry_run", MJH_KEY_DRY_RUN, KIND_BOOL, 0, 1, &mjh_options::dry_run},
    {"keep_awake", MJH_KEY_KEEP_AWAKE, KIND_BOOL, 0, 1, &mjh_options::keep_awake},
};

// Reads the value token v of key k into *o; on failure appends the message.
bool read_value(const char *text, const mjh_jtok *v, const option_key *k, mjh_options *o, mjh_text *err) {
  mjh_text_buffer<96> what;
  what.add('"', k->name, "\" must be ");
  switch (k->kind) {
    case KIND_MODE: {
      char word[8];
      int n = mjh_json_string(text, v, word, sizeof word);
      if (n >= 0 && mj_mode_read(word, static_cast<size_t>(n), &o->mode)) return true;
      what.add("\"zen\" or \"move\", not ");
      break;
    }
    case KIND_WHOLE: {
      long long number;
      if (mjh_json_whole(text, v, k->min, k->max, &number)) {
        o->*k->field = static_cast<int>(number);
        return true;
      }
      what.add("a whole number from ", k->min, " to ", k->max, ", not ");
      break;
    }
    case KIND_BOOL: {
      bool flag;
      if (mjh_json_bool(text, v, &flag)) {
        o->*k->field = flag;
        return true;
      }
      what.add("true or false, not ");
      break;
    }
  }
  mjh_json_error_with_value(text, v, what.c_str(), err);
  return false;
}

}  // namespace

void mjh_options_default(mjh_options *o) {
  o->mode = MJ_MODE_ZEN;
  o->interval_s = 60;
  o->dx = 1;
  o->dy = 1;
  o->only_when_idle = 1;
  o->dry_run = 0;
  o->keep_awake = 0;
}

bool mjh_options_from_tokens(const char *text, const mjh_jtok *t, int count, int obj, unsigned allowed,
                             bool ignore_unknown, mjh_options *o, unsigned *given, mjh_text *err) {
  mjh_options result = *o;
  unsigned named = 0;
  for (int i = obj + 1; i < count && t[i].start < t[obj].end; i = mjh_json_skip(t, count, i + 1)) {
    const mjh_jtok *key = &t[i], *value = &t[i + 1];
    const option_key *k = nullptr;
    for (const option_key &candidate : k_keys)
      if (k == nullptr && mjh_json_string_is(text, key, candidate.name)) k = &candidate;
    if (k == nullptr) {
      if (ignore_unknown) continue;
      mjh_json_unknown_key_error(text, key, err);
      return false;
    }
    if (!(allowed & k->bit)) {
      if (ignore_unknown) continue;
      if (err) err->add('"', k->name, "\" is not an option here");
      return false;
    }
    if (named & k->bit) {
      if (err) err->add("duplicate key \"", k->name, '"');
      return false;
    }
    if (!read_value(text, value, k, &result, err)) return false;
    named |= k->bit;
  }
  *o = result;
  if (given != nullptr) *given = named;
  return true;
}

void mjh_options_members(const mjh_options *o, unsigned keys, mjh_text &out) {
  for (const option_key &k : k_keys) {
    if (!(keys & k.bit)) continue;
    mjh_json_put_key(out, k.name);
    if (k.kind == KIND_MODE)
      out.add('"', mj_mode_name(o->mode), '"');
    else if (k.kind == KIND_BOOL)
      out.add(o->*k.field != 0);
    else
      out.add(o->*k.field);
  }
}

static void add_object(const mjh_options *o, unsigned keys, mjh_text &out) {
  out.add('{');
  mjh_options_members(o, keys, out);
  out.add('}');
}

void mjh_options_dll_text(const mjh_options *o, mjh_text &out) { add_object(o, MJH_KEYS_DLL, out); }

void mjh_options_json(const mjh_options *o, mjh_text &out) { add_object(o, MJH_KEYS_ALL, out); }

void mjh_options_take(mjh_options *to, const mjh_options &from, unsigned keys) {
  for (const option_key &k : k_keys) {
    if (!(keys & k.bit)) continue;
    if (k.kind == KIND_MODE)
      to->mode = from.mode;
    else
      to->*k.field = from.*k.field;
  }
}
