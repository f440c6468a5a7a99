// The watch of listed programs under Wine, with copies of a small program of
// the build started and ended under listed names and others. Times are
// bounded generously (a busy machine must not fail them) and printed; the
// benchmark measures them.
#include "process_watch.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "gtest/gtest.h"
#include "process_counters.h"
#include "sleepers.h"

namespace {

const UINT k_changed = WM_APP + 7;

// Generous bounds: a start is seen within a look (about 4 s), an exit at once.
const DWORD k_start_bound_ms = 15000, k_exit_bound_ms = 5000;

class Watch : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    std::string tag = std::to_string(GetCurrentProcessId());
    listed_ = "mjw" + tag + "listed.exe";
    listed_path_ = folder_.copy(listed_);
    other_path_ = folder_.copy("mjw" + tag + "other.exe");
    ASSERT_NE(listed_path_, "");
    ASSERT_NE(other_path_, "");
    ASSERT_TRUE(watch_.start(window_, k_changed)) << GetLastError();
  }
  void TearDown() override {
    watch_.stop();
    DestroyWindow(window_);
  }

  mjh_programs list_of(const std::string &names) {
    mjh_programs p;
    mjh_text_buffer<256> err;
    EXPECT_TRUE(mjh_programs_parse(names, &p, &err)) << err.c_str();
    return p;
  }

  // Takes this thread's messages for up to ms: the milliseconds until the
  // watch told of a change, or -1.
  long wait_change(DWORD ms) {
    ULONGLONG start = GetTickCount64(), deadline = start + ms;
    for (;;) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == k_changed) return static_cast<long>(GetTickCount64() - start);
        DispatchMessageA(&msg);
      }
      ULONGLONG now = GetTickCount64();
      if (now >= deadline) return -1;
      MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
  }

  // Takes the messages waiting; the number of changes told among them.
  int drain() {
    int n = 0;
    while (wait_change(0) >= 0) n++;
    return n;
  }

  // Takes this thread's messages until done() holds, for up to ms; the
  // milliseconds it took, or -1.
  long wait_until(const std::function<bool()> &done, DWORD ms) {
    ULONGLONG start = GetTickCount64();
    while (!done()) {
      if (GetTickCount64() - start >= ms) return -1;
      wait_change(100);
    }
    return static_cast<long>(GetTickCount64() - start);
  }

  // Waits until the watch has looked n more times (bounded), telling
  // whether it posted a change meanwhile.
  bool changed_over_looks(unsigned long n) {
    unsigned long target = watch_.looks() + n;
    bool changed = false;
    ULONGLONG deadline = GetTickCount64() + n * (MJW_PROCESS_POLL_MS + 5000);
    while (watch_.looks() < target && GetTickCount64() < deadline) changed |= wait_change(200) >= 0;
    EXPECT_GE(watch_.looks(), target) << "the watch did not look again";
    return changed;
  }

  sleeper_folder folder_;
  HWND window_ = nullptr;
  mjw_process_watch watch_;
  std::string listed_, listed_path_, other_path_;
};

TEST_F(Watch, NothingWhileNoListedProgramRunsAndOtherNamesDoNotCount) {
  sleeper other(other_path_);
  ASSERT_TRUE(other.started());
  watch_.watch(list_of(listed_), false);
  EXPECT_EQ(watch_.state().running, 0u);
  EXPECT_FALSE(changed_over_looks(2));
  EXPECT_EQ(watch_.state().running, 0u);
  EXPECT_EQ(watch_.state().foreground, -1);
}

TEST_F(Watch, AStartIsSeenWithinALookAndAnExitAtOnce) {
  // Listed as a person may type it: another case, without ".exe".
  std::string typed = listed_.substr(0, listed_.size() - 4);
  for (char &c : typed) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  watch_.watch(list_of("robocopy.exe," + typed), false);
  ASSERT_EQ(watch_.state().running, 0u);

  sleeper listed(listed_path_);
  ASSERT_TRUE(listed.started());
  long seen = wait_change(k_start_bound_ms);
  ASSERT_GE(seen, 0) << "the start was not seen";
  EXPECT_EQ(watch_.state().running, 2u);

  listed.end();
  ASSERT_TRUE(listed.ended(10000));
  long gone = wait_change(k_exit_bound_ms);
  ASSERT_GE(gone, 0) << "the exit was not seen";
  EXPECT_EQ(watch_.state().running, 0u);
  std::printf("start seen after %ld ms, exit after %ld ms (a look every %d ms)\n", seen, gone, MJW_PROCESS_POLL_MS);
}

TEST_F(Watch, ASecondCopyKeepsTheProgramRunning) {
  watch_.watch(list_of(listed_), false);
  sleeper first(listed_path_);
  ASSERT_TRUE(first.started());
  ASSERT_GE(wait_change(k_start_bound_ms), 0);
  sleeper second(listed_path_);
  ASSERT_TRUE(second.started());
  EXPECT_FALSE(changed_over_looks(1)) << "one running became one running";

  first.end();
  ASSERT_TRUE(first.ended(10000));
  EXPECT_LT(wait_change(2000), 0) << "the other copy still runs";
  EXPECT_EQ(watch_.state().running, 1u);

  second.kill();  // ended from outside this time
  ASSERT_TRUE(second.ended(10000));
  EXPECT_GE(wait_change(k_exit_bound_ms), 0);
  EXPECT_EQ(watch_.state().running, 0u);
}

TEST_F(Watch, ProgramsAlreadyRunningAreKnownWhenWatchReturns) {
  sleeper listed(listed_path_), other(other_path_);
  ASSERT_TRUE(listed.started());
  ASSERT_TRUE(other.started());
  std::string other_name = other_path_.substr(other_path_.find_last_of('\\') + 1);

  watch_.watch(list_of(listed_), false);
  EXPECT_EQ(watch_.state().running, 1u);
  watch_.watch(list_of("mstsc.exe," + other_name + "," + listed_), false);
  EXPECT_EQ(watch_.state().running, 6u);
  watch_.watch(list_of("mstsc.exe"), false);
  EXPECT_EQ(watch_.state().running, 0u);
  watch_.watch(list_of("any"), false);
  EXPECT_EQ(watch_.state().running, 0u);
}

TEST_F(Watch, AnEmptyListNeitherLooksNorTells) {
  sleeper listed(listed_path_);
  ASSERT_TRUE(listed.started());
  watch_.watch(list_of(listed_), false);
  ASSERT_EQ(watch_.state().running, 1u);
  watch_.watch(list_of("any"), false);
  EXPECT_EQ(drain(), 2) << "running, then none";
  unsigned long looks = watch_.looks();
  EXPECT_LT(wait_change(MJW_PROCESS_POLL_MS + 1500), 0);
  EXPECT_EQ(watch_.looks(), looks);
  EXPECT_EQ(watch_.state().running, 0u);
}

// A window of this test takes the foreground, and says so as Windows would
// (Wine does not tell hooks of the foreground's change). On a busy machine
// the X server's focus events reach Wine's programs late, and a late one for
// the window that had the foreground hands it back: the window asks again,
// taking its messages, until the foreground has stayed its own for half a
// second, and only then says so.
HWND take_foreground() {
  HWND mine = CreateWindowExA(0, "STATIC", "test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 10, 200, 100, nullptr,
                              nullptr, nullptr, nullptr);
  if (!mine) return nullptr;
  ULONGLONG ours_since = 0;
  for (ULONGLONG deadline = GetTickCount64() + 10000; GetTickCount64() < deadline; Sleep(50)) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (GetForegroundWindow() != mine) {
      SetForegroundWindow(mine);
      ours_since = 0;
    } else if (!ours_since) {
      ours_since = GetTickCount64();
    } else if (GetTickCount64() - ours_since >= 500) {
      break;
    }
  }
  NotifyWinEvent(EVENT_SYSTEM_FOREGROUND, mine, OBJID_WINDOW, CHILDID_SELF);
  return mine;
}

TEST_F(Watch, TheForegroundOwnerWhenAskedFor) {
  watch_.watch(list_of("mstsc.exe," + listed_), true);
  EXPECT_EQ(watch_.state().foreground, -1);
  sleeper listed(listed_path_, true);
  ASSERT_TRUE(listed.started());
  long took = wait_until([&] { return watch_.state().foreground == 1; }, k_start_bound_ms);
  DWORD owner = 0;
  GetWindowThreadProcessId(GetForegroundWindow(), &owner);
  ASSERT_GE(took, 0) << "its window in the foreground was not seen; running " << watch_.state().running
                     << "; the foreground window's process " << owner << ", the program's " << listed.pid();
  EXPECT_EQ(watch_.state().running, 2u) << "running as soon as it is in the foreground";
  std::printf("the foreground window of the listed program seen after %ld ms\n", took);

  HWND mine = take_foreground();
  ASSERT_NE(mine, nullptr);
  EXPECT_GE(wait_until([&] { return watch_.state().foreground == -1; }, k_exit_bound_ms), 0)
      << "this test's window in the foreground was not seen; the foreground is "
      << (GetForegroundWindow() == mine ? "this window" : "another window");
  EXPECT_EQ(watch_.state().running, 2u);
  DestroyWindow(mine);

  // Not asked for: never told.
  watch_.watch(list_of("mstsc.exe," + listed_), false);
  EXPECT_EQ(watch_.state().foreground, -1);
}

TEST_F(Watch, TheForegroundOwnerIsKnownWhenWatchReturns) {
  sleeper listed(listed_path_, true);
  ASSERT_TRUE(listed.started());
  DWORD owner = 0;
  for (int i = 0; i < 100 && owner != listed.pid(); i++) {
    Sleep(100);
    GetWindowThreadProcessId(GetForegroundWindow(), &owner);
  }
  ASSERT_EQ(owner, listed.pid()) << "the program's window did not come to the foreground";
  watch_.watch(list_of(listed_), true);
  EXPECT_EQ(watch_.state().foreground, 0);
  EXPECT_EQ(watch_.state().running, 1u);
  watch_.watch(list_of("mstsc.exe"), true);
  EXPECT_EQ(watch_.state().foreground, -1);
  EXPECT_EQ(watch_.state().running, 0u);
}

TEST(WatchLifetime, StopLetsGoOfItsThreadAndEveryHandle) {
  sleeper_folder folder;
  std::string path = folder.copy("mjw" + std::to_string(GetCurrentProcessId()) + "held.exe");
  ASSERT_NE(path, "");
  sleeper a(path), b(path);
  ASSERT_TRUE(a.started());
  ASSERT_TRUE(b.started());
  mjh_programs list;
  ASSERT_TRUE(mjh_programs_parse(path.substr(path.find_last_of('\\') + 1), &list, nullptr));

  process_counters before = take_process_counters();
  for (int round = 0; round < 3; round++) {
    mjw_process_watch watch;
    ASSERT_TRUE(watch.start(nullptr, 0));
    watch.watch(list, true);
    EXPECT_EQ(watch.state().running, 1u);
    watch.stop();
    ASSERT_TRUE(watch.start(nullptr, 0)) << "started again";
    watch.watch(list, false);
    EXPECT_EQ(watch.state().running, 1u);
  }  // the owner's end stops it
  process_counters after = take_process_counters();
  EXPECT_EQ(after.threads, before.threads);
  if (before.handles >= 0) {
    EXPECT_EQ(after.handles, before.handles);
  }
}

// An idle thread is not free (about 1 MiB resident under Wine): the watch
// has one only while a list is given.
TEST(WatchLifetime, AThreadOnlyWhileAListIsWatched) {
  mjh_programs list, none;
  ASSERT_TRUE(mjh_programs_parse("mstsc.exe", &list, nullptr));
  mjh_programs_none(&none);
  long threads = take_process_counters().threads;
  mjw_process_watch watch;
  ASSERT_TRUE(watch.start(nullptr, 0));
  EXPECT_EQ(take_process_counters().threads, threads) << "started, with no list";
  for (int round = 0; round < 2; round++) {
    watch.watch(list, round == 1);
    EXPECT_EQ(take_process_counters().threads, threads + 1) << "watching, round " << round;
    unsigned long looks = watch.looks();
    watch.watch(none, false);
    EXPECT_EQ(take_process_counters().threads, threads) << "the list emptied, round " << round;
    EXPECT_EQ(watch.state().running, 0u);
    EXPECT_GT(looks, 0u);
  }
}

TEST(WatchLifetime, WatchBeforeStartReturnsAtOnce) {
  mjw_process_watch watch;
  mjh_programs list;
  ASSERT_TRUE(mjh_programs_parse("mstsc.exe", &list, nullptr));
  watch.watch(list, false);  // not started: returns at once
  EXPECT_EQ(watch.state().running, 0u);
  EXPECT_EQ(watch.looks(), 0u);
}

}  // namespace
