# mjctl start after the desktop's shell has ended. Under Wine the shell
# (explorer.exe) ends a moment after the last program left the desktop, and
# the next program that asks for the desktop's window brings it back. mjctl
# asks the shell whether its console runs above the desktop's user: with no
# shell it would take a console whose token reads as elevated (every one,
# under Wine) for an administrator's and start no agent.
#   -DEMULATOR= -DMJCTL= -DWORK_DIR=
file(MAKE_DIRECTORY ${WORK_DIR})

# mjctl with its arguments; its exit code and error text. Its output goes to
# files: the agent it starts inherits them.
function(mjctl rc_var err_var)
  execute_process(COMMAND ${EMULATOR} ${MJCTL} ${ARGN} TIMEOUT 120 RESULT_VARIABLE rc
    OUTPUT_FILE ${WORK_DIR}/mjctl.out ERROR_FILE ${WORK_DIR}/mjctl.err)
  file(READ ${WORK_DIR}/mjctl.err err)
  set(${rc_var} "${rc}" PARENT_SCOPE)
  set(${err_var} "${err}" PARENT_SCOPE)
endfunction()

mjctl(rc err quit --wait --quiet)
# Waits up to 30 s until no explorer.exe of this prefix runs: nothing else
# uses the desktop now.
execute_process(COMMAND sh -c
  "prefix=\"\${WINEPREFIX:-\$HOME/.wine-mouse-jiggler}\"
   for i in $(seq 1 300); do
     shell=''
     for p in $(pgrep -f 'explorer[.]exe' || true); do
       tr '\\0' '\\n' 2>/dev/null </proc/$p/environ | grep -qxF \"WINEPREFIX=$prefix\" && shell=$p
     done
     [ -z \"$shell\" ] && exit 0
     sleep 0.1
   done
   exit 1"
  RESULT_VARIABLE gone)
if(NOT gone EQUAL 0)
  message(FATAL_ERROR "the desktop's shell did not end within 30 s with nothing on the desktop")
endif()

mjctl(rc err start --dry-run)
mjctl(quit_rc quit_err quit --wait --quiet)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "mjctl start with the desktop's shell ended exited with ${rc}: ${err}")
endif()
