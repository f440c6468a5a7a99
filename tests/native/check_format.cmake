# Every C and C++ source of the project as clang-format writes it (the style of
# .clang-format); names each file that differs.
#   cmake -DSOURCE_DIR=... -DCLANG_FORMAT=... -P check_format.cmake
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/include/*.h
  ${SOURCE_DIR}/host/*.cpp ${SOURCE_DIR}/host/*.h ${SOURCE_DIR}/tools/*.cpp ${SOURCE_DIR}/tools/*.h
  ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h ${SOURCE_DIR}/tests/*.c
  ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/bench/*.h ${SOURCE_DIR}/bench/*.c)
list(LENGTH sources count)
if(count LESS 20)
  message(FATAL_ERROR "found only ${count} sources under ${SOURCE_DIR}")
endif()
set(unformatted "")
foreach(source IN LISTS sources)
  execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${source}
    WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    list(APPEND unformatted ${source})
  endif()
endforeach()
if(unformatted)
  list(JOIN unformatted "\n  " names)
  message(FATAL_ERROR "not formatted with clang-format (run clang-format -i on them):\n  ${names}")
endif()
message(STATUS "${count} sources formatted")
