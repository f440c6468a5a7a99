# The installers for people who use the app, made by wixl (msitools):
# `cmake --workflow --preset installer` or the target `installer` builds both,
# the per-user MSI and the per-machine one (-machine.msi). They hold the DLL,
# mjtray.exe, mjctl.exe, the licence and the policies' administrative
# templates; installer/mouse-jiggler.wxs says what they do. Their version is
# MJ_PACKAGE_VERSION.
set(MJ_PACKAGE_VERSION ${PROJECT_VERSION} CACHE STRING
  "Version of the installer package (the DLL's own version stays that of its header)")
find_program(WIXL wixl)

set(MJ_MSI ${CMAKE_BINARY_DIR}/installer/veltrano-mouse-jiggler-${MJ_PACKAGE_VERSION}-win64.msi)
set(MJ_MACHINE_MSI ${CMAKE_BINARY_DIR}/installer/veltrano-mouse-jiggler-${MJ_PACKAGE_VERSION}-win64-machine.msi)
# The arguments of cmake/build_msi.cmake, less the version, scope, output and stage.
set(MJ_MSI_ARGS
  -DWXS=${PROJECT_SOURCE_DIR}/installer/mouse-jiggler.wxs
  -DDLL=$<TARGET_FILE:mouse_jiggler> -DMJTRAY=$<TARGET_FILE:mjtray> -DMJCTL=$<TARGET_FILE:mjctl>
  -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE -DNOTICES=${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES.txt
  -DADMX=${PROJECT_SOURCE_DIR}/admx/veltrano-mouse-jiggler.admx
  -DADML=${PROJECT_SOURCE_DIR}/admx/en-US/veltrano-mouse-jiggler.adml
  -DEPOCH=${MJ_SOURCE_DATE_EPOCH} -DREPRODUCIBLE=${MJ_REPRODUCIBLE} -DSIGN=${MJ_SIGN_SCRIPT})

if(WIXL)
  # The same arguments for the installer test, which builds two versions.
  list(JOIN MJ_MSI_ARGS "\n" lines)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/installer/msi_args.txt CONTENT "-DWIXL=${WIXL}\n${lines}\n")
  add_custom_target(installer
    COMMAND ${CMAKE_COMMAND} -DWIXL=${WIXL} ${MJ_MSI_ARGS} -DVERSION=${MJ_PACKAGE_VERSION} -DSCOPE=user
      -DOUTPUT=${MJ_MSI} -DSTAGE=${CMAKE_BINARY_DIR}/installer/stage -P ${PROJECT_SOURCE_DIR}/cmake/build_msi.cmake
    COMMAND ${CMAKE_COMMAND} -DWIXL=${WIXL} ${MJ_MSI_ARGS} -DVERSION=${MJ_PACKAGE_VERSION} -DSCOPE=machine
      -DOUTPUT=${MJ_MACHINE_MSI} -DSTAGE=${CMAKE_BINARY_DIR}/installer/stage-machine
      -P ${PROJECT_SOURCE_DIR}/cmake/build_msi.cmake
    DEPENDS mouse_jiggler mjtray mjctl installer/mouse-jiggler.wxs cmake/build_msi.cmake THIRD-PARTY-NOTICES.txt
      admx/veltrano-mouse-jiggler.admx admx/en-US/veltrano-mouse-jiggler.adml ${MJ_REPRODUCIBLE}
    COMMENT "Building the installers veltrano-mouse-jiggler-${MJ_PACKAGE_VERSION}-win64.msi and -win64-machine.msi"
    VERBATIM)
  if(MJ_SIGN)
    add_dependencies(installer mj_signed_binaries)
  endif()
else()
  add_custom_target(installer
    COMMAND ${CMAKE_COMMAND} -E echo "The installer needs wixl (Debian: apt install wixl msitools)"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()

# The arguments of cmake/sbom.cmake for scripts/release.sh, less the packages
# and the output: each shipped binary's link map names what it holds.
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/release/sbom_args.txt CONTENT "-DVERSION=${MJ_PACKAGE_VERSION}
-DEPOCH=${MJ_SOURCE_DATE_EPOCH}
-DCXX=${CMAKE_CXX_COMPILER}
-DMAPS=$<TARGET_FILE_NAME:mouse_jiggler>=${CMAKE_BINARY_DIR}/veltrano-mouse-jiggler.map;$<TARGET_FILE_NAME:mjctl>=${CMAKE_BINARY_DIR}/tools/mjctl/mjctl.map;$<TARGET_FILE_NAME:mjtray>=${CMAKE_BINARY_DIR}/tools/mjtray/mjtray.map
")
