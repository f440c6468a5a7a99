#!/usr/bin/env bash
# A person installs the app on a fresh machine: the per-user installer,
# silently; then starts it from the Start menu's shortcut, sees the first
# launch's notification beside the icon (the defaults are saved then), and
# not again at the next start; turns on Start with Windows; and uninstalls
# silently, which leaves nothing: no file, shortcut, installed-programs
# entry, settings, log-on value or agent.
. "$(dirname "$0")/journey.sh" installer "$@"
journey_machine
journey_desktop_with_taskbar
product="Veltrano Mouse Jiggler"
settings_key='HKCU\Software\Veltrano\Mouse Jiggler'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

step "msiexec /i (per user) /qn"
msi=$(installer_msi user) || exit 1
msiexec_quietly "the silent install" /i "$(win winepath -w "$msi")" /qn
folder="$(win_folder LOCALAPPDATA)\\Programs\\$product"
folder_unix=$(unix_path "$folder")
shortcut="$(win_folder APPDATA)\\Microsoft\\Windows\\Start Menu\\Programs\\$product.lnk"
shortcut_unix=$(unix_path "$shortcut")
[ -f "$folder_unix/mjtray.exe" ] || fail "the install left no $folder\\mjtray.exe"
[ -f "$shortcut_unix" ] || fail "the install made no Start menu shortcut $shortcut"
mjctl() { win "$folder\\mjctl.exe" "$@"; }

# The Start menu's shortcut, opened as the shell opens it: its target, with
# its arguments, in its working folder.
open_shortcut() { $wine start "$shortcut" </dev/null >/dev/null 2>&1 || fail "cannot open the shortcut $shortcut"; }
agent_pid() { mjctl status --json | sed -nE 's/.*"agent":\{"pid":([0-9]+).*/\1/p'; }
# The agent's process, as Linux sees it: its command line and its folder.
agent_process() { prefix_pids 'mjtray[.]exe' | head -1; }
agent_answers() { [ -n "$(agent_pid)" ]; }
agent_gone() { [ -z "$(agent_process)" ]; }

icon_area=40x20+760+580     # the notification area's corner of the 800x600 desktop
balloon_area=200x16+560+552 # inside the notification beside the icon
icon_shown() { screen_shot && above "$(greenness $icon_area)" 0.02; }
balloon_shown() { screen_shot && above "$(brightness $balloon_area)" 0.75; }

step "the first launch, from the Start menu"
open_shortcut
within 60 agent_answers || fail "the agent started from the shortcut did not answer within 60 s"
pid=$(agent_process)
[ -n "$pid" ] || fail "no agent process in this prefix"
tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF "$product\\mjtray.exe" ||
  fail "the shortcut started $(tr '\0' ' ' <"/proc/$pid/cmdline"), not the installed mjtray.exe"
[ "$(readlink "/proc/$pid/cwd")" = "$folder_unix" ] ||
  fail "the agent runs in $(readlink "/proc/$pid/cwd"), not the shortcut's working folder $folder_unix"
within 30 icon_shown || fail "the agent's icon did not show in the notification area"
within 30 balloon_shown || fail "the first launch showed no notification beside the icon"
echo "the first launch's notification is shown"
for value in "mode.*REG_SZ.*zen" "interval_s.*REG_DWORD.*0x3c" "run_on.*REG_DWORD.*0x1"; do
  win reg query "$settings_key" | grep -qE "$value" || fail "the first launch did not save the defaults ($value)"
done
status=$(mjctl status)
echo "$status"
grep -q ": active, zen nudges every 60 s, only after 60 s without user input" <<<"$status" ||
  fail "the first launch does not run the defaults: $status"

step "a later launch, from the Start menu"
out=$(mjctl quit)
[ "$out" = "the agent has stopped its run and quit" ] || fail "mjctl quit said: $out"
within 20 agent_gone || fail "the agent did not end after mjctl quit"
open_shortcut
within 60 agent_answers || fail "the agent started again from the shortcut did not answer within 60 s"
within 30 icon_shown || fail "the agent's icon did not show again"
# The notification would come with the icon; a few looks after it show none.
for _ in 1 2 3 4 5 6 7 8; do
  balloon_shown && fail "the notification of the first launch came again at a later launch"
  sleep 0.25
done

step "Start with Windows, then msiexec /x /qn with the agent running"
win "$folder\\mjtray.exe" --autostart on || fail "mjtray --autostart on failed"
win reg query "$run_key" /v "$product" >/dev/null || fail "mjtray --autostart on wrote no log-on value"
msiexec_quietly "the silent uninstall" /x "$(win winepath -w "$msi")" /qn
within 20 agent_gone || fail "the uninstall left the agent running"
[ ! -e "$folder_unix" ] || fail "the uninstall left $folder: $(ls -A "$folder_unix")"
[ ! -e "$shortcut_unix" ] || fail "the uninstall left the shortcut $shortcut"
win uninstaller --list | grep -qF "|||$product" && fail "the uninstall left the installed-programs entry"
win reg query "$settings_key" >/dev/null && fail "the uninstall left the settings $settings_key"
win reg query "$run_key" /v "$product" >/dev/null && fail "the uninstall left the log-on value"
echo "journey installer: installed, started, told where it is once, uninstalled without a trace"
