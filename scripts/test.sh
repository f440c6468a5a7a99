#!/usr/bin/env bash
# Runs every test: the real DLL and hosts cross-built with MinGW-w64 and
# tested under Wine, their installers included, with the paths people walk
# (tests/journeys), each from a fresh Wine prefix of its own; beside them the
# release build without any of the test tools, the logic natively over the
# simulated platform (plain, with AddressSanitizer and
# UndefinedBehaviorSanitizer, with ThreadSanitizer) and a fuzzing session of
# each reader. Prints where the time went; exits non-zero when any build or
# test fails.
#
# The Windows tests mostly wait (for intervals, idle times, programs to end),
# so they run first and in the background, several side by side in Wine lanes
# (scripts/wine-lanes.sh), while the other builds and tests keep the
# processors busy at a lower priority.
set -uo pipefail
cd "$(dirname "$0")/.."

# Where the time goes: one row per step, printed at the end.
timings=()
note_time() { timings+=("$(printf '%5d s  %s' "$1" "$2")"); }  # seconds, what
timed() {  # what, command...
  local what=$1 start=$SECONDS rc
  shift
  "$@"
  rc=$?
  note_time $((SECONDS - start)) "$what"
  return $rc
}
suite_start=$SECONDS

timed "setup (apt, npm)" scripts/setup.sh || exit 1

passed=0
failed=0
broken=()

# A preset configured and built; "low": at a lower priority.
build_preset() {  # preset, [low]
  local run=()
  [ "${2:-}" = low ] && run=(nice -n 10)
  "${run[@]}" cmake --preset "$1" >/dev/null && "${run[@]}" cmake --build --preset "$1"
}

# Counts what ctest's output LOG says of the group WHAT, whose exit code was RC.
count_results() {  # what, log, rc
  local line total fails
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$2" | tail -1)
  if [ -z "$line" ]; then
    broken+=("$1 (no result)")
    return
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  fails=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  [ "$3" -eq 0 ] || broken+=("$1")
}

# A preset built and tested, in the foreground at a lower priority.
run_preset() {
  local preset=$1 log rc start
  echo "== $preset"
  if ! timed "build $preset" build_preset "$preset" low; then
    broken+=("$preset (build)")
    return
  fi
  log=$(mktemp)
  start=$SECONDS
  nice -n 10 ctest --preset "$preset" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  note_time $((SECONDS - start)) "test $preset"
  count_results "$preset" "$log" "$rc"
  rm -f "$log"
}

# The release build with MinGW-w64 and CMake alone: the release preset,
# configured and built with everything the tests use out of reach. One check,
# counted with the tests.
run_portable_build_check() {
  echo "== release build without the test tools"
  if timed "build release, without the test tools" nice -n 10 cmake -DSOURCE_DIR="$PWD" \
    -DWORK_DIR="$PWD/build/portable-check" -P tests/portable/check_portable_build.cmake; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    broken+=("release build without the test tools")
  fi
}

# The Windows tests: three lanes, their prefixes made while the build runs;
# ctest runs a fourth test beside the lanes' (a journey, with a prefix of its
# own, or a release build).
. scripts/wine-lanes.sh
mj_wine_lanes_start 3 "$PWD/build/wine-lanes" || exit 1
windows_log=build/windows-tests.log
windows_pid=""
echo "== windows"
if timed "build windows" build_preset windows; then
  if timed "Wine lanes' prefixes (beside the build)" mj_wine_lanes_wait; then
    echo "== windows: the tests run in the background (log: $windows_log)"
    (
      start=$SECONDS
      ctest --preset windows -j 4 --resource-spec-file "$MJ_WINE_LANES/resources.json" >"$windows_log" 2>&1
      echo "$? $((SECONDS - start))" >"$windows_log.status"
    ) &
    windows_pid=$!
  else
    broken+=("windows (Wine prefixes)")
  fi
else
  broken+=("windows (build)")
fi

run_portable_build_check
run_preset native
run_preset native-asan
run_preset native-tsan
run_preset fuzz

if [ -n "$windows_pid" ]; then
  echo "== windows: the tests (waiting for them)"
  wait_start=$SECONDS
  wait "$windows_pid"
  note_time $((SECONDS - wait_start)) "waiting for the windows tests after the rest"
  cat "$windows_log"
  read -r rc took <"$windows_log.status" || { rc=1 took=0; }
  note_time "$took" "test windows (3 Wine lanes, beside the steps after the build)"
  count_results windows "$windows_log" "$rc"
fi

echo
echo "== where the time went"
note_time $((SECONDS - suite_start)) "in all"
printf '%s\n' "${timings[@]}"
echo
if [ ${#broken[@]} -ne 0 ]; then
  echo "failing: ${broken[*]}"
fi
echo "all tests: $passed passed, $failed failed"
[ ${#broken[@]} -eq 0 ] && [ "$failed" -eq 0 ]
