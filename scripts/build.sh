#!/usr/bin/env bash
# The main job: installs what is missing and builds both plug-in files into dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"

# VELNOTE_BUILD_ROOT names another build folder, so that several builds can live side by side.
root="${VELNOTE_BUILD_ROOT:-build}"
for preset in win32 win64; do
    cmake --preset "$preset" -B "$root/$preset" >/dev/null
    cmake --build "$root/$preset" -j "$(nproc)"
done
mkdir -p dist
cp "$root/win32/src/Velnote.wlx" "$root/win64/src/Velnote.wlx64" dist/
ls -l dist
