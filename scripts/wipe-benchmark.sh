#!/usr/bin/env bash
# The free-space wipe's benchmark (bench/WipeBenchmark.cpp) on volumes of its own: a new NTFS
# image under ntfs-3g and a tmpfs, each of SIZE, mounted as W: of the project's prefix, filled by
# the plain writer and the wipe in turns, and taken down again. Nothing else is ever filled: the
# benchmark refuses a drive that is not such a volume.
#
#   scripts/wipe-benchmark.sh [--size SIZE] [--rounds N] [ntfs] [tmpfs]   (default: 256M, 3, both)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
size=256M
rounds=3
kinds=()
while [ $# -gt 0 ]; do
    case $1 in
        --size) size=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        ntfs | tmpfs) kinds+=("$1"); shift ;;
        *) echo "usage: $0 [--size SIZE] [--rounds N] [ntfs] [tmpfs]" >&2; exit 2 ;;
    esac
done
[ ${#kinds[@]} -gt 0 ] || kinds=(ntfs tmpfs)
timeout 1200 "$here/install-deps.sh"
source "$here/common.sh"
timeout 1800 "$here/build.sh" x86_64
letter=w
trap 'status=$?; timeout 60 "$here/test-volume.sh" down $letter || status=1; "$here/wine-stop.sh"; exit $status' EXIT
export ORLENWICK_VOLUME_DRIVE=W:
export ORLENWICK_VOLUME_FOLDER=$ORLENWICK_BUILD/volumes/$letter
for kind in "${kinds[@]}"; do
    echo "== $kind volume of $size"
    timeout 60 "$here/test-volume.sh" up "$kind" "$size" $letter
    timeout 900 "$here/wine-exec.sh" "$ORLENWICK_BUILD/x86_64/WipeBenchmark.exe" "$rounds" </dev/null
    timeout 60 "$here/test-volume.sh" down $letter
done
