#!/usr/bin/env bash
# Installs what is missing, builds both plug-in files and the benchmark, and runs the
# benchmark once under 64-bit Wine with the stand-in editor. Arguments go to the program
# (--rounds N: viewers opened and closed, default 15; --calls N: hook calls a batch).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/test-bed.sh >/dev/null
cmake --build "$build" -j "$(nproc)" --target velnote_bench >/dev/null

source scripts/wine-session.sh
start_wine_session "$PWD/$build/wineprefix"
wine "$build/tests/benchmark/velnote_bench.exe" "$@"
