#!/bin/sh
# Long runs of the whole daemon on the emulated box; not part of
# scripts/test.sh. Run them niced on a shared machine (nice -n 19).
#
#   scripts/soak.sh [build folder]
#     1. 5,000 service changes (TEKO_SOAK_CHANGES) with decoding running;
#     2. a day of stream time (TEKO_SOAK_HOURS, default 24) of the looped
#        demo stream, zapping between its DVB and Teletext services every
#        30 s of stream time, in simulated time (as fast as the machine goes);
#     3. the same on the French HD capture of the shared samples, wrapped as
#        the end-to-end tests wrap it (skipped when it is not there).
#   scripts/soak.sh --asan [build folder]
#     runs 2 and 3 built with AddressSanitizer and UndefinedBehaviorSanitizer
#     for ten minutes of wall time each (TEKO_SOAK_WALL_SECONDS), as many
#     hours of stream as that gives.
#
# Each run prints open descriptors, threads and resident memory as it goes
# and fails when descriptors or threads grew or memory grew by 2 % or more
# (under ASan memory is only printed: its quarantine of freed blocks fills
# for hours; leaks are LeakSanitizer's to report at the end of each run).
set -e
cd "$(dirname "$0")/.."
asan=
if [ "$1" = "--asan" ]; then asan=1; shift; fi
if [ -n "$asan" ]; then
    dir=${1:-build/soak-asan}
    flags="-DTEKO_SANITIZE=ON"
    export TEKO_SOAK_WALL_SECONDS=${TEKO_SOAK_WALL_SECONDS:-600}
    export TEKO_SOAK_HOURS=${TEKO_SOAK_HOURS:-1000}
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    dir=${1:-build/soak}
    flags=
fi
mkdir -p "$dir"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTEKO_WERROR=ON $flags > "$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j2 --target test_app
run() {
    "$dir/tests/test_app" --gtest_also_run_disabled_tests --gtest_filter="$1"
}
status=0
[ -n "$asan" ] || run 'Soak.DISABLED_ServiceChangesWithDecodingLeakNothing' || status=1
TEKO_SOAK_STREAM=demo run 'Soak.DISABLED_DayOfStreamTimeWithAZapEvery30Seconds' || status=1
TEKO_SOAK_STREAM=frhd run 'Soak.DISABLED_DayOfStreamTimeWithAZapEvery30Seconds' || status=1
exit $status
