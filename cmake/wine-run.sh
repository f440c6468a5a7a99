#!/bin/sh
# Runs a Windows program under Wine, quietly, in the project's own prefix.
# The caller provides the X display (scripts/test.sh starts one).
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mouse-jiggler}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Without address-space randomization, as scripts/wine-env.sh says why.
exec setarch "$(uname -m)" -R /usr/lib/wine/wine64 "$@"
