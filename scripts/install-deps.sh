#!/usr/bin/env bash
# Installs the cross toolchain, Wine, the installer package tools and the test tools (among them
# ntfs-3g, which makes and mounts the NTFS volumes of the recovery-look tests) when any of them is
# missing.
set -euo pipefail
packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64 libwine-dev
          googletest cmake xvfb x11-utils imagemagick clang-format wixl msitools ntfs-3g)
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
