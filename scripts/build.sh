#!/usr/bin/env bash
# Builds the x86_64 tree (tested under Wine) and, with "all" or "i686", the i686 tree (compile and link only).
set -euo pipefail
source "$(dirname "$0")/common.sh"
targets=${1:-x86_64}
[ "$targets" = all ] && targets="x86_64 i686"
for arch in $targets; do
    dir=$ORLENWICK_BUILD/$arch
    cmake -S "$ORLENWICK_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ORLENWICK_ROOT/cmake/toolchain-$arch.cmake" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
done
