#!/usr/bin/env bash
# Runs one Windows program in the project's prefix; the emulator of ctest.
#
# Now and then Wine fails to start a program: it ends at once with a failure and has printed
# nothing on its output, not even a test program's first line. Such a program never ran, so it is
# started once more; the restart, with what the first start said on stderr, is written to the
# build's restarts log. A program that printed anything ran, and its status stands. Its output
# still reaches the caller as it comes, and a time limit that ends this shell's process tree ends
# the program with it.
source "$(dirname "$0")/common.sh"
if [ -e "$WINEPREFIX/dosdevices/z:" ] || [ -L "$WINEPREFIX/dosdevices/z:" ]; then
    echo "refusing to run: drive z: of $WINEPREFIX maps the Linux root (run scripts/wine-prefix.sh)" >&2
    exit 97
fi
restarts_log=$ORLENWICK_BUILD/wine-restarts.log
printed=$(mktemp)
errors=$(mktemp)
trap 'rm -f "$printed" "$errors"' EXIT
"$WINE64" "$@" 2> >(tee "$errors" >&2) | tee "$printed"
status=${PIPESTATUS[0]}
if [ "$status" -eq 0 ] || [ -s "$printed" ]; then
    exit "$status"
fi
echo "wine-exec: $1 ended with status $status before printing anything; starting it again" >&2
# The copy of stderr is not waited for (a service of the prefix may hold it open): a moment lets
# it take what the start said.
sleep 0.5
{
    echo "$(date -u +%FT%TZ) status $status: $*"
    head -c 2000 "$errors" | sed 's/^/    stderr: /'
} >>"$restarts_log"
rm -f "$printed" "$errors"
trap - EXIT
exec "$WINE64" "$@"
