# Sourced by the scripts that build and run the test beds: installs what is missing, builds
# both plug-in files, and configures the 64-bit and the 32-bit test bed in $build/win64 and
# $build/win32, which share one Wine prefix, $build/wineprefix. $test_sets names the test
# beds this machine can run; $no_win32 says why the 32-bit one cannot, when it cannot.
# VELNOTE_BUILD_ROOT names another build folder, so that several test beds can live side by side.
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
test_sets=(win64)
no_win32=""
if machine_runs_i386; then
    ensure_wine32
    test_sets+=(win32)
else
    no_win32="this machine does not execute 32-bit x86 programs, so the 32-bit tests were not run"
    echo "Skipped: $no_win32." >&2
fi
root="${VELNOTE_BUILD_ROOT:-build}"
build="$root/tests"
scripts/build.sh
for bits in win64 win32; do
    cmake --preset "tests-$bits" -B "$build/$bits" -DVELNOTE_WINEPREFIX="$PWD/$build/wineprefix" \
        -DVELNOTE_RELEASE_ROOT="$PWD/$root" >/dev/null
done

# One CTest run over both test beds; names and labels begin with the bitness. Where the
# 32-bit set cannot run, one skipped test stands in for it, named for the reason, which CTest
# lists among the tests that did not run.
{
    echo "# Written by scripts/test-bed.sh: both test beds in one CTest run."
    echo 'subdirs("win64")'
    if [ -n "$no_win32" ]; then
        skipped=win32.SkippedAsThisMachineDoesNotExecute32BitX86Programs
        echo "add_test($skipped /bin/sh -c \"echo 'Skipped: $no_win32.'; exit 77\")"
        echo "set_tests_properties($skipped PROPERTIES SKIP_RETURN_CODE 77 LABELS win32)"
    else
        echo 'subdirs("win32")'
    fi
} >"$build/CTestTestfile.cmake"
