#!/bin/sh
# Runs a command in the Wine lane that ctest gave its test (the resource
# "wine", scripts/wine-lanes.sh): that lane's prefix and X display. Outside
# the lanes it runs as it is, in the caller's.
#   wine-lane.sh COMMAND [ARGUMENTS...]
if [ -n "${MJ_WINE_LANES:-}" ] && [ -n "${CTEST_RESOURCE_GROUP_0_WINE:-}" ]; then
  lane=${CTEST_RESOURCE_GROUP_0_WINE#id:}
  lane=${lane%%,*}
  DISPLAY=$(cat "$MJ_WINE_LANES/$lane/display") || exit 1
  WINEPREFIX=$MJ_WINE_LANES/$lane/prefix
  export DISPLAY WINEPREFIX
fi
exec "$@"
