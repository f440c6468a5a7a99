# scripts/winget-manifest.sh against the MSIs it was made from: builds the
# per-user and the per-machine installer, writes the manifest for a release
# URL and checks every field of the three files against each MSI (its
# SHA-256, ProductCode, UpgradeCode, version and scope, read here on their
# own); then the refusals (no URL, not https, no such MSI, two versions).
#   -DCMAKE_ARGS_FILE= (build_msi.cmake's arguments) -DBUILD_MSI= -DSCRIPT= -DWORK_DIR=
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(version 1.2.3)
set(url https://downloads.example.invalid/veltrano-mouse-jiggler/v${version})
set(id Veltrano.MouseJiggler)

file(STRINGS ${CMAKE_ARGS_FILE} msi_args)
foreach(scope user machine)
  set(msi_${scope} ${WORK_DIR}/veltrano-mouse-jiggler-${version}-win64-${scope}.msi)
  execute_process(COMMAND ${CMAKE_COMMAND} ${msi_args} -DVERSION=${version} -DSCOPE=${scope}
    -DOUTPUT=${msi_${scope}} -DSTAGE=${WORK_DIR}/stage-${scope} -P ${BUILD_MSI}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the ${scope} installer failed:\n${out}")
  endif()
endforeach()

# A property of an MSI, read with msiinfo.
function(msi_property msi name out_var)
  execute_process(COMMAND msiinfo export ${msi} Property OUTPUT_VARIABLE table RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "msiinfo cannot read ${msi}")
  endif()
  set(value "")
  if(table MATCHES "(^|\n)${name}\t([^\r\n]*)")
    set(value "${CMAKE_MATCH_2}")
  endif()
  set(${out_var} "${value}" PARENT_SCOPE)
endfunction()

function(run_script out_var rc_var)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env MJ_WINGET_DIR=${WORK_DIR}/out bash ${SCRIPT} ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${out_var} "${out}" PARENT_SCOPE)
  set(${rc_var} "${rc}" PARENT_SCOPE)
endfunction()

run_script(out rc ${url}/ ${msi_user} ${msi_machine})
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "winget-manifest.sh failed (${rc}):\n${out}")
endif()
set(dir ${WORK_DIR}/out/${version})
file(GLOB written RELATIVE ${dir} ${dir}/*)
list(SORT written)
set(want ${id}.installer.yaml ${id}.locale.en-US.yaml ${id}.yaml)
if(NOT written STREQUAL want)
  message(FATAL_ERROR "the manifest is \"${written}\", wanted \"${want}\"")
endif()

function(expect_line file line)
  file(STRINGS ${dir}/${file} lines)
  if(NOT "${line}" IN_LIST lines)
    message(FATAL_ERROR "${file} lacks the line \"${line}\":\n${lines}")
  endif()
endfunction()

foreach(file ${want})
  expect_line(${file} "PackageIdentifier: ${id}")
  expect_line(${file} "PackageVersion: ${version}")
  expect_line(${file} "ManifestVersion: 1.6.0")
endforeach()
expect_line(${id}.yaml "ManifestType: version")
expect_line(${id}.yaml "DefaultLocale: en-US")
expect_line(${id}.locale.en-US.yaml "ManifestType: defaultLocale")
expect_line(${id}.locale.en-US.yaml "PackageLocale: en-US")
msi_property(${msi_user} Manufacturer manufacturer)
expect_line(${id}.locale.en-US.yaml "Publisher: ${manufacturer}")
expect_line(${id}.locale.en-US.yaml "License: MIT")
expect_line(${id}.installer.yaml "ManifestType: installer")
expect_line(${id}.installer.yaml "InstallerType: msi")
expect_line(${id}.installer.yaml "  Silent: /qn")
expect_line(${id}.installer.yaml "  SilentWithProgress: /qb")
expect_line(${id}.installer.yaml "UpgradeBehavior: install")

# One entry per MSI, each with the MSI's own fields.
file(READ ${dir}/${id}.installer.yaml installer)
string(FIND "${installer}" "Installers:\n" at)
string(SUBSTRING "${installer}" ${at} -1 entries)
string(REGEX MATCHALL "- Architecture: [^\n]*\n(  [^\n]*\n)+" blocks "${entries}")
list(LENGTH blocks count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "the installer manifest holds ${count} entries, wanted 2:\n${installer}")
endif()
foreach(scope user machine)
  set(msi ${msi_${scope}})
  get_filename_component(name ${msi} NAME)
  set(block "")
  foreach(b IN LISTS blocks)
    if(b MATCHES "\n  InstallerUrl: ${url}/${name}\n")
      set(block "${b}")
    endif()
  endforeach()
  if(NOT block)
    message(FATAL_ERROR "no installer entry with the URL ${url}/${name}:\n${installer}")
  endif()
  file(SHA256 ${msi} sha)
  string(TOUPPER ${sha} sha)
  msi_property(${msi} ProductCode code)
  msi_property(${msi} UpgradeCode upgrade)
  msi_property(${msi} ProductName product)
  msi_property(${msi} ProductVersion msi_version)
  if(NOT code MATCHES "^{[0-9A-F-]+}$" OR NOT upgrade MATCHES "^{[0-9A-F-]+}$")
    message(FATAL_ERROR "${name}: ProductCode \"${code}\", UpgradeCode \"${upgrade}\"")
  endif()
  set(elevation elevationProhibited)
  if(scope STREQUAL "machine")
    set(elevation elevationRequired)
  endif()
  foreach(field
      "- Architecture: x64\n"
      "\n  Scope: ${scope}\n"
      "\n  InstallerSha256: ${sha}\n"
      "\n  ProductCode: '${code}'\n"
      "\n  ElevationRequirement: ${elevation}\n"
      "\n  - DisplayName: ${product}\n"
      "\n    Publisher: ${manufacturer}\n"
      "\n    DisplayVersion: ${msi_version}\n"
      "\n    ProductCode: '${code}'\n"
      "\n    UpgradeCode: '${upgrade}'\n")
    string(FIND "${block}" "${field}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "the ${scope} entry lacks \"${field}\":\n${block}")
    endif()
  endforeach()
endforeach()

# Refusals, each with exit code 2 and nothing written.
file(REMOVE_RECURSE ${WORK_DIR}/out)
execute_process(COMMAND ${CMAKE_COMMAND} ${msi_args} -DVERSION=1.2.4 -DSCOPE=user
  -DOUTPUT=${WORK_DIR}/other.msi -DSTAGE=${WORK_DIR}/stage-other -P ${BUILD_MSI} OUTPUT_QUIET ERROR_QUIET)
# A product code per version and scope, the same in every build of them.
msi_property(${msi_user} ProductCode user_code)
msi_property(${msi_machine} ProductCode machine_code)
msi_property(${WORK_DIR}/other.msi ProductCode other_code)
if(user_code STREQUAL machine_code OR user_code STREQUAL other_code)
  message(FATAL_ERROR "product codes shared: ${version} user ${user_code}, machine ${machine_code}, 1.2.4 user ${other_code}")
endif()
foreach(case
    "no URL|"
    "not https|http://downloads.example.invalid/x|${msi_user}"
    "no such MSI|${url}|${WORK_DIR}/missing.msi"
    "two versions|${url}|${msi_user}|${WORK_DIR}/other.msi")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 what)
  list(SUBLIST parts 1 -1 args)
  run_script(out rc ${args})
  if(NOT rc EQUAL 2 OR EXISTS ${WORK_DIR}/out)
    message(FATAL_ERROR "${what}: winget-manifest.sh gave ${rc}, wanted 2 and no files:\n${out}")
  endif()
endforeach()
message(STATUS "the winget manifest of ${version} matches both MSIs")
