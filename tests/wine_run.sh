#!/bin/sh
# CTest's emulator for the test programs: runs one under Wine, and says how it ended when it
# ended with an error. GoogleTest tells apart a program that never got to run its test (Wine
# did not start it: WINEDEBUG=-all mutes Wine's own fatal errors, and it ends within
# milliseconds without a word) from one whose test failed or crashed: it creates
# TEST_PREMATURE_EXIT_FILE when it starts running tests, removes it at the end, and writes
# its report after the run.
#
# Wine's loader lies at a fixed address, and the kernel places the loader's heap at random
# within 1 GiB above it; about one start in two thousand, that heap covers the address Wine
# needs for the page it shares with every process (0x7ffe0000) and the process ends at once
# ("failed to map the shared user data"). setarch -R keeps the heap right after the loader,
# for the program and everything it starts.
state=$(mktemp -d)
export TEST_PREMATURE_EXIT_FILE="Z:$state/running" GTEST_OUTPUT="xml:Z:$state/report.xml"
start=$(date +%s%N)
setarch -R "$@"
rc=$?
if [ "$rc" -ne 0 ]; then
    program=""
    for argument in "$@"; do
        case "$argument" in *.exe) program=$(basename "$argument") ;; esac
    done
    if [ -e "$state/running" ]; then how="while its test ran: it did not finish"
    elif [ -e "$state/report.xml" ]; then how="after its test ran"
    else how="before GoogleTest started: Wine did not start it"; fi
    echo "wine_run.sh: $program ended with exit code $rc after $((($(date +%s%N) - start) / 1000000)) ms, $how." >&2
fi
rm -rf "$state"
exit "$rc"
