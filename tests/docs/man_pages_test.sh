#!/usr/bin/env bash
# The English and the Russian manual pages of kestroctl, as the build made
# them: man renders each without a warning, at the width of a terminal and at
# a wide one; the Russian one is Russian (its section names translated, not
# left in English), and names every command and option that the English one
# describes in its COMMANDS and OPTIONS (each .TP tag's words).
# Usage: man_pages_test.sh ENGLISH_PAGE RUSSIAN_PAGE
set -uo pipefail
english=$1 russian=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for page in "$english" "$russian"; do
    [ -s "$page" ] || { fail "$page: missing or empty"; continue; }
    for width in 80 200; do
        warnings=$(MANWIDTH=$width LANG=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$page at width $width: $warnings"
    done
done
[ $failures -eq 0 ] || exit 1

render() { MANWIDTH=200 LANG=C.UTF-8 man -l "$1" 2>/dev/null | col -bx; }
en=$(render "$english") ru=$(render "$russian")

for heading in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS ENVIRONMENT; do
    grep -qx "$heading" <<<"$en" || fail "the English page has no section $heading"
    ! grep -qx "$heading" <<<"$ru" || fail "the Russian page has the English section name $heading"
done
for heading in ИМЯ ОБЗОР ОПИСАНИЕ КОМАНДЫ ПАРАМЕТРЫ ОКРУЖЕНИЕ; do
    grep -qx "$heading" <<<"$ru" || fail "the Russian page has no section $heading"
done

# A tag is the line after a .TP in those two sections of the page's source:
# a command with its options ("export reg FILE [--profile P] ..."), or an
# option; its fonts and quotes taken out, so that both pages' tags read alike.
# tags PAGE COMMANDS OPTIONS: the sections' names as the page spells them.
tags() {
    awk -v c="$2" -v o="$3" '
        /^\.SH/ {name = $0; sub(/^\.SH +/, "", name); gsub(/"/, "", name); on = (name == c || name == o); next}
        on && tp {print; tp = 0; next}
        on && /^\.TP/ {tp = 1}' "$1" |
        sed -E 's/^\.[BIR]+ //; s/\\f[BIRP]//g; s/\\-/-/g; s/"//g'
}
en_tags=$(tags "$english" COMMANDS OPTIONS) ru_tags=$(tags "$russian" КОМАНДЫ ПАРАМЕТРЫ)
words=$(grep -oE -- '(^| |\[|\|)-{0,2}[a-z][a-z-]*' <<<"$en_tags" | tr -d ' [|' | sort -u)
count=$(wc -w <<<"$words")
[ "$count" -ge 20 ] || fail "found only $count command and option words in the English page: $words"
for word in $words; do
    grep -qE -- "(^|[^a-z-])$word([^a-z-]|\$)" <<<"$ru_tags" ||
        fail "the Russian page's COMMANDS and OPTIONS do not name '$word'"
done
[ "$(wc -l <<<"$en_tags")" -eq "$(wc -l <<<"$ru_tags")" ] ||
    fail "the English page has $(wc -l <<<"$en_tags") tags, the Russian one $(wc -l <<<"$ru_tags")"

[ $failures -eq 0 ] && echo "both manual pages render cleanly; the Russian one names all $count words"
exit $((failures > 0))
