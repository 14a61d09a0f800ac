#!/usr/bin/env bash
# What a safe offline `set` costs against a plain `hivexregedit --merge` of
# the same change, on a 28 MB NTUSER.DAT: wall time and peak memory of each,
# alternated in one series (other load on the machine then skews both
# alike), on a plain folder and on an NTFS image mounted through ntfs-3g
# (that part needs root and /dev/fuse, and is left out without them). Before
# each run the hive is copied into place, for both.
#
#   bench/offline_set.sh KESTROCTL KESTRO_EMPTY_HIVE WORKDIR [ROUNDS]
#
# KESTROCTL and KESTRO_EMPTY_HIVE are in the native build (build/native/
# ctl/kestroctl, build/native/tests/offline/kestro_empty_hive). The 28 MB hive is
# made once (a minute or two) and kept in WORKDIR.
set -euo pipefail
kestroctl=$(realpath "$1") empty_hive=$(realpath "$2") work=$3 rounds=${4:-5}
fixtures=$(cd "$(dirname "$0")/../tests/offline/fixtures" && pwd)
mkdir -p "$work"
work=$(realpath "$work")

# The big hive: the test profile's keys, and 1550 keys of 20 values of
# 450 bytes each beside them.
big=$work/ntuser-30mb.dat
if [ ! -s "$big" ]; then
    echo "making $big ..."
    "$empty_hive" "$big.tmp"
    python3 - "$work/big.reg" "$fixtures/ntuser.reg" <<'PY'
import sys
out, base = sys.argv[1], sys.argv[2]
blob = ",".join("%02x" % (i * 7 & 255) for i in range(450))
with open(out, "w") as f:
    f.write(open(base).read().rstrip("\n") + "\n\n[\\Software\\Bulk]\n\n")
    for k in range(1550):
        f.write("[\\Software\\Bulk\\Key%04d]\n" % k)
        for v in range(20):
            f.write('"Value%02d"=hex:%s\n' % (v, blob))
        f.write("\n")
PY
    hivexregedit --merge "$big.tmp" "$work/big.reg"
    mv "$big.tmp" "$big"
    rm -f "$work/big.reg"
fi
echo "hive: $(stat -c %s "$big") bytes"

cat >"$work/change.reg" <<'REG'
Windows Registry Editor Version 5.00

[\Software]

[\Software\Microsoft]

[\Software\Microsoft\Windows]

[\Software\Microsoft\Windows\CurrentVersion]

[\Software\Microsoft\Windows\CurrentVersion\Policies]

[\Software\Microsoft\Windows\CurrentVersion\Policies\System]
"DisableTaskMgr"=dword:00000000
REG

# A Windows folder under $1 with the big hive as Owner's.
make_volume() {
    local root=$1 config=$1/WINDOWS/system32/config
    mkdir -p "$config" "$root/Documents and Settings/Owner"
    "$empty_hive" "$config/system" "$config/software"
    hivexregedit --merge "$config/system" "$fixtures/system.reg"
    hivexregedit --merge "$config/software" "$fixtures/software.reg"
}

# ROOT: ROUNDS alternated runs of each (which goes first alternates too);
# prints each run, the medians, and the median of each round's own ratio,
# which load that comes and goes between rounds skews least.
series() {
    local root=$1 label=$2 hive="$1/Documents and Settings/Owner/NTUSER.DAT" i
    : >"$work/$label.set" && : >"$work/$label.merge"
    run_set() {
        cp "$big" "$hive" && rm -f "$hive".kestro-bak* && sync
        /usr/bin/time -f '%e %M' -o "$work/t" "$kestroctl" --offline "$root/WINDOWS" --user Owner \
            set DisableTaskMgr off 2>"$work/set.err" || { cat "$work/set.err"; exit 1; }
        cat "$work/t" >>"$work/$label.set"
    }
    run_merge() {
        cp "$big" "$hive" && sync
        /usr/bin/time -f '%e %M' -o "$work/t" hivexregedit --merge "$hive" "$work/change.reg"
        cat "$work/t" >>"$work/$label.merge"
    }
    for ((i = 0; i < rounds; i++)); do
        if ((i % 2 == 0)); then
            run_set
            run_merge
        else
            run_merge
            run_set
        fi
    done
    python3 - "$label" "$work/$label.set" "$work/$label.merge" "$(stat -c %s "$big")" <<'PY'
import statistics, sys
label, a, b, size = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
def load(p):
    rows = [l.split() for l in open(p) if l.strip()]
    return [float(r[0]) for r in rows], [int(r[1]) for r in rows]
st, sm = load(a)
mt, mm = load(b)
rounds = [s / m for s, m in zip(st, mt) if m > 0]
print("%s: kestroctl set   wall %s s, median %.3f s, peak %.1f MiB" % (label, " ".join("%.2f" % t for t in st), statistics.median(st), max(sm) / 1024))
print("%s: hivexregedit    wall %s s, median %.3f s, peak %.1f MiB" % (label, " ".join("%.2f" % t for t in mt), statistics.median(mt), max(mm) / 1024))
print("%s: ratio of medians %.2f, median of the rounds' ratios %.2f; peak %.2f x the merge's, %.2f x the hive" % (
    label, statistics.median(st) / statistics.median(mt), statistics.median(rounds), max(sm) / max(mm), max(sm) * 1024 / size))
PY
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
plain=$work/plain
rm -rf "$plain"
make_volume "$plain"
series "$plain" plain-folder

if [ "$(id -u)" -eq 0 ] && [ -c /dev/fuse ] && command -v ntfs-3g >/dev/null; then
    image=$work/ntfs.img mnt=$work/ntfs
    mkdir -p "$mnt"
    mountpoint -q "$mnt" && umount "$mnt"
    rm -f "$image"
    truncate -s 1G "$image"
    mkntfs -Q -F -q "$image" >/dev/null 2>&1
    ntfs-3g "$image" "$mnt"
    trap 'umount "$mnt" 2>/dev/null || umount -l "$mnt"; rm -f "$image"' EXIT
    make_volume "$mnt"
    series "$mnt" ntfs-3g
else
    echo "ntfs-3g: left out (needs root, /dev/fuse and ntfs-3g)"
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
