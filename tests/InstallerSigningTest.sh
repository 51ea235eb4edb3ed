#!/usr/bin/env bash
# The signatures of the packages InstallerPackages.sh built: the project's version, signed with a
# throwaway certificate, verifies against its throwaway authority (the package and both DLLs it
# carries), with SHA-256 and no time stamp; a copy with one byte changed does not verify; the
# next version, built without a certificate, carries no signature and said so.
#   InstallerSigningTest.sh <case> <test folder> <version> <next version>
here=$(cd "$(dirname "$0")" && pwd)
source "$here/support/ScriptCases.sh"
require_tools osslsigncode openssl || exit 1
case=$1
folder=$2
current=$folder/current
next=$folder/next
authority=$folder/certificate/ca.pem
signed=("$current/Orlenwick-$3.msi" "$current/files/x64/Orlenwick.dll"
        "$current/files/x86/Orlenwick.dll")
unsigned=("$next/Orlenwick-$4.msi" "$next/files/x64/Orlenwick.dll" "$next/files/x86/Orlenwick.dll")

# osslsigncode verify, its report in <work>/verify.log.
verify() {
    osslsigncode verify -CAfile "$authority" -in "$1" >"$work/verify.log" 2>&1
}

# The object identifiers of the file's signature, one a line; nothing when it has none.
signature_objects() {
    # As PEM: older osslsigncode writes a PE file's signature with its certificate-table header
    # when asked for DER, which openssl cannot parse.
    rm -f "$work/signature.pem"
    osslsigncode extract-signature -pem -in "$1" -out "$work/signature.pem" >/dev/null 2>&1 &&
        openssl asn1parse -inform PEM -in "$work/signature.pem" |
        awk -F':' '/OBJECT/ { print $NF }'
}

case_PackageAndItsDllsVerifyAgainstTheAuthority() {
    local file objects
    for file in "${signed[@]}"; do
        if ! verify "$file"; then
            fail "$file does not verify:"
            cat "$work/verify.log" >&2
        elif ! grep -q 'Orlenwick Test Publisher' "$work/verify.log"; then
            fail "$file is not signed by the test's publisher"
        fi
        objects=$(signature_objects "$file")
        grep -qx sha256 <<<"$objects" || fail "$file: no SHA-256 digest in its signature"
        grep -qxE 'sha1|md5' <<<"$objects" && fail "$file: a SHA-1 or MD5 digest in its signature"
        # Time-stamping is off unless asked for: neither an RFC 3161 token nor a countersignature.
        grep -qxE '1\.3\.6\.1\.4\.1\.311\.3\.3\.1|countersignature' <<<"$objects" &&
            fail "$file: its signature carries a time stamp"
    done
    # Without the authority the chain is not trusted: the verification above rests on it.
    osslsigncode verify -in "${signed[0]}" >/dev/null 2>&1 &&
        fail "${signed[0]} verifies without the test's authority"
}

case_OneChangedByteBreaksTheSignature() {
    local file copy size offset byte
    for file in "${signed[@]}"; do
        copy=$work/$(basename "$(dirname "$file")")-$(basename "$file")
        cp "$file" "$copy"
        # A byte in the middle of the file: inside the code of a DLL, inside the embedded
        # cabinet of the package; covered by the signature either way.
        size=$(stat -c %s "$copy")
        offset=$((size / 2))
        byte=$(od -An -tu1 -j "$offset" -N 1 "$copy" | tr -d ' ')
        printf "$(printf '\\%03o' $((byte ^ 0x5A)))" |
            dd of="$copy" bs=1 seek="$offset" conv=notrunc status=none
        [ "$(cmp -l "$file" "$copy" | wc -l)" = 1 ] || fail "$copy differs in other than one byte"
        if verify "$copy"; then
            fail "$copy verifies with a changed byte"
        elif ! grep -q MISMATCH "$work/verify.log"; then
            fail "$copy fails for another reason than its digest:"
            cat "$work/verify.log" >&2
        fi
    done
}

case_BuiltWithoutACertificateIsUnsignedAndSaysSo() {
    local file
    for file in "${unsigned[@]}"; do
        [ -s "$file" ] || { fail "$file is missing"; continue; }
        [ -z "$(signature_objects "$file")" ] || fail "$file carries a signature"
        verify "$file" && fail "$file verifies"
    done
    grep -q UNSIGNED "$next/package.log" || fail "package.sh did not say the next package is unsigned"
    grep -q UNSIGNED "$current/package.log" && fail "package.sh called the signed package unsigned"
}

run_case "$case"
