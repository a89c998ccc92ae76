# Sourced by the scripts that build and run the test bed: installs what is missing, builds
# both plug-in files, and configures the test bed in $build.
# VELNOTE_BUILD_ROOT names another build folder, so that several test beds can live side by side.
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
root="${VELNOTE_BUILD_ROOT:-build}"
build="$root/tests"
scripts/build.sh
cmake --preset tests -B "$build" -DVELNOTE_WLX32="$PWD/$root/win32/src/Velnote.wlx" >/dev/null
