#!/usr/bin/env bash
# The statically linked kestroctl on a rescue system that has nothing else:
# an empty chroot holding only the binary and a test volume (an offline
# Windows layout with a profile Windows loads under another folder's name,
# and a Russian administrator's account).
#
#   static_kestroctl.sh KESTROCTL_STATIC EMPTY_HIVE_TOOL FIXTURES WORKDIR
#
# `file` is asked everywhere; the chroot needs root, and is "SKIPPED: ..."
# without it.
set -uo pipefail
kestroctl=$1 empty_hive=$2 fixtures=$3 work=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

kind=$(file -b "$kestroctl")
case $kind in *"statically linked"*) ;; *) fail "file says: $kind" ;; esac
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: the empty chroot needs root (statically linked: checked)"
    exit "$((failures > 0))"
fi

rm -rf "$work"
root=$work/root
config=$root/win/WINDOWS/system32/config
profiles="$root/win/Documents and Settings"
mkdir -p "$config" "$profiles/john" "$profiles/john.PC" "$profiles/Администратор"
"$empty_hive" "$config/system" "$config/software" "$config/SAM" "$profiles/john/NTUSER.DAT" \
    "$profiles/john.PC/NTUSER.DAT" "$profiles/Администратор/NTUSER.DAT" || { echo "FAIL: kestro_empty_hive"; exit 1; }
key='\Microsoft\Windows NT\CurrentVersion\ProfileList'
# A REG_SZ as hex(1): UTF-16LE bytes (hivexregedit would take a quoted
# text's UTF-8 bytes for Latin-1).
sz() { printf '%s\0' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }
names='\SAM\Domains\Account\Users\Names'
cat >"$work/profiles.reg" <<REG
Windows Registry Editor Version 5.00

[$key]

[$key\\S-1-5-21-5-6-7-1004]
"ProfileImagePath"="C:\\\\Documents and Settings\\\\john.PC"

[$key\\S-1-5-21-5-6-7-500]
"ProfileImagePath"=hex(1):$(sz 'C:\DOCUMENTS AND SETTINGS\администратор')

REG
cat >"$work/sam.reg" <<REG
Windows Registry Editor Version 5.00

[\\SAM]

[\\SAM\\Domains]

[\\SAM\\Domains\\Account]

[\\SAM\\Domains\\Account\\Users]

[$names]

[$names\\john]
@=hex(3ec):

[$names\\Администратор]
@=hex(1f4):

REG
{ hivexregedit --merge "$config/system" "$fixtures/system.reg" &&
    hivexregedit --merge "$config/software" "$fixtures/software.reg" &&
    hivexregedit --merge "$config/software" "$work/profiles.reg" &&
    hivexregedit --merge "$config/SAM" "$work/sam.reg" &&
    for user in john john.PC Администратор; do hivexregedit --merge "$profiles/$user/NTUSER.DAT" "$fixtures/ntuser.reg" || exit 1; done
} || { echo "FAIL: hivexregedit --merge"; exit 1; }
cp "$kestroctl" "$root/kestroctl"
[ "$(ls "$root" | tr '\n' ' ')" = "kestroctl win " ] || fail "the chroot holds more: $(ls "$root")"

offline() { chroot "$root" /kestroctl --offline /win/windows "$@"; }

# Hives are read through /proc/self/fd, which every live system mounts:
# without it, kestroctl says so and changes nothing.
offline --user john get DisableTaskMgr >"$work/noproc.out" 2>"$work/noproc.err" && fail "get without /proc exited 0"
grep -q 'mount -t proc proc /proc' "$work/noproc.err" || fail "no word of /proc: $(cat "$work/noproc.err")"
mkdir "$root/proc" && mount -t proc proc "$root/proc" || { echo "FAIL: cannot mount /proc in the chroot"; exit 1; }
trap 'umount "$root/proc"' EXIT

offline list-users >"$work/users.out" 2>"$work/users.err" || fail "list-users exited $?: $(cat "$work/users.err")"
grep -q '^john .*S-1-5-21-5-6-7-1004 .*yes .*/win/Documents and Settings/john.PC$' "$work/users.out" ||
    fail "list-users does not show john's profile john.PC: $(cat "$work/users.out")"
grep -q '^Администратор .*S-1-5-21-5-6-7-500 ' "$work/users.out" ||
    fail "list-users does not name the administrator: $(cat "$work/users.out")"
grep -q 'john (not loaded by Windows' "$work/users.out" || fail "list-users does not mark the old john folder"

before_old=$(sha256sum <"$profiles/john/NTUSER.DAT")
offline --user JOHN set DisableTaskMgr off 2>"$work/set.err" || fail "set exited $?: $(cat "$work/set.err")"
[ "$(offline --user john get DisableTaskMgr 2>&1)" = off ] || fail "get after set: not off"
reglookup -H "$profiles/john.PC/NTUSER.DAT" | grep -qi 'Policies/System/DisableTaskMgr,DWORD,0x00000000' ||
    fail "reglookup does not read DisableTaskMgr=0 in john.PC's hive"
[ "$(sha256sum <"$profiles/john/NTUSER.DAT")" = "$before_old" ] || fail "the folder Windows does not load was written"
[ "$(offline --user администратор get DisableTaskMgr 2>&1)" = on ] || fail "the administrator's hive cannot be read"

offline --user john restore >"$work/restore.out" 2>&1 || fail "restore exited $?: $(cat "$work/restore.out")"
[ "$(offline --user john get DisableTaskMgr 2>&1)" = on ] || fail "get after restore: not on"

# Russian with no catalogue and no locale on the system: the chroot has
# neither, so only the texts built into the program can answer.
help=$(LANG=ru_RU.UTF-8 chroot "$root" /kestroctl --help 2>&1)
grep -qF 'Запуск: kestroctl [КЛЮЧИ] КОМАНДА' <<<"$help" || fail "--help under LANG=ru_RU.UTF-8 is not Russian: $help"
LANG=ru_RU.UTF-8 offline --user john get Bogus >"$work/ru.out" 2>"$work/ru.err"
code_ru=$?
LANG=en_US.UTF-8 offline --user john get Bogus >/dev/null 2>"$work/en.err"
code_en=$?
[ "$code_ru" = 2 ] && [ "$code_en" = 2 ] || fail "get Bogus exits $code_ru in Russian, $code_en in English, not 2"
# Cyrillic letters are U+0400..U+047F: in UTF-8, a lead byte D0 or D1.
cyrillic() { LC_ALL=C grep -q $'[\xd0\xd1]' "$@"; }
cyrillic "$work/ru.err" || fail "get Bogus's error is not Russian: $(cat "$work/ru.err")"
cyrillic "$work/en.err" && fail "get Bogus's error under LANG=en_US.UTF-8 is not English: $(cat "$work/en.err")"
[ "$(LANG=C offline --lang ru --user john get Bogus 2>&1)" = "$(cat "$work/ru.err")" ] || fail "--lang ru differs from LANG=ru_RU.UTF-8"

[ "$failures" -eq 0 ] && echo "the static kestroctl in an empty chroot: passed"
exit "$((failures > 0))"
