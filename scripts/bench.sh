#!/usr/bin/env bash
# The benchmarks, never run by the tests: the library natively over the
# simulated platform (Google Benchmark), then the real DLL under Wine (its own
# timing program). Prints figures only; docs/performance.md holds one run.
#
#   scripts/bench.sh          the full run (about three minutes)
#   scripts/bench.sh quick    fewer repetitions, to see that it works
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
quick=${1:-}

cmake --preset native >/dev/null
cmake --build --preset native --target bench_native >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target bench_dll >/dev/null

echo "== machine: $(nproc) cores, $(. /etc/os-release && echo "$PRETTY_NAME"), $(/usr/lib/wine/wine64 --version)," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== native, over the simulated platform"
min_time=1
[ "$quick" = quick ] && min_time=0.1
build/native/bin/bench_native --benchmark_min_time="$min_time" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true | grep -vE "_(mean|stddev|cv) "

echo
echo "== the real DLL under Wine"
. scripts/wine-env.sh
cd build/windows/bin
/usr/lib/wine/wine64 bench_dll.exe $quick
