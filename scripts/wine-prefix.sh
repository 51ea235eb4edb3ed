#!/usr/bin/env bash
# Creates and boots the project's own Wine prefix (never ~/.wine) and keeps its server up.
# The prefix uses the null graphics driver, maps no drive to the Linux root, and maps T: to a
# scratch folder of the build, so a shredder bug under test cannot reach the machine's files.
set -euo pipefail
source "$(dirname "$0")/common.sh"
mkdir -p "$ORLENWICK_BUILD" "$ORLENWICK_SCRATCH" "$XDG_DATA_HOME"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Wine's background services inherit the first command's output: keep it away from pipes.
    timeout 180 "$WINE64" wineboot -i </dev/null >/dev/null 2>&1
    timeout 60 "$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
        </dev/null >/dev/null 2>&1
    # The desktop process started by the boot chose its driver before the setting existed:
    # end every process of the prefix so that the next start reads it.
    timeout 60 wineserver -k </dev/null >/dev/null 2>&1 || true
    timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || true
fi
# A Wine upgrade or a new boot can restore z:, so this runs every time.
rm -f "$WINEPREFIX/dosdevices/z:"
ln -sfn "$ORLENWICK_SCRATCH" "$WINEPREFIX/dosdevices/t:"
# A persistent server keeps each test program's start short; a second one exits at once.
setsid wineserver -p </dev/null >/dev/null 2>&1 &
timeout 60 "$WINE64" wineboot </dev/null >/dev/null 2>&1 || true
rm -f "$WINEPREFIX/dosdevices/z:"

# A program that opens a window starts the prefix's desktop process, which inherits the
# program's output and closes a second after the last program using the desktop has ended; ctest
# waits for a test's output to close, so every test would last that second longer. The build's
# desktop keeper, started once per server, holds the desktop with a message-only window until
# wine-stop.sh ends it: no window of its own takes the foreground or covers a test's dialog. It
# runs from a copy, so a rebuild never writes over the running program; before the tree is built
# there is none, and tests that open windows take the second longer.
keeper=$ORLENWICK_BUILD/x86_64/DesktopKeeper.exe
running_keeper=$ORLENWICK_BUILD/desktop-keeper/DesktopKeeper.exe
desktop_kept() {
    local pid
    for pid in $(pgrep -f 'DesktopKeeper\.exe' || true); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}
if [ -f "$keeper" ] && ! desktop_kept; then
    mkdir -p "$(dirname "$running_keeper")"
    cp "$keeper" "$running_keeper.new"
    mv -f "$running_keeper.new" "$running_keeper"
    setsid "$WINE64" "$running_keeper" </dev/null >/dev/null 2>&1 &
fi
