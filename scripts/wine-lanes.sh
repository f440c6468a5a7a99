# Sourced by scripts/test.sh: lanes for the Windows tests, so that ctest runs
# several of them side by side. A lane is a private X display and a fresh
# Wine prefix of its own (lane N: $MJ_WINE_LANES/N/display and N/prefix), so
# that tests in two lanes share no registry, pipe, desktop or pointer. ctest
# hands the lanes out as the resource "wine" (--resource-spec-file
# $MJ_WINE_LANES/resources.json); cmake/wine-lane.sh puts a test in the lane
# it was given. Everything of the lanes stops when the calling script exits.
. "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh"

mj_lane_prefix_jobs=()

# Starts COUNT lanes in FOLDER (emptied first); their prefixes are made in the
# background: mj_wine_lanes_wait waits for them.
mj_wine_lanes_start() {  # count, folder
  local count=$1 lane
  export MJ_WINE_LANES=$2
  rm -rf "$MJ_WINE_LANES"
  mkdir -p "$MJ_WINE_LANES" || return 1
  trap mj_wine_lanes_stop EXIT
  local ids=()
  for lane in $(seq 1 "$count"); do
    mkdir "$MJ_WINE_LANES/$lane"
    mj_start_display || return 1
    echo ":$mj_display" >"$MJ_WINE_LANES/$lane/display"
    (WINEPREFIX="$MJ_WINE_LANES/$lane/prefix" DISPLAY=":$mj_display" mj_prepare_prefix >/dev/null) &
    mj_lane_prefix_jobs+=($!)
    ids+=("{\"id\": \"$lane\", \"slots\": 1}")
  done
  local IFS=,
  printf '{"version": {"major": 1, "minor": 0}, "local": [{"wine": [%s]}]}\n' "${ids[*]}" \
    >"$MJ_WINE_LANES/resources.json"
}

# Waits until every lane's prefix is ready; fails if one could not be made.
mj_wine_lanes_wait() {
  local job failed=0
  for job in "${mj_lane_prefix_jobs[@]}"; do
    wait "$job" || failed=1
  done
  mj_lane_prefix_jobs=()
  [ $failed -eq 0 ] || echo "wine: a lane's prefix could not be made (under $MJ_WINE_LANES)" >&2
  return $failed
}

mj_wine_lanes_stop() {
  local prefix
  for prefix in "$MJ_WINE_LANES"/*/prefix; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
  done
  mj_stop_displays
}
