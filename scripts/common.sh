# Sourced by the other scripts: where things are, and the project's own Wine prefix.
ORLENWICK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ORLENWICK_BUILD=${ORLENWICK_BUILD:-$ORLENWICK_ROOT/build}
export WINEPREFIX=$ORLENWICK_BUILD/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
# Wine reads file names and command lines from the Unix side in the locale's character set: in
# the C locale every name outside ASCII would be lost. C.UTF-8 keeps them whole and leaves the
# prefix on its Western ANSI code page, which the tests expect.
export LC_ALL=C.UTF-8
# No Mono or Gecko installer prompts while a prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The shell's Recycle Bin lives in the XDG trash: keep it inside the build folder.
export XDG_DATA_HOME=$ORLENWICK_BUILD/xdg-data
ORLENWICK_SCRATCH=$ORLENWICK_BUILD/scratch
# Wine's 64-bit loader is looked up here, so a script that runs Wine sources this file only after
# its install step: on a new machine Wine arrives with that step.
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine64)

# Fails, naming every missing one, unless all the programs given are on the PATH. What a test
# needs is installed by scripts/install-deps.sh before the tests run, never by the test itself.
require_tools() {
    local tool missing=()
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "missing tool(s): ${missing[*]} (scripts/install-deps.sh installs them)" >&2
        return 1
    fi
}
