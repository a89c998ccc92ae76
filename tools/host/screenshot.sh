#!/usr/bin/env bash
# Opens a sample file with the test host, the built 64-bit plug-in and the stand-in editor
# under Wine, and saves what the lister window shows as a PNG file.
#   tools/host/screenshot.sh [--quick-view] [--hung] [out.png]
# --hung: the picture is taken while the stand-in editor does not answer.
# It runs on the test bed's display (an X server, Xvfb, with a Wine virtual desktop), in a
# Wine prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

switches=()
while [ "${1:-}" = "--quick-view" ] || [ "${1:-}" = "--hung" ]; do
    switches+=("$1")
    shift
done
root="${VELNOTE_BUILD_ROOT:-build}"
work="$PWD/$root/screenshot"
png="$(realpath -m "${1:-$work/velnote-host.png}")"

# The host and the stand-in editor are built with the test bed.
cmake --preset tests-win64 -B "$root/tests/win64" -DVELNOTE_WINEPREFIX="$PWD/$root/tests/wineprefix" \
    -DVELNOTE_RELEASE_ROOT="$PWD/$root" >/dev/null
cmake --build "$root/tests/win64" --target velnote velnote-host velnote_standin -j "$(nproc)" >/dev/null

# A plug-in folder as the file manager's installer leaves it, with the stand-in at the
# 64-bit build's default editor place.
rm -rf "$work/plugins"
mkdir -p "$work/plugins/Velnote64" "$(dirname "$png")"
cp "$root/tests/win64/src/Velnote.wlx64" "$work/plugins/"
cp "$root/tests/win64/tests/editor/Velnote.exe" "$work/plugins/Velnote64/"
printf '// A sample file for the lister\r\nint main() {\r\n    return 0;\r\n}\r\n' >"$work/sample.cpp"

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The test bed's display and desktop, in a Wine prefix of its own.
source scripts/wine-session.sh
start_wine_session "$work/wineprefix"
setarch -R wine "$root/tests/win64/tools/host/velnote-host.exe" "${switches[@]}" --screenshot "$(windows_path "$png")" \
    "$(windows_path "$work/plugins/Velnote.wlx64")" "$(windows_path "$work/sample.cpp")"
