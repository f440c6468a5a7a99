#!/usr/bin/env bash
# The script's path: a script (a log-on script, a scheduled task) runs
# mjctl in a person's session while the person, or an installer, quits the
# agent. From a fresh prefix: the first start captured as scripts capture
# it, x=$(mjctl start), then quit and start overlapping at offsets from 0 to
# about a second, each start captured the same way, and a last quit.
#
#   tests/journeys/script.sh BUILD_DIR    (the windows preset's build folder)
#
# Every capture must return; every quit and start must succeed; and what
# start says must match what runs afterwards: the agent it names runs, or
# it was the old agent, which the quit then ended. Exits 0, or 1 with one
# line on stderr saying what failed.
set -uo pipefail
build=${1:?usage: tests/journeys/script.sh BUILD_DIR}
cd "$(dirname "$0")/../.."
. scripts/wine-env.sh
wine=/usr/lib/wine/wine64
mjctl_exe="$build/bin/mjctl.exe"
work=$(mktemp -d)
trap 'rm -rf "$work"; mj_on_exit' EXIT

fail() {
  echo "journey script: $*" >&2
  exit 1
}

# Runs mjctl with its output captured as a script captures it,
# x=$(mjctl ...), stderr into a file; NAME.out, NAME.err and NAME.rc hold
# what came of it. A capture that has not returned within a minute fails
# the journey: something mjctl started holds its output open.
capture() {
  local name=$1
  shift
  (
    out=$($wine "$mjctl_exe" "$@" 2>"$work/$name.err")
    echo $? >"$work/$name.rc"
    printf '%s\n' "$out" >"$work/$name.out"
  ) 2>/dev/null &
  local pid=$! deadline=$((SECONDS + 60))
  while kill -0 $pid 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "x=\$(mjctl $*) did not return within 60 s: the agent holds mjctl's output"
    sleep 0.1
  done
  wait $pid
}

# The pid in start's or status's sentence, "agent 1.0.0 (pid 1234): ...".
pid_of() { sed -nE 's/^agent [^ ]+ \(pid ([0-9]+)\).*/\1/p' "$work/$1.out" | head -1; }

# The person's session: a desktop with its shell and a window of theirs open.
# Wine's desktop shell comes and goes with the programs that use the
# desktop, and without it mjctl cannot tell that it runs as the desktop's
# user (it refuses to start the agent from above the desktop).
$wine notepad.exe >/dev/null 2>&1 &
for ((deadline = SECONDS + 60; SECONDS < deadline; )); do
  xdotool search --name "Notepad" >/dev/null 2>&1 && break
  sleep 0.1
done
xdotool search --name "Notepad" >/dev/null 2>&1 || fail "the session's desktop did not come up within 60 s"

capture first start
[ "$(cat "$work/first.rc")" = 0 ] || fail "the first mjctl start failed: $(head -1 "$work/first.err")"
running=$(pid_of first)
[ -n "$running" ] || fail "the first mjctl start did not say which agent runs: $(head -1 "$work/first.out")"

for offset in 0 0.1 0.2 0.3 0.4 0.5 0.7 1.0; do
  $wine "$mjctl_exe" quit >"$work/quit.out" 2>"$work/quit.err" &
  quit=$!
  sleep "$offset"  # the overlap itself: the start follows the quit by this much
  capture start start
  wait $quit
  quit_rc=$?
  [ "$quit_rc" = 0 ] || fail "mjctl quit, then start $offset s later: the quit failed: $(head -1 "$work/quit.err")"
  [ "$(cat "$work/start.rc")" = 0 ] ||
    fail "mjctl quit, then start $offset s later: the start failed: $(head -1 "$work/start.err")"
  said=$(pid_of start)
  [ -n "$said" ] || fail "mjctl quit, then start $offset s later: the start said no agent: $(head -1 "$work/start.out")"
  capture status status
  if [ "$(cat "$work/status.rc")" = 0 ]; then
    now=$(pid_of status)
    [ "$now" = "$said" ] ||
      fail "mjctl quit, then start $offset s later: start named agent $said but agent $now runs"
    [ "$said" != "$running" ] || fail "mjctl quit, then start $offset s later: the agent that was asked to quit still runs"
  else
    # The start came first: the agent that took it was the old one, which
    # the quit then ended.
    [ "$said" = "$running" ] ||
      fail "mjctl quit, then start $offset s later: start named a new agent $said but none runs"
    capture start start
    [ "$(cat "$work/start.rc")" = 0 ] || fail "mjctl start after the quit failed: $(head -1 "$work/start.err")"
    said=$(pid_of start)
  fi
  running=$said
done

capture quit quit
[ "$(cat "$work/quit.rc")" = 0 ] || fail "the last mjctl quit failed: $(head -1 "$work/quit.err")"
capture status status
[ "$(cat "$work/status.rc")" = 1 ] || fail "an agent still runs after the last quit: $(head -1 "$work/status.out")"
exit 0
