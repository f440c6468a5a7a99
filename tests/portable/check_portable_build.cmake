# The release build needs a MinGW-w64 toolchain and CMake alone: configures the
# `release` preset (tests off) with everything the tests use out of reach -
# GoogleTest's sources, Google Benchmark, clang, lld and the llvm tools, wixl.
# PATH holds only CMake, Ninja, the MinGW-w64 tools and the build machine's
# C++ compiler `c++` with its `as` and `ld` (a program of the build machine
# draws mjtray's icon; on MSYS2 that compiler is MinGW-w64's own); CMake's
# system paths are off and MJ_GOOGLETEST_DIR points nowhere. Then builds the
# DLL and both hosts, mjtray with its icon, and zips the bundle.
#   cmake -DSOURCE_DIR= -DWORK_DIR= -P check_portable_build.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(tools ${WORK_DIR}/path)
file(MAKE_DIRECTORY ${tools})

# The tools a MinGW-w64 installation brings, and CMake and Ninja.
file(GLOB mingw_tools /usr/bin/x86_64-w64-mingw32-*)
foreach(tool IN LISTS mingw_tools ITEMS cmake cpack ctest ninja sh c++ as ld)
  if(NOT IS_ABSOLUTE ${tool})
    find_program(found_${tool} ${tool} REQUIRED)
    set(tool ${found_${tool}})
  endif()
  get_filename_component(name ${tool} NAME)
  file(CREATE_LINK ${tool} ${tools}/${name} SYMBOLIC)
endforeach()

function(run what)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PATH=${tools} ${ARGN}
    WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(run_out "${out}" PARENT_SCOPE)
endfunction()

set(build ${WORK_DIR}/build)
run("configuring the release preset" ${tools}/cmake --preset release -B ${build}
  -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON -DMJ_GOOGLETEST_DIR=${WORK_DIR}/no-googletest)
set(configure_out "${run_out}")
run("building" ${tools}/cmake --build ${build})

foreach(file bin/veltrano-mouse-jiggler.dll bin/mjctl.exe bin/mjtray.exe lib/veltrano-mouse-jiggler.dll.a
    tools/mjtray/mjtray.ico)
  if(NOT EXISTS ${build}/${file})
    message(FATAL_ERROR "the release build made no ${file}")
  endif()
endforeach()

# Nothing of the tests' world was used.
file(READ ${build}/build.ninja ninja)
file(READ ${build}/CMakeCache.txt cache)
foreach(word googletest gtest benchmark /usr/src clang lld llvm)
  string(FIND "${ninja}" "${word}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the release build uses ${word}")
  endif()
endforeach()
if(EXISTS ${build}/googletest OR EXISTS ${build}/tests OR EXISTS ${build}/bench)
  message(FATAL_ERROR "the release build configured tests or benchmarks")
endif()
if(cache MATCHES "\nLLVM_DLLTOOL:FILEPATH=[^\n]*/" OR cache MATCHES "\nWIXL:FILEPATH=[^\n]*/")
  message(FATAL_ERROR "the release build found a tool that should have been out of reach")
endif()

# The developers' bundle, without the MSVC-style import library llvm-dlltool makes.
run("zipping the bundle" ${tools}/cpack --config ${build}/CPackConfig.cmake -B ${WORK_DIR}/bundle)
file(GLOB zips ${WORK_DIR}/bundle/*.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zips} OUTPUT_VARIABLE listing)
foreach(entry bin/veltrano-mouse-jiggler.dll bin/mjctl.exe bin/mjtray.exe include/mouse_jiggler.h LICENSE THIRD-PARTY-NOTICES.txt
        lib/veltrano-mouse-jiggler.dll.a lib/cmake/veltrano_mouse_jiggler/veltrano_mouse_jiggler-config.cmake)
  string(FIND "${listing}" "/${entry}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the bundle lacks ${entry}:\n${listing}")
  endif()
endforeach()
message(STATUS "the release preset builds and zips with MinGW-w64, CMake and the build machine's c++ alone")
