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

# One Wine prefix inside the build folder and one wineserver for the whole run.
source scripts/wine-session.sh
start_wine_session "$PWD/$build/wineprefix"
ctest --test-dir "$build" --output-on-failure --no-tests=error "$@"
