# Sourced by the other scripts: where things are, and the project's own Wine prefix.
ORLENWICK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ORLENWICK_BUILD=${ORLENWICK_BUILD:-$ORLENWICK_ROOT/build}
export WINEPREFIX=$ORLENWICK_BUILD/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer prompts while a prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The shell's Recycle Bin lives in the XDG trash: keep it inside the build folder.
export XDG_DATA_HOME=$ORLENWICK_BUILD/xdg-data
ORLENWICK_SCRATCH=$ORLENWICK_BUILD/scratch
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine64)
