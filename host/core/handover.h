// Who is the agent of a user's session, and what a start does when it meets
// an agent that is ending. The agent's place is the first instance of its
// pipe: the pipe's name carries the user's SID and the session, its DACL
// keeps further instances to that user, and the process that holds it is
// the agent; a new one takes the place once the old process has ended and
// the name is free. These are decisions over what a host learned by asking
// whoever serves the pipe. Plain C++ without system headers, tested natively.
#ifndef MJH_HANDOVER_H
#define MJH_HANDOVER_H

#include <string_view>

#include "text.h"

// What came of one request to whoever serves the agent's pipe.
enum mjh_answer {
  MJH_ANSWER_NO_PIPE,        // nobody serves it: no agent runs
  MJH_ANSWER_OK,             // a reply with "ok":true
  MJH_ANSWER_REFUSED,        // a reply with "ok":false, for a reason of its own
  MJH_ANSWER_SHUTTING_DOWN,  // the reply that the agent is shutting down
  MJH_ANSWER_CLOSED,         // connected, then closed without a whole reply
  MJH_ANSWER_UNTRUSTED,      // served by a process the client does not trust: nothing was sent
  MJH_ANSWER_UNREADABLE,     // a reply line that does not read as a reply
  MJH_ANSWER_FAILED          // busy, silent, or the call failed otherwise
};

// The answer of one reply line: OK, REFUSED, SHUTTING_DOWN, or UNREADABLE.
mjh_answer mjh_answer_of_reply(std::string_view line);

// The process that served a call, as far as the client learned it.
struct mjh_server_seen {
  bool known;          // connected: its process is known and can be waited for
  bool agent_program;  // its program is an agent's (mjtray.exe)
};

// What a start does next (launches: the agents it has started so far).
enum mjh_start_step {
  MJH_START_REPLIED,    // the reply stands: the agent took the start, says why not, or is not understood
  MJH_START_LAUNCH,     // no agent runs: start one, then send the start again
  MJH_START_AFTER_END,  // the agent is ending: wait for its process to end, then as LAUNCH
  MJH_START_HELD,       // another program holds the agent's place: no agent can start
  MJH_START_FAILED      // the call failed: say why
};
enum { MJH_START_LAUNCHES_MAX = 3 };  // agents that keep ending are not followed for ever
mjh_start_step mjh_start_next(mjh_answer answer, const mjh_server_seen &server, int launches);

// What a new agent does when the place is taken, after asking its holder.
enum mjh_handover_step {
  MJH_HANDOVER_LEAVE,  // a live agent of this user and session answered: leave it be
  MJH_HANDOVER_WAIT,   // the holder is ending, starting or busy: wait a moment, then try the place again
  MJH_HANDOVER_HELD    // something else holds the place: say so and exit
};
// time_left: the new agent's wait for an ending one has not run out.
mjh_handover_step mjh_handover_next(mjh_answer holder, bool time_left);

// How mjtray ends, for the program that started it.
enum mjh_agent_exit {
  MJH_AGENT_EXIT_DONE = 0,       // it ran and ended, or left a live agent of this user and session be
  MJH_AGENT_EXIT_FAILED = 1,     // it could not set itself up (its window)
  MJH_AGENT_EXIT_USAGE = 2,      // a command line it does not take
  MJH_AGENT_EXIT_NO_PIPE = 3,    // its control pipe could not be created
  MJH_AGENT_EXIT_PLACE_HELD = 4  // another process holds its place in this session
};

// What an agent that cannot take its place says (a message box): the holder
// by its process id when known (0: not known).
void mjh_place_held_text(unsigned long holder_pid, mjh_text &out);

#endif
