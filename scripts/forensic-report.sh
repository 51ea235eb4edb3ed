#!/usr/bin/env bash
# What a recovery look still finds after shredding on a real NTFS volume: runs cases of the
# recovery-look tests (tests/RecoveryLookTest.cpp), each on a new volume, and prints, per kind of
# item, the content markers, the names (UTF-16 and code-page forms) and the ntfsundelete rows
# found in the raw image, with what was reported for the item.
#
#   scripts/forensic-report.sh [--all | Case...]
#
# Without arguments: RandomDataMangledWithTails (random data, one pass, names mangled, cluster
# tails on). --all runs every case. Whether a case's assertions held is printed after its
# findings; the report itself succeeds as long as every case could be run and examined.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
timeout 1200 "$here/install-deps.sh"
source "$here/common.sh"
timeout 1800 "$here/build.sh" x86_64 >/dev/null
timeout 300 "$here/wine-prefix.sh"
trap 'status=$?; timeout 120 "$here/test-volume.sh" down all || status=1; "$here/wine-stop.sh"; exit $status' EXIT

program=$ORLENWICK_BUILD/x86_64/tests/RecoveryLookTest.exe
cases=("$@")
if [ ${#cases[@]} -eq 0 ]; then
    cases=(RandomDataMangledWithTails)
elif [ "${cases[0]}" = --all ]; then
    mapfile -t cases < <(sed -n 's/^TEST_F(RecoveryLookTest, \([A-Za-z0-9_]*\)).*/\1/p' \
        "$ORLENWICK_ROOT/tests/RecoveryLookTest.cpp")
fi
for case in "${cases[@]}"; do
    name=RecoveryLookTest.$case
    folder=$ORLENWICK_BUILD/volume-cases/$name
    log=$ORLENWICK_BUILD/volume-cases/$name.log
    mkdir -p "$(dirname "$log")"
    verdict="all its assertions held"
    timeout 720 "$ORLENWICK_ROOT/tests/VolumeScenario.sh" "$program" "$name" ntfs 64M >"$log" 2>&1 ||
        verdict="some of its assertions failed (see ${log#"$ORLENWICK_ROOT"/})"
    if [ ! -s "$folder/findings.txt" ]; then
        echo "$name could not be examined:" >&2
        tail -n 30 "$log" >&2
        exit 1
    fi
    cat "$folder/findings.txt"
    echo
    echo "$name: $verdict"
    echo
done
