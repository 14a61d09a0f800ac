#!/usr/bin/env bash
# The rescue as a user runs it: the real kestroctl binary on a Windows whose
# user hive was left dirty by a hard switch-off (a hive and its old-format
# log that real Windows wrote, the log named as XP names it).
#
#   rescue_kestroctl.sh KESTROCTL EMPTY_HIVE_TOOL FIXTURES DIRTY_HIVES WORKDIR
#
# Prints "SKIPPED: ..." and exits 0 where the Windows-made hives are absent.
# With KESTRO_SCRATCH_ROOT (tests/offline/on_ntfs.sh) WORKDIR is made there,
# and on an NTFS volume the hive gets a descriptor and attributes as Windows
# gives them, which the write must keep.
set -uo pipefail
kestroctl=$1 empty_hive=$2 fixtures=$3 hives=$4 work=$5
[ -n "${KESTRO_SCRATCH_ROOT:-}" ] && work=$KESTRO_SCRATCH_ROOT/rescue-kestroctl
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

dirty=$hives/OldDirtyHive
if [ ! -f "$dirty/OldDirtyHive" ]; then
    echo "SKIPPED: no Windows-made dirty hives at $hives"
    exit 0
fi

rm -rf "$work"
volume=$work/volume
config=$volume/WINDOWS/system32/config
profile="$volume/Documents and Settings/Owner"
mkdir -p "$config" "$profile"
"$empty_hive" "$config/system" "$config/software" "$work/unused.dat" || { echo "FAIL: kestro_empty_hive"; exit 1; }
hivexregedit --merge "$config/system" "$fixtures/system.reg" &&
    hivexregedit --merge "$config/software" "$fixtures/software.reg" || { echo "FAIL: hivexregedit --merge"; exit 1; }
cp --sparse=never "$dirty/OldDirtyHive" "$profile/NTUSER.DAT"
cp --sparse=never "$dirty/OldDirtyHive.LOG1" "$profile/NTUSER.DAT.LOG"
chmod u+w "$profile"/*

# What Windows keeps on the files, where the volume has it: owned by the
# user, SYSTEM, Administrators and the user only; hidden, system, archive.
windows_descriptor=0x010004801400000030000000000000003c00000001050000000000051500000057040000ae080000050d0000eb030000010100000000000512000000020058000300000000101400ff011f0001010000000000051200000000101800ff011f000102000000000005200000002002000000102400ff011f0001050000000000051500000057040000ae080000050d0000eb030000
ntfs=0
if getfattr -h -n system.ntfs_acl "$profile/NTUSER.DAT" >/dev/null 2>&1; then
    ntfs=1
    for f in "$profile/NTUSER.DAT" "$profile/NTUSER.DAT.LOG"; do
        setfattr -h -n system.ntfs_acl -v "$windows_descriptor" "$f" &&
            setfattr -h -n system.ntfs_attrib_be -v 0x00000026 "$f" || fail "cannot set Windows' attributes on $f"
    done
fi
windows_attributes() {  # FILE: its descriptor and DOS attributes, as hex
    getfattr -h -e hex -n system.ntfs_acl --only-values "$1" 2>/dev/null | od -An -tx1 | tr -d ' \n'
    echo -n /
    getfattr -h -e hex -n system.ntfs_attrib_be --only-values "$1" 2>/dev/null | od -An -tx1 | tr -d ' \n'
}

sums() { (cd "$profile" && sha256sum NTUSER.DAT NTUSER.DAT.LOG); }
seqs() { od -An -tu4 -j4 -N8 "$1" | awk '{print $1, $2}'; }
offline() { "$kestroctl" --offline "$volume/WINDOWS" --user Owner "$@"; }

# Reading: the recovered state, no byte changed, one line saying so.
before=$(sums)
offline list >"$work/list.out" 2>"$work/list.err" || fail "list exited $?: $(cat "$work/list.err")"
grep -q 'was dirty.*recovered from its logs (NTUSER.DAT.LOG)' "$work/list.err" || fail "list did not say the hive was recovered: $(cat "$work/list.err")"
grep -q DisableTaskMgr "$work/list.out" || fail "list shows no DisableTaskMgr"
offline save "$work/saved.ini" 2>"$work/save.err" || fail "save exited $?: $(cat "$work/save.err")"
grep -q 'recovered from its logs' "$work/save.err" || fail "save did not say the hive was recovered"
[ "$(sums)" = "$before" ] || fail "reading changed the hive or its log"
read -r s1 s2 <<<"$(seqs "$profile/NTUSER.DAT")"
[ "$s1" != "$s2" ] || fail "the test hive is not dirty ($s1 $s2)"

# Writing: a clean hive with the change, the originals kept byte for byte.
offline set DisableTaskMgr off 2>"$work/set.err" || fail "set exited $?: $(cat "$work/set.err")"
read -r s1 s2 <<<"$(seqs "$profile/NTUSER.DAT")"
[ "$s1" = "$s2" ] || fail "the written hive is not clean: sequence numbers $s1 and $s2"
cmp -s "$profile/NTUSER.DAT.kestro-bak" "$dirty/OldDirtyHive" || fail "the hive's backup differs from the original"
cmp -s "$profile/NTUSER.DAT.LOG.kestro-bak" "$dirty/OldDirtyHive.LOG1" || fail "the log's backup differs from the original"
[ "$(offline get DisableTaskMgr 2>"$work/get.err")" = off ] || fail "get DisableTaskMgr after set: not off"
[ -s "$work/get.err" ] && fail "reading the written hive said: $(cat "$work/get.err")"
if [ "$ntfs" = 1 ]; then
    wanted="${windows_descriptor#0x}/00000026"
    for f in NTUSER.DAT NTUSER.DAT.kestro-bak NTUSER.DAT.LOG.kestro-bak; do
        [ "$(windows_attributes "$profile/$f")" = "$wanted" ] ||
            fail "$f lost what Windows set: $(windows_attributes "$profile/$f")"
    done
fi
reglookup -H "$profile/NTUSER.DAT" | grep -qi 'Policies/System/DisableTaskMgr,DWORD,0x00000000' ||
    fail "reglookup does not read DisableTaskMgr=0 in the written hive"

[ "$failures" -eq 0 ] && echo "rescue with the real kestroctl: passed"
exit "$((failures > 0))"
