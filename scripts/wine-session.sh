# Sourced by the scripts that run programs under Wine.
# start_wine_session PREFIX: one Wine prefix (made once, with the null display driver, so
# that no X server is needed) and one persistent, warmed-up wineserver until the calling
# script exits: without the warm-up CTest hangs, and without a persistent server every
# program started costs seconds.
start_wine_session() {
    export WINEPREFIX="$1" WINEDEBUG=-all
    unset DISPLAY
    if [ ! -f "$WINEPREFIX/.velnote-ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.velnote-ready"
    fi
    wineserver -p
    trap 'wineserver -k || true' EXIT
    wine cmd /c exit </dev/null >/dev/null 2>&1
}
