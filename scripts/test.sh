#!/usr/bin/env bash
# Installs what is missing, builds both plug-in files and the test bed, and runs every
# test under 64-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

# VELNOTE_BUILD_ROOT names another build folder, so that several test beds can live side by side.
root="${VELNOTE_BUILD_ROOT:-build}"
build="$root/tests"
scripts/build.sh
cmake --preset tests -B "$build" -DVELNOTE_WLX32="$PWD/$root/win32/src/Velnote.wlx" >/dev/null
cmake --build "$build" -j "$(nproc)"

# One Wine prefix inside the build folder, with the null display driver (no X server),
# and one persistent, warmed-up wineserver for the whole run: without the warm-up CTest
# hangs, and without a persistent server every test process costs seconds.
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all
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
ctest --test-dir "$build" --output-on-failure --no-tests=error "$@"
