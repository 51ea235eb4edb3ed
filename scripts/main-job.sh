#!/usr/bin/env bash
# The main job: set up (packages, build, Wine prefix), then shred sample files through a real
# worker job under Wine, printing what the progress window receives and what is left on disk.
set -euo pipefail
here=$(dirname "$0")
source "$here/common.sh"
timeout 1200 "$here/install-deps.sh"
timeout 1800 "$here/build.sh" x86_64
timeout 300 "$here/wine-prefix.sh"
trap '"$here/wine-stop.sh"' EXIT
timeout 300 "$here/wine-exec.sh" "$ORLENWICK_BUILD/x86_64/ShredDemo.exe"
