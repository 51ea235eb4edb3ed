# Sourced by the test scripts: each defines its cases as functions case_<Name> (ctest makes each
# an entry of its own, <script>.<Name>) and ends with `run_case "$case"`. A check that fails
# says what it found and the case goes on, so that one run shows every failure. Each run has a
# folder of its own, $work, removed at its end; require_tools (from the scripts' common.sh)
# fails a test that misses a tool, naming it.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
failures=0
work=$(mktemp -d "${TMPDIR:-/tmp}/orlenwick-$(basename "$0" .sh).XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# expect_eq <what> <expected> <actual>
expect_eq() {
    [ "$2" = "$3" ] || fail "$1: expected \"$2\", found \"$3\""
}

run_case() {
    local name=$1
    if ! declare -F "case_$name" >/dev/null; then
        echo "no case $name in $0" >&2
        exit 2
    fi
    "case_$name"
    if [ "$failures" -gt 0 ]; then
        echo "$name: $failures check(s) failed" >&2
        exit 1
    fi
    echo "$name: passed"
}
