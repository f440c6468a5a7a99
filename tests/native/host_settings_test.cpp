// The agent's saved settings: every stored value, good or bad, reads without
// a crash, and a bad one gives its default.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "conditions.h"
#include "gtest/gtest.h"
#include "schedule_text.h"
#include "schedule_zones.h"
#include "settings.h"

namespace {

int index_of(const char *name) {
  for (int i = 0; i < mjh_setting_count(); i++)
    if (strcmp(mjh_setting_name(i), name) == 0) return i;
  ADD_FAILURE() << "no setting " << name;
  return -1;
}

mjh_value number(uint32_t n) { return {MJH_VALUE_NUMBER, n, nullptr}; }
mjh_value text(const char *t) { return {MJH_VALUE_TEXT, 0, t}; }

TEST(Settings, DefaultsAreTheFirstLaunch) {
  mjh_settings s;
  memset(&s, 0x7f, sizeof s);
  mjh_settings_default(&s);
  EXPECT_EQ(s.options.mode, MJ_MODE_ZEN);
  EXPECT_EQ(s.options.interval_s, 60);
  EXPECT_EQ(s.options.dx, 1);
  EXPECT_EQ(s.options.dy, 1);
  EXPECT_EQ(s.options.only_when_idle, 1);
  EXPECT_EQ(s.options.dry_run, 0);
  EXPECT_EQ(s.options.keep_awake, 0);
  EXPECT_EQ(s.run_on, 1);
  EXPECT_EQ(s.notifications, 1);
  EXPECT_EQ(s.foreground, 0);
  EXPECT_EQ(s.ac_only, 0);
  EXPECT_EQ(s.battery_floor, 0);
}

TEST(Settings, TheTableNamesEveryValueOnce) {
  const char *want[] = {
      "mode", "interval_s",    "dx",         "dy",      "only_when_idle", "dry_run", "keep_awake",   "hours",
      "days", "while_running", "foreground", "ac_only", "battery_floor",  "run_on",  "notifications"};
  const std::string texts = " mode hours days while_running ";
  const int n = sizeof want / sizeof want[0];
  ASSERT_EQ(mjh_setting_count(), n);
  mjh_settings s;
  mjh_settings_default(&s);
  mjh_hours h;
  mjh_hours_none(&h);
  mjh_programs p;
  mjh_programs_none(&p);
  for (int i = 0; i < n; i++) {
    EXPECT_STREQ(mjh_setting_name(i), want[i]);
    mjh_text_buffer<64> text;
    mjh_value v;
    EXPECT_TRUE(mjh_settings_value(s, h, &p, i, &v, text));
    EXPECT_EQ(v.type,
              texts.find(std::string(" ") + want[i] + " ") != std::string::npos ? MJH_VALUE_TEXT : MJH_VALUE_NUMBER)
        << want[i];
  }
  EXPECT_STREQ(mjh_setting_name(n), "");
  EXPECT_STREQ(mjh_setting_name(-1), "");
}

struct stored_case {
  const char *name;
  mjh_value value;
  bool used;
  int want;  // the field afterwards (the mode: 1 move, 0 zen)
};

const char k_not_utf8[] = "mo\xff\xfe";
const std::string k_long_text(100000, 'z');

const stored_case k_stored[] = {
    {"mode", text("move"), true, 1},
    {"mode", text("zen"), true, 0},
    {"mode", text("Move"), false, 0},
    {"mode", text(""), false, 0},
    {"mode", text("move "), false, 0},
    {"mode", text(k_not_utf8), false, 0},
    {"mode", text(k_long_text.c_str()), false, 0},
    {"mode", text(nullptr), false, 0},
    {"mode", number(1), false, 0},
    {"mode", {MJH_VALUE_MISSING, 0, nullptr}, false, 0},
    {"mode", {MJH_VALUE_OTHER, 0, "move"}, false, 0},
    {"interval_s", number(1), true, 1},
    {"interval_s", number(3600), true, 3600},
    {"interval_s", number(0), false, 60},
    {"interval_s", number(3601), false, 60},
    {"interval_s", number(0xFFFFFFFFu), false, 60},
    {"interval_s", text("30"), false, 60},
    {"interval_s", {MJH_VALUE_MISSING, 30, nullptr}, false, 60},
    {"dx", number((uint32_t)-200), true, -200},
    {"dx", number(200), true, 200},
    {"dx", number(0), true, 0},
    {"dx", number((uint32_t)-201), false, 1},
    {"dx", number(201), false, 1},
    {"dx", number(0x80000000u), false, 1},
    {"dy", number(0xFFFFFFFFu), true, -1},
    {"dy", number(0x7FFFFFFFu), false, 1},
    {"only_when_idle", number(0), true, 0},
    {"only_when_idle", number(2), false, 1},
    {"dry_run", number(1), true, 1},
    {"dry_run", number(0xFFFFFFFFu), false, 0},
    {"keep_awake", number(1), true, 1},
    {"keep_awake", text("1"), false, 0},
    {"run_on", number(0), true, 0},
    {"run_on", number(7), false, 1},
    {"run_on", {MJH_VALUE_OTHER, 1, nullptr}, false, 1},
    {"notifications", number(0), true, 0},
    {"notifications", number(2), false, 1},
    {"foreground", number(1), true, 1},
    {"foreground", text("yes"), false, 0},
    {"ac_only", number(1), true, 1},
    {"ac_only", number(0xFFFFFFFFu), false, 0},
    {"battery_floor", number(20), true, 20},
    {"battery_floor", number(5), true, 5},
    {"battery_floor", number(95), true, 95},
    {"battery_floor", number(0), true, 0},
    {"battery_floor", number(4), false, 0},  // below the lowest stop level
    {"battery_floor", number(96), false, 0},
    {"battery_floor", number(0xFFFFFFFBu), false, 0},
};

int field_of(const mjh_settings &s, const char *name) {
  const std::string n = name;
  if (n == "mode") return s.options.mode == MJ_MODE_MOVE;
  if (n == "interval_s") return s.options.interval_s;
  if (n == "dx") return s.options.dx;
  if (n == "dy") return s.options.dy;
  if (n == "only_when_idle") return s.options.only_when_idle;
  if (n == "dry_run") return s.options.dry_run;
  if (n == "keep_awake") return s.options.keep_awake;
  if (n == "notifications") return s.notifications;
  if (n == "foreground") return s.foreground;
  if (n == "ac_only") return s.ac_only;
  if (n == "battery_floor") return s.battery_floor;
  if (n == "run_on") return s.run_on;
  return 0;  // the texts, read whole by mjh_settings_read
}

class StoredValues : public ::testing::TestWithParam<stored_case> {};

TEST_P(StoredValues, AreUsedOnlyWhenRight) {
  const stored_case &c = GetParam();
  mjh_settings s, defaults;
  mjh_settings_default(&s);
  mjh_settings_default(&defaults);
  EXPECT_EQ(mjh_settings_apply(&s, index_of(c.name), &c.value), c.used);
  EXPECT_EQ(field_of(s, c.name), c.want);
  // Nothing else moved.
  int i = index_of(c.name);
  for (int j = 0; j < mjh_setting_count(); j++) {
    if (j == i) continue;
    EXPECT_EQ(field_of(s, mjh_setting_name(j)), field_of(defaults, mjh_setting_name(j))) << j;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, StoredValues, ::testing::ValuesIn(k_stored));

TEST(Settings, OutOfRangeIndexesAndNullValuesAreIgnored) {
  mjh_settings s, before;
  mjh_settings_default(&s);
  before = s;
  mjh_value v = number(5);
  EXPECT_FALSE(mjh_settings_apply(&s, -1, &v));
  EXPECT_FALSE(mjh_settings_apply(&s, mjh_setting_count(), &v));
  EXPECT_FALSE(mjh_settings_apply(&s, 1, nullptr));
  EXPECT_EQ(memcmp(&s, &before, sizeof s), 0);
  mjh_hours h;
  mjh_hours_none(&h);
  mjh_text_buffer<16> text;
  EXPECT_TRUE(mjh_settings_value(s, h, nullptr, 99, &v, text));
  EXPECT_EQ(v.type, MJH_VALUE_MISSING);
  EXPECT_TRUE(mjh_settings_value(s, h, nullptr, -1, &v, text));
  EXPECT_EQ(v.type, MJH_VALUE_MISSING);
  EXPECT_FALSE(mjh_settings_apply(&s, index_of("hours"), &v)) << "a text read whole, by mjh_settings_read";
}

// What is stored, as the store keeps it: each value, and its text apart.
struct stored {
  mjh_value values[32];
  std::string texts[32];

  stored(const mjh_settings &s, const mjh_hours &h, const mjh_programs *p) {
    for (int i = 0; i < mjh_setting_count(); i++) {
      mjh_text_buffer<2048> text;
      EXPECT_TRUE(mjh_settings_value(s, h, p, i, &values[i], text)) << mjh_setting_name(i);
      texts[i] = text.c_str();
      if (values[i].type == MJH_VALUE_TEXT) values[i].text = texts[i].c_str();
    }
  }
};

TEST(Settings, WhatIsStoredReadsBackTheSame) {
  for (mj_mode mode : {MJ_MODE_MOVE, MJ_MODE_ZEN}) {
    mjh_settings s;
    s.options = {mode, 3600, -200, -1, 0, 1, 1};
    s.run_on = 0;
    s.notifications = 0;
    s.foreground = 1;
    s.ac_only = 1;
    s.battery_floor = 35;
    const mjh_hours h = schedule_zones::hours("08:30-12:00,13:00-17:30", "mon-fri");
    mjh_programs p;
    ASSERT_TRUE(mjh_programs_parse("obs64.exe,MSTSC", &p, nullptr));
    const stored kept(s, h, &p);
    EXPECT_EQ(kept.texts[index_of("hours")], "08:30-12:00,13:00-17:30");
    EXPECT_EQ(kept.texts[index_of("days")], "mon-fri");
    EXPECT_EQ(kept.texts[index_of("while_running")], "obs64.exe,MSTSC.exe");

    mjh_settings back;
    mjh_hours back_hours;
    mjh_programs back_programs;
    bool damaged = true;
    mjh_settings_read(kept.values, &back, &back_hours, &back_programs, &damaged);
    EXPECT_EQ(memcmp(&s, &back, sizeof s), 0);
    EXPECT_EQ(memcmp(&h, &back_hours, sizeof h), 0);
    mjh_text_buffer<64> programs;
    mjh_programs_text(back_programs, programs);
    EXPECT_STREQ(programs.c_str(), "obs64.exe,MSTSC.exe");
    EXPECT_FALSE(damaged);
  }

  mjh_settings s;
  mjh_settings_default(&s);
  s.options.dx = -200;
  s.options.mode = MJ_MODE_MOVE;
  mjh_hours h;
  mjh_hours_none(&h);
  const stored kept(s, h, nullptr);
  EXPECT_EQ(kept.values[index_of("dx")].number, 0xFFFFFF38u);  // two's complement of -200
  EXPECT_STREQ(kept.values[index_of("mode")].text, "move");
  EXPECT_STREQ(kept.values[index_of("hours")].text, "any");
  EXPECT_EQ(kept.values[index_of("while_running")].type, MJH_VALUE_MISSING) << "a damaged list stays as stored";
  h.damaged = true;
  const stored damaged(s, h, nullptr);
  EXPECT_EQ(damaged.values[index_of("hours")].type, MJH_VALUE_MISSING) << "damaged hours stay as stored";
  EXPECT_EQ(damaged.values[index_of("days")].type, MJH_VALUE_MISSING);

  // A text that does not fit is said so, not stored cut.
  mjh_programs p;
  ASSERT_TRUE(mjh_programs_parse("obs64.exe,mstsc.exe", &p, nullptr));
  mjh_text_buffer<8> small;
  mjh_value v;
  EXPECT_FALSE(mjh_settings_value(s, h, &p, index_of("while_running"), &v, small));
}

// A store filled with every kind of wrong value reads as the defaults.
TEST(Settings, ACorruptedStoreGivesTheDefaults) {
  const mjh_value wrong[] = {{MJH_VALUE_MISSING, 0, nullptr},
                             {MJH_VALUE_OTHER, 0, nullptr},
                             number(0xDEADBEEFu),
                             text("\xc3"),
                             text(k_long_text.c_str())};
  for (const mjh_value &w : wrong) {
    mjh_settings s, defaults;
    mjh_settings_default(&s);
    mjh_settings_default(&defaults);
    for (int i = 0; i < mjh_setting_count(); i++) EXPECT_FALSE(mjh_settings_apply(&s, i, &w)) << i;
    EXPECT_EQ(memcmp(&s, &defaults, sizeof s), 0);

    // Read whole: the settings are the defaults; hours and programs stored
    // wrong are damaged (the run waits), missing ones are none.
    std::vector<mjh_value> values(mjh_setting_count(), w);
    mjh_hours h;
    mjh_programs p;
    bool programs_damaged = false;
    memset(&s, 0x5a, sizeof s);
    mjh_settings_read(values.data(), &s, &h, &p, &programs_damaged);
    EXPECT_EQ(memcmp(&s, &defaults, sizeof s), 0);
    const bool missing = w.type == MJH_VALUE_MISSING;
    EXPECT_EQ(h.damaged, !missing);
    EXPECT_EQ(h.span_count, 0);
    EXPECT_EQ(programs_damaged, !missing);
    EXPECT_EQ(p.count, 0);
  }
}

}  // namespace
