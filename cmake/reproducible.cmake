# The same commit gives the same shipped bytes, whoever builds it, where and
# when. Every time stamp comes from MJ_SOURCE_DATE_EPOCH: the environment's
# SOURCE_DATE_EPOCH if set, else the commit's time (git log -1 --format=%ct),
# else, outside git (a source archive), the modification time of the top
# CMakeLists.txt (git archive gives every file the commit's time).
# - The linker writes that time into the PE headers (binutils reads
#   SOURCE_DATE_EPOCH), and the compiler no paths of the source or build folder.
# - tools/release/reproducible.cpp, a program of the build machine, fixes
#   what the packaging tools take from the clock, the builder or a directory
#   listing: the zip's entries (cmake/reproducible_zip.cmake) and the MSI's
#   summary and cabinet times (cmake/build_msi.cmake). Without a C++ compiler
#   for the build machine the packages are built as the tools make them.
# - Signing (MJ_SIGN, scripts/sign.sh) signs the binaries once they are
#   linked and the MSIs as they are written.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(MJ_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
  set(epoch_from "SOURCE_DATE_EPOCH")
else()
  find_package(Git QUIET)
  set(MJ_SOURCE_DATE_EPOCH "")
  if(GIT_EXECUTABLE)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
      RESULT_VARIABLE rc OUTPUT_VARIABLE MJ_SOURCE_DATE_EPOCH ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      set(MJ_SOURCE_DATE_EPOCH "")
    endif()
    set(epoch_from "the commit")
  endif()
  if(MJ_SOURCE_DATE_EPOCH STREQUAL "")
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt MJ_SOURCE_DATE_EPOCH "%s" UTC)
    set(epoch_from "the time of CMakeLists.txt (no git)")
  endif()
endif()
if(NOT MJ_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is whole seconds since 1970, not \"${MJ_SOURCE_DATE_EPOCH}\"")
endif()
message(STATUS "Release time stamps: ${MJ_SOURCE_DATE_EPOCH}, from ${epoch_from}")

add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>")

find_program(MJ_BUILD_MACHINE_CXX NAMES c++ g++ clang++)
set(MJ_REPRODUCIBLE "")
if(MJ_BUILD_MACHINE_CXX)
  set(MJ_REPRODUCIBLE ${CMAKE_BINARY_DIR}/tools/release/reproducible${CMAKE_HOST_EXECUTABLE_SUFFIX})
  add_custom_command(OUTPUT ${MJ_REPRODUCIBLE}
    COMMAND ${MJ_BUILD_MACHINE_CXX} -std=c++17 -O2 -fno-exceptions -fno-rtti
      ${PROJECT_SOURCE_DIR}/tools/release/reproducible.cpp -o ${MJ_REPRODUCIBLE}
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/release/reproducible.cpp
    COMMENT "Building the packages' fixer for the build machine"
    VERBATIM)
  add_custom_target(mj_reproducible ALL DEPENDS ${MJ_REPRODUCIBLE})
else()
  message(STATUS "No C++ compiler for the build machine: the zip and the MSIs are not reproducible")
endif()

# Signing: scripts/sign.sh with the certificate named in the environment.
option(MJ_SIGN "Sign the DLL, the hosts and the MSIs (scripts/sign.sh; the certificate from the environment)" OFF)
set(MJ_SIGN_SCRIPT "")
if(MJ_SIGN)
  set(MJ_SIGN_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/sign.sh)
  find_program(MJ_BASH bash REQUIRED)
  find_program(MJ_OSSLSIGNCODE osslsigncode)
  if(NOT MJ_OSSLSIGNCODE)
    message(FATAL_ERROR "MJ_SIGN needs osslsigncode (Debian: apt install osslsigncode)")
  endif()
endif()

# The shipped binaries: the linker's time stamp from the epoch, and, with
# MJ_SIGN, signed in place once linked (mj_signed_binaries, before anything
# packs them; a new link signs again).
function(mj_release_binaries)
  set(stamps "")
  foreach(target IN LISTS ARGN)
    set_target_properties(${target} PROPERTIES
      CXX_LINKER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${MJ_SOURCE_DATE_EPOCH}")
    if(MJ_SIGN)
      set(stamp ${CMAKE_BINARY_DIR}/signed/${target}.stamp)
      add_custom_command(OUTPUT ${stamp}
        COMMAND ${MJ_BASH} ${MJ_SIGN_SCRIPT} $<TARGET_FILE:${target}>
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${target} ${MJ_SIGN_SCRIPT}
        COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
        VERBATIM)
      list(APPEND stamps ${stamp})
    endif()
  endforeach()
  if(MJ_SIGN)
    add_custom_target(mj_signed_binaries ALL DEPENDS ${stamps})
  endif()
endfunction()
