#!/usr/bin/env bash
# Makes the README's pictures of mjtray in the notification area of a Wine
# virtual desktop, cropped to the taskbar's corner: its first launch with the
# notification that says where it is (docs/images/mjtray-first-launch.png),
# and its menu open with the Power submenu (docs/images/mjtray-menu.png).
set -Eeuo pipefail
# Whatever fails says so, also where the command itself says nothing.
trap 'echo "screenshot: failed (exit $?): $BASH_COMMAND" >&2' ERR
cd "$(dirname "$0")/.."
scripts/setup.sh
build="${MJ_BUILD_DIR:-build/windows}" # another build folder of the windows preset, if given
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target mjtray
out="$PWD/docs/images/mjtray-menu.png"
first="$PWD/docs/images/mjtray-first-launch.png"
mkdir -p "$(dirname "$out")"
shot=$(mktemp -d)

. scripts/wine-env.sh
mj_keep_agent_settings
wine=mj_wine
# The first launch's settings: a run with the defaults. A screen saver after
# 2 min, which a 60 s interval in only-when-idle mode cannot keep ahead of:
# the picture shows the warning and the longest safe interval. Put back after.
$wine reg delete "$mj_settings_key" /f >/dev/null 2>&1 || true
desktop='HKCU\Control Panel\Desktop'
# A fresh prefix may hold neither value: then the query fails, and the value
# is removed again afterwards.
saver_value() { { $wine reg query "$desktop" /v "$1" 2>/dev/null || true; } | awk -v v="$1" '$1 == v { print $3 }' | tr -d '\r'; }
saver_active=$(saver_value ScreenSaveActive)
saver_timeout=$(saver_value ScreenSaveTimeOut)
restore_value() {
  if [ -n "$2" ]; then
    $wine reg add "$desktop" /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1 || true
  else
    $wine reg delete "$desktop" /v "$1" /f >/dev/null 2>&1 || true
  fi
}
restore_saver() {
  restore_value ScreenSaveActive "$saver_active"
  restore_value ScreenSaveTimeOut "$saver_timeout"
}
$wine reg add "$desktop" /v ScreenSaveActive /t REG_SZ /d 1 /f >/dev/null 2>&1
$wine reg add "$desktop" /v ScreenSaveTimeOut /t REG_SZ /d 120 /f >/dev/null 2>&1

cd "$build/bin"
$wine explorer /desktop=mj,800x600 mjtray.exe >/dev/null 2>&1 &

# The icon sits at the right end of the taskbar (the bottom 20 px): wait
# until that corner turns green.
icon_x=790 icon_y=590
icon_shown=0
for _ in $(seq 1 120); do
  import -window root "$shot/screen.png"
  green=$(convert "$shot/screen.png" -crop 40x20+760+580 +repage -format '%[fx:mean.g-mean.r]' info: 2>/dev/null || echo 0)
  if awk -v g="$green" 'BEGIN { exit !(g > 0.02) }'; then
    icon_shown=1
    break
  fi
  sleep 0.5
done
[ "$icon_shown" = 1 ] || { echo "screenshot: the agent's icon did not show in the notification area within a minute" >&2; exit 1; }

# The first launch ever says where the agent is, beside its icon.
sleep 2
import -window root "$shot/screen.png"
convert "$shot/screen.png" -crop 800x600+0+0 +repage -gravity SouthEast -crop 490x200+0+0 +repage -strip "$first"
# A click on the notification closes it.
xdotool mousemove 700 560 click 1
sleep 1

# Right click opens the menu; hovering over "Power" opens its submenu.
xdotool mousemove $icon_x $icon_y
sleep 0.5
xdotool click 3
menu=""
for _ in $(seq 1 40); do
  menu=$(xwininfo -root -tree | awk '/"mjtray.exe"/ && $0 !~ / 1x1\+/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) print $i }' | head -1)
  [ -n "$menu" ] && break
  sleep 0.25
done
[ -n "$menu" ] || { echo "screenshot: the menu did not open" >&2; exit 1; }
# WxH+X+Y; "Power" comes after nine items (16 px each here) and two
# separators (9 px), below the menu's border.
read -r menu_h menu_x menu_y < <(echo "$menu" | sed -E 's/^[0-9]+x([0-9]+)\+([0-9]+)\+([0-9]+).*/\1 \2 \3/')
xdotool mousemove $((menu_x + 40)) $((menu_y + 3 + 9 * 16 + 2 * 9 + 8))
sleep 1.5
import -window root "$shot/screen.png"
height=$((menu_h + 40))
convert "$shot/screen.png" -crop 800x600+0+0 +repage -gravity SouthEast -crop "560x${height}+0+0" +repage -strip "$out"
xdotool key Escape Escape
restore_saver
rm -rf "$shot"
echo "screenshot: wrote $first and $out"
