#!/usr/bin/env bash
# The benchmarks, never run by the tests: the library natively over the
# simulated platform (Google Benchmark), then the real DLL under Wine (its own
# timing program). Prints figures only; docs/performance.md holds one run.
#
#   scripts/bench.sh          the full run (about seven minutes)
#   scripts/bench.sh quick    fewer repetitions, to see that it works
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
quick=${1:-}

cmake --preset native >/dev/null
cmake --build --preset native --target bench_native >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target bench_dll bench_agent bench_watch >/dev/null

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
mj_wine bench_dll.exe $quick

echo
echo "== mjtray while a run waits, beside mjctl run and a minimal window program"
agent_s=60
[ "$quick" = quick ] && agent_s=10
# Processor time from the Linux side: utime + stime of /proc/PID/stat (10 ms
# ticks) of this prefix's processes, over the span bench_agent marks.
ticks_of() {
  local p
  for p in $(pgrep -f "$1" || true); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      awk '{ print $14 + $15 }' "/proc/$p/stat"
      return
    fi
  done
  echo 0
}
agent_out=$(mktemp)
mj_wine bench_agent.exe "$agent_s" >"$agent_out" &
agent_bench=$!
programs=(mjtray.exe mjctl.exe bench_min_window.exe bench_dll_worker.exe)
declare -A ticks_before ticks_after
until grep -q '^measuring' "$agent_out" || ! kill -0 $agent_bench 2>/dev/null; do sleep 0.2; done
for p in "${programs[@]}"; do ticks_before[$p]=$(ticks_of "$p"); done
until grep -q '^measured' "$agent_out" || ! kill -0 $agent_bench 2>/dev/null; do sleep 0.2; done
for p in "${programs[@]}"; do ticks_after[$p]=$(ticks_of "$p"); done
wait $agent_bench || true
grep -v '^measur' "$agent_out"
rm -f "$agent_out"
for p in "${programs[@]}"; do
  awk -v p="$p" -v t=$((${ticks_after[$p]} - ${ticks_before[$p]})) -v s="$agent_s" \
    'BEGIN { printf "%-22s %6.0f ms of processor time per minute (Linux /proc)\n", p, t * 10 * 60 / s }'
done

echo
echo "== watching programs: a process watching 3 names, beside the same process with an empty list"
watch_s=60
[ "$quick" = quick ] && watch_s=10
# Processor time of this prefix's process whose command line matches: the
# nanoseconds of /proc/PID/task/*/schedstat (finer than the 10 ms ticks of
# utime + stime, which are given too), and the Wine server's, which works for
# its clients. One host runs at a time, so the server's time is its.
pid_in_prefix() {  # the newest, past one still ending
  local p
  for p in $(pgrep -f "$1" || true); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$(awk '{ print $22 }' "/proc/$p/stat" 2>/dev/null) $p"
    fi
  done | sort -n | tail -1 | cut -d' ' -f2
}
cpu_ns() {
  local t ns=0
  for t in /proc/"$1"/task/*/schedstat; do ns=$((ns + $(cut -d' ' -f1 "$t" 2>/dev/null || echo 0))); done
  echo $ns
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
watch_out=$(mktemp)
mj_wine bench_watch.exe "$watch_s" >"$watch_out" &
watch_bench=$!
declare -A phase_text=([empty]="empty list (not watching)" [none]="3 names, none running" [one]="3 names, one running")
for phase in empty none one; do
  until grep -q "^measuring $phase" "$watch_out" || ! kill -0 $watch_bench 2>/dev/null; do sleep 0.2; done
  host=$(pid_in_prefix "bench_watch.exe host") server=$(pid_in_prefix wineserver)
  [ -n "$host" ] || { echo "no host process for $phase"; continue; }
  host_ns=$(cpu_ns "$host") host_ticks=$(cpu_ticks "$host") server_ns=$(cpu_ns "$server")
  until grep -q "^measured $phase" "$watch_out" || ! kill -0 $watch_bench 2>/dev/null; do sleep 0.2; done
  awk -v what="${phase_text[$phase]}" -v ns=$(($(cpu_ns "$host") - host_ns)) \
    -v ticks=$(($(cpu_ticks "$host") - host_ticks)) -v server=$(($(cpu_ns "$server") - server_ns)) -v s="$watch_s" \
    'BEGIN { printf "%-28s host %7.2f ms/min (utime+stime %3.0f), Wine server %7.2f ms/min\n", what,
             ns / 1e6 * 60 / s, ticks * 10 * 60 / s, server / 1e6 * 60 / s }'
done
wait $watch_bench || true
grep -v '^measur' "$watch_out"
rm -f "$watch_out"
