#!/bin/sh
# Sets up, builds and runs the whole test suite twice: once as it ships and
# once under AddressSanitizer and UndefinedBehaviorSanitizer, in a separate
# build folder; then on the boxes' CPUs under qemu-user: the big-endian
# s390x build with every test (the end-to-end replays at 32 bits per pixel
# only; scripts/cross.sh s390x runs the 8-bit ones too), and the armhf unit
# tests; last, this machine's Debian package is built, checked with lintian,
# installed, removed and purged.
#
# Every stage runs, whatever the ones before it gave, so that one failure
# does not hide the others. Each stage's output goes to the terminal and to
# build/test-logs/STAGE.log. The run ends with a table (stage, result, tests
# passed of those run, minutes) and one line "Tests: P passed, F failed";
# its exit status is 1 when any stage failed (a test, a sanitizer report, a
# build or setup error), else 0.
cd "$(dirname "$0")/.." || exit 1
JOBS=$(nproc 2>/dev/null || echo 2)
LOGS=build/test-logs
mkdir -p "$LOGS"
START=$(date +%s)
TABLE=""
FAILED_STAGES=0
ALL_PASSED=0
ALL_FAILED=0

run_suite() {
    dir=$1; shift
    cmake -S . -B "$dir" -DTEKO_WERROR=ON "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j "$JOBS" || return 1
    (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 600)
}

normal_suite() { run_suite build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo; }
sanitizer_suite() { run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DTEKO_SANITIZE=ON; }

# stage NAME LOG COMMAND...: runs the command, its output teed to the log,
# and adds a line to the table.
stage() {
    name=$1 log=$LOGS/$2.log; shift 2
    echo "== $name"
    began=$(date +%s)
    { "$@"; echo $? > "$log.status"; } 2>&1 | tee "$log"
    status=$(cat "$log.status" 2>/dev/null || echo 1)
    took=$(( $(date +%s) - began ))
    # ctest's summary lines: "100% tests passed, 0 tests failed out of 215".
    counts=$(awk '/tests passed, [0-9]+ tests failed out of/ { failed += $4; total += $NF }
                  END { if (total) printf "%d %d", total - failed, failed; else print "- -" }' "$log")
    passed=${counts% *} failed=${counts#* }
    if [ "$passed" != "-" ]; then
        ALL_PASSED=$((ALL_PASSED + passed)) ALL_FAILED=$((ALL_FAILED + failed))
        tests="$passed/$((passed + failed))"
    else
        tests="-"
    fi
    result=passed
    if [ "$status" -ne 0 ]; then result=FAILED; FAILED_STAGES=$((FAILED_STAGES + 1)); fi
    echo "-- $name: $result, $took s"
    TABLE="$TABLE$(printf '%-34s %-7s %-11s %6s' "$name" "$result" "$tests" \
        "$(awk -v s="$took" 'BEGIN { printf "%.1f", s / 60 }')")
"
}

stage "setup (Debian packages)" setup sh scripts/deps.sh
stage "normal build and tests" normal normal_suite
stage "sanitizer build and tests" sanitizer sanitizer_suite
stage "s390x build and tests (qemu)" s390x sh scripts/cross.sh s390x ci
stage "armhf build and unit tests (qemu)" armhf sh scripts/cross.sh armhf unit
stage "Debian package: build, install" package sh scripts/package_test.sh

echo
printf '%-34s %-7s %-11s %6s\n' "Stage" "Result" "Tests" "Minutes"
printf '%s' "$TABLE"
echo "Total: $(awk -v s="$(( $(date +%s) - START ))" 'BEGIN { printf "%.1f", s / 60 }') minutes, $FAILED_STAGES stage(s) failed; logs in $LOGS/"
echo "Tests: $ALL_PASSED passed, $ALL_FAILED failed"
[ "$FAILED_STAGES" -eq 0 ]
