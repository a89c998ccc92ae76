#!/usr/bin/env bash
# Installs what is missing, builds both plug-in files and both test beds, and runs every
# test under Wine: the 64-bit plug-in from 64-bit test programs, the 32-bit plug-in from
# 32-bit ones (where the machine executes 32-bit code). Arguments go to CTest
# (-L win32 runs one set, -R Launch some tests).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/test-bed.sh
for bits in win64 win32; do
    cmake --build "$build/$bits" -j "$(nproc)"
done

# One Wine prefix inside the build folder and one wineserver for the whole run.
source scripts/wine-session.sh
start_wine_session "$PWD/$build/wineprefix"
ctest --test-dir "$build" --output-on-failure --no-tests=error "$@"
