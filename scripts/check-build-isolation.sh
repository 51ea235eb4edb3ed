#!/usr/bin/env bash
# Shows that neither the tests nor package.sh reach into the ordinary build and that no test
# installs anything: runs scripts/test.sh twice, scripts/package.sh --version <version>, and
# scripts/test.sh once more, with an apt-get first on the PATH that records every call and
# fails, and compares build/x86_64/CMakeCache.txt after each step with the one its first build
# left. Exits 1 when the cache changed, the version reached it, or apt-get was called.
#   scripts/check-build-isolation.sh [A.B.C.D]     (default 9.9.9.9)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
version=${1:-9.9.9.9}
# The set-up installs what is missing before apt-get is replaced.
timeout 1200 "$here/install-deps.sh"
source "$here/common.sh"
timeout 1800 "$here/build.sh" x86_64
cache=$ORLENWICK_BUILD/x86_64/CMakeCache.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$cache" "$work/CMakeCache.first"
mkdir "$work/bin"
cat >"$work/bin/apt-get" <<RECORDER
#!/bin/sh
echo "apt-get \$* (called by: \$(tr '\\0' ' ' </proc/\$PPID/cmdline))" >>"$work/apt-get.log"
exit 1
RECORDER
chmod +x "$work/bin/apt-get"
export PATH=$work/bin:$PATH

status=0
step() {
    local name=$1
    shift
    echo "== $name"
    local start=$SECONDS
    "$@" >"$work/step.log" 2>&1 || { status=1; echo "FAILED: $name"; tail -40 "$work/step.log"; }
    echo "   took $((SECONDS - start)) s"
    grep -E 'tests passed|tests failed' "$work/step.log" | sed 's/^/   /' || true
    if cmp -s "$work/CMakeCache.first" "$cache"; then
        echo "   build/x86_64/CMakeCache.txt unchanged"
    else
        status=1
        echo "   build/x86_64/CMakeCache.txt CHANGED:"
        diff "$work/CMakeCache.first" "$cache" | head -20 || true
    fi
}
step "scripts/test.sh" "$here/test.sh"
step "scripts/test.sh again" "$here/test.sh"
step "scripts/package.sh --version $version" "$here/package.sh" --version "$version"
step "scripts/test.sh after it" "$here/test.sh"

if grep -qF "$version" "$cache"; then
    status=1
    echo "the ordinary build's cache names $version"
fi
for arch in x86_64 i686; do
    grep -qxF "ORLENWICK_VERSION:UNINITIALIZED=$version" \
        "$ORLENWICK_BUILD/package-$arch-$version/CMakeCache.txt" ||
        { status=1; echo "no package tree of $version for $arch"; }
done
if [ -s "$work/apt-get.log" ]; then
    status=1
    echo "apt-get was called:"
    cat "$work/apt-get.log"
else
    echo "apt-get was not called"
fi
exit $status
