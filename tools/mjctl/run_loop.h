// mjctl run: the DLL's run in this process until Ctrl+C, --for, --until or
// --while ends it, each nudge, skip or failure told as it comes and the
// countdown to the next one.
#ifndef MJCTL_RUN_LOOP_H
#define MJCTL_RUN_LOOP_H

#include "command_line.h"

namespace mjctl {

int command_run(const mjh_command_line &s);

}  // namespace mjctl

#endif
