#!/usr/bin/env bash
# Runs one journey as a fresh machine would meet it: tests/journeys/NAME.sh
# BUILD_DIR with WINEPREFIX set to a new, empty folder and a temp folder of
# its own, and no X display (the journey starts its own, through
# scripts/wine-env.sh). Afterwards every Wine process of that prefix ends and
# both folders go. Its exit code is the journey's.
#   run_journey.sh NAME BUILD_DIR
set -u
name=${1:?usage: run_journey.sh NAME BUILD_DIR}
build=${2:?usage: run_journey.sh NAME BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/mj-journey-$name.XXXXXX") || exit 1
mkdir "$root/prefix" "$root/tmp"
env -u DISPLAY WINEPREFIX="$root/prefix" TMPDIR="$root/tmp" bash "$here/$name.sh" "$build"
rc=$?
# The prefix goes once no process of it is left to write in it.
WINEPREFIX="$root/prefix" /usr/lib/wine/wineserver -k 2>/dev/null
WINEPREFIX="$root/prefix" /usr/lib/wine/wineserver -w 2>/dev/null
of_prefix() {
  local p
  for p in $(pgrep -f . || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qxF "WINEPREFIX=$root/prefix" && return 0
  done
  return 1
}
for _ in $(seq 1 100); do
  of_prefix || break
  sleep 0.1
done
rm -rf "$root" || echo "run_journey: cannot remove $root" >&2
exit $rc
