# The per-user installer under Wine: builds it twice (an older and a newer
# version), installs the older silently and checks the files, the Start-menu
# shortcut, the installed-programs entry and mjctl from the installed folder;
# fills in the agent's settings and start with Windows, upgrades to the newer
# with the agent started at the end, and uninstalls: no file, shortcut,
# entry, registry value or agent process is left.
#   -DCMAKE_ARGS_FILE= (build_msi.cmake's arguments) -DBUILD_MSI= -DEMULATOR= -DWORK_DIR=
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(product "Veltrano Mouse Jiggler")
set(old_version 1.0.0)
set(new_version 1.0.1)
set(settings_key "HKCU\\Software\\Veltrano\\Mouse Jiggler")
set(run_key "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run")
set(neighbour "MjInstallerTestNeighbour")

# Runs a Windows program under Wine; the exit code, output and error text land
# in <prefix>_rc, <prefix>_out, <prefix>_err. The output goes through files, not
# pipes: an agent the installer starts inherits them and outlives the call.
function(wine prefix)
  execute_process(COMMAND ${EMULATOR} ${ARGN} TIMEOUT 180 RESULT_VARIABLE rc
    OUTPUT_FILE ${WORK_DIR}/wine.out ERROR_FILE ${WORK_DIR}/wine.err)
  file(READ ${WORK_DIR}/wine.out out)
  file(READ ${WORK_DIR}/wine.err err)
  string(REPLACE "\r" "" out "${out}")
  string(STRIP "${out}" out)
  set(${prefix}_rc "${rc}" PARENT_SCOPE)
  set(${prefix}_out "${out}" PARENT_SCOPE)
  set(${prefix}_err "${err}" PARENT_SCOPE)
endfunction()

function(wine_ok what)
  wine(w ${ARGN})
  if(NOT w_rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${w_rc}):\n${w_out}\n${w_err}")
  endif()
  set(ok_out "${w_out}" PARENT_SCOPE)
endfunction()

function(windows_path unix_path out_var)
  string(REPLACE "/" "\\" path "Z:${unix_path}")
  set(${out_var} "${path}" PARENT_SCOPE)
endfunction()

# The agent processes of this Wine prefix, by process id.
function(agent_pids out_var)
  execute_process(COMMAND sh -c
    "prefix=\"\${WINEPREFIX:-\$HOME/.wine-mouse-jiggler}\"
     for p in $(pgrep -f 'mjtray[.]exe'); do
       tr '\\0' '\\n' </proc/$p/environ 2>/dev/null | grep -qxF \"WINEPREFIX=$prefix\" && echo $p
     done; true"
    OUTPUT_VARIABLE pids)
  string(STRIP "${pids}" pids)
  set(${out_var} "${pids}" PARENT_SCOPE)
endfunction()

# The product codes of installed entries of this product.
function(installed_entries out_var)
  wine_ok("uninstaller --list" uninstaller --list)
  string(REPLACE "\n" ";" lines "${ok_out}")
  set(codes "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^({[0-9A-F-]+})\\|\\|\\|${product}$")
      list(APPEND codes ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(${out_var} "${codes}" PARENT_SCOPE)
endfunction()

# The DisplayVersion of an installed-programs entry (per user, or where Wine
# keeps it).
function(entry_version code out_var)
  foreach(root HKCU HKLM)
    wine(q reg query "${root}\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${code}" /v DisplayVersion)
    if(q_rc EQUAL 0 AND q_out MATCHES "DisplayVersion[ \t]+REG_SZ[ \t]+([0-9.]+)")
      set(${out_var} ${CMAKE_MATCH_1} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out_var} "<none>" PARENT_SCOPE)
endfunction()

function(expect_single_entry version)
  installed_entries(codes)
  list(LENGTH codes count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "installed programs hold ${count} entries of ${product}, wanted 1: ${codes}")
  endif()
  entry_version(${codes} got)
  if(NOT got STREQUAL version)
    message(FATAL_ERROR "the installed-programs entry says version ${got}, wanted ${version}")
  endif()
  set(entry_code ${codes} PARENT_SCOPE)
endfunction()

function(expect_registry_value key name want)
  wine(q reg query "${key}" /v "${name}")
  if(NOT q_rc EQUAL 0 OR NOT q_out MATCHES "${want}")
    message(FATAL_ERROR "${key} \"${name}\" is not ${want}:\n${q_out}")
  endif()
endfunction()

# Both installers, from the same files.
file(STRINGS ${CMAKE_ARGS_FILE} msi_args)
foreach(version ${old_version} ${new_version})
  execute_process(COMMAND ${CMAKE_COMMAND} ${msi_args} -DVERSION=${version}
    -DOUTPUT=${WORK_DIR}/mj-${version}.msi -DSTAGE=${WORK_DIR}/stage-${version} -P ${BUILD_MSI}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the ${version} installer failed:\n${out}")
  endif()
endforeach()
windows_path(${WORK_DIR}/mj-${old_version}.msi old_msi)
windows_path(${WORK_DIR}/mj-${new_version}.msi new_msi)

# Where the installer puts things for this user.
wine_ok("reading LOCALAPPDATA" cmd /c echo %LOCALAPPDATA%)
set(local_app_data "${ok_out}")
wine_ok("reading APPDATA" cmd /c echo %APPDATA%)
set(app_data "${ok_out}")
wine_ok("winepath" winepath -u "${local_app_data}\\Programs")
set(programs_dir "${ok_out}")
set(install_dir "${programs_dir}/${product}")
wine_ok("winepath" winepath -u "${app_data}\\Microsoft\\Windows\\Start Menu\\Programs\\${product}.lnk")
set(shortcut "${ok_out}")

# A clean start: what an earlier, interrupted run may have left.
installed_entries(leftovers)
foreach(code IN LISTS leftovers)
  wine(w msiexec /x ${code} /qn)
endforeach()
wine(w reg delete "${settings_key}" /f)
wine(w reg delete "${run_key}" /v "${product}" /f)
set(programs_existed FALSE)
if(EXISTS "${programs_dir}")
  set(programs_existed TRUE)
endif()

# ---- A silent install of the older version.
string(TIMESTAMP t0 "%s")
wine_ok("msiexec /i ${old_version} /qn" msiexec /i "${old_msi}" /qn)
string(TIMESTAMP t1 "%s")
math(EXPR seconds "${t1} - ${t0}")
message(STATUS "silent install of ${old_version}: ${seconds} s")

file(GLOB installed RELATIVE "${install_dir}" "${install_dir}/*")
list(SORT installed)
set(want_files LICENSE.txt mjctl.exe mjtray.exe veltrano-mouse-jiggler.dll)
if(NOT installed STREQUAL want_files)
  message(FATAL_ERROR "${install_dir} holds \"${installed}\", wanted \"${want_files}\"")
endif()
file(READ "${install_dir}/LICENSE.txt" license)
if(NOT license MATCHES "Copyright \\(c\\) 2026 the veltrano-mouse-jiggler authors")
  message(FATAL_ERROR "the installed LICENSE.txt lacks the copyright line")
endif()
if(NOT EXISTS "${shortcut}")
  message(FATAL_ERROR "no Start-menu shortcut at ${shortcut}")
endif()
expect_single_entry(${old_version})
foreach(root HKCU HKLM)
  wine(q reg query "${root}\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${entry_code}" /v InstallLocation)
  if(q_rc EQUAL 0)
    break()
  endif()
endforeach()
if(NOT q_out MATCHES "AppData\\\\Local\\\\Programs\\\\${product}")
  message(FATAL_ERROR "the installed-programs entry does not show the folder:\n${q_out}")
endif()
agent_pids(pids)
if(pids)
  message(FATAL_ERROR "a silent install started the agent (${pids}) without LAUNCHAPP=1")
endif()
wine_ok("the installed mjctl version" "${install_dir}/mjctl.exe" version)
if(NOT ok_out MATCHES "^mjctl [0-9]+\\.[0-9]+\\.[0-9]+, veltrano-mouse-jiggler.dll 1\\.0\\.0$")
  message(FATAL_ERROR "the installed mjctl version printed: ${ok_out}")
endif()

# The agent's settings and its start with Windows, as the agent writes them;
# another program's value in the Run key.
wine_ok("reg add" reg add "${settings_key}" /v mode /t REG_SZ /d move /f)
wine_ok("reg add" reg add "${run_key}" /v "${product}" /t REG_SZ /d "\"${local_app_data}\\Programs\\${product}\\mjtray.exe\"" /f)
wine_ok("reg add" reg add "${run_key}" /v "${neighbour}" /t REG_SZ /d "C:\\neighbour.exe" /f)

# ---- The newer version over it, starting the agent at the end.
wine_ok("msiexec /i ${new_version} /qn LAUNCHAPP=1" msiexec /i "${new_msi}" /qn LAUNCHAPP=1)
expect_single_entry(${new_version})
file(GLOB installed RELATIVE "${install_dir}" "${install_dir}/*")
list(SORT installed)
if(NOT installed STREQUAL want_files)
  message(FATAL_ERROR "after the upgrade ${install_dir} holds \"${installed}\"")
endif()
expect_registry_value("${settings_key}" mode "move")
expect_registry_value("${run_key}" "${product}" "mjtray\\.exe")
wine(q reg query "${settings_key}\\Installer" /v UpgradePending)
if(q_rc EQUAL 0)
  message(FATAL_ERROR "the upgrade left its mark UpgradePending behind")
endif()

# The older one over the newer refuses and changes nothing.
wine(w msiexec /i "${old_msi}" /qn)
if(w_rc EQUAL 0)
  message(FATAL_ERROR "the older installer went over the newer without complaint")
endif()
expect_single_entry(${new_version})

# The agent, if it stays up (a placeholder mjtray.exe exits at once).
set(agent_seen "")
foreach(i RANGE 40)
  agent_pids(agent_seen)
  if(agent_seen)
    break()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.5)
endforeach()
if(agent_seen)
  message(STATUS "the agent runs after the upgrade (process ${agent_seen})")
  # Let it settle into its message loop and open its pipe.
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 2)
else()
  message(STATUS "mjtray.exe did not stay running after LAUNCHAPP=1: the uninstall runs without an agent")
endif()

# ---- Uninstall: nothing of the product is left.
wine_ok("msiexec /x ${new_version} /qn" msiexec /x "${new_msi}" /qn)
installed_entries(codes)
if(codes)
  message(FATAL_ERROR "installed programs still list ${product}: ${codes}")
endif()
if(EXISTS "${install_dir}")
  file(GLOB_RECURSE left "${install_dir}/*")
  message(FATAL_ERROR "the uninstall left ${install_dir}: ${left}")
endif()
if(NOT programs_existed AND EXISTS "${programs_dir}")
  message(FATAL_ERROR "the uninstall left the Programs folder it made")
endif()
if(EXISTS "${shortcut}")
  message(FATAL_ERROR "the uninstall left the shortcut ${shortcut}")
endif()
# Nor anything of it elsewhere in the profile (the installer's copy of the
# icon, for one).
get_filename_component(app_data_root "${programs_dir}/../.." ABSOLUTE)
execute_process(COMMAND find "${app_data_root}" -iname "*veltrano*" -o -iname "mjtray*" -o -iname "mjctl*"
  -o -iname "AgentIcon*" OUTPUT_VARIABLE left)
if(left)
  message(FATAL_ERROR "the uninstall left in the profile: ${left}")
endif()
wine(q reg query "${settings_key}")
if(q_rc EQUAL 0)
  message(FATAL_ERROR "the uninstall left ${settings_key}:\n${q_out}")
endif()
wine(q reg query "HKCU\\Software\\Veltrano")
if(q_rc EQUAL 0)
  message(FATAL_ERROR "the uninstall left HKCU\\Software\\Veltrano:\n${q_out}")
endif()
wine(q reg query "${run_key}" /v "${product}")
if(q_rc EQUAL 0)
  message(FATAL_ERROR "the uninstall left the start with Windows:\n${q_out}")
endif()
expect_registry_value("${run_key}" "${neighbour}" "neighbour")
wine(q reg delete "${run_key}" /v "${neighbour}" /f)
agent_pids(pids)
if(pids)
  message(FATAL_ERROR "the agent still runs after the uninstall (process ${pids})")
endif()
message(STATUS "installed ${old_version}, upgraded to ${new_version} and uninstalled without leftovers")
