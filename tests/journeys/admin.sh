#!/usr/bin/env bash
# An administrator deploys the app on a fresh machine: the per-machine
# installer, silently; the user's agent starts as the machine's log-on entry
# starts it; then policies are written with reg add and nothing else (no
# Group Policy refresh). The running agent follows each within a few seconds,
# and at every look what the agent says of itself (its state, in words and in
# JSON) agrees with what it does (the DLL's run) and with what mjctl start
# reads from the registry. A damaged value never loosens anything.
. "$(dirname "$0")/journey.sh" admin "$@"
journey_machine
product="Veltrano Mouse Jiggler"
machine_policies='HKLM\Software\Policies\Veltrano\Mouse Jiggler'
user_policies='HKCU\Software\Policies\Veltrano\Mouse Jiggler'
follow_s=5 # "within a few seconds"

step "msiexec /i (per machine) /qn"
msi=$(installer_msi machine) || exit 1
msiexec_quietly "the silent install" /i "$(win winepath -w "$msi")" /qn
folder="$(win_folder ProgramFiles)\\$product"
mjctl() { win "$folder\\mjctl.exe" "$@"; }

step "the log-on entry starts the agent"
logon=$(win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v "$product" |
  sed -nE 's/^ *'"$product"' +REG_SZ +//p')
[[ $logon =~ ^\"([^\"]+)\"\ (.*)$ ]] || fail "the machine's log-on entry is \"$logon\", not a quoted program with its arguments"
# shellcheck disable=SC2086 # the arguments as the entry gives them
$wine "${BASH_REMATCH[1]}" ${BASH_REMATCH[2]} </dev/null >/dev/null 2>&1 &
answers() { mjctl status >/dev/null; }
within 60 answers || fail "the agent started by the log-on entry did not answer within 60 s"

# The status reply's parts.
read_status() {
  json=$(mjctl status --json) || fail "mjctl status --json failed"
  run=$(sed -nE 's/.*"run":\{([^}]*)\}.*/\1/p' <<<"$json")
  active=$(sed -nE 's/.*"active":([01]).*/\1/p' <<<"$run")
  interval=$(sed -nE 's/.*"interval_s":([0-9]+).*/\1/p' <<<"$run")
  state=$(sed -nE 's/.*"agent":\{.*"state":"([a-z]+)".*/\1/p' <<<"$json")
  reason=$(sed -nE 's/.*"agent":\{.*"state":"[a-z]+","reason":"([^"]*)".*/\1/p' <<<"$json")
  damaged=$(sed -nE 's/.*"damaged":\[([^]]*)\].*/\1/p' <<<"$json")
}
# The agent's state and its run agree in every reply.
agrees() {
  case "$state/$active" in
    active/1 | stopped/0) ;;
    *) fail "the agent says it is $state while its run's \"active\" is $active: $json" ;;
  esac
}
# One look: the status reply, the sentence, and the reply again (a change
# between the two replies makes the look begin again). It fails when the
# agent's state, its run and its sentence disagree.
look() {
  local before
  for _ in 1 2 3 4 5; do
    read_status
    before="$state/$active/$interval"
    words=$(mjctl status) || fail "mjctl status failed"
    read_status
    [ "$before" = "$state/$active/$interval" ] && break
  done
  agrees
  [[ $words == *": $state"* ]] || fail "mjctl status says \"$words\" while the agent's state is $state"
}
# What mjctl start, which reads the policies itself, says on stderr; it
# fails where it starts nothing.
start_refusal() { $wine "$folder\\mjctl.exe" start "$@" 2>&1 >/dev/null </dev/null | tr -d '\r'; }

# Waits until the agent follows: $1 describes it, the rest is the check (on
# the last status reply), each reply checked for agreement. Then looks three
# times more: each must still agree and still hold.
follow() {
  local what=$1 began
  began=$(date +%s%3N)
  shift
  # shellcheck disable=SC2317 # called through within
  followed() { read_status && agrees && "$@"; }
  within $follow_s followed "$@" ||
    fail "the agent did not follow $what within $follow_s s (state $state, run interval ${interval:-?} s, damaged [$damaged])"
  echo "followed $what: the status reply $(($(date +%s%3N) - began)) ms after the change said so"
  for _ in 1 2 3; do
    look
    "$@" || fail "the agent followed $what, then went back: $words"
  done
}
stopped_by_policy() { [ "$state/$reason" = "stopped/turned off by your organization" ]; }
active() { [ "$state" = active ]; }
interval_is() { [ "$interval" = "$1" ]; }

step "the agent's first launch: the defaults"
look
active && interval_is 60 || fail "the first launch does not run the defaults: $words"

step "Allowed 0 for the machine"
win reg add "$machine_policies" /v Allowed /t REG_DWORD /d 0 /f >/dev/null || fail "reg add Allowed failed"
follow "Allowed 0" stopped_by_policy
refusal=$(start_refusal) && fail "mjctl start started a run that a policy turns off"
[[ $refusal == *"turned off by your organization"* ]] || fail "mjctl start refused with \"$refusal\""

step "Allowed removed"
win reg delete "$machine_policies" /v Allowed /f >/dev/null || fail "reg delete Allowed failed"
follow "the removal of Allowed" active

step "MaxIntervalSeconds 30 for the machine"
win reg add "$machine_policies" /v MaxIntervalSeconds /t REG_DWORD /d 30 /f >/dev/null ||
  fail "reg add MaxIntervalSeconds failed"
follow "MaxIntervalSeconds 30" eval 'active && interval_is 30'
refusal=$(start_refusal --interval 60) && fail "mjctl start --interval 60 was not refused"
[[ $refusal == *"limited to 30 s"* ]] || fail "mjctl start --interval 60 was refused with \"$refusal\""

step "damaged values beside valid ones"
# The user's valid Allowed 0 stops the run; the machine's damaged one (a
# string) does not win over it, and a damaged MaxIntervalSeconds (out of
# range) leaves the user's valid one in force.
win reg add "$user_policies" /v Allowed /t REG_DWORD /d 0 /f >/dev/null || fail "reg add the user's Allowed failed"
follow "the user's Allowed 0" stopped_by_policy
win reg add "$user_policies" /v MaxIntervalSeconds /t REG_DWORD /d 20 /f >/dev/null ||
  fail "reg add the user's MaxIntervalSeconds failed"
win reg add "$machine_policies" /v Allowed /t REG_SZ /d 1 /f >/dev/null || fail "reg add a damaged Allowed failed"
win reg add "$machine_policies" /v MaxIntervalSeconds /t REG_DWORD /d 0 /f >/dev/null ||
  fail "reg add a damaged MaxIntervalSeconds failed"
follow "the damaged values" eval '[[ $damaged == *Allowed*machine* && $damaged == *MaxIntervalSeconds*machine* ]]'
stopped_by_policy || fail "a damaged Allowed of the machine let the run go on: $words"
win reg delete "$user_policies" /v Allowed /f >/dev/null || fail "reg delete the user's Allowed failed"
follow "the removal of the user's Allowed" eval 'active && interval_is 20'

step "every policy removed"
win reg delete 'HKLM\Software\Policies\Veltrano' /f >/dev/null || fail "reg delete the machine's policies failed"
win reg delete 'HKCU\Software\Policies\Veltrano' /f >/dev/null || fail "reg delete the user's policies failed"
follow "the removal of every policy" eval 'active && interval_is 60 && [ -z "$damaged" ]'
echo "journey admin: installed for the machine; the running agent followed every policy written to the registry"
