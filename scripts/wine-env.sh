# Sourced by the scripts that run Windows programs: starts a private virtual
# X display and prepares the project's Wine prefix. The display is stopped
# when the calling script exits.
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-mouse-jiggler}"
. "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh"

mj_start_display || exit 1
export DISPLAY=":$mj_display"
# On exit: every Wine process of the prefix ends, the agent's settings are
# put back if a script kept them (mj_keep_agent_settings), the display stops.
mj_on_exit() {
  /usr/lib/wine/wineserver -k 2>/dev/null
  if [ -n "${mj_settings_saved:-}" ]; then
    mj_put_back_agent_settings
    /usr/lib/wine/wineserver -k 2>/dev/null
  fi
  mj_stop_displays
}
trap mj_on_exit EXIT

mj_prepare_prefix || exit 1

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
