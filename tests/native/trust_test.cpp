// Whom a client of the agent's pipe trusts, and when a host runs above the
// desktop's user: the decisions over what Windows says of two tokens, every
// combination of user and level both ways.
#include "trust.h"

#include <string>

#include "gtest/gtest.h"

namespace {

const int k_levels[] = {MJH_LEVEL_LOW, MJH_LEVEL_MEDIUM, MJH_LEVEL_HIGH, MJH_LEVEL_SYSTEM};

std::string level_name(int level) {
  mjh_text_buffer<32> out;
  mjh_level_text(level, out);
  return out.c_str();
}

// Same user: trusted at the client's level or above, never below.
TEST(Trust, SameUserAtEveryPairOfLevels) {
  for (int server : k_levels)
    for (int client : k_levels) {
      mjh_trust t = mjh_server_trust({true, true, server}, client);
      EXPECT_EQ(t, server >= client ? MJH_TRUSTED : MJH_TRUST_LOWER_LEVEL)
          << "server " << level_name(server) << ", client " << level_name(client);
    }
}

// Another user: never, at any level, a higher one included.
TEST(Trust, AnotherUserAtEveryPairOfLevels) {
  for (int server : k_levels)
    for (int client : k_levels)
      EXPECT_EQ(mjh_server_trust({true, false, server}, client), MJH_TRUST_OTHER_USER)
          << "server " << level_name(server) << ", client " << level_name(client);
}

// What cannot be read is not trusted: a token that does not open (an
// elevated server seen from a medium client), a level that does not read, or
// this process's own level.
TEST(Trust, UnreadableIsNotTrusted) {
  struct {
    mjh_server_token server;
    int own;
  } cases[] = {
      {{false, false, MJH_LEVEL_UNKNOWN}, MJH_LEVEL_MEDIUM},
      {{false, true, MJH_LEVEL_HIGH}, MJH_LEVEL_MEDIUM},  // "read" false wins over the rest
      {{true, true, MJH_LEVEL_UNKNOWN}, MJH_LEVEL_LOW},
      {{true, true, MJH_LEVEL_SYSTEM}, MJH_LEVEL_UNKNOWN},
  };
  for (const auto &c : cases)
    EXPECT_EQ(mjh_server_trust(c.server, c.own), MJH_TRUST_UNREADABLE) << c.server.level << " " << c.own;
}

TEST(Trust, LevelsBetweenTheNamedOnesCompareByNumber) {
  EXPECT_EQ(mjh_server_trust({true, true, MJH_LEVEL_MEDIUM_PLUS}, MJH_LEVEL_MEDIUM), MJH_TRUSTED);
  EXPECT_EQ(mjh_server_trust({true, true, MJH_LEVEL_MEDIUM}, MJH_LEVEL_MEDIUM_PLUS), MJH_TRUST_LOWER_LEVEL);
  EXPECT_EQ(mjh_server_trust({true, true, 0x2fff}, MJH_LEVEL_HIGH), MJH_TRUST_LOWER_LEVEL);
}

// Asked to quit and ended: what the pipe's rule trusts, and the agent's own
// program of this install at a lower level; never another user's process,
// one not read, nor a lower one that runs something else.
TEST(Trust, QuitTargets) {
  struct {
    mjh_server_token server;
    int own;
    bool runs_our_agent, trusted;
  } cases[] = {
      {{true, true, MJH_LEVEL_MEDIUM}, MJH_LEVEL_MEDIUM, false, true},
      {{true, true, MJH_LEVEL_HIGH}, MJH_LEVEL_MEDIUM, false, true},
      {{true, true, MJH_LEVEL_MEDIUM}, MJH_LEVEL_HIGH, true, true},  // an elevated installer step
      {{true, true, MJH_LEVEL_MEDIUM}, MJH_LEVEL_HIGH, false, false},
      {{true, true, MJH_LEVEL_LOW}, MJH_LEVEL_HIGH, true, true},
      {{true, false, MJH_LEVEL_MEDIUM}, MJH_LEVEL_MEDIUM, true, false},
      {{true, false, MJH_LEVEL_SYSTEM}, MJH_LEVEL_MEDIUM, true, false},
      {{false, true, MJH_LEVEL_UNKNOWN}, MJH_LEVEL_HIGH, true, false},
      {{true, true, MJH_LEVEL_MEDIUM}, MJH_LEVEL_UNKNOWN, true, false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(mjh_quit_target_trusted(c.server, c.own, c.runs_our_agent), c.trusted)
        << level_name(c.server.level) << " server of " << (c.server.same_user ? "this" : "another") << " user, "
        << level_name(c.own) << " client, our agent: " << c.runs_our_agent;
}

TEST(Trust, WhyATextFollowsTheProcess) {
  struct {
    mjh_trust trust;
    int server, own;
    const char *text;
  } cases[] = {
      {MJH_TRUST_OTHER_USER, MJH_LEVEL_HIGH, MJH_LEVEL_MEDIUM, "which does not run as this user"},
      {MJH_TRUST_LOWER_LEVEL, MJH_LEVEL_LOW, MJH_LEVEL_MEDIUM,
       "which runs at a lower integrity level (low) than this process (medium)"},
      {MJH_TRUST_LOWER_LEVEL, MJH_LEVEL_MEDIUM, MJH_LEVEL_HIGH,
       "which runs at a lower integrity level (medium) than this process (high)"},
      {MJH_TRUST_LOWER_LEVEL, 0x2345, MJH_LEVEL_SYSTEM,
       "which runs at a lower integrity level (0x2345) than this process (system)"},
      {MJH_TRUST_UNREADABLE, MJH_LEVEL_UNKNOWN, MJH_LEVEL_MEDIUM, "whose user and integrity level cannot be read"},
      {MJH_TRUST_UNREADABLE, MJH_LEVEL_HIGH, MJH_LEVEL_UNKNOWN, "and this process cannot read its own integrity level"},
  };
  for (const auto &c : cases) {
    mjh_text_buffer<160> out;
    mjh_trust_text(c.trust, c.server, c.own, out);
    EXPECT_STREQ(out.c_str(), c.text);
  }
  EXPECT_EQ(level_name(MJH_LEVEL_UNTRUSTED), "untrusted");
  EXPECT_EQ(level_name(MJH_LEVEL_MEDIUM_PLUS), "medium plus");
  EXPECT_EQ(level_name(MJH_LEVEL_UNKNOWN), "unknown");
}

// A host that would start the agent: above the desktop when its level is
// above the shell's; with no shell (or no level of its own) to compare, when
// its token is the elevated half of a split one. Under Wine every process,
// the shell too, is elevated at high: not above.
struct elevation_case {
  const char *what;
  mjh_elevation e;
  bool above;
};

const elevation_case k_elevation_cases[] = {
    {"UAC: an elevated console, the shell at medium", {MJH_LEVEL_HIGH, true, MJH_LEVEL_MEDIUM}, true},
    {"UAC: a normal console", {MJH_LEVEL_MEDIUM, false, MJH_LEVEL_MEDIUM}, false},
    {"UAC off: everything elevated alike", {MJH_LEVEL_HIGH, false, MJH_LEVEL_HIGH}, false},
    {"Wine: elevated split token, the shell elevated too", {MJH_LEVEL_HIGH, true, MJH_LEVEL_HIGH}, false},
    {"a service as SYSTEM on a user's desktop", {MJH_LEVEL_SYSTEM, false, MJH_LEVEL_MEDIUM}, true},
    {"a low process under a medium shell", {MJH_LEVEL_LOW, false, MJH_LEVEL_MEDIUM}, false},
    {"an elevated shell, a normal console", {MJH_LEVEL_MEDIUM, false, MJH_LEVEL_HIGH}, false},
    {"no shell: an elevated split token", {MJH_LEVEL_HIGH, true, MJH_LEVEL_UNKNOWN}, true},
    {"no shell: a plain token", {MJH_LEVEL_HIGH, false, MJH_LEVEL_UNKNOWN}, false},
    {"own level unread: the split token decides", {MJH_LEVEL_UNKNOWN, true, MJH_LEVEL_MEDIUM}, true},
    {"nothing read", {MJH_LEVEL_UNKNOWN, false, MJH_LEVEL_UNKNOWN}, false},
};

class Elevation : public ::testing::TestWithParam<elevation_case> {};

TEST_P(Elevation, AboveTheDesktop) {
  const elevation_case &c = GetParam();
  EXPECT_EQ(mjh_runs_above_desktop(c.e), c.above) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Table, Elevation, ::testing::ValuesIn(k_elevation_cases));

}  // namespace
