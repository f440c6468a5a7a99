# Builds an installer with wixl from installer/mouse-jiggler.wxs, per user
# (SCOPE=user) or per machine (SCOPE=machine): stages the files under the
# names the installer gives them, then runs wixl in that folder (wixl finds
# each file by a name relative to where it runs).
#   cmake -DWIXL= -DWXS= -DVERSION=a.b.c -DSCOPE=user|machine -DOUTPUT=file.msi -DSTAGE=dir
#         -DDLL= -DMJTRAY= -DMJCTL= -DLICENSE= -DADMX= -DADML= -P build_msi.cmake
foreach(var WIXL WXS VERSION SCOPE OUTPUT STAGE DLL MJTRAY MJCTL LICENSE ADMX ADML)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build_msi.cmake needs -D${var}=")
  endif()
endforeach()
if(NOT SCOPE MATCHES "^(user|machine)$")
  message(FATAL_ERROR "the installer's scope is user or machine, not \"${SCOPE}\"")
endif()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "the installer's version is three numbers a.b.c, not \"${VERSION}\"")
endif()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(COPY_FILE ${DLL} ${STAGE}/veltrano-mouse-jiggler.dll)
file(COPY_FILE ${MJTRAY} ${STAGE}/mjtray.exe)
file(COPY_FILE ${MJCTL} ${STAGE}/mjctl.exe)
file(COPY_FILE ${LICENSE} ${STAGE}/LICENSE.txt)
file(COPY_FILE ${ADMX} ${STAGE}/veltrano-mouse-jiggler.admx)
file(COPY_FILE ${ADML} ${STAGE}/veltrano-mouse-jiggler.adml)

get_filename_component(output ${OUTPUT} ABSOLUTE)
get_filename_component(output_dir ${output} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
execute_process(COMMAND ${WIXL} --arch x64 --define Version=${VERSION} --define Scope=${SCOPE} --output ${output} ${WXS}
  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS ${output})
  message(FATAL_ERROR "wixl failed (${rc}):\n${out}")
endif()
# wixl warns about what it does not understand and carries on: a warning here
# means a part of the installer went missing.
if(out MATCHES "WARNING|CRITICAL")
  file(REMOVE ${output})
  message(FATAL_ERROR "wixl warned:\n${out}")
endif()
message(STATUS "Wrote ${output}")
