#include "conditions.h"

#include <string.h>

namespace {

const char k_example[] = "e.g. obs64.exe,mstsc.exe";

bool ends_with_exe(std::string_view s) {
  return s.size() >= 4 && mjh_program_name_equal(mjh_slice(s, s.size() - 4), ".exe");
}

// "NAME" is not a program name: why (the name quoted, its control characters
// escaped, a long one shortened).
bool fail_name(mjh_text *err, std::string_view name, const char *why) {
  if (!err) return false;
  mjh_text_buffer<80> cut;
  cut.add(mjh_shortened{name, 60});
  return mjh_fail(err, mjh_json_quoted{cut.view()}, " is not a program name: ", why);
}

bool has_any_of(std::string_view s, const char *chars) { return s.find_first_of(chars) != std::string_view::npos; }

bool has_control(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  return false;
}

// Checks one name of the list and adds it to *list (once).
bool add_name(std::string_view name, std::string_view all, mjh_programs *list, mjh_text *err) {
  if (name.empty()) {
    if (!err) return false;
    mjh_text_buffer<80> cut;
    cut.add(mjh_shortened{all, 60});
    return mjh_fail(err, "an empty name in ", mjh_json_quoted{cut.view()}, ": write the names between commas, ",
                    k_example);
  }
  if (!mjh_utf8_valid(name.data(), name.size())) return fail_name(err, name, "it is not UTF-8 text");
  if (has_control(name)) return fail_name(err, name, "it holds a control character");
  if (has_any_of(name, "\\/:"))
    return fail_name(err, name, "give the name alone, without its folder or drive (e.g. obs64.exe)");
  if (has_any_of(name, "*?"))
    return fail_name(err, name, "wildcards are not taken: give the whole name (e.g. obs64.exe)");
  if (has_any_of(name, "<>\"|")) return fail_name(err, name, "file names cannot hold < > \" or |");
  if (name.back() == '.') return fail_name(err, name, "a file name does not end in a dot");
  bool exe = ends_with_exe(name);
  if (exe && name.size() == 4) return fail_name(err, name, "the name before .exe is missing");
  size_t size = name.size() + (exe ? 0 : 4);
  if (size > MJH_PROGRAM_NAME_MAX) {
    if (!err) return false;
    mjh_text_buffer<48> cut;
    cut.add(mjh_shortened{name, 24});
    return mjh_fail(err, mjh_json_quoted{cut.view()}, " is too long for a program name: at most ",
                    static_cast<int>(MJH_PROGRAM_NAME_MAX), " bytes");
  }

  char full[MJH_PROGRAM_NAME_MAX + 1];
  memcpy(full, name.data(), name.size());
  if (!exe) memcpy(full + name.size(), ".exe", 4);
  full[size] = '\0';
  if (mjh_programs_find(*list, std::string_view(full, size)) >= 0) return true;
  if (list->count == MJH_PROGRAMS_MAX)
    return mjh_fail(err, "too many programs: at most ", static_cast<int>(MJH_PROGRAMS_MAX));
  memcpy(list->names[list->count++], full, size + 1);
  return true;
}

}  // namespace

void mjh_programs_none(mjh_programs *p) { p->count = 0; }

bool mjh_programs_parse(std::string_view text, mjh_programs *out, mjh_text *err) {
  std::string_view all = mjh_trim_blanks(text);
  if (all.empty()) return mjh_fail(err, "no program names given: write ", k_example, ", or any");
  if (mjh_program_name_equal(all, "any")) {
    mjh_programs_none(out);
    return true;
  }
  mjh_programs list;
  mjh_programs_none(&list);
  mjh_list_reader pieces{all};
  for (std::string_view piece; pieces.next(&piece);)
    if (!add_name(piece, all, &list, err)) return false;
  *out = list;
  return true;
}

void mjh_programs_text(const mjh_programs &p, mjh_text &out) {
  if (p.count == 0) out.add("any");
  for (int i = 0; i < p.count; i++) out.add(i ? "," : "", p.names[i]);
}

std::string_view mjh_image_name(std::string_view path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : mjh_slice(path, slash + 1);
}

bool mjh_program_name_equal(std::string_view a, std::string_view b) { return mjh_equal_ignoring_case(a, b); }

int mjh_programs_find(const mjh_programs &p, std::string_view image) {
  std::string_view name = mjh_image_name(image);
  for (int i = 0; i < p.count; i++)
    if (mjh_program_name_equal(name, p.names[i])) return i;
  return -1;
}

// ---- The battery rule -------------------------------------------------------------

bool mjh_battery_stop_valid(int stop_below, mjh_text *err) {
  if (stop_below == 0 || (stop_below >= MJH_BATTERY_STOP_MIN && stop_below <= MJH_BATTERY_STOP_MAX)) return true;
  return mjh_fail(err, "the battery level to stop below must be from ", static_cast<int>(MJH_BATTERY_STOP_MIN), " to ",
                  static_cast<int>(MJH_BATTERY_STOP_MAX), " %, or 0 for none, not ", stop_below);
}

void mjh_battery_gate_reset(mjh_battery_gate *g) { g->low = false; }

mjh_power_hold mjh_battery_gate_feed(mjh_battery_gate *g, const mjh_battery_rule &rule, const mjh_power_reading &r) {
  if (!r.has_battery || r.ac == MJH_AC_ONLINE || rule.stop_below <= 0) {
    g->low = false;
  } else if (r.percent >= 0) {
    if (r.percent < rule.stop_below)
      g->low = true;
    else if (r.percent > rule.stop_below + MJH_BATTERY_RESUME_MARGIN)
      g->low = false;
  }
  if (!r.has_battery) return MJH_POWER_FREE;
  if (rule.mains_only && r.ac == MJH_AC_OFFLINE) return MJH_POWER_ON_BATTERY;
  return g->low ? MJH_POWER_LOW_BATTERY : MJH_POWER_FREE;
}

// ---- What holds a run back, and its words -------------------------------------------

void mjh_conditions_none(mjh_conditions *c) {
  mjh_programs_none(&c->programs);
  c->foreground = false;
  c->battery = {false, 0};
}

unsigned mjh_conditions_hold(const mjh_conditions &c, const mjh_program_state &s, mjh_power_hold power) {
  unsigned hold = 0;
  if (power == MJH_POWER_ON_BATTERY) hold |= MJH_HOLD_ON_BATTERY;
  if (power == MJH_POWER_LOW_BATTERY) hold |= MJH_HOLD_LOW_BATTERY;
  int count = c.programs.count;
  if (count > 0) {
    uint32_t listed = (uint32_t{1} << count) - 1;
    if ((s.running & listed) == 0)
      hold |= MJH_HOLD_NO_PROGRAM;
    else if (c.foreground && (s.foreground < 0 || s.foreground >= count))
      hold |= MJH_HOLD_NOT_FOREGROUND;
  }
  return hold;
}

void mjh_program_names_text(const mjh_programs &p, uint32_t which, mjh_text &out) {
  enum { NAMED_MAX = 3, NAMED_BEFORE_MORE = 2 };
  int picked[MJH_PROGRAMS_MAX], n = 0;
  for (int i = 0; i < p.count; i++)
    if (which & (uint32_t{1} << i)) picked[n++] = i;
  int named = n <= NAMED_MAX ? n : NAMED_BEFORE_MORE;
  for (int i = 0; i < named; i++) {
    if (i > 0) out.add(i == n - 1 ? " or " : ", ");
    out.add(p.names[picked[i]]);
  }
  if (named < n) out.add(" or ", n - named, " more");
}

void mjh_hold_text(const mjh_conditions &c, const mjh_program_state &s, unsigned hold, mjh_text &out) {
  const char *sep = "";
  if (hold & MJH_HOLD_ON_BATTERY) {
    out.add(sep, "on battery");
    sep = ", ";
  }
  if (hold & MJH_HOLD_LOW_BATTERY) {
    out.add(sep, "battery below ", c.battery.stop_below, " %");
    sep = ", ";
  }
  uint32_t listed = c.programs.count > 0 ? (uint32_t{1} << c.programs.count) - 1 : 0;
  if (hold & MJH_HOLD_NO_PROGRAM) {
    out.add(sep, "for ");
    mjh_program_names_text(c.programs, listed, out);
    sep = ", ";
  }
  if (hold & MJH_HOLD_NOT_FOREGROUND) {
    uint32_t running = s.running & listed;
    if (running == 0) running = listed;  // not said by the state: all of them
    int n = 0;
    for (uint32_t bits = running; bits; bits &= bits - 1) n++;
    out.add(sep, n == 2 ? "neither " : n > 2 ? "none of " : "");
    if (n == 2) {
      int first = -1, second = -1;
      for (int i = 0; i < c.programs.count; i++)
        if (running & (uint32_t{1} << i)) (first < 0 ? first : second) = i;
      out.add(c.programs.names[first], " nor ", c.programs.names[second]);
    } else {
      mjh_program_names_text(c.programs, running, out);
    }
    out.add(n == 1 ? " is not" : " is", " in the foreground");
  }
}
