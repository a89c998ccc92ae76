#!/usr/bin/env bash
# Installs what is missing, builds both plug-in files and the test bed, and runs every
# test under 64-bit Wine. Arguments go to CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/test-bed.sh
cmake --build "$build" -j "$(nproc)"

# One Wine prefix inside the build folder and one wineserver for the whole run.
source scripts/wine-session.sh
start_wine_session "$PWD/$build/wineprefix"
ctest --test-dir "$build" --output-on-failure --no-tests=error "$@"
