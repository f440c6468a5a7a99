# Sourced by the scripts that run Windows programs: starts a private virtual
# X display and prepares the project's Wine prefix. The display is stopped
# when the calling script exits.
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mouse-jiggler}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Runs a Windows program. Wine programs start without address-space
# randomization: Debian's Wine has no preloader to hold the page of Windows'
# shared user data (0x7ffe0000) before the loader's heap, which Linux places
# anywhere in the gigabyte above the loader, takes it, and about one start in
# several thousand would end at once (in another Wine program's CreateProcess,
# error 1359). The programs it starts inherit the setting.
mj_wine() { setarch "$(uname -m)" -R /usr/lib/wine/wine64 "$@"; }

mj_display_fifo=$(mktemp -u)
mkfifo "$mj_display_fifo"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$mj_display_fifo" >/dev/null 2>&1 &
mj_xvfb_pid=$!
mj_display=""
read -r mj_display <"$mj_display_fifo" || true
rm -f "$mj_display_fifo"
if [ -z "$mj_display" ]; then
  echo "wine: the virtual X display (Xvfb) did not start" >&2
  exit 1
fi
export DISPLAY=":$mj_display"
# On exit: every Wine process of the prefix ends, the agent's settings are
# put back if a script kept them (mj_keep_agent_settings), the display stops.
mj_on_exit() {
  /usr/lib/wine/wineserver -k 2>/dev/null
  if [ -n "${mj_settings_saved:-}" ]; then
    mj_put_back_agent_settings
    /usr/lib/wine/wineserver -k 2>/dev/null
  fi
  kill $mj_xvfb_pid 2>/dev/null || true
}
trap mj_on_exit EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: creating the prefix $WINEPREFIX"
fi
mj_wine wineboot -i >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine: the prefix $WINEPREFIX could not be created (wine64 wineboot -i failed)" >&2
  exit 1
fi

# For the scripts that start the agent in the user's prefix (the demo, the
# screenshots): the agent keeps its settings in the user's registry, and a
# script's must not become those of an app installed later in this profile.
# Call mj_keep_agent_settings first: on exit, once every Wine process of the
# prefix has ended, what was there is put back.
mj_keep_agent_settings() {
  mj_settings_key='HKCU\Software\Veltrano\Mouse Jiggler'
  mj_settings_saved=$(mktemp -d)
  mj_had_settings=0
  # No saved settings (a fresh prefix) is no failure: nothing is put back.
  if mj_wine reg export "$mj_settings_key" "Z:$mj_settings_saved/settings.reg" /y >/dev/null 2>&1; then
    mj_had_settings=1
  fi
}
mj_put_back_agent_settings() {
  mj_wine reg delete "$mj_settings_key" /f >/dev/null 2>&1 || true
  if [ "$mj_had_settings" = 1 ]; then
    mj_wine reg import "Z:$mj_settings_saved/settings.reg" >/dev/null 2>&1 || true
  fi
  rm -rf "$mj_settings_saved"
}
