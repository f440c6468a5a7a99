// The desktop's state as Windows' announcements change it, its words, and
// whether the window in front blocks injected input.
#include "desktop.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string words(const mjh_desktop &d) {
  mjh_text_buffer<128> out;
  mjh_desktop_text(d, out);
  return out.c_str();
}

// One announcement after another, from the console: switched away, taken
// over remotely, disconnected, back at the console.
TEST(Desktop, EachAnnouncementChangesWhatItNames) {
  struct Step {
    long change;
    bool changed;
    mjh_desktop after;
    bool holds;
    const char *words;
  } steps[] = {
      {MJH_DESKTOP_LOCK, true, {true, true, false}, true, "the computer is locked"},
      {MJH_DESKTOP_LOCK, false, {true, true, false}, true, "the computer is locked"},
      {MJH_DESKTOP_CONSOLE_DISCONNECT, true, {true, false, false}, true, "the desktop is switched away"},
      {MJH_DESKTOP_REMOTE_CONNECT, true, {true, true, true}, true, "the computer is locked"},
      {MJH_DESKTOP_UNLOCK, true, {false, true, true}, false, ""},
      {MJH_DESKTOP_REMOTE_DISCONNECT, true, {false, false, true}, true, "the remote desktop is disconnected"},
      {5, false, {false, false, true}, true, "the remote desktop is disconnected"},   // log-on
      {9, false, {false, false, true}, true, "the remote desktop is disconnected"},   // remote control
      {-3, false, {false, false, true}, true, "the remote desktop is disconnected"},  // nothing Windows sends
      {MJH_DESKTOP_CONSOLE_CONNECT, true, {false, true, false}, false, ""},
      {MJH_DESKTOP_UNLOCK, false, {false, true, false}, false, ""},
  };
  mjh_desktop d = mjh_desktop_here;
  int i = 0;
  for (const Step &s : steps) {
    EXPECT_EQ(mjh_desktop_apply(&d, s.change), s.changed) << "step " << i;
    EXPECT_EQ(d.locked, s.after.locked) << "step " << i;
    EXPECT_EQ(d.connected, s.after.connected) << "step " << i;
    EXPECT_EQ(d.remote, s.after.remote) << "step " << i;
    EXPECT_EQ(mjh_desktop_holds(d), s.holds) << "step " << i;
    EXPECT_EQ(words(d), s.words) << "step " << i;
    i++;
  }
}

TEST(FrontWindow, OnlyAKnownHigherLevelBlocks) {
  struct Case {
    int own, front;
    bool blocks;
  } cases[] = {
      {MJH_LEVEL_MEDIUM, MJH_LEVEL_HIGH, true},    {MJH_LEVEL_MEDIUM, MJH_LEVEL_SYSTEM, true},
      {MJH_LEVEL_LOW, MJH_LEVEL_MEDIUM, true},     {MJH_LEVEL_MEDIUM, MJH_LEVEL_MEDIUM_PLUS, true},
      {MJH_LEVEL_MEDIUM, MJH_LEVEL_MEDIUM, false}, {MJH_LEVEL_HIGH, MJH_LEVEL_HIGH, false},
      {MJH_LEVEL_HIGH, MJH_LEVEL_MEDIUM, false},   {MJH_LEVEL_MEDIUM, MJH_LEVEL_UNKNOWN, false},
      {MJH_LEVEL_UNKNOWN, MJH_LEVEL_HIGH, false},  {MJH_LEVEL_UNKNOWN, MJH_LEVEL_UNKNOWN, false},
  };
  for (const Case &c : cases) {
    mjh_front_window w = {true, c.front, "x.exe"};
    EXPECT_EQ(mjh_front_blocks(w, c.own), c.blocks) << std::hex << c.own << " under " << c.front;
  }
}

TEST(FrontWindow, WhatBlocksIsNamed) {
  struct Case {
    mjh_front_window w;
    const char *words;
  } cases[] = {
      {{true, MJH_LEVEL_HIGH, "taskmgr.exe"}, "an administrator window is in front (taskmgr.exe)"},
      {{true, MJH_LEVEL_MEDIUM_PLUS, "x.exe"}, "an administrator window is in front (x.exe)"},
      {{true, MJH_LEVEL_SYSTEM, "setup.exe"}, "a system window is in front (setup.exe)"},
      {{true, MJH_LEVEL_PROTECTED, ""}, "a system window is in front"},
      {{true, MJH_LEVEL_HIGH, ""}, "an administrator window is in front"},
  };
  for (const Case &c : cases) {
    mjh_text_buffer<128> out;
    mjh_blocked_text(c.w, out);
    EXPECT_STREQ(out.c_str(), c.words);
  }
}

}  // namespace
