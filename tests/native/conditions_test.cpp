// The conditions of a run beside working hours: the list of programs as people
// type it (and as the pipe and the registry carry it), matching process
// images against it, the battery rule's hysteresis, and the words of what
// holds a run back.
#include "conditions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string text_of(const mjh_programs &p) {
  mjh_text_buffer<MJH_PROGRAMS_TEXT_MAX + 1> t;
  mjh_programs_text(p, t);
  EXPECT_TRUE(t.ok());
  return t.c_str();
}

// "p0.exe,p1.exe,...": n names.
std::string numbered(int n, const char *suffix = ".exe") {
  std::string s;
  for (int i = 0; i < n; i++) s += (i ? "," : "") + std::string("p") + std::to_string(i) + suffix;
  return s;
}

// ---- Reading and writing the list ------------------------------------------------

struct accepted_case {
  std::string in, out;  // out: the list written back
};

const accepted_case k_accepted[] = {
    {"obs64.exe", "obs64.exe"},
    {"obs64.exe,mstsc.exe,robocopy.exe", "obs64.exe,mstsc.exe,robocopy.exe"},
    {"  obs64.exe ,\tmstsc.exe  ", "obs64.exe,mstsc.exe"},
    {"obs64", "obs64.exe"},                        // ".exe" added
    {"OBS64.EXE,Mstsc", "OBS64.EXE,Mstsc.exe"},    // case kept
    {"Obs64.Exe,obs64.exe,OBS64", "Obs64.Exe"},    // one name, however written
    {"Microsoft.Photos", "Microsoft.Photos.exe"},  // a dot inside is part of the name
    {"foo.scr", "foo.scr.exe"},                    // only .exe files are programs here
    {"My Recorder.exe", "My Recorder.exe"},        // blanks inside a name stay
    {"\xc3\xa9valuation.exe", "\xc3\xa9valuation.exe"},
    {"any", "any"},
    {" ANY ", "any"},
    {"a.exe,any", "a.exe,any.exe"},  // "any" beside names is a name
    {numbered(16), numbered(16)},
    {numbered(16) + ",P3.EXE,p15", numbered(16)},  // repeats do not count
    {std::string(76, 'a'), std::string(76, 'a') + ".exe"},
    {std::string(76, 'b') + ".exe", std::string(76, 'b') + ".exe"},
};

class ProgramsAccepted : public ::testing::TestWithParam<accepted_case> {};

TEST_P(ProgramsAccepted, ReadWrittenBackAndReadAgain) {
  const accepted_case &c = GetParam();
  mjh_programs p;
  mjh_text_buffer<256> err;
  ASSERT_TRUE(mjh_programs_parse(c.in, &p, &err)) << err.c_str();
  EXPECT_EQ(err.size(), 0u);
  std::string written = text_of(p);
  EXPECT_EQ(written, c.out);
  mjh_programs again;
  ASSERT_TRUE(mjh_programs_parse(written, &again, nullptr));
  EXPECT_EQ(text_of(again), written);
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramsAccepted, ::testing::ValuesIn(k_accepted));

struct refused_case {
  std::string in, err;
};

#define NOT_A_NAME(quoted, why) quoted " is not a program name: " why
#define NO_FOLDER "give the name alone, without its folder or drive (e.g. obs64.exe)"
#define NO_WILDCARD "wildcards are not taken: give the whole name (e.g. obs64.exe)"
#define NO_CONTROL "it holds a control character"
#define NO_SPECIAL "file names cannot hold < > \" or |"

const refused_case k_refused[] = {
    {"", "no program names given: write e.g. obs64.exe,mstsc.exe, or any"},
    {" \t ", "no program names given: write e.g. obs64.exe,mstsc.exe, or any"},
    {"a.exe,,b.exe", "an empty name in \"a.exe,,b.exe\": write the names between commas, e.g. obs64.exe,mstsc.exe"},
    {"a.exe,", "an empty name in \"a.exe,\": write the names between commas, e.g. obs64.exe,mstsc.exe"},
    {",a.exe", "an empty name in \",a.exe\": write the names between commas, e.g. obs64.exe,mstsc.exe"},
    {"a.exe, ,b.exe", "an empty name in \"a.exe, ,b.exe\": write the names between commas, e.g. obs64.exe,mstsc.exe"},
    {",", "an empty name in \",\": write the names between commas, e.g. obs64.exe,mstsc.exe"},
    {numbered(8) + ",," + numbered(8),  // shown shortened
     "an empty name in \"p0.exe,p1.exe,p2.exe,p3.exe,p4.exe,p5.exe,p6.exe,p7.exe,,...\": write the names between "
     "commas, e.g. obs64.exe,mstsc.exe"},
    // Paths and drives.
    {"C:\\Program Files\\obs-studio\\obs64.exe",
     NOT_A_NAME("\"C:\\\\Program Files\\\\obs-studio\\\\obs64.exe\"", NO_FOLDER)},
    {"bin/obs64.exe", NOT_A_NAME("\"bin/obs64.exe\"", NO_FOLDER)},
    {"c:obs64.exe", NOT_A_NAME("\"c:obs64.exe\"", NO_FOLDER)},
    {"\\\\server\\share\\x.exe", NOT_A_NAME("\"\\\\\\\\server\\\\share\\\\x.exe\"", NO_FOLDER)},
    {"mstsc.exe,..\\obs64.exe", NOT_A_NAME("\"..\\\\obs64.exe\"", NO_FOLDER)},
    // Wildcards.
    {"obs*.exe", NOT_A_NAME("\"obs*.exe\"", NO_WILDCARD)},
    {"obs6?.exe", NOT_A_NAME("\"obs6?.exe\"", NO_WILDCARD)},
    {"*", NOT_A_NAME("\"*\"", NO_WILDCARD)},
    // Control characters, shown escaped.
    {"obs64.exe\nmstsc.exe", NOT_A_NAME("\"obs64.exe\\nmstsc.exe\"", NO_CONTROL)},
    {std::string("a\0b.exe", 7), NOT_A_NAME("\"a\\u0000b.exe\"", NO_CONTROL)},
    {"a\x1b[31m.exe", NOT_A_NAME("\"a\\u001b[31m.exe\"", NO_CONTROL)},
    {"a.exe,b\rc.exe", NOT_A_NAME("\"b\\rc.exe\"", NO_CONTROL)},
    {"a\tb.exe", NOT_A_NAME("\"a\\tb.exe\"", NO_CONTROL)},
    {"a\x7f.exe", NOT_A_NAME("\"a\x7f.exe\"", NO_CONTROL)},
    // Other characters no file name holds, and names that are not names.
    {"a|b.exe", NOT_A_NAME("\"a|b.exe\"", NO_SPECIAL)},
    {"<a>.exe", NOT_A_NAME("\"<a>.exe\"", NO_SPECIAL)},
    {"a\"b.exe", NOT_A_NAME("\"a\\\"b.exe\"", NO_SPECIAL)},
    {"obs64.", NOT_A_NAME("\"obs64.\"", "a file name does not end in a dot")},
    {"..", NOT_A_NAME("\"..\"", "a file name does not end in a dot")},
    {".exe", NOT_A_NAME("\".exe\"", "the name before .exe is missing")},
    {"a.exe,.EXE", NOT_A_NAME("\".EXE\"", "the name before .exe is missing")},
    {"\xff\xfe.exe", NOT_A_NAME("\"??.exe\"", "it is not UTF-8 text")},
    {"a\xc3.exe", NOT_A_NAME("\"a?.exe\"", "it is not UTF-8 text")},
    // Sizes.
    {std::string(77, 'a'), "\"aaaaaaaaaaaaaaaaaaaaa...\" is too long for a program name: at most 80 bytes"},
    {std::string(77, 'a') + ".exe", "\"aaaaaaaaaaaaaaaaaaaaa...\" is too long for a program name: at most 80 bytes"},
    {numbered(17), "too many programs: at most 16"},
    {numbered(16) + ",extra", "too many programs: at most 16"},
};

class ProgramsRefused : public ::testing::TestWithParam<refused_case> {};

TEST_P(ProgramsRefused, WithAClearMessageAndTheListLeftAsItWas) {
  const refused_case &c = GetParam();
  mjh_programs p;
  ASSERT_TRUE(mjh_programs_parse("mstsc.exe", &p, nullptr));
  mjh_text_buffer<256> err;
  EXPECT_FALSE(mjh_programs_parse(c.in, &p, &err));
  EXPECT_EQ(std::string(err.c_str()), c.err);
  EXPECT_TRUE(err.ok());
  EXPECT_EQ(text_of(p), "mstsc.exe");
  EXPECT_FALSE(mjh_programs_parse(c.in, &p, nullptr));  // no message wanted
  EXPECT_EQ(text_of(p), "mstsc.exe");
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramsRefused, ::testing::ValuesIn(k_refused));

TEST(Programs, AMessageIsAppendedToWhatTheCallerWrote) {
  mjh_text_buffer<128> err;
  err.add("--while-running: ");
  mjh_programs p;
  EXPECT_FALSE(mjh_programs_parse("a*", &p, &err));
  EXPECT_EQ(std::string(err.c_str()), "--while-running: \"a*\" is not a program name: " NO_WILDCARD);
}

TEST(Programs, TheLongestListFitsItsText) {
  std::string names;
  for (int i = 0; i < MJH_PROGRAMS_MAX; i++)
    names += (i ? "," : "") + std::string(MJH_PROGRAM_NAME_MAX - 6, 'a') + static_cast<char>('a' + i) + "x.exe";
  mjh_programs p;
  ASSERT_TRUE(mjh_programs_parse(names, &p, nullptr));
  ASSERT_EQ(p.count, MJH_PROGRAMS_MAX);
  char buf[MJH_PROGRAMS_TEXT_MAX + 1];
  mjh_text t(buf);
  mjh_programs_text(p, t);
  EXPECT_TRUE(t.ok());
  EXPECT_EQ(std::string(buf), names);
}

// ---- Matching process images -----------------------------------------------------

struct match_case {
  const char *image;
  int index;
};

const match_case k_matches[] = {
    {"obs64.exe", 0},
    {"OBS64.EXE", 0},
    {"C:\\Program Files\\obs-studio\\bin\\64bit\\obs64.exe", 0},
    {"\\Device\\HarddiskVolume3\\Windows\\System32\\mstsc.exe", 1},
    {"/usr/lib/wine/Mstsc.Exe", 1},
    {"\xc3\xa9valuation.EXE", 2},
    {"\xc3\x89VALUATION.exe", -1},  // beyond ASCII, letters are compared as they are
    {"obs64", -1},                  // an image name is whole
    {"obs64.exe.bak", -1},
    {"xobs64.exe", -1},
    {"C:\\obs64.exe\\other.exe", -1},
    {"C:\\tools\\", -1},
    {"", -1},
};

TEST(Programs, MatchAnImageByItsFileName) {
  mjh_programs p;
  ASSERT_TRUE(mjh_programs_parse("obs64.exe,MSTSC.exe,\xc3\xa9valuation", &p, nullptr));
  for (const match_case &c : k_matches) EXPECT_EQ(mjh_programs_find(p, c.image), c.index) << c.image;
  mjh_programs none;
  mjh_programs_none(&none);
  EXPECT_EQ(mjh_programs_find(none, "obs64.exe"), -1);
}

// ---- The battery rule -----------------------------------------------------------

const mjh_power_reading k_desktop = {MJH_AC_ONLINE, -1, false};

mjh_power_reading on_battery(int percent) { return {MJH_AC_OFFLINE, percent, true}; }
mjh_power_reading plugged(int percent) { return {MJH_AC_ONLINE, percent, true}; }

struct gate_step {
  mjh_battery_rule rule;
  mjh_power_reading reading;
  mjh_power_hold hold;
  const char *what;
};

struct gate_story {
  const char *name;
  std::vector<gate_step> steps;  // fed in turn to one gate
};

const mjh_battery_rule k_stop20 = {false, 20};
const mjh_battery_rule k_mains = {true, 0};

const gate_story k_stories[] = {
    {"stop below 20: hysteresis up to 25",
     {
         {k_stop20, on_battery(50), MJH_POWER_FREE, "well charged"},
         {k_stop20, on_battery(20), MJH_POWER_FREE, "at 20, not below"},
         {k_stop20, on_battery(19), MJH_POWER_LOW_BATTERY, "below 20"},
         {k_stop20, on_battery(22), MJH_POWER_LOW_BATTERY, "a reading that bounces back"},
         {k_stop20, on_battery(25), MJH_POWER_LOW_BATTERY, "at 25, not above"},
         {k_stop20, on_battery(26), MJH_POWER_FREE, "above 25"},
         {k_stop20, on_battery(21), MJH_POWER_FREE, "falling again, not yet below"},
         {k_stop20, on_battery(5), MJH_POWER_LOW_BATTERY, "below again"},
         {k_stop20, plugged(5), MJH_POWER_FREE, "plugged in"},
         {k_stop20, on_battery(6), MJH_POWER_LOW_BATTERY, "unplugged while still low"},
     }},
    {"stop below 20: unknown readings change nothing",
     {
         {k_stop20, on_battery(-1), MJH_POWER_FREE, "percent unknown"},
         {k_stop20, {MJH_AC_UNKNOWN, 10, true}, MJH_POWER_LOW_BATTERY, "power source unknown, battery low"},
         {k_stop20, on_battery(-1), MJH_POWER_LOW_BATTERY, "percent unknown while low"},
         {k_stop20, {MJH_AC_UNKNOWN, 30, true}, MJH_POWER_FREE, "charged past 25, power source unknown"},
     }},
    {"only on mains power",
     {
         {k_mains, plugged(100), MJH_POWER_FREE, "plugged in"},
         {k_mains, on_battery(99), MJH_POWER_ON_BATTERY, "unplugged"},
         {k_mains, {MJH_AC_UNKNOWN, 99, true}, MJH_POWER_FREE, "an unknown source is not battery"},
         {k_mains, plugged(99), MJH_POWER_FREE, "plugged in again"},
     }},
    {"both rules: on battery is said first, mains ends both",
     {
         {{true, 20}, on_battery(10), MJH_POWER_ON_BATTERY, "on battery and low"},
         {{true, 20}, plugged(10), MJH_POWER_FREE, "plugged in"},
     }},
    {"a desktop without a battery never pauses",
     {
         {{true, 95}, k_desktop, MJH_POWER_FREE, "on mains"},
         {{true, 95}, {MJH_AC_OFFLINE, 3, false}, MJH_POWER_FREE, "a stray reading without a battery"},
         {{true, 95}, {MJH_AC_UNKNOWN, -1, false}, MJH_POWER_FREE, "nothing known"},
     }},
    {"the rule changes while low",
     {
         {{false, 50}, on_battery(45), MJH_POWER_LOW_BATTERY, "below 50"},
         {{false, 40}, on_battery(45), MJH_POWER_LOW_BATTERY, "lowered to 40: 45 is not above 45"},
         {{false, 20}, on_battery(45), MJH_POWER_FREE, "lowered to 20: 45 is above 25"},
         {{false, 60}, on_battery(45), MJH_POWER_LOW_BATTERY, "raised to 60"},
         {{false, 0}, on_battery(45), MJH_POWER_FREE, "switched off"},
         {{false, 50}, on_battery(47), MJH_POWER_LOW_BATTERY, "on again, below"},
     }},
};

TEST(BatteryGate, FollowsTheReadingsWithHysteresis) {
  for (const gate_story &story : k_stories) {
    mjh_battery_gate gate;
    mjh_battery_gate_reset(&gate);
    for (const gate_step &step : story.steps)
      EXPECT_EQ(mjh_battery_gate_feed(&gate, step.rule, step.reading), step.hold) << story.name << ": " << step.what;
  }
}

TEST(BatteryGate, StopLevelsFrom5To95OrOff) {
  for (int ok : {0, 5, 50, 95}) EXPECT_TRUE(mjh_battery_stop_valid(ok, nullptr)) << ok;
  for (int bad : {-1, 1, 4, 96, 100, 1000}) {
    mjh_text_buffer<128> err;
    EXPECT_FALSE(mjh_battery_stop_valid(bad, &err)) << bad;
    EXPECT_EQ(std::string(err.c_str()),
              "the battery level to stop below must be from 5 to 95 %, or 0 for none, not " + std::to_string(bad));
  }
}

// ---- What holds a run back, and its words -------------------------------------------

struct hold_case {
  const char *programs;  // nullptr: none
  bool foreground;
  int stop_below;
  uint32_t running;
  int foreground_index;
  mjh_power_hold power;
  unsigned hold;
  const char *words;
};

const hold_case k_holds[] = {
    {nullptr, false, 0, 0, -1, MJH_POWER_FREE, 0, ""},
    {nullptr, true, 0, 0, -1, MJH_POWER_FREE, 0, ""},  // foreground without programs: nothing to wait for
    {"obs64.exe", false, 0, 0, -1, MJH_POWER_FREE, MJH_HOLD_NO_PROGRAM, "for obs64.exe"},
    {"obs64.exe,mstsc.exe", false, 0, 0, -1, MJH_POWER_FREE, MJH_HOLD_NO_PROGRAM, "for obs64.exe or mstsc.exe"},
    {"a,b,c", false, 0, 0, -1, MJH_POWER_FREE, MJH_HOLD_NO_PROGRAM, "for a.exe, b.exe or c.exe"},
    {"a,b,c,d", false, 0, 0, -1, MJH_POWER_FREE, MJH_HOLD_NO_PROGRAM, "for a.exe, b.exe or 2 more"},
    {"a,b,c,d,e", false, 0, 0, -1, MJH_POWER_FREE, MJH_HOLD_NO_PROGRAM, "for a.exe, b.exe or 3 more"},
    {"a,b", false, 0, 0x2, -1, MJH_POWER_FREE, 0, ""},
    {"a,b", false, 0, 0x4, -1, MJH_POWER_FREE, MJH_HOLD_NO_PROGRAM, "for a.exe or b.exe"},  // not listed
    {"obs64.exe", true, 0, 0x1, -1, MJH_POWER_FREE, MJH_HOLD_NOT_FOREGROUND, "obs64.exe is not in the foreground"},
    {"obs64.exe", true, 0, 0x1, 0, MJH_POWER_FREE, 0, ""},
    {"obs64.exe", true, 0, 0x1, 1, MJH_POWER_FREE, MJH_HOLD_NOT_FOREGROUND, "obs64.exe is not in the foreground"},
    {"obs64.exe", true, 0, 0, 0, MJH_POWER_FREE, MJH_HOLD_NO_PROGRAM, "for obs64.exe"},
    {"a,b,c", true, 0, 0x5, -1, MJH_POWER_FREE, MJH_HOLD_NOT_FOREGROUND,
     "neither a.exe nor c.exe is in the foreground"},
    {"a,b,c,d", true, 0, 0xd, -1, MJH_POWER_FREE, MJH_HOLD_NOT_FOREGROUND,
     "none of a.exe, c.exe or d.exe is in the foreground"},
    {"a,b,c,d,e", true, 0, 0x1f, -1, MJH_POWER_FREE, MJH_HOLD_NOT_FOREGROUND,
     "none of a.exe, b.exe or 3 more is in the foreground"},
    {"a,b,c", true, 0, 0x5, 2, MJH_POWER_FREE, 0, ""},
    {nullptr, false, 0, 0, -1, MJH_POWER_ON_BATTERY, MJH_HOLD_ON_BATTERY, "on battery"},
    {nullptr, false, 20, 0, -1, MJH_POWER_LOW_BATTERY, MJH_HOLD_LOW_BATTERY, "battery below 20 %"},
    {"obs64.exe", false, 0, 0, -1, MJH_POWER_ON_BATTERY, MJH_HOLD_ON_BATTERY | MJH_HOLD_NO_PROGRAM,
     "on battery, for obs64.exe"},
    {"obs64.exe,b", true, 35, 0x1, -1, MJH_POWER_LOW_BATTERY, MJH_HOLD_LOW_BATTERY | MJH_HOLD_NOT_FOREGROUND,
     "battery below 35 %, obs64.exe is not in the foreground"},
};

TEST(Hold, SaysWhatHoldsTheRunBackInWords) {
  for (const hold_case &c : k_holds) {
    mjh_conditions cond;
    mjh_conditions_none(&cond);
    if (c.programs) {
      ASSERT_TRUE(mjh_programs_parse(c.programs, &cond.programs, nullptr)) << c.programs;
    }
    cond.foreground = c.foreground;
    cond.battery.stop_below = c.stop_below;
    mjh_program_state state = {c.running, c.foreground_index};
    unsigned hold = mjh_conditions_hold(cond, state, c.power);
    EXPECT_EQ(hold, c.hold) << c.words;
    mjh_text_buffer<256> words;
    mjh_hold_text(cond, state, hold, words);
    EXPECT_EQ(std::string(words.c_str()), c.words);
  }
}

TEST(Hold, TheNamesOfEveryListedProgramFitATooltipLine) {
  // Sixteen names of the longest size: the words name two and count the rest.
  std::string names;
  for (int i = 0; i < MJH_PROGRAMS_MAX; i++)
    names += (i ? "," : "") + std::string(MJH_PROGRAM_NAME_MAX - 6, 'n') + static_cast<char>('a' + i) + "x.exe";
  mjh_conditions cond;
  mjh_conditions_none(&cond);
  ASSERT_TRUE(mjh_programs_parse(names, &cond.programs, nullptr));
  mjh_text_buffer<256> words;
  mjh_hold_text(cond, {0, -1}, MJH_HOLD_NO_PROGRAM, words);
  EXPECT_TRUE(words.ok());
  EXPECT_EQ(std::string(words.c_str()),
            "for " + std::string(cond.programs.names[0]) + ", " + cond.programs.names[1] + " or 14 more");
}

}  // namespace
