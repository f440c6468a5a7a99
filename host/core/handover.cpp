#include "handover.h"

#include "protocol.h"

mjh_answer mjh_answer_of_reply(std::string_view line) {
  mjh_reply reply;
  if (!mjh_reply_read(line.data(), line.size(), &reply)) return MJH_ANSWER_UNREADABLE;
  if (reply.ok) return MJH_ANSWER_OK;
  return std::string_view(reply.error) == mjh_shutting_down ? MJH_ANSWER_SHUTTING_DOWN : MJH_ANSWER_REFUSED;
}

mjh_start_step mjh_start_next(mjh_answer answer, const mjh_server_seen &server, int launches) {
  const bool may_launch = launches < MJH_START_LAUNCHES_MAX;
  switch (answer) {
    case MJH_ANSWER_OK:
    case MJH_ANSWER_REFUSED:
    case MJH_ANSWER_UNREADABLE:
      return MJH_START_REPLIED;
    case MJH_ANSWER_NO_PIPE:
      return may_launch ? MJH_START_LAUNCH : MJH_START_FAILED;
    case MJH_ANSWER_SHUTTING_DOWN:
    case MJH_ANSWER_CLOSED:
      // Only an agent ends and gives its place up; another program that
      // hangs up on the agent's pipe keeps it.
      if (server.known && !server.agent_program) return MJH_START_HELD;
      if (server.known && may_launch) return MJH_START_AFTER_END;
      return answer == MJH_ANSWER_SHUTTING_DOWN ? MJH_START_REPLIED : MJH_START_FAILED;
    case MJH_ANSWER_UNTRUSTED:
    case MJH_ANSWER_FAILED:
      break;
  }
  return MJH_START_FAILED;
}

mjh_handover_step mjh_handover_next(mjh_answer holder, bool time_left) {
  if (holder == MJH_ANSWER_OK) return MJH_HANDOVER_LEAVE;
  // A process of another user, or below this one, keeps the name for good.
  if (holder == MJH_ANSWER_UNTRUSTED) return MJH_HANDOVER_HELD;
  return time_left ? MJH_HANDOVER_WAIT : MJH_HANDOVER_HELD;
}

void mjh_place_held_text(unsigned long holder_pid, mjh_text &out) {
  out.add("Veltrano Mouse Jiggler cannot start: another process");
  if (holder_pid) out.add(" (pid ", holder_pid, ')');
  out.add(" holds its place in this session (its control pipe) and does not answer as the agent does.");
}
