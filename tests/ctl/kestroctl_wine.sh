#!/usr/bin/env bash
# The real kestroctl.exe under Wine, checked from outside with Wine's reg.exe
# and, for the toggles, with kestro.exe itself read by kestro_probe.
#
#   kestroctl_wine.sh CASE KESTROCTL_EXE KESTRO_EXE PROBE_EXE [RECORDER_EXE [NATIVE_BUILD_DIR]]
#
# CASE: agree (set, get, list, reg.exe and the window agree), russian (a
# Russian user's kestroctl speaks Russian, a Western one's English), versions
# (the note for a setting that Windows 10 ignores, and none on XP), refusals
# (what must write nothing), carry (list on a fresh prefix creates no key;
# save there and apply on another fresh one), exports (export reg through
# Wine's reg import into a fresh prefix, and both exports back through
# apply, malformed ones refused; export gpo's files), notify (the WM_SETTINGCHANGE "Policy"
# broadcast, as another program's window hears it: settingchange_recorder
# is RECORDER_EXE), wayback (a failure half-way leaves every value as it
# was; --undo files and NAME = default), sources (the machine's copy and
# the local Group Policy's Registry.pol: shown, lifted, undone). The prefixes live next to the
# programs' build folder; scripts/test removes them before each run.
set -uo pipefail
case_name=$1
ctl=$2
exe=$3
probe=$4
recorder=${5:-}
native=${6:-}
build=$(cd "$(dirname "$ctl")/.." && pwd)
here=$(cd "$(dirname "$0")" && pwd)

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=${KESTRO_WINE_LOCALE:-ru_RU.UTF-8}
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {  # expect LABEL WANTED ACTUAL [WHAT TO SHOW ON FAILURE]
    if [ "$2" = "$3" ]; then echo "ok: $1"; else fail "$1: wanted [$2], got [$3]${4:+ ($4)}"; fi
}

source "$here/../../scripts/lib/wine-session.sh"

# A prefix of its own, set up as the window's end-to-end suite sets up its
# own; made when missing (or always, with "fresh"), with a persistent server
# whose services write nowhere, so that nothing waits on our pipes.
use_prefix() {  # use_prefix DIR [fresh]
    export WINEPREFIX=$1
    if [ "${2:-}" = fresh ]; then
        wineserver -k >/dev/null 2>&1
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        if file "$ctl" | grep -q x86-64; then version=winxp64; else version=winxp; fi
        wine wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null
        wine_session_desktop
        wine_session_fonts
        wineserver -k >/dev/null 2>&1
    fi
    if wineserver -p >/dev/null 2>&1 </dev/null; then  # refused, harmlessly, when one runs already
        wine_session_warm
    fi
}

# Output as bytes, code page 866 (what a redirected kestroctl writes on a
# Russian system) turned into UTF-8, without CRs.
# The cases below check the English texts: --lang en, whatever the
# prefix's language (the case russian runs without it).
ctl() { wine "$ctl" --lang en "$@" 2>"$work/err" | iconv -f CP866 -t UTF-8 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# The same in the user's language, as a user runs it.
ctl_own() { wine "$ctl" "$@" 2>"$work/err" | iconv -f CP866 -t UTF-8 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
ctl_err() { iconv -f CP866 -t UTF-8 <"$work/err" | tr -d '\r'; }

reg_value() {  # reg_value KEY NAME: "REG_DWORD 0x1", empty when absent; reg.exe too writes code page 866
    wine reg query "$1" /v "$2" /reg:64 2>/dev/null | iconv -f CP866 -t UTF-8 | tr -d '\r' |
        awk -v n="$2" 'tolower($1) == tolower(n) { $1 = ""; sub(/^ +/, ""); print }'
}
key_exists() { wine reg query "$1" /reg:64 >/dev/null 2>&1 && echo yes || echo no; }
# Pages other than the first make their controls when first opened: open
# them, as a user would, before reading their toggles from outside.
# A read of the running window by the probe. Under a loaded machine Wine
# has failed to start a program now and then ("ShellExecuteEx failed");
# reads change nothing, so a failed start is tried again.
probe_read() {
    local out status
    for _ in 1 2 3; do
        out=$(wine "$probe" "$@" 2>/dev/null)
        status=$?
        [ "$status" -eq 0 ] && break
        sleep 1
    done
    printf '%s\n' "$out" | tr -d '\r'
}

open_later_pages() {
    wine "$probe" page 3 >/dev/null 2>&1
    wine "$probe" page 1 >/dev/null 2>&1
}

explorer='HKCU\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer'
system='HKCU\Software\Microsoft\Windows\CurrentVersion\Policies\System'
services='HKLM\SYSTEM\CurrentControlSet\Services'
filesystem='HKLM\SYSTEM\CurrentControlSet\Control\FileSystem'
fonts='HKCU\Control Panel\Desktop'
bin='HKCR\CLSID\{645FF040-5081-101B-9F08-00AA002F954E}'

# Every value of the catalogue, one "KEY NAME" per line.
catalogue_values() {
    for v in MaxRecentDocs NoNetworkConnections StartmenuLogoff NoFavoritesMenu NoRecentDocsMenu \
             ClearRecentDocsOnExit NoRecentDocsHistory NoSMMyPictures NoSetTaskbar NoAddPrinter NoFind NoSMHelp \
             NoRun NoStartMenuMorePrograms NoChangeStartMenu NoThemesTab; do
        echo "$explorer $v"
    done
    echo 'HKCU\Control Panel\Desktop PaintDesktopVersion'
    echo 'HKCU\Software\Microsoft\Windows\CurrentVersion\Policies\Uninstall NoAddRemovePrograms'
    for v in NoDispCPL NoDispBackgroundPage NoDispScrSavPage NoDispAppearancePage DisableTaskMgr DisableRegistryTools; do
        echo "$system $v"
    done
    echo "$services\\CDRom AutoRun"
    echo "$filesystem NtfsDisableLastAccessUpdate"
    for v in FontSmoothing FontSmoothingType FontSmoothingOrientation; do echo "$fonts $v"; done
    for d in cdrom flpydisk parport usbstor; do echo "$services\\$d start"; done
    echo "$bin LocalizedString"
    echo "$bin InfoTip"
    echo 'HKCU\Control Panel\Desktop Wallpaper'
}
# "KEY NAME = TYPE DATA" for every catalogue value, one reg query per key.
dump_values() {
    local keys line key n=0
    mkdir -p "$work/q"
    keys=$(catalogue_values | sed 's/ [^ ]*$//' | sort -u)
    declare -A file=()
    while IFS= read -r key; do
        n=$((n + 1))
        wine reg query "$key" /reg:64 2>/dev/null | iconv -f CP866 -t UTF-8 | tr -d '\r' >"$work/q/$n"
        file[$key]=$work/q/$n
    done <<<"$keys"
    catalogue_values | while IFS= read -r line; do
        key=${line% *}
        echo "$line = $(awk -v n="${line##* }" '/^    / && tolower($1) == tolower(n) { $1 = ""; sub(/^ +/, ""); print }' "${file[$key]}")"
    done
}

# Every catalogue value deleted, so that cases do not lean on each other;
# but the wallpaper, which Wine's desktop puts back as it pleases.
reset_values() {
    catalogue_values | grep -v ' Wallpaper$' | while read -r line; do
        wine reg delete "${line% *}" /v "${line##* }" /f /reg:64 >/dev/null 2>&1
    done
    # Font smoothing off, as Windows stores it: absent, Wine would take its own default.
    wine reg add "$fonts" /v FontSmoothing /t REG_SZ /d 0 /f >/dev/null 2>&1
}

# Every toggle of the catalogue put down, through kestroctl set.
set_every_toggle_on() {
    local s
    for s in NoNetworkConnections StartmenuLogoff NoFavoritesMenu NoRecentDocsMenu ClearRecentDocsOnExit \
             NoRecentDocsHistory NoSMMyPictures NoSetTaskbar NoAddPrinter NoFind NoSMHelp NoRun \
             NoStartMenuMorePrograms NoChangeStartMenu PaintDesktopVersion NoAddRemovePrograms NoDispCPL NoThemesTab \
             NoDispBackgroundPage NoDispScrSavPage NoDispAppearancePage DisableTaskMgr DisableRegistryTools \
             CdAutorunOff LastAccessUpdateOff FontSmoothing CdromOff FloppyOff ParallelPortOff UsbStorageOff; do
        ctl set "$s" on || fail "set $s on: $(ctl_err)"
    done
}

# Whether each key that the read-back would create exists: "KEY yes|no" lines.
key_states() {
    local k
    for k in "$explorer" "$system" "$fonts" "$services\\parport" "$filesystem" "$bin"; do
        echo "$k $(key_exists "$k")"
    done
}

list_state() {  # list_state NAME: the STATE column of kestroctl list
    ctl list | awk -v n="$1" '$1 == n { print $2 }'
}

case "$case_name" in
agree)
    use_prefix "$build/ctl-wineprefix"
    reset_values
    ctl set NoRun on; expect "set NoRun on" 0 $?
    ctl set disabletaskmgr ON; expect "set in other letter case" 0 $?
    ctl set CdAutorunOff off; expect "set CdAutorunOff off" 0 $?
    ctl set UsbStorageOff on; expect "set UsbStorageOff on" 0 $?
    ctl set FontSmoothing on; expect "set FontSmoothing on" 0 $?
    ctl set MaxRecentDocs -1; expect "set MaxRecentDocs -1" 0 $?
    ctl set RecycleBinName "Корзина класса"; expect "set RecycleBinName" 0 $?

    expect "reg: NoRun" "REG_DWORD 0x1" "$(reg_value "$explorer" NoRun)"
    expect "reg: DisableTaskMgr" "REG_DWORD 0x1" "$(reg_value "$system" DisableTaskMgr)"
    expect "reg: AutoRun (autorun left on)" "REG_DWORD 0x1" "$(reg_value "$services\\CDRom" AutoRun)"
    expect "reg: usbstor start" "REG_DWORD 0x4" "$(reg_value "$services\\usbstor" start)"
    expect "reg: FontSmoothing" "REG_SZ 2" "$(reg_value "$fonts" FontSmoothing)"
    expect "reg: FontSmoothingType" "REG_DWORD 0x2" "$(reg_value "$fonts" FontSmoothingType)"
    expect "reg: FontSmoothingOrientation" "REG_DWORD 0x1" "$(reg_value "$fonts" FontSmoothingOrientation)"
    expect "smoothing asked by another process" "1 2" "$(probe_read smoothing)"
    expect "no old DEFAULT key" no "$(key_exists 'HKCU\DEFAULT\Control Panel\Desktop')"
    expect "reg: MaxRecentDocs" "REG_DWORD 0xffffffff" "$(reg_value "$explorer" MaxRecentDocs)"
    expect "reg: LocalizedString" "REG_SZ Корзина класса" "$(reg_value "$bin" LocalizedString)"

    expect "get NoRun" on "$(ctl get NoRun)"
    expect "get CdAutorunOff" off "$(ctl get CdAutorunOff)"
    expect "get UsbStorageOff" on "$(ctl get usbstorageoff)"
    expect "get MaxRecentDocs" -1 "$(ctl get MaxRecentDocs)"
    expect "get RecycleBinName" "Корзина класса" "$(ctl get RecycleBinName)"
    expect "get FontSmoothing" on "$(ctl get FontSmoothing)"
    expect "list NoRun" on "$(list_state NoRun)"
    expect "list NoFind" off "$(list_state NoFind)"
    expect "list FontSmoothing" on "$(list_state FontSmoothing)"
    expect "list CdAutorunOff" off "$(list_state CdAutorunOff)"
    expect "list the caption" "NoRun on user user logon no no XP-8.1 убрать Выполнить" \
        "$(ctl list | awk '$1 == "NoRun" { $1 = $1; print }')"
    json=$(wine "$ctl" list --json 2>/dev/null | tr -d '\r')
    expect "list --json is UTF-8" "Корзина класса" \
        "$(printf '%s' "$json" | /usr/bin/python3 -c 'import json, sys; print([i["value"] for i in json.load(sys.stdin) if i["name"] == "RecycleBinName"][0])')"

    # The window, started afterwards, shows what kestroctl set.
    if [ -n "${DISPLAY:-}" ]; then
        wine "$exe" >/dev/null 2>&1 &
        app=$!
        if wine "$probe" wait 60000 >/dev/null 2>&1; then
            open_later_pages
            expect "the window's toggles" \
                "убрать Выполнить 1;убрать Диспетчер задач 1;отключить autorun 0;Откл. Flash 1;сглаживание экранных шрифтов 1;убрать Найти 0;" \
                "$(probe_read checked "убрать Выполнить" "убрать Диспетчер задач" "отключить autorun" "Откл. Flash" \
                    "сглаживание экранных шрифтов" "убрать Найти" | tr '\n' ';')"
            expect "the window's recent documents" -1 "$(probe_read spin)"
            wine "$probe" close >/dev/null 2>&1
        else
            fail "kestro.exe did not open"
        fi
        for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
        kill "$app" 2>/dev/null
    else
        fail "no display for kestro.exe"
    fi
    ;;

russian)
    use_prefix "$build/ctl-wineprefix"
    reset_values
    if [[ $LC_ALL == ru_* ]]; then
        help=$(ctl_own --help); expect "--help exits 0" 0 $?
        expect "--help: the usage line" "Запуск: kestroctl [КЛЮЧИ] КОМАНДА" "$(grep '^Запуск' <<<"$help")"
        grep -qF 'RecycleBinName = "Корзина"' <<<"$help" || fail "--help: no Russian profile example"
        ctl_own get Bogus >/dev/null; expect "an unknown setting exits 2" 2 $?
        expect "an unknown setting in Russian" 'kestroctl: неизвестный параметр "Bogus" (имена показывает kestroctl list)' "$(ctl_err)"
        ctl_own set NoRun maybe >/dev/null; expect "a wrong value exits 2" 2 $?
        expect "a wrong value in Russian" 'kestroctl: "maybe" не является значением NoRun: укажите on или off' "$(ctl_err)"
        ctl_own apply 'C:\no\such.ini' >/dev/null; expect "a missing profile exits 2" 2 $?
        grep -qE '^kestroctl: не удаётся прочитать C:\\no\\such.ini: .+ \([0-9]+\)$' <<<"$(ctl_err)" ||
            fail "a missing profile: the system's text and its number: [$(ctl_err)]"
        echo "  (said: $(ctl_err))"
        ctl_own set NoRun on >/dev/null; expect "set exits 0" 0 $?
        expect "get: the state as typed" on "$(ctl_own get NoRun)"
        list=$(ctl_own list); expect "list exits 0" 0 $?
        expect "list: the header" "ИМЯ СОСТОЯНИЕ ИСТОЧНИК ОБЛАСТЬ ДЕЙСТВУЕТ АДМИН СЛЕД WINDOWS ПОДПИСЬ" "$(head -n 1 <<<"$list" | tr -s ' ')"
        expect "list: a row" "NoRun on user пользователь вход нет нет XP-8.1 убрать Выполнить" \
            "$(awk '$1 == "NoRun" { $1 = $1; print }' <<<"$list")"
        expect "--lang en: the header" "NAME STATE SOURCE SCOPE EFFECT ADMIN TATTOO WINDOWS CAPTION" "$(ctl list | head -n 1 | tr -s ' ')"
        # A refusal of the .reg reader below kestroctl, through the same table.
        printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_BOGUS\\Software]\r\n' | iconv -f UTF-8 -t UTF-16LE |
            { printf '\xff\xfe'; cat; } >"$work/bad.reg"
        ctl_own apply "$(winepath -w "$work/bad.reg")" >/dev/null; expect "a malformed .reg exits 2" 2 $?
        grep -qF "bad.reg: строка 3: неизвестный корневой раздел; ожидается HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE или HKEY_CLASSES_ROOT" <<<"$(ctl_err)" ||
            fail "a malformed .reg: the reader's words in Russian: [$(ctl_err)]"
        ctl apply "$(winepath -w "$work/bad.reg")" >/dev/null; expect "--lang en: a malformed .reg exits 2" 2 $?
        grep -qF "bad.reg: line 3: unknown root key; expected HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT" <<<"$(ctl_err)" ||
            fail "--lang en: a malformed .reg: the reader's words in English: [$(ctl_err)]"
    else
        # A Western user: English without --lang, as before.
        expect "list: the header" "NAME STATE SOURCE SCOPE EFFECT ADMIN TATTOO WINDOWS CAPTION" "$(ctl_own list | head -n 1 | tr -s ' ')"
        ctl_own get Bogus >/dev/null; expect "an unknown setting exits 2" 2 $?
        expect "an unknown setting in English" "kestroctl: unknown setting 'Bogus' (kestroctl list shows the names)" "$(ctl_err)"
    fi
    ;;

versions)
    # The prefix as Windows 10, then as XP: a setting only XP reads gets a
    # note naming the Windows on 10, and none on XP; one 10 reads, none.
    use_prefix "$build/ctl-wineprefix"
    reset_values
    if file "$ctl" | grep -q x86-64; then xp=winxp64; else xp=winxp; fi
    for version in win10 "$xp"; do
        wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null 2>&1
        ctl set NoSMMyPictures on >/dev/null; expect "$version: set NoSMMyPictures" 0 $?
        note=$(ctl_err)
        if [ "$version" = win10 ]; then
            grep -qE '^kestroctl: note: .*\(10\.0\.[0-9]+\) does not read NoSMMyPictures: Windows XP(-|–)7 does$' <<<"$note" ||
                fail "win10: no note naming Windows 10: [$note]"
            echo "  (said: $note)"
            ctl_own set NoSMMyPictures off >/dev/null
            [[ $LC_ALL == ru_* ]] && { grep -q 'не читает NoSMMyPictures: его читает Windows XP' <<<"$(ctl_err)" ||
                fail "win10: the note in Russian: [$(ctl_err)]"; }
        else
            expect "$version: no note" "" "$note"
        fi
        ctl set NoSetTaskbar on >/dev/null; expect "$version: no note for NoSetTaskbar" "" "$(ctl_err)"
    done
    ;;

refusals)
    use_prefix "$build/ctl-wineprefix"
    reset_values
    wine reg add "$explorer" /v NoFind /t REG_DWORD /d 0 /f >/dev/null
    before=$(dump_values)
    printf '[Kestro]\r\nNoFind = on\r\nNoRun = on\r\n' >"$work/change.ini"
    out=$(ctl apply "$(winepath -w "$work/change.ini")" --dry-run); code=$?
    expect "dry run exit" 0 $code
    expect "dry run says the change" "NoFind: off -> on" "$(echo "$out" | grep '^NoFind')"
    expect "dry run writes nothing" "$before" "$(dump_values)"

    printf '\xEF\xBB\xBF[Kestro]\r\nNoFind = on\r\nNoSuchThing = on\r\n' >"$work/unknown.ini"
    ctl apply "$(winepath -w "$work/unknown.ini")"; code=$?
    expect "unknown name exit" 2 $code
    expect "unknown name message" 1 "$(ctl_err | grep -c ":3: unknown setting 'NoSuchThing'")"
    printf '[Kestro]\r\nNoFind = on\r\nUsbStorageOff = maybe\r\n' >"$work/bad.ini"
    ctl apply "$(winepath -w "$work/bad.ini")"; code=$?
    expect "bad value exit" 2 $code
    expect "bad value message" 1 "$(ctl_err | grep -c ":3: 'maybe' is not a value of UsbStorageOff")"
    ctl set NoFind maybe; expect "set with a bad value" 2 $?
    ctl set NoSuchThing on; expect "set of an unknown name" 2 $?
    ctl set Wallpaper 'C:\no\such.bmp'; expect "set of a missing wallpaper" 2 $?
    expect "refused commands wrote nothing" "$before" "$(dump_values)"
    ctl save 'C:\no\such\folder\profile.ini'; expect "save where it cannot write" 1 $?
    expect "save says why" 1 "$(ctl_err | grep -c 'cannot write C:\\no\\such\\folder\\profile.ini')"

    # A value of the wrong type: list shows it and goes on; get and save
    # fail with the engine's message.
    wine reg add "$explorer" /v NoRun /t REG_SZ /d 1 /f >/dev/null
    expect "list shows the wrong type" "NoRun (wrong type: NoRun is REG_SZ, not REG_DWORD)" \
        "$(ctl list | awk '$1 == "NoRun" { $1 = $1; print $1, $2, $3, $4, $5, $6, $7, $8 }')"
    expect "list goes on after it" off "$(list_state NoFind)"
    ctl get NoRun >/dev/null; expect "get of a wrong type exits" 1 $?
    expect "get of a wrong type says" "kestroctl: NoRun: Invalid data type for 'NoRun' (NoRun is REG_SZ, not REG_DWORD)" \
        "$(ctl_err)"
    wine reg delete "$explorer" /v NoRun /f >/dev/null

    ctl /? >"$work/help"; expect "/? exit" 0 $?
    expect "/? lists the commands" 1 "$(grep -c '^  apply ' "$work/help")"
    ;;

carry)
    # The source: every setting given a value that is not the default.
    use_prefix "$build/ctl-wineprefix"
    reset_values
    set_every_toggle_on
    ctl set MaxRecentDocs 12 || fail "set MaxRecentDocs"
    ctl set RecycleBinName "Корзина" || fail "set RecycleBinName"
    ctl set RecycleBinInfoTip "  с пробелами  " || fail "set RecycleBinInfoTip"
    ctl set Wallpaper 'C:\windows\win.ini' || fail "set Wallpaper: $(ctl_err)"
    ctl save "$(winepath -w "$work/profile.ini")"; expect "save exit" 0 $?
    source_values=$(dump_values)
    expect "every value is stored on the source" 0 "$(echo "$source_values" | grep -c '= $')"
    wineserver -k >/dev/null 2>&1

    use_prefix "$build/ctl-fresh-wineprefix" fresh
    keys_before=$(key_states)
    wine reg export HKCU "$(winepath -w "$work/before.reg")" /y >/dev/null 2>&1
    ctl list >/dev/null; expect "list on a fresh prefix" 0 $?
    expect "list created no key" "$keys_before" "$(key_states)"
    wine reg export HKCU "$(winepath -w "$work/after.reg")" /y >/dev/null 2>&1
    cmp -s "$work/before.reg" "$work/after.reg" || fail "list changed HKEY_CURRENT_USER: $(diff "$work/before.reg" "$work/after.reg" | head -5)"

    # No wallpaper is the empty text, as on a new machine: save keeps it,
    # and apply of that profile, dry or not, takes it.
    expect "a fresh prefix has no wallpaper" "REG_SZ" "$(reg_value 'HKCU\Control Panel\Desktop' Wallpaper)"
    ctl save "$(winepath -w "$work/fresh.ini")"; expect "save without a wallpaper" 0 $?
    expect "saved as the empty text" 1 "$(grep -c '^Wallpaper = ""' "$work/fresh.ini")"
    ctl apply "$(winepath -w "$work/fresh.ini")" --dry-run >/dev/null; expect "its dry run" 0 $?
    ctl apply "$(winepath -w "$work/fresh.ini")" >/dev/null; code=$?
    expect "its apply $(ctl_err)" 0 $code
    expect "still no wallpaper" "REG_SZ" "$(reg_value 'HKCU\Control Panel\Desktop' Wallpaper)"

    ctl apply "$(winepath -w "$work/profile.ini")" >/dev/null; expect "apply exit" 0 $?
    expect "the same values for every setting" "$source_values" "$(dump_values)"
    # And back to none with the profile saved before.
    ctl apply "$(winepath -w "$work/fresh.ini")" >/dev/null; expect "apply of the saved profile" 0 $?
    expect "no wallpaper again" "REG_SZ" "$(reg_value 'HKCU\Control Panel\Desktop' Wallpaper)"
    wineserver -k >/dev/null 2>&1
    rm -rf "$build/ctl-fresh-wineprefix"
    ;;

exports)
    # The source: every setting away from its default, texts with Cyrillic,
    # quotes and backslashes.
    use_prefix "$build/ctl-wineprefix"
    reset_values
    set_every_toggle_on
    ctl set MaxRecentDocs -1 || fail "set MaxRecentDocs"
    ctl set RecycleBinName 'Корзина "для" C:\мусора' || fail "set RecycleBinName"
    ctl set RecycleBinInfoTip "  с пробелами  " || fail "set RecycleBinInfoTip"
    ctl set Wallpaper 'C:\windows\win.ini' || fail "set Wallpaper: $(ctl_err)"
    source_values=$(dump_values)
    expect "every value is stored on the source" 0 "$(echo "$source_values" | grep -c '= $')"
    ctl export reg "$(winepath -w "$work/kestro.reg")"; expect "export reg exit" 0 $?
    ctl export pol "$(winepath -w "$work/gpo")"; expect "export pol exit" 0 $?
    # Font smoothing as Windows keeps it: the text and, as it is on, the two numbers.
    expect "the .reg's font smoothing" \
        '[HKEY_CURRENT_USER\Control Panel\Desktop];"FontSmoothing"="2";"FontSmoothingOrientation"=dword:00000001;"FontSmoothingType"=dword:00000002;' \
        "$(iconv -f UTF-16 -t UTF-8 "$work/kestro.reg" | tr -d '\r' |
           grep -E '^\[HKEY_CURRENT_USER\\Control Panel\\Desktop\]$|^"FontSmoothing' | tr '\n' ';')"
    expect "the policy files" "$work/gpo/Machine/Registry.pol $work/gpo/User/Registry.pol" \
        "$(ls "$work"/gpo/*/Registry.pol | tr '\n' ' ' | sed 's/ $//')"
    # The whole GPO: the same Registry.pol bytes in both of its forms, and
    # XML that parses, with the name as given.
    ctl export gpo "$(winepath -w "$work/whole")" --name 'Класс "5"' >/dev/null; expect "export gpo exit" 0 $?
    backup=$(find "$work/whole/windows" -mindepth 1 -maxdepth 1 -type d)
    for side in User Machine; do
        cmp -s "$work/gpo/$side/Registry.pol" "$backup/DomainSysvol/GPO/$side/registry.pol" &&
            cmp -s "$work/gpo/$side/Registry.pol" "$work/whole/samba/backup/$side/Registry.pol.SAMBABACKUP"
        expect "export gpo's $side files are export pol's" 0 $?
    done
    expect "export gpo's XML parses and names the GPO" 'Класс "5"' "$(python3 - "$work/whole" <<'PY'
import pathlib, sys, xml.etree.ElementTree as ET
trees = [ET.parse(p) for p in sorted(pathlib.Path(sys.argv[1]).rglob("*.xml"))]
names = {t.getroot().findtext("{http://www.microsoft.com/GroupPolicy/GPOOperations/Manifest}GPODisplayName")
         for t in trees if t.getroot().tag.endswith("BackupInst")}
print(len(trees) == 6 and len(names) == 1 and names.pop())
PY
)"
    ctl export /? >"$work/help"; expect "export /? exit" 0 $?
    expect "export's help names the tattooing settings" 1 "$(grep -c 'UsbStorageOff' "$work/help")"
    expect "list marks them" "NoRun no;UsbStorageOff yes;" \
        "$(ctl list | awk '$1 == "NoRun" || $1 == "UsbStorageOff" { printf "%s %s;", $1, $6 }')"
    wineserver -k >/dev/null 2>&1

    # reg import of the .reg into a fresh prefix: exactly the values set above.
    use_prefix "$build/ctl-fresh-wineprefix" fresh
    wine reg import "$(winepath -w "$work/kestro.reg")" /reg:64 >/dev/null 2>&1; expect "reg import exit" 0 $?
    expect "reg import gives the values kestroctl set gave" "$source_values" "$(dump_values)"
    if [ -n "${DISPLAY:-}" ]; then
        wine "$exe" >/dev/null 2>&1 &
        app=$!
        if wine "$probe" wait 60000 >/dev/null 2>&1; then
            open_later_pages
            expect "the window shows the imported toggles" \
                "убрать Выполнить 1;убрать Найти 1;отключить autorun 1;быстрое открытие папок 1;сглаживание экранных шрифтов 1;Откл. CD-ROM 1;Откл. Flash 1;" \
                "$(probe_read checked "убрать Выполнить" "убрать Найти" "отключить autorun" "быстрое открытие папок" \
                    "сглаживание экранных шрифтов" "Откл. CD-ROM" "Откл. Flash" | tr '\n' ';')"
            expect "the window's recent documents" -1 "$(probe_read spin)"
            wine "$probe" close >/dev/null 2>&1
        else
            fail "kestro.exe did not open"
        fi
        for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
        kill "$app" 2>/dev/null
    else
        fail "no display for kestro.exe"
    fi

    # Both exports back through apply, on the emptied prefix.
    reset_values
    ctl apply "$(winepath -w "$work/kestro.reg")" >/dev/null; expect "apply .reg exit" 0 $?
    expect "apply .reg gives the same values" "$source_values" "$(dump_values)"
    reset_values
    ctl apply "$(winepath -w "$work/gpo/User/Registry.pol")" >/dev/null; expect "apply User/Registry.pol exit" 0 $?
    ctl apply "$(winepath -w "$work/gpo/Machine/Registry.pol")" >/dev/null; expect "apply Machine/Registry.pol exit" 0 $?
    expect "apply .pol gives the same values" "$source_values" "$(dump_values)"

    # A profile's exports from the native kestroctl, which needs no
    # registry: the same bytes as this Windows build's.
    ctl save "$(winepath -w "$work/source.ini")" >/dev/null
    expect "save for the profile's exports" 0 $? "$(ctl_err)"
    ctl export reg "$(winepath -w "$work/profile.reg")" --profile "$(winepath -w "$work/source.ini")" >/dev/null
    expect "export reg --profile" 0 $? "$(ctl_err)"
    ctl export pol "$(winepath -w "$work/profile-gpo")" --profile "$(winepath -w "$work/source.ini")" >/dev/null
    expect "export pol --profile" 0 $? "$(ctl_err)"
    if [ -x "$native/ctl/kestroctl" ]; then
        "$native/ctl/kestroctl" export reg "$work/native.reg" --profile "$work/source.ini" >/dev/null
        expect "native export reg --profile" 0 $?
        "$native/ctl/kestroctl" export pol "$work/native-gpo" --profile "$work/source.ini" >/dev/null
        expect "native export pol --profile" 0 $?
        cmp -s "$work/profile.reg" "$work/native.reg"
        expect "the native .reg is the Windows build's, byte for byte" 0 $? \
            "$(cmp "$work/profile.reg" "$work/native.reg" 2>&1 | head -n 2 | tr '\n' ' ')"
        for side in User Machine; do
            cmp -s "$work/profile-gpo/$side/Registry.pol" "$work/native-gpo/$side/Registry.pol"
            expect "the native $side/Registry.pol is the Windows build's" 0 $?
        done
    else
        fail "no native kestroctl in '$native' (scripts/test builds the native preset first)"
    fi

    # Malformed: exit 2, the place named, nothing applied.
    reset_values
    before=$(dump_values)
    mkdir -p "$work/bad/Machine"
    head -c -3 "$work/gpo/Machine/Registry.pol" >"$work/bad/Machine/Registry.pol"
    ctl apply "$(winepath -w "$work/bad/Machine/Registry.pol")"; expect "a cut .pol exits" 2 $?
    expect "a cut .pol names its offset" 1 "$(ctl_err | grep -c 'Registry.pol: offset [0-9]*: .*; nothing was written')"
    { printf 'PRex'; tail -c +5 "$work/gpo/Machine/Registry.pol"; } >"$work/bad/Machine/Registry.pol"
    ctl apply "$(winepath -w "$work/bad/Machine/Registry.pol")"; expect "a bad signature exits" 2 $?
    expect "a bad signature is named" 1 "$(ctl_err | grep -c ': offset 0: not a Registry.pol file')"
    head -c -8 "$work/kestro.reg" >"$work/bad/cut.reg"
    ctl apply "$(winepath -w "$work/bad/cut.reg")"; expect "a cut .reg exits" 2 $?
    expect "a cut .reg names its line" 1 "$(ctl_err | grep -c ': line [0-9]*: ')"
    expect "nothing was applied" "$before" "$(dump_values)"
    wineserver -k >/dev/null 2>&1
    rm -rf "$build/ctl-fresh-wineprefix"
    ;;

notify)
    use_prefix "$build/ctl-wineprefix"
    reset_values
    wine reg delete 'HKCU\Software\Microsoft\Search Assistant' /f >/dev/null 2>&1
    messages=$work/messages
    wine "$recorder" record "$(winepath -w "$messages")" >/dev/null 2>&1 &
    listener=$!
    wine "$recorder" wait || fail "the recorder's window did not open"
    # The "Policy" messages since the last call, "WPARAM Policy;" each;
    # whatever else the system broadcasts is not ours.
    heard() { grep -a ' Policy$' "$messages" 2>/dev/null | tr '\n' ';'; : >"$messages"; }
    heard >/dev/null

    ctl set NoRun on; expect "set NoRun on" 0 $?
    expect "a user setting: wParam 0" "0 Policy;" "$(heard)"
    ctl set UsbStorageOff on; expect "set UsbStorageOff on" 0 $?
    expect "a machine setting: wParam 1" "1 Policy;" "$(heard)"
    ctl set RecycleBinName "Корзина"; expect "set RecycleBinName" 0 $?
    expect "HKEY_CLASSES_ROOT is the machine's" "1 Policy;" "$(heard)"
    printf '[Kestro]\r\nNoFind = on\r\nCdromOff = on\r\n' >"$work/both.ini"
    ctl apply "$(winepath -w "$work/both.ini")" >/dev/null; expect "apply of both scopes" 0 $?
    expect "both scopes: the machine's, then the user's" "1 Policy;0 Policy;" "$(heard)"

    ctl set NoRun off --no-notify; expect "set --no-notify" 0 $?
    expect "--no-notify still writes" "REG_DWORD 0x0" "$(reg_value "$explorer" NoRun)"
    expect "--no-notify: nothing sent" "" "$(heard)"
    ctl apply "$(winepath -w "$work/both.ini")" --no-notify >/dev/null; expect "apply --no-notify" 0 $?
    expect "apply --no-notify: nothing sent" "" "$(heard)"
    ctl apply "$(winepath -w "$work/both.ini")" --dry-run >/dev/null; expect "apply --dry-run" 0 $?
    expect "--dry-run: nothing sent" "" "$(heard)"
    printf '[Kestro]\r\nNoRun = on\r\nNoSuchThing = on\r\n' >"$work/refused.ini"
    ctl apply "$(winepath -w "$work/refused.ini")"; expect "a refused profile" 2 $?
    expect "a refused profile: nothing sent" "" "$(heard)"
    ctl list >/dev/null; ctl get NoRun >/dev/null; ctl save "$(winepath -w "$work/saved.ini")"
    expect "list, get and save: nothing sent" "" "$(heard)"

    # The search history: cleared when there is one, nothing to tell when not.
    wine reg add 'HKCU\Software\Microsoft\Search Assistant\ACMru\5603' /v 000 /d x /f >/dev/null
    ctl clear-search-history; expect "clear-search-history" 0 $?
    expect "a history cleared: wParam 0" "0 Policy;" "$(heard)"
    ctl clear-search-history; expect "clear-search-history again" 0 $?
    expect "no history: nothing sent" "" "$(heard)"

    # A write that fails before anything is written: the user's policy key
    # cannot be made below a volatile one.
    policies='Software\Microsoft\Windows\CurrentVersion\Policies'
    wine reg delete "HKCU\\$policies" /f >/dev/null 2>&1
    wine "$recorder" volatile "$policies" || fail "no volatile key"
    ctl set NoRun on; expect "a failed write" 1 $?
    expect "the failed write's message" 1 "$(ctl_err | grep -c '^kestroctl: NoRun: ')"
    expect "a failed write: nothing sent" "" "$(heard)"
    # Written before the failure, then put back: nothing stays changed, nothing is told.
    printf '[Kestro]\r\nUsbStorageOff = off\r\nNoRun = on\r\n' >"$work/partial.ini"
    ctl apply "$(winepath -w "$work/partial.ini")" >/dev/null; expect "a partly failed apply" 1 $?
    expect "a partly failed apply: put back, nothing sent" "" "$(heard)"
    wine reg delete "HKCU\\$policies" /f >/dev/null 2>&1

    wine "$recorder" stop || fail "the recorder did not stop"
    for _ in $(seq 50); do kill -0 "$listener" 2>/dev/null || break; sleep 0.2; done
    kill "$listener" 2>/dev/null
    ;;

wayback)
    # The way back: a failure in the middle of an apply leaves every value as
    # it was; --undo files, applied (and imported by reg.exe), give back the
    # exact prior state; NAME = default removes the values.
    use_prefix "$build/ctl-wineprefix"
    reset_values
    history='HKCU\Software\Microsoft\Search Assistant\ACMru'
    history_state() { wine reg query "$history" /s 2>/dev/null | tr -d '\r' | grep -v '^$'; }
    # A state of every kind: set, of another type than the writer's, the
    # driver's XP default, absent, and a search history with a binary value.
    ctl set RecycleBinInfoTip "было" || fail "set RecycleBinInfoTip"
    wine reg add "$fonts" /v PaintDesktopVersion /t REG_SZ /d 7 /f /reg:64 >/dev/null
    wine reg add "$services\\cdrom" /v Start /t REG_DWORD /d 1 /f /reg:64 >/dev/null
    wine reg add "$history\\5603" /v 000 /d "поиск" /f >/dev/null
    wine reg add "$history\\5603" /v MRU /t REG_BINARY /d 0001ff /f >/dev/null
    before=$(dump_values)
    history_before=$(history_state)
    expect "the history is there" 1 "$([ -n "$history_before" ] && echo 1)"

    # The user's policy keys cannot be made below a volatile key: NoRun, in
    # the middle of the profile, fails after five settings were written.
    policies='Software\Microsoft\Windows\CurrentVersion\Policies'
    wine reg delete "HKCU\\$policies" /f >/dev/null 2>&1
    wine "$recorder" volatile "$policies" || fail "no volatile key"
    printf '[Kestro]\r\nPaintDesktopVersion = on\r\nFontSmoothing = on\r\nCdAutorunOff = on\r\nCdromOff = on\r\nRecycleBinName = "Корзина"\r\nNoRun = on\r\nUsbStorageOff = on\r\nRecycleBinInfoTip = "стало"\r\n' >"$work/all.ini"
    ctl apply "$(winepath -w "$work/all.ini")" >/dev/null; expect "the apply that fails half-way" 1 $?
    expect "it says nothing was changed" 1 "$(ctl_err | grep -c 'nothing was changed')"
    expect "every value, type and absence as before" "$before" "$(dump_values)"
    wine reg delete "HKCU\\$policies" /f >/dev/null 2>&1

    # --undo, then apply of the undo files: the exact prior state.
    ctl apply "$(winepath -w "$work/all.ini")" --undo "$(winepath -w "$work/apply-undo.reg")" >/dev/null
    expect "apply --undo" 0 $?
    ctl clear-search-history --undo "$(winepath -w "$work/clear-undo.reg")"; expect "clear-search-history --undo" 0 $?
    expect "the history is gone" "" "$(history_state)"
    expect "the undo file deletes an absent value" 1 \
        "$(iconv -f UTF-16 -t UTF-8 "$work/apply-undo.reg" | tr -d '\r' | grep -c '^"NoRun"=-$')"
    expect "the undo file keeps another type" 1 \
        "$(iconv -f UTF-16 -t UTF-8 "$work/apply-undo.reg" | tr -d '\r' | grep -c '^"PaintDesktopVersion"=hex(1):37,00,00,00$')"
    ctl apply "$(winepath -w "$work/clear-undo.reg")" >/dev/null; expect "apply the history's undo" 0 $?
    ctl apply "$(winepath -w "$work/apply-undo.reg")" >/dev/null; expect "apply the profile's undo" 0 $?
    expect "the values are back" "$before" "$(dump_values)"
    expect "the history is back" "$history_before" "$(history_state)"

    # regedit's kind of import takes the same files.
    ctl apply "$(winepath -w "$work/all.ini")" >/dev/null
    ctl clear-search-history
    wine reg import "$(winepath -w "$work/apply-undo.reg")" /reg:64 >/dev/null 2>&1; expect "reg import of the undo" 0 $?
    wine reg import "$(winepath -w "$work/clear-undo.reg")" /reg:64 >/dev/null 2>&1; expect "reg import of the history's undo" 0 $?
    expect "reg import gives the values back" "$before" "$(dump_values)"
    expect "reg import gives the history back" "$history_before" "$(history_state)"

    # NAME = default removes the values, and save writes it for them.
    printf '[Kestro]\r\nRecycleBinInfoTip = default\r\nCdromOff = default\r\nFontSmoothing = default\r\n' >"$work/default.ini"
    ctl apply "$(winepath -w "$work/default.ini")" >/dev/null; expect "apply of defaults" 0 $?
    expect "the values are gone" ";;;;" \
        "$(for v in "$bin InfoTip" "$services\\cdrom start" "$fonts FontSmoothing" "$fonts FontSmoothingType"; do
               printf '%s;' "$(reg_value "${v% *}" "${v##* }")"; done)"
    ctl save "$(winepath -w "$work/saved.ini")"
    expect "save writes default for them" 2 "$(tr -d '\r' <"$work/saved.ini" | grep -cE '^(RecycleBinInfoTip|CdromOff) = default$')"
    ;;

sources)
    # Where Windows takes a setting from besides the user's own value: the
    # machine's copy under HKLM and the local Group Policy's Registry.pol in
    # the prefix's GroupPolicy folder; shown by get and list, lifted by set,
    # given back by the undo file, refused without the rights.
    use_prefix "$build/ctl-wineprefix"
    reset_values
    machine='HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer'
    machine_system='HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\System'
    gpo="$WINEPREFIX/drive_c/windows/system32/GroupPolicy"
    rm -rf "$gpo"
    wine reg add "$machine" /v NoRun /t REG_DWORD /d 1 /f /reg:64 >/dev/null
    wine reg add "$explorer" /v NoRun /t REG_DWORD /d 0 /f /reg:64 >/dev/null
    expect "get NoRun with the machine's copy" "on (machine)" "$(ctl get NoRun)"
    expect "list's SOURCE" "on machine" "$(ctl list | awk '$1 == "NoRun" { print $2, $3 }')"
    ctl set NoRun off --undo "$(winepath -w "$work/undo.reg")" >"$work/out"; expect "set NoRun off" 0 $?
    expect "the change reported" 1 "$(grep -c "Explorer.NoRun: the machine's copy (on) deleted" "$work/out")"
    expect "reg: the machine's copy gone" "" "$(reg_value "$machine" NoRun)"
    expect "reg: the user's value" "REG_DWORD 0x0" "$(reg_value "$explorer" NoRun)"
    expect "get NoRun after" off "$(ctl get NoRun)"
    expect "the undo file names the machine's copy" 1 "$(iconv -f UTF-16LE -t UTF-8 "$work/undo.reg" | tr -d '\r' | grep -ci '^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\]')"
    ctl apply "$(winepath -w "$work/undo.reg")" >/dev/null; expect "apply the undo file" 0 $?
    expect "reg: the machine's copy back" "REG_DWORD 0x1" "$(reg_value "$machine" NoRun)"
    wine reg delete "$machine" /v NoRun /f /reg:64 >/dev/null 2>&1

    # The local Group Policy: a User\Registry.pol that export pol writes,
    # with one more entry that must stay byte for byte.
    printf '[Kestro]\r\nDisableRegistryTools = on\r\nNoFind = on\r\n' >"$work/lock.ini"
    ctl export pol "$(winepath -w "$work/pol")" --profile "$(winepath -w "$work/lock.ini")" >/dev/null ||
        fail "export pol: $(ctl_err)"
    mkdir -p "$gpo/User"
    cp "$work/pol/User/Registry.pol" "$gpo/User/Registry.pol"
    printf '[General]\r\nVersion=65536\r\n' >"$gpo/gpt.ini"
    expect "get with the local Group Policy" "on (local-gpo)" "$(ctl get DisableRegistryTools)"
    ctl set DisableRegistryTools off --undo "$(winepath -w "$work/pol-undo.reg")" >"$work/out"
    expect "set DisableRegistryTools off" 0 $?
    expect "the entry reported taken out" 1 "$(grep -c 'User.Registry.pol: the local Group Policy.s entry for DisableRegistryTools taken out' "$work/out")"
    expect "gpt.ini's user side raised" "[General] Version=131072" "$(tr -d '\r' <"$gpo/gpt.ini" | tr '\n' ' ' | sed 's/ $//')"
    expect "get after" off "$(ctl get DisableRegistryTools)"
    expect "the other entry still there" "on (local-gpo)" "$(ctl get NoFind)"
    expect "the undo file's copy" same "$(cmp -s "$work/pol-undo.reg.User-Registry.pol" "$work/pol/User/Registry.pol" && echo same)"
    ctl apply "$(winepath -w "$work/pol-undo.reg")" >/dev/null; expect "apply the undo file with the copies" 0 $?
    expect "Registry.pol back byte for byte" same "$(cmp -s "$gpo/User/Registry.pol" "$work/pol/User/Registry.pol" && echo same)"
    expect "gpt.ini back" "[General] Version=65536" "$(tr -d '\r' <"$gpo/gpt.ini" | tr '\n' ' ' | sed 's/ $//')"
    expect "get after the undo" "on (local-gpo)" "$(ctl get DisableRegistryTools)"
    rm -rf "$gpo"

    # A domain's object in the registry extension's history (GPOLink 3):
    # its value is shown as the domain's and never lifted.
    history='HKLM\Software\Microsoft\Windows\CurrentVersion\Group Policy\History\{35378EAC-683F-11D2-A89A-00C04FBBCF62}\0'
    wine reg add "$machine" /v NoRun /t REG_DWORD /d 1 /f /reg:64 >/dev/null
    wine reg add "$history" /v GPOLink /t REG_DWORD /d 3 /f /reg:64 >/dev/null
    wine reg add "$history" /v DisplayName /t REG_SZ /d 'Default Domain Policy' /f /reg:64 >/dev/null
    expect "get NoRun with a domain's object" "on (domain)" "$(ctl get NoRun)"
    ctl set NoRun off >/dev/null; expect "set NoRun off against the domain" 1 $?
    expect "the refusal names the object" 1 "$(ctl_err | grep -c '"Default Domain Policy"; only its domain.s administrator')"
    expect "reg: the domain's value stays" "REG_DWORD 0x1" "$(reg_value "$machine" NoRun)"
    wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Group Policy\History' /f /reg:64 >/dev/null 2>&1
    wine reg delete "$machine" /v NoRun /f /reg:64 >/dev/null 2>&1
    wine reg delete "$explorer" /v NoRun /f /reg:64 >/dev/null 2>&1
    ;;

*)
    echo "unknown case $case_name"; exit 2 ;;
esac

wineserver -k >/dev/null 2>&1
echo "$case_name: $failures failure(s)"
[ "$failures" -eq 0 ]
