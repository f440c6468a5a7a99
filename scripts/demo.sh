#!/usr/bin/env bash
# The main job: builds the real DLL and runs it on Wine. A small host loads
# it, runs move nudges every second for a few seconds, prints the status
# lines as they change, and stops the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
. scripts/wine-env.sh
cd build/windows/bin
/usr/lib/wine/wine64 demo_host.exe "${1:-5}"
