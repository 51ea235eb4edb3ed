#!/usr/bin/env bash
# Runs one case of a test program on a volume of its own, in phases (tests/support/VolumeRun.h):
# the mounted phase with a new volume (an NTFS image, a tmpfs, a read-only tmpfs: KIND, of SIZE)
# mounted as N: of the project's prefix, then, for an NTFS volume, with the volume unmounted, the
# examine phase on its raw image and on ntfsundelete's listing of it. The case fails when a phase
# fails, or when no volume can be made here (the reason is printed).
#
#   VolumeScenario.sh <program.exe> <Suite.Case> <kind> <size>
#
# The image stays in build/volumes/n until the next case; the case's own files (what the mounted
# phase recorded, what the examine phase found) stay in build/volume-cases/<Suite.Case>.
#
# ctest ends a case past its limit with SIGKILL, which no trap sees: so every step here has a
# limit of its own, and all of them together, with the taking down at the end, stay within the
# case's ctest TIMEOUT. The volume is taken down on every other way out, and a volume a killed run
# left mounted is taken down by the next `up` and by scripts/test.sh at its end.
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
source "$scripts/common.sh"
[ $# -eq 4 ] || { echo "usage: $0 <program.exe> <Suite.Case> <kind> <size>" >&2; exit 2; }
program=$1
case=$2
kind=$3
size=$4
letter=n
export ORLENWICK_VOLUME_DRIVE=N:
export ORLENWICK_VOLUME_FOLDER=$ORLENWICK_BUILD/volumes/$letter
export ORLENWICK_VOLUME_CASE_FOLDER=$ORLENWICK_BUILD/volume-cases/$case
rm -rf "$ORLENWICK_VOLUME_CASE_FOLDER"
mkdir -p "$ORLENWICK_VOLUME_CASE_FOLDER"

# Nothing left mounted or mapped, and the prefix's server up again for the programs after this.
finish() {
    local status=$?
    timeout 60 "$scripts/test-volume.sh" down $letter || status=1
    timeout 60 "$scripts/wine-prefix.sh" || true
    exit $status
}
trap finish EXIT

phase() {
    echo "== $case: $1 phase"
    ORLENWICK_VOLUME_PHASE=$1 timeout "$2" "$scripts/wine-exec.sh" "$program" \
        --gtest_filter="$case" </dev/null
}

started=$(date +%s%N)
timeout 60 "$scripts/test-volume.sh" up "$kind" "$size" $letter
echo "== $case: $kind volume made, mounted and mapped in $((($(date +%s%N) - started) / 1000000)) ms"
status=0
phase mounted 240 || status=1
timeout 60 "$scripts/test-volume.sh" down $letter
[ "$kind" = ntfs ] || exit $status
# ntfsundelete's status says whether it found anything to recover; a listing has its heading.
listing=$ORLENWICK_VOLUME_FOLDER/undelete.txt
timeout 30 ntfsundelete -s "$ORLENWICK_VOLUME_FOLDER/image" >"$listing" 2>&1 || true
grep -q '^Inode  *Flags' "$listing" ||
    { echo "ntfsundelete could not read the image:"; cat "$listing"; status=1; }
timeout 60 "$scripts/wine-prefix.sh"
phase examine 120 || status=1
exit $status
