#!/usr/bin/env bash
# Runs a test command on a real NTFS volume: a fresh image made with mkntfs,
# mounted through ntfs-3g with its default options (as the README's rescue
# mounts a Windows disk), given to the command as KESTRO_SCRATCH_ROOT, where
# the offline suites make every file. The volume is always unmounted, also
# when the command fails or the run is interrupted.
#
#   on_ntfs.sh WORKDIR COMMAND [ARG...]
#
# Mounting through FUSE needs root and /dev/fuse: where either is missing,
# prints "SKIPPED: <why>" and exits 77 (ctest's SKIP_RETURN_CODE).
set -uo pipefail
work=$1
shift

skip() {
    echo "SKIPPED: $*"
    exit 77
}
command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null ||
    skip "mkntfs and ntfs-3g are not installed (scripts/install-deps installs ntfs-3g)"
[ "$(id -u)" -eq 0 ] || skip "mounting an NTFS image through ntfs-3g needs root"
[ -c /dev/fuse ] || skip "there is no /dev/fuse for ntfs-3g"

image=$work/volume.img
mnt=$work/mnt
mkdir -p "$work" "$mnt"
# A mount that a killed run left behind.
mountpoint -q "$mnt" && umount "$mnt"
rm -f "$image"
truncate -s "${KESTRO_NTFS_SIZE:-512M}" "$image"
if ! out=$(mkntfs -Q -F -q -L kestro-test "$image" 2>&1); then
    echo "FAIL: mkntfs: $out"
    exit 1
fi
if ! out=$(ntfs-3g "$image" "$mnt" 2>&1); then
    echo "FAIL: ntfs-3g $image $mnt: $out"
    rm -f "$image"
    exit 1
fi
unmount() {
    cd / || return
    umount "$mnt" 2>/dev/null || umount -l "$mnt"
    rm -f "$image"
}
trap unmount EXIT
trap 'exit 130' INT TERM

echo "on_ntfs: $(findmnt -n -o SOURCE,FSTYPE,OPTIONS "$mnt")"
KESTRO_SCRATCH_ROOT=$mnt "$@"
