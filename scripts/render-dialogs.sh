#!/usr/bin/env bash
# Renders each of the dialogs under Xvfb, with Wine's X11 driver in a prefix of its own
# (the test prefix uses the null driver), into docs/pictures/*.png.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
timeout 1200 "$here/install-deps.sh"
source "$here/common.sh"
export WINEPREFIX=$ORLENWICK_BUILD/wineprefix-x11
out=$ORLENWICK_ROOT/docs/pictures
gallery=$ORLENWICK_BUILD/x86_64/DialogGallery.exe
# A display nobody else on the machine uses.
number=99
while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do
    number=$((number + 1))
done
display=:$number
mkdir -p "$out"
work=$(mktemp -d)

setsid Xvfb $display -screen 0 800x600x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
sleep 1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 180 "$WINE64" wineboot -i </dev/null >/dev/null 2>&1
fi
rm -f "$WINEPREFIX/dosdevices/z:"
# Without z: a Unix path cannot be started from the Wine desktop: run the program from T:.
mkdir -p "$ORLENWICK_SCRATCH/gallery"
cp "$gallery" "$ORLENWICK_SCRATCH/gallery/"
ln -sfn "$ORLENWICK_SCRATCH" "$WINEPREFIX/dosdevices/t:"
setsid wineserver -p </dev/null >/dev/null 2>&1 &

render() {
    local which=$1 caption=$2
    # A Wine desktop of its own draws the window frames and captions.
    timeout 60 "$WINE64" explorer /desktop=gallery,420x280 'T:\gallery\DialogGallery.exe' "$which" 8 \
        </dev/null >/dev/null 2>&1 &
    local shown=$!
    for _ in $(seq 1 40); do
        if xwininfo -root -tree 2>/dev/null | grep -q "\"$caption\""; then break; fi
        sleep 0.25
    done
    sleep 1.5
    import -window root -crop 420x280+0+0 +repage "$work/$which.png"
    # Keep the dialog and its frame: trim the empty desktop around it.
    convert "$work/$which.png" -trim +repage "$out/$which.png"
    wait "$shown" || true
    echo "rendered $out/$which.png"
}
render confirm "Confirm Shredding"
render settings "Settings"
render progress "Shredding items..."
render wipe-confirm "Wipe Free Space"
render wipe-progress "Wiping Free Space..."
