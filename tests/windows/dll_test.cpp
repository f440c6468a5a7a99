// The real DLL under Wine, loaded the way a host loads it: LoadLibrary and
// GetProcAddress. Every test loads a fresh copy and unloads it at the end, so
// each starts from the library's state at load.
#include <windows.h>

#include <string>

#include "../native/status_util.h"
#include "../options_cases.h"
#include "gtest/gtest.h"
#include "jiggler_dll.h"
#include "json_check.h"

namespace {

const char *const k_dll_name = k_jiggler_dll_name;

class Dll : public ::testing::Test {
 protected:
  jiggler_dll mj = {};

  void SetUp() override {
    ASSERT_EQ(GetModuleHandleA(k_dll_name), nullptr) << "an earlier copy is still loaded";
    bool bound = jiggler_load(&mj);
    ASSERT_TRUE(mj.module) << "LoadLibrary failed: " << GetLastError();
    ASSERT_TRUE(bound) << "an export is missing";
  }

  void TearDown() override {
    if (!mj.module) return;
    mj.stop();
    mj.module.reset();
    EXPECT_EQ(GetModuleHandleA(k_dll_name), nullptr);
  }

  std::string status() { return mj.status(); }

  // Waits until the idle time has grown past ms (the desktop is left alone).
  void wait_idle(int ms) {
    for (int i = 0; i < 400 && mj.idle_ms() < ms; i++) Sleep(10);
    ASSERT_GE(mj.idle_ms(), ms);
  }
};

// ---- The frame --------------------------------------------------------------

TEST_F(Dll, ExportsSevenNamesWithAlphabeticalOrdinals) {
  const char *names[] = {"mj_idle_ms", "mj_last_error", "mj_nudge_now", "mj_start",
                         "mj_status",  "mj_stop",       "mj_version"};
  for (int i = 0; i < 7; i++) {
    FARPROC by_name = GetProcAddress(mj.module.get(), names[i]);
    FARPROC by_ordinal = GetProcAddress(mj.module.get(), MAKEINTRESOURCEA(i + 1));
    ASSERT_NE(by_name, nullptr) << names[i];
    EXPECT_EQ(by_name, by_ordinal) << names[i];
  }
  EXPECT_EQ(GetProcAddress(mj.module.get(), MAKEINTRESOURCEA(8)), nullptr);
}

TEST_F(Dll, FirstCallsAnswerWithoutARun) {
  EXPECT_GE(mj.idle_ms(), 0);
  const char *err = mj.last_error();
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err, "");
  EXPECT_STREQ(mj.version(), "1.0.0");
  EXPECT_EQ(mj.last_error(), err);
  EXPECT_EQ(mj.stop(), 1);
  std::string line = status();
  EXPECT_TRUE(json_is_flat_object(line)) << line;
  EXPECT_EQ(status_member(line, "active"), "0");
  EXPECT_EQ(status_member(line, "mode"), "\"move\"");
  EXPECT_EQ(status_member(line, "interval_s"), "0");
  EXPECT_EQ(status_member(line, "last_reset_idle"), "-1");
}

// ---- The options table, read by this C runtime ------------------------------

class Options : public Dll, public ::testing::WithParamInterface<options_case> {};

TEST_P(Options, ReadLikeNatively) {
  const options_case &c = GetParam();
  ASSERT_EQ(mj.start("{\"mode\":\"move\",\"interval_s\":3000,\"dx\":7}"), 1);
  mj.stop();
  std::string before = status();
  int started = mj.start(c.text);
  std::string line = status();
  mj.stop();
  if (c.rejection) {
    EXPECT_EQ(started, 0);
    EXPECT_STREQ(mj.last_error(), c.rejection);
    EXPECT_EQ(line, before);
  } else {
    ASSERT_EQ(started, 1) << mj.last_error();
    EXPECT_EQ(status_member(line, "mode"), c.mode ? "\"zen\"" : "\"move\"");
    EXPECT_EQ(status_num(line, "interval_s"), c.interval_s);
    EXPECT_EQ(status_num(line, "dx"), c.dx);
    EXPECT_EQ(status_num(line, "dy"), c.dy);
    EXPECT_EQ(status_num(line, "only_when_idle"), c.only_when_idle);
    EXPECT_EQ(status_num(line, "dry_run"), c.dry_run);
  }
}

std::string case_name(const ::testing::TestParamInfo<options_case> &info) {
  return "case" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Table, Options, ::testing::ValuesIn(k_options_cases), case_name);

// ---- Nudges on a real desktop -----------------------------------------------

TEST_F(Dll, ZenNudgeResetsTheIdleTime) {
  wait_idle(1200);
  ASSERT_EQ(mj.nudge_now(nullptr), 1) << mj.last_error();
  EXPECT_LT(mj.idle_ms(), 1000);
  std::string line = status();
  EXPECT_EQ(status_member(line, "last_reset_idle"), "1");
  EXPECT_EQ(status_member(line, "last_method"), "\"SendInput zen\"");
}

// The pointer's position once it has reached want, or after a second.
POINT cursor_when_at(POINT want) {
  POINT p = {0, 0};
  for (int i = 0; i < 100; i++) {
    GetCursorPos(&p);
    if (p.x == want.x && p.y == want.y) break;
    Sleep(10);
  }
  return p;
}

// Puts the pointer at p; false when it is not there within 10 s. Under Wine
// a move is refused while another program holds the pointer for a moment (a
// program moves it only with a grab of its own), and the same move asked
// again does nothing until the position has been read back: so it is asked
// again after each look.
bool put_cursor(POINT p) {
  for (int i = 0; i < 10; i++) {
    SetCursorPos(p.x, p.y);
    POINT now = cursor_when_at(p);
    if (now.x == p.x && now.y == p.y) return true;
  }
  return false;
}

TEST_F(Dll, MoveNudgesMoveThePointerThereAndBack) {
  POINT p0 = {400, 300};
  ASSERT_TRUE(put_cursor(p0));
  const char *move = "{\"mode\":\"move\",\"dx\":5,\"dy\":-3}";
  ASSERT_EQ(mj.nudge_now(move), 1) << mj.last_error();
  POINT p1 = cursor_when_at(POINT{p0.x + 5, p0.y - 3});
  EXPECT_EQ(p1.x, p0.x + 5);
  EXPECT_EQ(p1.y, p0.y - 3);
  ASSERT_EQ(mj.nudge_now(move), 1) << mj.last_error();
  POINT p2 = cursor_when_at(p0);
  EXPECT_EQ(p2.x, p0.x);
  EXPECT_EQ(p2.y, p0.y);
  EXPECT_EQ(status_member(status(), "last_method"), "\"SendInput move\"");
}

TEST_F(Dll, DryRunLeavesThePointerAndIdleTimeAlone) {
  wait_idle(600);
  ASSERT_EQ(mj.nudge_now("{\"mode\":\"move\",\"dx\":5,\"dry_run\":true}"), 1);
  EXPECT_GE(mj.idle_ms(), 600);
  EXPECT_EQ(status_member(status(), "last_method"), "\"dry-run\"");
}

// ---- Runs -------------------------------------------------------------------

TEST_F(Dll, FirstNudgeOfAOneSecondRunComesAfterOneSecond) {
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  ASSERT_EQ(mj.start("{\"interval_s\":1,\"only_when_idle\":false}"), 1);
  std::string line;
  for (int i = 0; i < 300; i++) {
    line = status();
    if (status_num(line, "nudges") > 0) break;
    Sleep(5);
  }
  QueryPerformanceCounter(&t1);
  double s = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
  ASSERT_EQ(status_num(line, "nudges"), 1) << line;
  EXPECT_GE(s, 1.0);
  EXPECT_LT(s, 1.5);
  EXPECT_EQ(status_member(line, "last_reset_idle"), "1");
  EXPECT_EQ(status_member(line, "active"), "1");
}

TEST_F(Dll, StopDoesNotWaitOutThePause) {
  ASSERT_EQ(mj.start(nullptr), 1);
  Sleep(60);  // the worker is in its 250 ms wait
  DWORD t0 = GetTickCount();
  EXPECT_EQ(mj.stop(), 1);
  EXPECT_LT(GetTickCount() - t0, 150u);
  EXPECT_EQ(status_member(status(), "active"), "0");
}

// A host that unloads the library without stopping its run must not crash:
// the worker keeps the module mapped, and loading it again reaches the run.
TEST_F(Dll, UnloadDuringARunKeepsTheModuleForTheWorker) {
  ASSERT_EQ(mj.start("{\"interval_s\":1,\"only_when_idle\":false}"), 1);
  HMODULE first = mj.module.get();
  mj.module.reset();
  ASSERT_EQ(GetModuleHandleA(k_dll_name), first);
  Sleep(1400);  // the worker nudges in the meantime
  mj.module.reset(LoadLibraryA(k_dll_name));
  ASSERT_EQ(mj.module.get(), first);
  std::string line = status();
  EXPECT_EQ(status_member(line, "active"), "1");
  EXPECT_GE(status_num(line, "nudges"), 1);
  // TearDown stops the run; the worker's reference goes with it and the
  // host's last FreeLibrary unloads the module.
}

TEST_F(Dll, StatusLinesAreJsonWith19MembersInOrder) {
  std::vector<std::string> lines;
  lines.push_back(status());
  ASSERT_EQ(mj.start("{\"mode\":\"move\",\"interval_s\":1,\"only_when_idle\":0,\"dx\":-2}"), 1);
  lines.push_back(status());
  Sleep(1400);
  lines.push_back(status());
  mj.stop();
  lines.push_back(status());
  mj.nudge_now("{\"dry_run\":1}");
  lines.push_back(status());
  for (const std::string &line : lines) {
    std::vector<std::string> got;
    ASSERT_TRUE(json_is_flat_object(line, &got)) << line;
    ASSERT_EQ(got.size(), 19u) << line;
    for (size_t i = 0; i < 19; i++) EXPECT_EQ(got[i], k_status_keys[i]) << line;
    EXPECT_LT(line.size(), 500u);
  }
  EXPECT_EQ(status_member(lines[2], "nudges"), "1");
  EXPECT_EQ(status_member(lines[1], "next_nudge_in_s"), "1");
}

}  // namespace
