# Both import libraries: each defines the seven __imp_ symbols and no other,
# for the module veltrano-mouse-jiggler.dll. Then the MSVC-style one is used
# as an MSVC project uses it: a host compiled for the MSVC target and linked
# by lld-link against it runs under Wine.
#   -DMINGW_IMPLIB= -DMSVC_IMPLIB= -DDLL= -DHOST_SOURCE= -DINCLUDE_DIR=
#   -DKERNEL32= -DNM= -DCLANG= -DLLD_LINK= -DWORK_DIR= -DEMULATOR=
set(want "mj_idle_ms;mj_last_error;mj_nudge_now;mj_start;mj_status;mj_stop;mj_version")

foreach(lib ${MINGW_IMPLIB} ${MSVC_IMPLIB})
  execute_process(COMMAND ${NM} --defined-only ${lib} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${lib}")
  endif()
  string(REGEX MATCHALL "__imp_[A-Za-z_0-9@]+" imports "${dump}")
  list(TRANSFORM imports REPLACE "^__imp_" "")
  list(SORT imports)
  if(NOT imports STREQUAL want)
    message(FATAL_ERROR "${lib} imports\n  ${imports}\nwanted\n  ${want}")
  endif()
  file(STRINGS ${lib} module REGEX "veltrano-mouse-jiggler\\.dll")
  if(NOT module)
    message(FATAL_ERROR "${lib} does not name the module veltrano-mouse-jiggler.dll")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
function(run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
endfunction()
run("compiling for the MSVC target" ${CLANG} --target=x86_64-pc-windows-msvc -ffreestanding -fno-stack-protector
  -Wall -Wextra -Wpedantic -Werror -I${INCLUDE_DIR} -c ${HOST_SOURCE} -o host.obj)
run("lld-link" ${LLD_LINK} /nologo /entry:start /subsystem:console /nodefaultlib /out:msvc_style_host.exe
  host.obj ${MSVC_IMPLIB} ${KERNEL32})
file(COPY ${DLL} DESTINATION ${WORK_DIR})
run("msvc_style_host.exe under Wine" ${EMULATOR} msvc_style_host.exe)
message(STATUS "both import libraries hold the seven exports; the .lib links with lld-link and runs")
