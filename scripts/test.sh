#!/usr/bin/env bash
# Runs every test: the release build without any of the test tools, the logic
# natively over the simulated platform (plain, with AddressSanitizer and
# UndefinedBehaviorSanitizer, with ThreadSanitizer), a one-minute fuzzing
# session of the options reader, then the real DLL cross-built with MinGW-w64
# under Wine, its installer included, and last the paths people walk
# (tests/journeys), each from a fresh Wine prefix of its own.
# Exits non-zero when any build or test fails.
set -uo pipefail
cd "$(dirname "$0")/.."

# Where the time goes: one row per step, printed at the end.
timings=()
timed() {  # what, command...
  local what=$1 start=$SECONDS rc
  shift
  "$@"
  rc=$?
  timings+=("$(printf '%5d s  %s' $((SECONDS - start)) "$what")")
  return $rc
}
suite_start=$SECONDS

timed "setup (apt, npm)" scripts/setup.sh || exit 1

passed=0
failed=0
broken=()

build_preset() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }

# A preset built and tested; the arguments after its name go to ctest
# (e.g. a label).
run_preset() {
  local preset=$1 log
  shift
  echo "== $preset${*:+ $*}"
  if ! timed "build $preset" build_preset "$preset"; then
    broken+=("$preset (build)")
    return
  fi
  log=$(mktemp)
  local start=$SECONDS
  ctest --preset "$preset" "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  timings+=("$(printf '%5d s  %s' $((SECONDS - start)) "test $preset${*:+ $*}")")
  local line total fails
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$log" | tail -1)
  rm -f "$log"
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  fails=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  if [ -z "$line" ]; then
    broken+=("$preset${*:+ $*} (no result)")
    return
  fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  [ "$rc" -eq 0 ] || broken+=("$preset${*:+ $*}")
}

# The release build with MinGW-w64 and CMake alone: the release preset,
# configured and built with everything the tests use out of reach. One check,
# counted with the tests.
run_portable_build_check() {
  echo "== release build without the test tools"
  if timed "build release, without the test tools" cmake -DSOURCE_DIR="$PWD" -DWORK_DIR="$PWD/build/portable-check" -P tests/portable/check_portable_build.cmake; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    broken+=("release build without the test tools")
  fi
}

run_portable_build_check
run_preset native
run_preset native-asan
run_preset native-tsan
run_preset fuzz
timed "Wine prefix" . scripts/wine-env.sh
run_preset windows -LE journey
# The journeys make prefixes and displays of their own: side by side.
run_preset windows -L journey -j 3

echo
echo "== where the time went"
printf '%s\n' "${timings[@]}"
printf '%5d s  %s\n' $((SECONDS - suite_start)) "in all"
echo
if [ ${#broken[@]} -ne 0 ]; then
  echo "failing: ${broken[*]}"
fi
echo "all tests: $passed passed, $failed failed"
[ ${#broken[@]} -eq 0 ] && [ "$failed" -eq 0 ]
