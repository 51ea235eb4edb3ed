#!/usr/bin/env bash
# Builds the two packages the installer tests install and inspect, with scripts/package.sh in
# its own trees (never the tree under test), installing nothing:
#   current/  the project's version, signed with a throwaway code-signing certificate issued by
#             a throwaway certificate authority (certificate/ca.pem), made here with openssl;
#   next/     the next version, unsigned.
# Each folder gets the package, what package.sh said on its standard error (package.log), and
# the DLLs the package carries, taken out of it (files/x64, files/x86).
#   InstallerPackages.sh <test folder> <next version>
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
source "$scripts/common.sh"
folder=$1
next=$2
require_tools openssl msiextract

rm -rf "$folder/certificate" "$folder/current" "$folder/next"
mkdir -p "$folder/certificate" "$folder/current" "$folder/next"

# A certificate authority and a code-signing certificate it issued, valid for two days: enough
# for the tests that follow, worthless to anyone who finds them.
certificate=$folder/certificate
(
    cd "$certificate"
    openssl rand -hex 16 >password
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout ca.key -out ca.pem \
        -subj "/CN=Orlenwick Test Authority" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign"
    openssl req -newkey rsa:2048 -nodes -keyout signing.key -out signing.csr \
        -subj "/CN=Orlenwick Test Publisher"
    printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
        "extendedKeyUsage=codeSigning" >signing.ext
    openssl x509 -req -in signing.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile signing.ext -out signing.pem
    openssl pkcs12 -export -inkey signing.key -in signing.pem -certfile ca.pem \
        -passout file:password -out signing.p12
) >"$certificate/openssl.log" 2>&1 || { cat "$certificate/openssl.log" >&2; exit 1; }

# package.sh's standard error goes to the log and on to ctest's output.
package() {
    local out=$1
    shift
    local status=0
    "$scripts/package.sh" --no-install --keep-wine-running --output "$out" "$@" \
        2>"$out/package.log" || status=$?
    cat "$out/package.log" >&2
    return $status
}
package "$folder/current" --sign-pkcs12 "$certificate/signing.p12" \
    --sign-password-file "$certificate/password"
package "$folder/next" --version "$next"

# The PE header's machine field: 8664 for x64, 014c for x86.
machine() {
    local header
    header=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
    od -An -tx2 -j $((header + 4)) -N 2 "$1" | tr -d ' '
}
for package_folder in "$folder/current" "$folder/next"; do
    extracted=$package_folder/extracted
    mkdir -p "$extracted" "$package_folder/files/x64" "$package_folder/files/x86"
    msiextract -C "$extracted" "$package_folder"/Orlenwick-*.msi >/dev/null
    while IFS= read -r -d '' dll; do
        case $(machine "$dll") in
            8664) cp "$dll" "$package_folder/files/x64/" ;;
            014c) cp "$dll" "$package_folder/files/x86/" ;;
        esac
    done < <(find "$extracted" -name Orlenwick.dll -print0)
    rm -rf "$extracted"
    for bitness in x64 x86; do
        [ -f "$package_folder/files/$bitness/Orlenwick.dll" ] ||
            { echo "no $bitness Orlenwick.dll in $package_folder" >&2; exit 1; }
    done
done
