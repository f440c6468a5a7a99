// The policies as a client shows them: read back from the agent's status
// reply, and said in words for mjctl status.
#include <string.h>

#include "json.h"
#include "policy.h"

void mjh_policy_sentence(const mjh_policy &p, mjh_text &out) {
  const char *sep = "set by your organization: ";
  auto part = [&]() -> mjh_text & {
    out.add(sep);
    sep = ", ";
    return out;
  };
  if (!p.allowed) part().add("turned off");
  if (p.max_interval_s > 0) part().add("at most ", p.max_interval_s, " s between nudges");
  if (p.keep_awake >= 0) part().add(p.keep_awake ? "keep-awake on" : "keep-awake off");
  if (p.from[MJH_POLICY_WORKING_HOURS] != MJH_SCOPE_NONE) {
    if (p.hours.span_count == 0) {
      part().add("no working hours");
    } else {
      part().add("working hours ");
      mjh_days_text(p.hours.days, out);
      out.add(' ');
      mjh_hours_text(&p.hours, out);
    }
  }
  if (p.start_with_windows >= 0) part().add(p.start_with_windows ? "starts with Windows" : "never starts with Windows");
}

void mjh_policy_damage_sentence(const mjh_policy &p, mjh_text &out) {
  for (int i = 0; i < p.damage_count; i++) {
    const mjh_policy_damage &d = p.damage[i];
    out.add(i ? "; " : "policy values ignored as damaged: ", mjh_policy_table(d.id).name, " (",
            mjh_policy_scope_name(d.scope), "): ", d.problem);
  }
}

namespace {

mjh_policy_scope scope_named(const char *text, const mjh_jtok &t) {
  if (mjh_json_string_is(text, &t, "machine")) return MJH_SCOPE_MACHINE;
  if (mjh_json_string_is(text, &t, "user")) return MJH_SCOPE_USER;
  return MJH_SCOPE_NONE;
}

int policy_named(const char *text, const mjh_jtok &t) {
  for (int id = 0; id < MJH_POLICY_COUNT; id++)
    if (mjh_json_string_is(text, &t, mjh_policy_table(id).name)) return id;
  return -1;
}

}  // namespace

bool mjh_policy_from_json(const char *text, const mjh_jtok *t, int count, int obj, mjh_policy *p) {
  mjh_policy_none(p);
  if (t[obj].type != MJH_JSON_OBJECT) return false;
  const int in_force = mjh_json_member(text, t, count, obj, "in_force");
  const int damaged = mjh_json_member(text, t, count, obj, "damaged");
  if (in_force < 0 || t[in_force].type != MJH_JSON_OBJECT || damaged < 0 || t[damaged].type != MJH_JSON_ARRAY)
    return false;

  // The values in force, as the machine's: read as stored values are, so
  // that they mean here what they meant to the agent.
  mjh_value values[MJH_POLICY_COUNT] = {};
  mjh_policy_scope scopes[MJH_POLICY_COUNT] = {};
  char texts[MJH_POLICY_COUNT][128];
  for (int i = in_force + 1; i < count && t[i].start < t[in_force].end; i = mjh_json_skip(t, count, i + 1)) {
    const int id = policy_named(text, t[i]);
    const int entry = i + 1;
    if (id < 0 || t[entry].type != MJH_JSON_OBJECT) continue;
    const int value = mjh_json_member(text, t, count, entry, "value");
    const int scope = mjh_json_member(text, t, count, entry, "scope");
    if (value < 0 || scope < 0 || scope_named(text, t[scope]) == MJH_SCOPE_NONE) return false;
    long long number;
    if (mjh_json_whole(text, &t[value], 0, 4294967295LL, &number)) {
      values[id] = {MJH_VALUE_NUMBER, static_cast<uint32_t>(number), nullptr};
    } else if (t[value].type == MJH_JSON_STRING && mjh_json_string(text, &t[value], texts[id], sizeof texts[id]) >= 0) {
      values[id] = {MJH_VALUE_TEXT, 0, texts[id]};
    } else {
      return false;
    }
    scopes[id] = scope_named(text, t[scope]);
  }
  mjh_policy read;
  mjh_policy_read(values, nullptr, &read);
  if (read.damage_count > 0) return false;  // the agent would not have sent it so
  for (int id = 0; id < MJH_POLICY_COUNT; id++)
    if (read.from[id] != MJH_SCOPE_NONE) read.from[id] = scopes[id];

  for (int i = damaged + 1; i < count && t[i].start < t[damaged].end; i = mjh_json_skip(t, count, i)) {
    if (t[i].type != MJH_JSON_OBJECT) return false;
    const int name = mjh_json_member(text, t, count, i, "name");
    const int scope = mjh_json_member(text, t, count, i, "scope");
    const int problem = mjh_json_member(text, t, count, i, "problem");
    const int id = name < 0 ? -1 : policy_named(text, t[name]);
    if (id < 0 || scope < 0 || problem < 0 || read.damage_count >= MJH_POLICY_DAMAGE_MAX) return false;
    mjh_policy_damage &d = read.damage[read.damage_count++];
    d.id = id;
    d.scope = scope_named(text, t[scope]);
    mjh_json_string_cut(text, &t[problem], d.problem, sizeof d.problem);
  }
  *p = read;
  return true;
}
