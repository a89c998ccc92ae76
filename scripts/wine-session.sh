# Sourced by the scripts that run programs under Wine.
# start_wine_session PREFIX: one Wine prefix (made once, with the null display driver, so
# that no X server is needed) and one persistent, warmed-up wineserver until the calling
# script exits: without the warm-up CTest hangs, and without a persistent server every
# program started costs seconds. Wine runs under setarch -R throughout: with the loader's heap
# at a random place, about one start in two thousand fails (tests/wine_run.sh says why).
start_wine_session() {
    export WINEPREFIX="$1" WINEDEBUG=-all
    unset DISPLAY
    # A prefix made before Wine's 32-bit side was there has no 32-bit side of its own (every
    # 32-bit program then fails to load kernel32.dll): the prefix remembers which Wine made
    # it and is made again when that changes. Where the 32-bit side is the test bed's own
    # (scripts/wine32.sh), the wine64 beside its loader makes the prefix, so that wineboot
    # starts the 32-bit half of the set-up with that loader.
    local made_by
    made_by="wine $(dpkg-query -W -f='${Version}' wine64 2>/dev/null), ${wine32_version:-no 32-bit side}"
    if [ "$(cat "$WINEPREFIX/.velnote-ready" 2>/dev/null)" != "$made_by" ]; then
        rm -rf "$WINEPREFIX"
        if [ -n "${wine32_wine64:-}" ]; then
            LD_LIBRARY_PATH="$wine32_library_path" setarch -R "$wine32_wine64" wineboot -i >/dev/null 2>&1
        else
            setarch -R wineboot -i >/dev/null 2>&1
        fi
        setarch -R wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -w
        echo "$made_by" >"$WINEPREFIX/.velnote-ready"
    fi
    wineserver -p
    trap 'wineserver -k || true' EXIT
    setarch -R wine cmd /c exit </dev/null >/dev/null 2>&1
}
