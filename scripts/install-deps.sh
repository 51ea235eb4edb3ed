#!/usr/bin/env bash
# Installs the cross toolchain, Wine, the installer package and signing tools and the test tools
# (among them ntfs-3g, which makes and mounts the NTFS volumes of the recovery-look tests) when
# any of them is missing. Tests never install: ctest marks their environment with
# ORLENWICK_TEST_RUN, and then this refuses to run at all.
set -euo pipefail
if [ -n "${ORLENWICK_TEST_RUN:-}" ]; then
    echo "install-deps.sh: called from a test; tests install nothing (run scripts/install-deps.sh" \
         "before the tests)" >&2
    exit 1
fi
packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64 libwine-dev
          googletest cmake xvfb x11-utils imagemagick clang-format wixl msitools osslsigncode
          openssl ntfs-3g ninja-build)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q "${missing[@]}" >/dev/null
