#!/bin/sh
# Runs a command in the Wine lane that ctest gave its test (the resource
# "wine", scripts/wine-lanes.sh): that lane's prefix and X display. When the
# test's command ends, every Wine process of the lane ends with it: none is
# left to hold the test's output open (under Wine a program's children keep
# it, even detached) or to meet the lane's next test. Outside the lanes, and
# inside a test already in its lane, the command runs as it is.
#   wine-lane.sh COMMAND [ARGUMENTS...]
if [ -z "${MJ_WINE_LANES:-}" ] || [ -z "${CTEST_RESOURCE_GROUP_0_WINE:-}" ] || [ -n "${MJ_WINE_LANE_OF_TEST:-}" ]; then
  exec "$@"
fi
lane=${CTEST_RESOURCE_GROUP_0_WINE#id:}
lane=${lane%%,*}
DISPLAY=$(cat "$MJ_WINE_LANES/$lane/display") || exit 1
WINEPREFIX=$MJ_WINE_LANES/$lane/prefix
MJ_WINE_LANE_OF_TEST=$lane
export DISPLAY WINEPREFIX MJ_WINE_LANE_OF_TEST
"$@"
rc=$?
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w 2>/dev/null
exit $rc
