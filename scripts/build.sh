#!/usr/bin/env bash
# The main job: installs what is missing and builds both plug-in files into dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"

for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
done
mkdir -p dist
cp build/win32/src/Velnote.wlx build/win64/src/Velnote.wlx64 dist/
ls -l dist
