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

# The release: both plug-in files and the files configured with the project version
# (packaging/) at the archive's root, in a fixed order, with fixed dates and modes and no
# extra attributes, so that the same build gives the same archive.
source "$root/win64/packaging/release.env"
release="$root/release"
rm -rf "$release"
mkdir -p "$release/archive"
cp "$root/win32/src/Velnote.wlx" "$root/win64/src/Velnote.wlx64" \
   "$root/win64/packaging/pluginst.inf" "$root/win64/packaging/readme.txt" "$release/archive/"
chmod 644 "$release/archive/"*
stamp="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}"
TZ=UTC touch -d "@$stamp" "$release/archive/"*
(cd "$release/archive" && TZ=UTC zip -X -D -q "../$VELNOTE_ARCHIVE" Velnote.wlx Velnote.wlx64 pluginst.inf readme.txt)
cp "$release/archive/Velnote.wlx" "$release/archive/Velnote.wlx64" "$release/"
(cd "$release" && sha256sum "$VELNOTE_ARCHIVE" Velnote.wlx Velnote.wlx64 >SHA256SUMS)
mkdir -p dist
rm -f dist/Velnote-*.zip
cp "$release/$VELNOTE_ARCHIVE" "$release/SHA256SUMS" "$release/Velnote.wlx" "$release/Velnote.wlx64" dist/
ls -l dist
