# mjctl start when Wine ends the new agent's process before it has started:
# the start is tried again, and a failure that stays is named. Under Debian's
# Wine the loader's heap now and then takes the page of Windows' shared user
# data (about one start in a few thousand); shared_data_taken.so, preloaded,
# does the same on purpose in the first processes of mjtray.exe.
#   -DEMULATOR= -DMJCTL= -DPRELOAD= -DWORK_DIR=
file(MAKE_DIRECTORY ${WORK_DIR})
set(count_file ${WORK_DIR}/starts_to_fail)

# mjctl with its arguments, the first `fail` starts of mjtray.exe failing; its
# exit code, its error text and the failures left. Its output goes to files:
# the agent it starts inherits them.
function(mjctl fail)
  file(WRITE ${count_file} "${fail}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_PRELOAD=${PRELOAD} MJ_TAKE_PROGRAM=mjtray.exe
      MJ_TAKE_COUNT=${count_file} ${EMULATOR} ${MJCTL} ${ARGN}
    TIMEOUT 120 RESULT_VARIABLE rc OUTPUT_FILE ${WORK_DIR}/mjctl.out ERROR_FILE ${WORK_DIR}/mjctl.err)
  file(READ ${WORK_DIR}/mjctl.err err)
  file(STRINGS ${count_file} left)
  set(rc "${rc}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(left "${left}" PARENT_SCOPE)
endfunction()

mjctl(0 quit --wait --quiet)

# Two starts fail: the third works.
mjctl(2 start --dry-run)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "" OR NOT left EQUAL 0)
  message(FATAL_ERROR "mjctl start, its first two starts of the agent failing, exited with ${rc} "
                      "(${left} failures unused): ${err}")
endif()
mjctl(0 quit --wait --quiet)

# Every start fails: four tries, then the error.
mjctl(10 start --dry-run)
if(NOT rc EQUAL 1 OR NOT err MATCHES "cannot start the agent .*mjtray.exe \\(error 1359, the same after 4 tries\\)"
   OR NOT left EQUAL 6)
  message(FATAL_ERROR "mjctl start, every start of the agent failing, exited with ${rc} "
                      "after ${left} of 10 failures left: ${err}")
endif()
mjctl(0 quit --wait --quiet)
