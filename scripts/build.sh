#!/usr/bin/env bash
# Builds the x86_64 tree (tested under Wine) and, with "all" or "i686", the i686 tree (compile and
# link only), each from its preset in CMakePresets.json, in build/<arch> (or $ORLENWICK_BUILD/<arch>).
set -euo pipefail
source "$(dirname "$0")/common.sh"
targets=${1:-x86_64}
[ "$targets" = all ] && targets="x86_64 i686"
for arch in $targets; do
    dir=$ORLENWICK_BUILD/$arch
    cmake -S "$ORLENWICK_ROOT" --preset "$arch" -B "$dir" >/dev/null
    cmake --build "$dir"
done
