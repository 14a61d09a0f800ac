#!/usr/bin/env bash
# kestroctl's message catalogue: ctl/po/ru.po passes msgfmt --check, and
# every Tr("...") of ctl/ and Localized("...") of the engine below it has
# its Russian text there (not missing, not
# empty, not fuzzy); each one without is named. The check itself is proved
# on a copy of ru.po with one translation taken out.
#
#   messages_check.sh SOURCE_DIR WORKDIR
set -uo pipefail
src=$1 work=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
rm -rf "$work" && mkdir -p "$work"

msgfmt --check -o "$work/ru.mo" "$src/ctl/po/ru.po" || fail "msgfmt --check refuses ctl/po/ru.po"
"$src/scripts/lib/extract-messages" "$work/kestroctl.pot" 2>/dev/null || fail "xgettext cannot read ctl/"
count=$(grep -c '^msgid "' "$work/kestroctl.pot")
[ "$count" -gt 100 ] || fail "only $count messages found in ctl/: is Tr() still the keyword?"
# The engine's texts are collected too: one of offline/, one of formats/, one
# marked in a table.
for engine in 'msgid "no user profile \"%1\" beside %2 (profiles: %3)"' 'msgid "a zero character"' \
    'msgid "security descriptor"'; do
    grep -qxF -- "$engine" "$work/kestroctl.pot" || fail "the template lacks the engine's [$engine]: is Localized() collected?"
done

# The messages of the code as ru.po translates them: those without a
# Russian text (missing, empty or fuzzy) are listed by their English text.
missing() {  # missing PO: each message of ctl/ without its Russian text, as msgid lines
    msgmerge --quiet --no-fuzzy-matching -o "$work/merged.po" "$1" "$work/kestroctl.pot" &&
        { msgattrib --untranslated --no-obsolete --no-wrap "$work/merged.po";
          msgattrib --only-fuzzy --no-obsolete --no-wrap "$work/merged.po"; } | grep '^msgid "' | grep -v '^msgid ""$'
}
list=$(missing "$src/ctl/po/ru.po")
if [ -n "$list" ]; then
    echo "$list"
    fail "$(wc -l <<<"$list") messages in ctl/ have no Russian text in ctl/po/ru.po (above; run scripts/update-po and fill in their msgstr)"
else
    echo "ok: all $((count - 1)) messages of ctl/ and the engine have their Russian text"
fi
msgcmp "$src/ctl/po/ru.po" "$work/kestroctl.pot" >/dev/null 2>&1 || fail "msgcmp: ru.po does not cover the messages of ctl/"

# A redirected kestroctl.exe on a Russian Windows writes code page 866:
# every Russian text must have its characters there (no guillemets, no dashes).
msgconv --to-code=CP866 -o /dev/null "$src/ctl/po/ru.po" 2>"$work/cp866.txt" ||
    fail "ctl/po/ru.po has characters code page 866 lacks: $(cat "$work/cp866.txt")"

# The check fails when a translation is missing, and names that message.
awk '/^msgid "unknown command/ {hit = 1} hit && /^msgstr / {print "msgstr \"\""; hit = 0; next} {print}' \
    "$src/ctl/po/ru.po" >"$work/one-missing.po"
list=$(missing "$work/one-missing.po")
[ "$list" = "msgid \"unknown command '%1'\"" ] || fail "one translation taken out: the check lists [$list]"
msgcmp "$work/one-missing.po" "$work/kestroctl.pot" >/dev/null 2>&1 &&
    fail "msgcmp accepts a ru.po whose 'unknown command' has no Russian text"
echo "ok: a missing translation fails the check and is named"
exit $((failures > 0))
