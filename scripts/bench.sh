#!/usr/bin/env bash
# Installs what is missing, builds both plug-in files and the benchmark of each bitness, and
# runs the 64-bit benchmark on Velnote.wlx64 and then the 32-bit one on Velnote.wlx under
# Wine, each with the stand-in editor of its bitness. Arguments go to both programs
# (--rounds N: viewers opened and closed, default 15; --calls N: hook calls a batch).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/test-bed.sh >/dev/null
for bits in "${test_sets[@]}"; do
    cmake --build "$build/$bits" -j "$(nproc)" --target velnote_bench >/dev/null
done
[ -z "$no_win32" ] || echo "Velnote.wlx not measured: $no_win32."

source scripts/wine-session.sh
start_wine_session "$PWD/$build/wineprefix"
for bits in "${test_sets[@]}"; do
    echo "== $bits"
    wine "$build/$bits/tests/benchmark/velnote_bench.exe" "$@"
done
