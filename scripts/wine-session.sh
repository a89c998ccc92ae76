# Sourced by the scripts that run programs under Wine.
# start_wine_session PREFIX: one Wine prefix (made once, with the null display driver, so
# that no X server is needed) and one persistent, warmed-up wineserver until the calling
# script exits: without the warm-up CTest hangs, and without a persistent server every
# program started costs seconds.
start_wine_session() {
    export WINEPREFIX="$1" WINEDEBUG=-all
    unset DISPLAY
    # A prefix made before Wine's 32-bit side was installed has no 32-bit side of its own
    # (every 32-bit program then fails to load kernel32.dll): the prefix remembers which
    # Wine made it and is made again when that changes.
    local made_by
    made_by="wine $(dpkg-query -W -f='${Version}' wine64 2>/dev/null), wine32 $(dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null || true)"
    if [ "$(cat "$WINEPREFIX/.velnote-ready" 2>/dev/null)" != "$made_by" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -w
        echo "$made_by" >"$WINEPREFIX/.velnote-ready"
    fi
    wineserver -p
    trap 'wineserver -k || true' EXIT
    wine cmd /c exit </dev/null >/dev/null 2>&1
}
