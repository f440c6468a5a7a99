#!/usr/bin/env bash
# The main job: builds the real DLL, mjctl and the agent mjtray, and runs them
# on Wine. First mjctl runs move nudges every second in this console for a
# few seconds (default 5), each told as it happens; then mjctl starts the
# agent, which keeps the session's run in the notification area, asks it how
# the run goes a few times, and tells it to quit.
set -Eeuo pipefail
# Whatever fails says so, also where the command itself says nothing.
trap 'echo "demo: failed (exit $?): $BASH_COMMAND" >&2' ERR
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target mjctl mjtray
. scripts/wine-env.sh
cd build/windows/bin
wine=mj_wine
mjctl() { $wine mjctl.exe "$@"; }

# The demo's settings (2 s, always) are not left behind for the app.
mj_keep_agent_settings

mjctl version
echo
echo "\$ mjctl run --mode move --dx 2 --dy 2 --interval 1 --always --for ${1:-5}"
mjctl run --mode move --dx 2 --dy 2 --interval 1 --always --for "${1:-5}"

echo
echo "\$ mjctl start --mode zen --interval 2 --always"
mjctl start --mode zen --interval 2 --always
for _ in 1 2 3; do
  sleep 2
  echo "\$ mjctl status"
  mjctl status
done
echo "\$ mjctl quit"
mjctl quit
