# Makes the release bundle with CPack, as `cmake --workflow --preset bundle`
# does, and checks the zip's contents list, its licence and its hosts.
#   -DCPACK= -DBUILD_DIR= -DWORK_DIR=
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}")
endif()
file(GLOB zips ${WORK_DIR}/*.zip)
set(top veltrano-mouse-jiggler-1.0.0-win64)
if(NOT zips STREQUAL "${WORK_DIR}/${top}.zip")
  message(FATAL_ERROR "cpack wrote ${zips}, wanted ${top}.zip")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zips} RESULT_VARIABLE rc OUTPUT_VARIABLE listing)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot list ${zips}")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "/$")
list(SORT entries)
set(want
  ${top}/LICENSE
  ${top}/README.md
  ${top}/THIRD-PARTY-NOTICES.txt
  ${top}/admx/en-US/veltrano-mouse-jiggler.adml
  ${top}/admx/veltrano-mouse-jiggler.admx
  ${top}/bin/mjctl.exe
  ${top}/bin/mjtray.exe
  ${top}/bin/veltrano-mouse-jiggler.dll
  ${top}/include/mouse_jiggler.h
  ${top}/lib/cmake/veltrano_mouse_jiggler/veltrano_mouse_jiggler-config-version.cmake
  ${top}/lib/cmake/veltrano_mouse_jiggler/veltrano_mouse_jiggler-config.cmake
  ${top}/lib/cmake/veltrano_mouse_jiggler/veltrano_mouse_jiggler-targets-release.cmake
  ${top}/lib/cmake/veltrano_mouse_jiggler/veltrano_mouse_jiggler-targets.cmake
  ${top}/lib/veltrano-mouse-jiggler.dll.a
  ${top}/lib/veltrano-mouse-jiggler.lib)
list(SORT want)
if(NOT entries STREQUAL want)
  string(REPLACE ";" "\n  " entries "${entries}")
  string(REPLACE ";" "\n  " want "${want}")
  message(FATAL_ERROR "${top}.zip holds\n  ${entries}\nwanted\n  ${want}")
endif()
file(ARCHIVE_EXTRACT INPUT ${zips} DESTINATION ${WORK_DIR}/unzipped PATTERNS ${top}/LICENSE)
file(READ ${WORK_DIR}/unzipped/${top}/LICENSE license)
if(NOT license MATCHES "^MIT License\n\nCopyright \\(c\\) 2026 the veltrano-mouse-jiggler authors\n")
  message(FATAL_ERROR "the bundle's LICENSE is not the MIT licence of the authors")
endif()
# The hosts as built: stripped (tests/windows/check_shipped_sizes.cmake).
file(ARCHIVE_EXTRACT INPUT ${zips} DESTINATION ${WORK_DIR}/unzipped PATTERNS ${top}/bin/mjctl.exe ${top}/bin/mjtray.exe)
foreach(host mjctl mjtray)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/unzipped/${top}/bin/${host}.exe
    ${BUILD_DIR}/bin/${host}.exe RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "the bundle's ${host}.exe is not the one built")
  endif()
endforeach()
message(STATUS "${top}.zip holds the fifteen files of the release")
