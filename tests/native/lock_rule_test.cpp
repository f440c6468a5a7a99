// The safe-interval rule and its warnings.
#include "lock_rule.h"

#include <string>

#include "gtest/gtest.h"

namespace {

std::string warning(int interval_s, bool only_when_idle, int lock_s, mjh_lock_kind kind = MJH_LOCK_SCREEN_LOCK) {
  mjh_text_buffer<300> text;
  mjh_interval_warning_of(interval_s, only_when_idle, lock_s, kind, text);
  EXPECT_TRUE(text.ok());
  return text.c_str();
}

std::string short_warning(int interval_s, bool only_when_idle, int lock_s, mjh_lock_kind kind = MJH_LOCK_SCREEN_LOCK) {
  mjh_text_buffer<300> text;
  mjh_interval_warning_short_of(interval_s, only_when_idle, lock_s, kind, text);
  EXPECT_TRUE(text.ok());
  return text.c_str();
}

TEST(ScheduleInterval, TheSafeRuleInBothModes) {
  struct Case {
    int lock;
    bool only_when_idle;
    int interval;
    bool safe;
  } cases[] = {
      {300, 1, 145, 1}, {300, 1, 146, 0}, {300, 1, 240, 0}, {300, 0, 290, 1},   {300, 0, 291, 0},
      {300, 0, 60, 1},  {0, 1, 3600, 1},  {0, 0, 3600, 1},  {60, 1, 25, 1},     {60, 1, 26, 0},
      {11, 1, 1, 0},    {11, 0, 1, 1},    {10, 0, 1, 0},    {7200, 1, 3595, 1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.safe, mjh_interval_safe(c.interval, c.only_when_idle, c.lock))
        << c.lock << " " << c.only_when_idle << " " << c.interval;
  struct Largest {
    int lock;
    bool only_when_idle;
    int largest;
  } largest[] = {{300, 1, 145}, {300, 0, 290}, {0, 1, 3600}, {60, 1, 25}, {100000, 0, 3600}, {5, 1, 1}, {12, 1, 1}};
  for (const Largest &c : largest) {
    const int got = mjh_largest_safe_interval(c.only_when_idle, c.lock);
    EXPECT_EQ(c.largest, got) << c.lock << " " << c.only_when_idle;
    if (mjh_interval_safe(got, c.only_when_idle, c.lock) && got < 3600) {
      EXPECT_FALSE(mjh_interval_safe(got + 1, c.only_when_idle, c.lock));  // it is the largest
    }
  }
  EXPECT_EQ(300, mjh_lock_timeout(true, 300, 0));
  EXPECT_EQ(0, mjh_lock_timeout(false, 300, 0));  // the screen saver is off
  EXPECT_EQ(600, mjh_lock_timeout(false, 300, 600));
  EXPECT_EQ(240, mjh_lock_timeout(true, 300, 240));
  EXPECT_EQ(300, mjh_lock_timeout(true, 300, 600));
  EXPECT_EQ(0, mjh_lock_timeout(true, 0, 0));
}

TEST(ScheduleInterval, WarningsSayWhatToChoose) {
  EXPECT_EQ(
      "the screen locks after 300 s of inactivity; in only-when-idle mode a nudge can come up to 480 s (twice 240 s) "
      "after your last input: choose 145 s or less",
      warning(240, true, 300));
  EXPECT_EQ("the screen locks after 300 s of inactivity; nudges every 600 s come too late: choose 290 s or less",
            warning(600, false, 300));
  EXPECT_EQ(
      "the screen locks after 8 s of inactivity; in only-when-idle mode a nudge can come up to 10 s (twice 5 s) "
      "after your last input: no interval is short enough",
      warning(5, true, 8));
  EXPECT_EQ("", warning(145, true, 300));
  EXPECT_EQ("", warning(3600, true, 0));
  EXPECT_EQ("locks after 300 s: use 145 s or less", short_warning(240, true, 300));
  EXPECT_EQ("", short_warning(60, false, 300));
  // A warning appends to what is there; a safe interval appends nothing.
  mjh_text_buffer<300> text;
  text.add("Warning: ");
  mjh_interval_warning_short_of(60, false, 300, MJH_LOCK_SCREEN_LOCK, text);
  EXPECT_STREQ("Warning: ", text.c_str());
  mjh_interval_warning_short_of(600, false, 300, MJH_LOCK_SCREEN_LOCK, text);
  EXPECT_STREQ("Warning: locks after 300 s: use 290 s or less", text.c_str());
}

TEST(ScheduleInterval, WarningsNameWhatHappensAfterTheInactivity) {
  struct Case {
    mjh_lock_kind kind;
    const char *long_start, *short_text;
  } cases[] = {
      {MJH_LOCK_SCREEN_LOCK, "the screen locks after 600 s of inactivity; ", "locks after 600 s: use 295 s or less"},
      {MJH_LOCK_SCREEN_SAVER, "the screen saver starts after 600 s of inactivity; ",
       "screen saver after 600 s: use 295 s or less"},
      {MJH_LOCK_DISPLAY_OFF, "the display turns off after 600 s of inactivity; ",
       "display off after 600 s: use 295 s or less"},
  };
  for (const Case &c : cases) {
    const std::string text = warning(400, true, 600, c.kind);
    EXPECT_EQ(0u, text.find(c.long_start)) << text;
    EXPECT_NE(std::string::npos, text.find("choose 295 s or less")) << text;
    EXPECT_EQ(c.short_text, short_warning(400, true, 600, c.kind));
    EXPECT_EQ("", warning(295, true, 600, c.kind)) << "safe: no warning";
    EXPECT_EQ("", short_warning(295, true, 600, c.kind)) << "safe: no warning";
  }
}

}  // namespace
