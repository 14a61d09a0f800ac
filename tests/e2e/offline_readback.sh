#!/usr/bin/env bash
# The window agrees with kestroctl --offline: an offline Windows made from
# the test fixtures is changed by the native kestroctl, its hives' values are
# merged into a fresh Wine prefix with `wine reg import`, and every toggle
# the real kestro.exe then shows (read with kestro_probe) must be what
# `kestroctl --offline list` reported.
#
#   offline_readback.sh KESTRO_EXE PROBE_EXE NATIVE_BUILD_DIR
#
# Needs a display (scripts/test starts Xvfb) and the native build (for
# kestroctl and kestro_empty_hive), which scripts/test makes first.
set -uo pipefail
exe=$1
probe=$2
native=$3
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$(dirname "$exe")/.." && pwd)
kestroctl=$native/ctl/kestroctl
empty_hive=$native/tests/offline/kestro_empty_hive
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for tool in "$kestroctl" "$empty_hive"; do
    [ -x "$tool" ] || { echo "FAIL: $tool is missing: build the native preset first"; exit 1; }
done
[ -n "${DISPLAY:-}" ] || { echo "FAIL: no display"; exit 1; }

# ---------------------------------------------------------------- offline
work=$build/offline-e2e
rm -rf "$work"
volume=$work/volume
config=$volume/WINDOWS/system32/config
ntuser="$volume/Documents and Settings/Owner/NTUSER.DAT"
mkdir -p "$config" "$(dirname "$ntuser")"
"$empty_hive" "$config/system" "$config/software" "$ntuser" || { echo "FAIL: kestro_empty_hive"; exit 1; }
fixtures=$src/tests/offline/fixtures
hivexregedit --merge "$config/system" "$fixtures/system.reg" &&
    hivexregedit --merge "$config/software" "$fixtures/software.reg" &&
    hivexregedit --merge "$ntuser" "$fixtures/ntuser.reg" || { echo "FAIL: hivexregedit --merge"; exit 1; }

offline() { "$kestroctl" --offline "$volume/WINDOWS" --user Owner "$@"; }
# The rescue, and a few restrictions put on, user's and machine's.
for change in "DisableTaskMgr off" "DisableRegistryTools off" "NoFind on" "NoDispCPL on" "FontSmoothing on" \
              "CdromOff on" "UsbStorageOff off" "CdAutorunOff off" "LastAccessUpdateOff on"; do
    # shellcheck disable=SC2086
    offline --no-backup set $change 2>/dev/null || fail "kestroctl --offline set $change"
done
offline list --json >"$work/list.json" || fail "kestroctl --offline list"

# caption<TAB>0|1 for every toggle, in the list's order.
python3 - "$work/list.json" >"$work/expected.txt" <<'PY'
import json, sys
for item in json.load(open(sys.argv[1], encoding="utf-8")):
    if item.get("value") in ("on", "off") and item["caption"]:
        print(f'{item["caption"]}\t{1 if item["value"] == "on" else 0}')
PY
[ -s "$work/expected.txt" ] || { echo "FAIL: no toggles in kestroctl's list"; exit 1; }

# The hives as .reg files, under the keys a running Windows shows them at:
# CurrentControlSet is the set that Select\Current names.
current=$(hivexget "$config/system" '\Select' Current) || { echo "FAIL: no Select\\Current"; exit 1; }
set_name=$(printf 'ControlSet%03d' "$current")
hivexregedit --export --prefix 'HKEY_CURRENT_USER' "$ntuser" '\Software' >"$work/user.reg"
hivexregedit --export --prefix 'HKEY_CURRENT_USER' "$ntuser" '\Control Panel\Desktop' >>"$work/user.reg" 2>/dev/null
hivexregedit --export --prefix 'HKEY_LOCAL_MACHINE\SYSTEM' "$config/system" "\\$set_name" |
    sed "s/\\\\$set_name/\\\\CurrentControlSet/" >"$work/system.reg"
# The second export's header starts a second file inside the first: drop it.
sed -i '2,${/^Windows Registry Editor Version 5.00$/d}' "$work/user.reg"

# ---------------------------------------------------------------- Wine
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export LC_ALL=${KESTRO_WINE_LOCALE:-ru_RU.UTF-8}
source "$src/scripts/lib/wine-session.sh"
trap 'wineserver -k >/dev/null 2>&1' EXIT
wine wineboot -i >/dev/null 2>&1 || { echo "FAIL: wineboot"; exit 1; }
if file "$exe" | grep -q x86-64; then version=winxp64; else version=winxp; fi
wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null
wine_session_desktop
wine_session_fonts
for reg in user system; do
    wine reg import "$(winepath -w "$work/$reg.reg")" >/dev/null 2>&1 || fail "wine reg import $reg.reg"
done
wine_session_warm

wine "$exe" >/dev/null 2>&1 &
app=$!
wine "$probe" wait 60000 >/dev/null 2>&1 || { fail "the window did not open"; kill "$app" 2>/dev/null; exit 1; }
# Pages other than the first make their controls when first opened: open
# them, as a user would, before reading their toggles from outside.
wine "$probe" page 3 >/dev/null 2>&1
wine "$probe" page 1 >/dev/null 2>&1

captions=()
while IFS=$'\t' read -r caption _; do captions+=("$caption"); done <"$work/expected.txt"
# The probe takes a dozen captions at a time.
: >"$work/shown.txt"
for ((i = 0; i < ${#captions[@]}; i += 10)); do
    wine "$probe" checked "${captions[@]:i:10}" | tr -d '\r' >>"$work/shown.txt"
done
wine "$probe" close >/dev/null 2>&1 || kill "$app" 2>/dev/null
wait "$app" 2>/dev/null

while IFS=$'\t' read -r caption want; do
    got=$(awk -v c="$caption" 'index($0, c " ") == 1 { print substr($0, length(c) + 2) }' "$work/shown.txt")
    if [ "$got" = "$want" ]; then echo "ok: $caption $want"; else fail "$caption: kestroctl said $want, the window shows [$got]"; fi
done <"$work/expected.txt"

echo "offline read-back: $failures failed"
[ "$failures" -eq 0 ]
