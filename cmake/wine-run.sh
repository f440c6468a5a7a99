#!/bin/sh
# Runs a Windows program under Wine, quietly, in the project's own prefix or
# in the lane ctest gave the test (wine-lane.sh). The caller provides the X
# display (scripts/test.sh starts one for each lane).
here=$(dirname "$0")
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mouse-jiggler}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Without address-space randomization, as scripts/wine-common.sh says why.
exec "$here/wine-lane.sh" setarch "$(uname -m)" -R /usr/lib/wine/wine64 "$@"
