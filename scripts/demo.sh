#!/usr/bin/env bash
# The main job: builds the real DLL and mjctl, and runs them on Wine: move
# nudges every second for a few seconds (default 5), each told as it happens,
# then the run is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target mjctl
. scripts/wine-env.sh
cd build/windows/bin
/usr/lib/wine/wine64 mjctl.exe version
/usr/lib/wine/wine64 mjctl.exe run --mode move --dx 2 --dy 2 --interval 1 --always --for "${1:-5}"
