// The organization's policies: read from the machine's and the user's stored
// values, the machine's first; every damaged value ignored and named, never
// a looser setting; the checks and texts the hosts show.
#include "policy.h"

#include <string.h>

#include <string>

#include "gtest/gtest.h"

namespace {

mjh_value missing() { return {MJH_VALUE_MISSING, 0, nullptr}; }
mjh_value number(uint32_t n) { return {MJH_VALUE_NUMBER, n, nullptr}; }
mjh_value text(const char *t) { return {MJH_VALUE_TEXT, 0, t}; }
mjh_value other() { return {MJH_VALUE_OTHER, 0, nullptr}; }

struct scope_values {
  mjh_value v[MJH_POLICY_COUNT];
  scope_values() {
    for (mjh_value &x : v) x = missing();
  }
  scope_values &set(int id, mjh_value value) {
    v[id] = value;
    return *this;
  }
};

mjh_policy read(const scope_values *machine, const scope_values *user) {
  mjh_policy p;
  memset(&p, 0x5a, sizeof p);  // nothing is left as it was
  mjh_policy_read(machine ? machine->v : nullptr, user ? user->v : nullptr, &p);
  return p;
}

std::string json(const mjh_policy &p) {
  mjh_text_buffer<2048> out;
  mjh_policy_json(p, out);
  EXPECT_TRUE(out.ok());
  return out.c_str();
}

std::string damage(const mjh_policy &p) {
  mjh_text_buffer<1024> out;
  mjh_policy_damage_sentence(p, out);
  return out.c_str();
}

TEST(Policy, TheTableNamesEachValueWithItsTypeAndRange) {
  struct row {
    const char *name;
    mjh_value_type type;
    uint32_t min, max;
  } want[MJH_POLICY_COUNT] = {
      {"Allowed", MJH_VALUE_NUMBER, 0, 1},   {"MaxIntervalSeconds", MJH_VALUE_NUMBER, 1, 3600},
      {"KeepAwake", MJH_VALUE_NUMBER, 0, 1}, {"WorkingHours", MJH_VALUE_TEXT, 0, 0},
      {"WorkingDays", MJH_VALUE_TEXT, 0, 0}, {"StartWithWindows", MJH_VALUE_NUMBER, 0, 1},
  };
  for (int id = 0; id < MJH_POLICY_COUNT; id++) {
    const mjh_policy_def &d = mjh_policy_table(id);
    EXPECT_STREQ(d.name, want[id].name);
    EXPECT_EQ(d.type, want[id].type) << d.name;
    EXPECT_EQ(d.min, want[id].min) << d.name;
    EXPECT_EQ(d.max, want[id].max) << d.name;
  }
  EXPECT_STREQ(MJH_POLICY_KEY, "Software\\Policies\\Veltrano\\Mouse Jiggler");
}

TEST(Policy, NothingSetLeavesEverythingToTheUser) {
  scope_values empty;
  for (const mjh_policy &p : {read(nullptr, nullptr), read(&empty, &empty)}) {
    EXPECT_TRUE(p.allowed);
    EXPECT_EQ(p.max_interval_s, 0);
    EXPECT_EQ(p.keep_awake, -1);
    EXPECT_EQ(p.start_with_windows, -1);
    EXPECT_EQ(p.damage_count, 0);
    EXPECT_FALSE(mjh_policy_any(p));
    for (int id = 0; id < MJH_POLICY_COUNT; id++) EXPECT_EQ(p.from[id], MJH_SCOPE_NONE);
    EXPECT_EQ(json(p), "{\"in_force\":{},\"damaged\":[]}");
    mjh_options o;
    mjh_options_default(&o);
    o.interval_s = 3600;
    o.keep_awake = 1;
    mjh_policy_apply(p, &o);
    EXPECT_EQ(o.interval_s, 3600);
    EXPECT_EQ(o.keep_awake, 1);
    EXPECT_TRUE(mjh_policy_check_request(p, o, MJH_KEYS_ALL, MJH_SCHED_KEY_HOURS | MJH_SCHED_KEY_DAYS, nullptr));
  }
}

// Each value from either scope, and from both: the machine's wins.
struct scope_case {
  int id;
  mjh_value machine, user;
  mjh_policy_scope from;
  const char *in_force;  // the "in_force" member's JSON, "" when none
};

const scope_case k_scope_cases[] = {
    {MJH_POLICY_ALLOWED, number(0), missing(), MJH_SCOPE_MACHINE, "\"Allowed\":{\"value\":0,\"scope\":\"machine\"}"},
    {MJH_POLICY_ALLOWED, missing(), number(0), MJH_SCOPE_USER, "\"Allowed\":{\"value\":0,\"scope\":\"user\"}"},
    {MJH_POLICY_ALLOWED, number(1), number(0), MJH_SCOPE_MACHINE, "\"Allowed\":{\"value\":1,\"scope\":\"machine\"}"},
    {MJH_POLICY_MAX_INTERVAL, number(300), number(60), MJH_SCOPE_MACHINE,
     "\"MaxIntervalSeconds\":{\"value\":300,\"scope\":\"machine\"}"},
    {MJH_POLICY_MAX_INTERVAL, missing(), number(3600), MJH_SCOPE_USER,
     "\"MaxIntervalSeconds\":{\"value\":3600,\"scope\":\"user\"}"},
    {MJH_POLICY_MAX_INTERVAL, number(1), missing(), MJH_SCOPE_MACHINE,
     "\"MaxIntervalSeconds\":{\"value\":1,\"scope\":\"machine\"}"},
    {MJH_POLICY_KEEP_AWAKE, number(0), number(1), MJH_SCOPE_MACHINE,
     "\"KeepAwake\":{\"value\":0,\"scope\":\"machine\"}"},
    {MJH_POLICY_KEEP_AWAKE, missing(), number(1), MJH_SCOPE_USER, "\"KeepAwake\":{\"value\":1,\"scope\":\"user\"}"},
    {MJH_POLICY_START_WITH_WINDOWS, number(1), number(0), MJH_SCOPE_MACHINE,
     "\"StartWithWindows\":{\"value\":1,\"scope\":\"machine\"}"},
    {MJH_POLICY_START_WITH_WINDOWS, missing(), number(0), MJH_SCOPE_USER,
     "\"StartWithWindows\":{\"value\":0,\"scope\":\"user\"}"},
    {MJH_POLICY_MAX_INTERVAL, missing(), missing(), MJH_SCOPE_NONE, ""},
};

class PolicyScopes : public ::testing::TestWithParam<scope_case> {};

TEST_P(PolicyScopes, TheMachinesValueWins) {
  const scope_case &c = GetParam();
  scope_values machine, user;
  machine.set(c.id, c.machine);
  user.set(c.id, c.user);
  mjh_policy p = read(&machine, &user);
  EXPECT_EQ(p.from[c.id], c.from);
  EXPECT_EQ(p.damage_count, 0);
  EXPECT_EQ(json(p), std::string("{\"in_force\":{") + c.in_force + "},\"damaged\":[]}");
  for (int id = 0; id < MJH_POLICY_COUNT; id++)
    if (id != c.id) {
      EXPECT_EQ(p.from[id], MJH_SCOPE_NONE) << id;
    }
}

INSTANTIATE_TEST_SUITE_P(All, PolicyScopes, ::testing::ValuesIn(k_scope_cases));

TEST(Policy, WorkingHoursAndDaysComeFromOneScope) {
  scope_values machine, user;
  machine.set(MJH_POLICY_WORKING_HOURS, text("08:30-12:00,13:00-17:30"));  // no days: every day
  user.set(MJH_POLICY_WORKING_HOURS, text("07:00-09:00")).set(MJH_POLICY_WORKING_DAYS, text("sat,sun"));
  mjh_policy p = read(&machine, &user);
  EXPECT_EQ(p.from[MJH_POLICY_WORKING_HOURS], MJH_SCOPE_MACHINE);
  EXPECT_EQ(p.from[MJH_POLICY_WORKING_DAYS], MJH_SCOPE_MACHINE);
  ASSERT_EQ(p.hours.span_count, 2);
  EXPECT_EQ(p.hours.spans[0].start, 8 * 60 + 30);
  EXPECT_EQ(p.hours.spans[1].end, 17 * 60 + 30);
  EXPECT_EQ(p.hours.days, (unsigned)MJH_DAYS_ALL);
  EXPECT_EQ(json(p),
            "{\"in_force\":{\"WorkingHours\":{\"value\":\"08:30-12:00,13:00-17:30\",\"scope\":\"machine\"},"
            "\"WorkingDays\":{\"value\":\"all\",\"scope\":\"machine\"}},\"damaged\":[]}");

  p = read(nullptr, &user);
  EXPECT_EQ(p.from[MJH_POLICY_WORKING_HOURS], MJH_SCOPE_USER);
  EXPECT_EQ(p.hours.days, 0x60u);
  mjh_hours h;
  mjh_hours_none(&h);
  mjh_policy_apply_hours(p, &h);
  ASSERT_EQ(h.span_count, 1);
  EXPECT_EQ(h.spans[0].start, 7 * 60);

  // "any": the organization sets no working hours, and the user cannot either.
  scope_values any;
  any.set(MJH_POLICY_WORKING_HOURS, text("any"));
  p = read(&any, &user);
  EXPECT_EQ(p.from[MJH_POLICY_WORKING_HOURS], MJH_SCOPE_MACHINE);
  EXPECT_EQ(p.hours.span_count, 0);
  EXPECT_FALSE(mjh_policy_check_hours(p, nullptr));
}

// Each kind of damage, in either scope: ignored as if not set there (the
// other scope's valid value applies), named, and never looser.
struct damage_case {
  const char *what;
  int id;
  mjh_value bad;
  const char *problem;
};

const damage_case k_damage_cases[] = {
    {"Allowed as text", MJH_POLICY_ALLOWED, text("0"), "not a DWORD"},
    {"Allowed of another type", MJH_POLICY_ALLOWED, other(), "not a DWORD"},
    {"Allowed 2", MJH_POLICY_ALLOWED, number(2), "out of range 0 to 1: 2"},
    {"Allowed -1", MJH_POLICY_ALLOWED, number(0xffffffffu), "out of range 0 to 1: 4294967295"},
    {"MaxIntervalSeconds 0", MJH_POLICY_MAX_INTERVAL, number(0), "out of range 1 to 3600: 0"},
    {"MaxIntervalSeconds 3601", MJH_POLICY_MAX_INTERVAL, number(3601), "out of range 1 to 3600: 3601"},
    {"MaxIntervalSeconds as text", MJH_POLICY_MAX_INTERVAL, text("300"), "not a DWORD"},
    {"KeepAwake 7", MJH_POLICY_KEEP_AWAKE, number(7), "out of range 0 to 1: 7"},
    {"KeepAwake binary", MJH_POLICY_KEEP_AWAKE, other(), "not a DWORD"},
    {"StartWithWindows 2", MJH_POLICY_START_WITH_WINDOWS, number(2), "out of range 0 to 1: 2"},
    {"WorkingHours as a DWORD", MJH_POLICY_WORKING_HOURS, number(8), "not a string (REG_SZ)"},
    {"WorkingHours overlapping", MJH_POLICY_WORKING_HOURS, text("08:00-12:00,11:00-13:00"), "does not read: "},
    {"WorkingHours nonsense", MJH_POLICY_WORKING_HOURS, text("nine to five"), "does not read: "},
    {"WorkingHours empty", MJH_POLICY_WORKING_HOURS, text(""), "does not read: "},
    {"WorkingHours too long", MJH_POLICY_WORKING_HOURS,
     text(
         "08:00-09:00,09:30-10:00,10:30-11:00,11:30-12:00,12:30-13:00,13:30-14:00,14:30-15:00,15:30-16:00,16:30-17:00"),
     "longer than 95 bytes"},
    {"WorkingDays nonsense", MJH_POLICY_WORKING_DAYS, text("someday"), "does not read: "},
    {"WorkingDays as a DWORD", MJH_POLICY_WORKING_DAYS, number(31), "not a string (REG_SZ)"},
};

class PolicyDamage : public ::testing::TestWithParam<damage_case> {};

// The valid value of each policy, and what it gives.
mjh_value valid_value(int id) {
  switch (id) {
    case MJH_POLICY_MAX_INTERVAL:
      return number(300);
    case MJH_POLICY_WORKING_HOURS:
      return text("09:00-17:00");
    case MJH_POLICY_WORKING_DAYS:
      return text("mon-fri");
    default:
      return number(0);
  }
}

TEST_P(PolicyDamage, IsIgnoredAndNamedInEitherScope) {
  const damage_case &c = GetParam();
  for (mjh_policy_scope scope : {MJH_SCOPE_MACHINE, MJH_SCOPE_USER}) {
    SCOPED_TRACE(std::string(c.what) + (scope == MJH_SCOPE_MACHINE ? " (machine)" : " (user)"));
    scope_values damaged;
    damaged.set(c.id, c.bad);
    if (c.id == MJH_POLICY_WORKING_DAYS) damaged.set(MJH_POLICY_WORKING_HOURS, text("09:00-17:00"));
    // Alone: as if not set.
    mjh_policy p = scope == MJH_SCOPE_MACHINE ? read(&damaged, nullptr) : read(nullptr, &damaged);
    ASSERT_EQ(p.damage_count, 1);
    EXPECT_EQ(p.damage[0].id, c.id);
    EXPECT_EQ(p.damage[0].scope, scope);
    EXPECT_EQ(std::string(p.damage[0].problem).rfind(c.problem, 0), 0u) << p.damage[0].problem;
    EXPECT_TRUE(mjh_policy_any(p));
    EXPECT_EQ(p.from[c.id], MJH_SCOPE_NONE);
    EXPECT_TRUE(p.allowed);
    EXPECT_EQ(p.max_interval_s, 0);
    EXPECT_EQ(p.keep_awake, -1);
    EXPECT_EQ(p.start_with_windows, -1);
    // A damaged half of the working hours drops the pair of its scope.
    EXPECT_EQ(p.from[MJH_POLICY_WORKING_HOURS], MJH_SCOPE_NONE);
    const std::string name = mjh_policy_table(c.id).name;
    EXPECT_NE(json(p).find("\"damaged\":[{\"name\":\"" + name + "\",\"scope\":\"" +
                           (scope == MJH_SCOPE_MACHINE ? "machine" : "user") + "\",\"problem\":\"" + c.problem),
              std::string::npos)
        << json(p);
    EXPECT_EQ(damage(p).rfind("policy values ignored as damaged: " + name, 0), 0u) << damage(p);

    // Beside a valid value in the other scope: that one applies.
    scope_values valid;
    valid.set(c.id, valid_value(c.id));
    if (c.id == MJH_POLICY_WORKING_DAYS) valid.set(MJH_POLICY_WORKING_HOURS, text("10:00-11:00"));
    p = scope == MJH_SCOPE_MACHINE ? read(&damaged, &valid) : read(&valid, &damaged);
    EXPECT_EQ(p.from[c.id], scope == MJH_SCOPE_MACHINE ? MJH_SCOPE_USER : MJH_SCOPE_MACHINE);
    EXPECT_EQ(p.damage_count, 1);
    if (c.id == MJH_POLICY_ALLOWED) {
      EXPECT_FALSE(p.allowed);
    }
    if (c.id == MJH_POLICY_MAX_INTERVAL) {
      EXPECT_EQ(p.max_interval_s, 300);
    }
    if (c.id == MJH_POLICY_KEEP_AWAKE) {
      EXPECT_EQ(p.keep_awake, 0);
    }
    if (c.id == MJH_POLICY_START_WITH_WINDOWS) {
      EXPECT_EQ(p.start_with_windows, 0);
    }
    if (c.id == MJH_POLICY_WORKING_HOURS || c.id == MJH_POLICY_WORKING_DAYS) {
      ASSERT_EQ(p.hours.span_count, 1);
      EXPECT_EQ(p.hours.spans[0].start, c.id == MJH_POLICY_WORKING_DAYS ? 10 * 60 : 9 * 60);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, PolicyDamage, ::testing::ValuesIn(k_damage_cases));

TEST(Policy, DaysWithoutHoursAreNamedAndIgnored) {
  scope_values days_only;
  days_only.set(MJH_POLICY_WORKING_DAYS, text("mon-fri"));
  mjh_policy p = read(&days_only, nullptr);
  EXPECT_EQ(p.from[MJH_POLICY_WORKING_DAYS], MJH_SCOPE_NONE);
  EXPECT_EQ(damage(p), "policy values ignored as damaged: WorkingDays (machine): set without WorkingHours");
}

TEST(Policy, EveryDamageInBothScopesIsNamedWithoutOverflow) {
  scope_values bad;
  bad.set(MJH_POLICY_ALLOWED, number(9))
      .set(MJH_POLICY_MAX_INTERVAL, number(0))
      .set(MJH_POLICY_KEEP_AWAKE, text("x"))
      .set(MJH_POLICY_WORKING_HOURS, text("25:00-26:00"))
      .set(MJH_POLICY_WORKING_DAYS, text("never"))
      .set(MJH_POLICY_START_WITH_WINDOWS, other());
  mjh_policy p = read(&bad, &bad);
  EXPECT_EQ(p.damage_count, 2 * MJH_POLICY_COUNT);
  for (int id = 0; id < MJH_POLICY_COUNT; id++) EXPECT_EQ(p.from[id], MJH_SCOPE_NONE) << id;
  EXPECT_TRUE(p.allowed);
  for (int i = 0; i < p.damage_count; i++)
    EXPECT_TRUE(mjh_utf8_valid(p.damage[i].problem, strlen(p.damage[i].problem)));
  std::string j = json(p);
  EXPECT_EQ(j.rfind("{\"in_force\":{},\"damaged\":[{\"name\":\"Allowed\",\"scope\":\"machine\"", 0), 0u) << j;
  // A problem text that does not fit is cut, still UTF-8, and the JSON stays whole.
  scope_values long_text;
  std::string hostile(90, '\xff');
  long_text.set(MJH_POLICY_WORKING_HOURS, text(hostile.c_str()));
  p = read(&long_text, nullptr);
  ASSERT_EQ(p.damage_count, 1);
  EXPECT_TRUE(mjh_utf8_valid(p.damage[0].problem, strlen(p.damage[0].problem)));
  j = json(p);
  EXPECT_TRUE(mjh_utf8_valid(j.data(), j.size()));
}

TEST(Policy, EffectiveOptions) {
  scope_values m;
  m.set(MJH_POLICY_MAX_INTERVAL, number(300)).set(MJH_POLICY_KEEP_AWAKE, number(1));
  mjh_policy p = read(&m, nullptr);
  struct {
    int saved_interval, saved_keep_awake;
    int interval, keep_awake;
  } cases[] = {{600, 0, 300, 1}, {300, 1, 300, 1}, {30, 0, 30, 1}, {3600, 1, 300, 1}};
  for (auto &c : cases) {
    mjh_options o;
    mjh_options_default(&o);
    o.interval_s = c.saved_interval;
    o.keep_awake = c.saved_keep_awake;
    mjh_policy_apply(p, &o);
    EXPECT_EQ(o.interval_s, c.interval) << c.saved_interval;
    EXPECT_EQ(o.keep_awake, c.keep_awake);
  }
  m.set(MJH_POLICY_KEEP_AWAKE, number(0));
  p = read(&m, nullptr);
  mjh_options o;
  mjh_options_default(&o);
  o.keep_awake = 1;
  mjh_policy_apply(p, &o);
  EXPECT_EQ(o.keep_awake, 0);

  // Start with Windows: the policy, else the user's choice.
  scope_values s;
  for (uint32_t v : {0u, 1u}) {
    s.set(MJH_POLICY_START_WITH_WINDOWS, number(v));
    p = read(nullptr, &s);
    EXPECT_EQ(mjh_policy_start_with_windows(p, true), v == 1);
    EXPECT_EQ(mjh_policy_start_with_windows(p, false), v == 1);
  }
  p = read(nullptr, nullptr);
  EXPECT_TRUE(mjh_policy_start_with_windows(p, true));
  EXPECT_FALSE(mjh_policy_start_with_windows(p, false));
}

// The default options with the interval and keep-awake a user asks for.
mjh_options asked(int interval_s, int keep_awake) {
  mjh_options o;
  mjh_options_default(&o);
  o.interval_s = interval_s;
  o.keep_awake = keep_awake;
  return o;
}

// What a user or a request asks for, against each policy.
struct check_case {
  const char *what;
  int id;
  uint32_t policy_value;
  unsigned keys, sched_keys;
  int interval_s, keep_awake;
  const char *refusal;  // null: allowed
};

const check_case k_check_cases[] = {
    {"turned off: a bare start", MJH_POLICY_ALLOWED, 0, 0, 0, 60, 0,
     "turned off by your organization (policy Allowed)"},
    {"allowed: a bare start", MJH_POLICY_ALLOWED, 1, 0, 0, 60, 0, nullptr},
    {"interval over the limit", MJH_POLICY_MAX_INTERVAL, 300, MJH_KEY_INTERVAL_S, 0, 301, 0,
     "the interval is limited to 300 s by your organization's policy MaxIntervalSeconds"},
    {"interval at the limit", MJH_POLICY_MAX_INTERVAL, 300, MJH_KEY_INTERVAL_S, 0, 300, 0, nullptr},
    {"interval not asked for", MJH_POLICY_MAX_INTERVAL, 300, MJH_KEY_MODE, 0, 3600, 0, nullptr},
    {"keep-awake asked, forbidden", MJH_POLICY_KEEP_AWAKE, 0, MJH_KEY_KEEP_AWAKE, 0, 60, 1,
     "keep-awake is turned off by your organization's policy KeepAwake"},
    {"keep-awake off asked, forced", MJH_POLICY_KEEP_AWAKE, 1, MJH_KEY_KEEP_AWAKE, 0, 60, 0,
     "keep-awake is turned on by your organization's policy KeepAwake"},
    {"keep-awake as forced", MJH_POLICY_KEEP_AWAKE, 1, MJH_KEY_KEEP_AWAKE, 0, 60, 1, nullptr},
    {"keep-awake not asked for", MJH_POLICY_KEEP_AWAKE, 0, MJH_KEY_INTERVAL_S, 0, 60, 1, nullptr},
    {"hours asked, set", MJH_POLICY_WORKING_HOURS, 0, 0, MJH_SCHED_KEY_HOURS, 60, 0,
     "working hours are set by your organization's policy WorkingHours"},
    {"days asked, set", MJH_POLICY_WORKING_HOURS, 0, 0, MJH_SCHED_KEY_DAYS, 60, 0,
     "working hours are set by your organization's policy WorkingHours"},
    {"a session is still the user's", MJH_POLICY_WORKING_HOURS, 0, 0, MJH_SCHED_KEY_FOR | MJH_SCHED_KEY_UNTIL, 60, 0,
     nullptr},
};

class PolicyChecks : public ::testing::TestWithParam<check_case> {};

TEST_P(PolicyChecks, RefuseWithAMessageNamingThePolicy) {
  const check_case &c = GetParam();
  scope_values m;
  if (c.id == MJH_POLICY_WORKING_HOURS)
    m.set(c.id, text("09:00-17:00"));
  else
    m.set(c.id, number(c.policy_value));
  mjh_policy p = read(&m, nullptr);
  mjh_options o = asked(c.interval_s, c.keep_awake);
  mjh_text_buffer<256> err;
  bool ok = mjh_policy_check_request(p, o, c.keys, c.sched_keys, &err);
  EXPECT_EQ(ok, c.refusal == nullptr) << c.what;
  EXPECT_STREQ(err.c_str(), c.refusal ? c.refusal : "") << c.what;
  EXPECT_EQ(mjh_policy_check_request(p, o, c.keys, c.sched_keys, nullptr), ok);
}

INSTANTIATE_TEST_SUITE_P(All, PolicyChecks, ::testing::ValuesIn(k_check_cases));

// mjctl's command lines: run, nudge and start against the policies; what a
// run then runs with.
struct command_case {
  const char *what;
  mjh_policy_command command;
  uint32_t allowed, max_interval, keep_awake;  // ~0u: not set
  bool hours_set;
  unsigned keys, sched_keys;
  int interval_s, keep_awake_asked;
  const char *refusal;         // null: allowed
  int run_interval, run_keep;  // the options after (run: as applied; others unchanged)
};

const uint32_t k_unset = ~0u;

const command_case k_command_cases[] = {
    {"nothing set: run", MJH_POLICY_FOR_RUN, k_unset, k_unset, k_unset, false, 0, 0, 60, 0, nullptr, 60, 0},
    {"turned off: run", MJH_POLICY_FOR_RUN, 0, k_unset, k_unset, false, 0, 0, 60, 0,
     "turned off by your organization (policy Allowed)", 60, 0},
    {"turned off: nudge", MJH_POLICY_FOR_NUDGE, 0, k_unset, k_unset, false, 0, 0, 60, 0,
     "turned off by your organization (policy Allowed)", 60, 0},
    {"turned off: start", MJH_POLICY_FOR_START, 0, k_unset, k_unset, false, 0, 0, 60, 0,
     "turned off by your organization (policy Allowed)", 60, 0},
    {"turned off before the interval", MJH_POLICY_FOR_RUN, 0, 30, k_unset, false, MJH_KEY_INTERVAL_S, 0, 300, 0,
     "turned off by your organization (policy Allowed)", 300, 0},
    {"run's default interval capped", MJH_POLICY_FOR_RUN, k_unset, 30, k_unset, false, 0, 0, 60, 0, nullptr, 30, 0},
    {"run's interval over the limit", MJH_POLICY_FOR_RUN, k_unset, 30, k_unset, false, MJH_KEY_INTERVAL_S, 0, 31, 0,
     "the interval is limited to 30 s by your organization's policy MaxIntervalSeconds", 31, 0},
    {"run's interval under the limit", MJH_POLICY_FOR_RUN, k_unset, 30, k_unset, false, MJH_KEY_INTERVAL_S, 0, 20, 0,
     nullptr, 20, 0},
    {"start's interval over the limit", MJH_POLICY_FOR_START, k_unset, 30, k_unset, false, MJH_KEY_INTERVAL_S, 0, 31, 0,
     "the interval is limited to 30 s by your organization's policy MaxIntervalSeconds", 31, 0},
    {"start without an interval: the agent's to cap", MJH_POLICY_FOR_START, k_unset, 30, k_unset, false, 0, 0, 60, 0,
     nullptr, 60, 0},
    {"a nudge knows no interval", MJH_POLICY_FOR_NUDGE, 1, 30, 0, true, MJH_KEY_INTERVAL_S | MJH_KEY_KEEP_AWAKE,
     MJH_SCHED_KEY_HOURS, 600, 1, nullptr, 600, 1},
    {"keep-awake forbidden: run", MJH_POLICY_FOR_RUN, k_unset, k_unset, 0, false, MJH_KEY_KEEP_AWAKE, 0, 60, 1,
     "keep-awake is turned off by your organization's policy KeepAwake", 60, 1},
    {"keep-awake forbidden: start", MJH_POLICY_FOR_START, k_unset, k_unset, 0, false, MJH_KEY_KEEP_AWAKE, 0, 60, 1,
     "keep-awake is turned off by your organization's policy KeepAwake", 60, 1},
    {"keep-awake forced on for run", MJH_POLICY_FOR_RUN, k_unset, k_unset, 1, false, 0, 0, 60, 0, nullptr, 60, 1},
    {"keep-awake forced, asked off", MJH_POLICY_FOR_RUN, k_unset, k_unset, 1, false, MJH_KEY_KEEP_AWAKE, 0, 60, 0,
     "keep-awake is turned on by your organization's policy KeepAwake", 60, 0},
    {"hours set: start --hours", MJH_POLICY_FOR_START, k_unset, k_unset, k_unset, true, 0, MJH_SCHED_KEY_HOURS, 60, 0,
     "working hours are set by your organization's policy WorkingHours", 60, 0},
    {"hours set: start --days", MJH_POLICY_FOR_START, k_unset, k_unset, k_unset, true, 0, MJH_SCHED_KEY_DAYS, 60, 0,
     "working hours are set by your organization's policy WorkingHours", 60, 0},
    {"hours set: start --for", MJH_POLICY_FOR_START, k_unset, k_unset, k_unset, true, 0, MJH_SCHED_KEY_FOR, 60, 0,
     nullptr, 60, 0},
};

class PolicyCommands : public ::testing::TestWithParam<command_case> {};

TEST_P(PolicyCommands, RefuseOrGiveTheRunsOptions) {
  const command_case &c = GetParam();
  scope_values m;
  if (c.allowed != k_unset) m.set(MJH_POLICY_ALLOWED, number(c.allowed));
  if (c.max_interval != k_unset) m.set(MJH_POLICY_MAX_INTERVAL, number(c.max_interval));
  if (c.keep_awake != k_unset) m.set(MJH_POLICY_KEEP_AWAKE, number(c.keep_awake));
  if (c.hours_set) m.set(MJH_POLICY_WORKING_HOURS, text("09:00-17:00"));
  mjh_policy p = read(&m, nullptr);
  mjh_options o = asked(c.interval_s, c.keep_awake_asked);
  mjh_text_buffer<256> err;
  bool ok = mjh_policy_check_command(p, c.command, &o, c.keys, c.sched_keys, &err);
  EXPECT_EQ(ok, c.refusal == nullptr) << c.what;
  EXPECT_STREQ(err.c_str(), c.refusal ? c.refusal : "") << c.what;
  EXPECT_EQ(o.interval_s, c.run_interval) << c.what;
  EXPECT_EQ(o.keep_awake, c.run_keep) << c.what;
  mjh_options again = asked(c.interval_s, c.keep_awake_asked);
  EXPECT_EQ(mjh_policy_check_command(p, c.command, &again, c.keys, c.sched_keys, nullptr), ok) << "err may be null";
}

INSTANTIATE_TEST_SUITE_P(All, PolicyCommands, ::testing::ValuesIn(k_command_cases));

TEST(Policy, StartWithWindowsIsRefusedWhenSet) {
  scope_values u;
  u.set(MJH_POLICY_START_WITH_WINDOWS, number(0));
  mjh_text_buffer<128> err;
  EXPECT_FALSE(mjh_policy_check_start_with_windows(read(nullptr, &u), &err));
  EXPECT_STREQ(err.c_str(), "start with Windows is set by your organization's policy StartWithWindows");
  EXPECT_TRUE(mjh_policy_check_start_with_windows(read(nullptr, nullptr), nullptr));
}

TEST(Policy, SentencesAndMenuLabels) {
  scope_values m, u;
  m.set(MJH_POLICY_MAX_INTERVAL, number(300))
      .set(MJH_POLICY_KEEP_AWAKE, number(1))
      .set(MJH_POLICY_WORKING_HOURS, text("08:30-17:00"))
      .set(MJH_POLICY_WORKING_DAYS, text("mon-fri"))
      .set(MJH_POLICY_START_WITH_WINDOWS, number(1));
  u.set(MJH_POLICY_ALLOWED, number(0)).set(MJH_POLICY_KEEP_AWAKE, number(5));
  mjh_policy p = read(&m, &u);
  mjh_text_buffer<512> s;
  mjh_policy_sentence(p, s);
  EXPECT_STREQ(s.c_str(),
               "set by your organization: turned off, at most 300 s between nudges, keep-awake on, working hours "
               "mon-fri 08:30-17:00, starts with Windows");
  EXPECT_EQ(damage(p), "policy values ignored as damaged: KeepAwake (user): out of range 0 to 1: 5");
  EXPECT_EQ(json(p),
            "{\"in_force\":{\"Allowed\":{\"value\":0,\"scope\":\"user\"},"
            "\"MaxIntervalSeconds\":{\"value\":300,\"scope\":\"machine\"},"
            "\"KeepAwake\":{\"value\":1,\"scope\":\"machine\"},"
            "\"WorkingHours\":{\"value\":\"08:30-17:00\",\"scope\":\"machine\"},"
            "\"WorkingDays\":{\"value\":\"mon-fri\",\"scope\":\"machine\"},"
            "\"StartWithWindows\":{\"value\":1,\"scope\":\"machine\"}},"
            "\"damaged\":[{\"name\":\"KeepAwake\",\"scope\":\"user\",\"problem\":\"out of range 0 to 1: 5\"}]}");

  struct {
    int id;
    const char *label, *want;
  } labels[] = {
      {MJH_POLICY_START_WITH_WINDOWS, "Start with Windows", "Start with Windows (set by your organization)"},
      {MJH_POLICY_KEEP_AWAKE, "Keep the computer awake", "Keep the computer awake (set by your organization)"},
      {MJH_POLICY_WORKING_HOURS, "Working hours...", "Working hours... (set by your organization)"}};
  for (auto &l : labels) {
    mjh_text_buffer<128> out;
    mjh_policy_menu_label(p, l.id, l.label, out);
    EXPECT_STREQ(out.c_str(), l.want);
    mjh_text_buffer<128> plain;
    mjh_policy_menu_label(read(nullptr, nullptr), l.id, l.label, plain);
    EXPECT_STREQ(plain.c_str(), l.label);
  }

  mjh_text_buffer<128> none;
  mjh_policy_sentence(read(nullptr, nullptr), none);
  mjh_policy_damage_sentence(read(nullptr, nullptr), none);
  EXPECT_STREQ(none.c_str(), "");

  // A JSON object too long for its buffer is marked cut.
  mjh_text_buffer<64> small;
  mjh_policy_json(p, small);
  EXPECT_FALSE(small.ok());
}

}  // namespace
