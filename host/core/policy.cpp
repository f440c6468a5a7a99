#include "policy.h"

#include <string.h>

#include "setting_table.h"

namespace {

// A policy that limits a setting takes its type and range from the
// setting's row.
constexpr mjh_policy_def of_setting(const char *name, int id) {
  for (const mjh_setting &row : mjh_setting_rows) {
    if (row.policy != id) continue;
    if (row.type == MJH_TYPE_HOURS) return {name, MJH_VALUE_TEXT, 0, 0, MJH_HOURS_TEXT_MAX - 1};
    if (row.type == MJH_TYPE_DAYS) return {name, MJH_VALUE_TEXT, 0, 0, MJH_DAYS_TEXT_MAX - 1};
    return {name, MJH_VALUE_NUMBER, static_cast<uint32_t>(row.min), static_cast<uint32_t>(row.max), 0};
  }
  return {name, MJH_VALUE_MISSING, 0, 0, 0};
}

constexpr mjh_policy_def k_policies[MJH_POLICY_COUNT] = {
    {"Allowed", MJH_VALUE_NUMBER, 0, 1, 0},
    of_setting("MaxIntervalSeconds", MJH_POLICY_MAX_INTERVAL),
    of_setting("KeepAwake", MJH_POLICY_KEEP_AWAKE),
    of_setting("WorkingHours", MJH_POLICY_WORKING_HOURS),
    of_setting("WorkingDays", MJH_POLICY_WORKING_DAYS),
    {"StartWithWindows", MJH_VALUE_NUMBER, 0, 1, 0},
};

void add_damage(mjh_policy *p, int id, mjh_policy_scope scope, const char *what, const char *detail) {
  if (p->damage_count >= MJH_POLICY_DAMAGE_MAX) return;
  mjh_policy_damage &d = p->damage[p->damage_count++];
  d.id = id;
  d.scope = scope;
  mjh_text problem(d.problem);
  problem.add(mjh_shortened{what, MJH_POLICY_PROBLEM_MAX / 2}, detail ? ": " : "",
              mjh_shortened{detail ? detail : "", MJH_POLICY_PROBLEM_MAX / 2 - 3});
}

// Whether value v of policy id is valid as to its type and range (texts are
// read by the schedule's parsers afterwards); a damaged one is named.
bool usable(mjh_policy *p, int id, mjh_policy_scope scope, const mjh_value &v) {
  const mjh_policy_def &def = k_policies[id];
  if (v.type == MJH_VALUE_MISSING) return false;
  if (v.type != def.type) {
    add_damage(p, id, scope, def.type == MJH_VALUE_NUMBER ? "not a DWORD" : "not a string (REG_SZ)", nullptr);
    return false;
  }
  if (def.type == MJH_VALUE_NUMBER && (v.number < def.min || v.number > def.max)) {
    char detail[16];
    mjh_text(detail).add(v.number);
    char what[48];
    mjh_text(what).add("out of range ", def.min, " to ", def.max);
    add_damage(p, id, scope, what, detail);
    return false;
  }
  if (def.type == MJH_VALUE_TEXT && (!v.text || strlen(v.text) > def.max_length)) {
    char what[48];
    mjh_text(what).add("longer than ", def.max_length, " bytes");
    add_damage(p, id, scope, what, nullptr);
    return false;
  }
  return true;
}

// The working hours of one scope: true when it sets valid ones.
bool read_hours(mjh_policy *p, mjh_policy_scope scope, const mjh_value *values, mjh_hours *out) {
  const mjh_value &hours = values[MJH_POLICY_WORKING_HOURS];
  const mjh_value &days = values[MJH_POLICY_WORKING_DAYS];
  bool hours_ok = usable(p, MJH_POLICY_WORKING_HOURS, scope, hours);
  bool days_ok = usable(p, MJH_POLICY_WORKING_DAYS, scope, days);
  bool days_damaged = days.type != MJH_VALUE_MISSING && !days_ok;
  if (!hours_ok) {
    if (hours.type == MJH_VALUE_MISSING && days_ok)
      add_damage(p, MJH_POLICY_WORKING_DAYS, scope, "set without WorkingHours", nullptr);
    return false;
  }
  mjh_hours h;
  mjh_hours_none(&h);
  mjh_text_buffer<MJH_POLICY_PROBLEM_MAX> err;
  bool ok = true;
  if (!mjh_hours_parse(hours.text, &h, &err)) {
    add_damage(p, MJH_POLICY_WORKING_HOURS, scope, "does not read", err.c_str());
    ok = false;
  }
  // Empty days (a template's text box left empty): every day.
  err.clear();
  if (days_ok && days.text[0] != '\0' && !mjh_days_parse(days.text, &h.days, &err)) {
    add_damage(p, MJH_POLICY_WORKING_DAYS, scope, "does not read", err.c_str());
    ok = false;
  }
  // A damaged half drops the pair: hours on days nobody chose never apply.
  if (!ok || days_damaged) return false;
  *out = h;
  return true;
}

// A DWORD policy from both scopes, the machine's first; -1 when neither sets a valid one.
int read_number(mjh_policy *p, int id, const mjh_value *machine, const mjh_value *user) {
  if (machine && usable(p, id, MJH_SCOPE_MACHINE, machine[id])) {
    if (user) usable(p, id, MJH_SCOPE_USER, user[id]);  // named when damaged, though the machine's wins
    p->from[id] = MJH_SCOPE_MACHINE;
    return static_cast<int>(machine[id].number);
  }
  if (user && usable(p, id, MJH_SCOPE_USER, user[id])) {
    p->from[id] = MJH_SCOPE_USER;
    return static_cast<int>(user[id].number);
  }
  return -1;
}

bool refuse(mjh_text *err, const char *what, const char *policy) {
  if (err) err->add(what, " by your organization's policy ", policy);
  return false;
}

}  // namespace

const mjh_policy_def &mjh_policy_table(int id) { return k_policies[id]; }

void mjh_policy_none(mjh_policy *p) {
  for (int id = 0; id < MJH_POLICY_COUNT; id++) p->from[id] = MJH_SCOPE_NONE;
  p->allowed = true;
  p->max_interval_s = 0;
  p->keep_awake = -1;
  mjh_hours_none(&p->hours);
  p->start_with_windows = -1;
  p->damage_count = 0;
}

void mjh_policy_read(const mjh_value *machine, const mjh_value *user, mjh_policy *p) {
  mjh_policy_none(p);
  p->allowed = read_number(p, MJH_POLICY_ALLOWED, machine, user) != 0;
  int max = read_number(p, MJH_POLICY_MAX_INTERVAL, machine, user);
  p->max_interval_s = max > 0 ? max : 0;
  p->keep_awake = read_number(p, MJH_POLICY_KEEP_AWAKE, machine, user);
  p->start_with_windows = read_number(p, MJH_POLICY_START_WITH_WINDOWS, machine, user);

  mjh_hours h;
  bool machine_hours = machine && read_hours(p, MJH_SCOPE_MACHINE, machine, &h);
  if (machine_hours) {
    p->from[MJH_POLICY_WORKING_HOURS] = p->from[MJH_POLICY_WORKING_DAYS] = MJH_SCOPE_MACHINE;
    p->hours = h;
  }
  // The user's pair is read (and named when damaged) even where the machine's wins.
  if (user && read_hours(p, MJH_SCOPE_USER, user, &h) && !machine_hours) {
    p->from[MJH_POLICY_WORKING_HOURS] = p->from[MJH_POLICY_WORKING_DAYS] = MJH_SCOPE_USER;
    p->hours = h;
  }
}

bool mjh_policy_any(const mjh_policy &p) {
  for (int id = 0; id < MJH_POLICY_COUNT; id++)
    if (p.from[id] != MJH_SCOPE_NONE) return true;
  return p.damage_count > 0;
}

void mjh_policy_apply(const mjh_policy &p, mjh_options *o) {
  if (p.max_interval_s > 0 && o->interval_s > p.max_interval_s) o->interval_s = p.max_interval_s;
  if (p.keep_awake >= 0) o->keep_awake = p.keep_awake;
}

void mjh_policy_apply_hours(const mjh_policy &p, mjh_hours *h) {
  if (p.from[MJH_POLICY_WORKING_HOURS] != MJH_SCOPE_NONE) *h = p.hours;
}

bool mjh_policy_start_with_windows(const mjh_policy &p, bool users_choice) {
  return p.start_with_windows >= 0 ? p.start_with_windows == 1 : users_choice;
}

bool mjh_policy_check_allowed(const mjh_policy &p, mjh_text *err) {
  if (p.allowed) return true;
  if (err) err->add("turned off by your organization (policy Allowed)");
  return false;
}

bool mjh_policy_check_interval(const mjh_policy &p, int interval_s, mjh_text *err) {
  if (p.max_interval_s == 0 || interval_s <= p.max_interval_s) return true;
  if (err) err->add("the interval is limited to ", p.max_interval_s, " s");
  return refuse(err, "", "MaxIntervalSeconds");
}

bool mjh_policy_check_keep_awake(const mjh_policy &p, bool keep_awake, mjh_text *err) {
  if (p.keep_awake < 0 || (p.keep_awake == 1) == keep_awake) return true;
  return refuse(err, p.keep_awake ? "keep-awake is turned on" : "keep-awake is turned off", "KeepAwake");
}

bool mjh_policy_check_hours(const mjh_policy &p, mjh_text *err) {
  if (p.from[MJH_POLICY_WORKING_HOURS] == MJH_SCOPE_NONE) return true;
  return refuse(err, "working hours are set", "WorkingHours");
}

bool mjh_policy_check_start_with_windows(const mjh_policy &p, mjh_text *err) {
  if (p.start_with_windows < 0) return true;
  return refuse(err, "start with Windows is set", "StartWithWindows");
}

bool mjh_policy_check_request(const mjh_policy &p, const mjh_options &o, unsigned keys, unsigned sched_keys,
                              mjh_text *err) {
  if (!mjh_policy_check_allowed(p, err)) return false;
  // The settings it names that a policy limits, in the table's order.
  for (const mjh_setting &row : mjh_setting_rows) {
    if (row.policy < 0 || !((row.kind == MJH_SETTING_OPTION ? keys : sched_keys) & row.bit)) continue;
    const bool allowed = row.policy == MJH_POLICY_MAX_INTERVAL ? mjh_policy_check_interval(p, o.*row.option, err)
                         : row.policy == MJH_POLICY_KEEP_AWAKE ? mjh_policy_check_keep_awake(p, o.*row.option != 0, err)
                                                               : mjh_policy_check_hours(p, err);
    if (!allowed) return false;
  }
  return true;
}

bool mjh_policy_check_command(const mjh_policy &p, mjh_policy_command c, mjh_options *o, unsigned keys,
                              unsigned sched_keys, mjh_text *err) {
  if (c == MJH_POLICY_FOR_NUDGE) return mjh_policy_check_allowed(p, err);
  if (!mjh_policy_check_request(p, *o, keys, sched_keys, err)) return false;
  if (c == MJH_POLICY_FOR_RUN) mjh_policy_apply(p, o);
  return true;
}

// ---- Texts ------------------------------------------------------------------------

namespace {

void put_value(const mjh_policy &p, int id, mjh_text &out) {
  if (id == MJH_POLICY_WORKING_HOURS || id == MJH_POLICY_WORKING_DAYS) {
    mjh_text_buffer<MJH_HOURS_TEXT_MAX> text;
    if (id == MJH_POLICY_WORKING_HOURS)
      mjh_hours_text(&p.hours, text);
    else
      mjh_days_text(p.hours.days, text);
    out.add(mjh_json_quoted{text.view()});
    return;
  }
  int v = id == MJH_POLICY_ALLOWED        ? (p.allowed ? 1 : 0)
          : id == MJH_POLICY_MAX_INTERVAL ? p.max_interval_s
          : id == MJH_POLICY_KEEP_AWAKE   ? p.keep_awake
                                          : p.start_with_windows;
  out.add(v);
}

}  // namespace

void mjh_policy_json(const mjh_policy &p, mjh_text &out) {
  out.add("{\"in_force\":{");
  bool first = true;
  for (int id = 0; id < MJH_POLICY_COUNT; id++) {
    if (p.from[id] == MJH_SCOPE_NONE) continue;
    out.add(first ? "" : ",", mjh_json_quoted{k_policies[id].name}, ":{\"value\":");
    put_value(p, id, out);
    out.add(",\"scope\":\"", mjh_policy_scope_name(p.from[id]), "\"}");
    first = false;
  }
  out.add("},\"damaged\":[");
  for (int i = 0; i < p.damage_count; i++) {
    const mjh_policy_damage &d = p.damage[i];
    out.add(i ? "," : "", "{\"name\":", mjh_json_quoted{k_policies[d.id].name}, ",\"scope\":\"",
            mjh_policy_scope_name(d.scope), "\",\"problem\":", mjh_json_quoted{d.problem}, "}");
  }
  out.add("]}");
}

void mjh_policy_menu_label(const mjh_policy &p, int id, const char *label, mjh_text &out) {
  out.add(label);
  bool set = id >= 0 && id < MJH_POLICY_COUNT && p.from[id] != MJH_SCOPE_NONE;
  if (id == MJH_POLICY_ALLOWED) set = !p.allowed;
  if (set) out.add(" (set by your organization)");
}

const char *mjh_policy_scope_name(mjh_policy_scope scope) { return scope == MJH_SCOPE_MACHINE ? "machine" : "user"; }
