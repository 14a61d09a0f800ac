#!/usr/bin/env bash
# The link checker (links.py) on small trees: it passes a sound one and
# fails each kind of broken link, naming it.
# Usage: links_test.sh CHECKER WORKDIR
set -uo pipefail
checker=$1 work=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# tree NAME: a sound tree; the case then breaks it.
tree() {
    local t=$work/$1
    rm -rf "$t" && mkdir -p "$t/docs/ru" "$t/ctl"
    printf 'int main() {}\n' >"$t/ctl/main.cpp"
    printf 'png' >"$t/docs/shot.png"
    cat >"$t/README.md" <<'MD'
# Top

![a shot](docs/shot.png) see [the guide](docs/guide.md#the-keys-tab-and-enter),
[its code](ctl/main.cpp), [the folder](ctl/), [Russian](docs/ru/guide.md), [up](#top)
and [the web](https://example.org/missing.md).

```sh
cat [not a link](nowhere.md)
```
MD
    cat >"$t/docs/guide.md" <<'MD'
# Guide
## The keys: `Tab` and Enter
Back to [the front](../README.md#top); `[code](nowhere.md)` is text.
## Заголовок по-русски
MD
    printf '# Руководство\nСм. [заголовок](../guide.md#заголовок-по-русски).\n' >"$t/docs/ru/guide.md"
    echo "$t"
}

expect_pass() {
    local out
    out=$("$checker" "$1" 2>&1) || fail "$2: refused: $out"
}
expect_fail() {  # TREE CASE WHAT-THE-MESSAGE-NAMES
    local out
    if out=$("$checker" "$1" 2>&1); then
        fail "$2: passed"
    elif ! grep -qF -- "$3" <<<"$out"; then
        fail "$2: the message does not name $3: $out"
    fi
}

t=$(tree sound); expect_pass "$t" "a sound tree"

t=$(tree missing-file); sed -i 's|docs/guide.md#|docs/gide.md#|' "$t/README.md"
expect_fail "$t" "a link to a missing page" "README.md:3: docs/gide.md#the-keys-tab-and-enter: no such file"

t=$(tree missing-image); rm "$t/docs/shot.png"
expect_fail "$t" "a missing image" "docs/shot.png: no such file"

t=$(tree missing-anchor); sed -i 's|## The keys|## Keys|' "$t/docs/guide.md"
expect_fail "$t" "a heading renamed" "no heading #the-keys-tab-and-enter in docs/guide.md"

t=$(tree missing-own-anchor); sed -i 's|^# Top|# Kestro|' "$t/README.md"
expect_fail "$t" "a link to a missing heading of its own page" "docs/guide.md:3: ../README.md#top"

t=$(tree cyrillic-anchor); sed -i 's|Заголовок по-русски|Заголовок|' "$t/docs/guide.md"
expect_fail "$t" "a Cyrillic heading renamed" "docs/ru/guide.md:2"

t=$(tree unlinked); sed -i 's|, \[Russian\](docs/ru/guide.md)||' "$t/README.md"
expect_fail "$t" "a page the README does not link" "docs/ru/guide.md: not linked from README.md"

t=$(tree reference); printf '\nSee [the notes][n].\n\n[n]: docs/notes.md\n' >>"$t/README.md"
expect_fail "$t" "a reference-style link" "docs/notes.md: no such file"

[ $failures -eq 0 ] && echo "links checker: all checks passed"
exit $((failures > 0))
