# What `cmake --install` lays out and CPack zips: the DLL, mjctl and mjtray in
# bin/, the header in include/, both import libraries and the CMake package in
# lib/, the policies' administrative templates in admx/, the licence and the
# notices of the compiler's runtime linked into the binaries beside README.md.
# A host project then writes
#   find_package(veltrano_mouse_jiggler 1.0 REQUIRED)
#   target_link_libraries(app PRIVATE veltrano::mouse_jiggler)
include(CMakePackageConfigHelpers)

set(MJ_PACKAGE_DIR lib/cmake/veltrano_mouse_jiggler)

install(TARGETS mouse_jiggler EXPORT veltrano_mouse_jiggler_targets
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib)
if(MJ_MSVC_IMPLIB)
  install(FILES ${MJ_MSVC_IMPLIB} DESTINATION lib)
endif()
install(FILES include/mouse_jiggler.h DESTINATION include)
install(FILES README.md LICENSE THIRD-PARTY-NOTICES.txt DESTINATION .)
install(FILES admx/veltrano-mouse-jiggler.admx DESTINATION admx)
install(FILES admx/en-US/veltrano-mouse-jiggler.adml DESTINATION admx/en-US)

install(EXPORT veltrano_mouse_jiggler_targets
  NAMESPACE veltrano::
  FILE veltrano_mouse_jiggler-targets.cmake
  DESTINATION ${MJ_PACKAGE_DIR})
configure_package_config_file(cmake/veltrano_mouse_jiggler-config.cmake.in
  ${CMAKE_BINARY_DIR}/generated/veltrano_mouse_jiggler-config.cmake
  INSTALL_DESTINATION ${MJ_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/generated/veltrano_mouse_jiggler-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_BINARY_DIR}/generated/veltrano_mouse_jiggler-config.cmake
  ${CMAKE_BINARY_DIR}/generated/veltrano_mouse_jiggler-config-version.cmake
  DESTINATION ${MJ_PACKAGE_DIR})

# The release bundle: `cmake --workflow --preset bundle` (or `cpack` in the
# build directory) writes veltrano-mouse-jiggler-<version>-win64.zip; then
# cmake/reproducible_zip.cmake sorts its entries and sets their times to the
# epoch and their modes (CPack takes both from the disk, with the owner).
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME veltrano-mouse-jiggler)
set(CPACK_PACKAGE_VENDOR veltrano)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps an interactive desktop from being treated as idle")
set(CPACK_PACKAGE_FILE_NAME veltrano-mouse-jiggler-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/bundle)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/reproducible_zip.cmake)
set(CPACK_MJ_REPRODUCIBLE "${MJ_REPRODUCIBLE}")
set(CPACK_MJ_SOURCE_DATE_EPOCH ${MJ_SOURCE_DATE_EPOCH})
include(CPack)
