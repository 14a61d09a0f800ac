#!/usr/bin/env bash
# Two real kestroctl runs writing one hive at the same moment, many times:
# every change a run reports as made must be in the hive afterwards (one
# writer at a time; the second waits for the first).
#
#   concurrent_writers.sh KESTROCTL EMPTY_HIVE_TOOL FIXTURES WORKDIR [ROUNDS]
#
# With KESTRO_SCRATCH_ROOT (tests/offline/on_ntfs.sh) WORKDIR is made there.
set -uo pipefail
kestroctl=$1 empty_hive=$2 fixtures=$3 work=$4 rounds=${5:-20}
[ -n "${KESTRO_SCRATCH_ROOT:-}" ] && work=$KESTRO_SCRATCH_ROOT/concurrent-writers
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
volume=$work/volume
config=$volume/WINDOWS/system32/config
profile="$volume/Documents and Settings/Owner"
mkdir -p "$config" "$profile"
"$empty_hive" "$config/system" "$config/software" "$profile/NTUSER.DAT" || { echo "FAIL: kestro_empty_hive"; exit 1; }
for hive in "$config/system:system" "$config/software:software" "$profile/NTUSER.DAT:ntuser"; do
    hivexregedit --merge "${hive%:*}" "$fixtures/${hive##*:}.reg" || { echo "FAIL: hivexregedit --merge"; exit 1; }
done
offline() { "$kestroctl" --offline "$volume/WINDOWS" --user Owner "$@"; }

made=0
for ((i = 1; i <= rounds; i++)); do
    if ((i % 2)); then value=off; else value=on; fi
    offline --no-backup set DisableTaskMgr "$value" 2>"$work/a.err" &
    a=$!
    offline --no-backup set DisableRegistryTools "$value" 2>"$work/b.err" &
    b=$!
    wait "$a"; ra=$?
    wait "$b"; rb=$?
    # A run that did not report its change made must say why.
    [ "$ra" -eq 0 ] || grep -q 'another kestroctl is writing it' "$work/a.err" || fail "round $i: run A exited $ra: $(cat "$work/a.err")"
    [ "$rb" -eq 0 ] || grep -q 'another kestroctl is writing it' "$work/b.err" || fail "round $i: run B exited $rb: $(cat "$work/b.err")"
    got_a=$(offline get DisableTaskMgr 2>&1)
    got_b=$(offline get DisableRegistryTools 2>&1)
    [ "$ra" -ne 0 ] || [ "$got_a" = "$value" ] || fail "round $i: DisableTaskMgr was reported set to $value, the hive has $got_a"
    [ "$rb" -ne 0 ] || [ "$got_b" = "$value" ] || fail "round $i: DisableRegistryTools was reported set to $value, the hive has $got_b"
    made=$((made + (ra == 0) + (rb == 0)))
done
leftover=$(cd "$profile" && ls -A | grep -v '^NTUSER.DAT$')
[ -z "$leftover" ] || fail "left beside the hive: $leftover"
echo "concurrent writers: $made of $((2 * rounds)) changes reported made, $failures failures"
[ "$failures" -eq 0 ]
