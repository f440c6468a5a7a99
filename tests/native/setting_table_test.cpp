// The settings' table: its rows agree with the bits, ranges and policies the
// rest of the core names, and a start's schedule and conditions are merged
// by walking it, into another start's or into what the agent keeps.
#include "setting_table.h"

#include <string.h>

#include <set>
#include <string>

#include "gtest/gtest.h"
#include "lock_rule.h"
#include "schedule_zones.h"

namespace {

TEST(SettingTable, RowsAgreeWithTheBitsRangesAndPolicies) {
  unsigned options = 0, schedule = 0, conditions = 0;
  int option_place = 0;
  std::set<std::string> names, flags;
  for (const mjh_setting &row : mjh_setting_rows) {
    EXPECT_TRUE(names.insert(row.name).second) << row.name << " twice";
    if (row.kind == MJH_SETTING_OPTION) {
      EXPECT_EQ(row.bit, 1u << option_place++) << row.name << ": options are in the order of their bits";
      options |= row.bit;
    } else if (row.kind != MJH_SETTING_AGENT) {
      EXPECT_EQ(schedule & row.bit, 0u) << row.name << ": a bit of its own";
      schedule |= row.bit;
      if (row.kind == MJH_SETTING_CONDITION) conditions |= row.bit;
    }
    if (row.type == MJH_TYPE_WHOLE || row.type == MJH_TYPE_SWITCH || row.type == MJH_TYPE_LEVEL) {
      EXPECT_TRUE(mjh_setting_in_range(row, row.fallback)) << row.name << ": its default is in its range";
      EXPECT_TRUE(row.option || row.requested || row.saved) << row.name << ": a field to live in";
    }
    for (const mjh_flag *flag : {&row.flag, row.flag_off}) {
      if (!flag || !flag->name) continue;
      EXPECT_TRUE(flags.insert(flag->name).second) << flag->name << " twice";
      EXPECT_EQ(flag->value == nullptr, row.type == MJH_TYPE_SWITCH) << flag->name << ": a switch's flag takes none";
      EXPECT_NE(flag->commands, 0u) << flag->name;
    }
    if (row.policy >= 0 && row.type == MJH_TYPE_WHOLE) {
      EXPECT_EQ(mjh_policy_table(row.policy).min, static_cast<uint32_t>(row.min)) << row.name;
      EXPECT_EQ(mjh_policy_table(row.policy).max, static_cast<uint32_t>(row.max)) << row.name;
    }
  }
  EXPECT_EQ(options, static_cast<unsigned>(MJH_KEYS_ALL));
  EXPECT_EQ(MJH_KEYS_DLL, MJH_KEYS_ALL & ~MJH_KEY_KEEP_AWAKE) << "the DLL's six, keep_awake the hosts' own";
  EXPECT_EQ(schedule, static_cast<unsigned>(MJH_SCHED_KEYS_ALL));
  EXPECT_EQ(conditions, static_cast<unsigned>(MJH_SCHED_KEYS_CONDITIONS));
  EXPECT_EQ(mjh_setting_count(), mjh_stored_row_count());

  // The interval's range is the DLL's own, and the one range every reader uses.
  const mjh_setting &interval = mjh_option_row(MJH_KEY_INTERVAL_S);
  EXPECT_EQ(interval.min, MJ_INTERVAL_S_MIN);
  EXPECT_EQ(interval.max, MJ_INTERVAL_S_MAX);
  EXPECT_EQ(mjh_largest_safe_interval(true, 0), MJ_INTERVAL_S_MAX);
  EXPECT_STREQ(mjh_schedule_row(MJH_SCHED_KEY_BATTERY_FLOOR).name, "battery_floor");
}

// A start's schedule and conditions, read as the pipe reads them.
mjh_schedule_request start(const char *text) {
  mjh_options o;
  mjh_options_default(&o);
  mjh_schedule_request r;
  mjh_schedule_request_none(&r);
  mjh_text_buffer<256> err;
  EXPECT_TRUE(mjh_settings_parse(text, strlen(text), MJH_KEYS_ALL, MJH_SCHED_KEYS_ALL, &o, nullptr, &r, &err))
      << text << ": " << err.c_str();
  return r;
}

std::string members(const mjh_schedule_request &r) {
  mjh_text_buffer<512> out;
  mjh_schedule_request_put(&r, out);
  return out.c_str();
}

TEST(SettingTable, AStartsKeysAreTakenIntoAnotherStartsAndOnlyThose) {
  mjh_schedule_request flags = start(R"({"for":"2h","foreground":true})");
  mjh_schedule_request_take(&flags, start(R"({"hours":"9-17","days":"sat,sun","battery_floor":30})"));
  EXPECT_EQ(members(flags),
            R"("hours":"09:00-17:00","days":"sat,sun","for":7200,"foreground":true,"battery_floor":30)");
  mjh_schedule_request_take(&flags, start(R"({"while_running":"obs64","ac_only":false,"until":"end"})"));
  EXPECT_EQ(members(flags),
            R"("hours":"09:00-17:00","days":"sat,sun","for":7200,"until":"end","while_running":"obs64.exe",)"
            R"("foreground":true,"ac_only":false,"battery_floor":30)");
}

struct keep_case {
  const char *start;
  const char *hours;  // the agent's working hours afterwards, as stored
  const char *days;
  const char *programs;
  int foreground, ac_only, battery_floor;
};

// The agent keeps 08:00-12:00 on mon-fri, a.exe, foreground, a floor of 40.
const keep_case k_keep_cases[] = {
    {"{}", "08:00-12:00", "mon-fri", "a.exe", 1, 0, 40},
    {R"({"for":60,"until":"17:00"})", nullptr, nullptr, nullptr, 0, 0, 0},  // refused: not both
    {R"({"for":60})", "08:00-12:00", "mon-fri", "a.exe", 1, 0, 40},         // a session is not kept
    {R"({"hours":"9-17"})", "09:00-17:00", "mon-fri", "a.exe", 1, 0, 40},
    {R"({"days":"all","hours":"any"})", "any", "all", "a.exe", 1, 0, 40},
    {R"({"while_running":"any","foreground":false})", "08:00-12:00", "mon-fri", "any", 0, 0, 40},
    {R"({"ac_only":true,"battery_floor":0})", "08:00-12:00", "mon-fri", "a.exe", 1, 1, 0},
};

class KeptSettings : public ::testing::TestWithParam<keep_case> {};

TEST_P(KeptSettings, AreWhatTheStartNamesOverWhatWasKept) {
  const keep_case &c = GetParam();
  mjh_options o;
  mjh_options_default(&o);
  mjh_schedule_request r;
  mjh_schedule_request_none(&r);
  const bool ok =
      mjh_settings_parse(c.start, strlen(c.start), MJH_KEYS_ALL, MJH_SCHED_KEYS_ALL, &o, nullptr, &r, nullptr);
  ASSERT_EQ(ok, c.hours != nullptr) << c.start;
  if (!ok) return;
  mjh_settings saved;
  mjh_settings_default(&saved);
  saved.foreground = 1;
  saved.battery_floor = 40;
  mjh_hours hours = schedule_zones::hours("08:00-12:00", "mon-fri");
  mjh_programs programs;
  ASSERT_TRUE(mjh_programs_parse("a.exe", &programs, nullptr));
  const mjh_settings before = saved;

  mjh_schedule_request_keep(r, &saved, &hours, &programs);
  mjh_text_buffer<64> hours_text, days_text, programs_text;
  mjh_hours_text(&hours, hours_text);
  mjh_days_text(hours.days, days_text);
  mjh_programs_text(programs, programs_text);
  EXPECT_STREQ(hours_text.c_str(), c.hours) << c.start;
  EXPECT_STREQ(days_text.c_str(), c.days) << c.start;
  EXPECT_STREQ(programs_text.c_str(), c.programs) << c.start;
  EXPECT_EQ(saved.foreground, c.foreground) << c.start;
  EXPECT_EQ(saved.ac_only, c.ac_only) << c.start;
  EXPECT_EQ(saved.battery_floor, c.battery_floor) << c.start;
  EXPECT_EQ(memcmp(&saved.options, &before.options, sizeof before.options), 0) << "options are mjh_options_take's";
  EXPECT_EQ(saved.run_on, before.run_on);
  EXPECT_EQ(saved.notifications, before.notifications);
}

INSTANTIATE_TEST_SUITE_P(Table, KeptSettings, ::testing::ValuesIn(k_keep_cases));

}  // namespace
