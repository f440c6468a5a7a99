# The README shows mjctl's usage text as `mjctl --help` prints it.
#   -DMJCTL= -DREADME= -DEMULATOR=
execute_process(COMMAND ${EMULATOR} ${MJCTL} --help RESULT_VARIABLE rc OUTPUT_VARIABLE usage)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "mjctl --help exited with ${rc}")
endif()
string(REPLACE "\r" "" usage "${usage}")
file(READ ${README} readme)
string(FIND "${readme}" "```\n${usage}```" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show this usage text of mjctl --help:\n${usage}")
endif()
