# Sourced by every journey (tests/journeys/NAME.sh BUILD_DIR, run by
# run_journey.sh in a fresh prefix): what the journeys' steps share. A journey
# tells what it does on stdout; what failed goes in one line on stderr (fail),
# and ends it.
#   . "$(dirname "$0")/journey.sh" NAME BUILD_DIR
set -uo pipefail
journey=$1
build=${2:?usage: tests/journeys/$1.sh BUILD_DIR}
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine=mj_wine # scripts/wine-env.sh's, once the machine is there

fail() {
  echo "journey $journey: $*" >&2
  exit 1
}

step() { echo "== $*"; }

# The machine: the fresh prefix made ready and a private X display, as the
# scripts make them (scripts/wine-env.sh; both end with the journey). Every
# Windows program runs after it.
journey_machine() {
  . "$source_dir/scripts/wine-env.sh" || fail "no Wine prefix or X display"
}

# A Windows desktop with a taskbar and its notification area, as a person
# has: Wine's virtual desktop for every program of this prefix. A machine's
# setting, made before anything of the product is there.
journey_desktop_with_taskbar() {
  $wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 &&
    $wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1 ||
    fail "cannot set up Wine's virtual desktop"
  /usr/lib/wine/wineserver -w  # the next program brings the desktop up with it
}

# A program of the prefix, its output without carriage returns; its exit code.
win() { $wine "$@" 2>/dev/null </dev/null | tr -d '\r'; }

# A folder of the user as Windows names it (APPDATA, LOCALAPPDATA,
# ProgramFiles...), and a Windows path as a Unix one.
win_folder() { win cmd /c echo "%$1%"; }
unix_path() { realpath -m "$(win winepath -u "$1")"; }

# The installer the build made (the `installer` target), of scope user or
# machine.
installer_msi() {
  local version
  version=$(sed -n 's/^MJ_PACKAGE_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
  local msi="$build/installer/veltrano-mouse-jiggler-$version-win64.msi"
  [ "$1" = machine ] && msi="${msi%.msi}-machine.msi"
  [ -f "$msi" ] || fail "no installer $msi: build the target installer first"
  echo "$msi"
}

# msiexec with its arguments, which must succeed and print nothing; an
# agent it starts gets none of this shell's output.
msiexec_quietly() {
  local what=$1 out
  shift
  out=$($wine msiexec "$@" </dev/null 2>&1 | tr -d '\r')
  local rc=${PIPESTATUS[0]}
  [ "$rc" -eq 0 ] || fail "$what: msiexec exited with $rc ${out:+($out)}"
  [ -z "$out" ] || fail "$what printed: $out"
}

# Waits up to $1 seconds until the command after it succeeds; false if it
# never did.
within() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.25
  done
}

# The processes of this prefix whose command line matches a pattern (grep -E).
prefix_pids() {
  local p
  for p in $(pgrep -f "$1" || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$p"
  done
  true
}

# The screen, as a person sees it.
screen_shot() { import -window root "$TMPDIR/screen.png" 2>/dev/null; }
# The mean brightness (0 to 1) of a rectangle WxH+X+Y of the last shot; its
# mean green above red, for the agent's green icon.
brightness() { convert "$TMPDIR/screen.png" -crop "$1" +repage -colorspace Gray -format '%[fx:mean]' info: 2>/dev/null; }
greenness() { convert "$TMPDIR/screen.png" -crop "$1" +repage -format '%[fx:mean.g-mean.r]' info: 2>/dev/null; }
above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
