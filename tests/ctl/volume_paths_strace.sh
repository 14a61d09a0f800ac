#!/usr/bin/env bash
# After kestroctl has opened the folder that holds WINDIR, it reaches every
# file and folder below it from descriptors it holds: no open, stat, link,
# rename or removal names a path below that folder whole (which a link
# swapped in meanwhile could redirect). Checked with strace on a `set` (that
# keeps a backup and its record) and on the `restore` that puts it back.
#
#   volume_paths_strace.sh KESTROCTL EMPTY_HIVE_TOOL FIXTURES WORKDIR
#
# With KESTRO_SCRATCH_ROOT (tests/offline/on_ntfs.sh) the volume is made
# there. "SKIPPED: ..." without strace.
set -uo pipefail
kestroctl=$1 empty_hive=$2 fixtures=$3 work=$4
command -v strace >/dev/null || { echo "SKIPPED: strace is not installed (scripts/install-deps installs it)"; exit 0; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
rm -rf "$work"
mkdir -p "$work"
vol=${KESTRO_SCRATCH_ROOT:+$KESTRO_SCRATCH_ROOT/strace-volume}
vol=${vol:-$work/volume}
source "$(dirname "$0")/xp_volume.sh"
make_xp_volume "$vol" "$work"

# LeakSanitizer cannot run under ptrace: in the sanitizer build the traced
# runs leave leaks to the other tests, which run the same code untraced.
[ -z "${ASAN_OPTIONS:-}" ] || export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"

# Every system call that takes a path, of the process and its children.
traced() {  # NAME ARGS...
    local name=$1
    shift
    timeout -k 2 60 strace -f -qq -o "$work/$name.trace" -e trace=%file \
        "$kestroctl" --offline "$vol/WINDOWS" --user Owner "$@" >"$work/$name.out" 2>"$work/$name.err" ||
        fail "$name: kestroctl $* exited $?: $(cat "$work/$name.err")"
    # From the first open of the volume's folder on, no quoted path below it.
    awk -v vol="$vol" '
        !opened && index($0, "\"" vol "\"") && $0 ~ /open/ { opened = 1; next }
        opened && index($0, "\"" vol "/") { print }
    ' "$work/$name.trace" >"$work/$name.bad"
    grep -q "\"$vol\"" "$work/$name.trace" || fail "$name: the trace never shows $vol opened"
    [ -s "$work/$name.bad" ] && fail "$name: paths below the volume after it was opened:
$(head -5 "$work/$name.bad")"
}
traced set set DisableTaskMgr off
[ -f "$profile/NTUSER.DAT.kestro-bak.kestro-record" ] || fail "set kept no record"
traced restore restore
grep -q 'put back' "$work/restore.out" || fail "restore put nothing back: $(cat "$work/restore.err")"

[ "$failures" -eq 0 ] && echo "no path below the volume after it was opened: passed"
exit "$((failures > 0))"
