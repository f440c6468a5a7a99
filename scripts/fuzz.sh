#!/usr/bin/env bash
# A longer fuzzing session of the options reader than the test command's
# one minute: builds the fuzz preset and runs the fuzzer for the given
# number of seconds (default 600). Prints libFuzzer's final statistics; exits
# non-zero on any finding, whose input is left in build/fuzz/tests/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
dir=build/fuzz/tests/fuzz
tests/fuzz/run_fuzzer.sh build/fuzz/bin/options_fuzzer "${1:-600}" "$dir/corpus" "$dir/seeds"
