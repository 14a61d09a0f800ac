#!/usr/bin/env bash
# scripts/test's counting (scripts/lib/ctest-counts.sh) on logs of real ctest
# runs: a small suite whose tests pass, fail, skip by exit code, skip by
# GoogleTest's skip line, and are disabled, run by this ctest.
# Usage: ctest_counts_test.sh REPO WORKDIR
set -uo pipefail
repo=$1 work=$2
source "$repo/scripts/lib/ctest-counts.sh"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {  # expect WHAT EXPECTED ACTUAL
    [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

rm -rf "$work" && mkdir -p "$work/suite" "$work/passing" || exit 1

# A suite with every outcome; the gtest-like test prints GoogleTest's own
# skip line, and gets the skip expression gtest_discover_tests gives; the
# failing one prints what looks like ctest's list, shown before the summary.
cat >"$work/suite/CTestTestfile.cmake" <<'SUITE'
add_test(Plain.Passes "true")
add_test(Plain.Fails "sh" "-c" "echo 'The following tests did not run:'; echo '  9 - Fake (Skipped)'; exit 1")
add_test(Dirty.SkipsByCode "sh" "-c" "exit 77")
set_tests_properties(Dirty.SkipsByCode PROPERTIES SKIP_RETURN_CODE 77)
add_test(Dirty.SkipsInGtest "sh" "-c" "echo '[  SKIPPED ] Dirty.SkipsInGtest (0 ms)'")
set_tests_properties(Dirty.SkipsInGtest PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
add_test(Plain.Off "true")
set_tests_properties(Plain.Off PROPERTIES DISABLED TRUE)
add_test(Plain.AlsoPasses "true")
SUITE
(cd "$work/suite" && ctest -j2 --output-on-failure) >"$work/suite.log" 2>&1
counts=$(ctest_counts "$work/suite.log") || fail "no counts from a ctest log with a summary"
expect "the counts of every outcome" "2 1 3" "$(head -n 1 <<<"$counts")"
expect "the tests that did not run, named" "Dirty.SkipsByCode Dirty.SkipsInGtest Plain.Off" \
       "$(tail -n +2 <<<"$counts" | sort | tr '\n' ' ' | sed 's/ $//')"

# Nothing skipped: no list, one line.
cat >"$work/passing/CTestTestfile.cmake" <<'SUITE'
add_test(One "true")
SUITE
(cd "$work/passing" && ctest) >"$work/passing.log" 2>&1
expect "a run where all passed" "1 0 0" "$(ctest_counts "$work/passing.log")"

# A test's output before the summary that looks like a summary is not one;
# a log without a summary gives no counts.
printf '%s\n' '50% tests passed, 1 tests failed out of 2' 'Total Test time (real) =   0.01 sec' >"$work/cut.log"
printf 'some test output\n' >"$work/empty.log"
ctest_counts "$work/empty.log" >/dev/null && fail "counts from a log without a summary"
cat "$work/empty.log" "$work/passing.log" >"$work/mixed.log"
expect "a summary found after other output" "1 0 0" "$(ctest_counts "$work/mixed.log")"
expect "a hand-made summary with one failure" "1 1 0" "$(ctest_counts "$work/cut.log")"

[ $failures -eq 0 ] && echo "ctest counts: all checks passed"
exit $((failures > 0))
