#!/usr/bin/env bash
# The real kestroctl in a Russian locale and in an English one, on the hives
# of an offline Windows: --help, errors, list and get speak the locale's
# language with the same exit codes; English is byte for byte what
# --lang en gives anywhere; --lang chooses whatever the locale.
#
#   russian_kestroctl.sh KESTROCTL EMPTY_HIVE_TOOL WORKDIR
set -uo pipefail
kestroctl=$1 empty_hive=$2 work=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {  # expect LABEL WANTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok: $1"; else fail "$1: wanted [$2], got [$3]"; fi
}
has() {  # has LABEL TEXT NEEDLE
    if grep -qF -- "$3" <<<"$2"; then echo "ok: $1"; else fail "$1: [$3] not in [$2]"; fi
}
locale -a 2>/dev/null | grep -qix 'ru_RU.utf8' || { echo "FAIL: no ru_RU.UTF-8 locale (scripts/install-deps makes it)"; exit 1; }

rm -rf "$work"
win=$work/win
mkdir -p "$win/WINDOWS/system32/config" "$win/Documents and Settings/john"
"$empty_hive" "$win/WINDOWS/system32/config/system" "$win/WINDOWS/system32/config/software" \
    "$win/WINDOWS/system32/config/SAM" "$win/Documents and Settings/john/NTUSER.DAT" || { echo "FAIL: kestro_empty_hive"; exit 1; }

unset LANGUAGE LC_ALL LC_MESSAGES
# run LOCALE ARGS...: stdout to $work/out, stderr to $work/err, the exit code echoed.
run() {
    local locale=$1
    shift
    LANG=$locale "$kestroctl" "$@" >"$work/out" 2>"$work/err"
    echo $?
}
ru() { run ru_RU.UTF-8 "$@"; }
en() { run en_US.UTF-8 "$@"; }
out() { cat "$work/out"; }
err() { cat "$work/err"; }

# --help: the usage line, CLI11's words and the profile example in Russian,
# the descriptions in one column counted in characters.
expect "--help exits 0 in Russian" 0 "$(ru --help)"
has "--help: the usage line" "$(out)" "Запуск: kestroctl [КЛЮЧИ] КОМАНДА"
has "--help: a command's summary" "$(out)" "записывает состояние всех параметров в профиль"
has "--help: a Russian profile example" "$(out)" 'RecycleBinName = "Корзина"'
columns=$(out | grep -E '^  (--lang|--offline|list|get) ' | python3 -c '
import sys
print(sorted({len(l) - len(l[2:].lstrip(" ").split("  ", 1)[-1].lstrip(" ")) for l in sys.stdin.read().splitlines()}))')
expect "--help: descriptions start in one column" "[30]" "$columns"
expect "get --help exits 0" 0 "$(ru get --help)"
has "get --help: the positional" "$(out)" "Аргументы:"

# Errors: Russian, with the English exit codes.
for args in "list" "--offline $win/WINDOWS get Bogus" "--offline $win/WINDOWS set NoRun maybe" "bogus" "get"; do
    # shellcheck disable=SC2086
    code_ru=$(ru $args)
    err_ru=$(err)
    # shellcheck disable=SC2086
    code_en=$(en $args)
    expect "'$args': the exit code in Russian is the English one" "$code_en" "$code_ru"
    [ "$code_ru" = 2 ] || fail "'$args' exits $code_ru, not 2"
    LC_ALL=C grep -q $'[\xd0\xd1]' <<<"$err_ru" || fail "'$args': the error is not in Russian: [$err_ru]"
done
ru list >/dev/null
has "no registry: Russian" "$(err)" "kestroctl: в этой системе нет реестра Windows"
ru --offline "$win/WINDOWS" get Bogus >/dev/null
has "unknown setting: Russian" "$(err)" 'kestroctl: неизвестный параметр "Bogus" (имена показывает kestroctl list)'
ru --offline "$win/WINDOWS" set NoRun maybe >/dev/null
has "a wrong value: Russian, the states kept" "$(err)" '"maybe" не является значением NoRun: укажите on или off'

# list and get: Russian headers and words; names and states as they are.
expect "list exits 0 in Russian" 0 "$(ru --offline "$win/WINDOWS" list)"
header=$(out | head -n 1)
has "list: the header" "$header" "ИМЯ"
has "list: the header's state" "$header" "СОСТОЯНИЕ"
has "list: the header's source" "$header" "ИСТОЧНИК"
norun=$(out | grep '^NoRun ')
has "list: the name and state as typed" "$norun" "NoRun "
has "list: the state stays on/off" "$norun" " off "
has "list: the scope in Russian" "$norun" "пользователь"
# The CAPTION column starts at the same character on every line.
starts=$(out | python3 -c '
import sys
lines = sys.stdin.read().splitlines()
at = lines[0].index("ПОДПИСЬ")
print("same" if all(len(l) > at and l[at - 1] == " " and l[at] != " " for l in lines[1:]) else "differ")')
expect "list: the columns lined up in characters" same "$starts"
expect "get exits 0 in Russian" 0 "$(ru --offline "$win/WINDOWS" get NoRun)"
expect "get: the state as typed" off "$(out)"
expect "set exits 0 in Russian" 0 "$(ru --offline "$win/WINDOWS" set NoRun on)"
has "set: the hive written, in Russian" "$(err)" "kestroctl: записан "
expect "get after set" on "$(ru --offline "$win/WINDOWS" get NoRun >/dev/null; out)"

# A value CLI11 refuses, in Russian; export's own subcommands' help, all of
# it in Russian; the C library's texts in Cyrillic, not spelt in Latin.
expect "--scope bogus exits 2" 2 "$(ru save "$work/x.ini" --scope bogus)"
has "--scope bogus: Russian" "$(err)" "kestroctl: --scope: допустимо одно из {user,machine}, а не bogus"
expect "--keep-backups x exits 2" 2 "$(ru --offline "$win/WINDOWS" --keep-backups x list)"
has "--keep-backups x: Russian" "$(err)" "kestroctl: --keep-backups: нужно целое число от 0 до 10000, а не x"
expect "export reg --help exits 0" 0 "$(ru export reg --help)"
has "export reg --help: the options' heading" "$(out)" "Ключи:"
has "export reg --help: --scope's values" "$(out)" "--scope user|machine "
for english in "Options:" "TEXT"; do
    ! grep -qF -- "$english" "$work/out" || fail "export reg --help in Russian says '$english'"
done
ru --offline "$win/WINDOWS" apply "$work/missing.ini" >/dev/null
if [ -f /usr/share/locale/ru/LC_MESSAGES/libc.mo ]; then
    has "the C library's reason in Cyrillic" "$(err)" "Нет такого файла или каталога"
fi
! grep -q "Net takogo" "$work/err" || fail "the C library's reason spelt in Latin letters: $(err)"
# A note on what cannot be read (a Registry.pol of version 2), in Russian.
mkdir -p "$win/WINDOWS/system32/GroupPolicy/User"
printf 'PReg\x02\x00\x00\x00' >"$win/WINDOWS/system32/GroupPolicy/User/Registry.pol"
for command in list "get NoRun"; do
    # shellcheck disable=SC2086
    expect "$command with a bad Registry.pol exits 0" 0 "$(ru --offline "$win/WINDOWS" $command)"
    has "$command: the note in Russian" "$(err)" "kestroctl: примечание: "
done
rm -r "$win/WINDOWS/system32/GroupPolicy"

# The engine's own refusals (the offline Windows, the readers of files), in
# Russian with the English exit code, and in English word for word as before.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_BOGUS\\Software]\r\n' | iconv -f UTF-8 -t UTF-16LE |
    { printf '\xff\xfe'; cat; } >"$work/bad.reg"
engine_case() {  # engine_case LABEL RUSSIAN ENGLISH ARGS...
    local label=$1 russian=$2 english=$3 code_ru code_en
    shift 3
    code_ru=$(ru "$@")
    has "$label: Russian" "$(err)" "$russian"
    code_en=$(en "$@")
    expect "$label: English unchanged" "$english" "$(err)"
    expect "$label: the exit code in Russian is the English one" "$code_en" "$code_ru"
    [ "$code_en" != 0 ] || fail "$label exits 0"
}
engine_case "a user with no profile" \
    "kestroctl: рядом с $win/WINDOWS нет профиля пользователя \"nobody\" (профили: john)" \
    "kestroctl: no user profile \"nobody\" beside $win/WINDOWS (profiles: john)" \
    --offline "$win/WINDOWS" --user nobody get NoRun
engine_case "a folder that is not there" \
    "kestroctl: $win/nowhere: такой папки нет; укажите папку Windows подключённой установки" \
    "kestroctl: $win/nowhere: no such folder; give the Windows folder of the mounted installation, for example /mnt/windows/WINDOWS" \
    --offline "$win/nowhere" get NoRun
engine_case "a folder that is not the Windows folder" \
    "kestroctl: $win: здесь нет папки system32/config; это точно папка Windows?" \
    "kestroctl: $win: no system32/config folder here; is this the Windows folder?" \
    --offline "$win" get NoRun
engine_case "a malformed .reg file" \
    "kestroctl: $work/bad.reg: строка 3: неизвестный корневой раздел; ожидается HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE или HKEY_CLASSES_ROOT; ничего не записано" \
    "kestroctl: $work/bad.reg: line 3: unknown root key; expected HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT; nothing was written" \
    --offline "$win/WINDOWS" apply "$work/bad.reg"
# A dirty user hive (its first sequence number one past the second) with no
# log beside it.
hive="$win/Documents and Settings/john/NTUSER.DAT"
cp "$hive" "$work/clean.dat"
python3 -c '
import struct, sys
with open(sys.argv[1], "r+b") as f:
    f.seek(8); seq2, = struct.unpack("<I", f.read(4)); f.seek(4); f.write(struct.pack("<I", seq2 + 1))' "$hive"
engine_case "a dirty hive without its logs" \
    "kestroctl: $hive: это не куст реестра, который можно прочитать (" \
    "kestroctl: $hive: not a registry hive that can be read (Invalid argument); it is dirty, and its logs cannot be used: there is no log (NAME.LOG, NAME.LOG1 or NAME.LOG2) beside it" \
    --offline "$win/WINDOWS" set NoRun off
has "a dirty hive: why, in Russian" "$(ru --offline "$win/WINDOWS" set NoRun off >/dev/null; err)" \
    "он не закрыт чисто, а его журналы нельзя использовать: рядом с ним нет журнала (ИМЯ.LOG, ИМЯ.LOG1 или ИМЯ.LOG2)"
cp "$work/clean.dat" "$hive"

# English: what every locale but Russian gives, and --lang en in Russian.
for args in "--help" "--offline $win/WINDOWS list" "list" "bogus"; do
    # shellcheck disable=SC2086
    code_en=$(en $args)
    cp "$work/out" "$work/out.en"
    cp "$work/err" "$work/err.en"
    # shellcheck disable=SC2086
    code_c=$(run C $args)
    cmp -s "$work/out" "$work/out.en" && cmp -s "$work/err" "$work/err.en" && [ "$code_c" = "$code_en" ] ||
        fail "'$args': the C locale differs from en_US"
    # shellcheck disable=SC2086
    code_ru=$(ru --lang en $args)
    cmp -s "$work/out" "$work/out.en" && cmp -s "$work/err" "$work/err.en" && [ "$code_ru" = "$code_en" ] ||
        fail "'$args': --lang en in a Russian locale differs from en_US"
    LC_ALL=C grep -q $'[\xd0\xd1]' "$work/out.en" "$work/err.en" && [ "$args" != "--offline $win/WINDOWS list" ] &&
        fail "'$args': Cyrillic in English"
done
echo "ok: English is the same in en_US, C and --lang en"
en --offline "$win/WINDOWS" list >/dev/null
expect "list in English: the header" "NAME                    STATE     SOURCE  SCOPE   EFFECT  ADMIN TATTOO WINDOWS CAPTION" "$(out | head -n 1)"

# --lang ru in any locale; a language that is none is refused.
run C --lang ru --offline "$win/WINDOWS" list >/dev/null
has "--lang ru in the C locale" "$(out | head -n 1)" "ИМЯ"
run C --offline "$win/WINDOWS" list --lang=ru >/dev/null
has "--lang=ru after the command" "$(out | head -n 1)" "ИМЯ"
en save "$work/x.ini" --scope bogus >/dev/null
has "--scope bogus in English" "$(err)" "kestroctl: --scope: bogus is not one of {user,machine}"
expect "--lang de exits 2" 2 "$(en --lang de list)"
has "--lang de: said why" "$(err)" "--lang de: give ru or en"
# A local Group Policy file that is not a Registry.pol: the note about it
# and set's refusal in Russian, nothing written.
gp=$win/WINDOWS/system32/GroupPolicy/User
mkdir -p "$gp" && printf 'PReg\002' >"$gp/Registry.pol"
expect "get with a bad Registry.pol exits 0" 0 "$(ru --offline "$win/WINDOWS" get NoRun)"
has "get: the note in Russian" "$(err)" "kestroctl: примечание: %SystemRoot%\\System32\\GroupPolicy\\User\\Registry.pol не является корректным файлом Registry.pol"
before=$(md5sum <"$win/Documents and Settings/john/NTUSER.DAT")
expect "set with a bad Registry.pol exits 1" 1 "$(ru --offline "$win/WINDOWS" set NoRun on)"
has "set: refused in Russian" "$(err)" "ничего не записано (сначала исправьте или удалите этот файл)"
expect "set: the user's hive unchanged" "$before" "$(md5sum <"$win/Documents and Settings/john/NTUSER.DAT")"
rm -r "$win/WINDOWS/system32/GroupPolicy"
exit $((failures > 0))
