#!/usr/bin/env bash
# Builds the installer package <output>/Orlenwick-<version>.msi (by default build/package): the
# x64 and x86 DLLs, their registration generated under Wine from the DLLs themselves (their own
# registry script and type library, see tools/PackageRegistration.cpp), and wixl. With a
# certificate, both DLLs are signed before they are packed and the package after its last edit.
#
#   scripts/package.sh [--version A.B.C.D] [--output DIR] [--build-dir DIR] [--keep-wine-running]
#                      [--no-install] [--sign-pkcs12 FILE --sign-password-file FILE]
#                      [--timestamp-url URL]
#
# The DLLs are built in trees of the package's own, configured once from the presets
# package-x86_64 and package-i686: DIR/package-<arch> for the project's version, and
# DIR/package-<arch>-<version> for --version (DIR is --build-dir, default build/). The ordinary
# trees (build/x86_64, build/i686) are never touched.
#
# --keep-wine-running leaves the prefix's server up for a caller that runs more Wine programs.
# --no-install installs nothing (a test's run): a missing tool fails, named.
# --sign-pkcs12 and --sign-password-file (or ORLENWICK_SIGN_PKCS12 and
# ORLENWICK_SIGN_PASSWORD_FILE) give the code-signing certificate with its key and the file
# holding its password; without them the package is built unsigned, and says so.
# --timestamp-url (or ORLENWICK_TIMESTAMP_URL) has each signature countersigned by that RFC 3161
# time-stamping service; it needs the network, so there is none by default.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage="usage: $0 [--version A.B.C.D] [--output DIR] [--build-dir DIR] [--keep-wine-running]
       [--no-install] [--sign-pkcs12 FILE --sign-password-file FILE] [--timestamp-url URL]"
version=
output=
trees=
keep_wine=no
install=yes
pkcs12=${ORLENWICK_SIGN_PKCS12:-}
password_file=${ORLENWICK_SIGN_PASSWORD_FILE:-}
timestamp_url=${ORLENWICK_TIMESTAMP_URL:-}
while [ $# -gt 0 ]; do
    case $1 in
        --version|--output|--build-dir|--sign-pkcs12|--sign-password-file|--timestamp-url)
            [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; } ;;
    esac
    case $1 in
        --version) version=$2; shift 2 ;;
        --output) output=$2; shift 2 ;;
        --build-dir) trees=$2; shift 2 ;;
        --keep-wine-running) keep_wine=yes; shift ;;
        --no-install) install=no; shift ;;
        --sign-pkcs12) pkcs12=$2; shift 2 ;;
        --sign-password-file) password_file=$2; shift 2 ;;
        --timestamp-url) timestamp_url=$2; shift 2 ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
done
if [ -n "$version" ] && ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    echo "package.sh: --version takes four numbers A.B.C.D, not $version" >&2
    exit 2
fi
if [ "${pkcs12:+given}" != "${password_file:+given}" ]; then
    echo "package.sh: signing needs both the certificate (--sign-pkcs12) and its password file" \
         "(--sign-password-file)" >&2
    exit 2
fi
for file in "$pkcs12" "$password_file"; do
    [ -z "$file" ] || [ -r "$file" ] || { echo "package.sh: cannot read $file" >&2; exit 2; }
done

tools=(cmake wixl msiinfo msibuild)
[ -z "$pkcs12" ] || tools+=(osslsigncode)
if [ "$install" = yes ]; then
    timeout 1200 "$here/install-deps.sh"
fi
source "$here/common.sh"
require_tools "${tools[@]}"

trees=${trees:-$ORLENWICK_BUILD}
output=${output:-$ORLENWICK_BUILD/package}
mkdir -p "$trees" "$output"
# wixl runs in a folder of its own: every path it is given must be absolute.
trees=$(cd "$trees" && pwd)
output=$(cd "$output" && pwd)
[ -z "$pkcs12" ] || pkcs12=$(cd "$(dirname "$pkcs12")" && pwd)/$(basename "$pkcs12")
[ -z "$password_file" ] ||
    password_file=$(cd "$(dirname "$password_file")" && pwd)/$(basename "$password_file")

# Only what the package needs: the DLL of each bitness and the generator. A tree is configured
# from its preset when it is made; later builds reconfigure it themselves when the project's
# CMake files change.
tree() { echo "$trees/package-$1${version:+-$version}"; }
for arch in x86_64 i686; do
    if [ ! -f "$(tree $arch)/CMakeCache.txt" ]; then
        cmake -S "$ORLENWICK_ROOT" --preset "package-$arch" -B "$(tree $arch)" \
            ${version:+-DORLENWICK_VERSION="$version"} >/dev/null
    fi
done
timeout 1800 cmake --build "$(tree x86_64)" --target Orlenwick PackageRegistration >/dev/null
timeout 1800 cmake --build "$(tree i686)" --target Orlenwick >/dev/null

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
cp "$(tree x86_64)/Orlenwick.dll" "$work/x64/"
cp "$(tree i686)/Orlenwick.dll" "$work/x86/"
cp "$(tree x86_64)/PackageRegistration.exe" "$work/"
cp "$ORLENWICK_ROOT/resources/Orlenwick.ico" "$work/"
drive='T:\'$(basename "$work")
built=$(timeout 120 "$here/wine-exec.sh" "$drive\\PackageRegistration.exe" "$drive\\x64\\Orlenwick.dll" \
    "$drive\\x86\\Orlenwick.dll" "$drive" </dev/null | tr -d '\r')
[[ $built =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "no version from the generator" >&2; exit 1; }
[ -z "$version" ] || [ "$built" = "$version" ] ||
    { echo "package.sh: the DLLs carry version $built, not $version" >&2; exit 1; }

# Authenticode with SHA-256, in place. osslsigncode signs PE files and packages alike.
sign() {
    local file=$1
    local options=(-pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n Orlenwick)
    [ -z "$timestamp_url" ] || options+=(-ts "$timestamp_url")
    timeout 300 osslsigncode sign "${options[@]}" -in "$file" -out "$file.signed" >/dev/null ||
        { echo "package.sh: osslsigncode could not sign $file" >&2; exit 1; }
    mv -f "$file.signed" "$file"
}
if [ -n "$pkcs12" ]; then
    sign "$work/x64/Orlenwick.dll"
    sign "$work/x86/Orlenwick.dll"
else
    echo "package.sh: no certificate given (--sign-pkcs12 and --sign-password-file, or" \
         "ORLENWICK_SIGN_PKCS12 and ORLENWICK_SIGN_PASSWORD_FILE): the DLLs and the package" \
         "are built UNSIGNED" >&2
fi

msi=$output/Orlenwick-$built.msi
rm -f "$msi"
# wixl takes the package's architecture from -a, not from the Package element, and finds the
# files only by paths relative to where it runs.
(cd "$work" && wixl -a x64 -I . -D Dll64=x64/Orlenwick.dll -D Dll32=x86/Orlenwick.dll \
    -D Icon=Orlenwick.ico -o "$msi" "$ORLENWICK_ROOT/installer/Orlenwick.wxs")
# wixl reports some failures only on its standard error.
[ -s "$msi" ] || { echo "wixl wrote no package" >&2; exit 1; }
# What wixl leaves out: the files' versions (the installer compares them on repair and
# upgrade), and IncludeMaximum, so that a rebuild of the same version replaces the installed
# one instead of installing beside it. The upgrade code is the template's.
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
property() { table Property | awk -F'\t' -v name="$1" '$1 == name { print $2 }'; }
upgrade_code=$(property UpgradeCode)
msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$built', \`Language\` = '1033'"
# wixl hashes every file; the installer compares a versioned file by its version, and a hash
# beside a version is an error to package validation.
if msiinfo tables "$msi" | grep -qx MsiFileHash; then
    versioned=$(table File | awk -F'\t' '$5 != "" { print $1 }')
    for file in $versioned; do
        msibuild "$msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$file'"
    done
fi
msibuild "$msi" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'OLDERVERSIONFOUND'"
msibuild "$msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '0.0.0', '$built', 768, 'OLDERVERSIONFOUND')"
[ "$(property ProductVersion)" = "$built" ] || { echo "the package's version is not $built" >&2; exit 1; }
# Signed last: any later edit would break the signature.
[ -z "$pkcs12" ] || sign "$msi"
echo "$msi"
