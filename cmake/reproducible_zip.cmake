# CPack's last step for the bundle (CPACK_POST_BUILD_SCRIPTS): rewrites each
# zip with tools/release/reproducible.cpp, so that the same files give the
# same zip: entries sorted by name, times from the epoch, fixed modes, no
# owner. Without that program (no C++ compiler for the build machine) the
# zip stays as CPack wrote it.
if(NOT CPACK_MJ_REPRODUCIBLE)
  message(STATUS "The zip is as CPack wrote it: no program to make it reproducible")
  return()
endif()
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_MJ_REPRODUCIBLE} zip ${CPACK_MJ_SOURCE_DATE_EPOCH} ${zip} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot make ${zip} reproducible")
  endif()
endforeach()
