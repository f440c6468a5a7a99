# Builds an installer with wixl from installer/mouse-jiggler.wxs, per user
# (SCOPE=user) or per machine (SCOPE=machine): stages the files under the
# names the installer gives them, then runs wixl in that folder (wixl finds
# each file by a name relative to where it runs).
#   cmake -DWIXL= -DWXS= -DVERSION=a.b.c -DSCOPE=user|machine -DOUTPUT=file.msi -DSTAGE=dir
#         -DDLL= -DMJTRAY= -DMJCTL= -DLICENSE= -DNOTICES= -DADMX= -DADML=
#         -DEPOCH= [-DREPRODUCIBLE=program] [-DSIGN=scripts/sign.sh] -P build_msi.cmake
# The same inputs give the same bytes: the product code comes from the scope
# and the version (one version has one product code everywhere), the package
# code from those and the files it carries; REPRODUCIBLE (the build machine's
# tools/release/reproducible.cpp) sets the files' times and the summary's to
# EPOCH, where wixl takes the clock's. SIGN signs the MSI once it is final.
foreach(var WIXL WXS VERSION SCOPE OUTPUT STAGE DLL MJTRAY MJCTL LICENSE NOTICES ADMX ADML EPOCH)
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
file(COPY_FILE ${NOTICES} ${STAGE}/THIRD-PARTY-NOTICES.txt)
file(COPY_FILE ${ADMX} ${STAGE}/veltrano-mouse-jiggler.admx)
file(COPY_FILE ${ADML} ${STAGE}/veltrano-mouse-jiggler.adml)
file(GLOB staged LIST_DIRECTORIES false ${STAGE}/*)
list(SORT staged)

# Name-based (SHA-1) UUIDs in a namespace of this installer's own (named in
# RFC 4122's namespace of URLs).
string(UUID namespace NAMESPACE 6ba7b811-9dad-11d1-80b4-00c04fd430c8 NAME "veltrano-mouse-jiggler installer" TYPE SHA1)
string(UUID product_code NAMESPACE ${namespace} NAME "product ${SCOPE} ${VERSION}" TYPE SHA1 UPPER)
file(SHA256 ${WXS} contents)
foreach(file IN LISTS staged)
  file(SHA256 ${file} sha)
  get_filename_component(name ${file} NAME)
  string(APPEND contents " ${name}=${sha}")
endforeach()
string(UUID package_code NAMESPACE ${namespace} NAME "package ${SCOPE} ${VERSION}${contents}" TYPE SHA1 UPPER)
if(REPRODUCIBLE)
  execute_process(COMMAND ${REPRODUCIBLE} touch ${EPOCH} ${staged} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot set the staged files' times")
  endif()
endif()

get_filename_component(output ${OUTPUT} ABSOLUTE)
get_filename_component(output_dir ${output} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
# A cabinet's file times are local times: in UTC they are the epoch's on any machine.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
    ${WIXL} --arch x64 --define Version=${VERSION} --define Scope=${SCOPE} --define ProductCode=${product_code}
    --output ${output} ${WXS}
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
if(REPRODUCIBLE)
  execute_process(COMMAND ${REPRODUCIBLE} msi ${EPOCH} "{${package_code}}" ${output} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(REMOVE ${output})
    message(FATAL_ERROR "cannot set the summary of ${output}")
  endif()
endif()
if(SIGN)
  execute_process(COMMAND bash ${SIGN} ${output} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(REMOVE ${output})
    message(FATAL_ERROR "signing ${output} failed")
  endif()
endif()
message(STATUS "Wrote ${output}")
