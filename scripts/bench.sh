#!/usr/bin/env bash
# Installs what is missing, builds both plug-in files and the benchmark of each bitness, and
# runs the 64-bit benchmark on Velnote.wlx64 and then the 32-bit one on Velnote.wlx under
# Wine, each with the stand-in editor of its bitness. Arguments go to both programs
# (--rounds N: viewers opened and closed, default 15; --calls N: hook calls a batch).
# The 32-bit build is measured only where the processor runs it: emulated times say how
# fast the emulator is, not the plug-in.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/test-bed.sh >/dev/null
if [ -n "$win32_emulated" ] && [ -z "$no_win32" ]; then
    no_win32="this machine runs 32-bit code only under emulation ($wine32_version), whose times are not comparable"
    test_sets=(win64)
fi
for bits in "${test_sets[@]}"; do
    cmake --build "$build/$bits" -j "$(nproc)" --target velnote_bench >/dev/null
done
[ -z "$no_win32" ] || echo "Velnote.wlx not measured: $no_win32."

source scripts/wine-session.sh
start_wine_session "$PWD/$build/wineprefix" 2>/dev/null
echo "Measured on $wine_display."
echo "== win64"
setarch -R wine "$build/win64/tests/benchmark/velnote_bench.exe" "$@"
if [ -z "$no_win32" ]; then
    echo "== win32"
    LD_LIBRARY_PATH="$wine32_library_path" setarch -R "$wine32_loader" "$build/win32/tests/benchmark/velnote_bench.exe" "$@"
fi
