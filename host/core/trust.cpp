#include "trust.h"

mjh_trust mjh_server_trust(const mjh_server_token &server, int own_level) {
  if (!server.read || server.level == MJH_LEVEL_UNKNOWN || own_level == MJH_LEVEL_UNKNOWN) return MJH_TRUST_UNREADABLE;
  if (!server.same_user) return MJH_TRUST_OTHER_USER;
  if (server.level < own_level) return MJH_TRUST_LOWER_LEVEL;
  return MJH_TRUSTED;
}

bool mjh_quit_target_trusted(const mjh_server_token &server, int own_level, bool runs_our_agent) {
  mjh_trust trust = mjh_server_trust(server, own_level);
  return trust == MJH_TRUSTED || (trust == MJH_TRUST_LOWER_LEVEL && runs_our_agent);
}

void mjh_level_text(int level, mjh_text &out) {
  static const struct {
    int level;
    const char *name;
  } k_names[] = {{MJH_LEVEL_UNTRUSTED, "untrusted"},     {MJH_LEVEL_LOW, "low"},   {MJH_LEVEL_MEDIUM, "medium"},
                 {MJH_LEVEL_MEDIUM_PLUS, "medium plus"}, {MJH_LEVEL_HIGH, "high"}, {MJH_LEVEL_SYSTEM, "system"},
                 {MJH_LEVEL_PROTECTED, "protected"}};
  for (const auto &n : k_names)
    if (n.level == level) {
      out.add(n.name);
      return;
    }
  if (level < 0) {
    out.add("unknown");
    return;
  }
  static const char k_hex[] = "0123456789abcdef";
  out.add("0x");
  for (int shift = 12; shift >= 0; shift -= 4) out.add(k_hex[(level >> shift) & 15]);
}

void mjh_trust_text(mjh_trust trust, int server_level, int own_level, mjh_text &out) {
  switch (trust) {
    case MJH_TRUSTED:
      out.add("which is trusted");
      break;
    case MJH_TRUST_UNREADABLE:
      out.add(own_level == MJH_LEVEL_UNKNOWN ? "and this process cannot read its own integrity level"
                                             : "whose user and integrity level cannot be read");
      break;
    case MJH_TRUST_OTHER_USER:
      out.add("which does not run as this user");
      break;
    case MJH_TRUST_LOWER_LEVEL:
      out.add("which runs at a lower integrity level (");
      mjh_level_text(server_level, out);
      out.add(") than this process (");
      mjh_level_text(own_level, out);
      out.add(')');
      break;
  }
}

bool mjh_runs_above_desktop(const mjh_elevation &e) {
  if (e.own_level != MJH_LEVEL_UNKNOWN && e.shell_level != MJH_LEVEL_UNKNOWN) return e.own_level > e.shell_level;
  return e.split_full;
}
