# What one ctest run said: source it, then ctest_counts LOG.
#
# Prints "PASSED FAILED SKIPPED" on its first line, then the name of each
# test that did not run, one a line. ctest counts a skipped or disabled test
# among the passed ones in its summary; here it is counted apart, so that a
# missing test-data folder or tool is seen and not taken for a pass.
# A GoogleTest case skipped with GTEST_SKIP is a skipped ctest test too:
# gtest_discover_tests gives every case a skip expression for gtest's
# "[  SKIPPED ]" line. ctest's total holds the skipped tests but not the
# disabled ones; both are counted as skipped here. Returns 1, printing nothing, when the log holds no
# summary (ctest did not run, or found no tests).
ctest_counts() {
    local log=$1 summary line total fail n
    # Only the summary's own lines count: what a test printed before them
    # (shown with --output-on-failure) may look like them.
    n=$(grep -nE '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$' "$log" | tail -n 1 | cut -d: -f1)
    [ -n "$n" ] || return 1
    summary=$(sed -n "${n}p" "$log")
    fail=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$summary")
    total=$(sed -E 's/.*out of ([0-9]+)$/\1/' <<<"$summary")

    local names=() in_list=0 skipped_in_total=0
    while IFS= read -r line; do
        if [ "$line" = "The following tests did not run:" ]; then
            in_list=1
            continue
        fi
        [ $in_list -eq 1 ] || continue
        if [[ $line =~ ^[[:space:]]*[0-9]+\ -\ (.+)\ \((Skipped|Disabled)\)$ ]]; then
            names+=("${BASH_REMATCH[1]}")
            [ "${BASH_REMATCH[2]}" = Disabled ] || skipped_in_total=$((skipped_in_total + 1))
        else
            in_list=0
        fi
    done < <(tail -n +"$n" "$log")

    echo "$((total - fail - skipped_in_total)) $fail ${#names[@]}"
    [ ${#names[@]} -eq 0 ] || printf '%s\n' "${names[@]}"
}
