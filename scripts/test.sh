#!/usr/bin/env bash
# The test command: installs what is missing, builds the x86_64 tree, boots the project's Wine
# prefix and runs every test case under Wine through ctest (a process and a time limit each);
# arguments go to ctest (scripts/test.sh -L engine).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/bounds.sh"
timeout $BOUND_INSTALL "$here/install-deps.sh"
source "$here/common.sh"
timeout $BOUND_BUILD "$here/build.sh" x86_64
timeout $BOUND_PREFIX "$here/wine-prefix.sh"
# A volume a killed test left mounted is taken down too.
trap 'status=$?; timeout $BOUND_TEARDOWN "$here/test-volume.sh" down all || status=1; "$here/wine-stop.sh"; exit $status' EXIT
cd "$ORLENWICK_BUILD/x86_64"
restarts_log=$ORLENWICK_BUILD/wine-restarts.log
rm -f "$restarts_log"
status=0
timeout $BOUND_CTEST ctest --output-on-failure --timeout 300 "$@" || status=$?
if [ -s "$restarts_log" ]; then
    echo "Programs Wine failed to start and wine-exec.sh started again ($restarts_log):"
    cat "$restarts_log"
fi
exit $status
