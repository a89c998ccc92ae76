# Sourced by the scripts that run programs under Wine.
# start_wine_session PREFIX: one X display, one Wine prefix (made once, with Wine's virtual
# desktop) and one persistent, warmed-up wineserver until the calling script exits: without
# the warm-up CTest hangs, and without a persistent server every program started costs
# seconds. Wine runs under setarch -R throughout: with the loader's heap at a random place,
# about one start in two thousand fails (tests/wine_run.sh says why).
#
# The programs run where users run them, on a windowing system: Wine's X11 driver on an X
# server (Xvfb, started here, or the server VELNOTE_DISPLAY names, to watch a run), inside
# one Wine virtual desktop. The desktop makes Wine manage activation and focus itself, as a
# Windows session does, and needs no window manager (without one, every hide of a top-level
# window costs 2 s on a bare X server). Focus and activation then arrive through X events, and
# window work costs what a desktop costs: Wine's null driver hides both.
kWineDesktop=Default
kWineDesktopSize=1280x1024

# Sets DISPLAY, and wine_display to a line that says which display it is.
start_display() {
    if [ -n "${VELNOTE_DISPLAY:-}" ]; then
        export DISPLAY="$VELNOTE_DISPLAY"
        wine_display="X display $DISPLAY (VELNOTE_DISPLAY), Wine's X11 driver, virtual desktop $kWineDesktopSize"
        return 0
    fi
    # Xvfb takes the first free display number and writes it to the descriptor once it
    # accepts clients.
    local number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${kWineDesktopSize}x24" -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$number_file" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$number_file" ]; then
        echo "Xvfb did not start." >&2
        rm -f "$number_file"
        return 1
    fi
    export DISPLAY=":$(head -n 1 "$number_file")"
    rm -f "$number_file"
    wine_display="X display $DISPLAY (Xvfb, ${kWineDesktopSize}x24), Wine's X11 driver, virtual desktop $kWineDesktopSize"
}

stop_display() {
    [ -z "${xvfb_pid:-}" ] || kill "$xvfb_pid" 2>/dev/null || true
}

start_wine_session() {
    export WINEPREFIX="$1" WINEDEBUG=-all
    start_display || return 1
    trap 'wineserver -k 2>/dev/null || true; stop_display' EXIT
    # A prefix made before Wine's 32-bit side was there has no 32-bit side of its own (every
    # 32-bit program then fails to load kernel32.dll): the prefix remembers which Wine and
    # which display set-up made it and is made again when either changes. Where the 32-bit
    # side is the test bed's own (scripts/wine32.sh), the wine64 beside its loader makes the
    # prefix, so that wineboot starts the 32-bit half of the set-up with that loader.
    local made_by
    made_by="wine $(dpkg-query -W -f='${Version}' wine64 2>/dev/null), ${wine32_version:-no 32-bit side}, virtual desktop $kWineDesktopSize"
    if [ "$(cat "$WINEPREFIX/.velnote-ready" 2>/dev/null)" != "$made_by" ]; then
        rm -rf "$WINEPREFIX"
        if [ -n "${wine32_wine64:-}" ]; then
            LD_LIBRARY_PATH="$wine32_library_path" setarch -R "$wine32_wine64" wineboot -i >/dev/null 2>&1
        else
            setarch -R wineboot -i >/dev/null 2>&1
        fi
        setarch -R wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d "$kWineDesktop" /f >/dev/null 2>&1
        setarch -R wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$kWineDesktop" /d "$kWineDesktopSize" /f \
            >/dev/null 2>&1
        wineserver -w
        echo "$made_by" >"$WINEPREFIX/.velnote-ready"
    fi
    wineserver -p
    setarch -R wine cmd /c exit </dev/null >/dev/null 2>&1
    echo "Wine runs on $wine_display." >&2
}
