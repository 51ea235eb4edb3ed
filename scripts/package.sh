#!/usr/bin/env bash
# Builds the installer package <output>/Orlenwick-<version>.msi (by default build/package): the
# x64 and x86 DLLs, their registration generated under Wine from the DLLs themselves (their own
# registry script and type library, see tools/PackageRegistration.cpp), and wixl.
#
#   scripts/package.sh [--build-dir DIR] [--version A.B.C.D] [--output DIR] [--keep-wine-running]
#
# --build-dir holds the two trees (DIR/x86_64, DIR/i686; default build/), --version builds another
# version than the project's own, --keep-wine-running leaves the prefix's server up for a caller
# that runs more Wine programs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
timeout 1200 "$here/install-deps.sh"
source "$here/common.sh"
trees=$ORLENWICK_BUILD
output=$ORLENWICK_BUILD/package
version_option=()
keep_wine=no
while [ $# -gt 0 ]; do
    case $1 in
        --build-dir) trees=$2; shift 2 ;;
        --version) version_option=(-DORLENWICK_VERSION="$2"); shift 2 ;;
        --output) output=$2; shift 2 ;;
        --keep-wine-running) keep_wine=yes; shift ;;
        *) echo "usage: $0 [--build-dir DIR] [--version A.B.C.D] [--output DIR] [--keep-wine-running]" >&2
           exit 2 ;;
    esac
done

mkdir -p "$trees" "$output"
# wixl runs in a folder of its own: every path it is given must be absolute.
trees=$(cd "$trees" && pwd)
output=$(cd "$output" && pwd)
# Only what the package needs: the DLL of each bitness and the generator.
for arch in x86_64 i686; do
    cmake -S "$ORLENWICK_ROOT" -B "$trees/$arch" -DCMAKE_BUILD_TYPE=Release "${version_option[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$ORLENWICK_ROOT/cmake/toolchain-$arch.cmake" >/dev/null
done
timeout 1800 cmake --build "$trees/x86_64" --target Orlenwick PackageRegistration -j "$(nproc)" >/dev/null
timeout 1800 cmake --build "$trees/i686" --target Orlenwick -j "$(nproc)" >/dev/null

timeout 300 "$here/wine-prefix.sh"
work=$(mktemp -d "$ORLENWICK_SCRATCH/package.XXXXXX")
cleanup() {
    status=$?
    rm -rf "$work"
    [ "$keep_wine" = yes ] || "$here/wine-stop.sh"
    exit $status
}
trap cleanup EXIT
# The generator runs from T:, the prefix's drive for the scratch folder.
mkdir -p "$work/x64" "$work/x86"
cp "$trees/x86_64/Orlenwick.dll" "$work/x64/"
cp "$trees/i686/Orlenwick.dll" "$work/x86/"
cp "$trees/x86_64/PackageRegistration.exe" "$work/"
drive='T:\'$(basename "$work")
version=$(timeout 120 "$here/wine-exec.sh" "$drive\\PackageRegistration.exe" "$drive\\x64\\Orlenwick.dll" \
    "$drive\\x86\\Orlenwick.dll" "$drive" </dev/null | tr -d '\r')
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "no version from the generator" >&2; exit 1; }

msi=$output/Orlenwick-$version.msi
rm -f "$msi"
# wixl takes the package's architecture from -a, not from the Package element, and finds the
# files only by paths relative to where it runs.
(cd "$work" && wixl -a x64 -I . -D Dll64=x64/Orlenwick.dll -D Dll32=x86/Orlenwick.dll \
    -o "$msi" "$ORLENWICK_ROOT/installer/Orlenwick.wxs")
# wixl reports some failures only on its standard error.
[ -s "$msi" ] || { echo "wixl wrote no package" >&2; exit 1; }
# What wixl leaves out: the files' versions (the installer compares them on repair and
# upgrade), and IncludeMaximum, so that a rebuild of the same version replaces the installed
# one instead of installing beside it. The upgrade code is the template's.
property() { msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' -v name="$1" '$1 == name { print $2 }'; }
upgrade_code=$(property UpgradeCode)
msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$version', \`Language\` = '1033'"
msibuild "$msi" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'OLDERVERSIONFOUND'"
msibuild "$msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '0.0.0', '$version', 768, 'OLDERVERSIONFOUND')"
[ "$(property ProductVersion)" = "$version" ] || { echo "the package's version is not $version" >&2; exit 1; }
echo "$msi"
