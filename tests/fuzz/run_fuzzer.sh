#!/bin/sh
# One fuzzing session of the options reader.
#
#   run_fuzzer.sh FUZZER SECONDS CORPUS SEEDS
#
# New inputs go to CORPUS, which is kept between sessions; SEEDS is the corpus
# written from the options table. Ends non-zero on any finding, whose input is
# left beside CORPUS as crash-*, leak-*, timeout-* or oom-*.
set -eu
dir=$(cd "$(dirname "$0")" && pwd)
fuzzer=$1 seconds=$2 corpus=$3 seeds=$4
mkdir -p "$corpus"
exec "$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -dict="$dir/options.dict" -print_final_stats=1 -artifact_prefix="$(dirname "$corpus")/" \
  "$corpus" "$seeds"
