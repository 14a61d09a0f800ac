#!/usr/bin/env bash
# Our Registry.pol files through a real Active Directory domain controller:
# Debian's Samba, provisioned into a temporary folder and run in a network
# and mount namespace of its own, where only loopback exists and /etc/hosts,
# /etc/resolv.conf and /run/samba are the test's own files. It creates a
# GPO, puts both policy files into it over SMB, bumps its version, and
# checks that `samba-tool gpo fetch` gives them back byte for byte and that
# `samba-tool gpo backup` shows the expected entries. Then it deploys the
# GPO export (`kestroctl export gpo`) with the one command the export
# brings, and checks the GPO that made: its version in the directory and in
# GPT.INI, its extension names, its Registry.pol files byte for byte, its
# link to an OU, its ACLs, and that a second run is refused without harm.
# Last, `samba-tool gpo admxload` loads the administrative templates
# (`kestroctl export admx`) into the domain's central store, where they
# must be found over SMB, byte for byte, and nothing else beside them.
#
#   samba_domain.sh DIR
#
# DIR holds User/Registry.pol, Machine/Registry.pol, expected.tsv, the
# export in gpo/ with its name in gpo-name.txt, and the templates in admx/. Needs
# root (namespaces, mounts). Every process it started is stopped by its id,
# and its folder removed, however it ends.
set -uo pipefail
samples=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
tool=$here/samba_gpo_tool.py
realm=kestro.test
pw='Kestro-Test-1!'
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

[ "$(id -u)" -eq 0 ] || { echo "FAIL: the domain test needs root for its namespaces"; exit 1; }
templates=(kestro.admx en-US/kestro.adml ru-RU/kestro.adml)
for f in User/Registry.pol Machine/Registry.pol expected.tsv gpo-name.txt gpo/samba/deploy-on-samba.sh \
         "${templates[@]/#/admx/}"; do
    [ -f "$samples/$f" ] || { echo "FAIL: $samples/$f is missing"; exit 1; }
done

tmp=$(mktemp -d /tmp/kestro-dc.XXXXXX)
holder=

# Every process in the namespace, by id: the holder's network namespace is
# theirs, and nothing outside it shares that.
namespace_pids() {
    local ns p
    ns=$(readlink "/proc/$holder/ns/net" 2>/dev/null) || return 0
    for p in /proc/[0-9]*; do
        p=${p#/proc/}
        [ "$p" = "$holder" ] && continue
        [ "$(readlink "/proc/$p/ns/net" 2>/dev/null)" = "$ns" ] && echo "$p"
    done
}

cleanup() {
    if [ -n "$holder" ]; then
        local pid pids i
        if [ -f "$tmp/dc/run/samba.pid" ]; then
            pid=$(cat "$tmp/dc/run/samba.pid")
            [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
        fi
        for i in $(seq 50); do
            pids=$(namespace_pids)
            [ -z "$pids" ] && break
            sleep 0.2
        done
        pids=$(namespace_pids)
        # shellcheck disable=SC2086
        [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
        kill -KILL "$holder" 2>/dev/null
        wait "$holder" 2>/dev/null
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

unshare --net --mount --propagation private sleep infinity &
holder=$!
for i in $(seq 50); do
    [ "$(readlink /proc/$holder/ns/net)" != "$(readlink /proc/$$/ns/net)" ] && break
    sleep 0.1
done
ns() { nsenter -t "$holder" -n -m -- "$@"; }

mkdir -p "$tmp/dc/run" "$tmp/run-samba" "$tmp/tmp" "$tmp/fetch" "$tmp/backup" "$tmp/fetch2" "$tmp/backup2"
printf '127.0.0.1 localhost\n127.0.0.1 dc1.%s dc1\n' "$realm" >"$tmp/hosts"
echo 'nameserver 127.0.0.1' >"$tmp/resolv.conf"
: >"$tmp/empty.conf"
ns ip link set lo up || { fail "loopback"; exit 1; }
ns mount --bind "$tmp/hosts" /etc/hosts || { fail "hosts"; exit 1; }
ns mount --bind "$tmp/resolv.conf" /etc/resolv.conf || { fail "resolv.conf"; exit 1; }
if [ -d /run/samba ]; then
    ns mount --bind "$tmp/run-samba" /run/samba || { fail "/run/samba"; exit 1; }
else
    ns mount -t tmpfs none /run && ns mkdir /run/samba || { fail "/run/samba"; exit 1; }
fi
echo "ok: namespace holder $holder: $(ns ip -o link | awk -F': ' '{print $2}' | tr '\n' ' ')"

if ! ns samba-tool domain provision -s "$tmp/empty.conf" --targetdir="$tmp/dc" \
        --realm="${realm^^}" --domain=KESTRO --server-role=dc --dns-backend=SAMBA_INTERNAL \
        --adminpass="$pw" --host-name=dc1 --host-ip=127.0.0.1 \
        --option="interfaces = lo" --option="bind interfaces only = yes" \
        --option="pid directory = $tmp/dc/run" --option="ncalrpc dir = $tmp/dc/ncalrpc" \
        --option="ntp signd socket directory = $tmp/dc/ntp_signd" \
        --option="log file = $tmp/dc/log.%m" --option="tls enabled = no" >"$tmp/provision.log" 2>&1; then
    tail -n 20 "$tmp/provision.log"
    fail "provision"
    exit 1
fi
conf=$tmp/dc/etc/smb.conf
sed -i '/dns forwarder/d' "$conf"
ok "provisioned ${realm^^}"

ns samba -s "$conf" -D || { fail "samba did not start"; exit 1; }
auth=(-U "Administrator%$pw")
ready=0
for i in $(seq 120); do
    if ns smbclient -s "$conf" //127.0.0.1/sysvol "${auth[@]}" -c ls >/dev/null 2>&1 &&
       ns samba-tool gpo listall -s "$conf" -H ldap://127.0.0.1 "${auth[@]}" >/dev/null 2>&1; then
        ready=1
        break
    fi
    sleep 0.5
done
[ $ready -eq 1 ] || { fail "the DC did not answer"; tail -n 20 "$tmp"/dc/log.* 2>/dev/null; exit 1; }
ok "samba $(cat "$tmp/dc/run/samba.pid") answers on SMB and LDAP"

gpo=(-s "$conf" -H ldap://127.0.0.1 "${auth[@]}")
out=$(ns samba-tool gpo create "Kestro settings" "${gpo[@]}" --tmpdir="$tmp/tmp" 2>&1)
guid=$(grep -o '{[0-9A-Fa-f-]\{36\}}' <<<"$out" | head -n 1)
[ -n "$guid" ] || { fail "gpo create: $out"; exit 1; }
ok "gpo create: $guid"

share=$realm/Policies/$guid
if ! ns smbclient -s "$conf" //127.0.0.1/sysvol "${auth[@]}" \
        -c "lcd $samples; cd $share/User; put User/Registry.pol Registry.pol; cd ../Machine; put Machine/Registry.pol Registry.pol" \
        >"$tmp/put.log" 2>&1; then
    cat "$tmp/put.log"
    fail "smbclient put"
    exit 1
fi
ok "both Registry.pol files put over SMB"

# Version: user changes in the high word, machine changes in the low one.
version=$(((1 << 16) | 1))
printf '[General]\r\nVersion=%d\r\n' "$version" >"$tmp/GPT.INI"
ns smbclient -s "$conf" //127.0.0.1/sysvol "${auth[@]}" -c "lcd $tmp; cd $share; put GPT.INI" >/dev/null 2>&1 ||
    fail "GPT.INI put"
ns /usr/bin/python3 "$tool" bump "$conf" "$pw" "$guid" "$version" || fail "version bump"

if ns samba-tool gpo fetch "$guid" "${gpo[@]}" --tmpdir="$tmp/fetch" >"$tmp/fetch.log" 2>&1; then
    for scope in User Machine; do
        got=$(find "$tmp/fetch" -ipath "*/$guid/$scope/Registry.pol" | head -n 1)
        if [ -n "$got" ] && cmp "$got" "$samples/$scope/Registry.pol"; then
            ok "gpo fetch: $scope/Registry.pol byte for byte ($(stat -c %s "$got") bytes)"
        else
            fail "gpo fetch: $scope/Registry.pol differs or is missing ($got)"
        fi
    done
    got=$(find "$tmp/fetch" -ipath "*/$guid/GPT.INI" | head -n 1)
    if [ -n "$got" ] && grep -q "^Version=$version" "$got"; then ok "gpo fetch: GPT.INI Version=$version"; else fail "GPT.INI"; fi
else
    cat "$tmp/fetch.log"
    fail "gpo fetch"
fi

if ns samba-tool gpo backup "$guid" "${gpo[@]}" --tmpdir="$tmp/backup" >"$tmp/backup.log" 2>&1; then
    /usr/bin/python3 "$tool" check-backup "$tmp/backup" "$samples/expected.tsv" || failures=$((failures + 1))
else
    cat "$tmp/backup.log"
    fail "gpo backup"
fi

# ---- the GPO export, deployed by its own command ----
name=$(cat "$samples/gpo-name.txt")
ou="OU=Pupils,DC=${realm%%.*},DC=${realm#*.}"
ns samba-tool ou create "$ou" "${gpo[@]}" >/dev/null 2>&1 || fail "ou create $ou"
out=$(ns bash "$samples/gpo/samba/deploy-on-samba.sh" --ou "$ou" "${gpo[@]}" 2>&1)
status=$?
deployed=$(sed -n 's/.* deployed as \({[0-9A-F-]*}\), .*/\1/p' <<<"$out" | tail -n 1)
if [ $status -eq 0 ] && [ -n "$deployed" ]; then
    ok "deploy-on-samba.sh: $(tail -n 1 <<<"$out")"
else
    echo "$out"
    fail "deploy-on-samba.sh exited $status"
fi

if [ -n "$deployed" ]; then
    want=$(sed -n 's:.*<Value>\([0-9]*\)</Value>.*:\1:p' "$samples/gpo/samba/backup/GPT.INI.xml")
    attrs=$(ns /usr/bin/python3 "$tool" show "$conf" "$pw" "$deployed")
    attr() { awk -F'\t' -v a="$1" '$1 == a { print $2 }' <<<"$attrs"; }
    [ "$(attr displayName)" = "$name" ] && ok "displayName: $name" || fail "displayName: $(attr displayName)"
    version=$(attr versionNumber)
    if [ -n "$version" ] && [ "$version" != 0 ] && [ "$version" = "$want" ]; then
        ok "versionNumber $version, as the export's GPT.INI"
    else
        fail "versionNumber '$version', the export's GPT.INI says '$want'"
    fi
    machine='[{35378EAC-683F-11D2-A89A-00C04FBBCFA2}{0F6B957D-509E-11D1-A7CC-0000F87571E3}]'
    user='[{35378EAC-683F-11D2-A89A-00C04FBBCFA2}{0F6B957E-509E-11D1-A7CC-0000F87571E3}]'
    [ "$(attr gPCMachineExtensionNames)" = "$machine" ] && ok "gPCMachineExtensionNames exact" ||
        fail "gPCMachineExtensionNames: $(attr gPCMachineExtensionNames)"
    [ "$(attr gPCUserExtensionNames)" = "$user" ] && ok "gPCUserExtensionNames exact" ||
        fail "gPCUserExtensionNames: $(attr gPCUserExtensionNames)"

    if ns samba-tool gpo fetch "$deployed" "${gpo[@]}" --tmpdir="$tmp/fetch2" >"$tmp/fetch2.log" 2>&1; then
        backup=$(find "$samples/gpo/windows" -mindepth 1 -maxdepth 1 -type d | head -n 1)
        for scope in User Machine; do
            got=$(find "$tmp/fetch2" -ipath "*/$deployed/$scope/Registry.pol" | head -n 1)
            if [ -n "$got" ] && cmp "$got" "$samples/$scope/Registry.pol" &&
               cmp "$got" "$backup/DomainSysvol/GPO/$scope/registry.pol"; then
                ok "deployed $scope/Registry.pol is the export's, byte for byte ($(stat -c %s "$got") bytes)"
            else
                fail "deployed $scope/Registry.pol differs or is missing ($got)"
            fi
        done
        got=$(find "$tmp/fetch2" -ipath "*/$deployed/GPT.INI" | head -n 1)
        gpt=$(tr -d '\r ' <"$got" | sed -n 's/^Version=//p')
        [ "$gpt" = "$version" ] && ok "GPT.INI Version=$gpt, as versionNumber" || fail "GPT.INI Version '$gpt'"
    else
        cat "$tmp/fetch2.log"
        fail "gpo fetch of the deployed GPO"
    fi

    # samba-tool's own backup of the deployed GPO: its XML files are the
    # export's, byte for byte.
    if ns samba-tool gpo backup "$deployed" "${gpo[@]}" --tmpdir="$tmp/backup2" >"$tmp/backup2.log" 2>&1; then
        for file in User/Registry.pol.xml Machine/Registry.pol.xml GPT.INI.xml; do
            got=$(find "$tmp/backup2" -ipath "*/$deployed/$file" | head -n 1)
            if [ -n "$got" ] && cmp -s "$got" "$samples/gpo/samba/backup/$file"; then
                ok "samba-tool's backup writes $file as the export does"
            else
                diff "$got" "$samples/gpo/samba/backup/$file" | head -n 20
                fail "samba-tool's $file differs from the export's ($got)"
            fi
        done
    else
        cat "$tmp/backup2.log"
        fail "gpo backup of the deployed GPO"
    fi

    links=$(ns samba-tool gpo getlink "$ou" "${gpo[@]}" 2>&1)
    grep -qF "$deployed" <<<"$links" && ok "linked to $ou" || { echo "$links"; fail "not linked to $ou"; }
    acl=$(ns samba-tool gpo aclcheck "${gpo[@]}" 2>&1) && ok "gpo aclcheck is clean" || { echo "$acl"; fail "gpo aclcheck"; }

    # The name is taken now: a second run must fail and leave the first GPO.
    if out=$(ns bash "$samples/gpo/samba/deploy-on-samba.sh" "${gpo[@]}" 2>&1); then
        fail "a second deploy of the same name succeeded"
    else
        ok "a second deploy of the same name is refused: $(grep -m 1 -o 'A GPO already exist[^.]*' <<<"$out")"
    fi
    ns samba-tool gpo show "$deployed" "${gpo[@]}" >/dev/null 2>&1 && ok "the deployed GPO is still there" ||
        fail "the refused second deploy removed the first GPO"
fi

# ---- the administrative templates, into the central store ----
store=$realm/Policies/PolicyDefinitions
if out=$(ns samba-tool gpo admxload --admx-dir="$samples/admx" "${gpo[@]}" 2>&1); then
    ok "gpo admxload of the exported templates"
else
    echo "$out"
    fail "gpo admxload exited non-zero"
fi
mkdir -p "$tmp/store"
for file in "${templates[@]}"; do
    got=$tmp/store/${file//\//_}
    if ns smbclient -s "$conf" //127.0.0.1/sysvol "${auth[@]}" -c "get $store/$file $got" >"$tmp/get.log" 2>&1 &&
       cmp -s "$got" "$samples/admx/$file"; then
        ok "central store: $file, byte for byte ($(stat -c %s "$got") bytes)"
    else
        cat "$tmp/get.log"
        fail "central store: $file is missing or differs"
    fi
done
# What the store holds on the DC's disk: those three files, nothing else.
names=$(find "$tmp/dc/state/sysvol/$store" -type f -printf '%P\n' 2>&1 | sort | tr '\n' ' ')
[ "$names" = "en-US/kestro.adml kestro.admx ru-RU/kestro.adml " ] && ok "the store holds exactly $names" ||
    fail "the store holds '$names'"

echo "samba_domain: $failures failure(s)"
[ "$failures" -eq 0 ]
