#!/usr/bin/env bash
# Draws the product icon (a sheet going through a shredder) at 32x32 and 16x16 into
# resources/Orlenwick.ico. Run by hand when the artwork changes; the .ico is committed.
set -euo pipefail
out=$(cd "$(dirname "$0")/../resources" && pwd)/Orlenwick.ico
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 32x32 xc:none \
  -fill white -stroke '#505050' -draw 'rectangle 8,1 23,14' \
  -stroke '#9a9a9a' -draw 'line 11,4 20,4' -draw 'line 11,7 20,7' -draw 'line 11,10 18,10' \
  -stroke none -fill '#1f4e8c' -draw 'roundrectangle 3,14 28,19 2,2' \
  -fill '#c8102e' -draw 'rectangle 5,16 7,17' \
  -fill '#c9c9c9' \
  -draw 'rectangle 9,20 10,28' -draw 'rectangle 12,20 13,30' -draw 'rectangle 15,20 16,27' \
  -draw 'rectangle 18,20 19,30' -draw 'rectangle 21,20 22,26' "$work/32.png"
convert -size 16x16 xc:none \
  -fill white -stroke '#505050' -draw 'rectangle 4,0 11,6' \
  -stroke none -fill '#1f4e8c' -draw 'rectangle 1,7 14,9' \
  -fill '#b5b5b5' -draw 'rectangle 4,10 4,14' -draw 'rectangle 6,10 6,15' \
  -draw 'rectangle 8,10 8,13' -draw 'rectangle 10,10 10,15' "$work/16.png"
convert "$work/32.png" "$work/16.png" "$out"
