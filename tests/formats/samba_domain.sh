#!/usr/bin/env bash
# Our Registry.pol files through a real Active Directory domain controller:
# Debian's Samba, provisioned into a temporary folder and run in a network
# and mount namespace of its own, where only loopback exists and /etc/hosts,
# /etc/resolv.conf and /run/samba are the test's own files. It creates a
# GPO, puts both policy files into it over SMB, bumps its version, and
# checks that `samba-tool gpo fetch` gives them back byte for byte and that
# `samba-tool gpo backup` shows the expected entries.
#
#   samba_domain.sh DIR
#
# DIR holds User/Registry.pol, Machine/Registry.pol and expected.tsv. Needs
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
for f in User/Registry.pol Machine/Registry.pol expected.tsv; do
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

mkdir -p "$tmp/dc/run" "$tmp/run-samba" "$tmp/tmp" "$tmp/fetch" "$tmp/backup"
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

echo "samba_domain: $failures failure(s)"
[ "$failures" -eq 0 ]
