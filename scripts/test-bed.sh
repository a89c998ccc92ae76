# Sourced by the scripts that build and run the test beds: installs what is missing, builds
# both plug-in files, and configures the 64-bit and the 32-bit test bed in $build/win64 and
# $build/win32, which share one Wine prefix, $build/wineprefix. $test_sets names the test
# beds this machine can run; $no_win32 says why the 32-bit one cannot, when it cannot.
# VELNOTE_BUILD_ROOT names another build folder, so that several test beds can live side by side.
source scripts/packages.sh
source scripts/wine32.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
root="${VELNOTE_BUILD_ROOT:-build}"
build="$root/tests"
test_sets=(win64)
no_win32=""
if set_up_wine32 "$root/wine32"; then
    test_sets+=(win32)
    echo "The 32-bit tests run on $wine32_version." >&2
else
    no_win32="The 32-bit side of Wine could not be set up here: $wine32_failure, so the 32-bit tests were not run"
    echo "Skipped: $no_win32." >&2
fi
scripts/build.sh
cmake --preset tests-win64 -B "$build/win64" -DVELNOTE_WINEPREFIX="$PWD/$build/wineprefix" \
    -DVELNOTE_RELEASE_ROOT="$PWD/$root" >/dev/null
cmake --preset tests-win32 -B "$build/win32" -DVELNOTE_WINEPREFIX="$PWD/$build/wineprefix" \
    -DVELNOTE_RELEASE_ROOT="$PWD/$root" -DVELNOTE_WINE="${wine32_loader:-/usr/bin/wine}" \
    -DVELNOTE_WINE_LIBRARY_PATH="${wine32_library_path:-}" -DVELNOTE_EMULATED="${win32_emulated:+ON}" >/dev/null

# One CTest run over both test beds; names and labels begin with the bitness. Where the
# 32-bit set cannot run, one skipped test stands in for it, named for the step that failed,
# which CTest lists among the tests that did not run. Where it runs under emulation, one
# test that passes only when i386 code runs through the emulator says so, and every 32-bit
# test carries the label "emulated" as well.
{
    echo "# Written by scripts/test-bed.sh: both test beds in one CTest run."
    echo 'subdirs("win64")'
    if [ -n "$no_win32" ]; then
        skipped="win32.SkippedAs${wine32_failed_step}Failed"
        echo "add_test($skipped /bin/sh -c \"echo 'Skipped: $no_win32.'; exit 77\")"
        echo "set_tests_properties($skipped PROPERTIES SKIP_RETURN_CODE 77 LABELS win32)"
    else
        echo 'subdirs("win32")'
    fi
    if [ -n "$win32_emulated" ] && [ -z "$no_win32" ]; then
        marker=win32.RunUnderEmulationAsThisMachineDoesNotExecute32BitX86Programs
        echo "add_test($marker /bin/sh -c \"grep -qx 'interpreter $kQemuI386' /proc/sys/fs/binfmt_misc/qemu-i386 && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 && echo 'The 32-bit tests ran on $wine32_version.'\")"
        echo "set_tests_properties($marker PROPERTIES LABELS \"win32;emulated\")"
    fi
} >"$build/CTestTestfile.cmake"
