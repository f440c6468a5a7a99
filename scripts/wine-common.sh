# Sourced by scripts/wine-env.sh and scripts/wine-lanes.sh: how this project
# runs Wine programs, starts private X displays and makes prefixes ready.
# Displays started here are stopped by mj_stop_displays.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Runs a Windows program. Wine programs start without address-space
# randomization: Debian's Wine has no preloader to hold the page of Windows'
# shared user data (0x7ffe0000) before the loader's heap, which Linux places
# anywhere in the gigabyte above the loader, takes it, and about one start in
# several thousand would end at once (in another Wine program's CreateProcess,
# error 1359). The programs it starts inherit the setting.
mj_wine() { setarch "$(uname -m)" -R /usr/lib/wine/wine64 "$@"; }

# Starts a private virtual X display; its number goes in mj_display.
mj_xvfb_pids=()
mj_start_display() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  mj_xvfb_pids+=($!)
  mj_display=""
  read -r mj_display <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$mj_display" ]; then
    echo "wine: the virtual X display (Xvfb) did not start" >&2
    return 1
  fi
}
mj_stop_displays() {
  [ ${#mj_xvfb_pids[@]} -eq 0 ] || kill "${mj_xvfb_pids[@]}" 2>/dev/null || true
  mj_xvfb_pids=()
}

# Makes the prefix $WINEPREFIX ready, creating it if there is none, and waits
# until Wine has written it.
mj_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating the prefix $WINEPREFIX"
  fi
  mj_wine wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: the prefix $WINEPREFIX could not be created (wine64 wineboot -i failed)" >&2
    return 1
  fi
}
