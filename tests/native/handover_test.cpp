// Who is the agent of a session, and what a start does when it meets one
// that is ending: the decisions as tables, over what a host learns by asking.
#include "handover.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol.h"

namespace {

TEST(Handover, RepliesReadAsAnswers) {
  mjh_text_buffer<256> shutting_down;
  mjh_reply_error(mjh_shutting_down, shutting_down);
  const struct {
    std::string line;
    mjh_answer answer;
  } cases[] = {
      {"{\"ok\":true}", MJH_ANSWER_OK},
      {"{\"ok\":true}\n", MJH_ANSWER_OK},
      {shutting_down.c_str(), MJH_ANSWER_SHUTTING_DOWN},
      {"{\"ok\":false,\"error\":\"the agent is busy (its menu is open); try again\"}", MJH_ANSWER_REFUSED},
      {"{\"ok\":false,\"error\":\"the agent is shutting down.\"}", MJH_ANSWER_REFUSED},
      {"{\"ok\":false,\"error\":\"the agent is shutting\"}", MJH_ANSWER_REFUSED},
      {"", MJH_ANSWER_UNREADABLE},
      {"{\"ok\":tr", MJH_ANSWER_UNREADABLE},
      {"hello", MJH_ANSWER_UNREADABLE},
  };
  for (const auto &c : cases) EXPECT_EQ(mjh_answer_of_reply(c.line), c.answer) << c.line;
}

TEST(Handover, AStartWaitsForAnEndingAgentAndLaunchesAnother) {
  const mjh_server_seen none = {false, false}, agent = {true, true}, other = {true, false};
  const int last = MJH_START_LAUNCHES_MAX - 1, spent = MJH_START_LAUNCHES_MAX;
  const struct {
    mjh_answer answer;
    mjh_server_seen server;
    int launches;
    mjh_start_step step;
  } cases[] = {
      {MJH_ANSWER_OK, agent, 0, MJH_START_REPLIED},
      {MJH_ANSWER_REFUSED, agent, 0, MJH_START_REPLIED},
      {MJH_ANSWER_REFUSED, other, 0, MJH_START_REPLIED},
      {MJH_ANSWER_UNREADABLE, agent, 0, MJH_START_REPLIED},  // told as any reply
      {MJH_ANSWER_NO_PIPE, none, 0, MJH_START_LAUNCH},
      {MJH_ANSWER_NO_PIPE, none, last, MJH_START_LAUNCH},
      {MJH_ANSWER_NO_PIPE, none, spent, MJH_START_FAILED},
      // An agent that is ending: its process is waited for, then another starts.
      {MJH_ANSWER_SHUTTING_DOWN, agent, 0, MJH_START_AFTER_END},
      {MJH_ANSWER_CLOSED, agent, 0, MJH_START_AFTER_END},
      {MJH_ANSWER_CLOSED, agent, last, MJH_START_AFTER_END},
      // Agents that keep ending are not followed for ever.
      {MJH_ANSWER_SHUTTING_DOWN, agent, spent, MJH_START_REPLIED},
      {MJH_ANSWER_CLOSED, agent, spent, MJH_START_FAILED},
      // Another program on the agent's pipe keeps the place: no wait for it.
      {MJH_ANSWER_SHUTTING_DOWN, other, 0, MJH_START_HELD},
      {MJH_ANSWER_CLOSED, other, 0, MJH_START_HELD},
      {MJH_ANSWER_CLOSED, none, 0, MJH_START_FAILED},
      {MJH_ANSWER_UNTRUSTED, none, 0, MJH_START_FAILED},
      {MJH_ANSWER_FAILED, agent, 0, MJH_START_FAILED},
      {MJH_ANSWER_FAILED, none, 0, MJH_START_FAILED},
  };
  for (const auto &c : cases)
    EXPECT_EQ(mjh_start_next(c.answer, c.server, c.launches), c.step)
        << "answer " << c.answer << ", known " << c.server.known << ", agent " << c.server.agent_program
        << ", launches " << c.launches;
}

TEST(Handover, ANewAgentLeavesALiveOneWaitsForAnEndingOneAndNamesAHolder) {
  const struct {
    mjh_answer holder;
    bool time_left;
    mjh_handover_step step;
  } cases[] = {
      {MJH_ANSWER_OK, true, MJH_HANDOVER_LEAVE},
      {MJH_ANSWER_OK, false, MJH_HANDOVER_LEAVE},
      {MJH_ANSWER_SHUTTING_DOWN, true, MJH_HANDOVER_WAIT},
      {MJH_ANSWER_CLOSED, true, MJH_HANDOVER_WAIT},
      {MJH_ANSWER_NO_PIPE, true, MJH_HANDOVER_WAIT},  // gone between the claim and the call
      {MJH_ANSWER_FAILED, true, MJH_HANDOVER_WAIT},   // busy: starting, or serving others
      {MJH_ANSWER_REFUSED, true, MJH_HANDOVER_WAIT},
      {MJH_ANSWER_UNREADABLE, true, MJH_HANDOVER_WAIT},
      {MJH_ANSWER_SHUTTING_DOWN, false, MJH_HANDOVER_HELD},
      {MJH_ANSWER_FAILED, false, MJH_HANDOVER_HELD},
      {MJH_ANSWER_UNTRUSTED, true, MJH_HANDOVER_HELD},
  };
  for (const auto &c : cases)
    EXPECT_EQ(mjh_handover_next(c.holder, c.time_left), c.step) << "holder " << c.holder << ", time " << c.time_left;
}

TEST(Handover, WhatAnAgentWhosePlaceIsHeldSays) {
  mjh_text_buffer<256> held, unknown;
  mjh_place_held_text(1234, held);
  EXPECT_EQ(held.view(),
            "Veltrano Mouse Jiggler cannot start: another process (pid 1234) holds its place in this session (its "
            "control pipe) and does not answer as the agent does.");
  mjh_place_held_text(0, unknown);
  EXPECT_EQ(unknown.view().find("pid"), std::string::npos) << unknown.c_str();
}

}  // namespace
