#!/usr/bin/env bash
# A volume of the build's own, mounted and mapped as a drive of the project's Wine prefix for the
# tests that need a real file system under them, and taken down again.
#
#   scripts/test-volume.sh up ntfs|tmpfs|tmpfs-readonly SIZE LETTER   (SIZE as truncate and mount
#                                                                     take it: 64M)
#   scripts/test-volume.sh down LETTER|all
#
# An NTFS volume is a new image file, build/volumes/LETTER/image, made anew by every `up` and
# mounted by ntfs-3g with Windows' stream names (the image file itself: through a loop device
# Wine's GetVolumeInformation fails). After `down` the image is the raw disk, left in the build
# folder for a recovery tool to read. A tmpfs volume is memory limited to SIZE; a tmpfs-readonly
# one is mounted read-only once its token is written. Each is mounted at
# build/volumes/LETTER/mount, and LETTER: maps that mount and nothing else.
#
# Every volume carries a random token in its root, .orlenwick-test-volume, and the same token in
# build/volumes/LETTER/token: a test that is about to fill a drive proves with them that the drive
# is a volume made here (tests/support/TestVolume.h), never the machine's own disk.
#
# Wine sees only the drives that exist when its server starts: both directions end the prefix's
# processes first. `up` starts the server again (scripts/wine-prefix.sh); `down` leaves it
# stopped. `down all` takes down every volume of the build, whatever state a killed run left.
# A volume that cannot be mounted here (not root, no /dev/fuse, no ntfs-3g) fails `up` with the
# reason on stderr.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
volumes=$ORLENWICK_BUILD/volumes

fail() {
    echo "test-volume: $*" >&2
    exit 1
}

usage() {
    echo "usage: $0 up ntfs|tmpfs|tmpfs-readonly SIZE LETTER | down LETTER|all" >&2
    exit 2
}

# The prefix's own drives (c:, the scratch drive t:) and z: (never mapped) are not for volumes.
check_letter() {
    [[ $1 =~ ^[abd-su-y]$ ]] || fail "drive letter '$1' is not one for a test volume (a-y, not c or t)"
}

is_mounted() {
    mountpoint -q "$1" 2>/dev/null
}

# The ntfs-3g process of a volume runs until its image is written and closed; a zombie has.
daemon_running() {
    local pid state
    pid=$(cat "$1/ntfs-3g.pid" 2>/dev/null) || return 1
    state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ] && grep -qa ntfs-3g "/proc/$pid/cmdline"
}

take_down() {
    local letter=$1
    local folder=$volumes/$letter
    rm -f "$WINEPREFIX/dosdevices/$letter:"
    if is_mounted "$folder/mount"; then
        local tries=0
        until umount "$folder/mount" 2>/dev/null; do
            tries=$((tries + 1))
            [ $tries -lt 50 ] || fail "$folder/mount is still busy: $(umount "$folder/mount" 2>&1)"
            sleep 0.2
        done
    fi
    # ntfs-3g writes the last of the volume after the unmount has returned.
    local waits=0
    while daemon_running "$folder"; do
        waits=$((waits + 1))
        [ $waits -lt 150 ] || fail "ntfs-3g of $folder/image did not end after the unmount"
        sleep 0.2
    done
    rm -f "$folder/ntfs-3g.pid" "$folder/token"
    [ ! -d "$folder/mount" ] || rmdir "$folder/mount"
}

up() {
    [ $# -eq 3 ] || usage
    local kind=$1 size=$2 letter=$3
    [[ $kind == ntfs || $kind == tmpfs || $kind == tmpfs-readonly ]] || usage
    [[ $size =~ ^[0-9]+[KMG]$ ]] || fail "size '$size' is not a number followed by K, M or G"
    check_letter "$letter"
    [ "$(id -u)" = 0 ] || fail "mounting a test volume needs root (this is uid $(id -u))"
    if [ "$kind" = ntfs ]; then
        [ -c /dev/fuse ] || fail "no /dev/fuse on this machine: ntfs-3g cannot mount an NTFS volume"
        command -v ntfs-3g >/dev/null && command -v mkntfs >/dev/null ||
            fail "ntfs-3g is not installed (scripts/install-deps.sh installs it)"
    fi
    local folder=$volumes/$letter
    "$here/wine-stop.sh"
    take_down "$letter"
    rm -rf "$folder"
    mkdir -p "$folder/mount"
    # Whatever fails from here leaves nothing mounted or mapped.
    trap "status=\$?; [ \$status -eq 0 ] || { '$here/wine-stop.sh'; take_down '$letter'; }" EXIT
    if [ "$kind" = ntfs ]; then
        truncate -s "$size" "$folder/image"
        mkntfs -F -Q -q "$folder/image" >"$folder/mkntfs.log" 2>&1 ||
            fail "mkntfs failed: $(cat "$folder/mkntfs.log")"
        # In the foreground of a process of its own, so that `down` can wait for its end.
        setsid ntfs-3g -o streams_interface=windows,no_detach "$folder/image" "$folder/mount" \
            </dev/null >"$folder/ntfs-3g.log" 2>&1 &
        echo $! >"$folder/ntfs-3g.pid"
        local waits=0
        until is_mounted "$folder/mount"; do
            daemon_running "$folder" || fail "ntfs-3g could not mount $folder/image: $(cat "$folder/ntfs-3g.log")"
            waits=$((waits + 1))
            [ $waits -lt 100 ] || fail "ntfs-3g did not mount $folder/image within 10 s"
            sleep 0.1
        done
    else
        mount -t tmpfs -o "size=$size" tmpfs "$folder/mount" ||
            fail "cannot mount a tmpfs of $size at $folder/mount"
    fi
    is_mounted "$folder/mount" || fail "nothing is mounted at $folder/mount"
    local token
    token=$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')
    printf '%s' "$token" >"$folder/token"
    printf '%s' "$token" >"$folder/mount/.orlenwick-test-volume"
    if [ "$kind" = tmpfs-readonly ]; then
        mount -o remount,ro "$folder/mount" || fail "cannot make $folder/mount read-only"
    fi
    ln -sfn "$folder/mount" "$WINEPREFIX/dosdevices/$letter:"
    "$here/wine-prefix.sh"
}

down() {
    [ $# -eq 1 ] || usage
    "$here/wine-stop.sh"
    if [ "$1" = all ]; then
        local folder
        for folder in "$volumes"/?; do
            [ -d "$folder" ] && take_down "$(basename "$folder")"
        done
        return 0
    fi
    check_letter "$1"
    take_down "$1"
}

[ $# -ge 1 ] || usage
command=$1
shift
case $command in
    up) up "$@" ;;
    down) down "$@" ;;
    *) usage ;;
esac
