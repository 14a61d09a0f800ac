# A display and a Wine prefix for running Windows programs, started once and
# stopped on exit. Source it, then call wine_session_start PREFIX [--fresh].

_kestro_xvfb_pid=
_kestro_session_prefix=

wine_session_stop() {
    if [ -n "$_kestro_session_prefix" ]; then
        WINEPREFIX=$_kestro_session_prefix wineserver -k >/dev/null 2>&1 || true
        _kestro_session_prefix=
    fi
    if [ -n "$_kestro_xvfb_pid" ]; then
        kill "$_kestro_xvfb_pid" >/dev/null 2>&1 || true
        wait "$_kestro_xvfb_pid" 2>/dev/null || true
        _kestro_xvfb_pid=
    fi
}
trap wine_session_stop EXIT

# Starts Xvfb on the first free display number, unless this session has one.
wine_session_display() {
    [ -n "$_kestro_xvfb_pid" ] && return 0
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        _kestro_xvfb_pid=$!
        local i
        for i in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; return 0; }
            kill -0 "$_kestro_xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        _kestro_xvfb_pid=
    done
    echo "wine-session: no display could be started" >&2
    return 1
}

# Windows open inside one virtual desktop that Wine draws itself, title bars
# included: with no window manager on the display, Wine would otherwise wait
# for one at every window that hides.
# KESTRO_DESKTOP_SIZE sets its size (1024x768 unless said).
wine_session_desktop() {
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "${KESTRO_DESKTOP_SIZE:-1024x768}" /f \
        >/dev/null 2>&1 || true
}

# Fonts of the prefix. Marlett, which draws the title-bar buttons, comes
# from Debian's fonts-wine into the prefix's Fonts folder, where this Wine
# looks for it. The text fonts are those fontconfig offers, with "MS Sans
# Serif" set to DejaVu Sans Condensed: Wine's bitmap "MS Sans Serif" has no
# Cyrillic under a Western code page, and the 64-bit Uniscribe of Wine 8
# crashes laying out mixed Latin and Cyrillic lines in Liberation Sans,
# which fontconfig would give otherwise. The same crash (a page fault in
# gdi32) comes with Wine's own Tahoma, the windows' face, in the 64-bit
# build: "Tahoma" is set to DejaVu Sans Condensed too, unless
# KESTRO_KEEP_TAHOMA=1 (the screenshots, of the 32-bit build).
wine_session_fonts() {
    local fonts=$WINEPREFIX/drive_c/windows/Fonts face faces=('MS Sans Serif' Tahoma)
    [ "${KESTRO_KEEP_TAHOMA:-}" = 1 ] && faces=('MS Sans Serif')
    mkdir -p "$fonts"
    cp -n /usr/share/wine/fonts/marlett.ttf "$fonts/" 2>/dev/null || true
    for face in "${faces[@]}"; do
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "$face" \
            /d 'DejaVu Sans Condensed' /f >/dev/null 2>&1 || true
    done
}

# The first programs run under a new server start Wine's services and its
# desktop, which live on and inherit their output: start them here, writing
# nowhere, or whoever reads a later program's output (CTest) waits for ever.
wine_session_warm() {
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    (wine explorer "/desktop=Default,${KESTRO_DESKTOP_SIZE:-1024x768}" </dev/null >/dev/null 2>&1 &)
    sleep 1
}

# Makes PREFIX a Wine prefix with a running, persistent wineserver. With
# --fresh, or when it does not exist yet, the prefix is made anew.
wine_session_start() {
    local prefix=$1 fresh=${2:-}
    wine_session_display || return 1
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    if [ -n "$_kestro_session_prefix" ] && [ "$_kestro_session_prefix" = "$prefix" ]; then
        return 0
    fi
    if [ "$fresh" = --fresh ] || [ ! -f "$prefix/system.reg" ]; then
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$prefix"
        echo "=== creating the Wine prefix $prefix"
        wine wineboot -i >/dev/null 2>&1 || { echo "wine-session: wineboot failed" >&2; return 1; }
        wine_session_desktop
        wine_session_fonts
    fi
    # One server for the whole run: each program then starts in milliseconds.
    # Its output goes nowhere, so nothing waits on the pipe it inherited.
    # A server still running from wineboot would refuse a second one.
    # -k only asks it to go: wait (-w) until it has, or the new one is
    # refused as the old one's double (seen on a loaded machine).
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    local tries
    for tries in 1 2 3; do
        wineserver -p >/dev/null 2>&1 </dev/null && break
        [ "$tries" = 3 ] && { echo "wine-session: wineserver did not start" >&2; return 1; }
        sleep 1
    done
    wine_session_warm
    _kestro_session_prefix=$prefix
}
