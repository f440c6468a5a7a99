# Installs the project into a fresh prefix, builds this folder's host project
# against the installed tree alone (copied away from the source tree, with the
# strict C99 warnings as errors), runs the host under Wine and reads its
# output. Also checks that the README shows host.c as it is.
#   -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DGENERATOR= -DEMULATOR=
file(REMOVE_RECURSE ${WORK_DIR})
set(stage ${WORK_DIR}/installed)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
endfunction()

run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage})

# The host project and the toolchain, away from this project's trees.
file(COPY ${SOURCE_DIR}/tests/consumer/CMakeLists.txt ${SOURCE_DIR}/tests/consumer/host.c
     ${SOURCE_DIR}/cmake/mingw-w64.cmake DESTINATION ${WORK_DIR}/host)
# The README's route: CMAKE_PREFIX_PATH names the installed tree (or the
# unzipped bundle), with the project's own toolchain file.
run("configuring the host project" ${CMAKE_COMMAND} -S ${WORK_DIR}/host -B ${WORK_DIR}/host-build -G ${GENERATOR}
  -DCMAKE_TOOLCHAIN_FILE=${WORK_DIR}/host/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_PREFIX_PATH=${stage}
  "-DCMAKE_C_FLAGS=-std=c99 -Wall -Wextra -Wpedantic -Werror")
run("building the host project" ${CMAKE_COMMAND} --build ${WORK_DIR}/host-build)
# The other route: the package's folder itself.
run("configuring the host project with veltrano_mouse_jiggler_DIR" ${CMAKE_COMMAND} -S ${WORK_DIR}/host
  -B ${WORK_DIR}/host-build-dir -G ${GENERATOR} -DCMAKE_TOOLCHAIN_FILE=${WORK_DIR}/host/mingw-w64.cmake
  -Dveltrano_mouse_jiggler_DIR=${stage}/lib/cmake/veltrano_mouse_jiggler)

file(READ ${WORK_DIR}/host-build/build.ninja ninja)
string(REPLACE "${WORK_DIR}/" "" ninja "${ninja}")
foreach(tree ${SOURCE_DIR} ${BUILD_DIR})
  string(FIND "${ninja}" "${tree}/" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the host project's build uses ${tree}, not only the installed tree")
  endif()
endforeach()

execute_process(COMMAND ${EMULATOR} mj_host.exe WORKING_DIRECTORY ${WORK_DIR}/host-build
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r" "" out "${out}")
message(STATUS "mj_host.exe (exit ${rc}):\n${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "mj_host.exe exited with ${rc}")
endif()
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE "\n" ";" lines "${out}")
list(LENGTH lines count)
if(NOT count EQUAL 4)
  message(FATAL_ERROR "mj_host.exe printed ${count} lines, wanted 4")
endif()
list(GET lines 0 version_line)
list(GET lines 1 rejected_line)
list(GET lines 2 running_line)
list(GET lines 3 stopped_line)
if(NOT version_line MATCHES "^veltrano-mouse-jiggler 1\\.0\\.0, user idle for [0-9]+ ms$")
  message(FATAL_ERROR "first line: ${version_line}")
endif()
if(NOT rejected_line STREQUAL "rejected: mode must be \"zen\" or \"move\"")
  message(FATAL_ERROR "second line: ${rejected_line}")
endif()
if(NOT running_line MATCHES "^{\"active\":1,\"mode\":\"zen\",\"interval_s\":1,.*\"only_when_idle\":0,")
  message(FATAL_ERROR "third line is not the status of the zen run: ${running_line}")
endif()
if(NOT stopped_line MATCHES "^{\"active\":0,\"mode\":\"zen\",\"interval_s\":1,")
  message(FATAL_ERROR "fourth line is not the status of the stopped run: ${stopped_line}")
endif()

# The README's plain compiler route, in the unzipped tree: the program runs
# once the DLL is copied beside it.
file(MAKE_DIRECTORY ${WORK_DIR}/plain)
run("the plain compiler route" x86_64-w64-mingw32-gcc ${WORK_DIR}/host/host.c -I${stage}/include
  ${stage}/lib/veltrano-mouse-jiggler.dll.a -o ${WORK_DIR}/plain/host.exe)
execute_process(COMMAND ${EMULATOR} host.exe WORKING_DIRECTORY ${WORK_DIR}/plain
  RESULT_VARIABLE rc OUTPUT_VARIABLE plain_out ERROR_QUIET)
if(rc EQUAL 0 OR NOT plain_out STREQUAL "")
  message(FATAL_ERROR "without its DLL host.exe exited with ${rc} and printed: ${plain_out}")
endif()
file(COPY_FILE ${stage}/bin/veltrano-mouse-jiggler.dll ${WORK_DIR}/plain/veltrano-mouse-jiggler.dll)
execute_process(COMMAND ${EMULATOR} host.exe WORKING_DIRECTORY ${WORK_DIR}/plain
  RESULT_VARIABLE rc OUTPUT_VARIABLE plain_out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT plain_out MATCHES "^veltrano-mouse-jiggler 1\\.0\\.0, user idle for")
  message(FATAL_ERROR "the plain compiler's host.exe (exit ${rc}) printed:\n${plain_out}${err}")
endif()

file(READ ${SOURCE_DIR}/tests/consumer/host.c host_source)
file(READ ${SOURCE_DIR}/README.md readme)
string(FIND "${readme}" "```c\n${host_source}```" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show tests/consumer/host.c as it is, in a ```c block")
endif()
