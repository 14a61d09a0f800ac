#!/usr/bin/env bash
# The real kestro.exe as a user meets it: started under Wine in a prefix of
# its own that reports Windows XP, clicked with xdotool at the layout's
# positions, checked from outside with `wine reg query` and kestro_probe.
#
#   e2e.sh CASE KESTRO_EXE PROBE_EXE [EXPORTER_EXE]
#
# reg-import needs EXPORTER_EXE, the program that writes the .reg file.
#
# Needs a display (scripts/test starts Xvfb). The prefix is made on first
# use, next to the program: scripts/test removes it before each run.
set -uo pipefail
case_name=$1
exe=$2
probe=$3
exporter=${4:-}
build=$(cd "$(dirname "$exe")/.." && pwd)

export WINEPREFIX=$build/e2e-wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=${KESTRO_WINE_LOCALE:-ru_RU.UTF-8}
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {  # expect LABEL WANTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok: $1"; else fail "$1: wanted [$2], got [$3]"; fi
}

[ -n "${DISPLAY:-}" ] || { echo "e2e: no display"; exit 1; }

source "$(dirname "$0")/../../scripts/lib/wine-session.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    if file "$exe" | grep -q x86-64; then version=winxp64; else version=winxp; fi
    wine wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null
    wine_session_desktop
    wine_session_fonts
    wineserver -k >/dev/null 2>&1
fi
if wineserver -p >/dev/null 2>&1 </dev/null; then  # refused, harmlessly, when one runs already
    wine_session_warm
fi

probe() { wine "$probe" "$@" | tr -d '\r'; }

# Where the Windows desktop's point (x, y) is on the X screen.
desktop_offset() {
    local id
    id=$(xdotool search --name 'Wine desktop' 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then
        xdotool getwindowgeometry --shell "$id" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2} END{print x+0, y+0}'
    else
        echo "0 0"
    fi
}

click_screen() {  # click_screen X Y (Windows screen coordinates)
    local ox oy
    read -r ox oy < <(desktop_offset)
    # Away first: a tooltip left open by the last click covers the control
    # below it.
    xdotool mousemove --sync "$ox" "$oy"
    sleep 0.2
    xdotool mousemove --sync $(($1 + ox)) $(($2 + oy)) click 1
    sleep 0.2
}
click_client() {  # click_client X Y: a point of the main window's client area
    local x y
    read -r x y < <(probe origin)
    click_screen $((x + $1)) $((y + $2))
}
click_page() {  # click_page PAGE_CAPTION X Y: a point of a page
    local x y
    read -r x y < <(probe origin "$1")
    click_screen $((x + $2)) $((y + $3))
}
click_tab() {
    local x y
    read -r x y < <(probe tab "$1")
    click_screen "$x" "$y"
}
type_into() {  # type_into PAGE X Y TEXT: replaces an edit's text
    # xdotool types a letter the keymap lacks (Cyrillic on a Western one)
    # by remapping a spare key for it, and on a loaded machine a letter is
    # now and then lost to that remapping: what the edit holds is read back,
    # and typed again when it is not the text.
    local try
    for try in 1 2 3; do
        click_page "$1" "$2" "$3"
        xdotool key End shift+Home BackSpace
        xdotool type --delay 30 -- "$4"
        sleep 0.2
        [ "$(probe focus)" = "Edit|$4" ] && return 0
        echo "typing again: the edit held [$(probe focus)]"
    done
}

start_program() {
    wine "$exe" >/dev/null 2>&1 &
    app=$!
}
stop_program_with_exit_button() {
    click_client $((168 + 96)) $((552 + 12))  # "Выход"
    for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || return 0; sleep 0.2; done
    fail "the program did not end after Выход"
    kill "$app" 2>/dev/null
}

reg_value() {  # reg_value KEY NAME: "REG_DWORD 0x1"
    # reg.exe writes the console's code page (866 on a Russian system) when redirected.
    wine reg query "$1" /v "$2" /reg:64 2>/dev/null | iconv -f CP866 -t UTF-8 | tr -d '\r' |
        awk -v n="$2" 'tolower($1) == tolower(n) { $1 = ""; sub(/^ +/, ""); print }'
}

# A text value as reg.exe exports it: the export is UTF-16, so this reads
# what the registry holds whatever the code page of the console.
exported_value() {  # exported_value KEY NAME
    local file=kestro-e2e-export.reg
    rm -f "$WINEPREFIX/drive_c/$file"
    wine reg export "$1" "C:\\$file" /y /reg:64 >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/drive_c/$file" 2>/dev/null | tr -d '\r' |
        awk -v n="\"$2\"" 'index($0, n "=\"") == 1 { v = substr($0, length(n) + 3); sub(/"$/, "", v); print v }'
    rm -f "$WINEPREFIX/drive_c/$file"
}

explorer='HKCU\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer'
services='HKLM\SYSTEM\CurrentControlSet\Services'
main_page='Основные настройки'
more_page='Дополнительно'
device_page='Блокировка устройств'
desktop='HKCU\Control Panel\Desktop'

reset_values() {
    for v in NoRun NoNetworkConnections MaxRecentDocs; do wine reg delete "$explorer" /v $v /f >/dev/null 2>&1; done
    wine reg delete "$services\\CDRom" /v AutoRun /f >/dev/null 2>&1
    wine reg delete "$services\\usbstor" /v start /f >/dev/null 2>&1
    wine reg delete 'HKLM\SYSTEM\CurrentControlSet\Control\FileSystem' /v NtfsDisableLastAccessUpdate /f >/dev/null 2>&1
    wine reg delete 'HKCU\DEFAULT\Control Panel\Desktop' /f >/dev/null 2>&1
    # Font smoothing off, as the display settings store it.
    wine reg add "$desktop" /v FontSmoothing /t REG_SZ /d 0 /f >/dev/null 2>&1
    wine reg delete 'HKCR\CLSID\{645FF040-5081-101B-9F08-00AA002F954E}' /v LocalizedString /f /reg:64 >/dev/null 2>&1
}

case "$case_name" in
settings)
    reset_values
    start_program
    probe wait 60000 || { fail "the window did not open"; exit 1; }
    click_tab 0
    expect "font smoothing \"0\" at start" "сглаживание экранных шрифтов 0" \
        "$(probe checked "сглаживание экранных шрифтов")"
    click_page "$main_page" $((258 + 119)) $((175 + 11))  # sbDelDoing: a plain toggle
    click_page "$main_page" $((-4 + 119)) $((80 + 11))    # sbDelAutorunCDROM: down at start, now up
    click_page "$main_page" $((-4 + 119)) $((128 + 11))   # sbFastOpenDir
    click_page "$main_page" $((-4 + 119)) $((152 + 11))   # sbClearTypeStyle
    click_tab 3
    click_page "$device_page" $((160 + 96)) $((112 + 11))  # sbBanUSB
    click_tab 1
    type_into "$more_page" $((8 + 40)) $((32 + 11)) "-1"   # seNumRemDocuments
    click_page "$more_page" $((136 + 56)) $((32 + 12))     # its "Установить"
    type_into "$more_page" $((8 + 60)) $((80 + 10)) "Kestro Bin"  # leTrashName
    click_page "$more_page" $((136 + 56)) $((80 + 12))     # its "Установить"

    expect "NoRun" "REG_DWORD 0x1" "$(reg_value "$explorer" NoRun)"
    expect "AutoRun" "REG_DWORD 0x1" "$(reg_value "$services\\CDRom" AutoRun)"
    expect "NtfsDisableLastAccessUpdate" "REG_DWORD 0x1" \
        "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Control\FileSystem' NtfsDisableLastAccessUpdate)"
    # Through SystemParametersInfo: in effect for another process at once,
    # and stored as Windows keeps it.
    expect "smoothing and its kind, asked by another process" "1 2" "$(probe smoothing)"
    expect "FontSmoothing" "REG_SZ 2" "$(reg_value "$desktop" FontSmoothing)"
    expect "FontSmoothingType" "REG_DWORD 0x2" "$(reg_value "$desktop" FontSmoothingType)"
    expect "FontSmoothingOrientation" "REG_DWORD 0x1" "$(reg_value "$desktop" FontSmoothingOrientation)"
    expect "no old DEFAULT key" "" "$(reg_value 'HKCU\DEFAULT\Control Panel\Desktop' FontSmoothing)"
    expect "usbstor start" "REG_DWORD 0x4" "$(reg_value "$services\\usbstor" start)"
    expect "MaxRecentDocs" "REG_DWORD 0xffffffff" "$(reg_value "$explorer" MaxRecentDocs)"
    expect "LocalizedString" "REG_SZ Kestro Bin" \
        "$(reg_value 'HKCR\CLSID\{645FF040-5081-101B-9F08-00AA002F954E}' LocalizedString)"
    stop_program_with_exit_button

    # A new start shows what the clicks left.
    start_program
    probe wait 60000 || { fail "the window did not open again"; exit 1; }
    # The pages are opened first, as a user would to see their controls.
    click_tab 3
    click_tab 1
    states=$(probe checked "убрать Выполнить" "отключить autorun" "быстрое открытие папок" \
        "сглаживание экранных шрифтов" "Откл. Flash" "убрать Найти" | tr '\n' ';')
    expect "states after the restart" \
        "убрать Выполнить 1;отключить autorun 0;быстрое открытие папок 1;сглаживание экранных шрифтов 1;Откл. Flash 1;убрать Найти 0;" \
        "$states"
    expect "recent documents after the restart" "-1" "$(probe spin)"
    # A second click puts smoothing off again.
    click_tab 0
    click_page "$main_page" $((-4 + 119)) $((152 + 11))   # sbClearTypeStyle
    expect "smoothing after the second click" "0 2" "$(probe smoothing)"
    expect "FontSmoothing after the second click" "REG_SZ 0" "$(reg_value "$desktop" FontSmoothing)"
    stop_program_with_exit_button
    ;;
error-box)
    reset_values
    wine reg add "$explorer" /v NoNetworkConnections /t REG_DWORD /d 1 /f >/dev/null
    wine reg add "$explorer" /v NoRun /t REG_SZ /d 1 /f >/dev/null
    start_program
    expect "the error box" "Kestro|Invalid data type for 'NoRun'|Kestro" "$(probe answer 60000)"
    probe wait 30000 || fail "the window did not open behind the error box"
    states=$(probe checked "убрать Сетевые подключения" "убрать Выполнить" "отключить autorun" | tr '\n' ';')
    # Read before the bad value: down. The failing one and those after it: as designed (up).
    expect "states" "убрать Сетевые подключения 1;убрать Выполнить 0;отключить autorun 0;" "$states"
    stop_program_with_exit_button
    reset_values
    ;;
western-text)
    # Russian typed on a Western Windows (run with an en_US locale: code
    # page 1252, which has no Cyrillic) is stored as typed.
    reset_values
    start_program
    probe wait 60000 || { fail "the window did not open"; exit 1; }
    click_tab 1
    type_into "$more_page" $((8 + 60)) $((80 + 10)) "Корзина"  # leTrashName
    click_page "$more_page" $((136 + 56)) $((80 + 12))        # its "Установить"
    expect "LocalizedString" "Корзина" \
        "$(exported_value 'HKEY_CLASSES_ROOT\CLSID\{645FF040-5081-101B-9F08-00AA002F954E}' LocalizedString)"
    stop_program_with_exit_button
    reset_values
    ;;
reg-import)
    # A .reg file of ours through Wine's own reg.exe: every value lands as
    # written, Cyrillic and escapes included, and the window shows it.
    [ -n "$exporter" ] || { fail "reg-import needs the exporter"; exit 1; }
    out=$build/reg-import
    rm -rf "$out"
    wine "$exporter" write "$(winepath -w "$out")" >/dev/null 2>&1 || fail "the exporter failed"
    bin='HKCR\CLSID\{645FF040-5081-101B-9F08-00AA002F954E}'
    values=("$explorer|NoRun|REG_DWORD 0x1" "$explorer|NoFind|REG_DWORD 0x0"
            "$explorer|MaxRecentDocs|REG_DWORD 0xffffffff"
            'HKCU\Control Panel\Desktop|FontSmoothing|REG_SZ 2'
            'HKCU\Control Panel\Desktop|FontSmoothingType|REG_DWORD 0x2'
            'HKCU\Control Panel\Desktop|FontSmoothingOrientation|REG_DWORD 0x1'
            'HKCU\Control Panel\Desktop|Wallpaper|REG_SZ C:\Мои рисунки\закат.bmp'
            "$services\\CDRom|AutoRun|REG_DWORD 0x0" "$services\\cdrom|start|REG_DWORD 0x4"
            "$services\\usbstor|start|REG_DWORD 0x3"
            "$bin|LocalizedString|REG_SZ Корзина \"для\" мусора \\ 100%" "$bin|InfoTip|REG_SZ")
    for v in "${values[@]}"; do
        IFS='|' read -r key name _ <<<"$v"
        wine reg delete "$key" /v "$name" /f /reg:64 >/dev/null 2>&1
    done
    if wine reg import "$(winepath -w "$out/sample.reg")" /reg:64 >/dev/null 2>&1; then
        echo "ok: reg import"
    else
        fail "reg import refused the file"
    fi
    for v in "${values[@]}"; do
        IFS='|' read -r key name want <<<"$v"
        expect "$name under $key" "$want" "$(reg_value "$key" "$name")"
    done
    start_program
    probe wait 60000 || { fail "the window did not open"; exit 1; }
    # The pages are opened first, as a user would to see their controls.
    click_tab 3
    click_tab 1
    states=$(probe checked "убрать Выполнить" "убрать Найти" "отключить autorun" "сглаживание экранных шрифтов" \
        "Откл. CD-ROM" "Откл. Flash" | tr '\n' ';')
    expect "states after the import" \
        "убрать Выполнить 1;убрать Найти 0;отключить autorun 1;сглаживание экранных шрифтов 1;Откл. CD-ROM 1;Откл. Flash 0;" \
        "$states"
    expect "recent documents after the import" "-1" "$(probe spin)"
    stop_program_with_exit_button
    for v in "${values[@]}"; do
        IFS='|' read -r key name _ <<<"$v"
        wine reg delete "$key" /v "$name" /f /reg:64 >/dev/null 2>&1
    done
    ;;
keyboard)
    # The window from the keyboard alone: real key events from xdotool.
    reset_values
    start_program
    probe wait 60000 || { fail "the window did not open"; exit 1; }
    # The X focus on Wine's desktop, whose foreground window is ours.
    desktop_id=$(xdotool search --name 'Wine desktop' 2>/dev/null | head -n 1)
    [ -n "$desktop_id" ] && xdotool windowfocus --sync "$desktop_id" 2>/dev/null
    key() { xdotool key --delay 80 "$@"; sleep 0.3; }
    expect "the focus at start" "SysTabControl32|" "$(probe focus)"
    # Tab goes round the first page: every toggle is reached.
    seen=""
    for _ in $(seq 40); do
        key Tab
        f=$(probe focus)
        [ "$f" = "SysTabControl32|" ] && break
        seen+="${f#*|};"
    done
    for caption in "вывести версию Windows" "отключить autorun" "убрать подсказки в ПУСК" \
        "очищать документы при перезагрузке" "убрать Выполнить" "убрать Мои рисунки"; do
        case ";$seen" in *";$caption;"*) echo "ok: Tab reaches $caption" ;; *) fail "Tab never reached $caption: $seen" ;; esac
    done
    expect "toggles reached by Tab on the first page" 26 \
        "$(tr ';' '\n' <<<"$seen" | grep -cvE '^(Выход||очистить поиск|установить обои)$')"
    # Space flips the focused toggle, which writes it.
    for _ in $(seq 40); do
        [ "$(probe focus)" = "Button|убрать Выполнить" ] && break
        key Tab
    done
    key space
    expect "Space put the toggle down" "убрать Выполнить 1" "$(probe checked "убрать Выполнить")"
    expect "and wrote NoRun" "REG_DWORD 0x1" "$(reg_value "$explorer" NoRun)"
    expect "the focus stayed on it" "Button|убрать Выполнить" "$(probe focus)"
    # Pages from anywhere.
    key ctrl+Tab
    expect "Ctrl+Tab" 1 "$(probe current)"
    key ctrl+Next
    expect "Ctrl+PageDown" 2 "$(probe current)"
    expect "the focus on the system information" "Edit|" "$(probe focus | head -n 1 | cut -c1-5)"
    # Escape in the memo destroys nothing; Tab leaves it.
    key Escape
    key Return
    if probe origin 'Системная информация' >/dev/null; then echo "ok: the page is still there"; else fail "Escape closed the page"; fi
    expect "the page still shown" 2 "$(probe current)"
    key Tab
    expect "Tab left the memo for the exit button" "Button|Выход" "$(probe focus)"
    key ctrl+Prior
    expect "Ctrl+PageUp" 1 "$(probe current)"
    # The chooser from the keyboard, and the focus after it closes.
    for _ in $(seq 20); do
        [ "$(probe focus)" = "Button|..." ] && break
        key Tab
    done
    expect "the folder button focused" "Button|..." "$(probe focus)"
    key Return
    for _ in $(seq 20); do [ "$(probe chooser)" = 1 ] && break; sleep 0.3; done
    expect "Enter opened the chooser" 1 "$(probe chooser)"
    key Escape
    for _ in $(seq 20); do [ "$(probe chooser)" = 0 ] && break; sleep 0.3; done
    expect "Escape closed the chooser" 0 "$(probe chooser)"
    expect "the focus back on the folder button" "Button|..." "$(probe focus)"
    # What a screen reader reads: every control that takes the focus has a
    # name, by the proxies' rule (a button's text, the label before an edit
    # or a picture) or from the control's own answer to oleacc, and no name
    # is only dots.
    for page in 0 1 2 3; do
        probe page "$page" >/dev/null
        names=$(probe names)
        unnamed=$(awk -F'|' '$3 == "tab=1" && ($6 == "name=" || $6 == "name=...") &&
                             ($7 ~ /^msaa=(.*hr=.*)?$/ || $7 == "msaa=...")' <<<"$names")
        expect "every control of page $page named" "" "$unnamed"
    done
    probe page 1 >/dev/null
    expect "the folder button's name through oleacc, from another process" "msaa=Выбрать папку..." \
        "$(probe names | awk -F'|' '$2 == "..." {print $7; exit}')"
    echo "what oleacc answered from another process, by control:"
    probe names | awk -F'|' '{print "  " $1 "|" $2 "|" $4 "|" $7}'
    stop_program_with_exit_button
    reset_values
    ;;
*)
    echo "e2e: unknown case $case_name"
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] && echo "e2e $case_name: passed" || echo "e2e $case_name: $failures failed"
[ "$failures" -eq 0 ]
