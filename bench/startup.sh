#!/usr/bin/env bash
# Start-up figures of the shipped (32-bit) kestro.exe under Wine, next to two
# minimal Win32 programs that show one empty window (bench/empty_window.cpp):
# a plain one, and one with kestro.exe's manifest (comctl32 version 6) and
# its InitCommonControlsEx call, which any tabbed window pays for. Time from
# process start to the main window's first paint, peak working set, and the
# size of kestro.exe.
#
#   bench/startup.sh [RUNS] [OTHER_KESTRO_EXE]
#
# RUNS defaults to 15 runs of each program. OTHER_KESTRO_EXE, a kestro.exe
# built elsewhere (an earlier commit, say), joins the same alternated series
# as "other", so that two builds are compared under the same load.
#
# Builds what it needs, starts Xvfb on a free display and a throw-away Wine
# prefix under build/ (reporting Windows XP, Russian locale, as the
# end-to-end tests do), then runs the programs in turn through
# bench/startup_probe.cpp, the order rotating from round to round, after
# one discarded warm-up run of each. A few more runs of the empty window
# check the probe: the program writes the moment of its own first paint,
# and the lag of the outside detection is shown. Not part of scripts/test:
# nothing here asserts a time.
#
# The figures are Wine's: process creation, the window manager and the
# memory counters are Wine's emulation on Linux (the peak working set is
# the Wine process's resident-set high-water mark), not Windows XP's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-15}
other=${2:-}
checks=5
usage() { echo "usage: bench/startup.sh [RUNS] [OTHER_KESTRO_EXE]" >&2; exit 2; }
[[ $runs =~ ^[1-9][0-9]*$ ]] || usage
if [ -n "$other" ]; then
    [ -f "$other" ] || usage
    other=$(realpath "$other")
fi

scripts/install-deps >/dev/null
scripts/build-libjpeg-mingw i686 build/deps/mingw-i686 >/dev/null
mkdir -p build
cmake --preset mingw-i686 >build/bench-startup.configure.log 2>&1 ||
    { cat build/bench-startup.configure.log; exit 1; }
cmake --build --preset mingw-i686 --target kestro empty_window manifest_window startup_probe

bin=$root/build/mingw-i686
kestro=$bin/app/kestro.exe
empty=$bin/bench/empty_window.exe
manifest=$bin/bench/manifest_window.exe
probe=$bin/bench/startup_probe.exe
prefix=$root/build/bench-wineprefix

source scripts/lib/wine-session.sh
export LC_ALL=${KESTRO_WINE_LOCALE:-ru_RU.UTF-8}
finish() {
    wine_session_stop
    rm -rf "$prefix"
}
trap finish EXIT
wine_session_start "$prefix" --fresh
wine reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1

kestro_w=$(winepath -w "$kestro" | tr -d '\r')
empty_w=$(winepath -w "$empty" | tr -d '\r')
manifest_w=$(winepath -w "$manifest" | tr -d '\r')
[ -z "$other" ] || other_w=$(winepath -w "$other" | tr -d '\r')
stamp_w=$(winepath -w "$prefix/drive_c/paint-stamp.txt" | tr -d '\r')

raw=$root/build/bench-startup.log
: >"$raw"
run() {  # run NAME [probe options...] EXE: one launch, its line appended to the log
    local name=$1 line
    shift
    line=$(wine "$probe" "$@" 2>&1 | tr -d '\r' | tail -n 1)
    echo "$name $line" >>"$raw"
    echo "  $name $line"
}

program() {  # program NAME [LOG-NAME]: one launch of that program
    local log=${2:-$1}
    case $1 in
        kestro) run "$log" --class TfrmMain "$kestro_w" ;;
        other) run "$log" --class TfrmMain "$other_w" ;;
        manifest) run "$log" --class KestroBenchEmptyWindow "$manifest_w" ;;
        empty) run "$log" --class KestroBenchEmptyWindow "$empty_w" ;;
    esac
}
programs=(kestro manifest empty)
[ -z "$other" ] || programs+=(other)

echo "=== warm-up (not counted)"
for p in "${programs[@]}"; do program "$p" "warmup-$p"; done
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "=== $runs runs of each, in turn"
count=${#programs[@]}
for i in $(seq 0 $((runs - 1))); do
    for j in $(seq 0 $((count - 1))); do program "${programs[$(((i + j) % count))]}"; done
done
echo "=== $checks runs of the empty window that report their own first paint"
for i in $(seq "$checks"); do
    run check --class KestroBenchEmptyWindow --stamp "$stamp_w" "$empty_w"
done

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

size=$(stat -c %s "$kestro")
stripped_copy=$root/build/bench-kestro-stripped.exe
i686-w64-mingw32-strip -o "$stripped_copy" "$kestro"
stripped=$(stat -c %s "$stripped_copy")
rm -f "$stripped_copy"

echo
echo "Start-up under Wine $(wine --version | tr -d '\r') on Xvfb, $runs runs each (raw lines: build/bench-startup.log)"
echo "sources: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet HEAD -- app ui settings form core registry runtime resources CMakeLists.txt || echo ', with uncommitted changes to the program')"
[ -z "$other" ] || echo "other: $other"
echo "$(nproc) CPUs; load average $load_before before the runs, $load_after after"
LC_ALL=C awk -v size="$size" -v stripped="$stripped" -v runs="$runs" -v other="${other:+1}" '
function value(key,    i, kv) {
    for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == key) return kv[2] }
    return "NA"
}
function add(name, key, v) { if (v != "NA" && v != "") { n[name, key]++; x[name, key, n[name, key]] = v + 0 } }
function sorted(name, key,    i, j, t, m) {
    m = n[name, key]
    for (i = 1; i <= m; i++) s[i] = x[name, key, i]
    for (i = 2; i <= m; i++) { t = s[i]; for (j = i - 1; j >= 1 && s[j] > t; j--) s[j + 1] = s[j]; s[j + 1] = t }
    return m
}
function median(name, key,    m) {
    m = sorted(name, key)
    if (m == 0) return "NA"
    return (m % 2) ? s[(m + 1) / 2] : (s[m / 2] + s[m / 2 + 1]) / 2
}
function lo(name, key,    m) { m = sorted(name, key); return m ? s[1] : "NA" }
function hi(name, key,    m) { m = sorted(name, key); return m ? s[m] : "NA" }
{
    name = $1
    if (name == "check") {
        if (value("paint_ms") != "NA" && value("self_paint_ms") != "NA")
            add("check", "lag", value("paint_ms") - value("self_paint_ms"))
        next
    }
    if (name != "kestro" && name != "other" && name != "manifest" && name != "empty") next
    if (value("exit") == "0" && value("paint_ms") != "NA") ok[name]++
    add(name, "paint", value("paint_ms"))
    add(name, "full", value("full_paint_ms"))
    add(name, "visible", value("visible_ms"))
    add(name, "peak", value("peak_ws_kb"))
}
END {
    printf "%-20s %11s %10s %10s %10s %11s %12s %8s\n", "program", "visible med", "paint med", "min", "max",
           "full med", "peak WS med", "ok runs"
    count = split(other ? "kestro other manifest empty" : "kestro manifest empty", names, " ")
    label["kestro"] = "kestro.exe (i686)"; label["other"] = "other kestro.exe"
    label["manifest"] = "manifest_window.exe"; label["empty"] = "empty_window.exe"
    for (k = 1; k <= count; k++) {
        p = names[k]
        printf "%-20s %9.1fms %8.1fms %8.1fms %8.1fms %9.1fms %9.0f KB %4d/%d\n", label[p], median(p, "visible"),
               median(p, "paint"), lo(p, "paint"), hi(p, "paint"), median(p, "full"), median(p, "peak"),
               ok[p], runs
    }
    print "paint: first paint of the main window; full: it and all its visible child windows painted"
    for (k = 1; k <= count; k++) {
        p = names[k]
        if (p != "kestro" && p != "other") continue
        printf "ratio %s/manifest, median first paint: %.2f\n", p, median(p, "paint") / median("manifest", "paint")
        printf "ratio %s/empty, median first paint: %.2f\n", p, median(p, "paint") / median("empty", "paint")
        printf "ratio %s/manifest, median peak working set: %.2f\n", p, median(p, "peak") / median("manifest", "peak")
        printf "ratio %s/empty, median peak working set: %.2f\n", p, median(p, "peak") / median("empty", "peak")
    }
    printf "kestro.exe: %d bytes as built (%d bytes stripped)\n", size, stripped
    if (n["check", "lag"])
        printf "probe check: detection %.1f ms (median; min %.1f, max %.1f) after the program'"'"'s own first paint, %d runs\n",
               median("check", "lag"), lo("check", "lag"), hi("check", "lag"), n["check", "lag"]
    else
        print "probe check: no self-reported paint was read"
}' "$raw"
