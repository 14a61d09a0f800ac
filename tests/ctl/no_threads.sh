#!/usr/bin/env bash
# kestroctl where the system gives no thread (each pthread_create fails,
# through a preloaded library): a set, its record and a restore go through
# as they do with one, the work done on the main thread.
#
#   no_threads.sh KESTROCTL EMPTY_HIVE_TOOL FIXTURES NO_THREADS_LIBRARY WORKDIR
set -uo pipefail
kestroctl=$1 empty_hive=$2 fixtures=$3 library=$4 work=$5
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The library does what it says here: Python cannot start a thread under it.
LD_PRELOAD=$library python3 -c 'import threading; threading.Thread(target=print).start()' 2>/dev/null &&
    { echo "FAIL: a thread was started under $library"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
source "$(dirname "$0")/xp_volume.sh"
make_xp_volume "$work/vol" "$work"
offline() { LD_PRELOAD=$library "$kestroctl" --offline "$work/vol/WINDOWS" --user Owner "$@"; }

before=$(sha256sum <"$profile/NTUSER.DAT")
offline set DisableTaskMgr off >"$work/out" 2>"$work/err" || fail "set exited $?: $(cat "$work/err")"
[ "$(offline get DisableTaskMgr 2>&1)" = off ] || fail "get after set: $(offline get DisableTaskMgr 2>&1)"
[ -f "$profile/NTUSER.DAT.kestro-bak" ] || fail "no backup: $(ls -A "$profile")"
offline restore >"$work/out" 2>"$work/err" || fail "restore exited $?: $(cat "$work/err")"
[ "$(sha256sum <"$profile/NTUSER.DAT")" = "$before" ] || fail "restore did not give the original back"
left=$(cd "$profile" && ls -A | grep -E '^\.|kestro-lock' | tr '\n' ' ')
[ -z "$left" ] || fail "left behind: $left"

[ "$failures" -eq 0 ] && echo "no threads: passed"
exit "$((failures > 0))"
