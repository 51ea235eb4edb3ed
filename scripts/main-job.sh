#!/usr/bin/env bash
# The main job: set up (packages, build, the project's Wine prefix), register Orlenwick.dll
# with regsvr32, create sample files and a folder, shred them through the real shell-extension
# road (the shell stand-in creates the handler, builds its menu and chooses "Shred Item(s)",
# answering the confirm dialog), and show what is left. Then wipe the free space of a small
# drive made for it (a 32 MiB tmpfs, never the machine's own disk) through the drive's menu.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
timeout 1200 "$here/install-deps.sh"
source "$here/common.sh"
timeout 1800 "$here/build.sh" x86_64
timeout 300 "$here/wine-prefix.sh"
# The wipe's drive: a volume of the build's own, taken down whatever happens.
wipe_letter=w
trap 'status=$?; timeout 60 "$here/test-volume.sh" down $wipe_letter || status=1; "$here/wine-stop.sh"; exit $status' EXIT

# Everything lives under T:, the prefix's drive for the build's scratch folder.
install=$ORLENWICK_SCRATCH/Orlenwick
samples=$ORLENWICK_SCRATCH/samples
rm -rf "$install" "$samples"
mkdir -p "$install" "$samples/Holiday photos/raw" "$samples/Папка/日記"
cp "$ORLENWICK_BUILD/x86_64/Orlenwick.dll" "$ORLENWICK_BUILD/x86_64/ShellStandIn.exe" "$install/"
head -c 20000 /dev/urandom >"$samples/report.final.doc"
printf 'account 1234-5678\n' >"$samples/passwords.txt"
head -c 70000 /dev/urandom >"$samples/Holiday photos/beach.jpg"
head -c 5000 /dev/urandom >"$samples/Holiday photos/raw/beach.raw"
# Names outside the Western code page the prefix uses, and what a best-fit conversion would
# have made of one of them, which must stay.
head -c 3000 /dev/urandom >"$samples/Отчёт.txt"
head -c 4000 /dev/urandom >"$samples/Папка/🙂.txt"
head -c 2000 /dev/urandom >"$samples/Папка/日記/メモ.txt"
printf 'keep me\n' >"$samples/not-selected.txt"
printf 'keep me too\n' >"$samples/Otchet.txt"

echo "== registering T:\\Orlenwick\\Orlenwick.dll"
timeout 120 "$WINE64" regsvr32 /s 'T:\Orlenwick\Orlenwick.dll' </dev/null >/dev/null 2>&1
echo "regsvr32: ok"

echo "== before shredding (T:\\samples)"
(cd "$samples" && find . -mindepth 1 | sort)

echo "== shredding through the shell extension"
timeout 600 "$WINE64" 'T:\Orlenwick\ShellStandIn.exe' --confirm \
    'T:\samples\report.final.doc' 'T:\samples\passwords.txt' 'T:\samples\Holiday photos' \
    'T:\samples\Отчёт.txt' 'T:\samples\Папка' </dev/null 2>/dev/null

echo "== left in T:\\samples"
(cd "$samples" && find . -mindepth 1 | sort)

echo "== wiping the free space of a 32 MiB drive W: through the drive's menu"
timeout 60 "$here/test-volume.sh" up tmpfs 32M $wipe_letter
drive=$ORLENWICK_BUILD/volumes/$wipe_letter/mount
head -c 300000 /dev/urandom >"$drive/kept.bin"
head -c 2000000 /dev/urandom >"$drive/deleted.bin"
rm "$drive/deleted.bin"
timeout 600 "$WINE64" 'T:\Orlenwick\ShellStandIn.exe' --confirm --handlers-of Drive \
    --choose 'Wipe Free Space' 'W:\' </dev/null 2>/dev/null
echo "== left on W:"
(cd "$drive" && find . -mindepth 1 | sort)
