# Sourced by the scripts that run Windows programs: starts a private virtual
# X display and prepares the project's Wine prefix. The display is stopped
# when the calling script exits.
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mouse-jiggler}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

mj_display_fifo=$(mktemp -u)
mkfifo "$mj_display_fifo"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$mj_display_fifo" >/dev/null 2>&1 &
mj_xvfb_pid=$!
read -r mj_display <"$mj_display_fifo"
rm -f "$mj_display_fifo"
export DISPLAY=":$mj_display"
trap '/usr/lib/wine/wineserver -k 2>/dev/null; kill $mj_xvfb_pid 2>/dev/null || true' EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: creating the prefix $WINEPREFIX"
fi
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w 2>/dev/null || true
