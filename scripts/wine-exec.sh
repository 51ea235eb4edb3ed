#!/usr/bin/env bash
# Runs one Windows program in the project's prefix; the emulator of ctest.
source "$(dirname "$0")/common.sh"
if [ -e "$WINEPREFIX/dosdevices/z:" ] || [ -L "$WINEPREFIX/dosdevices/z:" ]; then
    echo "refusing to run: drive z: of $WINEPREFIX maps the Linux root (run scripts/wine-prefix.sh)" >&2
    exit 97
fi
exec "$WINE64" "$@"
