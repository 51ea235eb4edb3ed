#!/usr/bin/env bash
# Builds the two packages the installer test installs: the project's own version from the
# build's trees, and the next version from trees of the test's own (only the DLLs and the
# generator are built there).
#   InstallerPackages.sh <folder of the build's trees> <test folder> <next version>
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
trees=$1
folder=$2
next=$3
"$scripts/package.sh" --build-dir "$trees" --output "$folder/current" --keep-wine-running
"$scripts/package.sh" --build-dir "$folder/trees" --version "$next" --output "$folder/next" \
    --keep-wine-running
