#!/usr/bin/env bash
# A fresh 64 MiB exFAT file system mounted through FUSE, for the tests:
#   exfat-mount.sh mount DIR    makes DIR.img, mounts it on DIR (made if missing)
#   exfat-mount.sh umount DIR   unmounts DIR, frees its loop device, removes DIR.img and DIR
# Where the machine cannot (no /dev/fuse, no loop device, not root, tools missing)
# "mount" exits 77 with the reason on stderr and leaves nothing behind.
set -euo pipefail
what=${1:?mount or umount}
dir=${2:?folder}
img=$dir.img

skip() {
    echo "$*" >&2
    exit 77
}

case $what in
mount)
    [ -c /dev/fuse ] || skip "no /dev/fuse"
    [ "$(id -u)" -eq 0 ] || skip "attaching a loop device needs root"
    for tool in mount.exfat-fuse mkfs.exfat losetup; do
        command -v "$tool" >/dev/null || skip "$tool is missing (install exfat-fuse exfatprogs)"
    done
    mkdir -p "$dir"
    truncate -s 64M "$img"
    mkfs.exfat "$img" >/dev/null 2>&1 || { rm -f "$img"; skip "mkfs.exfat failed"; }
    loop=$(losetup -f --show "$img" 2>/dev/null) || { rm -f "$img"; skip "no free loop device"; }
    echo "$loop" >"$img.loop"
    if ! mount.exfat-fuse "$loop" "$dir" >/dev/null 2>&1; then
        losetup -d "$loop" || true
        rm -f "$img" "$img.loop"
        rmdir "$dir" 2>/dev/null || true
        skip "mount.exfat-fuse failed"
    fi
    ;;
umount)
    if mountpoint -q "$dir"; then
        umount "$dir" 2>/dev/null || umount -l "$dir"
    fi
    if [ -f "$img.loop" ]; then
        losetup -d "$(cat "$img.loop")" 2>/dev/null || true
    fi
    rm -f "$img" "$img.loop"
    rmdir "$dir" 2>/dev/null || true
    ;;
*)
    echo "usage: $0 mount|umount DIR" >&2
    exit 2
    ;;
esac
